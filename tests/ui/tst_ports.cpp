// The port probe at start-up and the choice of port, on real pseudo-terminals mapped to
// COM1..COM4 through KORVANE_COMn.

#include "PortEssai.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QRadioButton>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace korvane;

namespace {

// A pseudo-terminal whose slave side stands for a serial port.
class Pty {
public:
    Pty()
    {
        m_maitre = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_maitre < 0 || grantpt(m_maitre) != 0 || unlockpt(m_maitre) != 0)
            qFatal("no pseudo-terminal");
        m_chemin = ptsname(m_maitre);
    }
    ~Pty()
    {
        if (m_tenu >= 0)
            ::close(m_tenu);
        ::close(m_maitre);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const QByteArray& chemin() const { return m_chemin; }
    bool tenu() const { return m_tenu >= 0; }

    // Another program holds the port, as a terminal program would.
    void tenir()
    {
        m_tenu = ::open(m_chemin.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_tenu < 0 || ::ioctl(m_tenu, TIOCEXCL) != 0 || ::flock(m_tenu, LOCK_EX | LOCK_NB))
            qFatal("cannot hold %s", m_chemin.constData());
    }

private:
    int m_maitre = -1;
    int m_tenu = -1;
    QByteArray m_chemin;
};

enum Port { Absent, Libre, Tenu };

QRadioButton* radio(TFormMjKorvane& f, int n)
{
    return f.findChild<QRadioButton*>(QStringLiteral("RadioCOM%1").arg(n));
}

} // namespace

class TestPorts : public QObject {
    Q_OBJECT

private:
    std::vector<std::unique_ptr<Pty>> m_ptys;

    void brancher(const QList<int>& ports)
    {
        m_ptys.clear();
        for (int n = 1; n <= 4; ++n) {
            const QByteArray variable = "KORVANE_COM" + QByteArray::number(n);
            if (ports[n - 1] == Absent) {
                qputenv(variable, "/nonexistent/korvane-COM" + QByteArray::number(n));
                continue;
            }
            m_ptys.push_back(std::make_unique<Pty>());
            if (ports[n - 1] == Tenu)
                m_ptys.back()->tenir();
            qputenv(variable, m_ptys.back()->chemin());
        }
    }

private slots:
    void cleanup() { m_ptys.clear(); }

    void sonde_data()
    {
        QTest::addColumn<QList<int>>("ports");
        QTest::addColumn<QList<bool>>("actifs");
        QTest::addColumn<int>("coche"); // 0: none
        QTest::addColumn<int>("indexPort");

        QTest::newRow("no port") << QList<int>{Absent, Absent, Absent, Absent}
                                 << QList<bool>{false, false, false, false} << 0 << 0;
        QTest::newRow("only COM3") << QList<int>{Absent, Absent, Libre, Absent}
                                   << QList<bool>{false, false, true, false} << 3 << 2;
        QTest::newRow("COM1 held, COM2 free") << QList<int>{Tenu, Libre, Absent, Absent}
                                              << QList<bool>{true, true, false, false} << 2 << 1;
        QTest::newRow("every port held")
            << QList<int>{Tenu, Tenu, Tenu, Tenu} << QList<bool>{true, true, true, true} << 0 << 0;
        QTest::newRow("first free wins") << QList<int>{Absent, Libre, Tenu, Libre}
                                         << QList<bool>{false, true, true, true} << 2 << 1;
        QTest::newRow("COM1 free") << QList<int>{Libre, Libre, Libre, Libre}
                                   << QList<bool>{true, true, true, true} << 1 << 0;
    }

    void sonde()
    {
        QFETCH(QList<int>, ports);
        QFETCH(QList<bool>, actifs);
        QFETCH(int, coche);
        QFETCH(int, indexPort);

        brancher(ports);
        essai::PortEssai port;
        TFormMjKorvane f(nullptr, &port);
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(radio(f, n)->isEnabled(), actifs[n - 1]);
            QCOMPARE(radio(f, n)->isChecked(), n == coche);
        }
        QCOMPARE(f.etat().IndexPort, indexPort);
        QVERIFY(!port.ouvert);
        // The probe let go of what it opened: every free port can be locked at once.
        for (const auto& pty : m_ptys) {
            if (pty->tenu())
                continue;
            const int fd = ::open(pty->chemin().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            const bool libre = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            ::close(fd);
            QVERIFY(libre);
        }
    }

    // The chosen port stays open when its own radio is clicked again; choosing another one
    // closes it, so the next connection opens the new one.
    void choixDuPort()
    {
        brancher({Libre, Libre, Absent, Absent});
        essai::PortEssai port;
        TFormMjKorvane f(nullptr, &port);
        QCOMPARE(f.etat().IndexPort, 0);
        while (f.etat().NumeroEtape < 4)
            f.EtapeSuivante();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));

        f.chargeur().ChoisirPort(0);
        QCOMPARE(f.chargeur().Ouvrir(), 0);
        QVERIFY(port.ouvert);

        QTest::mouseClick(radio(f, 1), Qt::LeftButton);
        QVERIFY(radio(f, 1)->isChecked());
        QVERIFY(port.ouvert);
        f.RadioCOM1Click(); // same index: nothing
        QVERIFY(port.ouvert);

        QTest::mouseClick(radio(f, 2), Qt::LeftButton);
        QVERIFY(radio(f, 2)->isChecked());
        QVERIFY(!radio(f, 1)->isChecked());
        QCOMPARE(f.etat().IndexPort, 1);
        QVERIFY(!port.ouvert);

        // A disabled port cannot be chosen.
        QTest::mouseClick(radio(f, 3), Qt::LeftButton);
        QCOMPARE(f.etat().IndexPort, 1);
        QVERIFY(radio(f, 2)->isChecked());
    }
};

QTEST_MAIN(TestPorts)
#include "tst_ports.moc"
