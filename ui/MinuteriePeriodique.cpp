#include "ui/MinuteriePeriodique.h"

#include <algorithm>

namespace korvane {

MinuteriePeriodique::MinuteriePeriodique(QObject* parent) : QObject(parent)
{
    m_reveil.setSingleShot(true);
    m_reveil.setTimerType(Qt::PreciseTimer);
    connect(&m_reveil, &QTimer::timeout, this, &MinuteriePeriodique::echeance);
}

void MinuteriePeriodique::setInterval(int ms)
{
    m_intervalle = std::max(0, ms);
    if (m_actif)
        start();
}

void MinuteriePeriodique::start()
{
    m_actif = true;
    m_prochaine = Horloge::now() + std::chrono::milliseconds(m_intervalle);
    armer();
}

void MinuteriePeriodique::stop()
{
    m_actif = false;
    m_reveil.stop();
}

void MinuteriePeriodique::armer()
{
    const auto reste = std::chrono::ceil<std::chrono::milliseconds>(m_prochaine - Horloge::now());
    m_reveil.start(static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, reste.count())));
}

void MinuteriePeriodique::echeance()
{
    if (!m_actif)
        return;
    // The next tick is armed before this one runs, on the schedule rather than from now. A
    // tick that stops or restarts the timer replaces it.
    m_prochaine += std::chrono::milliseconds(m_intervalle);
    armer();
    emit timeout();
}

} // namespace korvane
