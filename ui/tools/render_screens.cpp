// korvane-render-screens: walks the wizard through a whole update of a simulated Korvane, as
// a user would click it, and writes each screen and the About dialog as a PNG file, drawn
// offscreen.  Usage: korvane-render-screens [folder]   (default: the current folder)

#include "engine/Notifications.h"
#include "sim/PortSimule.h"
#include "ui/Boiteapropos.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace korvane;

namespace {

// Boxes that say Yes without showing anything.
class BoitesOui : public BoitesMessage {
public:
    Reponse montrer(Type, const QString&, Boutons) override { return Reponse::Oui; }
};

bool ecrire(QWidget& w, const QDir& dossier, const char* nom)
{
    const QString chemin = dossier.filePath(QString::fromLatin1(nom));
    if (!w.grab().save(chemin, "PNG")) {
        std::fprintf(stderr, "korvane-render-screens: cannot write %s\n", qPrintable(chemin));
        return false;
    }
    std::printf("%s\n", qPrintable(chemin));
    return true;
}

// A pseudo-terminal standing for a free serial port, so that the port choice looks as on a
// PC with two ports. Its master side stays open until the program ends.
void brancherPort(int n)
{
    const int maitre = posix_openpt(O_RDWR | O_NOCTTY);
    const QByteArray variable = "KORVANE_COM" + QByteArray::number(n);
    if (maitre >= 0 && grantpt(maitre) == 0 && unlockpt(maitre) == 0)
        qputenv(variable, ptsname(maitre));
    else
        qputenv(variable, "/nonexistent");
}

void cliquer(TFormMjKorvane& f, const char* bouton)
{
    f.findChild<QPushButton*>(QString::fromLatin1(bouton))->click();
}

// Runs engine ticks until the wizard leaves `etape` (or gives up), handling the
// notifications as the event loop would.
void tickerJusquaQuitter(TFormMjKorvane& f, int etape, int maximum)
{
    for (int i = 0; i < maximum && f.etat().NumeroEtape == etape; ++i) {
        f.TimerGestionSerieTimer();
        QCoreApplication::sendPostedEvents(&f, TFormMjKorvane::typeNotification());
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QDir dossier(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (!dossier.exists() && !QDir().mkpath(dossier.path())) {
        std::fprintf(stderr, "korvane-render-screens: no folder %s\n", qPrintable(dossier.path()));
        return 1;
    }

    brancherPort(1);
    brancherPort(2);
    qputenv("KORVANE_COM3", "/nonexistent");
    qputenv("KORVANE_COM4", "/nonexistent");

    sim::PortSimule port;
    BoitesOui boites;
    TFormMjKorvane f(nullptr, &port, &boites);
    f.show();
    f.minuterie().stop(); // the ticks below are driven by hand
    bool ok = ecrire(f, dossier, "etape1.png");
    for (const char* nom : {"etape2.png", "etape3.png", "etape4.png", "etape5.png"}) {
        cliquer(f, "ButtonSuivant");
        ok = ecrire(f, dossier, nom) && ok;
    }

    cliquer(f, "ButtonSuivant"); // Connect
    f.minuterie().stop();
    ok = ecrire(f, dossier, "etape6.png") && ok;
    tickerJusquaQuitter(f, 6, 20);
    // Verification: the type, then mode and serial number, then the version.
    for (int i = 0; i < 3 && f.etat().NumeroEtape == 7; ++i) {
        f.TimerGestionSerieTimer();
        QCoreApplication::sendPostedEvents(&f, TFormMjKorvane::typeNotification());
    }
    ok = ecrire(f, dossier, "etape7.png") && ok;
    tickerJusquaQuitter(f, 7, 10);
    // Programming: about two thirds of the records.
    for (int i = 0; i < 500 && f.etat().NumeroEtape == 8; ++i) {
        f.TimerGestionSerieTimer();
        QCoreApplication::sendPostedEvents(&f, TFormMjKorvane::typeNotification());
    }
    ok = ecrire(f, dossier, "etape8.png") && ok;
    tickerJusquaQuitter(f, 8, 2000);
    if (f.etat().NumeroEtape != 9) {
        std::fprintf(stderr, "korvane-render-screens: the update stopped at step %d\n",
                     f.etat().NumeroEtape);
        return 1;
    }
    ok = ecrire(f, dossier, "etape9.png") && ok;

    TFormAPropos apropos;
    apropos.ChangerLangue(f.indexLangue());
    apropos.show();
    ok = ecrire(apropos, dossier, "apropos.png") && ok;
    apropos.hide();
    return ok ? 0 : 1;
}
