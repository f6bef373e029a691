// The loader client driven through a sequence of operations, chosen by the input, against a
// device whose answers are the rest of the input. After every operation the client's state,
// its status and what it put on the line are checked against the protocol.
//
// Input:
//   byte 0        clock start: below 0x80 an ordinary value, otherwise just before the
//                 32-bit millisecond counter wraps
//   byte 1        number of operations
//   operations    an opcode byte and its arguments each (see Operation)
//   the rest      the device's byte stream (see PortFuzz.h for silence and failed reads)

#include "PortFuzz.h"
#include "loader/Classek27_v2.h"
#include "loader/ValeurHex.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace korvane;
using korvane::fuzz::PortFuzz;

namespace {

enum Operation : std::uint8_t {
    OpConnecter,         // limit selector
    OpReinitialiser,     //
    OpFermer,            //
    OpVerifierType,      //
    OpLireType,          //
    OpLireMode,          //
    OpLireNumeroSerie,   //
    OpLireVersion,       //
    OpLireOctetEeprom,   // address
    OpEcrireOctetEeprom, // address, value
    OpPreparer,          //
    OpEntrerProgrammation,
    OpEcrireMots,    // address high, address low, word high, word low, count
    OpEcrireVersion, // major, minor
    OpSortirProgrammation,
    OpChoisirPort,   // index (signed)
    OpPurger,        //
    OpPanne,         // call kind, calls to let through, error selector
    OpLireMotEeprom, // address
    OpRecevoirHex,   //
    OpNombre
};

// The reads of one operation may take at most this many port calls.
constexpr std::size_t kAppelsMax = 20000;

// Errors a failing port call may leave: ordinary ones, 0 (a port that gives no code) and one
// that looks like a loader code, which the client must not pass on as such.
constexpr std::int32_t kErreurs[] = {EIO,    ENXIO,  ENODEV, EBUSY, EACCES,
                                     ENOENT, EAGAIN, EBADF,  0,     ERREUR_DELAI};

bool EstCodeChargeur(StatutChargeur s)
{
    switch (s) {
    case ERREUR_NON_CONNECTE:
    case ERREUR_DELAI:
    case ERREUR_ACQUITTEMENT:
    case ERREUR_ETAT:
    case ERREUR_ADRESSE:
    case ERREUR_PAS_EN_PROGRAMMATION:
    case ERREUR_PORT_FERME:
    case ERREUR_TYPE_APPAREIL:
        return true;
    default:
        return false;
    }
}

void VerifierStatut(StatutChargeur s, const CK27V2& c)
{
    FUZZ_VERIFIER(s == 0 || EstCodeChargeur(s) || (s > 0 && s < 4096));
    FUZZ_VERIFIER(c.Statut() == s);
}

void VerifierEtat(const CK27V2& c, const PortFuzz& port)
{
    FUZZ_VERIFIER(c.EstConnecte() == 0 || c.EstConnecte() == 1);
    FUZZ_VERIFIER(c.Etat() == ETAT_REPOS || c.Etat() == ETAT_PREPARE ||
                  c.Etat() == ETAT_PROGRAMMATION);
    FUZZ_VERIFIER(c.PortOuvert() == port.ouvert());
    if (!c.PortOuvert()) {
        FUZZ_VERIFIER(c.EstConnecte() == 0);
        FUZZ_VERIFIER(c.Etat() == ETAT_REPOS);
        FUZZ_VERIFIER(c.Mode() == 0);
    }
}

// What the client puts on the line for each command, when every step goes through.
void Hex(std::vector<std::uint8_t>& v, std::uint8_t octet)
{
    auto car = [](unsigned d) {
        return static_cast<std::uint8_t>(d < 10 ? '0' + d : 'A' + d - 10);
    };
    v.push_back(car(octet >> 4));
    v.push_back(car(octet & 0xF));
}
void TrameLireOctet(std::vector<std::uint8_t>& v, std::uint8_t adresse)
{
    v.push_back(octet::LIRE_EEPROM);
    Hex(v, adresse);
    v.push_back(octet::ACQUIT);
    v.push_back(octet::ACQUIT);
}
void TrameLireMot(std::vector<std::uint8_t>& v, std::uint8_t adresse)
{
    TrameLireOctet(v, adresse);
    TrameLireOctet(v, static_cast<std::uint8_t>(adresse + 1));
}
void TrameEcrireOctet(std::vector<std::uint8_t>& v, std::uint8_t adresse, std::uint8_t valeur)
{
    v.push_back(octet::ECRIRE_EEPROM);
    Hex(v, adresse);
    Hex(v, valeur);
}
void TrameLireMode(std::vector<std::uint8_t>& v)
{
    v.insert(v.end(), {octet::LIRE_MODE, octet::ACQUIT, octet::ACQUIT});
}

// Whether `ecrits` is the beginning (or the whole, when `complet`) of `attendu`.
void VerifierTrame(const std::vector<std::uint8_t>& ecrits,
                   const std::vector<std::uint8_t>& attendu, bool complet)
{
    if (fuzz::trace()) {
        std::fprintf(stderr, "written:");
        for (std::uint8_t b : ecrits)
            std::fprintf(stderr, " %02X", b);
        std::fprintf(stderr, "\nexpected:");
        for (std::uint8_t b : attendu)
            std::fprintf(stderr, " %02X", b);
        std::fprintf(stderr, "\n");
    }
    FUZZ_VERIFIER(ecrits.size() <= attendu.size());
    FUZZ_VERIFIER(std::equal(ecrits.begin(), ecrits.end(), attendu.begin()));
    if (complet)
        FUZZ_VERIFIER(ecrits.size() == attendu.size());
}

// The value of received characters i and i+1.
std::int32_t Valeur(const std::vector<std::uint8_t>& lus, std::size_t i)
{
    return ValeurHex(lus[i], lus[i + 1]);
}

class Lecteur {
public:
    Lecteur(const std::uint8_t* d, std::size_t n) : m_d(d), m_n(n) {}
    std::uint8_t octet() { return m_pos < m_n ? m_d[m_pos++] : 0; }
    const std::uint8_t* reste() const { return m_d + m_pos; }
    std::size_t tailleReste() const { return m_n - m_pos; }

private:
    const std::uint8_t* m_d;
    std::size_t m_n;
    std::size_t m_pos = 0;
};

struct Pas {
    std::uint8_t op;
    std::uint8_t a[5];
};

void Executer(CK27V2& c, PortFuzz& port, const Pas& pas)
{
    const bool connecte = c.EstConnecte() == 1;
    const bool ouvert = c.PortOuvert();
    const std::int32_t etat = c.Etat();
    const std::int32_t mode = c.Mode();
    const std::uint32_t t0 = port.horloge();
    port.debut(kAppelsMax);

    // Commands that need the loader connection refuse at once without it.
    auto sansConnexion = [&](StatutChargeur s) {
        if (connecte)
            return false;
        FUZZ_VERIFIER(s == ERREUR_NON_CONNECTE);
        FUZZ_VERIFIER(port.ecrits().empty() && port.lectures() == 0);
        return true;
    };

    std::vector<std::uint8_t> attendu;
    StatutChargeur s = 0;
    switch (pas.op) {
    case OpConnecter: {
        constexpr std::int32_t kLimites[] = {1, 2, 3, -1};
        const std::int32_t limite = kLimites[pas.a[0] & 3];
        s = c.Connecter(limite);
        FUZZ_VERIFIER(c.Mode() == 0);
        FUZZ_VERIFIER((s == 0) == (c.EstConnecte() == 1));
        if (s == 0) {
            const auto& lus = port.lus();
            FUZZ_VERIFIER(std::find(lus.begin(), lus.end(), octet::CONNEXION_OK) != lus.end());
            FUZZ_VERIFIER(!port.ecrits().empty() && port.ecrits().back() == octet::CONNEXION);
        }
        for (std::uint8_t b : port.ecrits())
            FUZZ_VERIFIER(b == octet::CONNEXION || b == octet::RESET ||
                          b == octet::SORTIR_PROGRAMMATION);
        // The limit is tested after each exchange: one exchange (10 ms, a read of up to
        // 1100 ms and a reset after 0x85 with another read) may run past it, no more.
        if (limite > 0)
            FUZZ_VERIFIER(port.horloge() - t0 <= std::uint32_t(limite) * 1000 + 2500);
        break;
    }
    case OpReinitialiser:
        s = c.Reinitialiser();
        if (!ouvert) {
            FUZZ_VERIFIER(s == ERREUR_PORT_FERME && port.ecrits().empty());
        } else if (etat == ETAT_PROGRAMMATION) {
            VerifierTrame(port.ecrits(), {octet::SORTIR_PROGRAMMATION}, false);
            FUZZ_VERIFIER(port.lectures() == 0);
        } else {
            VerifierTrame(port.ecrits(), {octet::RESET}, s == 0);
            if (s == 0)
                FUZZ_VERIFIER(c.EstConnecte() == 0 && c.Etat() == ETAT_REPOS);
        }
        FUZZ_VERIFIER(c.Mode() == 0);
        break;
    case OpFermer:
        s = c.Fermer();
        FUZZ_VERIFIER(c.EstConnecte() == 0 && c.Etat() == ETAT_REPOS && c.Mode() == 0);
        if (!port.pannesArmees())
            FUZZ_VERIFIER(s == 0 && !port.ouvert() && port.reglagesPropresRemis());
        break;
    case OpVerifierType:
    case OpLireType: {
        char type[4] = {'x', 'x', 'x', 'x'};
        s = pas.op == OpLireType ? c.LireType(type) : c.VerifierType();
        if (sansConnexion(s))
            break;
        attendu = {octet::LIRE_TYPE, octet::ACQUIT, octet::ACQUIT, octet::ACQUIT,
                   octet::ACQUIT,    octet::ACQUIT, octet::ACQUIT};
        const bool recu = s == 0 || s == ERREUR_TYPE_APPAREIL;
        VerifierTrame(port.ecrits(), attendu, recu);
        if (recu) {
            const auto& lus = port.lus();
            FUZZ_VERIFIER(lus.size() == 6);
            char lu[3];
            for (int i = 0; i < 3; ++i)
                lu[i] = static_cast<char>(Valeur(lus, 2 * std::size_t(i)) & 0xFF);
            const bool k27 = std::memcmp(lu, CODE_TYPE, 3) == 0;
            if (pas.op == OpLireType) {
                FUZZ_VERIFIER(s == 0 && std::memcmp(type, lu, 3) == 0 && type[3] == '\0');
            } else {
                FUZZ_VERIFIER((s == 0) == k27);
            }
        } else if (pas.op == OpLireType && !port.ecrits().empty()) {
            FUZZ_VERIFIER(type[3] == '\0');
        }
        break;
    }
    case OpLireMode: {
        std::int32_t m = 12345;
        s = c.LireMode(m);
        FUZZ_VERIFIER(m == c.Mode());
        if (sansConnexion(s))
            break;
        TrameLireMode(attendu);
        VerifierTrame(port.ecrits(), attendu, s == 0);
        if (s == 0)
            FUZZ_VERIFIER(c.Mode() == Valeur(port.lus(), 0));
        else
            FUZZ_VERIFIER(c.Mode() == mode);
        break;
    }
    case OpLireNumeroSerie: {
        std::uint32_t n = 0xDEADBEEF;
        s = c.LireNumeroSerie(n);
        if (sansConnexion(s)) {
            FUZZ_VERIFIER(n == 0xDEADBEEF);
            break;
        }
        TrameLireMot(attendu, EEPROM_NUMERO_SERIE);
        TrameLireMot(attendu, EEPROM_NUMERO_SERIE + 2);
        VerifierTrame(port.ecrits(), attendu, s == 0);
        if (s == 0) {
            const auto& lus = port.lus();
            FUZZ_VERIFIER(lus.size() == 8);
            std::uint32_t attenduN = 0;
            for (int i = 3; i >= 0; --i)
                attenduN = attenduN * 256u + std::uint32_t(Valeur(lus, 2 * std::size_t(i)));
            FUZZ_VERIFIER(n == attenduN);
        }
        break;
    }
    case OpLireVersion: {
        std::int32_t majeure = -7, mineure = -7;
        s = c.LireVersion(majeure, mineure);
        if (sansConnexion(s))
            break;
        TrameLireOctet(attendu, EEPROM_VERSION);
        TrameLireOctet(attendu, EEPROM_VERSION + 1);
        VerifierTrame(port.ecrits(), attendu, s == 0);
        if (s == 0)
            FUZZ_VERIFIER(majeure == Valeur(port.lus(), 0) && mineure == Valeur(port.lus(), 2));
        break;
    }
    case OpLireOctetEeprom:
    case OpLireMotEeprom: {
        std::int32_t v = -7;
        s = pas.op == OpLireOctetEeprom ? c.LireOctetEeprom(pas.a[0], v)
                                        : c.LireMotEeprom(pas.a[0], v);
        if (sansConnexion(s)) {
            FUZZ_VERIFIER(v == -7);
            break;
        }
        if (pas.op == OpLireOctetEeprom)
            TrameLireOctet(attendu, pas.a[0]);
        else if (pas.a[0] != 0xFF) // address 256 has no single-byte form
            TrameLireMot(attendu, pas.a[0]);
        if (!attendu.empty())
            VerifierTrame(port.ecrits(), attendu, s == 0);
        if (s == 0 && pas.op == OpLireOctetEeprom)
            FUZZ_VERIFIER(v == Valeur(port.lus(), 0));
        break;
    }
    case OpEcrireOctetEeprom:
        s = c.EcrireOctetEeprom(pas.a[0], pas.a[1]);
        if (sansConnexion(s))
            break;
        TrameEcrireOctet(attendu, pas.a[0], pas.a[1]);
        VerifierTrame(port.ecrits(), attendu, s == 0 || s == ERREUR_ACQUITTEMENT);
        if (s == 0)
            FUZZ_VERIFIER(port.lus().size() == 1 && port.lus()[0] == octet::ACQUIT);
        break;
    case OpEcrireVersion:
        s = c.EcrireVersion(pas.a[0], pas.a[1]);
        if (sansConnexion(s))
            break;
        TrameEcrireOctet(attendu, EEPROM_VERSION, pas.a[0]);
        TrameEcrireOctet(attendu, EEPROM_VERSION + 1, pas.a[1]);
        VerifierTrame(port.ecrits(), attendu, s == 0);
        break;
    case OpPreparer:
        s = c.Preparer();
        if (sansConnexion(s))
            break;
        VerifierTrame(port.ecrits(), {octet::PREPARER}, s == 0 || s == ERREUR_ACQUITTEMENT);
        if (s == 0)
            FUZZ_VERIFIER(c.Etat() == ETAT_PREPARE &&
                          port.lus() == std::vector<std::uint8_t>{octet::ACQUIT});
        else
            FUZZ_VERIFIER(c.Etat() == etat);
        break;
    case OpEntrerProgrammation:
        s = c.EntrerProgrammation();
        if (sansConnexion(s))
            break;
        if (etat != ETAT_PREPARE) {
            FUZZ_VERIFIER(s == ERREUR_ETAT && port.ecrits().empty());
            break;
        }
        if (mode == 0)
            TrameLireMode(attendu);
        attendu.push_back(octet::ENTRER_PROGRAMMATION);
        VerifierTrame(port.ecrits(), attendu, s == 0 || s == ERREUR_ACQUITTEMENT);
        FUZZ_VERIFIER(c.Etat() == (s == 0 ? ETAT_PROGRAMMATION : ETAT_PREPARE));
        if (s == 0)
            FUZZ_VERIFIER(port.lus().back() == octet::ACQUIT);
        break;
    case OpEcrireMots: {
        const std::uint32_t adresse = std::uint32_t(pas.a[0]) << 8 | pas.a[1];
        const std::uint32_t mot = std::uint32_t(pas.a[2]) << 8 | pas.a[3];
        const int nombre = 1 + pas.a[4] % 8;
        for (int i = 0; i < nombre; ++i) {
            const std::uint32_t a = adresse + std::uint32_t(i);
            const std::int32_t modeAvant = c.Mode();
            const bool connecteAvant = c.EstConnecte() == 1;
            const std::int32_t etatAvant = c.Etat();
            port.debut(kAppelsMax);
            s = c.EcrireMotProgramme(a, mot);
            VerifierStatut(s, c);
            if (!connecteAvant) {
                FUZZ_VERIFIER(s == ERREUR_NON_CONNECTE && port.ecrits().empty());
            } else if (etatAvant != ETAT_PROGRAMMATION) {
                FUZZ_VERIFIER(s == ERREUR_PAS_EN_PROGRAMMATION && port.ecrits().empty());
            } else if (a < ADRESSE_MOT_MIN || a > ADRESSE_MOT_MAX) {
                FUZZ_VERIFIER(s == ERREUR_ADRESSE && port.ecrits().empty());
            } else {
                // One frame per attempt, at most three attempts, the address scrambled in
                // every mode but 1 and the word always.
                std::uint8_t ah = std::uint8_t(a >> 8), al = std::uint8_t(a & 0xFF);
                if (modeAvant != 1) {
                    ah ^= MASQUE_HAUT;
                    al ^= MASQUE_BAS;
                }
                std::vector<std::uint8_t> trame{octet::ECRIRE_MOT};
                Hex(trame, ah);
                Hex(trame, al);
                Hex(trame, std::uint8_t((mot >> 8) ^ MASQUE_HAUT));
                Hex(trame, std::uint8_t((mot & 0xFF) ^ MASQUE_BAS));
                // An attempt cut short by a failed write is retried like any other, so each
                // attempt (each starting with the command byte, which no character can be)
                // is the frame or its beginning.
                const auto& ecrits = port.ecrits();
                int essais = 0;
                for (auto debut = ecrits.begin(); debut != ecrits.end();) {
                    const auto fin = std::find(debut + 1, ecrits.end(), octet::ECRIRE_MOT);
                    VerifierTrame(std::vector<std::uint8_t>(debut, fin), trame,
                                  s == 0 && fin == ecrits.end());
                    ++essais;
                    debut = fin;
                }
                FUZZ_VERIFIER(essais <= 3);
                if (s == 0)
                    FUZZ_VERIFIER(port.lus().back() == octet::ACQUIT);
            }
            FUZZ_VERIFIER(c.EstConnecte() == (connecteAvant ? 1 : 0) && c.Etat() == etatAvant);
            VerifierEtat(c, port);
            if (fuzz::trace())
                std::fprintf(stderr, "word %u -> %d\n", a, s);
            if (s != 0)
                break;
        }
        return;
    }
    case OpSortirProgrammation:
        s = c.SortirProgrammation();
        if (!ouvert) {
            FUZZ_VERIFIER(s == ERREUR_PORT_FERME && c.Mode() == mode);
        } else if (!connecte) {
            FUZZ_VERIFIER(s == ERREUR_NON_CONNECTE && c.Mode() == mode);
        } else if (etat == ETAT_PROGRAMMATION) {
            FUZZ_VERIFIER(s == 0 && c.EstConnecte() == 0 && c.Etat() == ETAT_REPOS);
            VerifierTrame(port.ecrits(), {octet::SORTIR_PROGRAMMATION}, false);
        } else {
            FUZZ_VERIFIER(s == ERREUR_PAS_EN_PROGRAMMATION && c.EstConnecte() == 1);
            FUZZ_VERIFIER(port.ecrits().empty());
        }
        FUZZ_VERIFIER(port.lectures() == 0);
        break;
    case OpChoisirPort: {
        const StatutChargeur avant = c.Statut();
        c.ChoisirPort(static_cast<std::int8_t>(pas.a[0]));
        FUZZ_VERIFIER(c.Statut() == avant && c.PortOuvert() == ouvert);
        FUZZ_VERIFIER(std::strlen(c.NomDuPort()) < 20);
        FUZZ_VERIFIER(std::strncmp(c.NomDuPort(), "\\.\\COM", 6) == 0);
        VerifierEtat(c, port);
        return;
    }
    case OpPurger:
        s = c.Purger();
        FUZZ_VERIFIER(ouvert || s == ERREUR_PORT_FERME);
        break;
    case OpPanne: {
        const auto appel = static_cast<PortFuzz::Appel>(pas.a[0] % int(PortFuzz::Appel::Nombre));
        port.armer(appel, pas.a[1] % 8, kErreurs[pas.a[2] % std::size(kErreurs)]);
        return;
    }
    case OpRecevoirHex: {
        std::int32_t v = -7;
        s = c.RecevoirHex(v);
        if (sansConnexion(s))
            break;
        VerifierTrame(port.ecrits(), {octet::ACQUIT, octet::ACQUIT}, s == 0);
        FUZZ_VERIFIER(s == 0 ? v == Valeur(port.lus(), 0) : v == -7);
        break;
    }
    default:
        return;
    }
    if (fuzz::trace())
        std::fprintf(stderr, "op %d -> %d (connected %d, state %d, mode %d, %zu written)\n", pas.op,
                     s, c.EstConnecte(), c.Etat(), c.Mode(), port.ecrits().size());
    VerifierStatut(s, c);
    VerifierEtat(c, port);
}

// Arguments taken by each operation.
int NombreArguments(std::uint8_t op)
{
    switch (op) {
    case OpConnecter:
    case OpLireOctetEeprom:
    case OpChoisirPort:
    case OpLireMotEeprom:
        return 1;
    case OpEcrireOctetEeprom:
    case OpEcrireVersion:
        return 2;
    case OpPanne:
        return 3;
    case OpEcrireMots:
        return 5;
    default:
        return 0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Lecteur in(data, size);
    const std::uint8_t depart = in.octet();
    const std::uint32_t horloge =
        depart < 0x80 ? 1000u + depart : 0xFFFFFFFFu - std::uint32_t(depart & 0x7F) * 16u;
    const int nombre = in.octet() % 64;
    std::vector<Pas> pas;
    for (int i = 0; i < nombre; ++i) {
        Pas p{};
        p.op = in.octet() % OpNombre;
        for (int k = 0; k < NombreArguments(p.op); ++k)
            p.a[k] = in.octet();
        pas.push_back(p);
    }

    PortFuzz port(in.reste(), in.tailleReste(), horloge);
    {
        CK27V2 client(port);
        VerifierEtat(client, port);
        for (const Pas& p : pas)
            Executer(client, port, p);
        port.debut(kAppelsMax); // the destructor resets and closes
    }
    // Whatever happened before, a client that is gone leaves the port closed with its own
    // settings back, unless a port call was made to fail.
    if (!port.pannesArmees())
        FUZZ_VERIFIER(!port.ouvert() && port.reglagesPropresRemis());
    return 0;
}
