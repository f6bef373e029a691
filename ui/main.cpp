// korvane-wizard: installs firmware 16.3 into a Korvane. It takes no command line.

#include "ui/Boiteapropos.h"
#include "ui/BoitesMessage.h"
#include "ui/Tformmj.h"

#include <QApplication>
#include <exception>
#include <memory>

namespace {

void montrerErreur(const QString& message)
{
    korvane::BoitesMessageQt().montrer(korvane::BoitesMessage::Type::Erreur, message,
                                       korvane::BoitesMessage::Boutons::Ok);
}

// An exception escaping an event handler is shown in an error box and the loop goes on.
class ApplicationKorvane : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* destinataire, QEvent* evenement) override
    {
        try {
            return QApplication::notify(destinataire, evenement);
        } catch (const std::exception& e) {
            montrerErreur(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            montrerErreur(QString());
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    ApplicationKorvane application(argc, argv);

    std::unique_ptr<korvane::TFormMjKorvane> fenetre;
    std::unique_ptr<korvane::TFormAPropos> apropos;
    try {
        // The main window first: closing it ends the tool.
        fenetre = std::make_unique<korvane::TFormMjKorvane>();
        apropos = std::make_unique<korvane::TFormAPropos>();
        fenetre->definirAPropos(apropos.get());
    } catch (const std::exception& e) {
        montrerErreur(QString::fromLocal8Bit(e.what()));
        return 0;
    } catch (...) {
        montrerErreur(QString());
        return 0;
    }

    fenetre->show();
    application.exec();
    // The dialog goes before the window; the window's loader client then closes the port.
    apropos.reset();
    fenetre.reset();
    return 0;
}
