// The real message boxes: the toolkit's titles and button texts, and what each way of
// closing a box answers.

#include "ui/BoitesMessage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QtTest>

using namespace korvane;

Q_DECLARE_METATYPE(BoitesMessage::Type)
Q_DECLARE_METATYPE(BoitesMessage::Boutons)
Q_DECLARE_METATYPE(BoitesMessage::Reponse)

class TestBoites : public QObject {
    Q_OBJECT

private slots:
    void boites_data()
    {
        QTest::addColumn<BoitesMessage::Type>("type");
        QTest::addColumn<BoitesMessage::Boutons>("boutons");
        QTest::addColumn<QString>("geste"); // a button's text, or "Escape"
        QTest::addColumn<QString>("titre");
        QTest::addColumn<QStringList>("textes");
        QTest::addColumn<BoitesMessage::Reponse>("reponse");

        using B = BoitesMessage;
        const QStringList ouiNon{"&Yes", "&No"};
        QTest::newRow("error, Yes") << B::Type::Erreur << B::Boutons::OuiNon << "&Yes"
                                    << "Error" << ouiNon << B::Reponse::Oui;
        QTest::newRow("error, No") << B::Type::Erreur << B::Boutons::OuiNon << "&No"
                                   << "Error" << ouiNon << B::Reponse::Non;
        QTest::newRow("information, Yes") << B::Type::Information << B::Boutons::OuiNon << "&Yes"
                                          << "Information" << ouiNon << B::Reponse::Oui;
        QTest::newRow("closed with Escape")
            << B::Type::Information << B::Boutons::OuiNon << "Escape"
            << "Information" << ouiNon << B::Reponse::Non;
        QTest::newRow("error, OK") << B::Type::Erreur << B::Boutons::Ok << "OK"
                                   << "Error" << QStringList{"OK"} << B::Reponse::Ok;
        QTest::newRow("OK box, Escape") << B::Type::Erreur << B::Boutons::Ok << "Escape"
                                        << "Error" << QStringList{"OK"} << B::Reponse::Ok;
    }

    void boites()
    {
        QFETCH(BoitesMessage::Type, type);
        QFETCH(BoitesMessage::Boutons, boutons);
        QFETCH(QString, geste);
        QFETCH(QString, titre);
        QFETCH(QStringList, textes);
        QFETCH(BoitesMessage::Reponse, reponse);

        QString titreVu;
        QStringList textesVus;
        QString texteVu;
        QMessageBox::Icon icone = QMessageBox::NoIcon;
        QTimer::singleShot(0, this, [&] {
            auto* boite = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(boite != nullptr);
            titreVu = boite->windowTitle();
            texteVu = boite->text();
            icone = boite->icon();
            for (QAbstractButton* b : boite->buttons())
                textesVus << b->text();
            if (geste == QLatin1String("Escape")) {
                QTest::keyClick(boite, Qt::Key_Escape);
                return;
            }
            for (QAbstractButton* b : boite->buttons())
                if (b->text() == geste)
                    b->click();
        });

        const QString message = QStringLiteral("Echec à la connexion :\n   - Soit <b>\n");
        BoitesMessageQt boites;
        QCOMPARE(boites.montrer(type, message, boutons), reponse);
        QCOMPARE(titreVu, titre);
        textesVus.sort();
        textes.sort();
        QCOMPARE(textesVus, textes);
        QCOMPARE(texteVu, message);
        QCOMPARE(icone, type == BoitesMessage::Type::Erreur ? QMessageBox::Critical
                                                            : QMessageBox::Information);
    }
};

QTEST_MAIN(TestBoites)
#include "tst_boites.moc"
