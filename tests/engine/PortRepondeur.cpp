#include "PortRepondeur.h"

#include "loader/Classek27_v2.h"
#include "loader/ValeurHex.h"

#include <cerrno>

namespace korvane::test {

PortRepondeur::PortRepondeur()
{
    definirNumeroSerie(612345678);
    definirVersion(16, 2);
}

void PortRepondeur::definirNumeroSerie(std::uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        eeprom[EEPROM_NUMERO_SERIE + i] = static_cast<std::uint8_t>(n >> (8 * i));
}

void PortRepondeur::definirVersion(std::uint8_t majeure, std::uint8_t mineure)
{
    eeprom[EEPROM_VERSION] = majeure;
    eeprom[EEPROM_VERSION + 1] = mineure;
}

void PortRepondeur::ajouterPanne(std::uint8_t c, int occurrence, Panne panne)
{
    m_pannes[{c, occurrence}] = panne;
}

int PortRepondeur::occurrences(std::uint8_t c) const
{
    auto it = m_occurrences.find(c);
    return it == m_occurrences.end() ? 0 : it->second;
}

bool PortRepondeur::open(const char*)
{
    if (!ouvrable) {
        m_erreur = ENOENT;
        return false;
    }
    ++ouvertures;
    ouvert = true;
    return true;
}

bool PortRepondeur::getSettings(LineSettings& out)
{
    out = m_reglages;
    return true;
}

bool PortRepondeur::setSettings(const LineSettings& in)
{
    m_reglages = in;
    return true;
}

bool PortRepondeur::getTimeouts(Timeouts& out)
{
    out = m_delais;
    return true;
}

bool PortRepondeur::setTimeouts(const Timeouts& in)
{
    m_delais = in;
    return true;
}

bool PortRepondeur::purge()
{
    m_sortie.clear();
    return true;
}

bool PortRepondeur::close()
{
    ouvert = false;
    connecte = false;
    m_sortie.clear();
    return true;
}

bool PortRepondeur::readByte(std::uint8_t& byte, bool& received)
{
    if (m_sortie.empty()) {
        // Silence costs the whole read limit, on the virtual clock only.
        const std::uint32_t limite = m_delais.readTotalMultiplier + m_delais.readTotalConstant;
        m_horloge += limite ? limite : 1100;
        received = false;
        return true;
    }
    byte = m_sortie.front();
    m_sortie.pop_front();
    received = true;
    return true;
}

bool PortRepondeur::writeByte(std::uint8_t b)
{
    recus.push_back(b);
    m_horloge += 1;

    if (!connecte) {
        if (b == octet::CONNEXION) {
            ++m_handshakes;
            if (handshakeReponduA != 0 && m_handshakes >= handshakeReponduA) {
                connecte = true;
                repondre(octet::CONNEXION_OK);
            }
        } else if (b == octet::RESET) {
            repondre(0x00);
        }
        return true;
    }
    if (m_acquitsAttendus > 0) {
        // The PC acknowledges each character before it gets the next one.
        if (b == octet::ACQUIT) {
            --m_acquitsAttendus;
            if (!m_aEnvoyer.empty()) {
                repondre(m_aEnvoyer.front());
                m_aEnvoyer.pop_front();
            }
        }
        return true;
    }
    if (m_argumentsAttendus > 0) {
        m_arguments.push_back(b);
        if (m_arguments.size() == m_argumentsAttendus) {
            m_argumentsAttendus = 0;
            executer();
        }
        return true;
    }
    commande(b);
    return true;
}

void PortRepondeur::commande(std::uint8_t c)
{
    m_commande = c;
    ++m_occurrences[c];
    m_arguments.clear();
    switch (c) {
    case octet::LIRE_EEPROM:
        m_argumentsAttendus = 2;
        break;
    case octet::ECRIRE_EEPROM:
        m_argumentsAttendus = 4;
        break;
    case octet::ECRIRE_MOT:
        m_argumentsAttendus = 8;
        break;
    default:
        executer();
        break;
    }
}

bool PortRepondeur::enPanne(Panne& panne) const
{
    for (int occurrence : {occurrences(m_commande), 0}) {
        auto it = m_pannes.find({m_commande, occurrence});
        if (it != m_pannes.end()) {
            panne = it->second;
            return true;
        }
    }
    return false;
}

std::uint8_t PortRepondeur::argument(int i) const
{
    return static_cast<std::uint8_t>(ValeurHex(m_arguments[2 * i], m_arguments[2 * i + 1]));
}

void PortRepondeur::envoyerOctets(const std::vector<std::uint8_t>& octets)
{
    static const char chiffres[] = "0123456789ABCDEF";
    for (std::uint8_t o : octets) {
        m_aEnvoyer.push_back(static_cast<std::uint8_t>(chiffres[o >> 4]));
        m_aEnvoyer.push_back(static_cast<std::uint8_t>(chiffres[o & 0x0F]));
    }
    m_acquitsAttendus = static_cast<int>(m_aEnvoyer.size());
    repondre(m_aEnvoyer.front());
    m_aEnvoyer.pop_front();
}

void PortRepondeur::executer()
{
    Panne panne;
    const bool fautif = enPanne(panne);
    if (fautif && panne == Panne::Silence)
        return;
    const std::uint8_t acquit = fautif ? 0x00 : octet::ACQUIT;

    switch (m_commande) {
    case octet::CONNEXION:
        repondre(octet::CONNEXION_OK);
        break;
    case octet::RESET:
        connecte = false;
        repondre(0x00);
        break;
    case octet::PREPARER:
    case octet::ENTRER_PROGRAMMATION:
        repondre(acquit);
        break;
    case octet::LIRE_TYPE:
        envoyerOctets(std::vector<std::uint8_t>(type.begin(), type.end()));
        break;
    case octet::LIRE_MODE:
        envoyerOctets({mode});
        break;
    case octet::LIRE_EEPROM:
        envoyerOctets({eeprom[argument(0)]});
        break;
    case octet::ECRIRE_EEPROM:
        if (!fautif) {
            eeprom[argument(0)] = argument(1);
            ecritures.push_back({'E', argument(0), argument(1)});
        }
        repondre(acquit);
        break;
    case octet::ECRIRE_MOT: {
        std::uint8_t haut = argument(0), bas = argument(1);
        if (mode != 1) {
            haut ^= MASQUE_HAUT;
            bas ^= MASQUE_BAS;
        }
        const std::uint32_t adresse = haut * 256u + bas;
        const std::uint32_t mot = (argument(2) ^ MASQUE_HAUT) * 256u +
                                  static_cast<std::uint8_t>(argument(3) ^ MASQUE_BAS);
        if (fautif || motsRefuses.count(adresse)) {
            repondre(0x00);
            break;
        }
        programme[adresse] = mot;
        ecritures.push_back({'P', adresse, mot});
        repondre(octet::ACQUIT);
        break;
    }
    case octet::SORTIR_PROGRAMMATION:
        connecte = false;
        break;
    default:
        break;
    }
}

} // namespace korvane::test
