// The compiled table of the built-in firmware image 16.3, checked through the same listing
// and decoding that the updater uses.

#include "image/Image.h"
#include "loader/ValeurHex.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace korvane;

namespace {

constexpr int NombreEnregistrements = 751;

class ImageIntegree : public ::testing::Test {
protected:
    void SetUp() override { n = ChargerEnregistrements(table); }

    TableEnregistrements_t table{};
    std::int32_t n = 0;
};

TEST_F(ImageIntegree, ListsEveryRecordInPlaceAndEndsWithAZeroSlot)
{
    ASSERT_EQ(n, NombreEnregistrements);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(table[i], ImageMiseAJour[i]) << "entry " << i;
    EXPECT_EQ(table[n], nullptr);

    const char* fin = ImageMiseAJour[NombreEnregistrements];
    for (int p = 0; p < LARGEUR_LIGNE; ++p)
        EXPECT_EQ(fin[p], '\0') << "end slot, byte " << p;
}

TEST_F(ImageIntegree, EverySlotHoldsOneUppercaseLineThenZeros)
{
    ASSERT_EQ(n, NombreEnregistrements);
    for (int i = 0; i < n; ++i) {
        const char* slot = ImageMiseAJour[i];
        const std::size_t longueur = strnlen(slot, LARGEUR_LIGNE);
        ASSERT_GE(longueur, 11u) << "record " << i;
        ASSERT_LE(longueur, 43u) << "record " << i;
        EXPECT_EQ(slot[0], ':') << "record " << i;
        for (std::size_t p = 1; p < longueur; ++p)
            ASSERT_TRUE((slot[p] >= '0' && slot[p] <= '9') || (slot[p] >= 'A' && slot[p] <= 'F'))
                << "record " << i << ", position " << p;
        for (std::size_t p = longueur; p < LARGEUR_LIGNE; ++p)
            ASSERT_EQ(slot[p], '\0') << "record " << i << ", position " << p;

        // The line matches its byte count and its checksum holds.
        const auto compte = static_cast<std::size_t>(ValeurHex(slot[1], slot[2]));
        ASSERT_EQ(longueur, 11 + 2 * compte) << "record " << i;
        int somme = 0;
        for (std::size_t p = 1; p < longueur; p += 2)
            somme += ValeurHex(slot[p], slot[p + 1]);
        EXPECT_EQ(somme & 0xFF, 0) << "checksum of record " << i;
    }
}

TEST_F(ImageIntegree, FirstAndLastRecords)
{
    ASSERT_EQ(n, NombreEnregistrements);
    const Enregistrement premier = table[0];
    EXPECT_STREQ(premier, ":100060008A110A12FA288A110A1252298A110A12CE");
    EXPECT_EQ(ClasserEnregistrement(premier), ClasseEnregistrement::MemoireProgramme);
    EXPECT_EQ(NombreMots(premier), 8);
    EXPECT_EQ(AdresseMot(premier), 48);
    const std::vector<std::int32_t> attendus{0x118A, 0x120A, 0x28FA, 0x118A,
                                             0x120A, 0x2952, 0x118A, 0x120A};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(MotDonnee(premier, i), attendus[i]) << "word " << i;

    const Enregistrement dernier = table[n - 1];
    EXPECT_STREQ(dernier, ":00000001FF");
    EXPECT_EQ(ClasserEnregistrement(dernier), ClasseEnregistrement::FinFichier);
    for (int i = 0; i < n - 1; ++i)
        ASSERT_EQ(TypeEnregistrement(table[i]), 0) << "record " << i;
}

TEST_F(ImageIntegree, ProgramWordsCoverExactlyTheFirmwareRanges)
{
    ASSERT_EQ(n, NombreEnregistrements);
    std::set<std::int32_t> couverts;
    std::map<std::int32_t, int> tailles; // words per record -> records
    std::int32_t finPrecedente = 0;
    for (int i = 0; i < n - 1; ++i) {
        const Enregistrement e = table[i];
        ASSERT_EQ(ClasserEnregistrement(e), ClasseEnregistrement::MemoireProgramme)
            << "record " << i;
        // Even counts and addresses: nothing is dropped by the halving.
        ASSERT_EQ(ValeurHex(e[1], e[2]) % 2, 0) << "record " << i;
        ASSERT_EQ(ValeurHex(e[5], e[6]) % 2, 0) << "record " << i;

        const std::int32_t adresse = AdresseMot(e);
        const std::int32_t mots = NombreMots(e);
        ASSERT_GE(adresse, finPrecedente) << "record " << i << " overlaps or goes back";
        finPrecedente = adresse + mots;
        ++tailles[mots];
        for (std::int32_t k = 0; k < mots; ++k) {
            const std::int32_t mot = MotDonnee(e, k);
            ASSERT_GE(mot, 0) << "record " << i;
            ASSERT_LE(mot, 0x3FFF) << "record " << i << ": not a 14-bit instruction word";
            couverts.insert(adresse + k);
        }
    }

    EXPECT_EQ(tailles,
              (std::map<std::int32_t, int>{{8, 740}, {7, 2}, {5, 1}, {4, 4}, {2, 2}, {1, 1}}));
    EXPECT_EQ(couverts.size(), 5960u);

    std::set<std::int32_t> attendus;
    for (std::int32_t a = 48; a <= 6963; ++a)
        attendus.insert(a);
    const std::pair<std::int32_t, std::int32_t> trous[] = {{0x077C, 0x07FF}, {0x0FEF, 0x102F},
                                                           {0x1048, 0x104F}, {0x107A, 0x11FF},
                                                           {0x176F, 0x17FF}, {0x18E8, 0x19BF}};
    for (auto [debut, fin] : trous)
        for (std::int32_t a = debut; a <= fin; ++a)
            attendus.erase(a);
    EXPECT_EQ(couverts, attendus);
}

} // namespace
