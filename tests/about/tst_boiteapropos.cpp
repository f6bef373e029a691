#include "text/Catalogue.h"
#include "ui/Boiteapropos.h"
#include "ui/OuvreurLiens.h"

#include <QAction>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace korvane;

namespace {

class OuvreurEspion : public OuvreurLiens {
public:
    void ouvrir(const QString& url) override { urls.append(url); }
    QStringList urls;
};

// Counts the custom events it is sent.
class Receveur : public QObject {
public:
    static QEvent::Type type()
    {
        static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
        return t;
    }
    int recus = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == type()) {
            ++recus;
            return true;
        }
        return QObject::event(e);
    }
};

QString fr(CleAPropos cle)
{
    return QString::fromUtf8(TexteAPropos(cle, 0));
}

const char* const LABELS_AUTO[] = {"LabelAdresse", "LabelCodeVille", "LabelPays", "LabelTelephone",
                                   "LabelTelecopie"};

} // namespace

class TestBoiteAPropos : public QObject {
    Q_OBJECT

private:
    QLabel* label(TFormAPropos& d, const char* nom) { return d.findChild<QLabel*>(nom); }

    // Every text the dialog shows, in a fixed order, to compare two showings.
    QStringList textes(TFormAPropos& d)
    {
        QStringList t{d.windowTitle(), d.findChild<QPushButton*>("ButtonOk")->text()};
        for (auto* l : d.findChildren<QLabel*>()) {
            t << l->objectName() + "=" + l->text();
        }
        return t;
    }

    // Runs the dialog modally; `pendant` runs inside the modal loop and must close it.
    int executer(TFormAPropos& d, std::function<void()> pendant)
    {
        QTimer::singleShot(0, &d, pendant);
        QTimer secours; // only fires if the dialog failed to close
        secours.setSingleShot(true);
        connect(&secours, &QTimer::timeout, &d, &QDialog::reject);
        secours.start(5000);
        return d.exec();
    }

private slots:
    void initTestCase() { QVERIFY(QGuiApplication::primaryScreen() != nullptr); }

    void texteApresConstruction_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QString>("attendu");
        QTest::newRow("LabelMarqueDe") << "LabelMarqueDe" << fr(TxtAProposMarque);
        QTest::newRow("LabelAdresse") << "LabelAdresse" << fr(TxtAProposAdresse);
        QTest::newRow("LabelCodeVille") << "LabelCodeVille" << fr(TxtAProposCodeVille);
        QTest::newRow("LabelPays") << "LabelPays" << fr(TxtAProposPays);
        QTest::newRow("LabelTelephone") << "LabelTelephone" << fr(TxtAProposTelephone);
        QTest::newRow("LabelTelecopie") << "LabelTelecopie" << fr(TxtAProposTelecopie);
        QTest::newRow("LabelNomSite") << "LabelNomSite" << fr(TxtAProposSite);
        QTest::newRow("LabelMel") << "LabelMel" << fr(TxtAProposMel);
    }

    void texteApresConstruction()
    {
        QFETCH(QString, nom);
        QFETCH(QString, attendu);
        TFormAPropos d;
        QVERIFY(!attendu.isEmpty());
        QCOMPARE(label(d, qPrintable(nom))->text(), attendu);
        QCOMPARE(d.windowTitle(), QStringLiteral("A propos de la mise à jour"));
        QCOMPARE(d.findChild<QPushButton*>("ButtonOk")->text(), QStringLiteral("&Ok"));
        QCOMPARE(d.indexLangue(), 0);
    }

    void changerLangue()
    {
        TFormAPropos d;
        const QStringList francais = textes(d);

        d.ChangerLangue(1);
        QCOMPARE(d.indexLangue(), 1);
        QCOMPARE(d.windowTitle(), QStringLiteral("About update"));
        QCOMPARE(d.findChild<QPushButton*>("ButtonOk")->text(), QStringLiteral("&Ok"));
        QCOMPARE(label(d, "LabelMarqueDe")->text(), QStringLiteral("Une marque de"));
        QStringList anglais = textes(d);
        anglais[0] = francais[0];
        QCOMPARE(anglais, francais); // only the caption moved

        // Same index again: not even the caption is written.
        d.setWindowTitle(QStringLiteral("marker"));
        d.ChangerLangue(1);
        QCOMPARE(d.windowTitle(), QStringLiteral("marker"));

        d.ChangerLangue(0);
        QCOMPARE(d.indexLangue(), 0);
        QCOMPARE(textes(d), francais);
    }

    void clics_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QStringList>("ouverts");
        QTest::newRow("site") << "LabelNomSite" << QStringList{QString::fromUtf8(UrlSite)};
        QTest::newRow("mail") << "LabelMel" << QStringList{QString::fromUtf8(UrlMel)};
        for (const char* nom : LABELS_AUTO) {
            QTest::newRow(nom) << nom << QStringList{};
        }
        QTest::newRow("LabelMarqueDe") << "LabelMarqueDe" << QStringList{};
        QTest::newRow("ImageAProposVantorel") << "ImageAProposVantorel" << QStringList{};
        QTest::newRow("Image1") << "Image1" << QStringList{};
    }

    void clics()
    {
        QFETCH(QString, nom);
        QFETCH(QStringList, ouverts);
        OuvreurEspion espion;
        TFormAPropos d(nullptr, &espion);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QStringList avant = textes(d);

        QLabel* l = label(d, qPrintable(nom));
        QVERIFY(l != nullptr);
        QTest::mouseClick(l, Qt::LeftButton, {}, l->rect().center());

        QCOMPARE(espion.urls, ouverts);
        QVERIFY(d.isVisible()); // the dialog stays open whatever the opener did
        QCOMPARE(textes(d), avant);
    }

    void lienTexteExact()
    {
        OuvreurEspion espion;
        TFormAPropos d(nullptr, &espion);
        d.LabelMelClick();
        d.LabelNomSiteClick();
        QCOMPARE(espion.urls, (QStringList{QStringLiteral("mailto: support@vantorel.example"),
                                           QString::fromUtf8(UrlSite)}));
        QVERIFY(label(d, "LabelNomSite")->text().endsWith(espion.urls[1]));
        QCOMPARE(d.findChild<QAction*>("BrowseInternet")->text(), QStringLiteral("&Parcourir URL"));
    }

    void clicHorsDuLienOuAutreBouton()
    {
        OuvreurEspion espion;
        TFormAPropos d(nullptr, &espion);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QLabel* mel = label(d, "LabelMel");
        // Pressed on the link, released outside it.
        QTest::mousePress(mel, Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseRelease(mel, Qt::LeftButton, {}, QPoint(mel->width() + 20, 2));
        // The right button.
        QTest::mouseClick(mel, Qt::RightButton, {}, QPoint(2, 2));
        QVERIFY(espion.urls.isEmpty());
    }

    void apparenceDesLiens()
    {
        TFormAPropos d;
        for (const char* nom : {"LabelNomSite", "LabelMel"}) {
            QLabel* l = label(d, nom);
            QCOMPARE(l->cursor().shape(), Qt::PointingHandCursor);
            QCOMPARE(l->palette().color(QPalette::WindowText), QColor(Qt::blue));
            QVERIFY(l->font().underline());
            QCOMPARE(l->font().pointSize(), 10);
        }
        for (const char* nom : LABELS_AUTO) {
            QLabel* l = label(d, nom);
            QCOMPARE(l->cursor().shape(), Qt::ArrowCursor);
            QVERIFY(!l->font().underline());
            QCOMPARE(l->font().pointSize(), 8);
            QVERIFY(l->palette().color(QPalette::WindowText) != QColor(Qt::blue));
        }
    }

    void geometrie_data()
    {
        QTest::addColumn<QString>("nom");
        QTest::addColumn<QRect>("cadre");
        QTest::newRow("ImageAProposVantorel") << "ImageAProposVantorel" << QRect(0, 8, 441, 49);
        QTest::newRow("LabelMarqueDe") << "LabelMarqueDe" << QRect(0, 64, 441, 25);
        QTest::newRow("Image1") << "Image1" << QRect(0, 96, 441, 41);
        QTest::newRow("ButtonOk") << "ButtonOk" << QRect(201, 240, 75, 25);
        // Sized to their texts: position only here, the size is checked below.
        QTest::newRow("LabelAdresse") << "LabelAdresse" << QRect(16, 152, 0, 0);
        QTest::newRow("LabelCodeVille") << "LabelCodeVille" << QRect(16, 168, 0, 0);
        QTest::newRow("LabelPays") << "LabelPays" << QRect(16, 184, 0, 0);
        QTest::newRow("LabelTelephone") << "LabelTelephone" << QRect(240, 152, 0, 0);
        QTest::newRow("LabelTelecopie") << "LabelTelecopie" << QRect(240, 168, 0, 0);
        QTest::newRow("LabelNomSite") << "LabelNomSite" << QRect(16, 208, 0, 16);
        QTest::newRow("LabelMel") << "LabelMel" << QRect(240, 208, 0, 16);
    }

    void geometrie()
    {
        QFETCH(QString, nom);
        QFETCH(QRect, cadre);
        TFormAPropos d;
        auto* w = d.findChild<QWidget*>(nom);
        QVERIFY(w != nullptr);
        QCOMPARE(w->pos(), cadre.topLeft());
        if (cadre.width() > 0) {
            QCOMPARE(w->size(), cadre.size());
        } else {
            QCOMPARE(w->width(), w->sizeHint().width());
            QCOMPARE(w->height(), cadre.height() > 0 ? cadre.height() : w->sizeHint().height());
        }
        QVERIFY(d.rect().contains(w->geometry()));
    }

    void cadreEtPolices()
    {
        TFormAPropos d;
        QCOMPARE(d.size(), QSize(446, 276));
        QCOMPARE(d.minimumSize(), QSize(446, 276));
        QCOMPARE(d.maximumSize(), QSize(446, 276));
        const Qt::WindowFlags f = d.windowFlags();
        QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
        QVERIFY(f & Qt::WindowCloseButtonHint);
        QVERIFY(!d.windowIcon().isNull());
        QVERIFY(d.windowIcon().availableSizes().contains(QSize(32, 32)));

        QCOMPARE(d.font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(d.font().pointSize(), 8);
        const QString reelle = QFontInfo(d.font()).family();
        QVERIFY2(reelle == "Liberation Sans" || reelle == "DejaVu Sans", qPrintable(reelle));

        QLabel* marque = label(d, "LabelMarqueDe");
        QCOMPARE(marque->font().pointSize(), 12);
        QVERIFY(marque->font().italic());
        QCOMPARE(marque->alignment(), Qt::AlignCenter);

        // Pictures scaled down to their boxes, proportions kept.
        QCOMPARE(label(d, "ImageAProposVantorel")->pixmap().size(), QSize(426, 49));
        QCOMPARE(label(d, "Image1")->pixmap().size(), QSize(256, 41));
        QCOMPARE(label(d, "Image1")->alignment(), Qt::AlignCenter);

        // The web link ends before the mail link begins.
        QVERIFY(label(d, "LabelNomSite")->geometry().right() < label(d, "LabelMel")->x());

        // The OK button is the default one and the only stop in the tab order.
        auto* ok = d.findChild<QPushButton*>("ButtonOk");
        QVERIFY(ok->isDefault());
        for (auto* w : d.findChildren<QWidget*>()) {
            if (w != ok) {
                QCOMPARE(w->focusPolicy() & Qt::TabFocus, 0);
            }
        }
    }

    void centreSurLeBureau()
    {
        QWidget proprietaire;
        proprietaire.setGeometry(0, 0, 200, 150);
        TFormAPropos d(&proprietaire);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QPoint ecart = d.frameGeometry().center() - d.screen()->availableGeometry().center();
        QVERIFY2(ecart.manhattanLength() <= 2,
                 qPrintable(QString::number(ecart.manhattanLength())));
    }

    void deuxAffichagesModaux()
    {
        TFormAPropos d;
        QStringList vus[2];
        // First closed by OK, then by the frame's close box.
        QCOMPARE(executer(d,
                          [&] {
                              vus[0] = textes(d);
                              d.findChild<QPushButton*>("ButtonOk")->click();
                          }),
                 int(QDialog::Accepted));
        QVERIFY(!d.isVisible());
        executer(d, [&] {
            vus[1] = textes(d);
            d.close();
        });
        QVERIFY(!d.isVisible());
        QVERIFY(!vus[0].isEmpty());
        QCOMPARE(vus[1], vus[0]);
    }

    void entreeFermeLaBoite()
    {
        TFormAPropos d;
        bool visible = false;
        QCOMPARE(executer(d,
                          [&] {
                              visible = d.isVisible();
                              QTest::keyClick(&d, Qt::Key_Return);
                          }),
                 int(QDialog::Accepted));
        QVERIFY(visible);
    }

    void boucleModaleTraiteMinuterieEtEvenements()
    {
        TFormAPropos d;
        Receveur receveur;
        int tics = 0;
        QTimer minuterie;
        minuterie.setInterval(5);
        connect(&minuterie, &QTimer::timeout, &d, [&] {
            ++tics;
            if (tics >= 3 && receveur.recus == 1) {
                d.ButtonOkClick();
            }
        });
        minuterie.start();
        executer(d, [&] { QCoreApplication::postEvent(&receveur, new QEvent(Receveur::type())); });
        QCOMPARE(receveur.recus, 1);
        QVERIFY(tics >= 3);
    }

    void ouvreurDuBureau()
    {
        // A stand-in xdg-open on PATH writes down the arguments it was given.
        QTemporaryDir dossier;
        QVERIFY(dossier.isValid());
        const QString script = dossier.filePath("xdg-open");
        const QString sortie = dossier.filePath("arguments");
        {
            QFile f(script);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$0.tmp\"\n"
                    "mv \"$0.tmp\" \"$(dirname \"$0\")/arguments\"\n");
        }
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray chemin = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dossier.path()) + ":" + chemin);

        OuvreurLiensBureau ouvreur;
        QElapsedTimer montre;
        montre.start();
        ouvreur.ouvrir(QString::fromUtf8(UrlMel));
        QVERIFY(montre.elapsed() < 1000); // never waits for the opener
        qputenv("PATH", chemin);

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(sortie), 5000);
        QFile f(sortie);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), "[" + QString::fromUtf8(UrlMel) + "]");
    }
};

QTEST_MAIN(TestBoiteAPropos)
#include "tst_boiteapropos.moc"
