#include "Processus.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::essai {

const char* programmeCli()
{
    return KORVANE_CLI_PROGRAMME;
}

const char* programmeSim()
{
    return KORVANE_SIM_PROGRAMME;
}

Dossier::Dossier()
{
    std::string modele = (fs::temp_directory_path() / "korvane-cli-XXXXXX").string();
    if (::mkdtemp(modele.data()))
        m_chemin = modele;
}

Dossier::~Dossier()
{
    std::error_code e;
    if (!m_chemin.empty())
        fs::remove_all(m_chemin, e);
}

std::string lireFichier(const fs::path& chemin)
{
    std::ifstream f(chemin, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

pid_t lancer(const std::vector<std::string>& arguments, int sortie, int erreurs,
             const Environnement& ajouts)
{
    // Everything the child needs is built before the fork: after it, only exec.
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        bool remplacee = false;
        for (const auto& [nom, valeur] : ajouts)
            remplacee = remplacee || v.rfind(nom + "=", 0) == 0;
        if (!remplacee)
            variables.push_back(v);
    }
    for (const auto& [nom, valeur] : ajouts)
        variables.push_back(nom + "=" + valeur);
    std::vector<char*> argv, envp;
    for (const auto& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& v : variables)
        envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int nul = ::open("/dev/null", O_RDONLY);
        ::dup2(nul, STDIN_FILENO);
        ::dup2(sortie, STDOUT_FILENO);
        ::dup2(erreurs, STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

int attendreFin(pid_t pid, std::chrono::milliseconds limite)
{
    const auto fin = Horloge::now() + limite;
    for (;;) {
        int statut = 0;
        const pid_t r = ::waitpid(pid, &statut, WNOHANG);
        if (r == pid)
            return WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
        if (r < 0)
            return -1;
        if (Horloge::now() >= fin) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &statut, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool attendreQue(const std::function<bool()>& condition, std::chrono::milliseconds limite)
{
    const auto fin = Horloge::now() + limite;
    while (!condition()) {
        if (Horloge::now() >= fin)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

Simulateur::Simulateur(const Dossier& dossier, const std::vector<std::string>& options)
    : m_lien(dossier.chemin() / "ligne"), m_vidage(dossier.chemin() / "memoire.txt"),
      m_journal(dossier.chemin() / "sim.txt")
{
    std::vector<std::string> arguments{programmeSim(), "--link", m_lien.string(), "--dump",
                                       m_vidage.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const int journal = ::open(m_journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    m_pid = lancer(arguments, journal, journal);
    ::close(journal);
    if (m_pid < 0)
        return;
    const std::string attendu = "link " + m_lien.string() + "\n";
    m_pret = attendreQue([&] { return lireFichier(m_journal).find(attendu) != std::string::npos; },
                         std::chrono::seconds(10));
}

Simulateur::~Simulateur()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::optional<sim::Vidage> Simulateur::arreter()
{
    if (m_pid <= 0)
        return std::nullopt;
    ::kill(m_pid, SIGTERM);
    const int statut = attendreFin(m_pid, std::chrono::seconds(10));
    m_pid = -1;
    if (statut != 0)
        return std::nullopt;
    std::ifstream f(m_vidage);
    return sim::lireVidage(f);
}

ReglagesEtrangers::ReglagesEtrangers(const std::string& ligne)
{
    m_fd = ::open(ligne.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return;
    termios t{};
    ::tcgetattr(m_fd, &t);
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CLOCAL | CREAD;
    t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 5;
    t.c_cc[VTIME] = 3;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    ::tcsetattr(m_fd, TCSANOW, &t);
    // What the line really holds is the reference (a pseudo-terminal may drop some of it).
    ::tcgetattr(m_fd, &m_avant);
}

ReglagesEtrangers::~ReglagesEtrangers()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

::testing::AssertionResult ReglagesEtrangers::retrouves() const
{
    termios apres{};
    if (::tcgetattr(m_fd, &apres) != 0)
        return ::testing::AssertionFailure() << "tcgetattr: " << std::strerror(errno);
    std::ostringstream ecarts;
    if (apres.c_iflag != m_avant.c_iflag)
        ecarts << " c_iflag " << std::hex << m_avant.c_iflag << "->" << apres.c_iflag;
    if (apres.c_oflag != m_avant.c_oflag)
        ecarts << " c_oflag " << std::hex << m_avant.c_oflag << "->" << apres.c_oflag;
    if (apres.c_cflag != m_avant.c_cflag)
        ecarts << " c_cflag " << std::hex << m_avant.c_cflag << "->" << apres.c_cflag;
    if (apres.c_lflag != m_avant.c_lflag)
        ecarts << " c_lflag " << std::hex << m_avant.c_lflag << "->" << apres.c_lflag;
    if (cfgetispeed(&apres) != cfgetispeed(&m_avant) ||
        cfgetospeed(&apres) != cfgetospeed(&m_avant))
        ecarts << " speed";
    if (apres.c_cc[VMIN] != m_avant.c_cc[VMIN] || apres.c_cc[VTIME] != m_avant.c_cc[VTIME])
        ecarts << " VMIN/VTIME";
    int exclusif = 0;
    if (::ioctl(m_fd, TIOCGEXCL, &exclusif) == 0 && exclusif)
        ecarts << " still exclusive";
    // The updater's lock is gone with its descriptor.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        ecarts << " still locked";
    else
        ::flock(m_fd, LOCK_UN);
    if (!ecarts.str().empty())
        return ::testing::AssertionFailure() << "the line's settings changed:" << ecarts.str();
    return ::testing::AssertionSuccess();
}

SortieTerminal::SortieTerminal()
{
    if (::openpty(&m_maitre, &m_esclave, nullptr, nullptr, nullptr) != 0)
        return;
    // Only the child's standard output keeps the terminal: no other program inherits it.
    ::fcntl(m_maitre, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_esclave, F_SETFD, FD_CLOEXEC);
    termios t{};
    ::tcgetattr(m_esclave, &t);
    cfmakeraw(&t);
    ::tcsetattr(m_esclave, TCSANOW, &t);
    m_lecteur = std::thread([this] {
        char tampon[4096];
        for (;;) {
            const ssize_t n = ::read(m_maitre, tampon, sizeof tampon);
            if (n > 0) {
                std::lock_guard verrou(m_mutex);
                m_texte.append(tampon, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return; // EIO: every descriptor of the other end is closed
            }
        }
    });
}

SortieTerminal::~SortieTerminal()
{
    fermerEsclave();
    if (m_lecteur.joinable())
        m_lecteur.join();
    if (m_maitre >= 0)
        ::close(m_maitre);
}

void SortieTerminal::fermerEsclave()
{
    if (m_esclave >= 0) {
        ::close(m_esclave);
        m_esclave = -1;
    }
}

std::string SortieTerminal::contenu() const
{
    std::lock_guard verrou(m_mutex);
    return m_texte;
}

std::string SortieTerminal::tout()
{
    fermerEsclave();
    if (m_lecteur.joinable())
        m_lecteur.join();
    return contenu();
}

Execution executerCli(const Dossier& dossier, const std::vector<std::string>& arguments,
                      const Environnement& ajouts, std::chrono::milliseconds limite)
{
    const fs::path sortie = dossier.chemin() / "cli-sortie.txt";
    const fs::path erreurs = dossier.chemin() / "cli-erreurs.txt";
    const int fdSortie = ::open(sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int fdErreurs = ::open(erreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> tout{programmeCli()};
    tout.insert(tout.end(), arguments.begin(), arguments.end());
    const auto debut = Horloge::now();
    const pid_t pid = lancer(tout, fdSortie, fdErreurs, ajouts);
    ::close(fdSortie);
    ::close(fdErreurs);
    Execution e;
    e.statut = pid > 0 ? attendreFin(pid, limite) : -1;
    e.secondes = std::chrono::duration<double>(Horloge::now() - debut).count();
    e.sortie = lireFichier(sortie);
    e.erreurs = lireFichier(erreurs);
    return e;
}

} // namespace korvane::essai
