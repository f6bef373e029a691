#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::sim {

// The simulated Korvane: its boot loader as a pure state machine. It takes the PC's bytes one
// at a time and queues the bytes the device sends; it has no clock and does no I/O, so the
// in-memory port and the pseudo-terminal runner drive the same model.
//
// Protocol as the device answers it:
//   0x80 handshake          -> 0x81 (also while connected); 0x85 once first with
//   repriseAvantConnexion 0x04 reset              -> 0x84, the connection ends (answered whenever
//   the device is on) commands, only while connected (otherwise ignored, no answer): 0x83 prepare
//   -> 0x84 0x86 type code          -> 3 values, 2 hex characters each 0x87 mode               -> 1
//   value 0x89 aa                 -> the EEPROM byte at aa 0x8B aa vv              -> 0x84 after
//   writing vv at EEPROM aa 0x8D hhll HHLL          -> 0x84 after writing the word (scrambled on
//   the wire) 0x90 enter programming  -> 0x84 when prepared, otherwise REFUS 0x91 leave programming
//   -> no answer, the connection ends
// Every character the device sends waits for the PC's 0x84 before the next one goes out; any
// other byte from the PC in its place cancels the rest of the answer and is taken as a new
// command. A command whose argument characters are not all uppercase hexadecimal digits, a
// word address outside program memory or a word write outside programming mode is refused:
// the device answers REFUS and changes nothing. Unknown bytes are ignored.

inline constexpr std::size_t TAILLE_PROGRAMME = 8192; // program memory, in words
inline constexpr std::size_t TAILLE_EEPROM = 256;
inline constexpr std::uint16_t MOT_VIERGE = 0x3FFF;
inline constexpr std::uint8_t REFUS = 0x15; // the device's "no": never 0x84, never a digit

// Where a fault strikes: what the command the device has just received is for.
enum class Phase : std::uint8_t {
    Connexion,           // 0x80
    Reinitialisation,    // 0x04
    Type,                // 0x86
    Mode,                // 0x87
    NumeroSerie,         // 0x89 at 120..123
    Version,             // 0x89 at 126..127
    LectureEeprom,       // 0x89 elsewhere
    Preparation,         // 0x83
    EntreeProgrammation, // 0x90
    MotProgramme,        // 0x8D
    EcritureVersion,     // 0x8B at 126..127
    EcritureEeprom,      // 0x8B elsewhere
    SortieProgrammation, // 0x91
};
inline constexpr std::size_t NOMBRE_PHASES = 13;

enum class Panne : std::uint8_t {
    Silence,       // no answer at all; the command has no effect
    MauvaisAcquit, // octetFaux in place of the first byte of the answer; no effect
    Bruit,         // octetBruit before the normal answer; the command takes effect
    Minuscules,    // the answer's hexadecimal characters in lowercase; takes effect
    Raccroche,     // the line drops: nothing more is answered, ever
};

// A fault hits occurrences [occurrence, occurrence + nombre) of its phase, counted from 1
// over the commands of that phase the device receives (a retried word write is a new
// occurrence). nombre 0: that occurrence and every later one.
struct Defaut {
    Phase phase = Phase::MotProgramme;
    Panne panne = Panne::Silence;
    std::uint32_t occurrence = 1;
    std::uint32_t nombre = 1;
};

struct Configuration {
    std::string codeType = "K27"; // three characters
    std::uint8_t mode = 3;
    std::uint32_t numeroSerie = 612345678;
    std::uint8_t versionMajeure = 16;
    std::uint8_t versionMineure = 2;

    std::uint32_t connexionsIgnorees = 0; // the device is off for the first N handshakes
    bool repriseAvantConnexion = false;   // 0x85 to the first handshake heard
    bool minuscules = false;              // every hexadecimal character sent in lowercase
    std::uint8_t octetFaux = 0x00;        // Panne::MauvaisAcquit
    std::uint8_t octetBruit = 0xAA;       // Panne::Bruit
    std::vector<Defaut> defauts;          // the first one that matches a command applies
};

enum class EtatAppareil : std::uint8_t { Repos, Prepare, Programmation };

struct Ecriture {
    enum class Genre : std::uint8_t { Mot, Eeprom } genre;
    std::uint16_t adresse;
    std::uint16_t valeur;
    bool operator==(const Ecriture&) const = default;
};

struct Compteurs {
    std::uint32_t connexions = 0;          // 0x80 received, also while off
    std::uint32_t connexionsIgnorees = 0;  // of which the device did not hear
    std::uint32_t reinitialisations = 0;   // 0x04 answered
    std::uint32_t commandesMot = 0;        // complete 0x8D commands, refused ones included
    std::uint32_t motsEcrits = 0;          // words stored
    std::uint32_t ecrituresEeprom = 0;     // EEPROM bytes stored
    std::uint32_t caracteresInvalides = 0; // argument characters that were not 0-9, A-F
    std::uint32_t pannes = 0;              // faults that struck
};

class Appareil {
public:
    explicit Appareil(Configuration configuration = {});

    // One byte from the PC. The answer, if any, is queued for prendreSortie().
    void recevoir(std::uint8_t octet);
    bool aSortie() const { return !m_sortie.empty(); }
    std::vector<std::uint8_t> prendreSortie();

    bool allume() const { return m_allume; }
    bool connecte() const { return m_connecte; }
    EtatAppareil etat() const { return m_etat; }
    // Set when a Raccroche fault struck: the runner must drop the line for good.
    bool raccroche() const { return m_raccroche; }

    std::uint16_t mot(std::size_t adresse) const { return m_programme.at(adresse); }
    bool motEcrit(std::size_t adresse) const { return m_ecrit.at(adresse); }
    std::uint8_t eeprom(std::size_t adresse) const { return m_eeprom.at(adresse); }
    const std::array<std::uint8_t, TAILLE_EEPROM>& eeprom() const { return m_eeprom; }
    const Compteurs& compteurs() const { return m_compteurs; }
    // Every stored word and EEPROM byte, in the order they were stored.
    const std::vector<Ecriture>& journal() const { return m_journal; }
    std::uint32_t occurrences(Phase phase) const
    {
        return m_occurrences[static_cast<std::size_t>(phase)];
    }
    const Configuration& configuration() const { return m_config; }

private:
    enum class Attente : std::uint8_t { Commande, Arguments, Acquit };
    // What the device does with a command once the fault table has been consulted.
    enum class Suite : std::uint8_t { Normale, Arret, Faux, Minuscules };

    void commande(std::uint8_t octet);
    void executer();
    std::optional<Panne> panne(Phase phase);
    Suite debut(Phase phase);
    void repondre(std::uint8_t octet);
    void envoyerValeurs(std::vector<std::uint8_t> valeurs, bool minuscules,
                        std::optional<std::uint8_t> premierFaux);
    void envoyerCaractereSuivant();
    void finirConnexion();

    Configuration m_config;
    std::array<std::uint16_t, TAILLE_PROGRAMME> m_programme{};
    std::array<bool, TAILLE_PROGRAMME> m_ecrit{};
    std::array<std::uint8_t, TAILLE_EEPROM> m_eeprom{};

    bool m_allume = true;
    bool m_connecte = false;
    bool m_repriseFaite = false;
    bool m_raccroche = false;
    EtatAppareil m_etat = EtatAppareil::Repos;

    Attente m_attente = Attente::Commande;
    std::uint8_t m_commande = 0;
    std::string m_arguments;
    std::size_t m_argumentsAttendus = 0;
    std::deque<std::uint8_t> m_caracteres; // still to send, each after the PC's 0x84

    std::vector<std::uint8_t> m_sortie;
    Compteurs m_compteurs;
    std::array<std::uint32_t, NOMBRE_PHASES> m_occurrences{};
    std::vector<Ecriture> m_journal;
};

// Names used on the command line and in reports: "handshake", "reset", "type", "mode",
// "serial", "version", "eeprom-read", "prepare", "enter", "word", "version-write",
// "eeprom-write", "leave"; faults "silence", "ack", "noise", "lowercase", "hangup".
std::string_view nomPhase(Phase phase);
std::string_view nomPanne(Panne panne);
std::optional<Phase> phaseDepuisNom(std::string_view nom);
std::optional<Panne> panneDepuisNom(std::string_view nom);
// "PHASE:FAULT[:N[:K]]", e.g. "word:ack:5960:0" (N defaults to 1, K to 1).
std::optional<Defaut> analyserDefaut(std::string_view texte);

// Memory dump: comment lines start with '#'; "W aaaa vvvv" for each written program word,
// "E aa vv" for every EEPROM cell, in hexadecimal (uppercase, fixed width).
void ecrireVidage(const Appareil& appareil, std::ostream& sortie);

struct Vidage {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> mots; // (address, value), ascending
    std::array<std::uint8_t, TAILLE_EEPROM> eeprom{};
};
// Reads what ecrireVidage wrote; nullopt on a malformed line or an address out of range.
std::optional<Vidage> lireVidage(std::istream& entree);

} // namespace korvane::sim
