#include "ui/Boiteapropos.h"

#include "text/Catalogue.h"
#include "ui/Polices.h"
#include "ui/pictures/Images.h"
#include "ui_Boiteapropos.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace korvane {

namespace {

QString texte(CleAPropos cle, int langue)
{
    return QString::fromUtf8(TexteAPropos(cle, langue));
}

// A picture scaled down, never up, to fit its box with its proportions kept; the label
// centres it.
void afficherReduite(QLabel* cadre, const QImage& image)
{
    QPixmap pixmap = QPixmap::fromImage(image);
    if (pixmap.width() > cadre->width() || pixmap.height() > cadre->height()) {
        pixmap = pixmap.scaled(cadre->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    cadre->setPixmap(pixmap);
}

} // namespace

TFormAPropos::TFormAPropos(QWidget* owner, OuvreurLiens* ouvreur)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      m_ui(std::make_unique<Ui::TFormAPropos>())
{
    installerPolices();
    m_ui->setupUi(this);
    setFixedSize(446, 276);
    setWindowIcon(pictures::iconeFenetre());
    afficherReduite(m_ui->ImageAProposVantorel, pictures::banniere());
    afficherReduite(m_ui->Image1, pictures::logoGroupe());
    definirOuvreur(ouvreur);

    IndexLangue = 0;
    setWindowTitle(texte(TxtAProposTitre, 0));
    m_ui->ButtonOk->setText(texte(TxtAProposOk, 0));
    m_ui->LabelAdresse->setText(texte(TxtAProposAdresse, 0));
    m_ui->LabelCodeVille->setText(texte(TxtAProposCodeVille, 0));
    m_ui->LabelPays->setText(texte(TxtAProposPays, 0));
    m_ui->LabelTelephone->setText(texte(TxtAProposTelephone, 0));
    m_ui->LabelTelecopie->setText(texte(TxtAProposTelecopie, 0));
    m_ui->LabelNomSite->setText(texte(TxtAProposSite, 0));
    m_ui->LabelMel->setText(texte(TxtAProposMel, 0));
    m_ui->LabelMarqueDe->setText(texte(TxtAProposMarque, 0));
    ajusterLabels();

    connect(m_ui->ButtonOk, &QPushButton::clicked, this, &TFormAPropos::ButtonOkClick);
    connect(m_ui->BrowseInternet, &QAction::triggered, this, &TFormAPropos::BrowseInternetExecute);
    // Labels have no click of their own: only the two links listen for one.
    m_ui->LabelNomSite->installEventFilter(this);
    m_ui->LabelMel->installEventFilter(this);
}

TFormAPropos::~TFormAPropos() = default;

void TFormAPropos::ajusterLabels()
{
    // Sized to their texts; the two links keep a height of 16.
    for (QLabel* label : {m_ui->LabelAdresse, m_ui->LabelCodeVille, m_ui->LabelPays,
                          m_ui->LabelTelephone, m_ui->LabelTelecopie}) {
        label->adjustSize();
    }
    for (QLabel* label : {m_ui->LabelNomSite, m_ui->LabelMel}) {
        label->adjustSize();
        label->resize(label->width(), 16);
    }
}

void TFormAPropos::definirOuvreur(OuvreurLiens* ouvreur)
{
    m_ouvreur = ouvreur != nullptr ? ouvreur : &m_ouvreurBureau;
}

void TFormAPropos::ChangerLangue(int index)
{
    if (index == IndexLangue) {
        return;
    }
    IndexLangue = index;
    setWindowTitle(texte(TxtAProposTitre, index));
    m_ui->ButtonOk->setText(texte(TxtAProposOk, index));
}

void TFormAPropos::ButtonOkClick()
{
    accept();
}

void TFormAPropos::LabelNomSiteClick()
{
    m_ui->BrowseInternet->setData(QString::fromUtf8(UrlSite));
    m_ui->BrowseInternet->trigger();
}

void TFormAPropos::LabelMelClick()
{
    m_ui->BrowseInternet->setData(QString::fromUtf8(UrlMel));
    m_ui->BrowseInternet->trigger();
}

void TFormAPropos::BrowseInternetExecute()
{
    m_ouvreur->ouvrir(m_ui->BrowseInternet->data().toString());
}

bool TFormAPropos::eventFilter(QObject* objet, QEvent* evenement)
{
    const bool lien = objet == m_ui->LabelNomSite || objet == m_ui->LabelMel;
    if (!lien) {
        return QDialog::eventFilter(objet, evenement);
    }
    // A click is a press and a release of the left button on the same label.
    if (evenement->type() == QEvent::MouseButtonPress) {
        const auto* souris = static_cast<QMouseEvent*>(evenement);
        m_labelPresse = souris->button() == Qt::LeftButton ? objet : nullptr;
    } else if (evenement->type() == QEvent::MouseButtonRelease) {
        const auto* souris = static_cast<QMouseEvent*>(evenement);
        const bool clic =
            souris->button() == Qt::LeftButton && m_labelPresse == objet &&
            static_cast<QWidget*>(objet)->rect().contains(souris->position().toPoint());
        m_labelPresse = nullptr;
        if (clic) {
            if (objet == m_ui->LabelNomSite) {
                LabelNomSiteClick();
            } else {
                LabelMelClick();
            }
            return true;
        }
    }
    return QDialog::eventFilter(objet, evenement);
}

void TFormAPropos::showEvent(QShowEvent* evenement)
{
    QDialog::showEvent(evenement);
    // Centred on the desktop, not over the main window.
    QScreen* ecran = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (ecran != nullptr) {
        QRect cadre = frameGeometry();
        cadre.moveCenter(ecran->availableGeometry().center());
        move(cadre.topLeft());
    }
}

} // namespace korvane
