// korvane-bench: how long a whole update takes through the wizard, against a simulated Korvane
// on a line paced at 9600 baud, and what it costs the tool in processor time and memory.
//
// The simulator runs as a separate process (korvane-sim --pace), so that its own work is not
// counted as the tool's. The window is drawn offscreen and clicked through to Connect as a
// user would; any message box is a failed run. Its last output line is
// "update-time-ratio: X", the time from Connect to the success screen over the design floor.
//
// Usage: korvane-bench [--sim PATH]

#include "engine/Moteur.h"
#include "image/Image.h"
#include "loader/PortPosix.h"
#include "sim/Appareil.h"
#include "sim/UnProcesseur.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace korvane;
using Horloge = std::chrono::steady_clock;

namespace {

#ifndef KORVANE_SIM_PROGRAMME
#define KORVANE_SIM_PROGRAMME "korvane-sim"
#endif

constexpr double BITS_PAR_OCTET = 11.0; // start, 8 data, parity, stop
constexpr double BAUDS = 9600.0;

// The port the window's loader client talks through: the real POSIX port, with every byte
// that crosses it counted.
class PortCompte final : public SerialPort {
public:
    std::uint64_t envoyes = 0;
    std::uint64_t recus = 0;

    bool open(const char* name) override { return m_port.open(name); }
    bool getSettings(LineSettings& out) override { return m_port.getSettings(out); }
    bool setSettings(const LineSettings& in) override { return m_port.setSettings(in); }
    bool getTimeouts(Timeouts& out) override { return m_port.getTimeouts(out); }
    bool setTimeouts(const Timeouts& in) override { return m_port.setTimeouts(in); }
    bool purge() override { return m_port.purge(); }
    bool writeByte(std::uint8_t byte) override
    {
        const bool ok = m_port.writeByte(byte);
        envoyes += ok ? 1 : 0;
        return ok;
    }
    bool readByte(std::uint8_t& byte, bool& received) override
    {
        const bool ok = m_port.readByte(byte, received);
        recus += ok && received ? 1 : 0;
        return ok;
    }
    bool close() override { return m_port.close(); }
    std::int32_t lastError() const override { return m_port.lastError(); }
    std::uint32_t tickCount() override { return m_port.tickCount(); }
    void sleep(std::uint32_t ms) override { m_port.sleep(ms); }

private:
    PortPosix m_port;
};

// Every box is a failed run: it is noted and answered No, which ends the tool.
class BoitesEchec : public BoitesMessage {
public:
    QString texte;
    Reponse montrer(Type, const QString& t, Boutons) override
    {
        texte = t;
        return Reponse::Non;
    }
};

// Notes the moment the window takes the notification that shows the success screen, and
// ends the wait then or when the window closes.
class Observateur : public QObject {
public:
    Observateur(TFormMjKorvane& f, QEventLoop& boucle) : m_f(f), m_boucle(boucle) {}
    std::optional<Horloge::time_point> reussite;

protected:
    bool eventFilter(QObject* objet, QEvent* e) override
    {
        if (objet != &m_f || e->type() != TFormMjKorvane::typeNotification())
            return false;
        static_cast<QObject*>(&m_f)->event(e);
        if (m_f.etat().NumeroEtape == 9 && !reussite) {
            reussite = Horloge::now();
            m_boucle.quit();
        } else if (!m_f.isVisible()) {
            m_boucle.quit();
        }
        return true;
    }

private:
    TFormMjKorvane& m_f;
    QEventLoop& m_boucle;
};

// korvane-sim in a process of its own, its line behind a link.
class Simulateur {
public:
    ~Simulateur() { arreter(); }

    bool lancer(const std::string& programme, const std::string& lien, const std::string& vidage)
    {
        int tube[2];
        if (pipe2(tube, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, tube[1], STDOUT_FILENO);
        const char* argv[] = {programme.c_str(), "--pace",       "--link", lien.c_str(),
                              "--dump",          vidage.c_str(), nullptr};
        const int r = posix_spawn(&m_pid, programme.c_str(), &actions, nullptr,
                                  const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(tube[1]);
        if (r != 0) {
            ::close(tube[0]);
            m_pid = -1;
            errno = r;
            return false;
        }
        // Ready once it has printed its link.
        std::string sortie;
        const auto fin = Horloge::now() + std::chrono::seconds(10);
        while (sortie.find("link ") == std::string::npos ||
               sortie.find('\n', sortie.find("link ")) == std::string::npos) {
            const auto reste =
                std::chrono::duration_cast<std::chrono::milliseconds>(fin - Horloge::now());
            pollfd p{tube[0], POLLIN, 0};
            if (reste.count() <= 0 || ::poll(&p, 1, static_cast<int>(reste.count())) <= 0)
                break;
            char tampon[256];
            const ssize_t n = ::read(tube[0], tampon, sizeof tampon);
            if (n <= 0)
                break;
            sortie.append(tampon, static_cast<std::size_t>(n));
        }
        ::close(tube[0]);
        return sortie.find("link " + lien) != std::string::npos;
    }

    // SIGTERM, then the exit status (0: it ended cleanly and wrote its dump).
    int arreter()
    {
        if (m_pid <= 0)
            return -1;
        ::kill(m_pid, SIGTERM);
        int statut = 0;
        while (::waitpid(m_pid, &statut, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
    }

private:
    pid_t m_pid = -1;
};

double secondesCpu(const rusage& r)
{
    return double(r.ru_utime.tv_sec) + r.ru_utime.tv_usec / 1e6 + double(r.ru_stime.tv_sec) +
           r.ru_stime.tv_usec / 1e6;
}

// The program words of the image against the simulator's dump, and the version 16.3.
bool memoireConforme(const std::string& vidage)
{
    std::ifstream fichier(vidage);
    const auto lu = sim::lireVidage(fichier);
    if (!lu)
        return false;
    std::map<std::uint16_t, std::uint16_t> attendus;
    for (int i = 0; ImageMiseAJour[i][0] != '\0'; ++i) {
        const Enregistrement e = ImageMiseAJour[i];
        if (ClasserEnregistrement(e) == ClasseEnregistrement::MemoireProgramme)
            for (int k = 0; k < NombreMots(e); ++k)
                attendus[static_cast<std::uint16_t>(AdresseMot(e) + k)] =
                    static_cast<std::uint16_t>(MotDonnee(e, k));
    }
    const std::map<std::uint16_t, std::uint16_t> ecrits(lu->mots.begin(), lu->mots.end());
    return ecrits == attendus && lu->eeprom[126] == 16 && lu->eeprom[127] == 3;
}

bool cliquer(TFormMjKorvane& f, const char* nom)
{
    auto* b = f.findChild<QPushButton*>(QString::fromLatin1(nom));
    if (b == nullptr || !b->isVisible() || !b->isEnabled())
        return false;
    QTest::mouseClick(b, Qt::LeftButton);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    std::string programme = KORVANE_SIM_PROGRAMME;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sim") == 0 && i + 1 < argc) {
            programme = argv[++i];
        } else {
            std::fprintf(stderr, "Usage: korvane-bench [--sim PATH]\n");
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    char modele[] = "/tmp/korvane-bench-XXXXXX";
    if (::mkdtemp(modele) == nullptr) {
        std::perror("korvane-bench: mkdtemp");
        return 1;
    }
    const std::string dossier = modele;
    const std::string lien = dossier + "/ttyK27";
    const std::string vidage = dossier + "/memoire.txt";
    struct Nettoyage {
        std::string d;
        ~Nettoyage()
        {
            std::error_code ignore;
            std::filesystem::remove_all(d, ignore);
        }
    } nettoyage{dossier};

    // The tool and the simulated device on one processor, the device started from here.
    const bool unProcesseur = sim::garderUnProcesseur();
    Simulateur simulateur;
    if (!simulateur.lancer(programme, lien, vidage)) {
        std::fprintf(stderr, "korvane-bench: cannot start %s: %s\n", programme.c_str(),
                     std::strerror(errno));
        return 1;
    }
    ::setenv("KORVANE_COM1", lien.c_str(), 1);
    for (const char* n : {"KORVANE_COM2", "KORVANE_COM3", "KORVANE_COM4"})
        ::setenv(n, "/nonexistent/korvane-bench-port", 1);

    QApplication application(argc, argv);
    PortCompte port;
    BoitesEchec boites;
    auto fenetre = std::make_unique<TFormMjKorvane>(nullptr, &port, &boites);
    TFormMjKorvane& f = *fenetre;
    f.show();

    for (int etape = 1; etape < 5; ++etape)
        if (!cliquer(f, "ButtonSuivant")) {
            std::fprintf(stderr, "korvane-bench: Next is not available at step %d\n", etape);
            return 1;
        }

    QEventLoop boucle;
    Observateur observateur(f, boucle);
    f.installEventFilter(&observateur);
    QTimer::singleShot(std::chrono::minutes(5), &boucle, &QEventLoop::quit);

    rusage avant{};
    getrusage(RUSAGE_SELF, &avant);
    const auto connexion = Horloge::now();
    if (!cliquer(f, "ButtonSuivant")) { // Connect
        std::fprintf(stderr, "korvane-bench: no Connect button at step 5\n");
        return 1;
    }
    boucle.exec();
    rusage apres{};
    getrusage(RUSAGE_SELF, &apres);

    const bool reussi = observateur.reussite.has_value();
    const auto fin = reussi ? *observateur.reussite : Horloge::now();
    f.removeEventFilter(&observateur);
    fenetre.reset(); // closes the port, as the tool does when it ends
    const int statutSim = simulateur.arreter();
    if (!reussi) {
        std::fprintf(stderr, "korvane-bench: the update did not reach the success screen%s%s\n",
                     boites.texte.isEmpty() ? "" : ": ", qPrintable(boites.texte));
        return 1;
    }
    const bool memoire = statutSim == 0 && memoireConforme(vidage);

    const double mesure = std::chrono::duration<double, std::milli>(fin - connexion).count();
    const double plancher = INTERVALLE_ATTENTE_MS + 4.0 * INTERVALLE_VERIFICATION_MS +
                            751.0 * INTERVALLE_PROGRAMMATION_MS;
    const std::uint64_t octets = port.envoyes + port.recus;
    const double ligne = 1000.0 * octets * BITS_PAR_OCTET / BAUDS;
    const double cpu = secondesCpu(apres) - secondesCpu(avant);
    const double cpuTotal = secondesCpu(apres);
    const double ratio = mesure / plancher;

    std::printf("device memory after the update: %s\n",
                memoire ? "the image word for word, version 16.3" : "WRONG");
    std::printf("processors: %s\n",
                unProcesseur ? "the tool and korvane-sim on one" : "any (could not choose one)");
    std::printf("connect-to-success: %.0f ms\n", mesure);
    std::printf("design floor: %.0f ms (2250 to the first handshake + 4 x 200 verification "
                "+ 751 x 100 programming)\n",
                plancher);
    std::printf("line-time floor: %.0f ms (%llu bytes sent + %llu received, 11 bits each at "
                "9600 baud)\n",
                ligne, static_cast<unsigned long long>(port.envoyes),
                static_cast<unsigned long long>(port.recus));
    std::printf("cpu during the update: %.3f s (%.2f %% of the wall time; goal <= 3 %%)\n", cpu,
                100.0 * cpu / (mesure / 1000.0));
    std::printf("cpu of the whole run: %.3f s\n", cpuTotal);
    std::printf("peak resident memory: %ld KiB\n", apres.ru_maxrss);
    std::printf("goal ratio <= 1.03: %s\n", ratio <= 1.03 ? "met" : "missed");
    std::printf("update-time-ratio: %.4f\n", ratio);
    return memoire ? 0 : 1;
}
