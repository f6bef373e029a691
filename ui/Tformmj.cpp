#include "ui/Tformmj.h"

#include "engine/Notifications.h"
#include "loader/PortNames.h"
#include "ui/Boiteapropos.h"
#include "ui/Polices.h"
#include "ui/pictures/Images.h"
#include "ui_Tformmj.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace korvane {

namespace {

// A notification of the engine: the code and the word parameter it was posted with.
class EvenementNotification : public QEvent {
public:
    EvenementNotification(int code, std::intptr_t wParam)
        : QEvent(TFormMjKorvane::typeNotification()), m_code(code), m_wParam(wParam)
    {
    }
    int code() const { return m_code; }
    std::intptr_t wParam() const { return m_wParam; }

private:
    int m_code;
    std::intptr_t m_wParam;
};

void definirStyle(QLabel* label, bool gras, bool italique, int points)
{
    QFont police = label->font();
    police.setBold(gras);
    police.setItalic(italique);
    police.setPointSize(points);
    label->setFont(police);
}

void definirGrasSeul(QWidget* w, bool gras)
{
    QFont police = w->font();
    police.setBold(gras);
    w->setFont(police);
}

} // namespace

QEvent::Type TFormMjKorvane::typeNotification()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

TFormMjKorvane::TFormMjKorvane(QWidget* owner, SerialPort* port, BoitesMessage* boites)
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowMinimizeButtonHint),
      m_ui(std::make_unique<Ui::TFormMjKorvane>())
{
    // The base window and its controls, as laid out in the form.
    installerPolices();
    m_ui->setupUi(this);
    setFixedSize(487, 402);
    setWindowIcon(pictures::iconeFenetre());
    m_ui->Image1->setPixmap(
        QPixmap::fromImage(pictures::banniere())
            .scaled(m_ui->Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_ui->ImageConnectK27aPC->setPixmap(QPixmap::fromImage(pictures::cablage()));
    m_ui->ImageConnectK27aPC->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_ui->ButtonQuitter->setToolTip(QStringLiteral("permet de quitter la mise à jours"));
    // The step counter reads like a caption: the window's colour behind it.
    QPalette palette = m_ui->EditEtape->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    m_ui->EditEtape->setPalette(palette);

    if (boites == nullptr) {
        m_boitesPropres = std::make_unique<BoitesMessageQt>(this);
        boites = m_boitesPropres.get();
    }
    m_boites = boites;

    connect(m_ui->ButtonSuivant, &QPushButton::clicked, this, &TFormMjKorvane::ButtonSuivantClick);
    connect(m_ui->ButtonPrecedant, &QPushButton::clicked, this,
            &TFormMjKorvane::ButtonPrecedantClick);
    connect(m_ui->ButtonQuitter, &QPushButton::clicked, this, &TFormMjKorvane::ButtonQuitterClick);
    connect(m_ui->ButtonAPropos, &QPushButton::clicked, this, &TFormMjKorvane::ButtonAProposClick);
    // A radio checked from code runs its handler as a click does; one clicked while already
    // checked does not toggle and runs nothing.
    const auto surSelection = [this](void (TFormMjKorvane::*gestionnaire)()) {
        return [this, gestionnaire](bool coche) {
            if (coche)
                (this->*gestionnaire)();
        };
    };
    connect(m_ui->RadioCOM1, &QRadioButton::toggled, this,
            surSelection(&TFormMjKorvane::RadioCOM1Click));
    connect(m_ui->RadioCOM2, &QRadioButton::toggled, this,
            surSelection(&TFormMjKorvane::RadioCOM2Click));
    connect(m_ui->RadioCOM3, &QRadioButton::toggled, this,
            surSelection(&TFormMjKorvane::RadioCOM3Click));
    connect(m_ui->RadioCOM4, &QRadioButton::toggled, this,
            surSelection(&TFormMjKorvane::RadioCOM4Click));

    // The timer runs from creation at 1000 ms; its ticks do nothing before step 6.
    TimerGestionSerie.setInterval(1000);
    connect(&TimerGestionSerie, &MinuteriePeriodique::timeout, this,
            &TFormMjKorvane::TimerGestionSerieTimer);
    TimerGestionSerie.start();

    if (port != nullptr)
        Chargeur.emplace(*port);
    else
        Chargeur.emplace();
    m_moteur.emplace(m_etat, *Chargeur, *this);

    m_etat.NumeroEtape = 1;
    m_etat.IndexLangue = 0;
    ChercherPorts();
    m_etat.LargeurImageConnect = m_ui->ImageConnectK27aPC->width();
    AfficherAccueil();
}

TFormMjKorvane::~TFormMjKorvane()
{
    // No tick may reach the engine while the loader client goes; its destructor resets the
    // connection and closes the port with the port's own settings restored.
    TimerGestionSerie.stop();
    m_moteur.reset();
    Chargeur.reset();
}

QString TFormMjKorvane::texte(CleTexte cle) const
{
    return QString::fromUtf8(Texte(cle, m_etat.IndexLangue));
}

void TFormMjKorvane::EcrireEtape()
{
    m_ui->EditEtape->setText(QString::fromStdString(
        FormaterEtapeSur(m_etat.IndexLangue, m_etat.NumeroEtape, NOMBRE_ETAPES)));
}

// ---------------------------------------------------------------------------------------
// Screens. Each changes only the controls it names; the others keep what earlier screens
// left on them.

void TFormMjKorvane::AfficherAccueil()
{
    setWindowTitle(texte(TxtTitreFenetre));
    m_ui->ButtonQuitter->setText(texte(TxtQuitter));
    m_ui->ButtonSuivant->setText(texte(TxtSuivant));
    m_ui->ButtonAPropos->setText(texte(TxtAPropos));
    m_ui->ButtonPrecedant->setText(texte(TxtPrecedent));
    m_ui->ButtonPrecedant->setEnabled(false);
    m_ui->GroupBoxChoixPort->setTitle(texte(TxtChoixPortSerie));
    m_ui->GroupBoxChoixPort->hide();
    m_ui->ImageConnectK27aPC->hide();
    m_ui->LabelTitreEtape->setText(texte(TxtTitreAccueil));
    m_ui->LabelLigne1->setText(QString::fromStdString(
        FormaterVersion(m_etat.IndexLangue, VERSION_CIBLE_MAJEURE, VERSION_CIBLE_MINEURE)));
    m_ui->LabelLigne1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    definirGrasSeul(m_ui->LabelLigne1, true);
    m_ui->LabelLigne1->show();
    m_ui->LabelLigne2->setText(texte(TxtAccueil1));
    m_ui->LabelLigne3->setText(texte(TxtAccueil2));
    m_ui->LabelLigne4->setText(texte(TxtAccueil3));
    m_ui->LabelLigne2->show();
    m_ui->LabelLigne3->show();
    m_ui->LabelLigne4->show();
    m_ui->LabelBarreProgression->setText(texte(TxtAccueil4));
    definirStyle(m_ui->LabelBarreProgression, false, true, 10);
    m_ui->LabelBarreProgression->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_ui->LabelBarreProgression->show();
    m_ui->LabelLigne5->hide();
    EcrireEtape();
}

void TFormMjKorvane::AfficherPreparation()
{
    m_ui->LabelTitreEtape->setText(texte(TxtTitrePreparation));
    m_ui->LabelLigne1->setText(texte(TxtBrancherCordonPile));
    m_ui->LabelLigne1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    definirStyle(m_ui->LabelLigne1, false, false, m_ui->LabelLigne1->font().pointSize());
    m_ui->LabelLigne1->show();
    m_ui->LabelLigne2->hide();
    m_ui->LabelLigne3->hide();
    m_ui->LabelLigne4->hide();
    m_ui->LabelLigne5->hide();
    // Undoes the welcome screen's style; no later screen changes this label's font.
    definirStyle(m_ui->LabelBarreProgression, false, false, 8);
    m_ui->LabelBarreProgression->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ui->LabelBarreProgression->hide();
    // Half the drawing: only the device end of the cable.
    m_ui->ImageConnectK27aPC->resize(m_etat.LargeurImageConnect / 2,
                                     m_ui->ImageConnectK27aPC->height());
    m_ui->ImageConnectK27aPC->show();
    m_ui->ButtonPrecedant->setEnabled(true);
    EcrireEtape();
}

void TFormMjKorvane::AfficherConnexionPC()
{
    m_ui->LabelTitreEtape->setText(texte(TxtTitreConnexionPC));
    m_ui->ImageConnectK27aPC->resize(m_etat.LargeurImageConnect,
                                     m_ui->ImageConnectK27aPC->height());
    m_ui->ImageConnectK27aPC->show();
    m_ui->LabelLigne1->setText(texte(TxtBrancherCordonPC));
    m_ui->LabelLigne1->show();
    m_ui->LabelLigne2->hide();
    m_ui->LabelLigne3->hide();
    m_ui->LabelLigne4->hide();
    m_ui->LabelLigne5->hide();
    m_ui->GroupBoxChoixPort->hide();
    EcrireEtape();
}

void TFormMjKorvane::AfficherChoixPort()
{
    m_ui->LabelTitreEtape->setText(texte(TxtTitreChoixPort));
    m_ui->LabelLigne1->setText(texte(TxtSelectionPort));
    definirGrasSeul(m_ui->LabelLigne1, false);
    m_ui->LabelLigne1->show();
    m_ui->LabelLigne2->hide();
    m_ui->LabelLigne3->hide();
    m_ui->LabelLigne4->hide();
    m_ui->LabelLigne5->hide();
    m_ui->ImageConnectK27aPC->hide();
    m_ui->GroupBoxChoixPort->show();
    m_ui->ProgressBarProgrammation->hide();
    m_ui->LabelBarreProgression->hide();
    m_ui->ButtonQuitter->setText(texte(TxtQuitter));
    m_ui->ButtonPrecedant->setText(texte(TxtPrecedent));
    m_ui->ButtonPrecedant->show();
    m_ui->ButtonSuivant->setText(texte(TxtSuivant));
    m_ui->ButtonSuivant->setEnabled(true);
    EcrireEtape();
}

void TFormMjKorvane::AfficherLancement()
{
    m_ui->LabelTitreEtape->setText(texte(TxtTitreLancement));
    m_ui->LabelLigne1->setText(texte(TxtLancement1));
    m_ui->LabelLigne2->setText(texte(TxtLancement2));
    m_ui->LabelLigne3->setText(texte(TxtLancement3));
    m_ui->LabelLigne4->setText(texte(TxtLancement4));
    m_ui->LabelLigne1->show();
    m_ui->LabelLigne2->show();
    m_ui->LabelLigne3->show();
    m_ui->LabelLigne4->show();
    m_ui->LabelLigne5->hide();
    m_ui->LabelBarreProgression->hide();
    m_ui->ProgressBarProgrammation->hide();
    m_ui->GroupBoxChoixPort->hide();
    m_ui->ButtonSuivant->setText(texte(TxtConnexion));
    m_ui->ButtonSuivant->show();
    m_ui->ButtonSuivant->setEnabled(true);
    m_ui->ButtonPrecedant->setText(texte(TxtPrecedent));
    m_ui->ButtonQuitter->setText(texte(TxtQuitter));
    m_ui->ButtonQuitter->setEnabled(true);
    EcrireEtape();
}

void TFormMjKorvane::AfficherReussite()
{
    m_ui->LabelTitreEtape->setText(texte(TxtTitreReussite));
    m_ui->LabelLigne1->hide();
    m_ui->LabelLigne2->hide();
    m_ui->LabelLigne3->hide();
    m_ui->LabelLigne4->hide();
    m_ui->LabelLigne5->hide();
    m_ui->LabelBarreProgression->setText(texte(TxtAutreAppareil));
    m_ui->ProgressBarProgrammation->hide();
    m_ui->ButtonSuivant->hide();
    m_ui->ButtonPrecedant->setText(texte(TxtOui));
    m_ui->ButtonPrecedant->show();
    m_ui->ButtonQuitter->setText(texte(TxtNon));
    m_ui->ButtonQuitter->setEnabled(true);
    EcrireEtape();
}

// ---------------------------------------------------------------------------------------
// Navigation.

void TFormMjKorvane::EtapeSuivante()
{
    ++m_etat.NumeroEtape;
    switch (m_etat.NumeroEtape) {
    case 2:
        AfficherPreparation();
        break;
    case 3:
        AfficherConnexionPC();
        break;
    case 4:
        AfficherChoixPort();
        break;
    case 5:
        AfficherLancement();
        break;
    case 6:
        m_moteur->AfficherAttente();
        break;
    case 7:
        m_moteur->AfficherVerification();
        break;
    case 8:
        m_moteur->AfficherProgrammation();
        break;
    case 9:
        AfficherReussite();
        break;
    default:
        // Only steps 1 to 8 move forward; anything else has no screen to go to.
        --m_etat.NumeroEtape;
        break;
    }
}

void TFormMjKorvane::ButtonSuivantClick()
{
    EtapeSuivante();
}

void TFormMjKorvane::ButtonPrecedantClick()
{
    --m_etat.NumeroEtape;
    switch (m_etat.NumeroEtape) {
    case 1:
        AfficherAccueil();
        break;
    case 2:
        AfficherPreparation();
        break;
    case 3:
        AfficherConnexionPC();
        break;
    case 4:
        AfficherChoixPort();
        break;
    case 5: // Cancel during the connection wait
        TimerGestionSerie.stop();
        AfficherLancement();
        break;
    case 8: // Yes at step 9: another device
        m_etat.NumeroEtape = 5;
        Chargeur->Reinitialiser();
        AfficherLancement();
        break;
    default:
        // The button is disabled at step 1 and hidden at steps 7 and 8.
        ++m_etat.NumeroEtape;
        break;
    }
}

void TFormMjKorvane::ButtonQuitterClick()
{
    close();
}

void TFormMjKorvane::ButtonAProposClick()
{
    if (m_apropos == nullptr)
        return;
    m_apropos->ChangerLangue(m_etat.IndexLangue);
    m_apropos->exec();
}

void TFormMjKorvane::TimerGestionSerieTimer()
{
    m_moteur->TimerGestionSerieTimer();
}

// ---------------------------------------------------------------------------------------
// Ports.

std::int32_t TFormMjKorvane::ChercherPorts()
{
    QRadioButton* const radios[] = {m_ui->RadioCOM1, m_ui->RadioCOM2, m_ui->RadioCOM3,
                                    m_ui->RadioCOM4};
    bool trouve = false;
    for (int n = 1; n <= 4; ++n) {
        switch (sonderPort(NomsPorts[n - 1])) {
        case ProbePort::Ouvert:
            if (!trouve) {
                radios[n - 1]->setChecked(true);
                m_etat.IndexPort = n - 1;
                trouve = true;
            }
            break;
        case ProbePort::Inexistant:
            radios[n - 1]->setEnabled(false);
            break;
        case ProbePort::Indisponible:
            // The port exists but another program holds it: it stays selectable.
            break;
        }
    }
    return 0;
}

void TFormMjKorvane::ChoisirPortRadio(std::int32_t index)
{
    if (m_etat.IndexPort == index)
        return;
    m_etat.IndexPort = index;
    // The next connection attempt opens the newly chosen port.
    Chargeur->Fermer();
}

// ---------------------------------------------------------------------------------------
// Outcomes reported by the engine.

bool TFormMjKorvane::event(QEvent* e)
{
    if (e->type() == typeNotification()) {
        const auto* n = static_cast<EvenementNotification*>(e);
        switch (n->code()) {
        case WM_ERREUR_TRANSMISSION:
            SurErreurTransmission(n->wParam());
            return true;
        case WM_ECHEC_CONNEXION:
            SurEchecConnexion();
            return true;
        case WM_ETAPE_SUIVANTE:
            SurEtapeSuivante();
            return true;
        case WM_APPAREIL_REFUSE:
            SurAppareilRefuse(n->wParam());
            return true;
        default:
            break;
        }
    }
    return QWidget::event(e);
}

void TFormMjKorvane::SurEtapeSuivante()
{
    EtapeSuivante();
}

void TFormMjKorvane::SurEchecConnexion()
{
    // The engine has already stopped the timer and closed the port.
    m_boites->montrer(BoitesMessage::Type::Erreur, texte(TxtEchecConnexion),
                      BoitesMessage::Boutons::Ok);
    m_etat.NumeroEtape = 3;
    EtapeSuivante();
}

void TFormMjKorvane::SurAppareilRefuse(std::intptr_t raison)
{
    Chargeur->Reinitialiser();
    CleTexte cle = TxtProblemeTransmission;
    BoitesMessage::Type type = BoitesMessage::Type::Erreur;
    switch (raison) {
    case REFUS_TYPE:
        cle = TxtPasUnKorvane;
        break;
    case REFUS_NUMERO_SERIE:
        cle = TxtNumeroSerieInvalide;
        break;
    case REFUS_VERSION:
        cle = m_etat.VersionMajeure == VERSION_CIBLE_MAJEURE &&
                      m_etat.VersionMineure == VERSION_CIBLE_MINEURE
                  ? TxtDejaAJour
                  : TxtPlusRecente;
        type = BoitesMessage::Type::Information;
        break;
    case REFUS_MODE:
        cle = TxtVersionIncompatible;
        break;
    default:
        // The engine sends no other reason; an unknown one still gets a box that asks the
        // question, rather than an empty one.
        break;
    }
    ApresReponse(m_boites->montrer(type, texte(cle), BoitesMessage::Boutons::OuiNon));
}

void TFormMjKorvane::SurErreurTransmission(std::intptr_t)
{
    // The status is not shown: the user can only retry or stop.
    Chargeur->Reinitialiser();
    ApresReponse(m_boites->montrer(BoitesMessage::Type::Erreur, texte(TxtProblemeTransmission),
                                   BoitesMessage::Boutons::OuiNon));
}

void TFormMjKorvane::ApresReponse(BoitesMessage::Reponse reponse)
{
    if (reponse == BoitesMessage::Reponse::Oui) {
        m_etat.NumeroEtape = 4;
        EtapeSuivante();
    } else {
        close();
    }
}

// ---------------------------------------------------------------------------------------
// What the engine sees of the window.

QWidget* TFormMjKorvane::controle(Controle c) const
{
    switch (c) {
    case Controle::LabelTitreEtape:
        return m_ui->LabelTitreEtape;
    case Controle::LabelLigne1:
        return m_ui->LabelLigne1;
    case Controle::LabelLigne2:
        return m_ui->LabelLigne2;
    case Controle::LabelLigne3:
        return m_ui->LabelLigne3;
    case Controle::LabelLigne4:
        return m_ui->LabelLigne4;
    case Controle::LabelLigne5:
        return m_ui->LabelLigne5;
    case Controle::LabelBarreProgression:
        return m_ui->LabelBarreProgression;
    case Controle::ProgressBarProgrammation:
        return m_ui->ProgressBarProgrammation;
    case Controle::ButtonPrecedant:
        return m_ui->ButtonPrecedant;
    case Controle::ButtonSuivant:
        return m_ui->ButtonSuivant;
    case Controle::ButtonQuitter:
        return m_ui->ButtonQuitter;
    case Controle::EditEtape:
        return m_ui->EditEtape;
    }
    return nullptr;
}

void TFormMjKorvane::definirTexte(Controle c, const std::string& s)
{
    const QString t = QString::fromStdString(s);
    QWidget* w = controle(c);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(t);
    else if (auto* bouton = qobject_cast<QPushButton*>(w))
        bouton->setText(t);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(t);
}

void TFormMjKorvane::definirVisible(Controle c, bool visible)
{
    if (QWidget* w = controle(c))
        w->setVisible(visible);
}

void TFormMjKorvane::definirActif(Controle c, bool actif)
{
    if (QWidget* w = controle(c))
        w->setEnabled(actif);
}

void TFormMjKorvane::definirGras(Controle c, bool gras)
{
    if (QWidget* w = controle(c))
        definirGrasSeul(w, gras);
}

void TFormMjKorvane::definirBarre(const BarreProgression& barre)
{
    QProgressBar* b = m_ui->ProgressBarProgrammation;
    b->setRange(barre.minimum(), barre.maximum());
    b->setValue(barre.position());
    // Qt draws every bar as one; the property keeps the model's choice for styles and tests.
    b->setProperty("lisse", barre.lisse());
}

void TFormMjKorvane::reglerIntervalle(int ms)
{
    if (m_diviseurMinuterie != 1.0)
        ms = std::max(1, static_cast<int>(std::lround(ms / m_diviseurMinuterie)));
    TimerGestionSerie.setInterval(ms);
}

void TFormMjKorvane::definirEchelleMinuterie(double diviseur)
{
    // A divisor that would stretch or stop the intervals is not a speed-up: ignored.
    if (diviseur >= 1.0)
        m_diviseurMinuterie = diviseur;
}

void TFormMjKorvane::demarrerMinuterie()
{
    TimerGestionSerie.start();
}

void TFormMjKorvane::arreterMinuterie()
{
    TimerGestionSerie.stop();
}

void TFormMjKorvane::poster(int code, std::intptr_t wParam)
{
    QCoreApplication::postEvent(this, new EvenementNotification(code, wParam));
}

void TFormMjKorvane::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (m_centree)
        return;
    // Centred on the screen the first time it shows.
    m_centree = true;
    if (QScreen* ecran = screen()) {
        QRect cadre = frameGeometry();
        cadre.moveCenter(ecran->availableGeometry().center());
        move(cadre.topLeft());
    }
}

} // namespace korvane
