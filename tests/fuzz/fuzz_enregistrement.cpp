// Decoding of an arbitrary record text in its 55-byte slot, and the listing of a small image
// of arbitrary slots. The slots sit right before a page that cannot be read, so a read past
// a slot's end faults at once, even where the sanitizer's own guards would not see it.
//
// Input:
//   byte 0       bit 0 set: every text character becomes an uppercase hexadecimal digit
//                (a well-formed record); clear: the bytes are used as they are
//   byte 1       line length (0 to 54); the rest of the slot is NUL
//   next 54      the line's characters (missing ones are '0')
//   next byte    number of slots of the image to list (0 to 8), then 55 bytes for each

#include "PortFuzz.h"
#include "image/Image.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace korvane;

namespace {

// Two pages: the first readable, the second not. Kept for the whole run.
char* ZoneGardee()
{
    static char* zone = [] {
        const long page = sysconf(_SC_PAGESIZE);
        void* p = mmap(nullptr, std::size_t(2 * page), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED ||
            mprotect(static_cast<char*>(p) + page, std::size_t(page), PROT_NONE) != 0)
            std::abort();
        return static_cast<char*>(p);
    }();
    return zone;
}

// The last `taille` bytes before the unreadable page.
char* FinDeZone(std::size_t taille)
{
    return ZoneGardee() + sysconf(_SC_PAGESIZE) - static_cast<long>(taille);
}

bool EstHexMajuscule(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::int32_t Champ(const char* e, int pos, int longueur)
{
    return static_cast<std::int32_t>(
        std::stoul(std::string(e + pos, std::size_t(longueur)), nullptr, 16));
}

// The record classes, as the programming loop acts on them.
ClasseEnregistrement ClasseAttendue(Enregistrement e)
{
    const std::int32_t type = TypeEnregistrement(e);
    const auto adresse = static_cast<std::uint32_t>(AdresseMot(e));
    if (type == 1)
        return ClasseEnregistrement::FinFichier;
    if (type == 4)
        return ClasseEnregistrement::AdresseEtendue;
    if (adresse >= 48 && adresse < 0x2000)
        return ClasseEnregistrement::MemoireProgramme;
    if (adresse >= 0x2100)
        return ClasseEnregistrement::Eeprom;
    return ClasseEnregistrement::HorsZone;
}

void Decoder(Enregistrement e)
{
    const std::int32_t mots = NombreMots(e);
    const std::int32_t adresse = AdresseMot(e);
    const std::int32_t type = TypeEnregistrement(e);
    FUZZ_VERIFIER(ClasserEnregistrement(e) == ClasseAttendue(e));

    // Every index is safe to ask for, in range or not.
    const std::int32_t bornes[] = {INT_MIN, INT_MIN + 1, -1000, -3, -2, -1,  0,           1,
                                   10,      11,          12,    13, 14, 100, INT_MAX - 1, INT_MAX};
    for (std::int32_t i : bornes) {
        (void)MotDonnee(e, i);
        (void)OctetDonnee(e, i);
    }
    const std::int32_t fin = mots < 0 ? 4 : mots + 4;
    for (std::int32_t i = 0; i < fin; ++i) {
        (void)MotDonnee(e, i);
        (void)OctetDonnee(e, i);
    }

    // A well-formed header and data decode to the Intel HEX fields.
    bool entete = true;
    for (int p = 1; p < 9; ++p)
        entete = entete && EstHexMajuscule(e[p]);
    if (!entete)
        return;
    FUZZ_VERIFIER(mots == Champ(e, 1, 2) / 2 && mots >= 0 && mots <= 127);
    FUZZ_VERIFIER(adresse == Champ(e, 3, 4) / 2 && adresse >= 0 && adresse <= 0x7FFF);
    FUZZ_VERIFIER(type == Champ(e, 7, 2));
    for (std::int32_t i = 0; i < mots && 12 + 4 * i < LARGEUR_LIGNE; ++i) {
        bool donnee = true;
        for (int p = 9 + 4 * i; p <= 12 + 4 * i; ++p)
            donnee = donnee && EstHexMajuscule(e[p]);
        if (!donnee)
            continue;
        const std::int32_t bas = Champ(e, 9 + 4 * i, 2);
        const std::int32_t haut = Champ(e, 11 + 4 * i, 2);
        FUZZ_VERIFIER(MotDonnee(e, i) == haut * 256 + bas);
        FUZZ_VERIFIER(OctetDonnee(e, i) == bas);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::size_t pos = 0;
    auto octet = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };

    const bool hexa = (octet() & 1) != 0;
    const int longueur = octet() % LARGEUR_LIGNE;
    char* slot = FinDeZone(LARGEUR_LIGNE);
    std::memset(slot, 0, LARGEUR_LIGNE);
    for (int p = 0; p < LARGEUR_LIGNE - 1; ++p) {
        const std::uint8_t b = pos < size ? data[pos++] : '0';
        if (p < longueur)
            slot[p] = hexa ? (p == 0 ? ':' : "0123456789ABCDEF"[b & 0xF]) : char(b);
    }
    Decoder(slot);

    // A small image of arbitrary slots, ended by a slot whose first byte alone is NUL.
    const int nombre = octet() % 9;
    const std::size_t taille = std::size_t(nombre + 1) * LARGEUR_LIGNE;
    char* image = FinDeZone(taille);
    for (std::size_t i = 0; i < taille; ++i)
        image[i] = pos < size ? char(data[pos++]) : 'F';
    image[taille - LARGEUR_LIGNE] = '\0';

    static const char sentinelle = 0;
    TableEnregistrements_t table;
    for (auto& entree : table)
        entree = &sentinelle;
    const auto* slots = reinterpret_cast<const char(*)[LARGEUR_LIGNE]>(image);
    const std::int32_t n = ChargerEnregistrements(table, slots);

    std::int32_t attendu = 0;
    while (slots[attendu][0] != '\0')
        ++attendu;
    FUZZ_VERIFIER(n == attendu);
    for (std::int32_t i = 0; i < CAPACITE_ENREGISTREMENTS; ++i)
        FUZZ_VERIFIER(table[i] == (i < n ? slots[i] : &sentinelle));
    for (std::int32_t i = 0; i < n; ++i)
        Decoder(table[i]);
    return 0;
}
