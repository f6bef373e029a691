#include "sim/Appareil.h"

#include "loader/Classek27_v2.h"

#include <charconv>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sstream>

namespace korvane::sim {

namespace {

constexpr std::size_t indice(Phase phase)
{
    return static_cast<std::size_t>(phase);
}

bool chiffreHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::uint8_t valeurChiffre(char c)
{
    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10);
}

char caractereHex(unsigned chiffre, bool minuscule)
{
    const char* chiffres = minuscule ? "0123456789abcdef" : "0123456789ABCDEF";
    return chiffres[chiffre & 0x0F];
}

struct NomPhase {
    Phase phase;
    std::string_view nom;
};
constexpr NomPhase NOMS_PHASES[] = {
    {Phase::Connexion, "handshake"},
    {Phase::Reinitialisation, "reset"},
    {Phase::Type, "type"},
    {Phase::Mode, "mode"},
    {Phase::NumeroSerie, "serial"},
    {Phase::Version, "version"},
    {Phase::LectureEeprom, "eeprom-read"},
    {Phase::Preparation, "prepare"},
    {Phase::EntreeProgrammation, "enter"},
    {Phase::MotProgramme, "word"},
    {Phase::EcritureVersion, "version-write"},
    {Phase::EcritureEeprom, "eeprom-write"},
    {Phase::SortieProgrammation, "leave"},
};
static_assert(std::size(NOMS_PHASES) == NOMBRE_PHASES);

struct NomPanne {
    Panne panne;
    std::string_view nom;
};
constexpr NomPanne NOMS_PANNES[] = {
    {Panne::Silence, "silence"},      {Panne::MauvaisAcquit, "ack"}, {Panne::Bruit, "noise"},
    {Panne::Minuscules, "lowercase"}, {Panne::Raccroche, "hangup"},
};

std::optional<std::uint32_t> entier(std::string_view texte)
{
    std::uint32_t valeur = 0;
    const auto* fin = texte.data() + texte.size();
    auto [p, ec] = std::from_chars(texte.data(), fin, valeur);
    if (ec != std::errc() || p != fin || texte.empty())
        return std::nullopt;
    return valeur;
}

std::optional<std::uint32_t> hexadecimal(std::string_view texte, std::size_t largeur)
{
    if (texte.size() != largeur)
        return std::nullopt;
    std::uint32_t valeur = 0;
    auto [p, ec] = std::from_chars(texte.data(), texte.data() + texte.size(), valeur, 16);
    if (ec != std::errc() || p != texte.data() + texte.size())
        return std::nullopt;
    return valeur;
}

} // namespace

Appareil::Appareil(Configuration configuration) : m_config(std::move(configuration))
{
    m_config.codeType.resize(3, ' ');
    m_programme.fill(MOT_VIERGE);
    m_eeprom.fill(0xFF);
    for (int i = 0; i < 4; ++i)
        m_eeprom[EEPROM_NUMERO_SERIE + i] =
            static_cast<std::uint8_t>(m_config.numeroSerie >> (8 * i));
    m_eeprom[EEPROM_VERSION] = m_config.versionMajeure;
    m_eeprom[EEPROM_VERSION + 1] = m_config.versionMineure;
    m_allume = m_config.connexionsIgnorees == 0;
}

std::vector<std::uint8_t> Appareil::prendreSortie()
{
    std::vector<std::uint8_t> sortie;
    sortie.swap(m_sortie);
    return sortie;
}

void Appareil::recevoir(std::uint8_t octet)
{
    if (m_raccroche)
        return;
    if (!m_allume) {
        // Switched off: only the count of handshakes tells when the user switches it on.
        if (octet == octet::CONNEXION) {
            ++m_compteurs.connexions;
            ++m_compteurs.connexionsIgnorees;
            m_allume = m_compteurs.connexionsIgnorees >= m_config.connexionsIgnorees;
        }
        return;
    }
    switch (m_attente) {
    case Attente::Acquit:
        if (octet == octet::ACQUIT) {
            envoyerCaractereSuivant();
            return;
        }
        // The PC gave up on the answer: what it sends now is a new command.
        m_caracteres.clear();
        m_attente = Attente::Commande;
        commande(octet);
        return;
    case Attente::Arguments:
        m_arguments.push_back(static_cast<char>(octet));
        if (m_arguments.size() == m_argumentsAttendus) {
            m_attente = Attente::Commande;
            executer();
        }
        return;
    case Attente::Commande:
        commande(octet);
        return;
    }
}

std::optional<Panne> Appareil::panne(Phase phase)
{
    const std::uint64_t n = ++m_occurrences[indice(phase)];
    for (const Defaut& d : m_config.defauts) {
        if (d.phase != phase || n < d.occurrence)
            continue;
        if (d.nombre == 0 || n < std::uint64_t{d.occurrence} + d.nombre) {
            ++m_compteurs.pannes;
            return d.panne;
        }
    }
    return std::nullopt;
}

void Appareil::repondre(std::uint8_t octet)
{
    m_sortie.push_back(octet);
}

void Appareil::finirConnexion()
{
    m_connecte = false;
    m_etat = EtatAppareil::Repos;
}

// Consults the fault table for a command of this phase and does what a fault does before
// the normal answer would go out.
Appareil::Suite Appareil::debut(Phase phase)
{
    auto p = panne(phase);
    if (!p)
        return Suite::Normale;
    switch (*p) {
    case Panne::Silence:
        return Suite::Arret;
    case Panne::Raccroche:
        m_raccroche = true;
        m_sortie.clear();
        m_caracteres.clear();
        return Suite::Arret;
    case Panne::MauvaisAcquit:
        return Suite::Faux;
    case Panne::Bruit:
        repondre(m_config.octetBruit);
        return Suite::Normale;
    case Panne::Minuscules:
        return Suite::Minuscules;
    }
    return Suite::Normale;
}

void Appareil::commande(std::uint8_t octet)
{
    if (octet == octet::CONNEXION) {
        ++m_compteurs.connexions;
        const Suite suite = debut(Phase::Connexion);
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        if (m_config.repriseAvantConnexion && !m_repriseFaite) {
            m_repriseFaite = true;
            return repondre(octet::CONNEXION_REPRISE);
        }
        m_connecte = true;
        return repondre(octet::CONNEXION_OK);
    }
    if (octet == octet::RESET) {
        const Suite suite = debut(Phase::Reinitialisation);
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        ++m_compteurs.reinitialisations;
        finirConnexion();
        return repondre(octet::ACQUIT);
    }
    if (!m_connecte)
        return;

    switch (octet) {
    case octet::PREPARER: {
        const Suite suite = debut(Phase::Preparation);
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        m_etat = EtatAppareil::Prepare;
        return repondre(octet::ACQUIT);
    }
    case octet::LIRE_TYPE: {
        const Suite suite = debut(Phase::Type);
        if (suite == Suite::Arret)
            return;
        std::vector<std::uint8_t> valeurs(m_config.codeType.begin(), m_config.codeType.end());
        return envoyerValeurs(std::move(valeurs), suite == Suite::Minuscules,
                              suite == Suite::Faux ? std::optional(m_config.octetFaux)
                                                   : std::nullopt);
    }
    case octet::LIRE_MODE: {
        const Suite suite = debut(Phase::Mode);
        if (suite == Suite::Arret)
            return;
        return envoyerValeurs({m_config.mode}, suite == Suite::Minuscules,
                              suite == Suite::Faux ? std::optional(m_config.octetFaux)
                                                   : std::nullopt);
    }
    case octet::ENTRER_PROGRAMMATION: {
        const Suite suite = debut(Phase::EntreeProgrammation);
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        if (m_etat != EtatAppareil::Prepare)
            return repondre(REFUS);
        m_etat = EtatAppareil::Programmation;
        return repondre(octet::ACQUIT);
    }
    case octet::SORTIR_PROGRAMMATION: {
        const Suite suite = debut(Phase::SortieProgrammation);
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        return finirConnexion();
    }
    case octet::LIRE_EEPROM:
    case octet::ECRIRE_EEPROM:
    case octet::ECRIRE_MOT:
        m_commande = octet;
        m_arguments.clear();
        m_argumentsAttendus = octet == octet::LIRE_EEPROM     ? 2
                              : octet == octet::ECRIRE_EEPROM ? 4
                                                              : 8;
        m_attente = Attente::Arguments;
        return;
    default:
        return; // unknown byte, or a stray acknowledgement
    }
}

void Appareil::executer()
{
    bool valide = true;
    std::vector<std::uint8_t> octets;
    for (std::size_t i = 0; i < m_arguments.size(); i += 2) {
        const char h = m_arguments[i];
        const char l = m_arguments[i + 1];
        for (char c : {h, l}) {
            if (!chiffreHex(c)) {
                valide = false;
                ++m_compteurs.caracteresInvalides;
            }
        }
        octets.push_back(
            valide ? static_cast<std::uint8_t>(valeurChiffre(h) * 16 + valeurChiffre(l)) : 0);
    }
    const auto phaseEeprom = [&](Phase serie, Phase version, Phase autre) {
        if (!valide)
            return autre;
        const int a = octets[0];
        if (a >= EEPROM_NUMERO_SERIE && a < EEPROM_NUMERO_SERIE + 4)
            return serie;
        if (a == EEPROM_VERSION || a == EEPROM_VERSION + 1)
            return version;
        return autre;
    };

    switch (m_commande) {
    case octet::LIRE_EEPROM: {
        const Suite suite =
            debut(phaseEeprom(Phase::NumeroSerie, Phase::Version, Phase::LectureEeprom));
        if (suite == Suite::Arret)
            return;
        if (!valide)
            return repondre(suite == Suite::Faux ? m_config.octetFaux : REFUS);
        return envoyerValeurs({m_eeprom[octets[0]]}, suite == Suite::Minuscules,
                              suite == Suite::Faux ? std::optional(m_config.octetFaux)
                                                   : std::nullopt);
    }
    case octet::ECRIRE_EEPROM: {
        // Version, serial number or any other cell: what the command is for decides the phase.
        const Suite suite = debut(
            phaseEeprom(Phase::EcritureEeprom, Phase::EcritureVersion, Phase::EcritureEeprom));
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        if (!valide)
            return repondre(REFUS);
        m_eeprom[octets[0]] = octets[1];
        m_journal.push_back({Ecriture::Genre::Eeprom, octets[0], octets[1]});
        ++m_compteurs.ecrituresEeprom;
        return repondre(octet::ACQUIT);
    }
    case octet::ECRIRE_MOT: {
        ++m_compteurs.commandesMot;
        const Suite suite = debut(Phase::MotProgramme);
        if (suite == Suite::Arret)
            return;
        if (suite == Suite::Faux)
            return repondre(m_config.octetFaux);
        if (!valide || m_etat != EtatAppareil::Programmation)
            return repondre(REFUS);
        // The data is always scrambled; the address too, unless the device is in mode 1.
        const bool adresseClaire = m_config.mode == 1;
        const unsigned ah = octets[0] ^ (adresseClaire ? 0 : MASQUE_HAUT);
        const unsigned al = octets[1] ^ (adresseClaire ? 0 : MASQUE_BAS);
        const unsigned adresse = ah << 8 | al;
        if (adresse >= TAILLE_PROGRAMME)
            return repondre(REFUS);
        const auto donnee =
            static_cast<std::uint16_t>((octets[2] ^ MASQUE_HAUT) << 8 | (octets[3] ^ MASQUE_BAS));
        m_programme[adresse] = donnee;
        m_ecrit[adresse] = true;
        m_journal.push_back({Ecriture::Genre::Mot, static_cast<std::uint16_t>(adresse), donnee});
        ++m_compteurs.motsEcrits;
        return repondre(octet::ACQUIT);
    }
    default:
        return;
    }
}

void Appareil::envoyerValeurs(std::vector<std::uint8_t> valeurs, bool minuscules,
                              std::optional<std::uint8_t> premierFaux)
{
    const bool bas = minuscules || m_config.minuscules;
    m_caracteres.clear();
    for (std::uint8_t v : valeurs) {
        m_caracteres.push_back(static_cast<std::uint8_t>(caractereHex(v >> 4, bas)));
        m_caracteres.push_back(static_cast<std::uint8_t>(caractereHex(v & 0x0F, bas)));
    }
    if (premierFaux && !m_caracteres.empty())
        m_caracteres.front() = *premierFaux;
    envoyerCaractereSuivant();
}

void Appareil::envoyerCaractereSuivant()
{
    if (m_caracteres.empty()) {
        m_attente = Attente::Commande;
        return;
    }
    repondre(m_caracteres.front());
    m_caracteres.pop_front();
    m_attente = Attente::Acquit;
}

std::string_view nomPhase(Phase phase)
{
    for (const auto& n : NOMS_PHASES)
        if (n.phase == phase)
            return n.nom;
    return "?";
}

std::string_view nomPanne(Panne panne)
{
    for (const auto& n : NOMS_PANNES)
        if (n.panne == panne)
            return n.nom;
    return "?";
}

std::optional<Phase> phaseDepuisNom(std::string_view nom)
{
    for (const auto& n : NOMS_PHASES)
        if (n.nom == nom)
            return n.phase;
    return std::nullopt;
}

std::optional<Panne> panneDepuisNom(std::string_view nom)
{
    for (const auto& n : NOMS_PANNES)
        if (n.nom == nom)
            return n.panne;
    return std::nullopt;
}

std::optional<Defaut> analyserDefaut(std::string_view texte)
{
    std::vector<std::string_view> champs;
    while (true) {
        const auto deuxPoints = texte.find(':');
        champs.push_back(texte.substr(0, deuxPoints));
        if (deuxPoints == std::string_view::npos)
            break;
        texte.remove_prefix(deuxPoints + 1);
    }
    if (champs.size() < 2 || champs.size() > 4)
        return std::nullopt;
    Defaut d;
    auto phase = phaseDepuisNom(champs[0]);
    auto panne = panneDepuisNom(champs[1]);
    if (!phase || !panne)
        return std::nullopt;
    d.phase = *phase;
    d.panne = *panne;
    if (champs.size() > 2) {
        auto n = entier(champs[2]);
        if (!n || *n == 0)
            return std::nullopt;
        d.occurrence = *n;
    }
    if (champs.size() > 3) {
        auto k = entier(champs[3]);
        if (!k)
            return std::nullopt;
        d.nombre = *k;
    }
    return d;
}

void ecrireVidage(const Appareil& appareil, std::ostream& sortie)
{
    const Compteurs& c = appareil.compteurs();
    sortie << "# korvane-sim memory: W word-address value, E eeprom-address value (hex)\n";
    sortie << "# handshakes " << c.connexions << " words-written " << c.motsEcrits
           << " eeprom-writes " << c.ecrituresEeprom << " faults " << c.pannes << '\n';
    char ligne[32];
    for (std::size_t a = 0; a < TAILLE_PROGRAMME; ++a) {
        if (!appareil.motEcrit(a))
            continue;
        std::snprintf(ligne, sizeof ligne, "W %04X %04X\n", static_cast<unsigned>(a),
                      static_cast<unsigned>(appareil.mot(a)));
        sortie << ligne;
    }
    for (std::size_t a = 0; a < TAILLE_EEPROM; ++a) {
        std::snprintf(ligne, sizeof ligne, "E %02X %02X\n", static_cast<unsigned>(a),
                      static_cast<unsigned>(appareil.eeprom(a)));
        sortie << ligne;
    }
}

std::optional<Vidage> lireVidage(std::istream& entree)
{
    Vidage vidage;
    vidage.eeprom.fill(0xFF);
    std::string ligne;
    while (std::getline(entree, ligne)) {
        if (ligne.empty() || ligne[0] == '#')
            continue;
        std::istringstream champs(ligne);
        std::string genre, adresse, valeur, reste;
        if (!(champs >> genre >> adresse >> valeur) || (champs >> reste))
            return std::nullopt;
        if (genre == "W") {
            auto a = hexadecimal(adresse, 4);
            auto v = hexadecimal(valeur, 4);
            if (!a || !v || *a >= TAILLE_PROGRAMME)
                return std::nullopt;
            vidage.mots.emplace_back(static_cast<std::uint16_t>(*a),
                                     static_cast<std::uint16_t>(*v));
        } else if (genre == "E") {
            auto a = hexadecimal(adresse, 2);
            auto v = hexadecimal(valeur, 2);
            if (!a || !v)
                return std::nullopt;
            vidage.eeprom[*a] = static_cast<std::uint8_t>(*v);
        } else {
            return std::nullopt;
        }
    }
    return vidage;
}

} // namespace korvane::sim
