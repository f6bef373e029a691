#include "text/Catalogue.h"

#include <clocale>
#include <cstring>
#include <gtest/gtest.h>
#include <locale.h>
#include <optional>
#include <string>
#include <vector>

using namespace korvane;

namespace {

struct Cellule {
    std::string nom;
    const char* texte;
};

// Every cell of both catalogues in both languages, plus the two link targets.
std::vector<Cellule> toutesLesCellules()
{
    std::vector<Cellule> cellules;
    for (int langue = 0; langue < NOMBRE_LANGUES; ++langue) {
        for (int cle = 0; cle < NOMBRE_TEXTES; ++cle) {
            cellules.push_back({"texte " + std::to_string(cle) + "/" + std::to_string(langue),
                                Texte(static_cast<CleTexte>(cle), langue)});
        }
        for (int cle = 0; cle < NOMBRE_TEXTES_APROPOS; ++cle) {
            cellules.push_back({"apropos " + std::to_string(cle) + "/" + std::to_string(langue),
                                TexteAPropos(static_cast<CleAPropos>(cle), langue)});
        }
    }
    cellules.push_back({"UrlSite", UrlSite});
    cellules.push_back({"UrlMel", UrlMel});
    return cellules;
}

// Decodes UTF-8 into code points; nullopt on a malformed sequence.
std::optional<std::vector<char32_t>> decoderUtf8(const std::string& s)
{
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        int suite = 0;
        char32_t point = 0;
        if (c < 0x80) {
            point = c;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            suite = 1;
            point = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            suite = 2;
            point = c & 0x0F;
        } else {
            return std::nullopt; // no text needs more than three bytes
        }
        if (i + suite >= s.size()) {
            return std::nullopt;
        }
        for (int k = 1; k <= suite; ++k) {
            const auto o = static_cast<unsigned char>(s[i + k]);
            if ((o & 0xC0) != 0x80) {
                return std::nullopt;
            }
            point = (point << 6) | (o & 0x3F);
        }
        i += 1 + suite;
        points.push_back(point);
    }
    return points;
}

// Code page 1252 byte of each character the texts may use outside ASCII.
int versCp1252(char32_t point)
{
    switch (point) {
    case U'à':
        return 0xE0;
    case U'é':
        return 0xE9;
    case U'è':
        return 0xE8;
    case U'ç':
        return 0xE7;
    case U'°':
        return 0xB0;
    default:
        return point < 0x80 ? static_cast<int>(point) : -1;
    }
}

} // namespace

TEST(Catalogue, EveryTextConvertsToCodePage1252WithOnlyItsFiveAccentedCharacters)
{
    std::string nonAsciiVus;
    for (const auto& [nom, texte] : toutesLesCellules()) {
        ASSERT_NE(texte, nullptr) << nom;
        const auto points = decoderUtf8(texte);
        ASSERT_TRUE(points.has_value()) << nom << " is not valid UTF-8";
        for (char32_t p : *points) {
            EXPECT_NE(versCp1252(p), -1) << nom << " holds U+" << std::hex << unsigned(p);
            EXPECT_NE(p, U'\r') << nom;
            EXPECT_NE(p, U'\t') << nom;
            EXPECT_NE(p, U'\0') << nom;
        }
    }
}

TEST(Catalogue, BlanksLineFeedsAndLetterCaseAreExact)
{
    struct Cas {
        CleTexte cle;
        int langue;
        const char* attendu;
    };
    const Cas cas[] = {
        {TxtTitreFenetre, 1, "Update of Korvane "},
        {TxtTitreLancement, 1, "Checking and launching of the update "},
        {TxtEchecConnexion, 0,
         "Echec à la connexion :\n   - Soit le Korvane n'a pas été connecté à l'ordinateur.\n"
         "  - Soit le Korvane n'a pas été mis en marche. \n  - Soit le port série sélectionné ne "
         "correspond pas au port connecté.\n\n  Dans ce dernier cas, sélectionner un autre port "
         "série dans la liste.\n"},
        {TxtVersionIncompatible, 0,
         "    Cette mise à jour n'est pas pour cette version du Korvane.\nVeuillez contacter "
         "votre revendeur ou vantorel muni du numéro de série de votre Korvane.\n\nVoulez vous "
         "faire la mise à jour sur un autre Korvane ?"},
        {TxtNumeroSerieInvalide, 0,
         "Le numéro de série de l'appareil n'est pas valide.\n\nContacter notre service "
         "technique (tél. : +00 (0)000 00 00 00.\n\nVoulez-vous faire la mise à jour sur un "
         "autre Korvane ?"},
        {TxtProblemeTransmission, 0,
         "Un Problème de transmission s'est produit.\n\nPour essayer une nouvelle fois, vous "
         "devez d'abord : \n   Déconnecter puis reconnecter la pile et faire une nouvelle "
         "tentative.\n\nVoulez vous essayer de nouveau ?"},
        {TxtAutreAppareil, 0, "Voulez vous faire la mise à jour sur un autre korvane ?"},
        {TxtPlusRecente, 0,
         "Votre Korvane à une mise à jour plus récente.\n\nVoulez vous faire la mise à jour sur "
         "un autre Korvane ?"},
        {TxtEtapeSur, 1, "Step n° %i of %i"},
        {TxtPrecedent, 0, "&Précédent"},
        {TxtQuitter, 1, "E&xit"},
    };
    for (const auto& c : cas) {
        EXPECT_STREQ(Texte(c.cle, c.langue), c.attendu) << "key " << c.cle << "/" << c.langue;
    }
}

TEST(Catalogue, AboutRowsAndLinkTargetsAgree)
{
    EXPECT_STREQ(TexteAPropos(TxtAProposTitre, 0), "A propos de la mise à jour");
    EXPECT_STREQ(TexteAPropos(TxtAProposTitre, 1), "About update");
    EXPECT_STREQ(TexteAPropos(TxtAProposOk, 0), "&Ok");
    EXPECT_STREQ(TexteAPropos(TxtAProposOk, 1), "&Ok");
    EXPECT_STREQ(TexteAPropos(TxtAProposMarque, 0), "Une marque de");

    // Label words and the number after them.
    struct Prefixe {
        CleAPropos cle;
        const char* francais;
        const char* anglais;
    };
    const Prefixe prefixes[] = {
        {TxtAProposTelephone, "Tél : ", "Phone : "},
        {TxtAProposTelecopie, "Télécopie  : ", "Fax : "},
        {TxtAProposSite, "Site : ", "Site : "},
        {TxtAProposMel, "Mèl : ", "Mail : "},
    };
    for (const auto& p : prefixes) {
        const std::string fr = TexteAPropos(p.cle, 0);
        const std::string en = TexteAPropos(p.cle, 1);
        ASSERT_EQ(fr.rfind(p.francais, 0), 0u) << fr;
        ASSERT_EQ(en.rfind(p.anglais, 0), 0u) << en;
        const std::string valeur = fr.substr(std::strlen(p.francais));
        EXPECT_FALSE(valeur.empty()) << fr;
        EXPECT_EQ(en.substr(std::strlen(p.anglais)), valeur) << "same number or address";
    }
    for (CleAPropos cle : {TxtAProposAdresse, TxtAProposCodeVille, TxtAProposSite}) {
        EXPECT_STRNE(TexteAPropos(cle, 0), "");
        EXPECT_STREQ(TexteAPropos(cle, 0), TexteAPropos(cle, 1));
    }

    // The links open exactly what the labels show.
    EXPECT_EQ(std::string("Site : ") + UrlSite, TexteAPropos(TxtAProposSite, 0));
    EXPECT_EQ(std::string("mailto: ") + (TexteAPropos(TxtAProposMel, 0) + std::strlen("Mèl : ")),
              UrlMel);
    // Contact details stay on the domain reserved for examples.
    EXPECT_NE(std::string(UrlSite).find(".example"), std::string::npos);
    EXPECT_NE(std::string(UrlMel).find("@vantorel.example"), std::string::npos);
}

TEST(Catalogue, EnglishCellsAreEmptyWithoutFallback)
{
    const CleTexte videsEnAnglais[] = {
        TxtVersionMiseAJour,
        TxtAccueil1,
        TxtAccueil2,
        TxtAccueil3,
        TxtAccueil4,
        TxtLancement1,
        TxtLancement2,
        TxtLancement3,
        TxtLancement4,
        TxtMettreEnMarche,
        TxtTempsRestant,
        TxtTypeCorrect,
        TxtNumeroSerie,
        TxtVersionAcceptee,
        TxtPreparationTransmission,
        TxtAvancement,
        TxtTransmission,
        TxtOui,
        TxtNon,
        TxtAutreAppareil,
        TxtEchecConnexion,
        TxtPasUnKorvane,
        TxtVersionIncompatible,
        TxtNumeroSerieInvalide,
        TxtDejaAJour,
        TxtPlusRecente,
        TxtProblemeTransmission,
    };
    for (CleTexte cle : videsEnAnglais) {
        EXPECT_STREQ(Texte(cle, 1), "") << "key " << cle;
    }
    EXPECT_STREQ(Texte(TxtVersionAcceptee, 0), "");
    EXPECT_STREQ(TexteAPropos(TxtAProposMarque, 1), "");

    // Every other cell holds a text.
    for (int cle = 0; cle < NOMBRE_TEXTES; ++cle) {
        if (cle != TxtVersionAcceptee) {
            EXPECT_STRNE(Texte(static_cast<CleTexte>(cle), 0), "") << "key " << cle;
        }
    }
    EXPECT_STREQ(Texte(TxtTitreReussite, 1), "Reussi Programming");
}

TEST(Catalogue, OutOfRangeLookupsGiveAnEmptyText)
{
    const int langues[] = {-1, 2, 1000};
    for (int langue : langues) {
        EXPECT_STREQ(Texte(TxtTitreFenetre, langue), "");
        EXPECT_STREQ(TexteAPropos(TxtAProposTitre, langue), "");
        EXPECT_EQ(FormaterEtapeSur(langue, 1, 9), "");
    }
    EXPECT_STREQ(Texte(static_cast<CleTexte>(-1), 0), "");
    EXPECT_STREQ(Texte(NOMBRE_TEXTES, 0), "");
    EXPECT_STREQ(TexteAPropos(static_cast<CleAPropos>(-1), 0), "");
    EXPECT_STREQ(TexteAPropos(NOMBRE_TEXTES_APROPOS, 1), "");
}

// The formats, under the "C" locale and under a French one whose decimal point is ','.
class Formats : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        avant_ = std::setlocale(LC_ALL, nullptr);
        ASSERT_NE(std::setlocale(LC_ALL, GetParam()), nullptr)
            << GetParam() << " is missing: run scripts/install-deps.sh";
    }
    void TearDown() override { std::setlocale(LC_ALL, avant_.c_str()); }

private:
    std::string avant_;
};

TEST_P(Formats, FillWithADecimalPoint)
{
    struct Cas {
        std::string obtenu;
        std::string attendu;
    };
    const Cas cas[] = {
        {FormaterEtapeSur(0, 1, 9), "Etape n° 1 sur 9"},
        {FormaterEtapeSur(0, 9, 9), "Etape n° 9 sur 9"},
        {FormaterEtapeSur(1, 4, 9), "Step n° 4 of 9"},
        {FormaterVersion(0, 16, 3), "Mise à jour version 16.3"},
        {FormaterTempsRestant(0, 30.0 - 1.5 * 0),
         "Le temps restant pour allumer votre Korvane est de 30.0 s"},
        {FormaterTempsRestant(0, 30.0 - 1.5 * 20),
         "Le temps restant pour allumer votre Korvane est de 0.0 s"},
        {FormaterTempsRestant(0, 30.0 - 1.5 * 7),
         "Le temps restant pour allumer votre Korvane est de 19.5 s"},
        {FormaterNumeroSerie(0, 612345678u),
         "Le numéro de série de l'appareil est le : 0612345678"},
        {FormaterNumeroSerie(0, 0u), "Le numéro de série de l'appareil est le : 0000000000"},
        {FormaterNumeroSerie(0, 4294967295u),
         "Le numéro de série de l'appareil est le : 4294967295"},
        {FormaterAvancement(0, 12.345), "Avancement de la mise à jour : 12.3 %"},
        {FormaterAvancement(0, 0.0), "Avancement de la mise à jour : 0.0 %"},
        {FormaterAvancement(0, 750.0 / 750.0 * 100.0), "Avancement de la mise à jour : 100.0 %"},
        // Empty English formats stay empty.
        {FormaterVersion(1, 16, 3), ""},
        {FormaterTempsRestant(1, 30.0), ""},
        {FormaterNumeroSerie(1, 612345678u), ""},
        {FormaterAvancement(1, 12.345), ""},
    };
    for (const auto& c : cas) {
        EXPECT_EQ(c.obtenu, c.attendu);
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, Formats, ::testing::Values("C", "fr_FR.UTF-8"),
                         [](const auto& info) {
                             return std::string(info.param[0] == 'C' ? "C" : "French");
                         });

TEST(Formats, LeaveTheThreadsOwnLocaleInPlace)
{
    const locale_t francais = newlocale(LC_ALL_MASK, "fr_FR.UTF-8", static_cast<locale_t>(nullptr));
    ASSERT_NE(francais, static_cast<locale_t>(nullptr)) << "run scripts/install-deps.sh";
    const locale_t avant = uselocale(francais);
    ASSERT_STREQ(localeconv()->decimal_point, ",");

    EXPECT_EQ(FormaterAvancement(0, 50.0), "Avancement de la mise à jour : 50.0 %");
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), francais);
    EXPECT_STREQ(localeconv()->decimal_point, ",");

    uselocale(avant);
    freelocale(francais);
}
