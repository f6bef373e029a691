#include "image/Image.h"

#include "loader/ValeurHex.h"

namespace korvane {

namespace {

// Character at position p of a record's slot; anything outside the slot reads as NUL, so
// decoding an arbitrary slot never reads past its 55 bytes.
std::uint32_t Caractere(Enregistrement e, std::int64_t p)
{
    if (e == nullptr || p < 0 || p >= LARGEUR_LIGNE)
        return 0;
    return static_cast<unsigned char>(e[p]);
}

std::int32_t Paire(Enregistrement e, std::int64_t p)
{
    return ValeurHex(Caractere(e, p), Caractere(e, p + 1));
}

// Position of the first character of data word i (9 + 4i), kept wide so that any i is safe.
std::int64_t PositionMot(std::int32_t i)
{
    return 9 + 4 * static_cast<std::int64_t>(i);
}

} // namespace

std::int32_t ChargerEnregistrements(TableEnregistrements_t& table,
                                    const char (*image)[LARGEUR_LIGNE])
{
    std::int32_t n = 0;
    if (image == nullptr)
        return n;
    while (n < CAPACITE_ENREGISTREMENTS && image[n][0] != '\0') {
        table[n] = image[n];
        ++n;
    }
    return n;
}

std::int32_t NombreMots(Enregistrement e)
{
    return Paire(e, 1) / 2;
}

std::int32_t AdresseMot(Enregistrement e)
{
    return (Paire(e, 3) * 256 + Paire(e, 5)) / 2;
}

std::int32_t TypeEnregistrement(Enregistrement e)
{
    return Paire(e, 7);
}

std::int32_t MotDonnee(Enregistrement e, std::int32_t i)
{
    const std::int64_t p = PositionMot(i);
    return Paire(e, p + 2) * 256 + Paire(e, p);
}

std::int32_t OctetDonnee(Enregistrement e, std::int32_t i)
{
    return Paire(e, PositionMot(i));
}

ClasseEnregistrement ClasserEnregistrement(Enregistrement e)
{
    const std::int32_t type = TypeEnregistrement(e);
    if (type == 1)
        return ClasseEnregistrement::FinFichier;
    if (type == 4)
        return ClasseEnregistrement::AdresseEtendue;
    // Unsigned comparisons: only the first word address of the record counts.
    const auto adresse = static_cast<std::uint32_t>(AdresseMot(e));
    if (adresse >= static_cast<std::uint32_t>(ADRESSE_PROGRAMME_MIN) &&
        adresse <= static_cast<std::uint32_t>(ADRESSE_PROGRAMME_MAX))
        return ClasseEnregistrement::MemoireProgramme;
    if (adresse >= static_cast<std::uint32_t>(ADRESSE_EEPROM))
        return ClasseEnregistrement::Eeprom;
    return ClasseEnregistrement::HorsZone;
}

} // namespace korvane
