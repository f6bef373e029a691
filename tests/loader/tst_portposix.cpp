// The POSIX port on a real pseudo-terminal, alone and under the loader client. The test holds
// the master side and plays the device.

#include "loader/Classek27_v2.h"
#include "loader/PortNames.h"
#include "loader/PortPosix.h"
#include "tests/loader/PtyPeer.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace korvane;
using korvane::test::PtyPeer;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point t)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Points "\.\COM1" at a path for the life of the object.
class Com1 {
public:
    explicit Com1(const std::string& path) { ::setenv("KORVANE_COM1", path.c_str(), 1); }
    ~Com1() { ::unsetenv("KORVANE_COM1"); }
};

// What another program may leave on a line: 7 bits stripped, line editing, XON/XOFF, echo,
// output processing, modem control, hang-up on close, another speed.
termios poisoned(const PtyPeer& peer)
{
    termios t{};
    peer.slaveTermios(t);
    t.c_iflag = ISTRIP | IXON | IXOFF | ICRNL | IGNPAR;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cflag = CREAD | CS7 | PARODD | PARENB | HUPCL | CSTOPB;
    t.c_cc[VMIN] = 4;
    t.c_cc[VTIME] = 7;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    return t;
}

bool sameTermios(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// `port` open on the peer's line, raw at 9600 baud, with the given time limits.
void openRaw(PortPosix& port, const PtyPeer& peer, const Timeouts& limits)
{
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(port.open(peer.slave().c_str()));
    LineSettings s;
    s.baudRate = 9600;
    s.byteSize = 8;
    ASSERT_TRUE(port.setSettings(s));
    ASSERT_TRUE(port.setTimeouts(limits));
}

// The loader client with its own PortPosix, open on a pseudo-terminal as "\.\COM1"; the
// test holds the master side.
class PortPosixClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(peer.ok());
        ASSERT_EQ(client.Ouvrir(), 0);
    }

    PtyPeer peer;
    Com1 com1{peer.slave()};
    CK27V2 client;
};

} // namespace

TEST(PortNames, TheTenNamesHaveOneLeadingBackslash)
{
    EXPECT_STREQ(NomsPorts[0], "\\.\\COM1");
    EXPECT_STREQ(NomsPorts[3], "\\.\\COM4");
    EXPECT_STREQ(NomsPorts[9], "\\.\\COM10");
    EXPECT_EQ(std::strlen(NomsPorts[0]), 7u);
}

TEST(PortNames, CheminPortMapsOnlyTheComNames)
{
    ::unsetenv("KORVANE_COM1");
    ::unsetenv("KORVANE_COM10");
    ::setenv("KORVANE_COM3", "/dev/serial/by-id/korvane", 1);
    ::setenv("KORVANE_COM4", "", 1);
    const struct {
        const char* nom;
        const char* chemin;
    } cas[] = {
        {"\\.\\COM1", "/dev/ttyS0"},
        {"\\.\\COM10", "/dev/ttyS9"},
        {"\\.\\COM3", "/dev/serial/by-id/korvane"},
        {"\\.\\COM4", "/dev/ttyS3"}, // set but empty: the default
        {"\\.\\COM11", "\\.\\COM11"},
        {"\\.\\COM0", "\\.\\COM0"},
        {"\\.\\COM01", "\\.\\COM01"},
        {"\\.\\COM1x", "\\.\\COM1x"},
        {"\\\\.\\COM1", "\\\\.\\COM1"},
        {"COM1", "COM1"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"", ""},
    };
    for (const auto& c : cas) {
        EXPECT_EQ(cheminPort(c.nom), c.chemin) << c.nom;
    }
    ::unsetenv("KORVANE_COM3");
    ::unsetenv("KORVANE_COM4");
}

TEST(PortNames, ProbeTellsTheThreeOutcomesApart)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    EXPECT_EQ(sonderPort(peer.slave().c_str()), ProbePort::Ouvert);
    EXPECT_EQ(sonderPort(peer.slave().c_str()), ProbePort::Ouvert) << "the probe let it go";

    PortPosix holder;
    ASSERT_TRUE(holder.open(peer.slave().c_str()));
    EXPECT_EQ(sonderPort(peer.slave().c_str()), ProbePort::Indisponible);
    ASSERT_TRUE(holder.close());

    EXPECT_EQ(sonderPort("/nonexistent/ttyKorvane"), ProbePort::Inexistant);
    EXPECT_EQ(sonderPort("/dev/null/ttyS0"), ProbePort::Inexistant);
    Com1 com1(peer.slave());
    EXPECT_EQ(sonderPort("\\.\\COM1"), ProbePort::Ouvert) << "the probe maps names too";
}

TEST(PortPosix, OpenIsExclusiveAndRefusesWhatIsNotALine)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    PortPosix first;
    PortPosix second;
    ASSERT_TRUE(first.open(peer.slave().c_str())) << std::strerror(first.lastError());
    EXPECT_FALSE(second.open(peer.slave().c_str()));
    EXPECT_EQ(second.lastError(), EBUSY);
    ASSERT_TRUE(first.close());
    EXPECT_TRUE(second.open(peer.slave().c_str())) << "closing gives the line up";

    PortPosix other;
    EXPECT_FALSE(other.open("/nonexistent/ttyKorvane"));
    EXPECT_EQ(other.lastError(), ENOENT);
    char file[] = "/tmp/korvane-notatty-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(other.open(file));
    EXPECT_EQ(other.lastError(), ENOTTY);
    ::close(fd);
    ::unlink(file);
}

TEST(PortPosix, TheLineIsSetWhileOpenAndThePortsOwnComesBack)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    ASSERT_TRUE(peer.setSlaveTermios(poisoned(peer)));
    // The pty keeps all of it but the character size and the parity (always CS8, no PARENB).
    termios own{};
    ASSERT_TRUE(peer.slaveTermios(own));
    ASSERT_EQ(own.c_iflag & (ISTRIP | IXON), tcflag_t(ISTRIP | IXON));
    ASSERT_EQ(own.c_lflag & ICANON, tcflag_t(ICANON));
    ASSERT_EQ(own.c_cflag & (CLOCAL | HUPCL | PARODD), tcflag_t(HUPCL | PARODD));

    Com1 com1(peer.slave());
    CK27V2 client;
    ASSERT_EQ(client.Ouvrir(), 0);

    termios line{};
    ASSERT_TRUE(peer.slaveTermios(line));
    EXPECT_EQ(line.c_iflag, tcflag_t(INPCK)) << "no ISTRIP, IXON, IXOFF, ICRNL, IGNPAR, PARMRK";
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, 0u);
    // PARENB itself cannot be seen on a pty (see RawLineFromWhateverWasLeft).
    EXPECT_EQ(line.c_cflag & (CSIZE | PARODD | CSTOPB | CLOCAL | CREAD | HUPCL | CRTSCTS),
              tcflag_t(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(cfgetispeed(&line), speed_t(B9600));
    EXPECT_EQ(cfgetospeed(&line), speed_t(B9600));
    EXPECT_EQ(line.c_cc[VMIN], 0);
    EXPECT_EQ(line.c_cc[VTIME], 0);

    peer.send({0x00}); // the device answers the reset byte of the close
    ASSERT_EQ(client.Fermer(), 0);
    EXPECT_EQ(peer.receive(1), std::vector<std::uint8_t>{0x04});
    termios after{};
    ASSERT_TRUE(peer.slaveTermios(after));
    EXPECT_TRUE(sameTermios(after, own));
    EXPECT_EQ(sonderPort(peer.slave().c_str()), ProbePort::Ouvert) << "closed and given up";
}

TEST(PortPosix, RawLineFromWhateverWasLeft)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    const termios base = poisoned(peer);
    const CK27V2 client;

    termios t = base;
    ASSERT_TRUE(PortPosix::termiosFor(client.ReglagesPort(), t));
    EXPECT_EQ(t.c_iflag, tcflag_t(INPCK));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cflag & ~tcflag_t(CBAUD | CIBAUD), tcflag_t(CS8 | PARENB | CLOCAL | CREAD));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x01);
    EXPECT_EQ(t.c_cc[VSTOP], 0x02);

    LineSettings odd = client.ReglagesPort();
    odd.parity = 1;
    odd.stopBits = 2;
    odd.byteSize = 7;
    t = base;
    ASSERT_TRUE(PortPosix::termiosFor(odd, t));
    EXPECT_EQ(t.c_cflag & ~tcflag_t(CBAUD | CIBAUD),
              tcflag_t(CS7 | PARENB | PARODD | CSTOPB | CLOCAL | CREAD));

    LineSettings unknown = client.ReglagesPort();
    unknown.baudRate = 14400;
    t = base;
    EXPECT_FALSE(PortPosix::termiosFor(unknown, t));
    EXPECT_TRUE(sameTermios(t, base));
}

TEST(PortPosix, RatesWithoutATermiosCodeAreRefused)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    Com1 com1(peer.slave());
    CK27V2 client;
    ASSERT_EQ(client.Ouvrir(), 0);
    EXPECT_EQ(client.ReglerVitesse(14400), EINVAL);
    EXPECT_EQ(client.ReglerVitesse(57600), 0);
    termios line{};
    ASSERT_TRUE(peer.slaveTermios(line));
    EXPECT_EQ(cfgetospeed(&line), speed_t(B57600));
    EXPECT_EQ(client.ReglerVitesse(9600), 0);
    peer.send({0x00, 0x00}); // answers to the two reset bytes of the destruction
}

TEST(PortPosix, ClosedPortOperationsGiveTheLoaderCode)
{
    CK27V2 client;
    std::int32_t v = -1;
    EXPECT_EQ(client.EcrireOctet(0x80), ERREUR_PORT_FERME);
    EXPECT_EQ(client.LireOctet(v), ERREUR_PORT_FERME);
    EXPECT_EQ(client.Purger(), ERREUR_PORT_FERME);
    EXPECT_EQ(v, -1);
}

// The one test here that waits for the real read limit.
TEST_F(PortPosixClient, ASilentLineTimesOutAfterTheReadLimit)
{
    std::int32_t v = -1;
    const auto t = Clock::now();
    EXPECT_EQ(client.LireOctet(v), ERREUR_DELAI);
    const long ms = msSince(t);
    EXPECT_GE(ms, 1090);
    EXPECT_LT(ms, 1600);
    EXPECT_EQ(v, -1);

    peer.send({0x84});
    EXPECT_EQ(client.LireOctet(v), 0);
    EXPECT_EQ(v, 0x84) << "the acknowledgement keeps its eighth bit";
    peer.send({0x00, 0x00});
}

TEST_F(PortPosixClient, AHangUpFailsAtOnceWithAStatus)
{
    peer.hangUp();

    std::int32_t v = -1;
    auto t = Clock::now();
    EXPECT_EQ(client.LireOctet(v), EIO);
    EXPECT_EQ(client.EcrireOctet(0x80), EIO);
    EXPECT_LT(msSince(t), 300) << "a hang-up is not a time-out";
    EXPECT_EQ(client.EstConnecte(), 0);

    t = Clock::now();
    EXPECT_EQ(client.Fermer(), EIO) << "nothing could be restored";
    EXPECT_FALSE(client.PortOuvert()) << "but the line is given up";
    EXPECT_LT(msSince(t), 300);
}

TEST_F(PortPosixClient, AHandshakeAfterAHangUpGivesTheDeadLineUp)
{
    peer.hangUp();

    auto t = Clock::now();
    EXPECT_EQ(client.Connecter(1), EIO);
    EXPECT_LT(msSince(t), 300) << "a hang-up is not a time-out";
    EXPECT_EQ(client.EstConnecte(), 0);

    // The next attempt does not go on with the dead descriptor: it opens the port again,
    // which here no longer exists.
    t = Clock::now();
    const StatutChargeur s = client.Connecter(1);
    EXPECT_NE(s, 0);
    EXPECT_NE(s, ERREUR_DELAI);
    EXPECT_FALSE(client.PortOuvert());
    EXPECT_LT(msSince(t), 300);
}

TEST(PortPosix, AWriteThatCannotGoOutFailsWithinItsLimit)
{
    PtyPeer peer; // never reads: the line fills up
    PortPosix port;
    openRaw(port, peer, Timeouts{0, 0, 0, 0, 30});
    if (HasFatalFailure()) {
        return;
    }
    int written = 0;
    while (written < 4'000'000 && port.writeByte(0x55)) {
        ++written;
    }
    EXPECT_LT(written, 4'000'000);
    EXPECT_EQ(port.lastError(), ETIMEDOUT);
    const auto t = Clock::now();
    EXPECT_FALSE(port.writeByte(0x55));
    const long ms = msSince(t);
    EXPECT_GE(ms, 29);
    EXPECT_LT(ms, 500);
    EXPECT_EQ(port.lastError(), ETIMEDOUT);
    ASSERT_TRUE(port.purge());
}

// A command's first byte goes out at once; the bytes written right behind it go out
// together at the port's next call of another kind, whichever it is, and never later.
TEST(PortPosix, BytesWrittenBackToBackGoOutAtTheNextCall)
{
    struct Cas {
        const char* appel;
        std::function<bool(PortPosix&)> faire;
        bool peutVider; // the call may empty the line of what it sent (a purge)
    };
    const Cas cas[] = {
        {"readByte",
         [](PortPosix& p) {
             std::uint8_t b = 0;
             bool recu = false;
             return p.readByte(b, recu) && !recu;
         },
         false},
        {"purge", [](PortPosix& p) { return p.purge(); }, true},
        {"sleep", [](PortPosix& p) { return p.sleep(0), true; }, false},
        {"tickCount", [](PortPosix& p) { return p.tickCount(), true; }, false},
        {"setSettings",
         [](PortPosix& p) {
             LineSettings s;
             return p.getSettings(s) && p.setSettings(s);
         },
         false},
        {"close", [](PortPosix& p) { return p.close(); }, false},
    };
    const std::vector<std::uint8_t> suite{0x41, 0x42, 0x43};
    for (const Cas& c : cas) {
        SCOPED_TRACE(c.appel);
        PtyPeer peer;
        PortPosix port;
        openRaw(port, peer, Timeouts{0, 10, 20, 10, 40});
        if (HasFatalFailure()) {
            return;
        }

        for (std::uint8_t b : {0x8D, 0x41, 0x42, 0x43}) {
            ASSERT_TRUE(port.writeByte(b));
        }
        EXPECT_EQ(peer.receive(4, 30), (std::vector<std::uint8_t>{0x8D}));
        EXPECT_TRUE(c.faire(port)) << port.lastError();
        const std::vector<std::uint8_t> apres = peer.receive(3, c.peutVider ? 100 : 500);
        if (c.peutVider) {
            EXPECT_TRUE(apres.empty() || apres == suite); // as for bytes written one by one
        } else {
            EXPECT_EQ(apres, suite);
        }

        // Nothing is left behind for the next command, which starts a burst of its own.
        if (std::string(c.appel) != "close") {
            ASSERT_TRUE(port.writeByte(0x90));
            EXPECT_EQ(peer.receive(4, 100), (std::vector<std::uint8_t>{0x90}));
        }
    }
}

// The line hangs up behind a command's first byte: the rest is gathered, and the read of the
// answer, which sends it, fails at once with the hang-up.
TEST_F(PortPosixClient, AHangUpInsideACommandIsTheReadsFailure)
{
    ASSERT_EQ(client.EcrireOctet(0x8D), 0);
    peer.hangUp();
    EXPECT_EQ(client.EnvoyerHex(0x41), 0);
    const auto t = Clock::now();
    std::int32_t v = -1;
    EXPECT_EQ(client.LireOctet(v), EIO);
    EXPECT_LT(msSince(t), 300) << "a hang-up is not a time-out";
    EXPECT_EQ(v, -1);
}

TEST(PortPosix, HandshakeAndCommandsWithADeviceOnTheLine)
{
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    // A tiny device: answers the handshake, the type code and the reset.
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop) {
            const std::vector<std::uint8_t> in = peer.receive(1, 50);
            if (in.empty()) {
                continue;
            }
            switch (in[0]) {
            case 0x80:
                peer.send({0x81});
                break;
            case 0x86:
                for (char c : std::string("4B3237")) {
                    peer.send({static_cast<std::uint8_t>(c)});
                    peer.receive(1, 1000); // the acknowledgement
                }
                break;
            case 0x04:
                peer.send({0x00});
                break;
            default:
                break;
            }
        }
    });
    {
        Com1 com1(peer.slave());
        CK27V2 client;
        EXPECT_EQ(client.Connecter(1), 0);
        EXPECT_EQ(client.EstConnecte(), 1);
        EXPECT_EQ(client.VerifierType(), 0);
        EXPECT_EQ(client.Fermer(), 0);
    }
    stop = true;
    device.join();
}
