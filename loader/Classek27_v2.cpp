#include "Classek27_v2.h"

#include "PortNames.h"
#include "PortPosix.h"
#include "ValeurHex.h"

#include <cerrno>
#include <cstring>

namespace korvane {
namespace {

// 9600 baud, 8 data bits, even parity checked on input, 1 stop bit, no flow control of any
// kind, DTR off, RTS on.
LineSettings reglagesLigne()
{
    LineSettings s;
    s.length = 28;
    s.baudRate = 9600;
    s.binary = true;
    s.parityCheck = true;
    s.outxCtsFlow = false;
    s.outxDsrFlow = false;
    s.dtrControl = 0;
    s.dsrSensitivity = false;
    s.txContinueOnXoff = false;
    s.outX = false;
    s.inX = false;
    s.errorCharEnabled = false;
    s.nullStrip = false;
    s.rtsControl = 1;
    s.abortOnError = false;
    s.xonLim = 100;
    s.xoffLim = 100;
    s.byteSize = 8;
    s.parity = 2;
    s.stopBits = 0;
    s.xonChar = 0x01;
    s.xoffChar = 0x02;
    s.errorChar = 0x04;
    s.eofChar = 0x00;
    s.evtChar = 0x03;
    return s;
}

// Every read or write moves one byte: 100 * 1 + 1000 = 1100 ms at most.
constexpr Timeouts kDelaisPort{500, 100, 1000, 100, 1000};

// After a wrong answer to a word write: time for the rest of the device's answer (a few
// bytes at 9600 baud) to arrive, so that the purge drops it.
constexpr std::uint32_t PAUSE_AVANT_PURGE_MS = 10;

constexpr std::int32_t kVitesses[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                      19200, 38400, 56000, 57600, 115200, 128000, 256000};

// One hexadecimal digit as the device expects it: '0'..'9', then 'A'.. upwards.
std::uint8_t caractereHex(std::uint32_t chiffre)
{
    return static_cast<std::uint8_t>(chiffre < 10 ? 48 + chiffre : 55 + chiffre);
}

} // namespace

CK27V2::CK27V2()
    : m_proprePort(std::make_unique<PortPosix>()), m_port(m_proprePort.get()),
      DcbPort(reglagesLigne()), DelaisPort(kDelaisPort)
{
    std::strcpy(NomPort, NomsPorts[0]);
}

CK27V2::CK27V2(SerialPort& port) : m_port(&port), DcbPort(reglagesLigne()), DelaisPort(kDelaisPort)
{
    std::strcpy(NomPort, NomsPorts[0]);
}

CK27V2::~CK27V2()
{
    Reinitialiser();
    Fermer();
    ModeChargeur = 0;
}

StatutChargeur CK27V2::ErreurPort() const
{
    // A failed port call always yields a nonzero code that cannot pass for one of ours.
    const StatutChargeur e = m_port->lastError();
    return (e == 0 || (e >= ERREUR_NON_CONNECTE && e <= ERREUR_TYPE_APPAREIL)) ? EIO : e;
}

bool CK27V2::LigneDisparue(StatutChargeur statut)
{
    return statut == EIO || statut == ENXIO || statut == ENODEV;
}

StatutChargeur CK27V2::ErreurLigne()
{
    const StatutChargeur e = ErreurPort();
    if (LigneDisparue(e)) {
        m_ligneDisparue = true;
    }
    return e;
}

// ---- Port side ---------------------------------------------------------------------------

void CK27V2::ChoisirPort(std::int32_t index)
{
    const char* nom = (index >= 0 && index < NOMBRE_PORTS) ? NomsPorts[index] : NomsPorts[0];
    std::strncpy(NomPort, nom, sizeof NomPort - 1);
    NomPort[sizeof NomPort - 1] = '\0';
}

StatutChargeur CK27V2::Ouvrir()
{
    StatutChargeur s = Fermer();
    if (s != 0) {
        return Retour(s);
    }
    if (!m_port->open(NomPort)) {
        return Retour(ErreurPort());
    }
    m_portOuvert = true;
    m_reglagesSauves = false;
    m_delaisSauves = false;
    m_ligneDisparue = false;

    // From here on a failure leaves the port open; the next Fermer closes it.
    if (!m_port->getSettings(DcbSauve)) {
        return Retour(ErreurPort());
    }
    m_reglagesSauves = true;
    if (!m_port->setSettings(DcbPort)) {
        return Retour(ErreurPort());
    }
    if (!m_port->getTimeouts(DelaisSauves)) {
        return Retour(ErreurPort());
    }
    m_delaisSauves = true;
    if (!m_port->setTimeouts(DelaisPort)) {
        return Retour(ErreurPort());
    }
    return Retour(0);
}

StatutChargeur CK27V2::Fermer()
{
    StatutChargeur s = 0;
    if (m_portOuvert) {
        Reinitialiser();
        ReglerVitesse(9600);
        if (m_reglagesSauves && !m_port->setSettings(DcbSauve)) {
            s = ErreurPort();
        } else if (m_delaisSauves && !m_port->setTimeouts(DelaisSauves)) {
            s = ErreurPort();
        }
        // A line that has gone (adapter unplugged, other end hung up) has no settings left
        // to restore: it is closed all the same, so that the next Ouvrir can find it again.
        if (s != 0 && !LigneDisparue(s)) {
            // left open; the next Fermer tries the restore and the close again
        } else if (!m_port->close()) {
            if (s == 0) {
                s = ErreurPort();
            }
        } else {
            m_portOuvert = false;
            m_reglagesSauves = false;
            m_delaisSauves = false;
            m_ligneDisparue = false;
        }
    }
    Connecte = 0;
    EtatChargeur = ETAT_REPOS;
    ModeChargeur = 0;
    return Retour(s);
}

StatutChargeur CK27V2::ReglerVitesse(std::int32_t vitesse)
{
    std::uint32_t retenue = 9600;
    for (std::int32_t v : kVitesses) {
        if (v == vitesse) {
            retenue = static_cast<std::uint32_t>(v);
        }
    }
    DcbPort.baudRate = retenue;
    if (m_portOuvert && !m_port->setSettings(DcbPort)) {
        return Retour(ErreurPort());
    }
    return Retour(0);
}

StatutChargeur CK27V2::Purger()
{
    if (!m_portOuvert) {
        return Retour(ERREUR_PORT_FERME);
    }
    return Retour(m_port->purge() ? 0 : ErreurLigne());
}

void CK27V2::Patienter(std::uint32_t ms)
{
    // Spins on the tick counter, as the device's 10 ms EEPROM write time asks for no more.
    const std::uint32_t debut = m_port->tickCount();
    while (m_port->tickCount() - debut < ms) {
    }
}

StatutChargeur CK27V2::EcrireOctet(std::uint8_t octet)
{
    if (!m_portOuvert) {
        return Retour(ERREUR_PORT_FERME);
    }
    return Retour(m_port->writeByte(octet) ? 0 : ErreurLigne());
}

StatutChargeur CK27V2::LireOctet(std::int32_t& valeur)
{
    if (!m_portOuvert) {
        return Retour(ERREUR_PORT_FERME);
    }
    std::uint8_t octet = 0;
    bool recu = false;
    if (!m_port->readByte(octet, recu)) {
        return Retour(ErreurLigne());
    }
    if (!recu) {
        return Retour(ERREUR_DELAI);
    }
    valeur = octet;
    return Retour(0);
}

// ---- Connection and character encoding ---------------------------------------------------

StatutChargeur CK27V2::Connecter(std::int32_t delaiSecondes)
{
    // A port whose line has gone is given up and opened again: once the cable is back, the
    // device answers on a new descriptor, never on the dead one.
    if (m_portOuvert && m_ligneDisparue) {
        Fermer();
    }
    if (!m_portOuvert) {
        const StatutChargeur s = Ouvrir();
        if (s != 0) {
            return Retour(s);
        }
    }
    const bool avecDelai = delaiSecondes != 0;
    const std::int64_t limite = std::int64_t(delaiSecondes) * 1000;
    const std::uint32_t debut = avecDelai ? m_port->tickCount() : 0;

    Purger();
    StatutChargeur s = 0;
    std::int32_t derniereReponse = -1; // nothing received yet
    bool ecoule = false;
    bool aVider = false;
    do {
        if (aVider) {
            // The last reply was a byte that is not an answer, and the real answer may be
            // behind it. The device answers the repeated request too: drop what came so far,
            // or that second answer would be read as the first byte of the next command's.
            Purger();
            aVider = false;
        }
        s = EcrireOctet(octet::CONNEXION);
        if (s != 0) {
            break;
        }
        m_port->sleep(10);
        std::int32_t reponse = 0;
        const StatutChargeur lu = LireOctet(reponse);
        if (lu == 0) {
            derniereReponse = reponse;
            if (reponse == octet::CONNEXION_REPRISE) {
                s = Reinitialiser();
            } else if (reponse != octet::CONNEXION_OK) {
                aVider = true;
            }
        } else if (lu == ERREUR_DELAI) {
            s = 0; // silence only repeats the request
        } else {
            s = lu;
        }
        // The limit is tested after each exchange, never in the middle of one.
        if (avecDelai) {
            ecoule = std::int64_t(m_port->tickCount() - debut) >= limite;
        }
    } while (!ecoule && s == 0 && derniereReponse != octet::CONNEXION_OK);

    if (derniereReponse == octet::CONNEXION_OK) {
        Connecte = 1;
        s = 0;
    } else {
        Connecte = 0;
        if (ecoule) {
            s = ERREUR_DELAI;
        }
    }
    ModeChargeur = 0;
    return Retour(s);
}

StatutChargeur CK27V2::Reinitialiser()
{
    if (!m_portOuvert) {
        return Retour(ERREUR_PORT_FERME);
    }
    if (EtatChargeur == ETAT_PROGRAMMATION) {
        return Retour(SortirProgrammation());
    }
    StatutChargeur s = EcrireOctet(octet::RESET);
    if (s == 0) {
        std::int32_t ignore = 0;
        s = LireOctet(ignore);
        if (s == 0) {
            Connecte = 0;
            EtatChargeur = ETAT_REPOS;
            s = ReglerVitesse(9600);
        }
    }
    ModeChargeur = 0;
    return Retour(s);
}

StatutChargeur CK27V2::EnvoyerHex(std::uint32_t valeur)
{
    const StatutChargeur s = EcrireOctet(caractereHex(valeur / 16));
    if (s != 0) {
        return Retour(s);
    }
    return Retour(EcrireOctet(caractereHex(valeur % 16)));
}

StatutChargeur CK27V2::RecevoirHex(std::int32_t& valeur)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    std::int32_t premier = 0;
    std::int32_t second = 0;
    StatutChargeur s = LireOctet(premier);
    if (s == 0) {
        s = EcrireOctet(octet::ACQUIT);
    }
    if (s == 0) {
        s = LireOctet(second);
    }
    if (s == 0) {
        s = EcrireOctet(octet::ACQUIT);
    }
    if (s == 0) {
        valeur = ValeurHex(static_cast<std::uint32_t>(premier), static_cast<std::uint32_t>(second));
    }
    return Retour(s);
}

// ---- Commands ----------------------------------------------------------------------------

StatutChargeur CK27V2::Preparer()
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = EcrireOctet(octet::PREPARER);
    std::int32_t reponse = 0;
    if (s == 0) {
        s = LireOctet(reponse);
    }
    if (s == 0) {
        if (reponse == octet::ACQUIT) {
            EtatChargeur = ETAT_PREPARE;
        } else {
            s = ERREUR_ACQUITTEMENT;
        }
    }
    return Retour(s);
}

StatutChargeur CK27V2::LireType(char (&type)[4])
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = EcrireOctet(octet::LIRE_TYPE);
    if (s != 0) {
        return Retour(s);
    }
    type[3] = '\0';
    for (int i = 0; i < 3 && s == 0; ++i) {
        std::int32_t valeur = 0;
        s = RecevoirHex(valeur);
        if (s == 0) {
            type[i] = static_cast<char>(valeur & 0xFF);
        }
    }
    return Retour(s);
}

StatutChargeur CK27V2::VerifierType()
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    char type[4] = {};
    const StatutChargeur s = LireType(type);
    if (s != 0) {
        return Retour(s);
    }
    return Retour(std::memcmp(type, CODE_TYPE, 3) == 0 ? 0 : ERREUR_TYPE_APPAREIL);
}

StatutChargeur CK27V2::LireMode(std::int32_t& mode)
{
    StatutChargeur s = ERREUR_NON_CONNECTE;
    if (Connecte != 0) {
        s = EcrireOctet(octet::LIRE_MODE);
        if (s == 0) {
            s = RecevoirHex(ModeChargeur);
        }
    }
    mode = ModeChargeur;
    return Retour(s);
}

StatutChargeur CK27V2::LireOctetEeprom(std::int32_t adresse, std::int32_t& valeur)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = EcrireOctet(octet::LIRE_EEPROM);
    if (s == 0) {
        s = EnvoyerHex(static_cast<std::uint32_t>(adresse));
    }
    if (s == 0) {
        s = RecevoirHex(valeur);
    }
    return Retour(s);
}

StatutChargeur CK27V2::EcrireOctetEeprom(std::int32_t adresse, std::int32_t valeur)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = EcrireOctet(octet::ECRIRE_EEPROM);
    if (s == 0) {
        s = EnvoyerHex(static_cast<std::uint32_t>(adresse));
    }
    if (s == 0) {
        s = EnvoyerHex(static_cast<std::uint32_t>(valeur));
    }
    if (s != 0) {
        return Retour(s);
    }
    Patienter(10); // the device's EEPROM write time
    std::int32_t reponse = 0;
    s = LireOctet(reponse);
    if (s == 0 && reponse != octet::ACQUIT) {
        s = ERREUR_ACQUITTEMENT;
    }
    return Retour(s);
}

StatutChargeur CK27V2::LireMotEeprom(std::int32_t adresse, std::int32_t& valeur)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = LireOctetEeprom(adresse, valeur);
    if (s != 0) {
        return Retour(s);
    }
    std::int32_t haut = 0;
    s = LireOctetEeprom(adresse + 1, haut);
    if (s == 0) {
        // Wrapping 32-bit arithmetic: noise on the line may give any value.
        valeur = static_cast<std::int32_t>(static_cast<std::uint32_t>(valeur) +
                                           static_cast<std::uint32_t>(haut) * 256u);
    }
    return Retour(s);
}

StatutChargeur CK27V2::LireNumeroSerie(std::uint32_t& numero)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    // The low word goes straight into the result, as far as it was read.
    std::int32_t bas = static_cast<std::int32_t>(numero);
    StatutChargeur s = LireMotEeprom(EEPROM_NUMERO_SERIE, bas);
    numero = static_cast<std::uint32_t>(bas);
    if (s != 0) {
        return Retour(s);
    }
    std::int32_t haut = 0;
    s = LireMotEeprom(EEPROM_NUMERO_SERIE + 2, haut);
    if (s == 0) {
        numero += static_cast<std::uint32_t>(haut) * 65536u;
    }
    return Retour(s);
}

StatutChargeur CK27V2::LireVersion(std::int32_t& majeure, std::int32_t& mineure)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = LireOctetEeprom(EEPROM_VERSION, majeure);
    if (s == 0) {
        s = LireOctetEeprom(EEPROM_VERSION + 1, mineure);
    }
    return Retour(s);
}

StatutChargeur CK27V2::EcrireVersion(std::int32_t majeure, std::int32_t mineure)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = EcrireOctetEeprom(EEPROM_VERSION, majeure);
    if (s == 0) {
        s = EcrireOctetEeprom(EEPROM_VERSION + 1, mineure);
    }
    return Retour(s);
}

StatutChargeur CK27V2::EntrerProgrammation()
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    if (EtatChargeur != ETAT_PREPARE) {
        return Retour(ERREUR_ETAT);
    }
    StatutChargeur s = 0;
    if (ModeChargeur == 0) {
        // The address scrambling depends on the mode: read it before programming starts.
        std::int32_t mode = 0;
        s = LireMode(mode);
        if (s != 0) {
            return Retour(s);
        }
    }
    s = EcrireOctet(octet::ENTRER_PROGRAMMATION);
    std::int32_t reponse = 0;
    if (s == 0) {
        s = LireOctet(reponse);
    }
    if (s == 0) {
        if (reponse == octet::ACQUIT) {
            EtatChargeur = ETAT_PROGRAMMATION;
        } else {
            s = ERREUR_ACQUITTEMENT;
        }
    }
    return Retour(s);
}

StatutChargeur CK27V2::SortirProgrammation()
{
    if (!m_portOuvert) {
        return Retour(ERREUR_PORT_FERME);
    }
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    StatutChargeur s = ERREUR_PAS_EN_PROGRAMMATION;
    if (EtatChargeur == ETAT_PROGRAMMATION) {
        // The device leaves programming mode without answering; a failed write is not
        // looked at, since the connection is over either way.
        EcrireOctet(octet::SORTIR_PROGRAMMATION);
        Connecte = 0;
        EtatChargeur = ETAT_REPOS;
        s = 0;
    }
    ModeChargeur = 0;
    return Retour(s);
}

StatutChargeur CK27V2::Tentative(std::uint8_t adresseHaute, std::uint8_t adresseBasse,
                                 std::uint8_t motHaut, std::uint8_t motBas)
{
    StatutChargeur s = EcrireOctet(octet::ECRIRE_MOT);
    for (std::uint8_t octetEnvoye : {adresseHaute, adresseBasse, motHaut, motBas}) {
        if (s == 0) {
            s = EnvoyerHex(octetEnvoye);
        }
    }
    std::int32_t reponse = 0;
    if (s == 0) {
        s = LireOctet(reponse);
    }
    if (s == 0 && reponse != octet::ACQUIT) {
        // Whatever else the device sent after a wrong answer must not meet the next attempt.
        // On a real line the rest of it is still on its way (about 1 ms a byte): let it come
        // in before the purge, or a late 0x84 would answer the next attempt in its place.
        m_port->sleep(PAUSE_AVANT_PURGE_MS);
        Purger();
        s = ERREUR_ACQUITTEMENT;
    }
    return s;
}

StatutChargeur CK27V2::EcrireMotProgramme(std::uint32_t adresse, std::uint32_t mot)
{
    if (Connecte == 0) {
        return Retour(ERREUR_NON_CONNECTE);
    }
    if (EtatChargeur != ETAT_PROGRAMMATION) {
        return Retour(ERREUR_PAS_EN_PROGRAMMATION);
    }
    if (adresse < ADRESSE_MOT_MIN || adresse > ADRESSE_MOT_MAX) {
        return Retour(ERREUR_ADRESSE);
    }
    std::uint8_t adresseHaute = static_cast<std::uint8_t>(adresse >> 8);
    std::uint8_t adresseBasse = static_cast<std::uint8_t>(adresse & 0xFF);
    if (ModeChargeur != 1) {
        adresseHaute ^= MASQUE_HAUT;
        adresseBasse ^= MASQUE_BAS;
    }
    const std::uint8_t motHaut = static_cast<std::uint8_t>((mot >> 8) ^ MASQUE_HAUT);
    const std::uint8_t motBas = static_cast<std::uint8_t>((mot & 0xFF) ^ MASQUE_BAS);

    // EssaisMax attempts in all, each a complete command.
    StatutChargeur s = 0;
    for (std::int32_t essai = 1; essai <= EssaisMax; ++essai) {
        s = Tentative(adresseHaute, adresseBasse, motHaut, motBas);
        if (s == 0) {
            break;
        }
    }
    return Retour(s);
}

} // namespace korvane
