// The simulated device driven byte by byte, as the PC would drive it.

#include "sim/Appareil.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace korvane::sim;

namespace {

using Octets = std::vector<std::uint8_t>;

constexpr std::uint8_t ACK = 0x84;

Octets octets(std::string_view texte)
{
    return Octets(texte.begin(), texte.end());
}

// Feeds bytes and returns everything the device sent meanwhile.
Octets envoyer(Appareil& a, const Octets& bytes)
{
    Octets sortie;
    for (std::uint8_t b : bytes) {
        a.recevoir(b);
        for (std::uint8_t o : a.prendreSortie())
            sortie.push_back(o);
    }
    return sortie;
}

// A command byte followed by its argument characters.
Octets commande(std::uint8_t c, std::string_view arguments = {})
{
    Octets b{c};
    for (char a : arguments)
        b.push_back(static_cast<std::uint8_t>(a));
    return b;
}

// Receives the characters of an answer the way the PC does: one character, then its
// acknowledgement, and the device must send nothing more until that acknowledgement.
std::string recevoir(Appareil& a, const Octets& premier, std::size_t n)
{
    std::string texte;
    Octets recu = premier;
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(recu.size(), 1u) << "character " << i << " not sent alone";
        if (recu.empty())
            return texte;
        texte.push_back(static_cast<char>(recu[0]));
        recu = envoyer(a, {ACK});
    }
    EXPECT_TRUE(recu.empty()) << "more than " << n << " characters";
    return texte;
}

std::string lireEeprom(Appareil& a, std::string_view adresse)
{
    return recevoir(a, envoyer(a, commande(0x89, adresse)), 2);
}

// The eight characters of a word write: address then data, each byte's two hex digits.
std::string argumentsMot(unsigned ah, unsigned al, unsigned dh, unsigned dl)
{
    char texte[16];
    std::snprintf(texte, sizeof texte, "%02X%02X%02X%02X", ah & 0xFF, al & 0xFF, dh & 0xFF,
                  dl & 0xFF);
    return texte;
}

// A word write as the client puts it on the line in mode 3 (everything scrambled).
Octets ecrireMot(unsigned adresse, unsigned mot)
{
    return commande(0x8D, argumentsMot((adresse >> 8) ^ 0x5E, (adresse & 0xFF) ^ 0x93,
                                       (mot >> 8) ^ 0x5E, (mot & 0xFF) ^ 0x93));
}

void connecter(Appareil& a)
{
    ASSERT_EQ(envoyer(a, {0x80}), Octets{0x81});
}

void programmer(Appareil& a)
{
    connecter(a);
    ASSERT_EQ(envoyer(a, {0x83}), Octets{ACK});
    ASSERT_EQ(envoyer(a, {0x90}), Octets{ACK});
    ASSERT_EQ(a.etat(), EtatAppareil::Programmation);
}

} // namespace

TEST(Appareil, starts_blank_with_its_identity_in_eeprom)
{
    Appareil a;
    for (std::size_t adresse : {0u, 48u, 7103u, 8191u}) {
        EXPECT_EQ(a.mot(adresse), 0x3FFF);
        EXPECT_FALSE(a.motEcrit(adresse));
    }
    connecter(a);
    struct Cas {
        std::string_view adresse, valeur;
    };
    // 612345678 = 0x247FA74E, least significant byte first; version 16.2.
    for (const Cas& c :
         {Cas{"78", "4E"}, Cas{"79", "A7"}, Cas{"7A", "7F"}, Cas{"7B", "24"}, Cas{"7E", "10"},
          Cas{"7F", "02"}, Cas{"00", "FF"}, Cas{"7C", "FF"}, Cas{"FF", "FF"}})
        EXPECT_EQ(lireEeprom(a, c.adresse), c.valeur) << c.adresse;
    EXPECT_TRUE(a.journal().empty());
}

TEST(Appareil, answers_nothing_but_handshake_and_reset_until_connected)
{
    Appareil a;
    for (const Octets& c :
         {commande(0x83), commande(0x86), commande(0x87), commande(0x89, "78"),
          commande(0x8B, "7E10"), commande(0x90), commande(0x91), ecrireMot(48, 0x1234)})
        EXPECT_TRUE(envoyer(a, c).empty());
    EXPECT_FALSE(a.connecte());
    EXPECT_EQ(a.eeprom(126), 16);

    EXPECT_EQ(envoyer(a, {0x04}), Octets{ACK});
    connecter(a);
    EXPECT_TRUE(a.connecte());
    EXPECT_EQ(envoyer(a, {0x80}), Octets{0x81}) << "a handshake is answered while connected too";
    EXPECT_EQ(envoyer(a, {0x04}), Octets{ACK});
    EXPECT_FALSE(a.connecte());
    EXPECT_TRUE(envoyer(a, {0x87}).empty());
    EXPECT_EQ(a.compteurs().connexions, 2u);
    EXPECT_EQ(a.compteurs().reinitialisations, 2u);
}

TEST(Appareil, sends_type_code_and_mode_one_character_per_acknowledgement)
{
    struct Cas {
        std::string type;
        std::uint8_t mode;
        std::string attenduType, attenduMode;
    };
    for (const Cas& c : {Cas{"K27", 3, "4B3237", "03"}, Cas{"k27", 1, "6B3237", "01"},
                         Cas{"Z9\x7F", 255, "5A397F", "FF"}}) {
        Configuration config;
        config.codeType = c.type;
        config.mode = c.mode;
        Appareil a(config);
        connecter(a);
        EXPECT_EQ(recevoir(a, envoyer(a, {0x86}), 6), c.attenduType);
        EXPECT_EQ(recevoir(a, envoyer(a, {0x87}), 2), c.attenduMode);
    }
}

TEST(Appareil, a_byte_other_than_the_acknowledgement_cancels_the_answer)
{
    Appareil a;
    connecter(a);
    EXPECT_EQ(envoyer(a, {0x86}), octets("4"));
    // The PC gives up and resets: the reset is answered, the rest of the type code is not.
    EXPECT_EQ(envoyer(a, {0x04}), Octets{ACK});
    EXPECT_TRUE(envoyer(a, {ACK, ACK}).empty());
    connecter(a);
    EXPECT_EQ(envoyer(a, {0x86}), octets("4"));
    EXPECT_EQ(envoyer(a, {0x87}), octets("0")) << "a new command in place of an acknowledgement";
    EXPECT_EQ(recevoir(a, envoyer(a, {ACK}), 1), "3");
}

TEST(Appareil, writes_eeprom_and_logs_every_write_in_order)
{
    Appareil a;
    connecter(a);
    EXPECT_EQ(envoyer(a, commande(0x8B, "7E10")), Octets{ACK});
    EXPECT_EQ(envoyer(a, commande(0x8B, "7F03")), Octets{ACK});
    EXPECT_EQ(lireEeprom(a, "7E"), "10");
    EXPECT_EQ(lireEeprom(a, "7F"), "03");
    EXPECT_EQ(a.compteurs().ecrituresEeprom, 2u);
    const std::vector<Ecriture> attendu{{Ecriture::Genre::Eeprom, 126, 16},
                                        {Ecriture::Genre::Eeprom, 127, 3}};
    EXPECT_EQ(a.journal(), attendu);
}

TEST(Appareil, programming_needs_the_prepared_state_and_leaving_ends_the_connection)
{
    Appareil a;
    connecter(a);
    EXPECT_EQ(envoyer(a, {0x90}), Octets{REFUS});
    EXPECT_EQ(a.etat(), EtatAppareil::Repos);
    EXPECT_EQ(envoyer(a, ecrireMot(48, 0x118A)), Octets{REFUS}) << "word outside programming";
    EXPECT_FALSE(a.motEcrit(48));

    EXPECT_EQ(envoyer(a, {0x83}), Octets{ACK});
    EXPECT_EQ(a.etat(), EtatAppareil::Prepare);
    EXPECT_EQ(envoyer(a, {0x90}), Octets{ACK});
    EXPECT_EQ(a.etat(), EtatAppareil::Programmation);
    EXPECT_EQ(envoyer(a, {0x90}), Octets{REFUS}) << "already programming, no longer prepared";
    EXPECT_EQ(a.etat(), EtatAppareil::Programmation);

    EXPECT_TRUE(envoyer(a, {0x91}).empty());
    EXPECT_FALSE(a.connecte());
    EXPECT_EQ(a.etat(), EtatAppareil::Repos);
}

TEST(Appareil, unscrambles_word_writes_by_mode)
{
    struct Cas {
        std::uint8_t mode;
        std::string_view fil; // the eight characters after 0x8D
        unsigned adresse, mot;
    };
    // Data bytes always XOR 0x5E (high) and 0x93 (low); the address too, except in mode 1.
    const Cas cas[] = {
        {3, "5EA34F19", 48, 0x118A},   // 0x0030 -> 5E A3, 0x118A -> 4F 19
        {0, "5EA34F19", 48, 0x118A},   // mode 0 scrambles like mode 3
        {1, "00304F19", 48, 0x118A},   // mode 1: the address as it is
        {3, "452CA16C", 7103, 0xFFFF}, // 0x1BBF -> 45 2C, 0xFFFF -> A1 6C
        {1, "1FFF5E93", 8191, 0x0000}, // the last word of memory
        {3, "5E935E93", 0, 0x0000},    // all bits zero
    };
    for (const Cas& c : cas) {
        Configuration config;
        config.mode = c.mode;
        Appareil a(config);
        programmer(a);
        EXPECT_EQ(envoyer(a, commande(0x8D, c.fil)), Octets{ACK}) << c.fil;
        EXPECT_TRUE(a.motEcrit(c.adresse)) << c.fil;
        EXPECT_EQ(a.mot(c.adresse), c.mot) << c.fil;
        EXPECT_EQ(a.compteurs().motsEcrits, 1u);
        const std::vector<Ecriture> attendu{{Ecriture::Genre::Mot,
                                             static_cast<std::uint16_t>(c.adresse),
                                             static_cast<std::uint16_t>(c.mot)}};
        EXPECT_EQ(a.journal(), attendu);
    }
}

TEST(Appareil, refuses_bad_arguments_and_keeps_working)
{
    struct Cas {
        Octets commande;
        Octets reponse;
    };
    const Cas cas[] = {
        {commande(0x8D, "5ea34f19"), {REFUS}}, // lowercase digits
        {commande(0x8D, "5EA34F1G"), {REFUS}},
        {commande(0x8D, "7E934F19"), {REFUS}}, // unscrambles to 0x2000, beyond memory
        {commande(0x8D, "A1934F19"), {REFUS}}, // 0xFF00
        {commande(0x8B, "7e10"), {REFUS}},
        {commande(0x8B, " 010"), {REFUS}},
        {commande(0x89, "7g"), {REFUS}},
    };
    for (const Cas& c : cas) {
        Appareil a;
        programmer(a);
        EXPECT_EQ(envoyer(a, c.commande), c.reponse);
        EXPECT_EQ(a.compteurs().motsEcrits + a.compteurs().ecrituresEeprom, 0u);
        EXPECT_EQ(a.eeprom(126), 16);
        EXPECT_TRUE(a.journal().empty());
        // The device is still in step with the PC.
        EXPECT_EQ(envoyer(a, ecrireMot(48, 0x118A)), Octets{ACK});
        EXPECT_EQ(a.mot(48), 0x118A);
    }
}

TEST(Appareil, survives_any_byte_stream)
{
    std::mt19937 aleas(1234);
    for (int essai = 0; essai < 20; ++essai) {
        Configuration config;
        config.defauts.push_back({Phase::Type, Panne::Bruit, 2, 0});
        Appareil a(config);
        for (int i = 0; i < 20000; ++i) {
            // Mostly protocol bytes and hex digits, so that commands get far.
            static const std::string alphabet = "\x80\x84\x04\x83\x86\x87\x89\x8B\x8D\x90\x91"
                                                "0123456789ABCDEFa";
            const std::uint8_t b =
                (aleas() % 4 == 0) ? static_cast<std::uint8_t>(aleas())
                                   : static_cast<std::uint8_t>(alphabet[aleas() % alphabet.size()]);
            a.recevoir(b);
            ASSERT_LE(a.prendreSortie().size(), 2u);
        }
        EXPECT_GT(a.compteurs().connexions, 0u);
    }
}

TEST(Appareil, device_switched_on_late_or_busy_first)
{
    Configuration tard;
    tard.connexionsIgnorees = 2;
    Appareil a(tard);
    EXPECT_TRUE(envoyer(a, {0x80}).empty());
    EXPECT_TRUE(envoyer(a, {0x04}).empty()) << "off: not even the reset";
    EXPECT_TRUE(envoyer(a, {0x80}).empty());
    EXPECT_EQ(envoyer(a, {0x80}), Octets{0x81});
    EXPECT_EQ(a.compteurs().connexions, 3u);
    EXPECT_EQ(a.compteurs().connexionsIgnorees, 2u);

    Configuration occupe;
    occupe.repriseAvantConnexion = true;
    Appareil b(occupe);
    EXPECT_EQ(envoyer(b, {0x80}), Octets{0x85});
    EXPECT_FALSE(b.connecte());
    EXPECT_EQ(envoyer(b, {0x04}), Octets{ACK});
    EXPECT_EQ(envoyer(b, {0x80}), Octets{0x81});
    EXPECT_EQ(envoyer(b, {0x04}), Octets{ACK});
    EXPECT_EQ(envoyer(b, {0x80}), Octets{0x81}) << "0x85 only once";
}

// Word write faults: which attempts a fault strikes, counted over every attempt received.
TEST(Appareil, word_write_faults_strike_the_chosen_attempts)
{
    struct Cas {
        const char* nom;
        Defaut defaut;
        std::vector<bool> accepte; // attempt by attempt, all for the same word
    };
    const Cas cas[] = {
        {"one attempt", {Phase::MotProgramme, Panne::MauvaisAcquit, 2, 1}, {1, 0, 1, 1}},
        {"three attempts", {Phase::MotProgramme, Panne::MauvaisAcquit, 1, 3}, {0, 0, 0, 1}},
        {"that one and all later",
         {Phase::MotProgramme, Panne::MauvaisAcquit, 3, 0},
         {1, 1, 0, 0, 0}},
        {"silence", {Phase::MotProgramme, Panne::Silence, 1, 2}, {0, 0, 1}},
    };
    for (const Cas& c : cas) {
        Configuration config;
        config.octetFaux = 0x00;
        config.defauts = {c.defaut};
        Appareil a(config);
        programmer(a);
        for (std::size_t i = 0; i < c.accepte.size(); ++i) {
            const unsigned adresse = 48 + static_cast<unsigned>(i);
            const Octets reponse = envoyer(a, ecrireMot(adresse, 0x2000 + adresse));
            if (c.accepte[i]) {
                EXPECT_EQ(reponse, Octets{ACK}) << c.nom << " attempt " << i + 1;
                EXPECT_TRUE(a.motEcrit(adresse)) << c.nom << " attempt " << i + 1;
            } else {
                EXPECT_EQ(reponse, c.defaut.panne == Panne::Silence ? Octets{} : Octets{0x00})
                    << c.nom << " attempt " << i + 1;
                EXPECT_FALSE(a.motEcrit(adresse)) << c.nom << " attempt " << i + 1;
            }
        }
        EXPECT_EQ(a.compteurs().commandesMot, c.accepte.size());
    }
}

TEST(Appareil, hang_up_silences_the_device_for_good)
{
    Configuration config;
    config.defauts = {{Phase::MotProgramme, Panne::Raccroche, 2, 1}};
    Appareil a(config);
    programmer(a);
    EXPECT_EQ(envoyer(a, ecrireMot(48, 1)), Octets{ACK});
    EXPECT_FALSE(a.raccroche());
    EXPECT_TRUE(envoyer(a, ecrireMot(49, 1)).empty());
    EXPECT_TRUE(a.raccroche());
    EXPECT_FALSE(a.motEcrit(49));
    EXPECT_TRUE(envoyer(a, {0x04, 0x80, 0x86}).empty());
}

// Faults at the other phases: what the PC receives for the command that is hit (the first
// bytes, then the characters that follow one acknowledgement at a time) and whether the fault
// struck at all.
TEST(Appareil, faults_at_each_phase)
{
    struct Cas {
        const char* nom;
        Defaut defaut;
        Octets avant;    // a command sent first, its answer consumed
        Octets commande; // the command under test
        Octets premier;
        std::string reste;
        bool frappe;
    };
    const Cas cas[] = {
        {"handshake silence", {Phase::Connexion, Panne::Silence, 2}, {0x04}, {0x80}, {}, "", true},
        {"handshake wrong",
         {Phase::Connexion, Panne::MauvaisAcquit, 2},
         {0x04},
         {0x80},
         {0x00},
         "",
         true},
        {"handshake noise",
         {Phase::Connexion, Panne::Bruit, 2},
         {0x04},
         {0x80},
         {0xAA, 0x81},
         "",
         true},
        {"type noise", {Phase::Type, Panne::Bruit}, {}, {0x86}, {0xAA, '4'}, "B3237", true},
        {"type lowercase", {Phase::Type, Panne::Minuscules}, {}, {0x86}, {'4'}, "b3237", true},
        {"type wrong", {Phase::Type, Panne::MauvaisAcquit}, {}, {0x86}, {0x00}, "B3237", true},
        {"mode silence", {Phase::Mode, Panne::Silence}, {}, {0x87}, {}, "", true},
        {"serial lowercase",
         {Phase::NumeroSerie, Panne::Minuscules, 2},
         commande(0x89, "78"),
         commande(0x89, "79"),
         {'a'},
         "7",
         true},
        {"version read wrong",
         {Phase::Version, Panne::MauvaisAcquit},
         commande(0x89, "78"),
         commande(0x89, "7E"),
         {0x00},
         "0",
         true},
        {"other cells are not the version",
         {Phase::Version, Panne::Silence},
         {},
         commande(0x89, "7D"),
         {'F'},
         "F",
         false},
        {"prepare wrong", {Phase::Preparation, Panne::MauvaisAcquit}, {}, {0x83}, {0x00}, "", true},
        {"prepare noise", {Phase::Preparation, Panne::Bruit}, {}, {0x83}, {0xAA, ACK}, "", true},
        {"enter silence",
         {Phase::EntreeProgrammation, Panne::Silence},
         {0x83},
         {0x90},
         {},
         "",
         true},
        {"version write minor",
         {Phase::EcritureVersion, Panne::MauvaisAcquit, 2},
         commande(0x8B, "7E10"),
         commande(0x8B, "7F03"),
         {0x00},
         "",
         true},
        {"other cells are no version write",
         {Phase::EcritureVersion, Panne::Silence},
         {},
         commande(0x8B, "2001"),
         {ACK},
         "",
         false},
        {"leave wrong",
         {Phase::SortieProgrammation, Panne::MauvaisAcquit},
         {},
         {0x91},
         {0x00},
         "",
         true},
    };
    for (const Cas& c : cas) {
        Configuration config;
        config.defauts = {c.defaut};
        Appareil a(config);
        connecter(a);
        for (Octets r = envoyer(a, c.avant); !r.empty(); r = envoyer(a, {ACK})) {
        }
        EXPECT_EQ(envoyer(a, c.commande), c.premier) << c.nom;
        if (c.reste.empty())
            EXPECT_TRUE(envoyer(a, {ACK}).empty()) << c.nom;
        else
            EXPECT_EQ(recevoir(a, envoyer(a, {ACK}), c.reste.size()), c.reste) << c.nom;
        EXPECT_EQ(a.compteurs().pannes, c.frappe ? 1u : 0u) << c.nom;
    }
}

TEST(Appareil, faults_have_no_effect_unless_they_only_disturb_the_answer)
{
    Configuration config;
    config.defauts = {{Phase::Preparation, Panne::Silence},
                      {Phase::EcritureVersion, Panne::MauvaisAcquit},
                      {Phase::Connexion, Panne::MauvaisAcquit}};
    Appareil a(config);
    EXPECT_EQ(envoyer(a, {0x80}), Octets{0x00});
    EXPECT_FALSE(a.connecte());
    connecter(a);
    EXPECT_TRUE(envoyer(a, {0x83}).empty());
    EXPECT_EQ(a.etat(), EtatAppareil::Repos);
    EXPECT_EQ(envoyer(a, commande(0x8B, "7E10")), Octets{0x00});
    EXPECT_EQ(a.eeprom(126), 16);
    EXPECT_EQ(envoyer(a, commande(0x8B, "7E11")), Octets{ACK});
    EXPECT_EQ(a.eeprom(126), 17);
    EXPECT_EQ(a.occurrences(Phase::EcritureVersion), 2u);
}

TEST(Appareil, lowercase_everywhere)
{
    Configuration config;
    config.minuscules = true;
    Appareil a(config);
    connecter(a);
    EXPECT_EQ(recevoir(a, envoyer(a, {0x86}), 6), "4b3237");
    EXPECT_EQ(lireEeprom(a, "00"), "ff");
}

TEST(Appareil, fault_descriptions)
{
    struct Cas {
        std::string_view texte;
        bool valide;
        Phase phase;
        Panne panne;
        std::uint32_t n, k;
    };
    const Cas cas[] = {
        {"word:ack:5960:0", true, Phase::MotProgramme, Panne::MauvaisAcquit, 5960, 0},
        {"handshake:silence", true, Phase::Connexion, Panne::Silence, 1, 1},
        {"version-write:hangup:2", true, Phase::EcritureVersion, Panne::Raccroche, 2, 1},
        {"serial:lowercase:1:4", true, Phase::NumeroSerie, Panne::Minuscules, 1, 4},
        {"enter:noise", true, Phase::EntreeProgrammation, Panne::Bruit, 1, 1},
        {"word", false, {}, {}, 0, 0},
        {"words:ack", false, {}, {}, 0, 0},
        {"word:nak", false, {}, {}, 0, 0},
        {"word:ack:0", false, {}, {}, 0, 0},
        {"word:ack:x", false, {}, {}, 0, 0},
        {"word:ack:-1", false, {}, {}, 0, 0},
        {"word:ack:1:", false, {}, {}, 0, 0},
        {"word:ack:1:2:3", false, {}, {}, 0, 0},
    };
    for (const Cas& c : cas) {
        const auto d = analyserDefaut(c.texte);
        ASSERT_EQ(d.has_value(), c.valide) << c.texte;
        if (!d)
            continue;
        EXPECT_EQ(d->phase, c.phase) << c.texte;
        EXPECT_EQ(d->panne, c.panne) << c.texte;
        EXPECT_EQ(d->occurrence, c.n) << c.texte;
        EXPECT_EQ(d->nombre, c.k) << c.texte;
    }
    for (std::size_t i = 0; i < NOMBRE_PHASES; ++i) {
        const auto p = static_cast<Phase>(i);
        EXPECT_EQ(phaseDepuisNom(nomPhase(p)), p);
    }
}

TEST(Appareil, memory_dump_reads_back)
{
    Appareil a;
    programmer(a);
    envoyer(a, ecrireMot(48, 0x118A));
    envoyer(a, ecrireMot(8191, 0x0000));
    envoyer(a, commande(0x8B, "7F03"));
    std::stringstream texte;
    ecrireVidage(a, texte);
    EXPECT_NE(texte.str().find("W 0030 118A\n"), std::string::npos);
    EXPECT_NE(texte.str().find("E 7F 03\n"), std::string::npos);
    const auto v = lireVidage(texte);
    ASSERT_TRUE(v);
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> mots{{48, 0x118A}, {8191, 0}};
    EXPECT_EQ(v->mots, mots);
    EXPECT_EQ(v->eeprom, a.eeprom());

    for (std::string_view mauvais : {"W 0030\n", "W 2000 0000\n", "E 100 00\n", "X 00 00\n",
                                     "E 7F 03 04\n", "W 00g0 0000\n"}) {
        std::istringstream entree{std::string(mauvais)};
        EXPECT_FALSE(lireVidage(entree)) << mauvais;
    }
}
