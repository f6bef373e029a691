#include "ui/BoitesMessage.h"

#include <QMessageBox>
#include <QPushButton>

namespace korvane {

BoitesMessage::Reponse BoitesMessageQt::montrer(Type type, const QString& texte, Boutons boutons)
{
    const bool erreur = type == Type::Erreur;
    QMessageBox boite(erreur ? QMessageBox::Critical : QMessageBox::Information,
                      erreur ? QStringLiteral("Error") : QStringLiteral("Information"), texte,
                      QMessageBox::NoButton, m_parent);
    boite.setTextFormat(Qt::PlainText);
    if (boutons == Boutons::Ok) {
        QPushButton* ok = boite.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        boite.setDefaultButton(ok);
        boite.setEscapeButton(ok);
        boite.exec();
        return Reponse::Ok;
    }
    QPushButton* oui = boite.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* non = boite.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    boite.setDefaultButton(oui);
    boite.setEscapeButton(non);
    boite.exec();
    return boite.clickedButton() == oui ? Reponse::Oui : Reponse::Non;
}

} // namespace korvane
