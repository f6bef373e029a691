#pragma once

#include "SerialPort.h"

#include <cstdint>
#include <memory>

namespace korvane {

// Status of every loader operation: 0 for success, one of the ERREUR_* codes below, or the
// system's error code (errno) of the port call that failed.
using StatutChargeur = std::int32_t;

inline constexpr StatutChargeur ERREUR_NON_CONNECTE = 100001; // no loader connection
inline constexpr StatutChargeur ERREUR_DELAI = 100002;        // nothing within the limit
inline constexpr StatutChargeur ERREUR_ACQUITTEMENT = 100003; // answer other than 0x84
inline constexpr StatutChargeur ERREUR_ETAT = 100004;         // not in ETAT_PREPARE
inline constexpr StatutChargeur ERREUR_ADRESSE = 100007;      // word address outside 48..7103
inline constexpr StatutChargeur ERREUR_PAS_EN_PROGRAMMATION = 100009;
inline constexpr StatutChargeur ERREUR_PORT_FERME = 100016;    // the serial port is not open
inline constexpr StatutChargeur ERREUR_TYPE_APPAREIL = 100020; // type code is not "K27"

inline constexpr std::int32_t ETAT_REPOS = 0;
inline constexpr std::int32_t ETAT_PREPARE = 2;
inline constexpr std::int32_t ETAT_PROGRAMMATION = 3;

inline constexpr char CODE_TYPE[4] = "K27";
inline constexpr std::uint8_t MASQUE_HAUT = 0x5E;
inline constexpr std::uint8_t MASQUE_BAS = 0x93;
inline constexpr std::uint32_t ADRESSE_MOT_MIN = 48;
inline constexpr std::uint32_t ADRESSE_MOT_MAX = 7103;

// Bytes of the boot loader's protocol.
namespace octet {
inline constexpr std::uint8_t CONNEXION = 0x80;
inline constexpr std::uint8_t CONNEXION_OK = 0x81;
inline constexpr std::uint8_t CONNEXION_REPRISE = 0x85;
inline constexpr std::uint8_t RESET = 0x04;
inline constexpr std::uint8_t ACQUIT = 0x84;
inline constexpr std::uint8_t PREPARER = 0x83;
inline constexpr std::uint8_t LIRE_TYPE = 0x86;
inline constexpr std::uint8_t LIRE_MODE = 0x87;
inline constexpr std::uint8_t LIRE_EEPROM = 0x89;
inline constexpr std::uint8_t ECRIRE_EEPROM = 0x8B;
inline constexpr std::uint8_t ECRIRE_MOT = 0x8D;
inline constexpr std::uint8_t ENTRER_PROGRAMMATION = 0x90;
inline constexpr std::uint8_t SORTIR_PROGRAMMATION = 0x91;
} // namespace octet

// EEPROM cells the tool uses.
inline constexpr std::int32_t EEPROM_NUMERO_SERIE = 120; // 120..123, least significant first
inline constexpr std::int32_t EEPROM_VERSION = 126;      // 126 major, 127 minor

// The loader client: owns the serial port to the device and speaks the boot loader's
// protocol over it. Every operation that returns a StatutChargeur also keeps it for
// Statut(). Never prints, never throws, never starts a thread.
class CK27V2 {
public:
    // Uses its own PortPosix.
    CK27V2();
    // Uses the given port, which must outlive the client (tests, simulator).
    explicit CK27V2(SerialPort& port);
    ~CK27V2();
    CK27V2(const CK27V2&) = delete;
    CK27V2& operator=(const CK27V2&) = delete;

    // Port side.
    void ChoisirPort(std::int32_t index);
    StatutChargeur Ouvrir();
    StatutChargeur Fermer();
    StatutChargeur ReglerVitesse(std::int32_t vitesse);
    StatutChargeur Purger();
    StatutChargeur Statut() const { return DernierStatut; }
    void Patienter(std::uint32_t ms);
    StatutChargeur EcrireOctet(std::uint8_t octet);
    StatutChargeur LireOctet(std::int32_t& valeur);

    // Connection and character encoding.
    StatutChargeur Connecter(std::int32_t delaiSecondes);
    StatutChargeur Reinitialiser();
    StatutChargeur EnvoyerHex(std::uint32_t valeur);
    StatutChargeur RecevoirHex(std::int32_t& valeur);

    // Commands.
    StatutChargeur Preparer();
    StatutChargeur LireType(char (&type)[4]);
    StatutChargeur VerifierType();
    StatutChargeur LireMode(std::int32_t& mode);
    StatutChargeur LireOctetEeprom(std::int32_t adresse, std::int32_t& valeur);
    StatutChargeur EcrireOctetEeprom(std::int32_t adresse, std::int32_t valeur);
    StatutChargeur LireMotEeprom(std::int32_t adresse, std::int32_t& valeur);
    StatutChargeur LireNumeroSerie(std::uint32_t& numero);
    StatutChargeur LireVersion(std::int32_t& majeure, std::int32_t& mineure);
    StatutChargeur EcrireVersion(std::int32_t majeure, std::int32_t mineure);
    StatutChargeur EntrerProgrammation();
    StatutChargeur SortirProgrammation();
    StatutChargeur EcrireMotProgramme(std::uint32_t adresse, std::uint32_t mot);

    // Read-only views of the state, for callers and tests.
    bool PortOuvert() const { return m_portOuvert; }
    std::int32_t EstConnecte() const { return Connecte; }
    std::int32_t Etat() const { return EtatChargeur; }
    std::int32_t Mode() const { return ModeChargeur; }
    const char* NomDuPort() const { return NomPort; }
    const LineSettings& ReglagesPort() const { return DcbPort; }
    const Timeouts& DelaisDuPort() const { return DelaisPort; }

private:
    StatutChargeur Retour(StatutChargeur statut) { return DernierStatut = statut; }
    StatutChargeur ErreurPort() const;
    static bool LigneDisparue(StatutChargeur statut);
    // ErreurPort() for a failed read, write or purge; notes a line that has gone.
    StatutChargeur ErreurLigne();
    StatutChargeur Tentative(std::uint8_t adresseHaute, std::uint8_t adresseBasse,
                             std::uint8_t motHaut, std::uint8_t motBas);

    std::unique_ptr<SerialPort> m_proprePort; // set when the client made its own port
    SerialPort* m_port;

    bool m_portOuvert = false; // stands for HandlePort != INVALID_HANDLE_VALUE
    LineSettings DcbPort;
    LineSettings DcbSauve{};
    Timeouts DelaisPort;
    Timeouts DelaisSauves{};
    char NomPort[20] = {};
    std::int32_t Connecte = 0;
    std::int32_t EtatChargeur = ETAT_REPOS;
    StatutChargeur DernierStatut = 0;
    std::int32_t EssaisMax = 3;
    std::int32_t ModeChargeur = 0;
    // Whether DcbSauve and DelaisSauves hold what the open port had: what could not be read
    // at opening is not "restored" at closing.
    bool m_reglagesSauves = false;
    bool m_delaisSauves = false;
    // A read, write or purge found the line gone (cable or adapter pulled, other end hung
    // up): the descriptor is dead, so the next Connecter opens the port again.
    bool m_ligneDisparue = false;
};

} // namespace korvane
