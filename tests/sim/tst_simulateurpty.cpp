// The simulator on a pseudo-terminal, answered through a raw descriptor on its line, and the
// korvane-sim program itself.

#include "sim/SimulateurPty.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace korvane::sim;
namespace fs = std::filesystem;
using Octets = std::vector<std::uint8_t>;
using Horloge = std::chrono::steady_clock;

namespace {

// The PC side: the slave opened raw, as the loader's port would leave it.
class Ligne {
public:
    explicit Ligne(const std::string& chemin)
    {
        m_fd = ::open(chemin.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Ligne()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ouverte() const { return m_fd >= 0; }
    void ecrire(const Octets& octets)
    {
        for (std::uint8_t b : octets)
            ASSERT_EQ(::write(m_fd, &b, 1), 1);
    }
    // Up to n bytes, waiting at most `limite` for each.
    Octets lire(std::size_t n, std::chrono::milliseconds limite = std::chrono::seconds(2))
    {
        Octets recu;
        while (recu.size() < n) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(limite.count())) <= 0 || !(p.revents & POLLIN))
                break;
            std::uint8_t b = 0;
            if (::read(m_fd, &b, 1) != 1)
                break;
            recu.push_back(b);
        }
        return recu;
    }
    // Whether the line reports a hang-up (or an error) within the limit.
    bool raccrochee(std::chrono::milliseconds limite)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limite.count())) <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        std::uint8_t b = 0;
        return ::read(m_fd, &b, 1) <= 0;
    }

private:
    int m_fd = -1;
};

// A temporary directory removed with the test.
struct Dossier {
    fs::path chemin;
    Dossier()
    {
        std::string modele = (fs::temp_directory_path() / "korvane-sim-XXXXXX").string();
        chemin = ::mkdtemp(modele.data());
    }
    ~Dossier() { fs::remove_all(chemin); }
};

} // namespace

TEST(SimulateurPty, answers_on_its_line_and_keeps_the_memory)
{
    SimulateurPty sim;
    std::string erreur;
    ASSERT_TRUE(sim.demarrer(&erreur)) << erreur;
    Ligne ligne(sim.cheminEsclave());
    ASSERT_TRUE(ligne.ouverte());

    ligne.ecrire({0x80});
    EXPECT_EQ(ligne.lire(1), Octets{0x81});
    ligne.ecrire({0x86});
    std::string type;
    for (int i = 0; i < 6; ++i) {
        const Octets c = ligne.lire(1);
        ASSERT_EQ(c.size(), 1u);
        type.push_back(static_cast<char>(c[0]));
        ligne.ecrire({0x84});
    }
    EXPECT_EQ(type, "4B3237");
    // Prepare, enter programming, one word at 48 (scrambled), then the version.
    ligne.ecrire(
        {0x83, 0x90, 0x8D, '5', 'E', 'A', '3', '4', 'F', '1', '9', 0x8B, '7', 'E', '1', '0'});
    EXPECT_EQ(ligne.lire(4), (Octets{0x84, 0x84, 0x84, 0x84}));
    sim.arreter();

    const Appareil a = sim.instantane();
    EXPECT_EQ(a.compteurs().connexions, 1u);
    EXPECT_TRUE(a.motEcrit(48));
    EXPECT_EQ(a.mot(48), 0x118A);
    EXPECT_EQ(a.eeprom(126), 0x10);
    EXPECT_EQ(a.etat(), EtatAppareil::Programmation);
}

TEST(SimulateurPty, serves_one_client_after_another)
{
    SimulateurPty sim;
    ASSERT_TRUE(sim.demarrer());
    for (int client = 0; client < 3; ++client) {
        Ligne ligne(sim.cheminEsclave());
        ASSERT_TRUE(ligne.ouverte()) << client;
        ligne.ecrire({0x80});
        EXPECT_EQ(ligne.lire(1), Octets{0x81}) << client;
        ligne.ecrire({0x04});
        EXPECT_EQ(ligne.lire(1), Octets{0x84}) << client;
    }
    sim.arreter();
    EXPECT_EQ(sim.instantane().compteurs().reinitialisations, 3u);
}

TEST(SimulateurPty, link_made_at_start_and_removed_at_stop)
{
    Dossier dossier;
    const fs::path lien = dossier.chemin / "ttyKorvane";
    fs::create_symlink("/nonexistent", lien); // a stale link from an earlier run is replaced
    {
        SimulateurPty sim({}, {lien.string(), false});
        ASSERT_TRUE(sim.demarrer());
        ASSERT_TRUE(fs::is_symlink(lien));
        EXPECT_EQ(fs::read_symlink(lien).string(), sim.cheminEsclave());
        Ligne ligne(lien.string());
        ligne.ecrire({0x80});
        EXPECT_EQ(ligne.lire(1), Octets{0x81});
        sim.arreter();
        EXPECT_FALSE(fs::exists(fs::symlink_status(lien)));
    }

    // Something that is not a link is never replaced.
    std::ofstream(lien) << "keep";
    SimulateurPty sim({}, {lien.string(), false});
    std::string erreur;
    EXPECT_FALSE(sim.ouvrir(&erreur));
    EXPECT_NE(erreur.find(lien.string()), std::string::npos) << erreur;
    sim.arreter();
    std::ifstream relu(lien);
    std::string texte;
    relu >> texte;
    EXPECT_EQ(texte, "keep");
}

TEST(SimulateurPty, paces_bytes_at_line_rate)
{
    // 40 handshakes back to back: each takes 11 bits at 9600 baud to reach the device and
    // its answer as much to come back, one byte after another in each direction.
    constexpr int n = 40;
    SimulateurPty sim({}, {"", true});
    ASSERT_TRUE(sim.demarrer());
    Ligne ligne(sim.cheminEsclave());
    const auto debut = Horloge::now();
    ligne.ecrire(Octets(n, 0x80));
    const Octets premier = ligne.lire(1);
    const auto tPremier = Horloge::now() - debut;
    const Octets reste = ligne.lire(n - 1);
    const auto total = Horloge::now() - debut;
    sim.arreter();
    ASSERT_EQ(premier.size() + reste.size(), static_cast<std::size_t>(n));
    EXPECT_GE(tPremier, std::chrono::nanoseconds(2 * DUREE_OCTET_NS));
    EXPECT_GE(total, std::chrono::nanoseconds((n + 1) * DUREE_OCTET_NS));
    // Roughly: a loaded machine may add latency, but not ten times the line's own.
    EXPECT_LT(total, std::chrono::nanoseconds(10 * (n + 1) * DUREE_OCTET_NS));
}

TEST(SimulateurPty, a_hang_up_closes_the_line)
{
    Configuration config;
    config.defauts = {{Phase::Mode, Panne::Raccroche}};
    SimulateurPty sim(config);
    ASSERT_TRUE(sim.demarrer());
    const std::string chemin = sim.cheminEsclave();
    Ligne ligne(chemin);
    ligne.ecrire({0x80});
    EXPECT_EQ(ligne.lire(1), Octets{0x81});
    ligne.ecrire({0x87});
    EXPECT_TRUE(ligne.raccrochee(std::chrono::seconds(2)));
    EXPECT_TRUE(sim.raccroche());
    // And it stays closed: the line cannot be opened again.
    EXPECT_FALSE(Ligne(chemin).ouverte());
    sim.arreter();
}

TEST(SimulateurPty, stop_is_clean_without_a_client_and_twice)
{
    SimulateurPty sim;
    ASSERT_TRUE(sim.demarrer());
    const std::string chemin = sim.cheminEsclave();
    const auto debut = Horloge::now();
    sim.arreter();
    sim.arreter();
    EXPECT_LT(Horloge::now() - debut, std::chrono::seconds(1));
    EXPECT_FALSE(Ligne(chemin).ouverte());
}

// The program: options, the line it prints, and its dump on SIGTERM.
namespace {

struct Resultat {
    int statut = -1;
    std::string sortie;
};

// Runs korvane-sim with the arguments; when `pendant` is given the program is left running
// while it is called with the printed lines, then stopped with SIGTERM.
template <typename F>
Resultat lancer(std::vector<std::string> arguments, F pendant)
{
    int tube[2];
    if (::pipe(tube) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(tube[1], STDOUT_FILENO);
        ::close(tube[0]);
        ::close(tube[1]);
        std::vector<char*> argv{const_cast<char*>(KORVANE_SIM_PROGRAMME)};
        for (auto& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(tube[1]);
    Resultat r;
    FILE* flux = ::fdopen(tube[0], "r");
    char ligne[512];
    std::vector<std::string> lignes;
    // Up to the "slave" and "link" lines, or to the end for a program that exits.
    while (std::fgets(ligne, sizeof ligne, flux)) {
        r.sortie += ligne;
        lignes.emplace_back(ligne);
        if (lignes.back().rfind("slave ", 0) == 0 && !pendant(lignes))
            break;
    }
    if (!lignes.empty() && lignes[0].rfind("slave ", 0) == 0)
        ::kill(pid, SIGTERM);
    while (std::fgets(ligne, sizeof ligne, flux))
        r.sortie += ligne;
    std::fclose(flux);
    int statut = 0;
    ::waitpid(pid, &statut, 0);
    r.statut = WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
    return r;
}

} // namespace

TEST(KorvaneSim, writes_its_dump_and_removes_its_link_on_sigterm)
{
    Dossier dossier;
    const std::string lien = (dossier.chemin / "ligne").string();
    const std::string vidage = (dossier.chemin / "memoire.txt").string();
    const Resultat r =
        lancer({"--link", lien, "--dump", vidage, "--serial", "600000001", "--version", "15.7",
                "--mode", "1", "--type", "K28"},
               [&](const std::vector<std::string>& lignes) {
                   EXPECT_EQ(lignes[0], "slave " + fs::read_symlink(lien).string() + "\n");
                   Ligne ligne(lien);
                   ligne.ecrire({0x80, 0x87});
                   EXPECT_EQ(ligne.lire(2), (Octets{0x81, '0'}));
                   ligne.ecrire({0x84});
                   EXPECT_EQ(ligne.lire(1), Octets{'1'});
                   // Mode 1: the address 0x0031 goes as it is, the data 0x2952 scrambled.
                   ligne.ecrire({0x84, 0x83, 0x90, 0x8D, '0', '0', '3', '1', '7', '7', 'C', '1'});
                   EXPECT_EQ(ligne.lire(3), (Octets{0x84, 0x84, 0x84}));
                   return false;
               });
    EXPECT_EQ(r.statut, 0) << r.sortie;
    EXPECT_NE(r.sortie.find("link " + lien + "\n"), std::string::npos) << r.sortie;
    EXPECT_FALSE(fs::exists(fs::symlink_status(lien)));

    std::ifstream fichier(vidage);
    const auto v = lireVidage(fichier);
    ASSERT_TRUE(v);
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> mots{{0x31, 0x2952}};
    EXPECT_EQ(v->mots, mots);
    // 600000001 = 0x23C34601, least significant byte first; version 15.7.
    EXPECT_EQ(v->eeprom[120], 0x01);
    EXPECT_EQ(v->eeprom[121], 0x46);
    EXPECT_EQ(v->eeprom[122], 0xC3);
    EXPECT_EQ(v->eeprom[123], 0x23);
    EXPECT_EQ(v->eeprom[126], 15);
    EXPECT_EQ(v->eeprom[127], 7);
    EXPECT_EQ(v->eeprom[0], 0xFF);
}

TEST(KorvaneSim, fault_options_reach_the_device)
{
    const Resultat r =
        lancer({"--busy-first", "--lowercase", "--fault", "prepare:ack", "--wrong-byte", "0x42"},
               [&](const std::vector<std::string>& lignes) {
                   Ligne ligne(lignes[0].substr(6, lignes[0].size() - 7));
                   ligne.ecrire({0x80});
                   EXPECT_EQ(ligne.lire(1), Octets{0x85});
                   ligne.ecrire({0x04, 0x80, 0x89, '0', '0'});
                   EXPECT_EQ(ligne.lire(3), (Octets{0x84, 0x81, 'f'}));
                   ligne.ecrire({0x84, 0x84, 0x83});
                   EXPECT_EQ(ligne.lire(2), (Octets{'f', 0x42}));
                   return false;
               });
    EXPECT_EQ(r.statut, 0) << r.sortie;
}

TEST(KorvaneSim, refuses_bad_options)
{
    struct Cas {
        std::vector<std::string> arguments;
        int statut;
    };
    const Cas cas[] = {
        {{"--help"}, 0},
        {{"--type", "K2"}, 2},
        {{"--mode", "256"}, 2},
        {{"--serial", "-1"}, 2},
        {{"--version", "16"}, 2},
        {{"--version", "16.x"}, 2},
        {{"--ack-fault-at", "0"}, 2},
        {{"--fault", "word:nak"}, 2},
        {{"--link"}, 2},
        {{"--frobnicate"}, 2},
    };
    for (const Cas& c : cas) {
        const Resultat r = lancer(c.arguments, [](const auto&) { return false; });
        EXPECT_EQ(r.statut, c.statut) << c.arguments[0];
        if (c.statut == 0) {
            EXPECT_NE(r.sortie.find("--fault PHASE:FAULT"), std::string::npos);
        }
    }
}
