#pragma once

#include "EtatAssistant.h"
#include "VueMoteur.h"
#include "loader/Classek27_v2.h"

#include <cstdint>

namespace korvane {

// The update engine: the screens and ticks of steps 6 (connection wait), 7 (verification)
// and 8 (programming). It reports every outcome with Signaler and never changes the step.
class MoteurMiseAJour {
public:
    MoteurMiseAJour(EtatAssistant& etat, CK27V2& chargeur, VueMoteur& vue);

    // The timer's tick: work for step 6, 7 or 8; nothing at the other steps.
    void TimerGestionSerieTimer();

    void AfficherAttente();      // step 6
    void AfficherVerification(); // step 7
    void AfficherProgrammation(); // step 8

    // Stops the timer and posts `code` with `wParam`.
    void Signaler(int code, std::intptr_t wParam);

private:
    void TickAttente();
    void TickVerification();
    void TickProgrammation();

    EtatAssistant& m_etat;
    CK27V2& m_chargeur;
    VueMoteur& m_vue;
};

} // namespace korvane
