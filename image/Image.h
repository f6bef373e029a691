#pragma once

#include <cstdint>

namespace korvane {

// The built-in firmware image: Intel HEX lines in fixed 55-byte slots, each line
// NUL-terminated, ended by a slot whose first byte is NUL. Generated at build time from
// image/korvane-16.3.hex; constant data, usable from start-up.
inline constexpr int LARGEUR_LIGNE = 55;
inline constexpr int CAPACITE_ENREGISTREMENTS = 2000;
extern const char ImageMiseAJour[][LARGEUR_LIGNE];

// A reference to the first character of one record's slot.
using Enregistrement = const char*;
using TableEnregistrements_t = Enregistrement[CAPACITE_ENREGISTREMENTS];

// Stores a reference to slot 0, 1, ... of `image` in entries 0, 1, ... and stops at the
// first slot whose first byte is NUL (or at the table's capacity). Entries from the result
// on are left as they are. Returns the number of records. Copies no text.
std::int32_t ChargerEnregistrements(TableEnregistrements_t& table,
                                    const char (*image)[LARGEUR_LIGNE] = ImageMiseAJour);

// Decoding of one record text, read in place within its 55-byte slot (positions past the
// slot read as NUL). Characters are not validated: only the positions named are read.
std::int32_t NombreMots(Enregistrement e);                  // byte count / 2
std::int32_t AdresseMot(Enregistrement e);                  // load address / 2
std::int32_t TypeEnregistrement(Enregistrement e);          // record type
std::int32_t MotDonnee(Enregistrement e, std::int32_t i);   // data word i, low byte first
std::int32_t OctetDonnee(Enregistrement e, std::int32_t i); // low byte of word i

// Where a record's first word address puts it (ClasserEnregistrement).
inline constexpr std::int32_t ADRESSE_PROGRAMME_MIN = 48;
inline constexpr std::int32_t ADRESSE_PROGRAMME_MAX = 0x1FFF;
inline constexpr std::int32_t ADRESSE_EEPROM = 0x2100;

enum class ClasseEnregistrement {
    FinFichier,       // type 1
    AdresseEtendue,   // type 4: nothing to write
    MemoireProgramme, // 48 <= AdresseMot <= 0x1FFF
    Eeprom,           // AdresseMot >= 0x2100
    HorsZone,         // below 48, or 0x2000..0x20FF
};
ClasseEnregistrement ClasserEnregistrement(Enregistrement e);

} // namespace korvane
