#include "MiseAJourCli.h"

#include "VueTerminal.h"
#include "engine/Moteur.h"
#include "engine/Notifications.h"
#include "loader/Classek27_v2.h"
#include "text/Catalogue.h"

#include <chrono>
#include <memory>
#include <thread>

namespace korvane {
namespace {

using Horloge = std::chrono::steady_clock;

// A dialog's text without its closing question: the updater asks nothing.
std::string sansQuestion(const char* texte)
{
    std::string s(texte);
    const auto fin = s.rfind("\n\n");
    if (fin != std::string::npos && s.find('?', fin) != std::string::npos)
        s.erase(fin);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

int codeRefus(std::intptr_t raison)
{
    switch (raison) {
    case REFUS_TYPE:
        return SORTIE_REFUS_TYPE;
    case REFUS_NUMERO_SERIE:
        return SORTIE_REFUS_NUMERO_SERIE;
    case REFUS_VERSION:
        return SORTIE_REFUS_VERSION;
    default:
        return SORTIE_REFUS_MODE;
    }
}

CleTexte texteRefus(std::intptr_t raison, const EtatAssistant& etat)
{
    switch (raison) {
    case REFUS_TYPE:
        return TxtPasUnKorvane;
    case REFUS_NUMERO_SERIE:
        return TxtNumeroSerieInvalide;
    case REFUS_VERSION:
        return etat.VersionMajeure == VERSION_CIBLE_MAJEURE &&
                       etat.VersionMineure == VERSION_CIBLE_MINEURE
                   ? TxtDejaAJour
                   : TxtPlusRecente;
    default:
        return TxtVersionIncompatible;
    }
}

} // namespace

int executerMiseAJour(const OptionsCli& options)
{
    auto etat = std::make_unique<EtatAssistant>();
    CK27V2 chargeur;
    VueTerminal vue(*etat, options.sortie, options.terminal);
    MoteurMiseAJour moteur(*etat, chargeur, vue);

    etat->IndexLangue = 0;
    etat->IndexPort = options.indexPort;
    // As the wizard's Connect button at step 5.
    etat->NumeroEtape = 6;
    moteur.AfficherAttente();

    unsigned demarrages = vue.demarrages();
    auto prochain = Horloge::now() + std::chrono::milliseconds(vue.intervalle());
    for (;;) {
        if (options.arret && options.arret->load()) {
            vue.terminerLigne();
            // The version is written only after the last record, so a device stopped during
            // the transmission keeps its old number and a new attempt is accepted.
            std::fputs(
                etat->NumeroEtape == 8
                    ? "korvane-cli: stopped during the transmission; the update is not "
                      "complete: disconnect and reconnect the battery, then run the update again\n"
                    : "korvane-cli: stopped; nothing was written to the device\n",
                options.erreurs);
            return SORTIE_INTERROMPU;
        }
        if (!vue.minuterieActive()) {
            // Only a notification restarts the engine; none pending means nothing will.
            vue.ecrire(sansQuestion(Texte(TxtProblemeTransmission, etat->IndexLangue)));
            return SORTIE_ERREUR_TRANSMISSION;
        }
        // A periodic timer that keeps to its schedule: ticks are due every interval from the
        // start, whatever each one's own work takes, and a late tick runs at once. Sleep in
        // short slices so that a stop request is seen quickly.
        auto maintenant = Horloge::now();
        if (maintenant < prochain) {
            std::this_thread::sleep_for(
                std::min<Horloge::duration>(prochain - maintenant, std::chrono::milliseconds(50)));
            continue;
        }
        prochain += std::chrono::milliseconds(vue.intervalle());

        moteur.TimerGestionSerieTimer();

        std::pair<int, std::intptr_t> n;
        while (vue.prendreNotification(n)) {
            switch (n.first) {
            case WM_ETAPE_SUIVANTE:
                etat->NumeroEtape += 1;
                if (etat->NumeroEtape == 7) {
                    moteur.AfficherVerification();
                } else if (etat->NumeroEtape == 8) {
                    moteur.AfficherProgrammation();
                } else {
                    vue.ecrire(std::string("== ") + Texte(TxtTitreReussite, etat->IndexLangue) +
                               " ==");
                    return SORTIE_MISE_A_JOUR;
                }
                break;
            case WM_ECHEC_CONNEXION:
                vue.ecrire(sansQuestion(Texte(TxtEchecConnexion, etat->IndexLangue)));
                return SORTIE_ECHEC_CONNEXION;
            case WM_APPAREIL_REFUSE:
                chargeur.Reinitialiser();
                vue.ecrire(sansQuestion(Texte(texteRefus(n.second, *etat), etat->IndexLangue)));
                return codeRefus(n.second);
            case WM_ERREUR_TRANSMISSION:
            default:
                chargeur.Reinitialiser();
                vue.ecrire(sansQuestion(Texte(TxtProblemeTransmission, etat->IndexLangue)));
                return SORTIE_ERREUR_TRANSMISSION;
            }
        }
        if (vue.demarrages() != demarrages) {
            demarrages = vue.demarrages();
            prochain = Horloge::now() + std::chrono::milliseconds(vue.intervalle());
        }
    }
}

} // namespace korvane
