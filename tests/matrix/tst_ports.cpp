// Faults of the port itself, met through the real window and loader: a path that does not
// exist, a port another program holds, a port the user may not open, a line that hangs up
// during the connection wait, and a port another program left in a state no serial line
// should be in.

#include "Ligne.h"
#include "Poste.h"
#include "loader/PortNames.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace korvane::matrice {
namespace {

// Every failed open of the wait must come at once: the wait is its 20 ticks, not more.
constexpr double ATTENTE_MAX_MS = 3000;

std::string Erreurs(const std::vector<std::int32_t>& codes)
{
    std::string s;
    for (std::int32_t c : codes)
        s += std::to_string(c) + " ";
    return s;
}

TEST(PortsEnDefaut, APathThatDoesNotExistFailsEveryTickAndTheWaitEndsAfterTwenty)
{
    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    ligne.devenirCom1(); // the link is never made: nothing behind the name
    PortMesure port;
    BoitesMatrice boites;
    Poste poste(port, boites);

    const Tentative t = poste.connecter();
    EXPECT_EQ(t.probleme, "");
    EXPECT_EQ(NomIssue(t.issue), std::string(NomIssue(Issue::EchecConnexion)));
    EXPECT_EQ(t.ticksAttente, TICKS_ATTENTE);
    EXPECT_EQ(port.erreursOuverture, std::vector<std::int32_t>(TICKS_ATTENTE, ENOENT))
        << Erreurs(port.erreursOuverture);
    EXPECT_EQ(port.lecturesMuettes.size(), 0u);
    EXPECT_LE(t.ms, ATTENTE_MAX_MS);
    EXPECT_EQ(poste.etape(), 4); // back at the port choice
    EXPECT_FALSE(poste.fenetre.chargeur().PortOuvert());
}

// How another program holds the line: an advisory lock, or the terminal's exclusive mode.
struct Detenteur {
    const char* nom;
    bool verrou;
    bool exclusif;
};

class PortTenu : public ::testing::TestWithParam<Detenteur> {};

TEST_P(PortTenu, IsRefusedAsBusyUntilReleasedThenTheUpdateGoesThrough)
{
    const Detenteur d = GetParam();
    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    ASSERT_TRUE(ligne.brancher({}));
    ligne.devenirCom1();

    int tenu = ::open(ligne.lien.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(tenu, 0);
    if (d.verrou) {
        ASSERT_EQ(::flock(tenu, LOCK_EX | LOCK_NB), 0);
    }
    if (d.exclusif) {
        ASSERT_EQ(::ioctl(tenu, TIOCEXCL), 0);
    }

    PortMesure port;
    BoitesMatrice boites;
    Poste poste(port, boites);
    constexpr int LIBERE_AU_TICK = 6;
    bool toujoursExclusif = !d.exclusif;
    poste.avantTick = [&](int tick) {
        if (tick != LIBERE_AU_TICK || tenu < 0)
            return;
        // Whatever the tool tried, the other program's hold is as it left it.
        int exclusif = 0;
        if (d.exclusif && ::ioctl(tenu, TIOCGEXCL, &exclusif) == 0)
            toujoursExclusif = exclusif != 0;
        if (d.exclusif)
            ::ioctl(tenu, TIOCNXCL);
        ::close(tenu);
        tenu = -1;
    };

    const Tentative t = poste.connecter();
    if (tenu >= 0)
        ::close(tenu);
    EXPECT_EQ(t.probleme, "");
    EXPECT_EQ(NomIssue(t.issue), std::string(NomIssue(Issue::Reussite)));
    EXPECT_EQ(t.ticksAttente, LIBERE_AU_TICK);
    EXPECT_EQ(port.erreursOuverture, std::vector<std::int32_t>(LIBERE_AU_TICK - 1, EBUSY))
        << Erreurs(port.erreursOuverture);
    EXPECT_TRUE(toujoursExclusif);
    EXPECT_EQ(port.lecturesMuettes.size(), 0u);
    EXPECT_EQ(EcartAvecLImage(ligne.appareil()), "");
}

INSTANTIATE_TEST_SUITE_P(Detenteurs, PortTenu,
                         ::testing::Values(Detenteur{"lock", true, false},
                                           Detenteur{"exclusive", false, true},
                                           Detenteur{"lock_and_exclusive", true, true}),
                         [](const auto& info) { return std::string(info.param.nom); });

// What the probe and a connection attempt find, run as user `uid` in a child process.
struct Vu {
    int sonde = -1;
    std::int32_t statut = -1;
    bool ok = false;
};

Vu VuEnTantQue(uid_t uid, gid_t gid, const std::string& chemin)
{
    int tube[2];
    if (::pipe(tube) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(tube[0]);
        int resultat[2] = {-1, -1};
        if (::getuid() != uid && (::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(2);
        ::setenv("KORVANE_COM1", chemin.c_str(), 1);
        resultat[0] = static_cast<int>(sonderPort(NomsPorts[0]));
        {
            CK27V2 client;
            client.ChoisirPort(0);
            resultat[1] = client.Connecter(1);
        }
        const bool ecrit = ::write(tube[1], resultat, sizeof resultat) == sizeof resultat;
        ::_exit(ecrit ? 0 : 3);
    }
    ::close(tube[1]);
    Vu vu;
    int resultat[2];
    const bool lu = pid > 0 && ::read(tube[0], resultat, sizeof resultat) == sizeof resultat;
    ::close(tube[0]);
    int etat = 0;
    if (pid > 0)
        ::waitpid(pid, &etat, 0);
    if (lu && WIFEXITED(etat) && WEXITSTATUS(etat) == 0) {
        vu.sonde = resultat[0];
        vu.statut = resultat[1];
        vu.ok = true;
    }
    return vu;
}

TEST(PortsEnDefaut, APortTheUserMayNotOpenIsSeenButNotOpened)
{
    // Root opens any device whatever its mode; the case is played by an ordinary user.
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (uid == 0) {
        uid = 65534; // nobody
        gid = 65534;
    }
    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    ASSERT_TRUE(ligne.brancher({}));
    const std::string esclave = ligne.courant->cheminEsclave();
    ASSERT_EQ(::chown(esclave.c_str(), uid, gid), 0);

    // Allowed, the user opens the line and the device answers: the account itself works.
    ASSERT_EQ(::chmod(esclave.c_str(), 0600), 0);
    const Vu permis = VuEnTantQue(uid, gid, esclave);
    if (!permis.ok)
        GTEST_SKIP() << "cannot run a process as user " << uid << " here";
    EXPECT_EQ(permis.sonde, static_cast<int>(ProbePort::Ouvert));
    EXPECT_EQ(permis.statut, 0);

    ASSERT_EQ(::chmod(esclave.c_str(), 0), 0);
    const Vu refuse = VuEnTantQue(uid, gid, esclave);
    ASSERT_TRUE(refuse.ok);
    EXPECT_EQ(refuse.sonde, static_cast<int>(ProbePort::Indisponible))
        << "the port exists: it stays selectable";
    EXPECT_EQ(refuse.statut, EACCES);
}

TEST(PortsEnDefaut, ALineThatHangsUpDuringTheWaitIsFoundAgainOnceReplugged)
{
    sim::Configuration raccroche;
    raccroche.defauts.push_back({sim::Phase::Connexion, sim::Panne::Raccroche, 1, 1});
    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    ASSERT_TRUE(ligne.brancher(raccroche));
    ligne.devenirCom1();
    PortMesure port;
    BoitesMatrice boites;
    Poste poste(port, boites);
    constexpr int REBRANCHE_AU_TICK = 4;
    poste.avantTick = [&](int tick) {
        if (tick == REBRANCHE_AU_TICK) {
            ASSERT_TRUE(ligne.brancher({}));
        }
    };

    const Tentative t = poste.connecter();
    EXPECT_EQ(t.probleme, "");
    EXPECT_EQ(NomIssue(t.issue), std::string(NomIssue(Issue::Reussite)));
    EXPECT_EQ(t.ticksAttente, REBRANCHE_AU_TICK);
    EXPECT_GE(port.echecs, 1) << "the first tick met the hang-up";
    EXPECT_LE(port.plusLongEchecMs, 100) << "a hang-up is told at once, not after a time limit";
    EXPECT_EQ(port.lecturesMuettes.size(), 0u);
    EXPECT_EQ(EcartAvecLImage(ligne.appareil()), "");
}

TEST(PortsEnDefaut, APortLeftInAStrangeStateIsDrivenRawAndGivenBackAsItWas)
{
    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    ASSERT_TRUE(ligne.brancher({}));
    ligne.devenirCom1();
    const std::string esclave = ligne.courant->cheminEsclave();

    // Another program leaves the line cooked: 7-bit stripping (0x84 would read as 0x04),
    // line editing and echo, software flow control, output processing, no CLOCAL, 7 bits.
    termios avant{};
    {
        const int fd = ::open(esclave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        t.c_iflag |= ISTRIP | IXON | IXOFF | ICRNL;
        t.c_oflag |= OPOST | ONLCR;
        t.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
        t.c_cflag = (t.c_cflag & ~(CSIZE | CLOCAL)) | CS7 | HUPCL;
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        ASSERT_EQ(::tcgetattr(fd, &avant), 0); // what the line really holds
        ::close(fd);
    }
    ASSERT_TRUE(avant.c_iflag & ISTRIP);
    ASSERT_TRUE(avant.c_lflag & ICANON);
    ASSERT_FALSE(avant.c_cflag & CLOCAL);

    {
        PortMesure port;
        BoitesMatrice boites;
        Poste poste(port, boites);
        const Tentative t = poste.connecter();
        EXPECT_EQ(t.probleme, "");
        EXPECT_EQ(NomIssue(t.issue), std::string(NomIssue(Issue::Reussite)));
        EXPECT_EQ(port.lecturesMuettes.size(), 0u);
        EXPECT_EQ(EcartAvecLImage(ligne.appareil()), "");
    } // the tool ends: the port is closed with its own settings put back

    const int fd = ::open(esclave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios apres{};
    ASSERT_EQ(::tcgetattr(fd, &apres), 0);
    ::close(fd);
    EXPECT_EQ(apres.c_iflag, avant.c_iflag);
    EXPECT_EQ(apres.c_oflag, avant.c_oflag);
    EXPECT_EQ(apres.c_cflag, avant.c_cflag);
    EXPECT_EQ(apres.c_lflag, avant.c_lflag);
    EXPECT_EQ(cfgetospeed(&apres), cfgetospeed(&avant));
}

} // namespace
} // namespace korvane::matrice
