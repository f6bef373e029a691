#include "sim/SimulateurPty.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace korvane::sim {

namespace {

std::int64_t maintenant()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

bool erreurSysteme(std::string* erreur, const char* quoi)
{
    if (erreur)
        *erreur = std::string(quoi) + ": " + std::strerror(errno);
    return false;
}

void fermer(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

SimulateurPty::SimulateurPty(Configuration configuration, OptionsPty options)
    : m_appareil(std::move(configuration)), m_options(std::move(options))
{
}

SimulateurPty::~SimulateurPty()
{
    arreter();
}

bool SimulateurPty::ouvrir(std::string* erreur)
{
    if (m_maitre >= 0)
        return true;
    m_maitre = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_maitre < 0)
        return erreurSysteme(erreur, "posix_openpt");
    char nom[128];
    if (grantpt(m_maitre) != 0 || unlockpt(m_maitre) != 0 ||
        ptsname_r(m_maitre, nom, sizeof nom) != 0) {
        erreurSysteme(erreur, "pseudo-terminal");
        fermer(m_maitre);
        return false;
    }
    m_esclave = nom;

    // Holding the slave open keeps the master from reporting a hang-up between two clients,
    // and lets the line be set up before any client comes.
    m_esclaveTenu = ::open(nom, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (m_esclaveTenu < 0 || tcgetattr(m_esclaveTenu, &t) != 0) {
        erreurSysteme(erreur, m_esclave.c_str());
        fermerLigne();
        return false;
    }
    // Raw, as a serial line at 9600 baud, 8 bits, even parity: no byte is changed on its
    // way, whatever the client does not set itself.
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CS8 | PARENB | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(m_esclaveTenu, TCSANOW, &t) != 0 ||
        fcntl(m_maitre, F_SETFL, fcntl(m_maitre, F_GETFL) | O_NONBLOCK) != 0) {
        erreurSysteme(erreur, "line settings");
        fermerLigne();
        return false;
    }

    if (m_arret[0] < 0 && pipe2(m_arret, O_CLOEXEC | O_NONBLOCK) != 0) {
        erreurSysteme(erreur, "pipe");
        fermerLigne();
        return false;
    }

    if (!m_options.lien.empty()) {
        struct stat s {};
        if (lstat(m_options.lien.c_str(), &s) == 0) {
            if (!S_ISLNK(s.st_mode)) {
                errno = EEXIST;
                erreurSysteme(erreur, m_options.lien.c_str());
                fermerLigne();
                return false;
            }
            ::unlink(m_options.lien.c_str());
        }
        if (symlink(m_esclave.c_str(), m_options.lien.c_str()) != 0) {
            erreurSysteme(erreur, m_options.lien.c_str());
            fermerLigne();
            return false;
        }
        m_lienFait = true;
    }
    return true;
}

bool SimulateurPty::demarrer(std::string* erreur)
{
    if (!ouvrir(erreur))
        return false;
    if (!m_fil.joinable())
        m_fil = std::thread([this] { boucle(); });
    return true;
}

void SimulateurPty::executer()
{
    boucle();
}

void SimulateurPty::demanderArret() noexcept
{
    if (m_arret[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] auto n = ::write(m_arret[1], &c, 1);
    }
}

void SimulateurPty::arreter()
{
    demanderArret();
    if (m_fil.joinable())
        m_fil.join();
    fermerLigne();
    if (m_lienFait) {
        // Remove the link only while it is still ours.
        char cible[256];
        const ssize_t n = readlink(m_options.lien.c_str(), cible, sizeof cible - 1);
        if (n >= 0 && std::string(cible, static_cast<std::size_t>(n)) == m_esclave)
            ::unlink(m_options.lien.c_str());
        m_lienFait = false;
    }
    fermer(m_arret[0]);
    fermer(m_arret[1]);
}

Appareil SimulateurPty::instantane() const
{
    std::lock_guard verrou(m_mutex);
    return m_appareil;
}

void SimulateurPty::fermerLigne()
{
    fermer(m_maitre);
    fermer(m_esclaveTenu);
}

void SimulateurPty::boucle()
{
    // Bytes are paced by timed waits about a millisecond long: the kernel's default timer
    // slack (50 us a wait) would add up to a noticeably slower line.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    struct Octet {
        std::uint8_t valeur;
        std::int64_t depuis; // received from the PC, or produced by the device
    };
    std::deque<Octet> entree;
    std::deque<Octet> sortie;
    const std::int64_t duree = m_options.cadence ? DUREE_OCTET_NS : 0;
    std::int64_t dernierTraite = LLONG_MIN / 2;
    std::int64_t dernierEcrit = LLONG_MIN / 2;
    bool attenteEcriture = false;

    // A byte is handled once it has crossed the line, right behind the one before it; an
    // answer leaves once it has crossed the line behind the previous answer. Both count from
    // when the previous byte was due, so that wake-up delays do not add up byte after byte.
    const auto pretEntree = [&] { return std::max(entree.front().depuis, dernierTraite) + duree; };
    const auto pretSortie = [&] { return std::max(sortie.front().depuis, dernierEcrit) + duree; };

    while (true) {
        std::int64_t t = maintenant();
        while (m_maitre >= 0 && !entree.empty() && pretEntree() <= t) {
            std::vector<std::uint8_t> reponse;
            bool raccroche = false;
            {
                std::lock_guard verrou(m_mutex);
                m_appareil.recevoir(entree.front().valeur);
                reponse = m_appareil.prendreSortie();
                raccroche = m_appareil.raccroche();
            }
            // When the byte was due, not when we woke up: the next byte follows right behind
            // it on the line and the answer starts from there, as on a real line.
            const std::int64_t recu = pretEntree();
            entree.pop_front();
            dernierTraite = recu;
            if (raccroche) {
                m_raccroche = true; // before the client can see the line drop
                fermerLigne();
                entree.clear();
                sortie.clear();
                break;
            }
            for (std::uint8_t o : reponse)
                sortie.push_back({o, recu});
        }
        while (m_maitre >= 0 && !sortie.empty() && !attenteEcriture && pretSortie() <= t) {
            const std::int64_t parti = pretSortie();
            const ssize_t n = ::write(m_maitre, &sortie.front().valeur, 1);
            if (n == 1) {
                sortie.pop_front();
                dernierEcrit = parti;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                attenteEcriture = true;
            } else if (n < 0 && errno != EINTR) {
                break; // the line is gone; the poll below reports it
            }
        }

        std::int64_t echeance = LLONG_MAX;
        if (m_maitre >= 0 && !entree.empty())
            echeance = std::min(echeance, pretEntree());
        if (m_maitre >= 0 && !sortie.empty() && !attenteEcriture)
            echeance = std::min(echeance, pretSortie());
        timespec delai{};
        timespec* pDelai = nullptr;
        if (echeance != LLONG_MAX) {
            const std::int64_t reste = std::max<std::int64_t>(0, echeance - maintenant());
            delai.tv_sec = reste / 1'000'000'000;
            delai.tv_nsec = reste % 1'000'000'000;
            pDelai = &delai;
        }
        pollfd fds[2] = {{m_arret[0], POLLIN, 0}, {m_maitre, POLLIN, 0}};
        if (attenteEcriture)
            fds[1].events |= POLLOUT;
        const nfds_t nombre = m_maitre >= 0 ? 2 : 1;
        if (ppoll(fds, nombre, pDelai, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break; // asked to stop
        if (nombre < 2)
            continue;
        if (fds[1].revents & POLLOUT)
            attenteEcriture = false;
        if (fds[1].revents & POLLIN) {
            std::uint8_t tampon[256];
            const ssize_t n = ::read(m_maitre, tampon, sizeof tampon);
            const std::int64_t arrivee = maintenant();
            for (ssize_t i = 0; i < n; ++i)
                entree.push_back({tampon[i], arrivee});
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // Should not happen while we hold the slave; never spin on it.
            timespec pause{0, 10'000'000};
            nanosleep(&pause, nullptr);
        }
    }
}

} // namespace korvane::sim
