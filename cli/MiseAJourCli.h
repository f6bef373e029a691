#pragma once

#include <atomic>
#include <cstdio>
#include <string>

namespace korvane {

// Exit statuses of the headless updater.
enum CodeSortie : int {
    SORTIE_MISE_A_JOUR = 0,         // the device was updated
    SORTIE_USAGE = 1,               // bad command line
    SORTIE_ECHEC_CONNEXION = 2,     // the device never answered the handshake
    SORTIE_ERREUR_TRANSMISSION = 3, // a loader exchange failed during verification or programming
    SORTIE_INTERROMPU = 4,          // stopped by SIGINT or SIGTERM
    SORTIE_REFUS_TYPE = 10,         // not a Korvane (type code)
    SORTIE_REFUS_NUMERO_SERIE = 11, // serial number out of range
    SORTIE_REFUS_VERSION = 12,      // firmware already 16.3 or newer
    SORTIE_REFUS_MODE = 13,         // mode byte is not 3
};

struct OptionsCli {
    int indexPort = 0; // the port to use: "\.\COM<indexPort+1>"
    bool terminal = false;
    std::FILE* sortie = stdout;               // step lines, progress and the outcome text
    std::FILE* erreurs = stderr;              // the updater's own notes (a stop by a signal)
    const std::atomic<bool>* arret = nullptr; // set from a signal handler to stop
};

// Runs the connection wait, the verification and the programming on the built-in image,
// with the wizard's engine, time limits and texts, and returns a CodeSortie. Whatever the
// outcome, the loader connection is reset and the port closed with its own settings restored
// before it returns.
int executerMiseAJour(const OptionsCli& options);

} // namespace korvane
