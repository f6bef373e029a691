// The window's periodic timer: ticks due on a fixed schedule, late ones made up at once, and
// stop and start obeyed from inside a tick.

#include "ui/MinuteriePeriodique.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>
#include <functional>
#include <vector>

using namespace korvane;

namespace {

// When a tick started and ended, in ms from start().
struct Tick {
    qint64 debut;
    qint64 fin;
};

// Runs the timer at `intervalle` ms until `ticks` ticks have started or `limite` ms have
// passed, calling `pendant(k)` inside tick k (from 1).

std::vector<Tick> executer(int intervalle, std::size_t ticks, int limite,
                           const std::function<void(MinuteriePeriodique&, std::size_t)>& pendant)
{
    MinuteriePeriodique m;
    QElapsedTimer horloge;
    std::vector<Tick> vus;
    QObject::connect(&m, &MinuteriePeriodique::timeout, [&] {
        vus.push_back({horloge.elapsed(), 0});
        pendant(m, vus.size());
        vus.back().fin = horloge.elapsed();
    });
    m.setInterval(intervalle);
    horloge.start();
    m.start();
    while (vus.size() < ticks && horloge.elapsed() < limite)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    m.stop();
    return vus;
}

} // namespace

class TstMinuterie : public QObject {
    Q_OBJECT

private slots:
    // Tick 1 (due at 100 ms) blocks for 530 ms, as a record of slow serial exchanges would:
    // ticks 2 to 6, due at 200 to 600 ms, are late and follow it at once; tick 7 is due at
    // 700 ms again. A timer that counted its period from the late tick would space them 100 ms
    // apart and bring tick 7 at about 1130 ms.
    void lateTicksAreMadeUpAtOnceAndTheScheduleHolds()
    {
        const auto vus = executer(100, 8, 3000, [](MinuteriePeriodique&, std::size_t k) {
            if (k == 1)
                QThread::msleep(530);
        });
        QCOMPARE(vus.size(), std::size_t{8});
        for (std::size_t k = 1; k <= vus.size(); ++k)
            QVERIFY2(
                vus[k - 1].debut >= qint64(k) * 100 - 1,
                qPrintable(
                    QStringLiteral("tick %1 came early, at %2 ms").arg(k).arg(vus[k - 1].debut)));
        for (std::size_t k = 2; k <= 6; ++k) {
            const qint64 attente = vus[k - 1].debut - vus[k - 2].fin;
            QVERIFY2(attente < 60,
                     qPrintable(QStringLiteral("tick %1 waited %2 ms after the one before")
                                    .arg(k)
                                    .arg(attente)));
        }
        QVERIFY2(vus[6].debut < 700 + 200,
                 qPrintable(QStringLiteral("tick 7 at %1 ms, due at 700").arg(vus[6].debut)));
    }

    // Stopped inside a tick while five more are owed: none of them comes.
    void stopInsideATickDropsTheOwedTicks()
    {
        const auto vus = executer(50, 2, 600, [](MinuteriePeriodique& m, std::size_t) {
            QThread::msleep(260);
            m.stop();
        });
        QCOMPARE(vus.size(), std::size_t{1});
    }

    // Started again inside a tick (a step's screen starting its own schedule): the owed ticks
    // are dropped and the next one is a whole interval after the start.
    void startInsideATickBeginsANewSchedule()
    {
        const auto vus = executer(100, 2, 2000, [](MinuteriePeriodique& m, std::size_t k) {
            if (k == 1) {
                QThread::msleep(350);
                m.setInterval(150);
                m.start();
            }
        });
        QCOMPARE(vus.size(), std::size_t{2});
        QVERIFY2(vus[1].debut - vus[0].fin >= 149,
                 qPrintable(QStringLiteral("tick 2 came %1 ms after the start")
                                .arg(vus[1].debut - vus[0].fin)));
    }
};

QTEST_GUILESS_MAIN(TstMinuterie)
#include "tst_minuterie.moc"
