// korvane-sim: a simulated Korvane boot loader on a pseudo-terminal.

#include "sim/SimulateurPty.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

using namespace korvane::sim;

namespace {

SimulateurPty* g_simulateur = nullptr;

extern "C" void surSignal(int)
{
    if (g_simulateur)
        g_simulateur->demanderArret();
}

constexpr const char* AIDE = R"(Usage: korvane-sim [OPTION]...
Plays a Korvane's boot loader on a pseudo-terminal until SIGTERM or SIGINT.
Prints "slave PATH" (and "link PATH" with --link) on stdout once the line is ready.

Device:
  --link PATH          make PATH a symbolic link to the line (removed at exit)
  --type XYZ           three-character type code (default K27)
  --mode N             mode byte (default 3; in mode 1 word addresses are not scrambled)
  --serial N           serial number (default 612345678, EEPROM 120..123, low byte first)
  --version MAJ.MIN    installed version (default 16.2, EEPROM 126 and 127)
  --pace               pace the line at 9600 baud (11 bits a byte, each direction)
  --dump FILE          at exit, write the memory to FILE:
                         "W aaaa vvvv"  a written program word (address, value; hex)
                         "E aa vv"      every EEPROM cell (address, value; hex)
                         lines starting with '#' are comments

Faults:
  --late N             stay off for the first N handshakes (the user switches on late)
  --busy-first         answer 0x85 to the first handshake heard, once
  --lowercase          send every hexadecimal character in lowercase
  --ack-fault-at N     answer the Nth program-word write (counted from 1, retries
                       included) with a wrong byte instead of 0x84
  --silence-at N       do not answer the Nth program-word write
  --hangup-at N        drop the line at the Nth program-word write
  --fault-count K      how many writes from the Nth one the three options above hit
                       (default 1, so a retry succeeds; 0: that one and every later one)
  --fault PHASE:FAULT[:N[:K]]
                       general form, repeatable: the Nth command of PHASE (default 1)
                       and the K-1 after it (default K 1; 0: all later) get FAULT.
                       PHASE: handshake reset type mode serial version eeprom-read prepare
                              enter word version-write eeprom-write leave
                       FAULT: silence  no answer, no effect
                              ack      the wrong byte in place of the answer's first byte
                              noise    a stray byte before the answer
                              lowercase  the answer's characters in lowercase
                              hangup   drop the line for good
  --wrong-byte B       the wrong byte (default 0x00)
  --noise-byte B       the stray byte (default 0xAA)
  --help               show this help
)";

bool entier(const char* texte, unsigned long max, unsigned long& valeur, int base = 10)
{
    if (!texte || !*texte || *texte == '-')
        return false;
    errno = 0;
    char* fin = nullptr;
    valeur = std::strtoul(texte, &fin, base);
    return errno == 0 && *fin == '\0' && valeur <= max;
}

int usage(const std::string& message)
{
    std::cerr << "korvane-sim: " << message << "\nTry 'korvane-sim --help'.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Configuration config;
    OptionsPty options;
    std::string vidage;
    unsigned long nombreDefauts = 1;
    std::vector<std::pair<Panne, unsigned long>> defautsMot; // --ack-fault-at and the like

    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const char* valeur = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long n = 0;
        auto prendre = [&]() -> const char* {
            ++i;
            return valeur;
        };
        if (option == "--help") {
            std::cout << AIDE;
            return 0;
        } else if (option == "--pace") {
            options.cadence = true;
        } else if (option == "--busy-first") {
            config.repriseAvantConnexion = true;
        } else if (option == "--lowercase") {
            config.minuscules = true;
        } else if (!valeur) {
            return usage("unknown option or missing value: " + std::string(option));
        } else if (option == "--link") {
            options.lien = prendre();
        } else if (option == "--dump") {
            vidage = prendre();
        } else if (option == "--type") {
            if (std::strlen(valeur) != 3)
                return usage("--type needs exactly three characters");
            config.codeType = prendre();
        } else if (option == "--mode") {
            if (!entier(prendre(), 255, n))
                return usage("--mode needs 0..255");
            config.mode = static_cast<std::uint8_t>(n);
        } else if (option == "--serial") {
            if (!entier(prendre(), 0xFFFFFFFFul, n))
                return usage("--serial needs 0..4294967295");
            config.numeroSerie = static_cast<std::uint32_t>(n);
        } else if (option == "--version") {
            const std::string texte = prendre();
            const auto point = texte.find('.');
            unsigned long maj = 0, min = 0;
            if (point == std::string::npos || !entier(texte.substr(0, point).c_str(), 255, maj) ||
                !entier(texte.substr(point + 1).c_str(), 255, min))
                return usage("--version needs MAJ.MIN, each 0..255");
            config.versionMajeure = static_cast<std::uint8_t>(maj);
            config.versionMineure = static_cast<std::uint8_t>(min);
        } else if (option == "--late") {
            if (!entier(prendre(), 0xFFFFFFFFul, n))
                return usage("--late needs a count");
            config.connexionsIgnorees = static_cast<std::uint32_t>(n);
        } else if (option == "--ack-fault-at" || option == "--silence-at" ||
                   option == "--hangup-at") {
            if (!entier(prendre(), 0xFFFFFFFFul, n) || n == 0)
                return usage(std::string(option) + " needs a write number from 1");
            const Panne p = option == "--ack-fault-at" ? Panne::MauvaisAcquit
                            : option == "--silence-at" ? Panne::Silence
                                                       : Panne::Raccroche;
            defautsMot.emplace_back(p, n);
        } else if (option == "--fault-count") {
            if (!entier(prendre(), 0xFFFFFFFFul, nombreDefauts))
                return usage("--fault-count needs a count (0: all later)");
        } else if (option == "--fault") {
            auto d = analyserDefaut(prendre());
            if (!d)
                return usage("bad --fault " + std::string(valeur));
            config.defauts.push_back(*d);
        } else if (option == "--wrong-byte" || option == "--noise-byte") {
            if (!entier(prendre(), 255, n, 0))
                return usage(std::string(option) + " needs a byte");
            (option == "--wrong-byte" ? config.octetFaux : config.octetBruit) =
                static_cast<std::uint8_t>(n);
        } else {
            return usage("unknown option: " + std::string(option));
        }
    }
    for (const auto& [panne, n] : defautsMot)
        config.defauts.push_back({Phase::MotProgramme, panne, static_cast<std::uint32_t>(n),
                                  static_cast<std::uint32_t>(nombreDefauts)});

    SimulateurPty simulateur(config, options);
    std::string erreur;
    if (!simulateur.ouvrir(&erreur)) {
        std::cerr << "korvane-sim: " << erreur << '\n';
        return 1;
    }
    g_simulateur = &simulateur;
    struct sigaction action {};
    action.sa_handler = surSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::cout << "slave " << simulateur.cheminEsclave() << '\n';
    if (!options.lien.empty())
        std::cout << "link " << options.lien << '\n';
    std::cout.flush();

    simulateur.executer();
    simulateur.arreter();
    g_simulateur = nullptr;

    if (!vidage.empty()) {
        // Written beside and renamed, so a reader never sees half a dump.
        const std::string provisoire = vidage + ".part";
        {
            std::ofstream fichier(provisoire, std::ios::trunc);
            ecrireVidage(simulateur.instantane(), fichier);
            fichier.flush();
            if (!fichier) {
                std::cerr << "korvane-sim: cannot write " << provisoire << '\n';
                return 1;
            }
        }
        if (std::rename(provisoire.c_str(), vidage.c_str()) != 0) {
            std::cerr << "korvane-sim: cannot write " << vidage << ": " << std::strerror(errno)
                      << '\n';
            return 1;
        }
    }
    return 0;
}
