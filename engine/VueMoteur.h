#pragma once

#include "BarreProgression.h"

#include <cstdint>
#include <string>

namespace korvane {

// Controls of the main window that the screen routines and the engine set.
enum class Controle {
    LabelTitreEtape,
    LabelLigne1,
    LabelLigne2,
    LabelLigne3,
    LabelLigne4,
    LabelLigne5,
    LabelBarreProgression,
    ProgressBarProgrammation,
    ButtonPrecedant,
    ButtonSuivant,
    ButtonQuitter,
    EditEtape,
};

// What the engine needs of a window: the main window implements it with its widgets, the
// tests with a recorder, the headless updater with a terminal. Texts are UTF-8.
class VueMoteur {
public:
    virtual ~VueMoteur() = default;

    virtual void definirTexte(Controle c, const std::string& texte) = 0;
    virtual void definirVisible(Controle c, bool visible) = 0;
    virtual void definirActif(Controle c, bool actif) = 0;
    virtual void definirGras(Controle c, bool gras) = 0;
    // The bar's model changed (position, range or smooth display).
    virtual void definirBarre(const BarreProgression& barre) = 0;

    // TimerGestionSerie: a periodic timer on the user-interface thread.
    virtual void reglerIntervalle(int ms) = 0;
    virtual void demarrerMinuterie() = 0;
    virtual void arreterMinuterie() = 0;

    // Posts a notification to the window's own queue, handled after the current tick.
    virtual void poster(int code, std::intptr_t wParam) = 0;
};

} // namespace korvane
