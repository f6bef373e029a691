#pragma once

namespace korvane::sim {

// Keeps the calling thread, the threads it starts from now on and the programs it launches
// on the processor it is running on. The timing measurements run the tool and the simulated
// device this way: the device then wakes on the processor that just wrote to the line. On a
// virtual machine whose host is busy, waking a thread on another processor took 2.9 ms
// (against 40 to 80 us on the same one), twice a program word; the simulated line would
// charge that to every word, where a real device answers without any processor of the PC.
// Returns false, changing nothing, when the processor cannot be chosen.
bool garderUnProcesseur();

} // namespace korvane::sim
