#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>

namespace korvane {

// A periodic timer on the user-interface thread that keeps to its schedule: the ticks are due
// at start + k x interval, whatever each tick's own work takes. A tick that comes late because
// the one before it ran past its period is delivered as soon as the event loop is free, and
// the one after it is due at its own time again, so a stretch of slow ticks is made up by the
// quicker ones that follow instead of adding to the whole run. Ticks still go one at a time
// through the event loop, which draws and takes input between them.
//
// Like QTimer: setInterval() on a running timer starts it again from now, start() starts a
// new schedule from now, and a stopped timer delivers no further tick, also when stop() is
// called from inside a tick.
class MinuteriePeriodique : public QObject {
    Q_OBJECT

public:
    explicit MinuteriePeriodique(QObject* parent = nullptr);

    void setInterval(int ms);
    int interval() const { return m_intervalle; }
    void start();
    void stop();
    bool isActive() const { return m_actif; }

signals:
    void timeout();

private:
    using Horloge = std::chrono::steady_clock;

    void armer();
    void echeance();

    QTimer m_reveil; // single shot, rearmed for each tick
    Horloge::time_point m_prochaine{};
    int m_intervalle = 0;
    bool m_actif = false;
};

} // namespace korvane
