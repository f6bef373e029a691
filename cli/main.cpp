// korvane-cli: the headless updater, for benches and scripts.
#include "MiseAJourCli.h"
#include "loader/PortNames.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::atomic<bool> g_arret{false};

void surSignal(int)
{
    g_arret.store(true); // lock-free, so safe in a handler
}

void aide(std::FILE* f)
{
    std::fputs("Usage: korvane-cli --port PORT\n"
               "\n"
               "Installs firmware 16.3 into a Korvane connected to PORT, with the same connection\n"
               "wait, checks, time limits and texts as the wizard: switch the device on within\n"
               "about 45 seconds after starting.\n"
               "\n"
               "PORT is COM1..COM10 (mapped to $KORVANE_COMn when set, otherwise /dev/ttyS<n-1>)\n"
               "or the path of a serial device.\n"
               "\n"
               "Exit status:\n"
               "   0  the device was updated\n"
               "   1  bad command line\n"
               "   2  connection failed: no serial port at PORT, or the device never answered\n"
               "   3  transmission error: disconnect and reconnect the battery, then try again\n"
               "   4  stopped by SIGINT, SIGTERM or SIGHUP\n"
               "  10  refused: the device is not a Korvane\n"
               "  11  refused: the serial number is not valid\n"
               "  12  refused: the device already has this version or a newer one\n"
               "  13  refused: this update is not for this version of the device\n",
               f);
}

int erreurUsage(const std::string& message)
{
    std::fprintf(stderr, "korvane-cli: %s\n\n", message.c_str());
    aide(stderr);
    return korvane::SORTIE_USAGE;
}

// "COMn", "\.\COMn" (n = 1..10) give the port index; anything else is a path.
int indexPort(const std::string& port)
{
    std::string nom = port;
    if (nom.rfind("\\.\\", 0) == 0)
        nom = nom.substr(3);
    if (nom.size() >= 4 && nom.size() <= 5 && nom.compare(0, 3, "COM") == 0) {
        char* fin = nullptr;
        const long n = std::strtol(nom.c_str() + 3, &fin, 10);
        if (*fin == '\0' && n >= 1 && n <= 10)
            return static_cast<int>(n - 1);
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string port;
    bool portDonne = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            aide(stdout);
            return 0;
        }
        if (a == "--port" || a.rfind("--port=", 0) == 0) {
            if (portDonne)
                return erreurUsage("--port given more than once");
            portDonne = true;
            if (a == "--port") {
                if (i + 1 >= argc)
                    return erreurUsage("--port needs a value");
                port = argv[++i];
            } else {
                port = a.substr(7);
            }
            if (port.empty())
                return erreurUsage("--port needs a value");
        } else {
            return erreurUsage("unknown argument '" + a + "'");
        }
    }
    if (!portDonne)
        return erreurUsage("--port is required");

    korvane::OptionsCli options;
    options.indexPort = indexPort(port);
    if (options.indexPort < 0) {
        // A path: it takes the place of COM1 for this run, through the usual mapping.
        ::setenv("KORVANE_COM1", port.c_str(), 1);
        options.indexPort = 0;
    }
    const char* nom = korvane::NomsPorts[options.indexPort];
    const std::string chemin = korvane::cheminPort(nom);

    // A port that is not there will not appear by itself: say so now rather than after the
    // whole connection wait. One that exists but is held may be freed while we wait.
    switch (korvane::sonderPort(nom)) {
    case korvane::ProbePort::Inexistant:
        std::fprintf(stderr, "korvane-cli: no serial port at %s\n", chemin.c_str());
        return korvane::SORTIE_ECHEC_CONNEXION;
    case korvane::ProbePort::Indisponible: {
        const int erreur = errno;
        std::fprintf(stderr, "korvane-cli: %s cannot be opened now (%s); waiting for it\n",
                     chemin.c_str(), std::strerror(erreur));
        break;
    }
    case korvane::ProbePort::Ouvert:
        break;
    }

    options.terminal = ::isatty(STDOUT_FILENO) != 0;
    options.arret = &g_arret;

    // A stop request ends the run between two ticks, so that the loader connection is reset
    // and the port restored and closed. A closed output pipe must not kill us before that.
    struct sigaction sa = {};
    sa.sa_handler = surSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    return korvane::executerMiseAJour(options);
}
