// Decoding and classification of one record, reads kept inside the record's slot, and the
// listing of an image into the record table.

#include "image/Image.h"
#include "loader/ValeurHex.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace korvane;

namespace {

using Classe = ClasseEnregistrement;

// A record text in a slot of its own, zero-filled like the slots of the image.
struct Slot {
    explicit Slot(const std::string& ligne)
    {
        std::memcpy(octets, ligne.data(), std::min<std::size_t>(ligne.size(), LARGEUR_LIGNE));
    }
    char octets[LARGEUR_LIGNE]{};
};

struct CasDecodage {
    const char* nom;
    const char* ligne;
    std::int32_t nombreMots;
    std::int32_t adresseMot;
    std::int32_t type;
    Classe classe;
    std::vector<std::int32_t> mots;
    std::vector<std::int32_t> octets; // OctetDonnee(0), (1), ...
};

const CasDecodage casDecodage[] = {
    {"EndOfFile", ":00000001FF", 0, 0, 1, Classe::FinFichier, {}, {}},
    {"FirstRecordHeader",
     ":100060008A110A12FA288A110A1252298A110A12CE",
     8,
     48,
     0,
     Classe::MemoireProgramme,
     {0x118A, 0x120A, 0x28FA, 0x118A, 0x120A, 0x2952, 0x118A, 0x120A},
     {0x8A, 0x0A, 0xFA, 0x8A, 0x0A, 0x52, 0x8A, 0x0A}},
    // An odd count drops its last data byte.
    {"OddCountThree", ":030060003412567F", 1, 48, 0, Classe::MemoireProgramme, {0x1234}, {0x34}},
    {"WordBelowProgramMemory", ":02005E003412FF", 1, 47, 0, Classe::HorsZone, {0x1234}, {}},
    {"FirstProgramWord", ":020060003412FF", 1, 48, 0, Classe::MemoireProgramme, {0x1234}, {}},
    {"LastProgramWord", ":023FFE00FF3FFF", 1, 0x1FFF, 0, Classe::MemoireProgramme, {0x3FFF}, {}},
    {"OddByteAddressHalved", ":020061003412FF", 1, 48, 0, Classe::MemoireProgramme, {0x1234}, {}},
    {"ConfigurationArea", ":02400000FF3F80", 1, 0x2000, 0, Classe::HorsZone, {0x3FFF}, {}},
    {"BelowEeprom", ":0241FE00FF3FFF", 1, 0x20FF, 0, Classe::HorsZone, {0x3FFF}, {}},
    // EEPROM bytes are the low bytes of the words: positions 9-10 and 13-14.
    {"EepromTwoBytes",
     ":04420000AB12CD34FF",
     2,
     0x2100,
     0,
     Classe::Eeprom,
     {0x12AB, 0x34CD},
     {0xAB, 0xCD}},
    {"TopOfAddressSpace", ":02FFFE000100FF", 1, 0x7FFF, 0, Classe::Eeprom, {0x0001}, {0x01}},
    // The checksum is never read.
    {"WrongChecksum", ":020060003412AA", 1, 48, 0, Classe::MemoireProgramme, {0x1234}, {0x34}},
    {"Type02AsDataAtItsAddress",
     ":020060023412FF",
     1,
     48,
     2,
     Classe::MemoireProgramme,
     {0x1234},
     {}},
    {"Type02SegmentAddress", ":020000020000FC", 1, 0, 2, Classe::HorsZone, {0x0000}, {}},
    {"Type03AsData", ":020060033412FF", 1, 48, 3, Classe::MemoireProgramme, {0x1234}, {}},
    {"Type05AsData", ":024200053412FF", 1, 0x2100, 5, Classe::Eeprom, {0x1234}, {0x34}},
    {"Type04ExtendedAddress", ":020000040000FA", 1, 0, 4, Classe::AdresseEtendue, {0x0000}, {}},
    // Type 04 wins over the address.
    {"Type04AtProgramAddress", ":020060040001FF", 1, 48, 4, Classe::AdresseEtendue, {0x0100}, {}},
    {"Type01AtProgramAddress", ":00006001FF", 0, 48, 1, Classe::FinFichier, {}, {}},
};

void PrintTo(const CasDecodage& c, std::ostream* os)
{
    *os << c.ligne;
}

class Decodage : public ::testing::TestWithParam<CasDecodage> {};

TEST_P(Decodage, DecodesAndClassifies)
{
    const CasDecodage& c = GetParam();
    const Slot slot(c.ligne);
    const Enregistrement e = slot.octets;
    EXPECT_EQ(NombreMots(e), c.nombreMots);
    EXPECT_EQ(AdresseMot(e), c.adresseMot);
    EXPECT_EQ(TypeEnregistrement(e), c.type);
    EXPECT_EQ(ClasserEnregistrement(e), c.classe);
    for (std::size_t i = 0; i < c.mots.size(); ++i)
        EXPECT_EQ(MotDonnee(e, static_cast<std::int32_t>(i)), c.mots[i]) << "word " << i;
    for (std::size_t i = 0; i < c.octets.size(); ++i)
        EXPECT_EQ(OctetDonnee(e, static_cast<std::int32_t>(i)), c.octets[i]) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Enregistrements, Decodage, ::testing::ValuesIn(casDecodage),
                         [](const auto& info) { return std::string(info.param.nom); });

// Characters are not validated: a lowercase or other digit yields ValeurHex's value, and a
// garbage address that decodes negative is compared unsigned (so it is not program memory).
TEST(DecodageBrut, UnvalidatedCharactersFollowValeurHex)
{
    const Slot minuscules(":10006000aa110a12FA288A110A1252298A110A12CE");
    EXPECT_EQ(MotDonnee(minuscules.octets, 0), ValeurHex('1', '1') * 256 + 714);
    EXPECT_EQ(OctetDonnee(minuscules.octets, 0), 714);

    const Slot espaces(":02  0000341200");
    ASSERT_LT(AdresseMot(espaces.octets), 0);
    EXPECT_EQ(ClasserEnregistrement(espaces.octets), Classe::Eeprom);
}

// A slot placed against an inaccessible page: any read past the end of the slot (or before
// its start) faults instead of passing unnoticed.
class SlotGarde {
public:
    enum class Cote { Apres, Avant };

    SlotGarde(std::size_t octets, Cote cote)
    {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t pages = (octets + page_ - 1) / page_;
        taille_ = (pages + 1) * page_;
        void* m =
            mmap(nullptr, taille_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED)
            return;
        base_ = static_cast<char*>(m);
        if (cote == Cote::Apres) {
            mprotect(base_ + pages * page_, page_, PROT_NONE);
            debut_ = base_ + pages * page_ - octets;
        } else {
            mprotect(base_, page_, PROT_NONE);
            debut_ = base_ + page_;
        }
    }
    ~SlotGarde()
    {
        if (base_ != nullptr)
            munmap(base_, taille_);
    }
    SlotGarde(const SlotGarde&) = delete;
    SlotGarde& operator=(const SlotGarde&) = delete;

    char* debut() const { return debut_; }

private:
    std::size_t page_ = 0;
    std::size_t taille_ = 0;
    char* base_ = nullptr;
    char* debut_ = nullptr;
};

TEST(LectureDansLeSlot, DataPastTheSlotReadsAsNul)
{
    // A full slot with no NUL at all, as an arbitrary slot may be.
    SlotGarde garde(LARGEUR_LIGNE, SlotGarde::Cote::Apres);
    ASSERT_NE(garde.debut(), nullptr);
    char* slot = garde.debut();
    std::memset(slot, 'F', LARGEUR_LIGNE);

    const std::int32_t nul = ValeurHex(0, 0);
    // Word 11 reads positions 53..56: the low byte is "FF", the high byte lies past the slot.
    EXPECT_EQ(MotDonnee(slot, 11), nul * 256 + 0xFF);
    EXPECT_EQ(OctetDonnee(slot, 11), 0xFF);
    // Word 12 starts at position 57: nothing of it is in the slot.
    EXPECT_EQ(OctetDonnee(slot, 12), nul);
    for (std::int32_t i : {12, 13, 1000, INT_MAX / 4, INT_MAX}) {
        EXPECT_EQ(MotDonnee(slot, i), nul * 256 + nul) << "word " << i;
        EXPECT_EQ(OctetDonnee(slot, i), nul) << "word " << i;
    }
    EXPECT_EQ(NombreMots(slot), 0xFF / 2);
    EXPECT_EQ(ClasserEnregistrement(slot), Classe::Eeprom);
}

TEST(LectureDansLeSlot, NegativeWordIndexReadsAsNul)
{
    SlotGarde garde(LARGEUR_LIGNE, SlotGarde::Cote::Avant);
    ASSERT_NE(garde.debut(), nullptr);
    char* slot = garde.debut();
    std::memset(slot, 'A', LARGEUR_LIGNE);

    const std::int32_t nul = ValeurHex(0, 0);
    // Word -2 reads positions 1..4, inside the slot; word -3 reads -3..0, mostly before it.
    EXPECT_EQ(MotDonnee(slot, -2), 0xAAAA);
    EXPECT_EQ(MotDonnee(slot, -3), ValeurHex(0, 'A') * 256 + nul);
    for (std::int32_t i : {-4, -1000, INT_MIN / 4, INT_MIN}) {
        EXPECT_EQ(MotDonnee(slot, i), nul * 256 + nul) << "word " << i;
        EXPECT_EQ(OctetDonnee(slot, i), nul) << "word " << i;
    }
}

// Listing an image: references into the slots, up to the first slot whose first byte is NUL.
TEST(Listage, StopsAtTheFirstSlotStartingWithNul)
{
    const char image[][LARGEUR_LIGNE] = {":020060003412FF", ":00000001FF", "\0XYZ not a record",
                                         ":00000001FF", ""};
    TableEnregistrements_t table;
    const Enregistrement marque = "untouched";
    for (auto& entree : table)
        entree = marque;

    EXPECT_EQ(ChargerEnregistrements(table, image), 2);
    EXPECT_EQ(table[0], image[0]);
    EXPECT_EQ(table[1], image[1]);
    for (int i = 2; i < CAPACITE_ENREGISTREMENTS; ++i)
        ASSERT_EQ(table[i], marque) << "entry " << i;

    const char vide[][LARGEUR_LIGNE] = {"", ":00000001FF"};
    EXPECT_EQ(ChargerEnregistrements(table, vide), 0);
    EXPECT_EQ(table[0], image[0]);
}

TEST(Listage, NeverReadsPastTheTableCapacity)
{
    // CAPACITE_ENREGISTREMENTS non-empty slots and no end slot, right against a guard page.
    const std::size_t octets = std::size_t{CAPACITE_ENREGISTREMENTS} * LARGEUR_LIGNE;
    SlotGarde garde(octets, SlotGarde::Cote::Apres);
    ASSERT_NE(garde.debut(), nullptr);
    std::memset(garde.debut(), ':', octets);
    const auto* image = reinterpret_cast<const char(*)[LARGEUR_LIGNE]>(garde.debut());

    TableEnregistrements_t table{};
    EXPECT_EQ(ChargerEnregistrements(table, image), CAPACITE_ENREGISTREMENTS);
    EXPECT_EQ(table[0], garde.debut());
    EXPECT_EQ(table[CAPACITE_ENREGISTREMENTS - 1],
              garde.debut() + (CAPACITE_ENREGISTREMENTS - 1) * LARGEUR_LIGNE);
}

} // namespace
