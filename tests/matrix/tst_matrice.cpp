// Every phase of an update against every way a line can fail, end to end: the real window
// and its outcome handlers, the real loader on a real pseudo-terminal, the simulated Korvane.
//
// For each cell: the box the user gets (or success when the loader's retry absorbs a one-off
// fault), the status the engine reported, exactly the silent reads the fault explains (each
// within the 1100 ms read limit) and no other wait, the device's stored version untouched
// unless every record went through, and then - after Yes and reconnecting as a user would,
// on a new line when the old one hung up - a second attempt that leaves the device holding
// exactly the image.

#include "Ligne.h"
#include "Poste.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>

namespace korvane::matrice {
namespace {

using sim::Panne;
using sim::Phase;

// The device's answers to one whole update take about a second on an unpaced line; this is
// what an attempt may take beyond its silences, with room for a loaded machine.
constexpr double TRAVAIL_MAX_MS = 8000;
constexpr double LECTURE_MS = 1100;   // the read limit: 100 ms per byte + 1000 ms
constexpr double RETARD_MAX_MS = 300; // how late a silent read may end on a loaded machine
constexpr double ECHEC_MAX_MS = 100;  // a line gone is told at once, never after a wait

// Occurrences of the word write that the matrix hits: the image has 5960 words.
constexpr std::uint32_t PREMIER_MOT = 1;
constexpr std::uint32_t MOT_DU_MILIEU = 2980;
constexpr std::uint32_t DERNIER_MOT = 5960;

struct Cellule {
    const char* nom;
    Phase phase;
    std::uint32_t occurrence; // which command of that phase the fault hits first
    Panne panne;
    std::uint32_t nombre; // how many commands in a row it hits (0: no fault at all)
    Issue issue;          // what the user is told
    std::intptr_t detail; // the refusal's reason or the transmission error's status
    std::size_t muettes;  // silent reads the fault causes, 1100 ms each
    const char* sens;     // what the fault means in this phase
    std::uint8_t majeure = 16;
    std::uint8_t mineure = 2;
    std::uint32_t numeroLu = 0; // the serial number the verification read, when it is checked
};

constexpr std::intptr_t DELAI = ERREUR_DELAI;
constexpr std::intptr_t ACQUIT = ERREUR_ACQUITTEMENT;
constexpr std::intptr_t LIGNE = EIO; // what a read or write on a line gone reports

// The matrix: phases x faults. "Once" cells hit one command; the loader retries only word
// writes, so "x3" cells hit a word write and both its retries.
const Cellule kCellules[] = {
    {"reference", Phase::Connexion, 1, Panne::Silence, 0, Issue::Reussite, 0, 0,
     "no fault: the update every other cell is measured against"},

    // Handshake (0x80 -> 0x81).
    {"handshake_silence", Phase::Connexion, 1, Panne::Silence, 1, Issue::Reussite, 0, 1,
     "the first request goes unanswered; the next tick of the wait connects"},
    {"handshake_ack", Phase::Connexion, 1, Panne::MauvaisAcquit, 1, Issue::Reussite, 0, 0,
     "0x00 in place of 0x81 is ignored and the request sent again at once"},
    {"handshake_noise", Phase::Connexion, 1, Panne::Bruit, 1, Issue::Reussite, 0, 0,
     "a stray byte before 0x81: the request is repeated, and the answer to the repeat must "
     "not be read as the first character of the type code"},
    {"handshake_lowercase", Phase::Connexion, 1, Panne::Minuscules, 1, Issue::Reussite, 0, 0,
     "same as the reference: the answer holds no hexadecimal character"},
    {"handshake_hangup", Phase::Connexion, 1, Panne::Raccroche, 1, Issue::EchecConnexion, 0, 0,
     "the line drops at the first request: every tick fails at once, the wait ends after 20"},

    // Type code (0x86, six characters).
    {"type_silence", Phase::Type, 1, Panne::Silence, 1, Issue::Transmission, DELAI, 1,
     "no first character"},
    {"type_ack", Phase::Type, 1, Panne::MauvaisAcquit, 1, Issue::Refus, REFUS_TYPE, 0,
     "the first character arrives as 0x00: the code read is not K27"},
    {"type_noise", Phase::Type, 1, Panne::Bruit, 1, Issue::Refus, REFUS_TYPE, 0,
     "a stray byte shifts the characters: the code read is not K27"},
    {"type_lowercase", Phase::Type, 1, Panne::Minuscules, 1, Issue::Refus, REFUS_TYPE, 0,
     "\"4b\" decodes as 'k': \"k27\" is not K27"},
    {"type_hangup", Phase::Type, 1, Panne::Raccroche, 1, Issue::Transmission, LIGNE, 0,
     "the line drops at the type command"},

    // Mode byte (0x87, two characters).
    {"mode_silence", Phase::Mode, 1, Panne::Silence, 1, Issue::Transmission, DELAI, 1,
     "no first character"},
    {"mode_ack", Phase::Mode, 1, Panne::MauvaisAcquit, 1, Issue::Refus, REFUS_MODE, 0,
     "the first character arrives as 0x00: the mode read is not 3"},
    {"mode_noise", Phase::Mode, 1, Panne::Bruit, 1, Issue::Refus, REFUS_MODE, 0,
     "a stray byte in place of the first character: the mode read is not 3"},
    {"mode_lowercase", Phase::Mode, 1, Panne::Minuscules, 1, Issue::Reussite, 0, 0,
     "same as the reference: the mode \"03\" has no letter to lower"},
    {"mode_hangup", Phase::Mode, 1, Panne::Raccroche, 1, Issue::Transmission, LIGNE, 0,
     "the line drops at the mode command"},

    // Serial number (0x89 at 120..123; the fault hits the read of cell 120, "4E").
    {"serial_silence", Phase::NumeroSerie, 1, Panne::Silence, 1, Issue::Transmission, DELAI, 1,
     "no first character"},
    {"serial_ack", Phase::NumeroSerie, 1, Panne::MauvaisAcquit, 1, Issue::Reussite, 0, 0,
     "0x00 in place of '4' decodes, unchecked, as -754: a number 832 lower, still in range", 16, 2,
     612344846},
    {"serial_noise", Phase::NumeroSerie, 1, Panne::Bruit, 1, Issue::Refus, REFUS_NUMERO_SERIE, 0,
     "a stray byte shifts the four reads by one character: the number read is out of range"},
    {"serial_lowercase", Phase::NumeroSerie, 1, Panne::Minuscules, 1, Issue::Reussite, 0, 0,
     "\"4e\" decodes, unchecked, as 110: a number 32 higher, still in range", 16, 2, 612345710},
    {"serial_hangup", Phase::NumeroSerie, 1, Panne::Raccroche, 1, Issue::Transmission, LIGNE, 0,
     "the line drops at the first serial-number read"},

    // Installed version (0x89 at 126 and 127; the fault hits the major part).
    {"version_silence", Phase::Version, 1, Panne::Silence, 1, Issue::Transmission, DELAI, 1,
     "no first character"},
    {"version_ack", Phase::Version, 1, Panne::MauvaisAcquit, 1, Issue::Refus, REFUS_VERSION, 0,
     "0x00 in place of '1': the major part reads as a huge number, a newer version"},
    {"version_noise", Phase::Version, 1, Panne::Bruit, 1, Issue::Refus, REFUS_VERSION, 0,
     "a stray byte in place of '1': the major part reads as a newer version"},
    {"version_lowercase", Phase::Version, 1, Panne::Minuscules, 1, Issue::Refus, REFUS_VERSION, 0,
     "a device at 15.10 sends \"0f\", read as 47: a newer version", 15, 10},
    {"version_hangup", Phase::Version, 1, Panne::Raccroche, 1, Issue::Transmission, LIGNE, 0,
     "the line drops at the version read"},

    // Prepare (0x83 -> 0x84).
    {"prepare_silence", Phase::Preparation, 1, Panne::Silence, 1, Issue::Transmission, DELAI, 1,
     "no acknowledgement"},
    {"prepare_ack", Phase::Preparation, 1, Panne::MauvaisAcquit, 1, Issue::Transmission, ACQUIT, 0,
     "0x00 in place of 0x84"},
    {"prepare_noise", Phase::Preparation, 1, Panne::Bruit, 1, Issue::Transmission, ACQUIT, 0,
     "a stray byte before 0x84 is read as the answer"},
    {"prepare_lowercase", Phase::Preparation, 1, Panne::Minuscules, 1, Issue::Reussite, 0, 0,
     "same as the reference: the answer holds no hexadecimal character"},
    {"prepare_hangup", Phase::Preparation, 1, Panne::Raccroche, 1, Issue::Transmission, LIGNE, 0,
     "the line drops at the prepare command"},

    // Enter programming (0x90 -> 0x84).
    {"enter_silence", Phase::EntreeProgrammation, 1, Panne::Silence, 1, Issue::Transmission, DELAI,
     1, "no acknowledgement"},
    {"enter_ack", Phase::EntreeProgrammation, 1, Panne::MauvaisAcquit, 1, Issue::Transmission,
     ACQUIT, 0, "0x00 in place of 0x84"},
    {"enter_noise", Phase::EntreeProgrammation, 1, Panne::Bruit, 1, Issue::Transmission, ACQUIT, 0,
     "a stray byte before 0x84 is read as the answer"},
    {"enter_lowercase", Phase::EntreeProgrammation, 1, Panne::Minuscules, 1, Issue::Reussite, 0, 0,
     "same as the reference: the answer holds no hexadecimal character"},
    {"enter_hangup", Phase::EntreeProgrammation, 1, Panne::Raccroche, 1, Issue::Transmission, LIGNE,
     0, "the line drops at the enter-programming command"},

#define KORVANE_CELLULES_MOT(nom, occurrence)                                                      \
    {nom "_silence",                                                                               \
     Phase::MotProgramme,                                                                          \
     occurrence,                                                                                   \
     Panne::Silence,                                                                               \
     1,                                                                                            \
     Issue::Reussite,                                                                              \
     0,                                                                                            \
     1,                                                                                            \
     "one write goes unanswered: the loader's second attempt goes through"},                       \
        {nom "_silence_x3",                                                                        \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::Silence,                                                                           \
         3,                                                                                        \
         Issue::Transmission,                                                                      \
         DELAI,                                                                                    \
         3,                                                                                        \
         "all three attempts of one word go unanswered"},                                          \
        {nom "_ack",                                                                               \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::MauvaisAcquit,                                                                     \
         1,                                                                                        \
         Issue::Reussite,                                                                          \
         0,                                                                                        \
         0,                                                                                        \
         "one 0x00 in place of 0x84: purged, the second attempt goes through"},                    \
        {nom "_ack_x3",                                                                            \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::MauvaisAcquit,                                                                     \
         3,                                                                                        \
         Issue::Transmission,                                                                      \
         ACQUIT,                                                                                   \
         0,                                                                                        \
         "all three attempts answered 0x00"},                                                      \
        {nom "_noise",                                                                             \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::Bruit,                                                                             \
         1,                                                                                        \
         Issue::Reussite,                                                                          \
         0,                                                                                        \
         0,                                                                                        \
         "a stray byte before 0x84: purged with the 0x84 behind it, written again"},               \
        {nom "_noise_x3",                                                                          \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::Bruit,                                                                             \
         3,                                                                                        \
         Issue::Transmission,                                                                      \
         ACQUIT,                                                                                   \
         0,                                                                                        \
         "a stray byte before each of the three answers"},                                         \
        {nom "_lowercase",                                                                         \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::Minuscules,                                                                        \
         1,                                                                                        \
         Issue::Reussite,                                                                          \
         0,                                                                                        \
         0,                                                                                        \
         "same as the reference: the answer holds no hexadecimal character"},                      \
        {nom "_hangup",                                                                            \
         Phase::MotProgramme,                                                                      \
         occurrence,                                                                               \
         Panne::Raccroche,                                                                         \
         1,                                                                                        \
         Issue::Transmission,                                                                      \
         LIGNE,                                                                                    \
         0,                                                                                        \
         "the line drops at this word"},

    // Program words (0x8D ... -> 0x84): the first, one in the middle and the last of 5960.
    KORVANE_CELLULES_MOT("first_word", PREMIER_MOT)
        KORVANE_CELLULES_MOT("middle_word", MOT_DU_MILIEU)
            KORVANE_CELLULES_MOT("last_word", DERNIER_MOT)
#undef KORVANE_CELLULES_MOT

    // Version write (0x8B at 126 then 127, after the last record; the fault hits 126).
    {"version_write_silence", Phase::EcritureVersion, 1, Panne::Silence, 1, Issue::Transmission,
     DELAI, 1, "no acknowledgement: the version is not stored, so it is not a success"},
    {"version_write_ack", Phase::EcritureVersion, 1, Panne::MauvaisAcquit, 1, Issue::Transmission,
     ACQUIT, 0, "0x00 in place of 0x84"},
    {"version_write_noise", Phase::EcritureVersion, 1, Panne::Bruit, 1, Issue::Transmission, ACQUIT,
     0, "a stray byte before 0x84 (the device stored 16 over 16)"},
    {"version_write_lowercase", Phase::EcritureVersion, 1, Panne::Minuscules, 1, Issue::Reussite, 0,
     0, "same as the reference: the answer holds no hexadecimal character"},
    {"version_write_hangup", Phase::EcritureVersion, 1, Panne::Raccroche, 1, Issue::Transmission,
     LIGNE, 0, "the line drops at the version write"},
};

class Matrice : public ::testing::TestWithParam<Cellule> {};

void VerifierAttentes(const PortMesure& port, std::size_t muettes, const char* quand)
{
    SCOPED_TRACE(quand);
    EXPECT_EQ(port.lecturesMuettes.size(), muettes);
    for (double ms : port.lecturesMuettes) {
        EXPECT_GE(ms, LECTURE_MS - 5);
        EXPECT_LE(ms, LECTURE_MS + RETARD_MAX_MS);
    }
    EXPECT_LE(port.plusLongEchecMs, ECHEC_MAX_MS);
}

TEST_P(Matrice, Cellule)
{
    const Cellule& c = GetParam();
    SCOPED_TRACE(c.sens);

    sim::Configuration sain;
    sain.versionMajeure = c.majeure;
    sain.versionMineure = c.mineure;
    sim::Configuration config = sain;
    if (c.nombre > 0)
        config.defauts.push_back({c.phase, c.panne, c.occurrence, c.nombre});

    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    std::string erreur;
    ASSERT_TRUE(ligne.brancher(config, &erreur)) << erreur;
    ligne.devenirCom1();

    PortMesure port;
    BoitesMatrice boites;
    std::optional<sim::Appareil> aLaBoite;
    int connecteALaBoite = -1;
    Poste poste(port, boites);
    boites.avantReponse = [&] {
        aLaBoite = ligne.appareil();
        connecteALaBoite = poste.fenetre.chargeur().EstConnecte();
        // The user plugs the cable back in before answering.
        if (c.panne == Panne::Raccroche && c.nombre > 0) {
            ASSERT_TRUE(ligne.brancher(sain, &erreur)) << erreur;
        }
    };

    // First attempt, with the fault.
    const Tentative t = poste.connecter();
    EXPECT_EQ(t.probleme, "");
    EXPECT_EQ(NomIssue(t.issue), std::string(NomIssue(c.issue)));
    EXPECT_EQ(t.detail, c.detail);
    VerifierAttentes(port, c.muettes, "first attempt");
    const double borne = c.muettes * LECTURE_MS + TRAVAIL_MAX_MS;
    EXPECT_LE(t.ms, borne);
    EXPECT_LE(t.ticksAttente, TICKS_ATTENTE);
    if (c.numeroLu != 0) {
        EXPECT_EQ(poste.fenetre.etat().NumeroSerie, c.numeroLu);
    }

    double msReprise = 0;
    if (c.issue == Issue::Reussite) {
        EXPECT_EQ(EcartAvecLImage(ligne.appareil()), "");
        EXPECT_TRUE(boites.boites.empty());
    } else {
        // Nothing of the new version may show before every record went through.
        ASSERT_TRUE(aLaBoite.has_value());
        EXPECT_EQ(aLaBoite->eeprom(EEPROM_VERSION), c.majeure);
        EXPECT_EQ(aLaBoite->eeprom(EEPROM_VERSION + 1), c.mineure);
        if (c.issue == Issue::EchecConnexion) {
            EXPECT_EQ(t.ticksAttente, TICKS_ATTENTE);
            EXPECT_EQ(poste.etape(), 4); // back at the port choice
            poste.fenetre.ButtonSuivantClick();
        } else if (c.panne != Panne::Raccroche) {
            // The handlers end the loader connection before they ask anything.
            EXPECT_EQ(connecteALaBoite, 0);
        }
        ASSERT_EQ(poste.etape(), 5);

        // The second attempt, as the user makes it.
        port.oublier();
        const Tentative r = poste.connecter();
        msReprise = r.ms;
        EXPECT_EQ(r.probleme, "");
        EXPECT_EQ(NomIssue(r.issue), std::string(NomIssue(Issue::Reussite)));
        VerifierAttentes(port, 0, "second attempt");
        EXPECT_LE(r.ticksAttente, 2);
        EXPECT_LE(r.ms, TRAVAIL_MAX_MS);
        EXPECT_EQ(EcartAvecLImage(ligne.appareil()), "");
    }

    std::printf("[cell] %-24s %-18s %6.0f ms (bound %6.0f)  retry %6.0f ms\n", c.nom,
                NomIssue(t.issue), t.ms, borne, msReprise);
    RecordProperty("first_attempt_ms", static_cast<int>(t.ms));
    RecordProperty("bound_ms", static_cast<int>(borne));
    RecordProperty("retry_ms", static_cast<int>(msReprise));
}

INSTANTIATE_TEST_SUITE_P(Phases, Matrice, ::testing::ValuesIn(kCellules),
                         [](const ::testing::TestParamInfo<Cellule>& info) {
                             return std::string(info.param.nom);
                         });

} // namespace
} // namespace korvane::matrice
