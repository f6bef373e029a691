#pragma once

#include "engine/EtatAssistant.h"
#include "engine/Moteur.h"
#include "engine/VueMoteur.h"
#include "loader/Classek27_v2.h"
#include "text/Catalogue.h"
#include "ui/BoitesMessage.h"
#include "ui/MinuteriePeriodique.h"

#include <QEvent>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

namespace Ui {
class TFormMjKorvane;
}

class QLabel;

namespace korvane {

class TFormAPropos;

// The main window: the wizard of nine steps. It holds the wizard's state, the loader client
// and the engine of steps 6 to 8, and shows every screen. The engine writes to it through
// VueMoteur and reports its outcomes as notifications posted to the window's own queue.
class TFormMjKorvane : public QWidget, public VueMoteur {
    Q_OBJECT

public:
    // `port`: the serial port the loader client talks through (tests, simulator); without it
    // the client opens the system's ports. `boites`: who shows the message boxes; without it
    // the real QMessageBox. Both must outlive the window.
    explicit TFormMjKorvane(QWidget* owner = nullptr, SerialPort* port = nullptr,
                            BoitesMessage* boites = nullptr);
    ~TFormMjKorvane() override;

    // The About dialog, created after the window; shown by ButtonAProposClick.
    void definirAPropos(TFormAPropos* apropos) { m_apropos = apropos; }

    int indexLangue() const { return m_etat.IndexLangue; }
    // The wizard's state, for the tools and tests that drive the window.
    EtatAssistant& etat() { return m_etat; }
    CK27V2& chargeur() { return *Chargeur; }
    MinuteriePeriodique& minuterie() { return TimerGestionSerie; }
    // For tests only: every interval the engine asks for is divided by `diviseur` (at least
    // 1 ms), so that whole updates run in a fraction of their real time. The default, 1.0,
    // keeps the real intervals; korvane-wizard never changes it.
    void definirEchelleMinuterie(double diviseur);

    // Screens of the steps the wizard shows itself; 6 to 8 are the engine's.
    void AfficherAccueil();
    void AfficherPreparation();
    void AfficherConnexionPC();
    void AfficherChoixPort();
    void AfficherLancement();
    void AfficherReussite();

    void EtapeSuivante();
    std::int32_t ChercherPorts();

    void ButtonSuivantClick();
    void ButtonPrecedantClick();
    void ButtonQuitterClick();
    void ButtonAProposClick();
    void RadioCOM1Click() { ChoisirPortRadio(0); }
    void RadioCOM2Click() { ChoisirPortRadio(1); }
    void RadioCOM3Click() { ChoisirPortRadio(2); }
    void RadioCOM4Click() { ChoisirPortRadio(3); }
    void TimerGestionSerieTimer();

    // Handlers of the engine's notifications.
    void SurErreurTransmission(std::intptr_t statut);
    void SurEchecConnexion();
    void SurEtapeSuivante();
    void SurAppareilRefuse(std::intptr_t raison);

    // VueMoteur.
    void definirTexte(Controle c, const std::string& texte) override;
    void definirVisible(Controle c, bool visible) override;
    void definirActif(Controle c, bool actif) override;
    void definirGras(Controle c, bool gras) override;
    void definirBarre(const BarreProgression& barre) override;
    void reglerIntervalle(int ms) override;
    void demarrerMinuterie() override;
    void arreterMinuterie() override;
    void poster(int code, std::intptr_t wParam) override;

    // The event type of the posted notifications.
    static QEvent::Type typeNotification();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    QWidget* controle(Controle c) const;
    QString texte(CleTexte cle) const;
    void EcrireEtape();
    void ChoisirPortRadio(std::int32_t index);
    // After an answered outcome box: Yes shows step 5, anything else ends the tool.
    void ApresReponse(BoitesMessage::Reponse reponse);

    std::unique_ptr<Ui::TFormMjKorvane> m_ui;
    MinuteriePeriodique TimerGestionSerie;

    EtatAssistant m_etat;
    // Held in place and built in the constructor's body, after the controls, as the port
    // probe needs it; destroyed first.
    std::optional<CK27V2> Chargeur;
    std::optional<MoteurMiseAJour> m_moteur;

    std::unique_ptr<BoitesMessage> m_boitesPropres;
    BoitesMessage* m_boites = nullptr;
    TFormAPropos* m_apropos = nullptr;
    bool m_centree = false;
    double m_diviseurMinuterie = 1.0;
};

} // namespace korvane
