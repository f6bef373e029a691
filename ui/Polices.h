#pragma once

namespace korvane {

// The forms ask for "MS Sans Serif", which Linux does not have. This maps it, once per
// process, to a clean installed sans-serif (Liberation Sans, else DejaVu Sans). Call it
// before the first form is built; calling it again does nothing.
void installerPolices();

} // namespace korvane
