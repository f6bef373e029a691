// How long the loader client takes to write the firmware's 5960 program words into the
// simulated device over a pseudo-terminal, with the line unpaced and paced at 9600 baud.
// Usage: korvane-sim-mesure [--pace | --no-pace] [WORDS]   (default: both, 5960 words)

#include "loader/Classek27_v2.h"
#include "loader/PortPosix.h"
#include "sim/SimulateurPty.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace korvane;

namespace {

int mesurer(bool cadence, std::uint32_t nombre)
{
    sim::SimulateurPty simulateur({}, {"", cadence});
    std::string erreur;
    if (!simulateur.demarrer(&erreur)) {
        std::fprintf(stderr, "korvane-sim-mesure: %s\n", erreur.c_str());
        return 1;
    }
    ::setenv("KORVANE_COM1", simulateur.cheminEsclave().c_str(), 1);
    PortPosix port;
    CK27V2 client(port);
    client.ChoisirPort(0);
    std::int32_t mode = 0;
    StatutChargeur s = client.Connecter(1);
    if (s == 0)
        s = client.LireMode(mode);
    if (s == 0)
        s = client.Preparer();
    if (s == 0)
        s = client.EntrerProgrammation();
    if (s != 0) {
        std::fprintf(stderr, "korvane-sim-mesure: session failed with %d\n", s);
        return 1;
    }
    const auto debut = std::chrono::steady_clock::now();
    for (std::uint32_t i = 0; i < nombre && s == 0; ++i)
        s = client.EcrireMotProgramme(ADRESSE_MOT_MIN + i % (ADRESSE_MOT_MAX - ADRESSE_MOT_MIN + 1),
                                      (i * 7919u) & 0x3FFF);
    const std::chrono::duration<double> duree = std::chrono::steady_clock::now() - debut;
    if (s != 0) {
        std::fprintf(stderr, "korvane-sim-mesure: write failed with %d\n", s);
        return 1;
    }
    client.EcrireVersion(16, 3);
    client.SortirProgrammation();
    simulateur.arreter();
    const auto ecrits = simulateur.instantane().compteurs().motsEcrits;
    std::printf("%-8s %u words in %.3f s: %.3f ms a word, %.0f words/s (device stored %u)\n",
                cadence ? "paced" : "unpaced", nombre, duree.count(),
                1000.0 * duree.count() / nombre, nombre / duree.count(), ecrits);
    return ecrits == nombre ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool sans = true, avec = true;
    std::uint32_t nombre = 5960;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pace") == 0)
            sans = false;
        else if (std::strcmp(argv[i], "--no-pace") == 0)
            avec = false;
        else
            nombre = static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 10));
    }
    int statut = 0;
    if (sans)
        statut |= mesurer(false, nombre);
    if (avec)
        statut |= mesurer(true, nombre);
    return statut;
}
