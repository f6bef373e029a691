// The engine's steps 6 to 8 (connection wait, verification, programming) against a device
// whose answers come from the input, with the wizard's side played as the window plays it:
// each notification is taken, the next step shown or the connection reset. Checks that every
// step ends with exactly one notification within its number of ticks, with the timer stopped,
// and that a success is only reported when the whole image and the version were sent.
//
// Input:
//   byte 0       bit 0 set: the image is given by the input, clear: the built-in image;
//                bit 1: the English texts; bits 2-3: the port index
//   if bit 0     a number of records (0 to 8) and as many lines, each ended by '\n' (at
//                most 54 characters are kept)
//   the rest     the device's byte stream (see PortFuzz.h)

#include "PortFuzz.h"
#include "engine/Moteur.h"
#include "engine/Notifications.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace korvane;
using korvane::fuzz::PortFuzz;

namespace {

constexpr std::size_t kAppelsMaxTick = 1000000;

class VueFuzz : public VueMoteur {
public:
    struct Notification {
        int code;
        std::intptr_t wParam;
        bool minuterieArretee;
    };

    void definirTexte(Controle, const std::string& texte) override
    {
        FUZZ_VERIFIER(texte.size() < 1000);
    }
    void definirVisible(Controle, bool) override {}
    void definirActif(Controle, bool) override {}
    void definirGras(Controle, bool) override {}
    void definirBarre(const BarreProgression& b) override
    {
        FUZZ_VERIFIER(b.minimum() <= b.position() && b.position() <= b.maximum());
    }
    void reglerIntervalle(int ms) override { intervalle = ms; }
    void demarrerMinuterie() override { active = true; }
    void arreterMinuterie() override { active = false; }
    void poster(int code, std::intptr_t wParam) override
    {
        notifications.push_back({code, wParam, !active});
    }

    bool active = false;
    int intervalle = 0;
    std::vector<Notification> notifications;
};

// The version frame the end of programming sends: EEPROM cells 126 and 127 set to 16 and 3.
const std::uint8_t kTrameVersion[] = {0x8B, '7', 'E', '1', '0', 0x8B, '7', 'F', '0', '3'};

bool Contient(const std::vector<std::uint8_t>& v, const std::uint8_t* motif, std::size_t n)
{
    return std::search(v.begin(), v.end(), motif, motif + n) != v.end();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::size_t pos = 0;
    auto octet = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };

    const std::uint8_t options = octet();
    const bool imageDonnee = (options & 1) != 0;

    // The image given by the input, in slots, ended by an empty slot.
    std::vector<char> slots;
    if (imageDonnee) {
        const int nombre = octet() % 9;
        slots.assign(std::size_t(nombre + 1) * LARGEUR_LIGNE, '\0');
        for (int r = 0; r < nombre; ++r) {
            int longueur = 0;
            while (pos < size && data[pos] != '\n') {
                if (longueur < LARGEUR_LIGNE - 1)
                    slots[std::size_t(r) * LARGEUR_LIGNE + std::size_t(longueur++)] =
                        char(data[pos]);
                ++pos;
            }
            if (pos < size)
                ++pos; // the '\n'
            if (longueur == 0)
                slots[std::size_t(r) * LARGEUR_LIGNE] = ':'; // an empty line would end the image
        }
    }
    const auto* image =
        imageDonnee ? reinterpret_cast<const char(*)[LARGEUR_LIGNE]>(slots.data()) : ImageMiseAJour;

    PortFuzz port(data + pos, size - pos, 5000);
    CK27V2 chargeur(port);
    VueFuzz vue;
    EtatAssistant etat;
    etat.IndexLangue = (options >> 1) & 1;
    etat.IndexPort = (options >> 2) & 3;
    MoteurMiseAJour moteur(etat, chargeur, vue, image);

    etat.NumeroEtape = 6;
    moteur.AfficherAttente();
    for (;;) {
        const int etape = etat.NumeroEtape;
        // Step 6 gives up after 20 ticks, a verification takes 4, programming one per record
        // and one more to find the image incomplete.
        const int ticksMax = etape == 6   ? TICKS_ATTENTE
                             : etape == 7 ? 4
                                          : etat.NombreEnregistrements + 1;
        int ticks = 0;
        std::vector<std::uint8_t> ecritsDernierTick;
        while (vue.notifications.empty()) {
            FUZZ_VERIFIER(vue.active);
            FUZZ_VERIFIER(ticks < ticksMax);
            port.debut(kAppelsMaxTick);
            moteur.TimerGestionSerieTimer();
            ++ticks;
            ecritsDernierTick = port.ecrits();
            FUZZ_VERIFIER(etat.NumeroEtape == etape); // the engine never moves the wizard
            FUZZ_VERIFIER(etat.IndexEnregistrement >= 0 &&
                          etat.IndexEnregistrement <= etat.NombreEnregistrements);
        }
        FUZZ_VERIFIER(vue.notifications.size() == 1); // one notification per tick at most
        const VueFuzz::Notification n = vue.notifications.front();
        vue.notifications.clear();
        FUZZ_VERIFIER(n.minuterieArretee && !vue.active);
        if (fuzz::trace())
            std::fprintf(stderr, "step %d: notification %d (%ld) after %d ticks\n", etape, n.code,
                         long(n.wParam), ticks);

        if (n.code == WM_ETAPE_SUIVANTE) {
            FUZZ_VERIFIER(n.wParam == 0);
            if (etape == 6) {
                FUZZ_VERIFIER(chargeur.EstConnecte() == 1);
                etat.NumeroEtape = 7;
                moteur.AfficherVerification();
                FUZZ_VERIFIER(vue.intervalle == INTERVALLE_VERIFICATION_MS);
            } else if (etape == 7) {
                FUZZ_VERIFIER(ticks == 4 && chargeur.Etat() == ETAT_PROGRAMMATION);
                FUZZ_VERIFIER(etat.ModeAppareil == MODE_REQUIS);
                FUZZ_VERIFIER(etat.NumeroSerie >= NUMERO_SERIE_MIN &&
                              etat.NumeroSerie <= NUMERO_SERIE_MAX);
                etat.NumeroEtape = 8;
                moteur.AfficherProgrammation();
                FUZZ_VERIFIER(vue.intervalle == INTERVALLE_PROGRAMMATION_MS);
            } else {
                // Success: the record just sent was an end-of-file record and the version
                // went to the device.
                FUZZ_VERIFIER(etape == 8);
                const std::int32_t r = etat.IndexEnregistrement - 1;
                FUZZ_VERIFIER(r >= 0 && r < etat.NombreEnregistrements);
                FUZZ_VERIFIER(ClasserEnregistrement(etat.TableEnregistrements[r]) ==
                              ClasseEnregistrement::FinFichier);
                for (std::int32_t i = 0; i < r; ++i)
                    FUZZ_VERIFIER(ClasserEnregistrement(etat.TableEnregistrements[i]) !=
                                  ClasseEnregistrement::FinFichier);
                FUZZ_VERIFIER(Contient(ecritsDernierTick, kTrameVersion, sizeof kTrameVersion));
                FUZZ_VERIFIER(chargeur.EstConnecte() == 0);
                break;
            }
            continue;
        }
        if (n.code == WM_ECHEC_CONNEXION) {
            FUZZ_VERIFIER(etape == 6 && ticks == TICKS_ATTENTE && n.wParam == 0);
            FUZZ_VERIFIER(chargeur.EstConnecte() == 0);
            break;
        }
        if (n.code == WM_APPAREIL_REFUSE) {
            FUZZ_VERIFIER(etape == 7 && n.wParam >= REFUS_TYPE && n.wParam <= REFUS_MODE);
        } else {
            FUZZ_VERIFIER(n.code == WM_ERREUR_TRANSMISSION);
            FUZZ_VERIFIER(etape == 7 || etape == 8);
            FUZZ_VERIFIER(n.wParam != 0);
        }
        // The window's handler ends the connection before its dialog.
        port.debut(kAppelsMaxTick);
        chargeur.Reinitialiser();
        break;
    }
    port.debut(kAppelsMaxTick); // the client's destructor resets and closes
    return 0;
}
