#include "ui/pictures/Images.h"

#include "ui/pictures/Jpeg.h"

#include <QFile>
#include <QPixmap>

// The resources of a static library are registered by hand, outside any namespace.
static void enregistrerImages()
{
    static const bool fait = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    (void)fait;
}

namespace korvane::pictures {

namespace {

QByteArray lire(const char* nom)
{
    enregistrerImages();
    QFile fichier(QStringLiteral(":/korvane/pictures/") + QLatin1String(nom));
    if (!fichier.open(QIODevice::ReadOnly)) {
        return {};
    }
    return fichier.readAll();
}

} // namespace

QByteArray donneesBanniere()
{
    return lire("banniere.jpg");
}

QByteArray donneesCablage()
{
    return lire("cablage.jpg");
}

QByteArray donneesLogoGroupe()
{
    return lire("logo_groupe.jpg");
}

QByteArray donneesIcone()
{
    return lire("icone.png");
}

QImage banniere()
{
    static const QImage image = decoderJpeg(donneesBanniere());
    return image;
}

QImage cablage()
{
    static const QImage image = decoderJpeg(donneesCablage());
    return image;
}

QImage logoGroupe()
{
    static const QImage image = decoderJpeg(donneesLogoGroupe());
    return image;
}

QImage icone()
{
    // PNG keeps the icon's transparency; Qt reads it without a plugin.
    static const QImage image = QImage::fromData(donneesIcone(), "PNG");
    return image;
}

QIcon iconeFenetre()
{
    return QIcon(QPixmap::fromImage(icone()));
}

} // namespace korvane::pictures
