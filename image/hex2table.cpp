// korvane-hex2table: turns the firmware's Intel HEX file into the C++ source that defines
// the constant table ImageMiseAJour (55-byte slots, one line per slot, an empty end slot).
//
//     korvane-hex2table INPUT.hex OUTPUT.cpp
//
// The updater trusts its image and never validates it at run time, so this tool refuses,
// with the line number and the reason, any image that breaks a rule the updater relies on.
// Exit status: 0 written, 1 image refused, 2 usage or file error. OUTPUT is written only
// when the whole image is valid.

#include "image/Image.h"
#include "loader/Classek27_v2.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t LongueurMax = korvane::LARGEUR_LIGNE - 1; // room for the NUL
constexpr std::size_t LongueurMin = 11; // ':', count, address, type, checksum

struct Refus {
    std::size_t ligne;
    std::string raison;
};

bool EstChiffreHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int Chiffre(char c)
{
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

int Octet(std::string_view s, std::size_t p)
{
    return Chiffre(s[p]) * 16 + Chiffre(s[p + 1]);
}

std::string Hex2(int v)
{
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v & 0xFF);
    return b;
}

std::string Montrer(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return std::string("'") + c + "'";
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", u);
    return b;
}

// Checks one record line (line ending already removed); returns the reason it is refused.
std::optional<std::string> VerifierLigne(std::string_view l)
{
    if (l.size() > LongueurMax)
        return "line is " + std::to_string(l.size()) + " characters long; a slot holds at most " +
               std::to_string(LongueurMax);
    if (l[0] != ':')
        return "record does not start with ':' (found " + Montrer(l[0]) + ")";
    for (std::size_t p = 1; p < l.size(); ++p) {
        if (EstChiffreHex(l[p]))
            continue;
        std::string r = "character " + Montrer(l[p]) + " at column " + std::to_string(p + 1) +
                        " is not an uppercase hexadecimal digit";
        if (l[p] >= 'a' && l[p] <= 'f')
            r += " (lowercase digits are not decoded)";
        return r;
    }
    if (l.size() < LongueurMin)
        return "line is " + std::to_string(l.size()) +
               " characters long; a record needs at least " + std::to_string(LongueurMin);
    const int nombre = Octet(l, 1);
    const std::size_t attendu = LongueurMin + 2 * static_cast<std::size_t>(nombre);
    if (l.size() != attendu)
        return "byte count " + Hex2(nombre) + " needs a line of " + std::to_string(attendu) +
               " characters, this one has " + std::to_string(l.size());
    int somme = 0;
    for (std::size_t p = 1; p + 2 < l.size(); p += 2)
        somme += Octet(l, p);
    const int lu = Octet(l, l.size() - 2);
    const int juste = (-somme) & 0xFF;
    if (lu != juste)
        return "checksum " + Hex2(lu) + " is wrong, expected " + Hex2(juste);
    // Records are sent as 16-bit words: an odd count or address would lose or shift a byte.
    if (nombre % 2 != 0)
        return "odd byte count " + Hex2(nombre) + ": the last data byte would be lost";
    if (Octet(l, 5) % 2 != 0)
        return "odd load address " + Hex2(Octet(l, 3)) + Hex2(Octet(l, 5)).substr(2) +
               ": records are written as whole words";
    // A record the programming loop would write must fit where the loader writes: program
    // words 48..7103 and EEPROM bytes 0..255. Otherwise programming stops halfway through.
    const int type = Octet(l, 7);
    const long mot = (Octet(l, 3) * 256L + Octet(l, 5)) / 2;
    const long dernier = mot + nombre / 2 - 1;
    if (type != 1 && type != 4 && nombre > 0) {
        if (mot >= korvane::ADRESSE_PROGRAMME_MIN && mot <= korvane::ADRESSE_PROGRAMME_MAX &&
            dernier > long{korvane::ADRESSE_MOT_MAX})
            return "program words up to " + std::to_string(dernier) +
                   ": the device takes program words 48 to 7103 only";
        if (mot >= korvane::ADRESSE_EEPROM && dernier - korvane::ADRESSE_EEPROM > 255)
            return "EEPROM bytes up to " + std::to_string(dernier - korvane::ADRESSE_EEPROM) +
                   ": the device's EEPROM ends at byte 255";
    }
    return std::nullopt;
}

bool EstFinFichier(std::string_view l)
{
    return Octet(l, 7) == 1;
}

// Splits the file into record lines (LF or CR LF endings) and checks every rule.
std::optional<Refus> Verifier(const std::string& texte, std::vector<std::string>& lignes)
{
    std::size_t numero = 0;
    std::size_t ligneVide = 0; // first empty line not yet followed by a record
    std::size_t ligneDerniere = 0;
    std::size_t debut = 0;
    while (debut < texte.size()) {
        std::size_t fin = texte.find('\n', debut);
        if (fin == std::string::npos)
            fin = texte.size();
        std::string_view l(texte.data() + debut, fin - debut);
        debut = fin + 1;
        ++numero;
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        if (l.empty()) {
            if (ligneVide == 0)
                ligneVide = numero;
            continue;
        }
        if (ligneVide != 0)
            return Refus{ligneVide, "empty line before the end of the image"};
        if (auto raison = VerifierLigne(l))
            return Refus{numero, *raison};
        if (!lignes.empty() && EstFinFichier(lignes.back()))
            return Refus{ligneDerniere, "end-of-file record before the last record"};
        if (lignes.size() == static_cast<std::size_t>(korvane::CAPACITE_ENREGISTREMENTS))
            return Refus{numero, "more than " + std::to_string(korvane::CAPACITE_ENREGISTREMENTS) +
                                     " records; the record table holds no more"};
        lignes.emplace_back(l);
        ligneDerniere = numero;
    }
    if (lignes.empty())
        return Refus{1, "the image holds no records"};
    if (!EstFinFichier(lignes.back()))
        return Refus{ligneDerniere, "the last record is not an end-of-file record (type 01)"};
    return std::nullopt;
}

std::string Source(const std::vector<std::string>& lignes, const std::string& nom)
{
    std::ostringstream s;
    s << "// Generated by korvane-hex2table from " << nom << ". Do not edit.\n"
      << "#include \"image/Image.h\"\n\n"
      << "namespace korvane {\n\n"
      << "// " << lignes.size() << " records and the empty end slot.\n"
      << "constinit const char ImageMiseAJour[][LARGEUR_LIGNE] = {\n";
    for (const auto& l : lignes)
        s << "    \"" << l << "\",\n";
    s << "    \"\",\n};\n\n"
      << "static_assert(sizeof(ImageMiseAJour) == " << lignes.size() + 1 << " * LARGEUR_LIGNE);\n\n"
      << "} // namespace korvane\n";
    return s.str();
}

std::string NomFichier(const std::string& chemin)
{
    const auto p = chemin.find_last_of('/');
    return p == std::string::npos ? chemin : chemin.substr(p + 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: korvane-hex2table INPUT.hex OUTPUT.cpp\n";
        return 2;
    }
    const std::string entree = argv[1];
    const std::string sortie = argv[2];

    std::ifstream f(entree, std::ios::binary);
    if (!f) {
        std::cerr << entree << ": error: cannot open the image\n";
        return 2;
    }
    const std::string texte{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (f.bad()) {
        std::cerr << entree << ": error: cannot read the image\n";
        return 2;
    }

    std::vector<std::string> lignes;
    if (auto refus = Verifier(texte, lignes)) {
        std::cerr << entree << ":" << refus->ligne << ": error: line " << refus->ligne << ": "
                  << refus->raison << "\n";
        return 1;
    }

    // Write beside the target and rename, so that a failed run leaves no half-written source.
    const std::string temporaire = sortie + ".tmp";
    {
        std::ofstream o(temporaire, std::ios::binary | std::ios::trunc);
        o << Source(lignes, NomFichier(entree));
        o.close();
        if (!o) {
            std::cerr << temporaire << ": error: cannot write the table\n";
            std::remove(temporaire.c_str());
            return 2;
        }
    }
    if (std::rename(temporaire.c_str(), sortie.c_str()) != 0) {
        std::cerr << sortie << ": error: cannot write the table\n";
        std::remove(temporaire.c_str());
        return 2;
    }
    return 0;
}
