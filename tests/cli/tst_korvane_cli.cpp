// korvane-cli as a program against korvane-sim: its command line, every outcome that ends
// early (refusals, transmission errors, a stop by a signal), its output on a file and on a
// terminal, and the line it leaves behind.

#include "Processus.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace korvane::essai;
using namespace std::chrono_literals;

namespace {

// What every run prints first: the connection wait, up to the first tick.
const std::string ENTETE = "== Attente de la Connexion ==\n"
                           "Mettre en marche le Korvane\n"
                           "Le temps restant pour allumer votre Korvane est de 30.0 s\n";
const std::string VERIFICATION = "== Vérification de l'appareil ==\n";
const std::string TYPE_BON = "Le type de l'appareil est le bon.\n";
const std::string NUMERO_DEFAUT = "Le numéro de série de l'appareil est le : 0612345678\n";
const std::string PREPARATION = "Préparation pour la transmission du programme\n";
const std::string PROGRAMMATION = "== Programmation du Korvane ==\n"
                                  "Transmission du programme au Korvane\n"
                                  "Avancement de la mise à jour : 0.0 %\n";
// The error box's text, without the box's closing question.
const std::string PROBLEME_TRANSMISSION =
    "Un Problème de transmission s'est produit.\n"
    "\n"
    "Pour essayer une nouvelle fois, vous devez d'abord : \n"
    "   Déconnecter puis reconnecter la pile et faire une nouvelle tentative.\n";

// EEPROM cells of the installed version, and the default serial number's cells.
constexpr std::size_t VERSION_MAJEURE = 126, VERSION_MINEURE = 127;

void attendreVersion(const korvane::sim::Vidage& v, int majeure, int mineure)
{
    EXPECT_EQ(v.eeprom[VERSION_MAJEURE], majeure);
    EXPECT_EQ(v.eeprom[VERSION_MINEURE], mineure);
}

} // namespace

// ---- Command line ---------------------------------------------------------------------------

struct CasUsage {
    const char* nom;
    std::vector<std::string> arguments;
    int statut;
    const char* erreur; // expected on stderr
};

void PrintTo(const CasUsage& c, std::ostream* os)
{
    *os << c.nom;
}

class LigneDeCommande : public ::testing::TestWithParam<CasUsage> {};

TEST_P(LigneDeCommande, refuses_bad_arguments_at_once)
{
    const CasUsage& c = GetParam();
    Dossier d;
    const Execution e = executerCli(d, c.arguments, {}, 10s);
    EXPECT_EQ(e.statut, c.statut) << e.erreurs;
    EXPECT_EQ(e.sortie, "");
    EXPECT_NE(e.erreurs.find(c.erreur), std::string::npos) << e.erreurs;
    // No connection wait: a missing port is told at once, not after 45 s.
    EXPECT_LT(e.secondes, 2.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, LigneDeCommande,
    ::testing::Values(
        CasUsage{"no_argument", {}, 1, "korvane-cli: --port is required\n\nUsage:"},
        CasUsage{"unknown_option", {"--vite"}, 1, "korvane-cli: unknown argument '--vite'"},
        CasUsage{"port_without_value", {"--port"}, 1, "--port needs a value"},
        CasUsage{"port_empty", {"--port="}, 1, "--port needs a value"},
        CasUsage{"port_twice", {"--port", "COM1", "--port", "COM2"}, 1, "more than once"},
        CasUsage{"missing_path",
                 {"--port", "/nonexistent/ttyK"},
                 2,
                 "korvane-cli: no serial port at /nonexistent/ttyK\n"},
        CasUsage{"com_name_out_of_range_is_a_path",
                 {"--port", "COM11"},
                 2,
                 "no serial port at COM11\n"}),
    [](const auto& info) { return std::string(info.param.nom); });

TEST(LigneDeCommande, help_lists_the_usage_and_every_exit_status)
{
    Dossier d;
    for (const char* option : {"--help", "-h"}) {
        const Execution e = executerCli(d, {"--port", "COM1", option}, {}, 10s);
        EXPECT_EQ(e.statut, 0);
        EXPECT_EQ(e.erreurs, "");
        EXPECT_EQ(e.sortie.rfind("Usage: korvane-cli --port PORT\n", 0), 0u) << e.sortie;
        for (const char* ligne :
             {"\n   0  the device was updated", "\n   1  bad command line",
              "\n   2  connection failed", "\n   3  transmission error", "\n   4  stopped by",
              "\n  10  refused", "\n  11  refused", "\n  12  refused", "\n  13  refused"})
            EXPECT_NE(e.sortie.find(ligne), std::string::npos) << ligne;
    }
}

// ---- Outcomes that end the run before the firmware is sent ---------------------------------

struct CasIssue {
    const char* nom;
    std::vector<std::string> simulateur; // options of korvane-sim
    int statut;
    std::string lignes; // what the run prints after the connection wait
    bool ligneRestauree = true;
    bool parCom = false; // name the port COM3 (mapped by KORVANE_COM3) rather than by path
    int majeure = 16, mineure = 2; // the device's version, which must stay as it was
};

void PrintTo(const CasIssue& c, std::ostream* os)
{
    *os << c.nom;
}

class Issue : public ::testing::TestWithParam<CasIssue> {};

TEST_P(Issue, prints_the_outcome_and_leaves_the_device_and_the_line_as_they_were)
{
    const CasIssue& c = GetParam();
    Dossier d;
    Simulateur sim(d, c.simulateur);
    ASSERT_TRUE(sim.pret());
    ReglagesEtrangers reglages(sim.ligne());
    ASSERT_TRUE(reglages.ouverte());

    const Execution e = c.parCom
                            ? executerCli(d, {"--port", "COM3"}, {{"KORVANE_COM3", sim.ligne()}})
                            : executerCli(d, {"--port", sim.ligne()});

    EXPECT_EQ(e.statut, c.statut) << e.erreurs;
    // Plain output (not a terminal): whole lines, the outcome text last.
    EXPECT_EQ(e.sortie, ENTETE + c.lignes);
    EXPECT_EQ(e.erreurs, "");
    if (c.ligneRestauree)
        EXPECT_TRUE(reglages.retrouves());

    const auto vidage = sim.arreter();
    ASSERT_TRUE(vidage);
    // Nothing was written that a later attempt would have to undo.
    attendreVersion(*vidage, c.majeure, c.mineure);
    if (c.statut != 3)
        EXPECT_TRUE(vidage->mots.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refus, Issue,
    ::testing::Values(
        CasIssue{
            "type", {"--type", "K28"}, 10, VERIFICATION + "L'appareil n'est pas un Korvane.\n"},
        CasIssue{"mode",
                 {"--mode", "2"},
                 13,
                 VERIFICATION + TYPE_BON +
                     "    Cette mise à jour n'est pas pour cette version du Korvane.\n"
                     "Veuillez contacter votre revendeur ou vantorel muni du numéro de série de "
                     "votre Korvane.\n"},
        // The number is shown before it is judged, ten digits with a leading zero.
        CasIssue{"serial_number",
                 {"--serial", "599999999"},
                 11,
                 VERIFICATION + TYPE_BON +
                     "Le numéro de série de l'appareil est le : 0599999999\n"
                     "Le numéro de série de l'appareil n'est pas valide.\n"
                     "\n"
                     "Contacter notre service technique (tél. : +00 (0)000 00 00 00.\n"},
        CasIssue{"same_version",
                 {"--version", "16.3"},
                 12,
                 VERIFICATION + TYPE_BON + NUMERO_DEFAUT +
                     "Votre Korvane a déjà cette mise à jour.\n",
                 true,
                 true,
                 16,
                 3},
        CasIssue{"newer_version",
                 {"--version", "17.0"},
                 12,
                 VERIFICATION + TYPE_BON + NUMERO_DEFAUT +
                     "Votre Korvane à une mise à jour plus récente.\n",
                 true,
                 false,
                 17,
                 0}),
    [](const auto& info) { return std::string(info.param.nom); });

INSTANTIATE_TEST_SUITE_P(
    ErreurTransmission, Issue,
    ::testing::Values(
        CasIssue{"prepare",
                 {"--fault", "prepare:ack"},
                 3,
                 VERIFICATION + TYPE_BON + NUMERO_DEFAUT + PREPARATION + PROBLEME_TRANSMISSION},
        CasIssue{"enter_programming",
                 {"--fault", "enter:ack"},
                 3,
                 VERIFICATION + TYPE_BON + NUMERO_DEFAUT + PREPARATION + PROBLEME_TRANSMISSION},
        // Every attempt at the first word is answered wrongly: the loader's retries give up.
        CasIssue{"every_word_write",
                 {"--ack-fault-at", "1", "--fault-count", "0"},
                 3,
                 VERIFICATION + TYPE_BON + NUMERO_DEFAUT + PREPARATION + PROGRAMMATION +
                     PROBLEME_TRANSMISSION},
        // The line drops for good: there are no settings left to restore on it.
        CasIssue{"line_dropped",
                 {"--hangup-at", "10"},
                 3,
                 VERIFICATION + TYPE_BON + NUMERO_DEFAUT + PREPARATION + PROGRAMMATION +
                     PROBLEME_TRANSMISSION,
                 false}),
    [](const auto& info) { return std::string(info.param.nom); });

// ---- A stop by a signal ---------------------------------------------------------------------

struct CasArret {
    const char* nom;
    int signal;
    bool terminal;          // standard output on a terminal: the bar, redrawn in place
    const char* avantArret; // the output the signal waits for
    const char* message;    // expected on stderr
    bool programmation;     // stopped while the firmware goes
};

void PrintTo(const CasArret& c, std::ostream* os)
{
    *os << c.nom;
}

class Arret : public ::testing::TestWithParam<CasArret> {};

TEST_P(Arret, stops_between_ticks_and_restores_the_line)
{
    const CasArret& c = GetParam();
    Dossier d;
    // Late enough that the device never answers a wait that is stopped.
    Simulateur sim(d, c.programmation ? std::vector<std::string>{}
                                      : std::vector<std::string>{"--late", "1000"});
    ASSERT_TRUE(sim.pret());
    ReglagesEtrangers reglages(sim.ligne());
    ASSERT_TRUE(reglages.ouverte());

    const fs::path fichierSortie = d.chemin() / "sortie.txt";
    const fs::path fichierErreurs = d.chemin() / "erreurs.txt";
    const int fdErreurs = ::open(fichierErreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    SortieTerminal terminal;
    const int fdSortie =
        c.terminal ? terminal.esclave() : ::open(fichierSortie.c_str(), O_WRONLY | O_CREAT, 0644);
    const pid_t pid = lancer({programmeCli(), "--port", sim.ligne()}, fdSortie, fdErreurs);
    ::close(fdErreurs);
    if (c.terminal)
        terminal.fermerEsclave();
    else
        ::close(fdSortie);
    ASSERT_GT(pid, 0);
    auto sortie = [&] { return c.terminal ? terminal.contenu() : lireFichier(fichierSortie); };

    const bool vu =
        attendreQue([&] { return sortie().find(c.avantArret) != std::string::npos; }, 30s);
    if (c.programmation) // the updater holds the line with its own settings meanwhile
        EXPECT_FALSE(reglages.retrouves());
    ::kill(pid, c.signal);
    const auto envoi = Horloge::now();
    const int statut = attendreFin(pid, 10s);
    const double delai = std::chrono::duration<double>(Horloge::now() - envoi).count();
    ASSERT_TRUE(vu) << sortie();

    EXPECT_EQ(statut, 4);
    // Between ticks the stop is seen within a slice of the wait; a tick in progress ends first.
    EXPECT_LT(delai, 3.0);
    EXPECT_EQ(lireFichier(fichierErreurs), c.message);
    EXPECT_TRUE(reglages.retrouves());

    const std::string texte = c.terminal ? terminal.tout() : sortie();
    EXPECT_EQ(texte.rfind(c.terminal ? "== Attente de la Connexion ==\n"
                                       "Mettre en marche le Korvane\n"
                                       "\r\033[KLe temps restant pour allumer votre Korvane "
                                       "est de 30.0 s\n"
                                     : ENTETE,
                          0),
              0u)
        << texte;
    // The line the bar was drawn on is ended, and no outcome text follows.
    ASSERT_FALSE(texte.empty());
    EXPECT_EQ(texte.back(), '\n');
    EXPECT_EQ(texte.find("Problème"), std::string::npos);
    EXPECT_EQ(texte.find("réussie"), std::string::npos);

    const auto vidage = sim.arreter();
    ASSERT_TRUE(vidage);
    // Stopped in the middle of the firmware: the old version stays, so a new attempt passes.
    attendreVersion(*vidage, 16, 2);
    EXPECT_EQ(vidage->mots.empty(), !c.programmation);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Arret,
    ::testing::Values(
        CasArret{"sigint_while_waiting", SIGINT, false,
                 "Le temps restant pour allumer votre Korvane est de 30.0 s\n",
                 "korvane-cli: stopped; nothing was written to the device\n", false},
        // On a terminal the countdown and the bar are redrawn in place on one line.
        CasArret{"sigterm_while_programming_on_a_terminal", SIGTERM, true,
                 "\r\033[K[##", // a twentieth of the way
                 "korvane-cli: stopped during the transmission; the update is not complete: "
                 "disconnect and reconnect the battery, then run the update again\n",
                 true},
        CasArret{"sighup_while_waiting", SIGHUP, false,
                 "Le temps restant pour allumer votre Korvane est de 30.0 s\n",
                 "korvane-cli: stopped; nothing was written to the device\n", false}),
    [](const auto& info) { return std::string(info.param.nom); });

TEST(Terminal, countdown_and_bar_are_redrawn_in_place)
{
    // The transcript of a refused device on a terminal: the same lines as on a file, with the
    // countdown drawn in place and ended before the next line.
    Dossier d;
    Simulateur sim(d, {"--version", "16.3"});
    ASSERT_TRUE(sim.pret());
    SortieTerminal terminal;
    const int fdErreurs = ::open((d.chemin() / "erreurs.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    const pid_t pid =
        lancer({programmeCli(), "--port", sim.ligne()}, terminal.esclave(), fdErreurs);
    ::close(fdErreurs);
    terminal.fermerEsclave();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(attendreFin(pid, 30s), 12);
    EXPECT_EQ(terminal.tout(),
              "== Attente de la Connexion ==\n"
              "Mettre en marche le Korvane\n"
              "\r\033[KLe temps restant pour allumer votre Korvane est de 30.0 s\n" +
                  VERIFICATION + TYPE_BON + NUMERO_DEFAUT +
                  "Votre Korvane a déjà cette mise à jour.\n");
}
