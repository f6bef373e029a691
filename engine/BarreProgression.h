#pragma once

#include <algorithm>

namespace korvane {

// The progress bar's model. The engine keeps part of its state here (failed handshake
// ticks, the number of records) and reads it back, so the position always stays within
// [minimum, maximum], as a progress bar keeps it.
class BarreProgression {
public:
    int position() const { return m_position; }
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    bool lisse() const { return m_lisse; }

    void definirPosition(int p) { m_position = std::clamp(p, m_minimum, m_maximum); }
    void definirMinimum(int m)
    {
        m_minimum = m;
        m_maximum = std::max(m_maximum, m);
        definirPosition(m_position);
    }
    void definirMaximum(int m)
    {
        m_maximum = m;
        m_minimum = std::min(m_minimum, m);
        definirPosition(m_position);
    }
    void definirLisse(bool l) { m_lisse = l; }

    bool operator==(const BarreProgression&) const = default;

private:
    int m_position = 0;
    int m_minimum = 0;
    int m_maximum = 100;
    bool m_lisse = false;
};

} // namespace korvane
