#pragma once

#include "ui/OuvreurLiens.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TFormAPropos;
}

namespace korvane {

// The About dialog: the maker's logo, its owner's logo, the contact details and two links,
// one to the web site and one to the support mail address. One instance is built at
// start-up and shown modally again and again; its texts carry over between showings.
class TFormAPropos : public QDialog {
    Q_OBJECT

public:
    // `ouvreur` receives the links; without it, the desktop's opener. It must outlive the
    // dialog.
    explicit TFormAPropos(QWidget* owner = nullptr, OuvreurLiens* ouvreur = nullptr);
    ~TFormAPropos() override;

    // Shows the caption and the OK button in language `index` (0 French, 1 English). The
    // labels keep the French texts the constructor gave them. Same index: nothing changes.
    void ChangerLangue(int index);
    int indexLangue() const { return IndexLangue; }

    void definirOuvreur(OuvreurLiens* ouvreur);

    // Click handlers.
    void ButtonOkClick();
    void LabelNomSiteClick();
    void LabelMelClick();

protected:
    bool eventFilter(QObject* objet, QEvent* evenement) override;
    void showEvent(QShowEvent* evenement) override;

private:
    void BrowseInternetExecute();
    void ajusterLabels();

    std::unique_ptr<Ui::TFormAPropos> m_ui;
    OuvreurLiensBureau m_ouvreurBureau;
    OuvreurLiens* m_ouvreur = &m_ouvreurBureau;
    QObject* m_labelPresse = nullptr; // the link label the left button went down on
    int IndexLangue = 0;
};

} // namespace korvane
