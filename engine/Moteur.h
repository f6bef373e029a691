#pragma once

#include "EtatAssistant.h"
#include "VueMoteur.h"
#include "image/Image.h"
#include "loader/Classek27_v2.h"

#include <cstdint>

namespace korvane {

// Status carried by WM_ERREUR_TRANSMISSION when the programming loop has sent every listed
// record without meeting an end-of-file record: the image is incomplete, so the update cannot
// be called finished. Outside the loader's codes (100001..100020) and the system's errno range.
inline constexpr StatutChargeur ERREUR_IMAGE_SANS_FIN = 100101;

// Length of the connection wait, in step-6 ticks, and the timer intervals of steps 6 to 8.
inline constexpr int TICKS_ATTENTE = 20;
inline constexpr int INTERVALLE_ATTENTE_MS = 2250;
inline constexpr int INTERVALLE_VERIFICATION_MS = 200;
inline constexpr int INTERVALLE_PROGRAMMATION_MS = 100;

// Accepted serial numbers and the mode byte the device must report.
inline constexpr std::uint32_t NUMERO_SERIE_MIN = 600000000u;
inline constexpr std::uint32_t NUMERO_SERIE_MAX = 699999999u;
inline constexpr std::uint32_t MODE_REQUIS = 3u;

// The update engine: the screens and ticks of steps 6 (connection wait), 7 (verification)
// and 8 (programming). It reports every outcome with Signaler and never changes the step.
class MoteurMiseAJour {
public:
    // `image` is the table of record slots that verification lists and programming sends;
    // the built-in firmware unless a caller (a test) gives another.
    MoteurMiseAJour(EtatAssistant& etat, CK27V2& chargeur, VueMoteur& vue,
                    const char (*image)[LARGEUR_LIGNE] = ImageMiseAJour);

    // The timer's tick: work for step 6, 7 or 8; nothing at the other steps.
    void TimerGestionSerieTimer();

    void AfficherAttente();       // step 6
    void AfficherVerification();  // step 7
    void AfficherProgrammation(); // step 8

    // Stops the timer and posts `code` with `wParam`.
    void Signaler(int code, std::intptr_t wParam);

private:
    void TickAttente();
    void TickVerification();
    void TickProgrammation();

    bool VerifierTypeAppareil();
    bool VerifierMode();
    bool VerifierNumeroSerie();
    bool VerifierVersion();
    void PasserEnProgrammation();

    void AfficherTempsRestant();
    void AfficherAvancement(double pourcentage);
    void AfficherEtape();
    void MettreAJourBarre() { m_vue.definirBarre(m_etat.Barre); }

    EtatAssistant& m_etat;
    CK27V2& m_chargeur;
    VueMoteur& m_vue;
    const char (*m_image)[LARGEUR_LIGNE];
};

} // namespace korvane
