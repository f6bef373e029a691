#pragma once

#include <QString>

class QWidget;

namespace korvane {

// The modal message boxes of the outcome handlers and of start-up. The window asks through
// this interface so that tests can answer in its place.
class BoitesMessage {
public:
    enum class Type { Erreur, Information };
    enum class Boutons { OuiNon, Ok };
    enum class Reponse { Oui, Non, Ok };

    virtual ~BoitesMessage() = default;

    // Shows the box modally and returns the button that closed it. A box closed any other
    // way (Escape, the frame) answers Non, or Ok when OK is its only button.
    virtual Reponse montrer(Type type, const QString& texte, Boutons boutons) = 0;
};

// The real boxes: QMessageBox titled "Error" or "Information", with the buttons "&Yes" and
// "&No" or the single button "OK".
class BoitesMessageQt : public BoitesMessage {
public:
    explicit BoitesMessageQt(QWidget* parent = nullptr) : m_parent(parent) {}
    Reponse montrer(Type type, const QString& texte, Boutons boutons) override;

private:
    QWidget* m_parent;
};

} // namespace korvane
