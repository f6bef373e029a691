#include "Moteur.h"

#include "Notifications.h"
#include "text/Catalogue.h"

#include <algorithm>

namespace korvane {

MoteurMiseAJour::MoteurMiseAJour(EtatAssistant& etat, CK27V2& chargeur, VueMoteur& vue,
                                 const char (*image)[LARGEUR_LIGNE])
    : m_etat(etat), m_chargeur(chargeur), m_vue(vue), m_image(image)
{
}

void MoteurMiseAJour::TimerGestionSerieTimer()
{
    switch (m_etat.NumeroEtape) {
    case 6:
        TickAttente();
        break;
    case 7:
        TickVerification();
        break;
    case 8:
        TickProgrammation();
        break;
    default:
        break;
    }
}

void MoteurMiseAJour::Signaler(int code, std::intptr_t wParam)
{
    m_vue.arreterMinuterie();
    m_vue.poster(code, wParam);
}

// ---------------------------------------------------------------------------------------
// Helpers for the labels that are filled from the wizard's state.

void MoteurMiseAJour::AfficherTempsRestant()
{
    // The countdown counts failed ticks scaled to 30 seconds; the count lives in the bar.
    const double secondes = 30.0 - 1.5 * m_etat.Barre.position();
    m_vue.definirTexte(Controle::LabelBarreProgression,
                       FormaterTempsRestant(m_etat.IndexLangue, secondes));
}

void MoteurMiseAJour::AfficherAvancement(double pourcentage)
{
    m_vue.definirTexte(Controle::LabelBarreProgression,
                       FormaterAvancement(m_etat.IndexLangue, pourcentage));
}

void MoteurMiseAJour::AfficherEtape()
{
    m_vue.definirTexte(Controle::EditEtape,
                       FormaterEtapeSur(m_etat.IndexLangue, m_etat.NumeroEtape, NOMBRE_ETAPES));
}

namespace {

// Records finished, as a percentage of the bar's maximum. A bar without records (an empty
// image) reads 0 rather than a division by zero.
double Pourcentage(double fait, int maximum)
{
    return maximum > 0 ? fait / maximum * 100.0 : 0.0;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Step 6: connection wait.

void MoteurMiseAJour::AfficherAttente()
{
    m_vue.definirVisible(Controle::LabelLigne2, false);
    m_vue.definirVisible(Controle::LabelLigne3, false);
    m_vue.definirVisible(Controle::LabelLigne4, false);
    m_vue.definirVisible(Controle::LabelLigne5, false);

    m_vue.definirTexte(Controle::LabelTitreEtape, Texte(TxtTitreAttente, m_etat.IndexLangue));

    m_vue.definirGras(Controle::LabelLigne1, true);
    m_vue.definirTexte(Controle::LabelLigne1, Texte(TxtMettreEnMarche, m_etat.IndexLangue));

    m_vue.definirTexte(Controle::ButtonPrecedant, Texte(TxtAnnuler, m_etat.IndexLangue));

    // The bar's position counts the failed handshakes; its maximum is the wait's length.
    m_etat.Barre.definirPosition(0);
    m_etat.Barre.definirMinimum(0);
    m_etat.Barre.definirMaximum(TICKS_ATTENTE);
    MettreAJourBarre();

    m_etat.IndexEnregistrement = 0;

    m_etat.Barre.definirLisse(false);
    MettreAJourBarre();
    m_vue.definirVisible(Controle::ProgressBarProgrammation, false);

    AfficherTempsRestant();
    m_vue.definirVisible(Controle::LabelBarreProgression, true);

    m_vue.definirActif(Controle::ButtonSuivant, false);

    m_chargeur.ChoisirPort(m_etat.IndexPort);

    m_vue.reglerIntervalle(INTERVALLE_ATTENTE_MS);
    m_vue.demarrerMinuterie();

    AfficherEtape();
}

void MoteurMiseAJour::TickAttente()
{
    if (m_chargeur.Connecter(1) == 0) {
        Signaler(WM_ETAPE_SUIVANTE, 0);
        return;
    }

    // Any failure (port unavailable, silence, wrong reply) only counts one tick of the wait.
    const int n = m_etat.Barre.position() + 1;
    if (n >= m_etat.Barre.maximum()) {
        Signaler(WM_ECHEC_CONNEXION, 0);
        m_chargeur.Fermer(); // its result is not reported: the wait is over either way
    }
    m_etat.Barre.definirPosition(n);
    MettreAJourBarre();
    AfficherTempsRestant();
}

// ---------------------------------------------------------------------------------------
// Step 7: verification of the device, one sub-step per tick.

void MoteurMiseAJour::AfficherVerification()
{
    m_vue.definirGras(Controle::LabelLigne1, false);
    m_vue.definirTexte(Controle::LabelTitreEtape, Texte(TxtTitreVerification, m_etat.IndexLangue));
    AfficherEtape();

    m_vue.definirVisible(Controle::ProgressBarProgrammation, false);
    m_vue.definirVisible(Controle::ButtonPrecedant, false);
    m_vue.definirVisible(Controle::LabelBarreProgression, false);
    m_vue.definirVisible(Controle::LabelLigne1, false);
    m_vue.definirVisible(Controle::LabelLigne5, false);

    m_etat.EtapeVerification = 0;

    m_vue.definirActif(Controle::ButtonQuitter, false);

    m_vue.reglerIntervalle(INTERVALLE_VERIFICATION_MS);
    m_vue.demarrerMinuterie();
}

void MoteurMiseAJour::TickVerification()
{
    switch (m_etat.EtapeVerification) {
    case 0:
        VerifierTypeAppareil();
        break;
    case 1:
        // The mode check and the serial number share one tick.
        if (VerifierMode())
            VerifierNumeroSerie();
        break;
    case 2:
        VerifierNumeroSerie();
        break;
    case 3:
        VerifierVersion();
        break;
    case 4:
        PasserEnProgrammation();
        break;
    default:
        break;
    }
}

bool MoteurMiseAJour::VerifierTypeAppareil()
{
    if (m_chargeur.VerifierType() != 0) {
        if (m_chargeur.Statut() == ERREUR_TYPE_APPAREIL)
            Signaler(WM_APPAREIL_REFUSE, REFUS_TYPE);
        else
            Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
        return false;
    }
    m_etat.EtapeVerification = 1;
    m_vue.definirTexte(Controle::LabelLigne1, Texte(TxtTypeCorrect, m_etat.IndexLangue));
    m_vue.definirVisible(Controle::LabelLigne1, true);
    return true;
}

bool MoteurMiseAJour::VerifierMode()
{
    // The loader hands back its mode whatever the outcome; the field takes it the same way.
    std::int32_t mode = static_cast<std::int32_t>(m_etat.ModeAppareil);
    const StatutChargeur statut = m_chargeur.LireMode(mode);
    m_etat.ModeAppareil = static_cast<std::uint32_t>(mode);
    if (statut != 0) {
        Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
        return false;
    }
    if (m_etat.ModeAppareil != MODE_REQUIS) {
        Signaler(WM_APPAREIL_REFUSE, REFUS_MODE);
        return false;
    }

    const std::int32_t n = ChargerEnregistrements(m_etat.TableEnregistrements, m_image);
    m_etat.NombreEnregistrements = n;
    m_etat.Barre.definirPosition(0);
    m_etat.Barre.definirLisse(true);
    m_etat.Barre.definirMaximum(n);
    MettreAJourBarre();
    m_etat.EtapeVerification = 2;
    return true;
}

bool MoteurMiseAJour::VerifierNumeroSerie()
{
    if (m_chargeur.LireNumeroSerie(m_etat.NumeroSerie) != 0) {
        Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
        return false;
    }
    // The number is shown before it is tested, so that a refused one stays readable.
    m_etat.EtapeVerification = 3;
    m_vue.definirTexte(Controle::LabelLigne2,
                       FormaterNumeroSerie(m_etat.IndexLangue, m_etat.NumeroSerie));
    m_vue.definirVisible(Controle::LabelLigne2, true);

    if (m_etat.NumeroSerie < NUMERO_SERIE_MIN || m_etat.NumeroSerie > NUMERO_SERIE_MAX) {
        Signaler(WM_APPAREIL_REFUSE, REFUS_NUMERO_SERIE);
        return false;
    }
    return true;
}

bool MoteurMiseAJour::VerifierVersion()
{
    // The loader writes each part only when it was read; start from the fields' values.
    std::int32_t majeure = static_cast<std::int32_t>(m_etat.VersionMajeure);
    std::int32_t mineure = static_cast<std::int32_t>(m_etat.VersionMineure);
    const StatutChargeur statut = m_chargeur.LireVersion(majeure, mineure);
    m_etat.VersionMajeure = static_cast<std::uint32_t>(majeure);
    m_etat.VersionMineure = static_cast<std::uint32_t>(mineure);
    if (statut != 0) {
        Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
        return false;
    }

    // Unsigned comparisons: a garbled byte read as a negative value is a huge version.
    constexpr auto cibleMajeure = static_cast<std::uint32_t>(VERSION_CIBLE_MAJEURE);
    constexpr auto cibleMineure = static_cast<std::uint32_t>(VERSION_CIBLE_MINEURE);
    const bool acceptee =
        m_etat.VersionMajeure < cibleMajeure ||
        (m_etat.VersionMajeure == cibleMajeure && m_etat.VersionMineure < cibleMineure);
    if (!acceptee) {
        Signaler(WM_APPAREIL_REFUSE, REFUS_VERSION);
        return false;
    }
    m_vue.definirTexte(Controle::LabelLigne3, Texte(TxtVersionAcceptee, m_etat.IndexLangue));
    m_vue.definirVisible(Controle::LabelLigne3, true);
    m_etat.EtapeVerification = 4;
    return true;
}

void MoteurMiseAJour::PasserEnProgrammation()
{
    m_vue.definirTexte(Controle::LabelLigne4,
                       Texte(TxtPreparationTransmission, m_etat.IndexLangue));
    m_vue.definirVisible(Controle::LabelLigne4, true);

    if (m_chargeur.Preparer() != 0) {
        Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
        return;
    }
    if (m_chargeur.EntrerProgrammation() != 0) {
        Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
        return;
    }
    Signaler(WM_ETAPE_SUIVANTE, 0);
}

// ---------------------------------------------------------------------------------------
// Step 8: programming, one record per tick.

void MoteurMiseAJour::AfficherProgrammation()
{
    m_etat.Barre.definirPosition(0);
    m_etat.Barre.definirLisse(true);
    MettreAJourBarre();

    m_vue.definirTexte(Controle::LabelTitreEtape, Texte(TxtTitreProgrammation, m_etat.IndexLangue));

    AfficherAvancement(Pourcentage(m_etat.Barre.position(), m_etat.Barre.maximum()));

    m_vue.definirTexte(Controle::LabelLigne5, Texte(TxtTransmission, m_etat.IndexLangue));
    m_vue.definirVisible(Controle::LabelLigne5, true);

    m_vue.definirVisible(Controle::ProgressBarProgrammation, true);
    m_vue.definirVisible(Controle::LabelBarreProgression, true);

    m_vue.reglerIntervalle(INTERVALLE_PROGRAMMATION_MS);
    m_vue.demarrerMinuterie();

    AfficherEtape();
}

void MoteurMiseAJour::TickProgrammation()
{
    const std::int32_t r = m_etat.IndexEnregistrement;

    // Every listed record has gone without an end-of-file record: the image is incomplete.
    // Stop here rather than read past the listed entries, and never call it a success.
    const std::int32_t listes = std::min(m_etat.NombreEnregistrements, CAPACITE_ENREGISTREMENTS);
    if (r < 0 || r >= listes) {
        Signaler(WM_ERREUR_TRANSMISSION, ERREUR_IMAGE_SANS_FIN);
        return;
    }

    m_etat.IndexEnregistrement = r + 1;
    AfficherAvancement(Pourcentage(r, m_etat.Barre.maximum()));

    m_etat.Barre.definirPosition(r + 1);
    MettreAJourBarre();

    const Enregistrement e = m_etat.TableEnregistrements[r];
    const std::int32_t nombreMots = NombreMots(e);
    const std::int32_t adresse = AdresseMot(e);
    const ClasseEnregistrement classe = ClasserEnregistrement(e);

    // The bar runs one record ahead of the label and is full from the second-to-last on.
    m_etat.Barre.definirPosition(m_etat.Barre.position() + 1);
    MettreAJourBarre();

    switch (classe) {
    case ClasseEnregistrement::FinFichier: {
        const StatutChargeur version =
            m_chargeur.EcrireVersion(VERSION_CIBLE_MAJEURE, VERSION_CIBLE_MINEURE);
        m_chargeur.SortirProgrammation(); // leaving programming mode ends the connection
        // A device whose version was not written would still read as the old firmware and
        // must not be reported as updated.
        if (version != 0)
            Signaler(WM_ERREUR_TRANSMISSION, version);
        else
            Signaler(WM_ETAPE_SUIVANTE, 0);
        return;
    }
    case ClasseEnregistrement::MemoireProgramme:
        for (std::int32_t i = 0; i < nombreMots; ++i) {
            const auto adresseMot = static_cast<std::uint32_t>(adresse + i);
            const auto mot = static_cast<std::uint32_t>(MotDonnee(e, i));
            if (m_chargeur.EcrireMotProgramme(adresseMot, mot) != 0) {
                Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
                return;
            }
        }
        return;
    case ClasseEnregistrement::Eeprom:
        for (std::int32_t i = 0; i < nombreMots; ++i) {
            if (m_chargeur.EcrireOctetEeprom(adresse - ADRESSE_EEPROM + i, OctetDonnee(e, i)) !=
                0) {
                Signaler(WM_ERREUR_TRANSMISSION, m_chargeur.Statut());
                return;
            }
        }
        return;
    case ClasseEnregistrement::AdresseEtendue:
    case ClasseEnregistrement::HorsZone:
        return;
    }
}

} // namespace korvane
