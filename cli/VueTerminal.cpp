#include "VueTerminal.h"

#include <cmath>

namespace korvane {

VueTerminal::VueTerminal(const EtatAssistant& etat, std::FILE* sortie, bool terminal)
    : m_etat(etat), m_sortie(sortie), m_terminal(terminal)
{
    // The updater starts where the wizard's step 5 leaves the window: the text lines shown.
    for (int i = index(Controle::LabelLigne1); i <= index(Controle::LabelLigne5); ++i)
        m_lignes[i].visible = true;
    m_lignes[index(Controle::LabelTitreEtape)].visible = true;
    m_lignes[index(Controle::LabelBarreProgression)].visible = true;
}

int VueTerminal::index(Controle c)
{
    return static_cast<int>(c);
}

bool VueTerminal::prendreNotification(std::pair<int, std::intptr_t>& n)
{
    if (m_file.empty())
        return false;
    n = m_file.front();
    m_file.pop_front();
    return true;
}

void VueTerminal::definirTexte(Controle c, const std::string& texte)
{
    const int i = index(c);
    if (c == Controle::EditEtape || c == Controle::ButtonPrecedant ||
        c == Controle::ButtonSuivant || c == Controle::ButtonQuitter)
        return;
    if (m_lignes[i].texte == texte && m_lignes[i].imprimee)
        return;
    m_lignes[i].texte = texte;
    m_lignes[i].imprimee = false;
    if (c == Controle::LabelBarreProgression) {
        // A hidden label's text waits for the label to be shown.
        if (m_lignes[i].visible && !texte.empty()) {
            imprimerProgression(texte);
            m_lignes[i].imprimee = true;
        }
        return;
    }
    imprimerSiVisible(i);
}

void VueTerminal::definirVisible(Controle c, bool visible)
{
    const int i = index(c);
    m_lignes[i].visible = visible;
    if (c == Controle::LabelBarreProgression) {
        if (visible && !m_lignes[i].imprimee && !m_lignes[i].texte.empty()) {
            imprimerProgression(m_lignes[i].texte);
            m_lignes[i].imprimee = true;
        }
        return;
    }
    if (c != Controle::ProgressBarProgrammation && c != Controle::LabelBarreProgression)
        imprimerSiVisible(i);
}

void VueTerminal::imprimerSiVisible(int i)
{
    Ligne& l = m_lignes[i];
    if (!l.visible || l.imprimee || l.texte.empty())
        return;
    l.imprimee = true;
    if (i == index(Controle::LabelTitreEtape))
        ecrire("== " + l.texte + " ==");
    else
        ecrire(l.texte);
}

void VueTerminal::imprimerProgression(const std::string& texte)
{
    if (m_etat.NumeroEtape != 8) {
        // The countdown of the connection wait.
        if (m_terminal) {
            std::fprintf(m_sortie, "\r\033[K%s", texte.c_str());
            m_ligneOuverte = true;
        } else {
            ecrire(texte);
        }
        std::fflush(m_sortie);
        return;
    }
    const int maximum = m_barre.maximum() > m_barre.minimum() ? m_barre.maximum() : 1;
    const int position = m_barre.position();
    if (m_terminal) {
        constexpr int largeur = 40;
        const int pleins = position * largeur / maximum;
        std::string barre(static_cast<std::size_t>(pleins), '#');
        barre.append(static_cast<std::size_t>(largeur - pleins), '.');
        std::fprintf(m_sortie, "\r\033[K[%s] %s", barre.c_str(), texte.c_str());
        m_ligneOuverte = true;
        std::fflush(m_sortie);
        return;
    }
    // Plain output: one line per tenth of the way.
    const int dizaine = position * 10 / maximum;
    if (dizaine != m_dizaineImprimee) {
        m_dizaineImprimee = dizaine;
        ecrire(texte);
    }
}

void VueTerminal::terminerLigne()
{
    if (m_ligneOuverte) {
        std::fputc('\n', m_sortie);
        m_ligneOuverte = false;
    }
}

void VueTerminal::ecrire(const std::string& ligne)
{
    terminerLigne();
    std::fprintf(m_sortie, "%s\n", ligne.c_str());
    std::fflush(m_sortie);
}

} // namespace korvane
