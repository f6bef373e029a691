// The main window: first screen, navigation, the screens that depend on the way they were
// reached, the engine's notifications and the outcome boxes.

#include "PortEssai.h"
#include "engine/Notifications.h"
#include "text/Catalogue.h"
#include "ui/Boiteapropos.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>

using namespace korvane;

namespace {

QString T(CleTexte cle)
{
    return QString::fromUtf8(Texte(cle, 0));
}

// Answers every box with `reponse` and remembers what was shown.
class BoitesScriptees : public BoitesMessage {
public:
    struct Appel {
        Type type;
        QString texte;
        Boutons boutons;
        int connecte; // the loader connection while the box was up
    };

    Reponse montrer(Type type, const QString& texte, Boutons boutons) override
    {
        appels.push_back({type, texte, boutons, connecte ? connecte() : -1});
        return reponse;
    }

    Reponse reponse = Reponse::Non;
    std::function<int()> connecte;
    std::vector<Appel> appels;
};

} // namespace

class TestFenetre : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<essai::PortEssai> m_port;
    std::unique_ptr<BoitesScriptees> m_boites;
    std::unique_ptr<TFormMjKorvane> m_f;

    template <typename W>
    W* w(const char* nom)
    {
        W* widget = m_f->findChild<W*>(QString::fromLatin1(nom));
        if (widget == nullptr)
            qFatal("no control %s", nom);
        return widget;
    }
    QLabel* label(const char* nom) { return w<QLabel>(nom); }
    QPushButton* bouton(const char* nom) { return w<QPushButton>(nom); }
    QString etape() { return w<QLineEdit>("EditEtape")->text(); }
    // Visible as far as the window goes: shown on a window that is itself shown.
    bool visible(const char* nom) { return w<QWidget>(nom)->isVisibleTo(m_f.get()); }

    void cliquer(const char* nom)
    {
        QPushButton* b = bouton(nom);
        QVERIFY2(b->isVisibleTo(m_f.get()) && b->isEnabled(), nom);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void avancerJusqua(int etape)
    {
        while (m_f->etat().NumeroEtape < etape)
            m_f->EtapeSuivante();
    }
    // The notification as the engine sends it: posted, then taken by the event loop.
    void notifier(int code, std::intptr_t wParam)
    {
        m_f->poster(code, wParam);
        QCoreApplication::sendPostedEvents(m_f.get(), TFormMjKorvane::typeNotification());
    }

private slots:
    void initTestCase()
    {
        // The probe finds no port: tests never touch the machine's serial lines.
        for (int n = 1; n <= 4; ++n)
            qputenv(QByteArray("KORVANE_COM") + QByteArray::number(n),
                    "/nonexistent/korvane-test-port");
    }

    void init()
    {
        m_port = std::make_unique<essai::PortEssai>();
        m_boites = std::make_unique<BoitesScriptees>();
        m_f = std::make_unique<TFormMjKorvane>(nullptr, m_port.get(), m_boites.get());
        m_boites->connecte = [this] { return m_f->chargeur().EstConnecte(); };
        m_f->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_f.get()));
    }

    void cleanup()
    {
        m_f.reset();
        m_boites.reset();
        m_port.reset();
    }

    void premierEcran()
    {
        QCOMPARE(m_f->windowTitle(), QStringLiteral("Mise à jour du Korvane"));
        QCOMPARE(etape(), QStringLiteral("Etape n° 1 sur 9"));
        QCOMPARE(m_f->etat().NumeroEtape, 1);
        QCOMPARE(m_f->indexLangue(), 0);
        QCOMPARE(m_f->etat().LargeurImageConnect, 362);

        // Every design caption has been replaced.
        QCOMPARE(bouton("ButtonQuitter")->text(), QStringLiteral("&Quitter"));
        QCOMPARE(bouton("ButtonPrecedant")->text(), QStringLiteral("&Précédent"));
        QVERIFY(!bouton("ButtonPrecedant")->isEnabled());
        QCOMPARE(bouton("ButtonSuivant")->text(), QStringLiteral("&Suivant"));
        QCOMPARE(bouton("ButtonAPropos")->text(), QStringLiteral("&A propos"));
        QCOMPARE(label("LabelTitreEtape")->text(), T(TxtTitreAccueil));
        QCOMPARE(w<QGroupBox>("GroupBoxChoixPort")->title(), T(TxtChoixPortSerie));
        QVERIFY(!visible("GroupBoxChoixPort"));
        QVERIFY(!visible("ImageConnectK27aPC"));
        QVERIFY(!visible("ProgressBarProgrammation"));
        QVERIFY(!visible("LabelLigne5"));

        QLabel* l1 = label("LabelLigne1");
        QCOMPARE(l1->text(), QStringLiteral("Mise à jour version 16.3"));
        QVERIFY(l1->font().bold());
        QCOMPARE(l1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(label("LabelLigne2")->text(), T(TxtAccueil1));
        QCOMPARE(label("LabelLigne3")->text(), T(TxtAccueil2));
        QCOMPARE(label("LabelLigne4")->text(), T(TxtAccueil3));
        for (const char* nom :
             {"LabelLigne1", "LabelLigne2", "LabelLigne3", "LabelLigne4", "LabelBarreProgression"})
            QVERIFY2(visible(nom), nom);
        QCOMPARE(label("LabelBarreProgression")->text(), T(TxtAccueil4));

        // The fixed texts of the design.
        for (int n = 1; n <= 4; ++n) {
            const QString nom = QStringLiteral("RadioCOM%1").arg(n);
            QRadioButton* r = m_f->findChild<QRadioButton*>(nom);
            QVERIFY(r != nullptr);
            QCOMPARE(r->text(), QStringLiteral("COM %1").arg(n));
            QVERIFY(r->autoExclusive());
            QCOMPARE(r->parentWidget(), w<QGroupBox>("GroupBoxChoixPort"));
        }
        QCOMPARE(bouton("ButtonQuitter")->toolTip(),
                 QStringLiteral("permet de quitter la mise à jours"));

        // No default button: Enter presses nothing.
        for (QPushButton* b : m_f->findChildren<QPushButton*>())
            QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));

        // Centred on the screen.
        const QPoint centre = m_f->screen()->availableGeometry().center();
        QVERIFY((m_f->frameGeometry().center() - centre).manhattanLength() <= 2);

        QVERIFY(m_f->minuterie().isActive());
        QCOMPARE(m_f->minuterie().interval(), 1000);
    }

    void fenetreEtControles_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QRect>("rect");
        const struct {
            const char* nom;
            QRect rect;
        } lignes[] = {
            {"Image1", {8, 8, 473, 57}},
            {"LabelTitreEtape", {8, 72, 473, 20}},
            // Lines 1 to 4 have room for a second line, up to the next one: the stand-in
            // font is wider than the design's and the longest line would be cut short.
            {"LabelLigne1", {8, 120, 465, 26}},
            {"LabelLigne2", {8, 152, 465, 26}},
            {"ImageConnectK27aPC", {16, 160, 362, 193}},
            {"LabelLigne3", {8, 184, 465, 26}},
            {"LabelLigne4", {8, 216, 465, 26}},
            {"LabelLigne5", {8, 248, 473, 13}},
            {"LabelBarreProgression", {16, 296, 449, 20}},
            {"ProgressBarProgrammation", {16, 320, 457, 33}},
            {"GroupBoxChoixPort", {344, 144, 129, 209}},
            {"RadioCOM1", {36, 32, 57, 17}},
            {"RadioCOM2", {36, 74, 57, 17}},
            {"RadioCOM3", {36, 117, 57, 17}},
            {"RadioCOM4", {36, 160, 57, 17}},
            {"EditEtape", {16, 365, 113, 21}},
            {"ButtonAPropos", {139, 363, 75, 25}},
            {"ButtonQuitter", {227, 363, 75, 25}},
            {"ButtonPrecedant", {323, 363, 75, 25}},
            {"ButtonSuivant", {403, 363, 75, 25}},
        };
        for (const auto& l : lignes)
            QTest::newRow(l.nom) << QString::fromLatin1(l.nom) << l.rect;
    }

    void fenetreEtControles()
    {
        QFETCH(QString, nom);
        QFETCH(QRect, rect);
        QWidget* c = m_f->findChild<QWidget*>(nom);
        QVERIFY(c != nullptr);
        QCOMPARE(c->geometry(), rect);

        // The window: fixed client area, only the minimise button, no close button.
        QCOMPARE(m_f->size(), QSize(487, 402));
        QCOMPARE(m_f->minimumSize(), m_f->maximumSize());
        const Qt::WindowFlags f = m_f->windowFlags();
        QVERIFY(f & Qt::CustomizeWindowHint);
        QVERIFY(f & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(f & Qt::WindowCloseButtonHint));
        QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    }

    void policesDuDessin()
    {
        QCOMPARE(m_f->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(m_f->font().pointSize(), 8);
        QCOMPARE(label("LabelTitreEtape")->font().pointSize(), 12);
        QVERIFY(label("LabelTitreEtape")->font().bold());
        QCOMPARE(label("LabelTitreEtape")->alignment() & Qt::AlignHorizontal_Mask,
                 Qt::AlignHCenter);
        QVERIFY(w<QLineEdit>("EditEtape")->font().bold());
        QVERIFY(w<QLineEdit>("EditEtape")->isReadOnly());
        QVERIFY(!(w<QLineEdit>("EditEtape")->focusPolicy() & Qt::TabFocus));
        // Texts with "<...>" must show as typed, not as markup.
        QCOMPARE(label("LabelLigne3")->textFormat(), Qt::PlainText);
        QVERIFY(w<QWidget>("ImageConnectK27aPC")->testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    // Next through steps 1 to 5, then Previous back to 1; each screen's counter, title and
    // navigation buttons.
    void navigation()
    {
        struct Ecran {
            int etape;
            CleTexte titre;
            CleTexte suivant;
            bool precedentActif;
            bool groupe;
        };
        const Ecran ecrans[] = {
            {1, TxtTitreAccueil, TxtSuivant, false, false},
            {2, TxtTitrePreparation, TxtSuivant, true, false},
            {3, TxtTitreConnexionPC, TxtSuivant, true, false},
            {4, TxtTitreChoixPort, TxtSuivant, true, true},
            {5, TxtTitreLancement, TxtConnexion, true, false},
        };
        const auto verifier = [this](const Ecran& e) {
            QCOMPARE(m_f->etat().NumeroEtape, e.etape);
            QCOMPARE(etape(), QStringLiteral("Etape n° %1 sur 9").arg(e.etape));
            QCOMPARE(label("LabelTitreEtape")->text(), T(e.titre));
            QCOMPARE(bouton("ButtonSuivant")->text(), T(e.suivant));
            QVERIFY(bouton("ButtonSuivant")->isEnabled() && visible("ButtonSuivant"));
            QCOMPARE(bouton("ButtonPrecedant")->text(), T(TxtPrecedent));
            QCOMPARE(bouton("ButtonPrecedant")->isEnabled(), e.precedentActif);
            QCOMPARE(bouton("ButtonQuitter")->text(), T(TxtQuitter));
            QVERIFY(bouton("ButtonQuitter")->isEnabled());
            QCOMPARE(visible("GroupBoxChoixPort"), e.groupe);
        };

        verifier(ecrans[0]);
        for (int i = 1; i < 5; ++i) {
            cliquer("ButtonSuivant");
            verifier(ecrans[i]);
        }
        QCOMPARE(label("LabelLigne1")->text(), T(TxtLancement1));
        QCOMPARE(label("LabelLigne4")->text(), T(TxtLancement4));
        for (int i = 3; i >= 0; --i) {
            cliquer("ButtonPrecedant");
            verifier(ecrans[i]);
        }
        QVERIFY(m_f->isVisible());
    }

    // Every text a screen shows fits in its control with the fonts that stand in for the
    // design's.
    void aucunTexteCoupe()
    {
        const auto verifierEcran = [this] {
            for (QLabel* l : m_f->findChildren<QLabel*>()) {
                if (!l->isVisibleTo(m_f.get()) || l->text().isEmpty())
                    continue;
                const int drapeaux = int(l->alignment()) | (l->wordWrap() ? Qt::TextWordWrap : 0);
                const QRect r =
                    l->fontMetrics().boundingRect(l->contentsRect(), drapeaux, l->text());
                QVERIFY2(l->contentsRect().contains(r),
                         qPrintable(QStringLiteral("step %1, %2: %3")
                                        .arg(m_f->etat().NumeroEtape)
                                        .arg(l->objectName(), l->text())));
            }
        };
        verifierEcran();
        for (int etape = 2; etape <= 5; ++etape) {
            m_f->EtapeSuivante();
            verifierEcran();
        }
        avancerJusqua(9);
        verifierEcran();
    }

    void retourALAccueilRestaureLeStyle()
    {
        cliquer("ButtonSuivant");
        QLabel* l1 = label("LabelLigne1");
        QLabel* barre = label("LabelBarreProgression");
        QVERIFY(!l1->font().bold());
        QCOMPARE(l1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        QVERIFY(!visible("LabelBarreProgression"));
        QVERIFY(!barre->font().italic());
        QCOMPARE(barre->font().pointSize(), 8);

        cliquer("ButtonPrecedant");
        QVERIFY(l1->font().bold());
        QCOMPARE(l1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        QCOMPARE(l1->text(), QStringLiteral("Mise à jour version 16.3"));
        QVERIFY(visible("LabelBarreProgression"));
        QCOMPARE(barre->text(), T(TxtAccueil4));
        QVERIFY(barre->font().italic());
        QVERIFY(!barre->font().bold());
        QCOMPARE(barre->font().pointSize(), 10);
        QCOMPARE(barre->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        for (const char* nom : {"LabelLigne2", "LabelLigne3", "LabelLigne4"})
            QVERIFY2(visible(nom), nom);
        QVERIFY(!visible("ImageConnectK27aPC"));
        QVERIFY(!bouton("ButtonPrecedant")->isEnabled());
    }

    // The drawing shows its device half at step 2 and all of it at step 3, whichever way
    // the step was reached.
    void largeurDuDessin()
    {
        QWidget* image = w<QWidget>("ImageConnectK27aPC");
        const struct {
            const char* bouton;
            int etape;
            int largeur;
        } chemin[] = {
            {"ButtonSuivant", 2, 181},   {"ButtonSuivant", 3, 362}, {"ButtonPrecedant", 2, 181},
            {"ButtonSuivant", 3, 362},   {"ButtonSuivant", 4, -1},  {"ButtonPrecedant", 3, 362},
            {"ButtonPrecedant", 2, 181},
        };
        for (const auto& pas : chemin) {
            cliquer(pas.bouton);
            QCOMPARE(m_f->etat().NumeroEtape, pas.etape);
            if (pas.largeur < 0) {
                QVERIFY(!image->isVisibleTo(m_f.get()));
                continue;
            }
            QVERIFY(image->isVisibleTo(m_f.get()));
            QCOMPARE(image->width(), pas.largeur);
            QCOMPARE(image->height(), 193);
            QCOMPARE(image->x(), 16);
        }
    }

    void annulerPendantLAttente()
    {
        avancerJusqua(4);
        cliquer("ButtonSuivant");
        QVERIFY(!label("LabelLigne1")->font().bold()); // step 5 reached from step 4

        cliquer("ButtonSuivant"); // Connect
        QCOMPARE(m_f->etat().NumeroEtape, 6);
        QCOMPARE(bouton("ButtonPrecedant")->text(), T(TxtAnnuler));
        QVERIFY(!bouton("ButtonSuivant")->isEnabled());
        QVERIFY(m_f->minuterie().isActive());
        QCOMPARE(m_f->minuterie().interval(), 2250);

        cliquer("ButtonPrecedant"); // Cancel
        QCOMPARE(m_f->etat().NumeroEtape, 5);
        QVERIFY(!m_f->minuterie().isActive());
        QCOMPARE(etape(), QStringLiteral("Etape n° 5 sur 9"));
        QCOMPARE(bouton("ButtonPrecedant")->text(), T(TxtPrecedent));
        QCOMPARE(bouton("ButtonSuivant")->text(), QStringLiteral("&Connexion"));
        QVERIFY(bouton("ButtonSuivant")->isEnabled());
        // Step 6 made the first line bold; step 5 leaves the font alone.
        QVERIFY(label("LabelLigne1")->font().bold());
        QCOMPARE(label("LabelLigne1")->text(), T(TxtLancement1));
        QVERIFY(!visible("LabelBarreProgression"));
    }

    void reussiteEtOui()
    {
        avancerJusqua(5);
        cliquer("ButtonSuivant"); // Connect: step 6
        QCOMPARE(m_f->chargeur().Connecter(1), 0);
        notifier(WM_ETAPE_SUIVANTE, 0); // 7
        notifier(WM_ETAPE_SUIVANTE, 0); // 8
        notifier(WM_ETAPE_SUIVANTE, 0); // 9
        QCOMPARE(m_f->etat().NumeroEtape, 9);

        QCOMPARE(etape(), QStringLiteral("Etape n° 9 sur 9"));
        QCOMPARE(label("LabelTitreEtape")->text(), T(TxtTitreReussite));
        for (const char* nom : {"LabelLigne1", "LabelLigne2", "LabelLigne3", "LabelLigne4",
                                "LabelLigne5", "ProgressBarProgrammation", "ButtonSuivant"})
            QVERIFY2(!visible(nom), nom);
        // The question stands in the progress label, visible since step 8.
        QCOMPARE(label("LabelBarreProgression")->text(), T(TxtAutreAppareil));
        QVERIFY(visible("LabelBarreProgression"));
        QCOMPARE(bouton("ButtonPrecedant")->text(), QStringLiteral("&Oui"));
        QVERIFY(visible("ButtonPrecedant") && bouton("ButtonPrecedant")->isEnabled());
        QCOMPARE(bouton("ButtonQuitter")->text(), QStringLiteral("&Non"));
        QVERIFY(bouton("ButtonQuitter")->isEnabled());

        // Yes: the loader connection is reset (the reset byte goes out) and step 5 shows.
        QCOMPARE(m_f->chargeur().EstConnecte(), 1);
        const std::size_t avant = m_port->ecrits.size();
        cliquer("ButtonPrecedant");
        QCOMPARE(m_f->chargeur().EstConnecte(), 0);
        QVERIFY(std::count(m_port->ecrits.begin() + avant, m_port->ecrits.end(), 0x04) > 0);
        QVERIFY(m_port->ouvert); // the port stays open for the next device
        QCOMPARE(m_f->etat().NumeroEtape, 5);
        QCOMPARE(etape(), QStringLiteral("Etape n° 5 sur 9"));
        QCOMPARE(bouton("ButtonPrecedant")->text(), T(TxtPrecedent));
        QVERIFY(visible("ButtonPrecedant"));
        QCOMPARE(bouton("ButtonSuivant")->text(), QStringLiteral("&Connexion"));
        QVERIFY(visible("ButtonSuivant") && bouton("ButtonSuivant")->isEnabled());
        QCOMPARE(bouton("ButtonQuitter")->text(), T(TxtQuitter));
        QVERIFY(!visible("LabelBarreProgression"));
        QVERIFY(m_f->isVisible());
    }

    void nonALaReussiteFermeLaFenetre()
    {
        avancerJusqua(9);
        cliquer("ButtonQuitter");
        QVERIFY(!m_f->isVisible());
    }

    void quitterFermeLaFenetre()
    {
        cliquer("ButtonQuitter");
        QVERIFY(!m_f->isVisible());
    }

    // Leaving while the connection wait runs: no tick after the window, and the loader
    // client resets the device and closes the port on the way out.
    void finPendantLAttente()
    {
        avancerJusqua(6);
        QVERIFY(m_f->minuterie().isActive());
        QCOMPARE(m_f->chargeur().Connecter(1), 0);
        const std::size_t avant = m_port->ecrits.size();
        cliquer("ButtonQuitter");
        QVERIFY(!m_f->isVisible());
        m_f.reset();
        QVERIFY(!m_port->ouvert);
        QVERIFY(std::count(m_port->ecrits.begin() + avant, m_port->ecrits.end(), 0x04) > 0);
    }

    void issues_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<qlonglong>("wParam");
        QTest::addColumn<int>("majeure");
        QTest::addColumn<int>("mineure");
        QTest::addColumn<bool>("erreur");
        QTest::addColumn<int>("cle");
        QTest::addColumn<bool>("oui");

        const auto ligne = [](const char* nom, int code, qlonglong w, int maj, int min, bool erreur,
                              CleTexte cle, bool oui) {
            QTest::newRow(nom) << code << w << maj << min << erreur << int(cle) << oui;
        };
        ligne("type, oui", WM_APPAREIL_REFUSE, REFUS_TYPE, 0, 0, true, TxtPasUnKorvane, true);
        ligne("type, non", WM_APPAREIL_REFUSE, REFUS_TYPE, 0, 0, true, TxtPasUnKorvane, false);
        ligne("numero, oui", WM_APPAREIL_REFUSE, REFUS_NUMERO_SERIE, 0, 0, true,
              TxtNumeroSerieInvalide, true);
        ligne("mode, non", WM_APPAREIL_REFUSE, REFUS_MODE, 0, 0, true, TxtVersionIncompatible,
              false);
        ligne("16.3, oui", WM_APPAREIL_REFUSE, REFUS_VERSION, 16, 3, false, TxtDejaAJour, true);
        ligne("16.3, non", WM_APPAREIL_REFUSE, REFUS_VERSION, 16, 3, false, TxtDejaAJour, false);
        ligne("16.4", WM_APPAREIL_REFUSE, REFUS_VERSION, 16, 4, false, TxtPlusRecente, true);
        ligne("17.0", WM_APPAREIL_REFUSE, REFUS_VERSION, 17, 0, false, TxtPlusRecente, true);
        ligne("17.3", WM_APPAREIL_REFUSE, REFUS_VERSION, 17, 3, false, TxtPlusRecente, false);
        ligne("transmission, oui", WM_ERREUR_TRANSMISSION, 100003, 0, 0, true,
              TxtProblemeTransmission, true);
        ligne("transmission errno, non", WM_ERREUR_TRANSMISSION, 5, 0, 0, true,
              TxtProblemeTransmission, false);
    }

    // A refusal or a transmission error during verification: the loader connection is reset
    // before the box; Yes shows step 5 ready for another device, anything else ends the tool.
    void issues()
    {
        QFETCH(int, code);
        QFETCH(qlonglong, wParam);
        QFETCH(int, majeure);
        QFETCH(int, mineure);
        QFETCH(bool, erreur);
        QFETCH(int, cle);
        QFETCH(bool, oui);

        avancerJusqua(6);
        QCOMPARE(m_f->chargeur().Connecter(1), 0);
        notifier(WM_ETAPE_SUIVANTE, 0); // step 7
        QVERIFY(!visible("ButtonPrecedant"));
        m_f->etat().VersionMajeure = majeure;
        m_f->etat().VersionMineure = mineure;
        m_boites->reponse = oui ? BoitesMessage::Reponse::Oui : BoitesMessage::Reponse::Non;

        notifier(code, wParam);

        QCOMPARE(m_boites->appels.size(), std::size_t(1));
        const auto& a = m_boites->appels[0];
        QCOMPARE(a.type, erreur ? BoitesMessage::Type::Erreur : BoitesMessage::Type::Information);
        QCOMPARE(a.texte, T(CleTexte(cle)));
        QCOMPARE(a.boutons, BoitesMessage::Boutons::OuiNon);
        QCOMPARE(a.connecte, 0);
        if (oui) {
            QVERIFY(m_f->isVisible());
            QCOMPARE(m_f->etat().NumeroEtape, 5);
            QCOMPARE(etape(), QStringLiteral("Etape n° 5 sur 9"));
            QCOMPARE(bouton("ButtonSuivant")->text(), QStringLiteral("&Connexion"));
            QVERIFY(bouton("ButtonSuivant")->isEnabled() && visible("ButtonSuivant"));
            QVERIFY(bouton("ButtonQuitter")->isEnabled());
            // Hidden since step 7, and step 5 does not show it again.
            QVERIFY(!visible("ButtonPrecedant"));
        } else {
            QVERIFY(!m_f->isVisible());
            QCOMPARE(m_f->etat().NumeroEtape, 7);
        }
    }

    void issueDuTransfert()
    {
        // A transmission error during programming gives the same box and the same way back.
        avancerJusqua(8);
        m_boites->reponse = BoitesMessage::Reponse::Oui;
        notifier(WM_ERREUR_TRANSMISSION, 100007);
        QCOMPARE(m_boites->appels.size(), std::size_t(1));
        QCOMPARE(m_boites->appels[0].texte, T(TxtProblemeTransmission));
        QCOMPARE(m_f->etat().NumeroEtape, 5);
        QVERIFY(!visible("ProgressBarProgrammation"));
        QVERIFY(!visible("LabelLigne5"));
    }

    void echecConnexion_data()
    {
        QTest::addColumn<int>("reponse");
        QTest::newRow("OK") << int(BoitesMessage::Reponse::Ok);
        QTest::newRow("closed otherwise") << int(BoitesMessage::Reponse::Non);
    }

    void echecConnexion()
    {
        QFETCH(int, reponse);
        avancerJusqua(6);
        m_boites->reponse = BoitesMessage::Reponse(reponse);
        m_f->minuterie().stop(); // as the engine does before it reports
        notifier(WM_ECHEC_CONNEXION, 0);

        QCOMPARE(m_boites->appels.size(), std::size_t(1));
        QCOMPARE(m_boites->appels[0].type, BoitesMessage::Type::Erreur);
        QCOMPARE(m_boites->appels[0].boutons, BoitesMessage::Boutons::Ok);
        QCOMPARE(m_boites->appels[0].texte, T(TxtEchecConnexion));
        QVERIFY(m_f->isVisible());
        QCOMPARE(m_f->etat().NumeroEtape, 4);
        QCOMPARE(etape(), QStringLiteral("Etape n° 4 sur 9"));
        QVERIFY(visible("GroupBoxChoixPort"));
        QCOMPARE(bouton("ButtonSuivant")->text(), T(TxtSuivant));
        QVERIFY(bouton("ButtonSuivant")->isEnabled());
        QCOMPARE(bouton("ButtonPrecedant")->text(), T(TxtPrecedent));
        QVERIFY(visible("ButtonPrecedant"));
        QVERIFY(!visible("LabelBarreProgression"));
    }

    // The About dialog shows modally in the window's language, and the engine's notifications
    // go on being handled while it is open.
    void aPropos()
    {
        TFormAPropos apropos;
        apropos.ChangerLangue(1);
        m_f->definirAPropos(&apropos);
        avancerJusqua(6);

        bool modal = false;
        int etapeDansLeDialogue = 0;
        QTimer::singleShot(0, &apropos, [&] {
            modal = QApplication::activeModalWidget() == &apropos;
            m_f->poster(WM_ETAPE_SUIVANTE, 0);
            QTimer::singleShot(0, &apropos, [&] {
                etapeDansLeDialogue = m_f->etat().NumeroEtape;
                apropos.accept();
            });
        });
        cliquer("ButtonAPropos");

        QVERIFY(modal);
        QCOMPARE(etapeDansLeDialogue, 7);
        QCOMPARE(apropos.indexLangue(), 0);
        QVERIFY(!apropos.isVisible());
        QVERIFY(m_f->isVisible());
        m_f->definirAPropos(nullptr);
    }

    // Notifications arrive through the queue and event(); other codes and events keep their
    // ordinary handling.
    void notificationsParLaFile()
    {
        avancerJusqua(6);
        m_f->poster(WM_ETAPE_SUIVANTE, 0);
        QCOMPARE(m_f->etat().NumeroEtape, 6); // nothing before the loop takes it
        QTRY_COMPARE(m_f->etat().NumeroEtape, 7);

        m_f->poster(WM_USER + 2, 0);
        m_f->poster(WM_USER, 0);
        QCoreApplication::sendPostedEvents(m_f.get(), TFormMjKorvane::typeNotification());
        QCOMPARE(m_f->etat().NumeroEtape, 7);
        QVERIFY(m_boites->appels.empty());
        QVERIFY(m_f->isVisible());
    }
};

QTEST_MAIN(TestFenetre)
#include "tst_fenetre.moc"
