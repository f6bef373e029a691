#pragma once

#include "engine/EtatAssistant.h"
#include "engine/VueMoteur.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>

namespace korvane {

// The engine's view on a terminal: the lines the wizard would show are printed as they
// appear, the progress label becomes a bar on a terminal and plain lines elsewhere, and the
// timer and the notification queue are plain values the updater's loop reads.
class VueTerminal : public VueMoteur {
public:
    VueTerminal(const EtatAssistant& etat, std::FILE* sortie, bool terminal);

    void definirTexte(Controle c, const std::string& texte) override;
    void definirVisible(Controle c, bool visible) override;
    void definirActif(Controle, bool) override {}
    void definirGras(Controle, bool) override {}
    void definirBarre(const BarreProgression& barre) override { m_barre = barre; }

    void reglerIntervalle(int ms) override { m_intervalle = ms; }
    void demarrerMinuterie() override
    {
        m_active = true;
        ++m_demarrages;
    }
    void arreterMinuterie() override { m_active = false; }
    void poster(int code, std::intptr_t wParam) override { m_file.emplace_back(code, wParam); }

    int intervalle() const { return m_intervalle; }
    bool minuterieActive() const { return m_active; }
    // Counts the starts, so the loop knows when to begin a new period.
    unsigned demarrages() const { return m_demarrages; }
    bool prendreNotification(std::pair<int, std::intptr_t>& n);

    // Ends a progress bar line that is still open.
    void terminerLigne();
    // Prints one line of the updater's own (outcome texts, errors).
    void ecrire(const std::string& ligne);

private:
    struct Ligne {
        std::string texte;
        bool visible = false;
        bool imprimee = false;
    };
    static int index(Controle c);
    void imprimerSiVisible(int i);
    void imprimerProgression(const std::string& texte);
    int m_dizaineImprimee = -1;

    const EtatAssistant& m_etat;
    std::FILE* m_sortie;
    bool m_terminal;
    bool m_ligneOuverte = false;
    Ligne m_lignes[12];
    BarreProgression m_barre;
    int m_intervalle = 1000;
    bool m_active = false;
    unsigned m_demarrages = 0;
    std::deque<std::pair<int, std::intptr_t>> m_file;
};

} // namespace korvane
