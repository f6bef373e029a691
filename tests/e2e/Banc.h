#pragma once

#include "sim/Appareil.h"
#include "sim/SimulateurPty.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace korvane::e2e {

using Horloge = std::chrono::steady_clock;

// The catalogue's text in the tool's language.
QString T(CleTexte cle);

// The program words the built-in image asks for, by word address.
const std::map<std::uint16_t, std::uint16_t>& motsDeLImage();

// The device's program memory against the image: every word of the image at its address, no
// other word written; then the version 16.3 in EEPROM 126 and 127, stored after the last word.
::testing::AssertionResult memoireConforme(const sim::Appareil& appareil);

// Waits up to `limite` for the simulated device to reach a state, as a command that has no
// answer may still be on its way; true when it did.
bool attendreAppareil(const sim::SimulateurPty& simulateur,
                      const std::function<bool(const sim::Appareil&)>& condition,
                      std::chrono::milliseconds limite = std::chrono::seconds(1));

// Boxes answered from a script, each remembered with what the window showed behind it.
class BoitesScriptees : public BoitesMessage {
public:
    struct Appel {
        Type type;
        QString texte;
        Boutons boutons;
        int etape; // NumeroEtape while the box was up
    };

    Reponse montrer(Type type, const QString& texte, Boutons boutons) override;

    TFormMjKorvane* fenetre = nullptr; // set by the Pilote
    std::deque<Reponse> reponses;      // once used up: No (or OK for an OK box)
    std::function<void()> pendant;     // runs while each box is up
    std::vector<Appel> appels;
};

// A temporary folder for the line's link, removed with what it holds.
class DossierTemporaire {
public:
    DossierTemporaire();
    ~DossierTemporaire();
    std::string chemin(const char* nom) const { return m_chemin + "/" + nom; }

private:
    std::string m_chemin;
};

// Points COM1 at `lien` and COM2 to COM4 at paths that do not exist, before a window probes
// the ports.
void brancherCom1(const std::string& lien);

// The real window, driven as a user drives it: clicks on its buttons, the event loop running
// in between. The moments the window took each notification of the engine are noted.
class Pilote : public QObject {
public:
    // A notification of the engine as the window took it: the step before and after.
    struct Notification {
        int avant;
        int apres;
        Horloge::time_point quand;
    };

    // `diviseur` divides the engine's timer intervals (1.0: the real ones).
    Pilote(BoitesScriptees& boites, double diviseur, SerialPort* port = nullptr);
    ~Pilote() override;

    TFormMjKorvane& fenetre() { return *m_fenetre; }
    int etape() { return m_fenetre->etat().NumeroEtape; }

    template <typename W = QWidget>
    W* controle(const char* nom) const
    {
        return m_fenetre->findChild<W*>(QString::fromLatin1(nom));
    }
    QString texte(const char* nom) const; // of a label, button or the step counter
    bool visible(const char* nom) const;

    // A mouse click on a button the user can see and use; a failure otherwise.
    ::testing::AssertionResult cliquer(const char* nom);
    // Next from step 1 up to step 5, then Connect.
    ::testing::AssertionResult allerJusquaConnexion();
    // Runs the event loop until `condition` holds or `limite` has passed.
    bool attendre(const std::function<bool()>& condition, std::chrono::milliseconds limite);
    bool attendreEtape(int etape, std::chrono::milliseconds limite);

    const std::vector<Notification>& notifications() const { return m_notifications; }
    // When the window took the notification that moved it from `etape` to the next step, the
    // last time it did.
    std::optional<Horloge::time_point> sortieDe(int etape) const;

protected:
    bool eventFilter(QObject* objet, QEvent* evenement) override;

private:
    std::unique_ptr<TFormMjKorvane> m_fenetre;
    std::vector<Notification> m_notifications;
};

// A simulated Korvane on its own line, which COM1 names through a link, and the window driven
// against it; each test starts the device it needs.
class BancSimule : public ::testing::Test {
protected:
    // `cadence`: the line paced at 9600 baud; `diviseur`: the window's intervals divided by it.
    void demarrer(sim::Configuration config, bool cadence, double diviseur);
    void TearDown() override;

    DossierTemporaire m_dossier;
    BoitesScriptees m_boites;
    std::unique_ptr<sim::SimulateurPty> m_sim;
    std::unique_ptr<Pilote> m_pilote;
};

} // namespace korvane::e2e
