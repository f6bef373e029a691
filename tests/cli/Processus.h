#pragma once

// Running korvane-cli and korvane-sim as programs: a scratch folder, child processes with
// their output in files or on a terminal, the simulated device on its line, and a holder of
// that line that gives it another program's settings and checks they come back.

#include "sim/Appareil.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <thread>
#include <utility>
#include <vector>

namespace korvane::essai {

namespace fs = std::filesystem;
using Horloge = std::chrono::steady_clock;
using Environnement = std::vector<std::pair<std::string, std::string>>;

// A fresh folder under the system's temporary folder, removed with its content.
class Dossier {
public:
    Dossier();
    ~Dossier();
    Dossier(const Dossier&) = delete;
    Dossier& operator=(const Dossier&) = delete;
    const fs::path& chemin() const { return m_chemin; }

private:
    fs::path m_chemin;
};

std::string lireFichier(const fs::path& chemin);

// Starts `arguments` (the program first) with its output on the descriptors given and the
// variables of `ajouts` added to its environment. -1 when it could not start.
pid_t lancer(const std::vector<std::string>& arguments, int sortie, int erreurs,
             const Environnement& ajouts = {});

// The exit status (128 + signal for a killed process), or -1 when `limite` ran out; then the
// process is killed, so that no test hangs on it.
int attendreFin(pid_t pid, std::chrono::milliseconds limite);

// Polls `condition` every 20 ms until it holds or `limite` runs out.
bool attendreQue(const std::function<bool()>& condition, std::chrono::milliseconds limite);

// korvane-sim on a link in `dossier`, writing its memory to a dump when it stops.
class Simulateur {
public:
    Simulateur(const Dossier& dossier, const std::vector<std::string>& options);
    ~Simulateur();
    bool pret() const { return m_pret; }
    std::string ligne() const { return m_lien.string(); }
    // Stops the program with SIGTERM and reads its dump.
    std::optional<sim::Vidage> arreter();

private:
    pid_t m_pid = -1;
    bool m_pret = false;
    fs::path m_lien, m_vidage, m_journal;
};

// Holds the line open with settings of another program (another speed, 7 bits, odd parity,
// two stop bits, software flow control, other read limits), as a port left by a terminal
// program would be. The updater must put these back when it closes the port.
class ReglagesEtrangers {
public:
    explicit ReglagesEtrangers(const std::string& ligne);
    ~ReglagesEtrangers();
    bool ouverte() const { return m_fd >= 0; }
    // The line shows the settings it had before, and nobody holds it exclusively.
    ::testing::AssertionResult retrouves() const;

private:
    int m_fd = -1;
    termios m_avant{};
};

// A terminal for a child's standard output: the child sees isatty() true, and whatever it
// writes is collected raw (no newline translation).
class SortieTerminal {
public:
    SortieTerminal();
    ~SortieTerminal();
    int esclave() const { return m_esclave; }
    // After the child has started: only the child keeps the terminal open from then on.
    void fermerEsclave();
    std::string contenu() const;
    // Waits for the child's end of the terminal to close and returns everything written.
    std::string tout();

private:
    int m_maitre = -1;
    int m_esclave = -1;
    mutable std::mutex m_mutex;
    std::string m_texte;
    std::thread m_lecteur;
};

struct Execution {
    int statut = -1;
    std::string sortie;
    std::string erreurs;
    double secondes = 0;
};

// Runs korvane-cli to its end with its output in files.
Execution executerCli(const Dossier& dossier, const std::vector<std::string>& arguments,
                      const Environnement& ajouts = {},
                      std::chrono::milliseconds limite = std::chrono::seconds(40));

const char* programmeCli();
const char* programmeSim();

} // namespace korvane::essai
