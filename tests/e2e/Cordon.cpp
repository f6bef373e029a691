#include "Cordon.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace korvane::e2e {

namespace {

void fermer(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool brut(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Writes all of `n` bytes to a non-blocking descriptor; false when the line is gone.
bool toutEcrire(int fd, const unsigned char* octets, ssize_t n)
{
    while (n > 0) {
        const ssize_t e = ::write(fd, octets, static_cast<size_t>(n));
        if (e > 0) {
            octets += e;
            n -= e;
        } else if (e < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP)))
                return false;
        } else if (e < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

Cordon::~Cordon()
{
    arreterRelais();
    fermer(m_appareil);
    fermer(m_esclaveTenu);
    fermer(m_maitre);
    if (!m_lien.empty())
        ::unlink(m_lien.c_str());
}

bool Cordon::ouvrir(const std::string& lien)
{
    m_maitre = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char nom[128];
    if (m_maitre < 0 || grantpt(m_maitre) != 0 || unlockpt(m_maitre) != 0 ||
        ptsname_r(m_maitre, nom, sizeof nom) != 0)
        return false;
    m_esclaveTenu = ::open(nom, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_esclaveTenu < 0 || !brut(m_esclaveTenu) ||
        fcntl(m_maitre, F_SETFL, fcntl(m_maitre, F_GETFL) | O_NONBLOCK) != 0)
        return false;
    ::unlink(lien.c_str());
    if (::symlink(nom, lien.c_str()) != 0)
        return false;
    m_lien = lien;
    return pipe2(m_arret, O_CLOEXEC | O_NONBLOCK) == 0;
}

bool Cordon::brancher(const std::string& cheminAppareil)
{
    debrancher();
    m_appareil = ::open(cheminAppareil.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_appareil < 0 || !brut(m_appareil)) {
        fermer(m_appareil);
        return false;
    }
    m_fil = std::thread([this] { relayer(); });
    return true;
}

void Cordon::debrancher()
{
    arreterRelais();
    fermer(m_appareil);
}

void Cordon::arreterRelais()
{
    if (!m_fil.joinable())
        return;
    const char c = 1;
    [[maybe_unused]] auto n = ::write(m_arret[1], &c, 1);
    m_fil.join();
    char vide[16];
    while (::read(m_arret[0], vide, sizeof vide) > 0) {
    }
}

void Cordon::relayer()
{
    unsigned char tampon[256];
    for (;;) {
        pollfd fds[3] = {{m_arret[0], POLLIN, 0}, {m_maitre, POLLIN, 0}, {m_appareil, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(m_maitre, tampon, sizeof tampon);
            if (n > 0 && !toutEcrire(m_appareil, tampon, n))
                return;
        }
        if (fds[2].revents & POLLIN) {
            const ssize_t n = ::read(m_appareil, tampon, sizeof tampon);
            if (n > 0 && !toutEcrire(m_maitre, tampon, n))
                return;
        }
        // The device's line gone (its simulator stopped): the cable hangs loose.
        if ((fds[2].revents & (POLLHUP | POLLERR)) && !(fds[2].revents & POLLIN))
            return;
    }
}

} // namespace korvane::e2e
