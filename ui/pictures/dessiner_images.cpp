// Draws the program's pictures and writes them into a folder:
//   korvane-dessin-images <folder>
// The build target korvane_redessiner_images runs it on ui/pictures (offscreen, no display
// needed). Everything is drawn from code so that the pictures can be made again; the
// committed files are what the program embeds.

#include "ui/pictures/Jpeg.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

using korvane::pictures::encoderJpeg;

namespace {

const QColor BLEU_NUIT(0x16, 0x2f, 0x5c);
const QColor ORANGE(0xe8, 0x7a, 0x1e);
const QColor GRIS(0x5a, 0x60, 0x68);
const QColor TRAIT(0x20, 0x20, 0x20);

QFont police(int pixels, bool gras, bool italique = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(gras);
    f.setItalic(italique);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

// The maker's emblem: a disc with a chevron, as on the device's front panel.
void dessinerEmbleme(QPainter& p, QPointF centre, qreal rayon)
{
    p.setPen(Qt::NoPen);
    p.setBrush(BLEU_NUIT);
    p.drawEllipse(centre, rayon, rayon);
    QPen arc(ORANGE, rayon * 0.14, Qt::SolidLine, Qt::RoundCap);
    p.setPen(arc);
    p.setBrush(Qt::NoBrush);
    const qreal r = rayon * 0.78;
    p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 200 * 16, 140 * 16);
    QPen chevron(Qt::white, rayon * 0.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(chevron);
    QPainterPath v;
    v.moveTo(centre + QPointF(-rayon * 0.45, -rayon * 0.4));
    v.lineTo(centre + QPointF(0, rayon * 0.42));
    v.lineTo(centre + QPointF(rayon * 0.45, -rayon * 0.4));
    p.drawPath(v);
}

QImage dessinerBanniere()
{
    QImage image(967, 111, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    dessinerEmbleme(p, QPointF(62, 53), 42);

    p.setPen(BLEU_NUIT);
    p.setFont(police(74, true));
    p.drawText(QRectF(122, 0, 520, 100), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Vantorel"));

    p.setPen(GRIS);
    p.setFont(police(22, false, true));
    p.drawText(QRectF(560, 0, 390, 100), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Détection de contrefaçons"));

    QLinearGradient bande(0, 0, 967, 0);
    bande.setColorAt(0.0, BLEU_NUIT);
    bande.setColorAt(1.0, ORANGE);
    p.fillRect(QRectF(0, 103, 967, 8), bande);
    return image;
}

QImage dessinerLogoGroupe()
{
    QImage image(344, 55, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Three stacked blocks.
    p.setPen(Qt::NoPen);
    const QColor teintes[] = {QColor(0x2e, 0x6b, 0x4f), QColor(0x4f, 0x94, 0x6d),
                              QColor(0x8c, 0xc0, 0x9a)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(teintes[i]);
        p.drawRoundedRect(QRectF(10 + i * 7, 8 + i * 13, 30, 11), 2, 2);
    }

    p.setPen(QColor(0x2e, 0x3a, 0x36));
    p.setFont(police(30, true));
    p.drawText(QRectF(62, 0, 282, 55), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Groupe Arvel"));
    return image;
}

// A nine-pin D connector seen from the front.
void dessinerConnecteurD(QPainter& p, QPointF centre, qreal largeur, bool broches)
{
    const qreal h = largeur * 0.42;
    QPainterPath d;
    d.moveTo(centre + QPointF(-largeur / 2, -h / 2));
    d.lineTo(centre + QPointF(largeur / 2, -h / 2));
    d.lineTo(centre + QPointF(largeur * 0.4, h / 2));
    d.lineTo(centre + QPointF(-largeur * 0.4, h / 2));
    d.closeSubpath();
    p.drawPath(d);
    if (!broches) {
        return;
    }
    const qreal pas = largeur * 0.16;
    for (int i = 0; i < 5; ++i) {
        p.drawEllipse(centre + QPointF((i - 2) * pas, -h * 0.18), 1.1, 1.1);
    }
    for (int i = 0; i < 4; ++i) {
        p.drawEllipse(centre + QPointF((i - 1.5) * pas, h * 0.2), 1.1, 1.1);
    }
}

QImage dessinerCablage()
{
    QImage image(362, 193, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPen trait(TRAIT, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    QPen fin(TRAIT, 1.0);
    p.setPen(trait);
    p.setBrush(Qt::NoBrush);

    // Left half (0 to 180): the Korvane with a banknote in its slot, its battery and the
    // device end of the cable.
    const QRectF boitier(14, 34, 104, 112);
    p.drawRoundedRect(boitier, 10, 10);
    p.drawLine(QPointF(30, 46), QPointF(102, 46)); // note slot
    p.setPen(fin);
    QPolygonF billet;
    billet << QPointF(36, 46) << QPointF(44, 12) << QPointF(104, 18) << QPointF(96, 46);
    p.drawPolygon(billet);
    p.drawEllipse(QPointF(70, 30), 9, 6);
    p.setPen(trait);
    p.drawRect(QRectF(28, 60, 58, 24)); // display
    p.setPen(fin);
    p.setFont(police(12, true));
    p.drawText(QRectF(28, 60, 58, 24), Qt::AlignCenter, QStringLiteral("OK"));
    p.setPen(trait);
    p.drawEllipse(QPointF(100, 66), 4, 4); // lamps
    p.drawEllipse(QPointF(100, 80), 4, 4);
    p.drawRoundedRect(QRectF(28, 96, 24, 12), 3, 3); // switch
    p.setFont(police(11, true));
    p.setPen(fin);
    p.drawText(QRectF(14, 118, 104, 18), Qt::AlignCenter, QStringLiteral("KORVANE"));
    p.setPen(trait);

    // Battery, with an arrow to its compartment under the device.
    const QRectF pile(34, 162, 52, 24);
    p.drawRoundedRect(pile, 3, 3);
    p.drawRect(QRectF(86, 166, 5, 6));
    p.drawRect(QRectF(86, 177, 5, 6));
    p.setPen(fin);
    p.setFont(police(11, true));
    p.drawText(pile, Qt::AlignCenter, QStringLiteral("9 V"));
    p.drawLine(QPointF(60, 160), QPointF(60, 150));
    p.drawLine(QPointF(60, 150), QPointF(56, 155));
    p.drawLine(QPointF(60, 150), QPointF(64, 155));
    p.setPen(trait);

    // Cable plug in the device's side, the cable leaving to the right.
    p.drawRect(QRectF(118, 86, 12, 16));
    p.drawRect(QRectF(130, 89, 10, 10));
    QPen cable(TRAIT, 3.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(cable);
    QPainterPath fil;
    fil.moveTo(140, 94);
    fil.cubicTo(175, 94, 178, 150, 210, 150);
    fil.cubicTo(232, 150, 226, 116, 244, 116);
    p.drawPath(fil);
    p.setPen(trait);

    // Right half (181 to 361): the back of the PC, its serial connector taking the cable.
    const QRectF tour(258, 8, 96, 178);
    p.drawRect(tour);
    p.drawRect(QRectF(264, 14, 84, 40)); // power supply
    p.drawEllipse(QPointF(290, 34), 14, 14);
    p.setPen(fin);
    for (int i = -10; i <= 10; i += 5) {
        p.drawLine(QPointF(290 + i, 22), QPointF(290 + i, 46));
    }
    p.drawRect(QRectF(318, 26, 22, 14)); // mains socket
    p.setPen(trait);
    p.drawRect(QRectF(264, 62, 24, 96)); // port panel
    p.setPen(fin);
    p.drawRect(QRectF(268, 70, 16, 8)); // keyboard and mouse
    p.drawRect(QRectF(268, 82, 16, 8));
    p.drawRect(QRectF(268, 132, 16, 6)); // printer
    p.setPen(trait);
    dessinerConnecteurD(p, QPointF(276, 116), 18, true); // serial port
    p.setPen(fin);
    p.setFont(police(9, true));
    p.drawText(QRectF(288, 108, 30, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("COM"));
    for (int i = 0; i < 5; ++i) { // slot covers
        p.drawRect(QRectF(296 + i * 10, 128, 6, 52));
    }
    p.setPen(trait);

    // The cable's PC end: a shell that fits over the connector.
    p.drawRect(QRectF(244, 108, 12, 16));
    p.drawLine(QPointF(256, 110), QPointF(264, 112));
    p.drawLine(QPointF(256, 122), QPointF(264, 120));
    return image;
}

QImage dessinerIcone()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(BLEU_NUIT);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    // A banknote with a tick.
    p.setBrush(QColor(0xe9, 0xf2, 0xe4));
    p.drawRect(QRectF(5, 9, 22, 14));
    p.setPen(QPen(QColor(0x2e, 0x6b, 0x4f), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 4, 4);
    p.setPen(QPen(ORANGE, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath coche;
    coche.moveTo(15, 22);
    coche.lineTo(20, 27);
    coche.lineTo(29, 14);
    p.drawPath(coche);
    return image;
}

bool ecrire(const QString& chemin, const QByteArray& donnees)
{
    QFile f(chemin);
    if (donnees.isEmpty() || !f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(donnees) != donnees.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(chemin));
        return false;
    }
    return true;
}

QByteArray png(const QImage& image)
{
    QByteArray donnees;
    QBuffer tampon(&donnees);
    tampon.open(QIODevice::WriteOnly);
    image.save(&tampon, "PNG", 9);
    return donnees;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvane-dessin-images <folder>\n");
        return 2;
    }
    const QDir dossier(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    ok &= ecrire(dossier.filePath(QStringLiteral("banniere.jpg")), encoderJpeg(dessinerBanniere()));
    ok &= ecrire(dossier.filePath(QStringLiteral("cablage.jpg")), encoderJpeg(dessinerCablage()));
    ok &= ecrire(dossier.filePath(QStringLiteral("logo_groupe.jpg")),
                 encoderJpeg(dessinerLogoGroupe()));
    ok &= ecrire(dossier.filePath(QStringLiteral("icone.png")), png(dessinerIcone()));
    return ok ? 0 : 1;
}
