#pragma once

#include "engine/VueMoteur.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvane::test {

inline const char* NomControle(Controle c)
{
    switch (c) {
    case Controle::LabelTitreEtape:
        return "LabelTitreEtape";
    case Controle::LabelLigne1:
        return "LabelLigne1";
    case Controle::LabelLigne2:
        return "LabelLigne2";
    case Controle::LabelLigne3:
        return "LabelLigne3";
    case Controle::LabelLigne4:
        return "LabelLigne4";
    case Controle::LabelLigne5:
        return "LabelLigne5";
    case Controle::LabelBarreProgression:
        return "LabelBarreProgression";
    case Controle::ProgressBarProgrammation:
        return "ProgressBarProgrammation";
    case Controle::ButtonPrecedant:
        return "ButtonPrecedant";
    case Controle::ButtonSuivant:
        return "ButtonSuivant";
    case Controle::ButtonQuitter:
        return "ButtonQuitter";
    case Controle::EditEtape:
        return "EditEtape";
    }
    return "?";
}

// A window stand-in: keeps what each control shows and logs every call in order, so that a
// test can check both the final screen and the order in which a routine built it.
class VueEnregistreuse : public VueMoteur {
public:
    struct Notification {
        int code;
        std::intptr_t wParam;
        bool operator==(const Notification&) const = default;
    };

    void definirTexte(Controle c, const std::string& texte) override
    {
        textes[c] = texte;
        noter(std::string("texte ") + NomControle(c) + " = " + texte);
    }
    void definirVisible(Controle c, bool v) override
    {
        visibles[c] = v;
        noter(std::string(v ? "montrer " : "cacher ") + NomControle(c));
    }
    void definirActif(Controle c, bool a) override
    {
        actifs[c] = a;
        noter(std::string(a ? "activer " : "desactiver ") + NomControle(c));
    }
    void definirGras(Controle c, bool g) override
    {
        gras[c] = g;
        noter(std::string(g ? "gras " : "maigre ") + NomControle(c));
    }
    void definirBarre(const BarreProgression& b) override
    {
        barre = b;
        noter("barre " + std::to_string(b.position()) + " [" + std::to_string(b.minimum()) + ".." +
              std::to_string(b.maximum()) + "]" + (b.lisse() ? " lisse" : ""));
    }
    void reglerIntervalle(int ms) override
    {
        intervalle = ms;
        noter("intervalle " + std::to_string(ms));
    }
    void demarrerMinuterie() override
    {
        minuterieActive = true;
        noter("demarrer");
    }
    void arreterMinuterie() override
    {
        minuterieActive = false;
        noter("arreter");
    }
    void poster(int code, std::intptr_t wParam) override
    {
        postees.push_back({code, wParam});
        noter("poster " + std::to_string(code) + " " + std::to_string(wParam));
    }

    // What a control shows; "" when nothing was ever set.
    std::string texte(Controle c) const
    {
        auto it = textes.find(c);
        return it == textes.end() ? std::string() : it->second;
    }
    // Visibility as set last; `defaut` when never set.
    bool visible(Controle c, bool defaut = false) const
    {
        auto it = visibles.find(c);
        return it == visibles.end() ? defaut : it->second;
    }
    bool aEteDefini(Controle c) const { return textes.count(c) || visibles.count(c); }

    void oublierAppels() { appels.clear(); }

    std::vector<std::string> appels;
    std::vector<Notification> postees;
    std::map<Controle, std::string> textes;
    std::map<Controle, bool> visibles;
    std::map<Controle, bool> actifs;
    std::map<Controle, bool> gras;
    BarreProgression barre;
    int intervalle = 1000;
    bool minuterieActive = true; // the window's timer runs from the start

private:
    void noter(std::string s) { appels.push_back(std::move(s)); }
};

} // namespace korvane::test
