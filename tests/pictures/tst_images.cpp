#include "ui/pictures/Images.h"
#include "ui/pictures/Jpeg.h"

#include <QColor>
#include <QPainter>
#include <functional>
#include <gtest/gtest.h>

using namespace korvane::pictures;

namespace {

bool estJpeg(const QByteArray& d)
{
    return d.size() > 4 && static_cast<unsigned char>(d[0]) == 0xFF &&
           static_cast<unsigned char>(d[1]) == 0xD8;
}

// Pixels clearly darker than the white paper, in columns [debut, fin).
int pixelsSombres(const QImage& image, int debut, int fin)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = debut; x < fin; ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                ++n;
            }
        }
    }
    return n;
}

// Offset of the height field of the first start-of-frame segment.
qsizetype champHauteur(const QByteArray& d)
{
    for (qsizetype i = 2; i + 9 < d.size(); ++i) {
        const auto a = static_cast<unsigned char>(d[i]);
        const auto b = static_cast<unsigned char>(d[i + 1]);
        if (a == 0xFF && (b == 0xC0 || b == 0xC2)) {
            return i + 5;
        }
    }
    return -1;
}

} // namespace

TEST(Images, EachEmbeddedJpegDecodesToItsExactSize)
{
    struct Cas {
        const char* nom;
        std::function<QByteArray()> donnees;
        std::function<QImage()> image;
        QSize taille;
    };
    const Cas cas[] = {
        {"banner", donneesBanniere, banniere, QSize(967, 111)},
        {"cabling", donneesCablage, cablage, QSize(362, 193)},
        {"group logo", donneesLogoGroupe, logoGroupe, QSize(344, 55)},
    };
    for (const auto& c : cas) {
        const QByteArray d = c.donnees();
        ASSERT_TRUE(estJpeg(d)) << c.nom;
        const QImage decodee = decoderJpeg(d);
        ASSERT_FALSE(decodee.isNull()) << c.nom;
        EXPECT_EQ(decodee.size(), c.taille) << c.nom;
        EXPECT_EQ(c.image().size(), c.taille) << c.nom;
        // A drawing, not a blank sheet.
        EXPECT_GT(pixelsSombres(decodee, 0, decodee.width()), 200) << c.nom;
    }
}

TEST(Images, CablingShowsTheDeviceOnTheLeftAndThePcOnTheRight)
{
    const QImage image = cablage();
    ASSERT_EQ(image.size(), QSize(362, 193));
    // Step 2 shows only the left 181 columns, step 3 the whole drawing: both halves must
    // hold a drawing, and the cable must run across the cut.
    EXPECT_GT(pixelsSombres(image, 0, 181), 1000);
    EXPECT_GT(pixelsSombres(image, 181, 362), 1000);
    EXPECT_GT(pixelsSombres(image, 178, 184), 0);
}

TEST(Images, IconIs32By32WithTransparentCorners)
{
    EXPECT_EQ(donneesIcone().left(4), QByteArray("\x89PNG", 4));
    const QImage image = icone();
    ASSERT_EQ(image.size(), QSize(32, 32));
    ASSERT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(31, 31)), 0);
    EXPECT_EQ(qAlpha(image.pixel(16, 16)), 255);
}

TEST(Jpeg, EncodedPicturesComeBackWithTheirSizeAndColours)
{
    QImage source(50, 30, QImage::Format_RGB32);
    source.fill(Qt::white);
    {
        QPainter p(&source);
        p.fillRect(0, 0, 25, 30, QColor(200, 30, 40));
        p.fillRect(25, 0, 25, 15, QColor(20, 40, 180));
    }
    const QImage retour = decoderJpeg(encoderJpeg(source, 95));
    ASSERT_EQ(retour.size(), source.size());
    const QPoint points[] = {{5, 5}, {40, 5}, {40, 25}};
    for (QPoint pt : points) {
        const QColor a = source.pixelColor(pt);
        const QColor b = retour.pixelColor(pt);
        EXPECT_NEAR(a.red(), b.red(), 12);
        EXPECT_NEAR(a.green(), b.green(), 12);
        EXPECT_NEAR(a.blue(), b.blue(), 12);
    }
    EXPECT_TRUE(encoderJpeg(QImage()).isEmpty());
}

TEST(Jpeg, DamagedDataGivesANullImage)
{
    const QByteArray bon = donneesCablage();
    ASSERT_FALSE(decoderJpeg(bon).isNull());

    QByteArray geant = bon;
    QByteArray vide = bon;
    const qsizetype h = champHauteur(bon);
    ASSERT_GT(h, 0);
    geant[h] = geant[h + 1] = geant[h + 2] = geant[h + 3] = '\xFF'; // 65535 x 65535
    vide[h] = vide[h + 1] = '\0';                                   // height 0

    QByteArray brouille = bon; // entropy-coded data overwritten with markers
    for (qsizetype i = bon.size() / 2; i < bon.size() / 2 + 64; ++i) {
        brouille[i] = '\xFF';
    }

    struct Cas {
        const char* nom;
        QByteArray donnees;
    };
    const Cas cas[] = {
        {"empty", QByteArray()},
        {"text", QByteArray("not a picture at all")},
        {"start marker only", bon.left(2)},
        {"headers only", bon.left(600)},
        {"cut in half", bon.left(bon.size() / 2)},
        {"last bytes missing", bon.left(bon.size() - 2)},
        {"huge size", geant},
        {"zero height", vide},
        {"scrambled scan", brouille},
        {"PNG", donneesIcone()},
    };
    for (const auto& c : cas) {
        EXPECT_TRUE(decoderJpeg(c.donnees).isNull()) << c.nom;
    }
}
