#pragma once

// The tool as a user meets it: the real main window with its outcome handlers, its boxes
// answered through the BoitesMessage seam, on the real loader and a real pseudo-terminal.
// The test plays the timer: it calls the window's tick itself, so no test waits for an
// interval; only the device's silences cost real time.

#include "Ligne.h"
#include "engine/Notifications.h"
#include "text/Catalogue.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QCoreApplication>
#include <QString>
#include <functional>
#include <string>
#include <vector>

namespace korvane::matrice {

// Answers every box and remembers what it showed and how things stood at that moment.
class BoitesMatrice : public BoitesMessage {
public:
    struct Boite {
        Type type;
        QString texte;
        Boutons boutons;
    };

    Reponse montrer(Type type, const QString& texte, Boutons boutons) override
    {
        boites.push_back({type, texte, boutons});
        if (avantReponse)
            avantReponse();
        return boutons == Boutons::Ok ? Reponse::Ok : reponse;
    }

    Reponse reponse = Reponse::Oui;
    std::function<void()> avantReponse; // what the user does while the box is up
    std::vector<Boite> boites;
};

// The main window, with the engine's notifications noted as they are posted.
class FenetreMatrice : public TFormMjKorvane {
public:
    struct Notification {
        int code;
        std::intptr_t wParam;
    };

    FenetreMatrice(SerialPort& port, BoitesMessage& boites)
        : TFormMjKorvane(nullptr, &port, &boites)
    {
    }

    void poster(int code, std::intptr_t wParam) override
    {
        notifications.push_back({code, wParam});
        TFormMjKorvane::poster(code, wParam);
    }

    std::vector<Notification> notifications;
};

enum class Issue { Reussite, EchecConnexion, Refus, Transmission, Aucune };

inline const char* NomIssue(Issue i)
{
    switch (i) {
    case Issue::Reussite:
        return "success";
    case Issue::EchecConnexion:
        return "connection failure";
    case Issue::Refus:
        return "refusal";
    case Issue::Transmission:
        return "transmission error";
    case Issue::Aucune:
        return "none";
    }
    return "?";
}

// How one attempt (Connect, then steps 6 to 8) ended.
struct Tentative {
    Issue issue = Issue::Aucune;
    std::intptr_t detail = 0; // the refusal's reason or the transmission error's status
    int ticksAttente = 0;     // step-6 ticks
    int ticks = 0;            // all ticks
    double ms = 0;            // wall time from Connect to the outcome
    std::string probleme;     // a broken rule of the engine or the handlers, if any
};

// Expected box for each outcome, as the handlers word it.
inline std::string TexteAttendu(Issue issue, std::intptr_t detail, std::uint32_t majeure,
                                std::uint32_t mineure)
{
    switch (issue) {
    case Issue::EchecConnexion:
        return Texte(TxtEchecConnexion, 0);
    case Issue::Transmission:
        return Texte(TxtProblemeTransmission, 0);
    case Issue::Refus:
        switch (detail) {
        case REFUS_TYPE:
            return Texte(TxtPasUnKorvane, 0);
        case REFUS_NUMERO_SERIE:
            return Texte(TxtNumeroSerieInvalide, 0);
        case REFUS_VERSION:
            return Texte(majeure == 16 && mineure == 3 ? TxtDejaAJour : TxtPlusRecente, 0);
        case REFUS_MODE:
            return Texte(TxtVersionIncompatible, 0);
        }
        return "?";
    default:
        return "";
    }
}

// The window at step 5, ready for Connect, over the given port and boxes.
class Poste {
public:
    Poste(SerialPort& port, BoitesMatrice& boites) : boites(boites), fenetre(port, boites)
    {
        for (int etape = 1; etape < 5; ++etape)
            fenetre.EtapeSuivante();
    }

    int etape() { return fenetre.etat().NumeroEtape; }

    // The notifications posted so far are taken by the window, as its event loop would.
    void livrer()
    {
        QCoreApplication::sendPostedEvents(&fenetre, TFormMjKorvane::typeNotification());
    }

    // Connect at step 5, then the timer's ticks until a box has been answered or the success
    // screen shows.
    Tentative connecter(int maxTicks = 2000)
    {
        if (etape() != 5) {
            Tentative t;
            t.probleme = "Connect clicked at step " + std::to_string(etape());
            return t;
        }
        const auto debut = Horloge::now();
        fenetre.ButtonSuivantClick();
        Tentative t = suivre(maxTicks);
        t.ms = MsDepuis(debut);
        return t;
    }

    // The timer's ticks from where the wizard stands, until a box has been answered or the
    // success screen shows. At most `maxTicks` ticks: more would be a wizard that never ends.
    // `avantTick`, when set, is called with the number of the tick about to run (from 1).
    Tentative suivre(int maxTicks = 2000)
    {
        Tentative t;
        const auto debut = Horloge::now();
        const std::size_t boites0 = boites.boites.size();
        while (t.ticks < maxTicks) {
            if (!fenetre.minuterie().isActive()) {
                t.probleme =
                    "timer stopped at step " + std::to_string(etape()) + " without an outcome";
                break;
            }
            const std::size_t avant = fenetre.notifications.size();
            if (etape() == 6)
                ++t.ticksAttente;
            ++t.ticks;
            if (avantTick)
                avantTick(t.ticks);
            fenetre.TimerGestionSerieTimer();
            const std::size_t postees = fenetre.notifications.size() - avant;
            if (postees > 1) {
                t.probleme = "one tick posted " + std::to_string(postees) + " notifications";
                break;
            }
            if (postees == 1 && fenetre.minuterie().isActive()) {
                t.probleme = "a notification was posted with the timer still running";
                break;
            }
            livrer();
            if (boites.boites.size() > boites0) {
                const auto& n = fenetre.notifications.back();
                t.detail = n.wParam;
                t.issue = n.code == WM_ECHEC_CONNEXION       ? Issue::EchecConnexion
                          : n.code == WM_APPAREIL_REFUSE     ? Issue::Refus
                          : n.code == WM_ERREUR_TRANSMISSION ? Issue::Transmission
                                                             : Issue::Aucune;
                const std::string attendu =
                    TexteAttendu(t.issue, t.detail, fenetre.etat().VersionMajeure,
                                 fenetre.etat().VersionMineure);
                const auto& b = boites.boites.back();
                if (b.texte.toStdString() != attendu)
                    t.probleme = "box text: " + b.texte.toStdString();
                break;
            }
            if (etape() == 9) {
                t.issue = Issue::Reussite;
                break;
            }
        }
        t.ms = MsDepuis(debut);
        return t;
    }

    BoitesMatrice& boites;
    FenetreMatrice fenetre;
    std::function<void(int)> avantTick;
};

} // namespace korvane::matrice
