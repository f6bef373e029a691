#pragma once

#include "image/Image.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace korvane::test {

// One Intel HEX line: `mots` are stored low byte first, as in the built-in image; the
// byte count is given apart so that a test can make it disagree with the words.
inline std::string LigneHex(int nombreOctets, int adresseOctet, int type,
                            const std::vector<std::uint16_t>& mots = {})
{
    std::vector<int> octets = {nombreOctets, (adresseOctet >> 8) & 0xFF, adresseOctet & 0xFF, type};
    for (std::uint16_t m : mots) {
        octets.push_back(m & 0xFF);
        octets.push_back(m >> 8);
    }
    int somme = 0;
    std::string ligne = ":";
    char hex[3];
    for (int o : octets) {
        std::snprintf(hex, sizeof hex, "%02X", o);
        ligne += hex;
        somme += o;
    }
    std::snprintf(hex, sizeof hex, "%02X", (-somme) & 0xFF);
    return ligne + hex;
}

inline std::string FinFichier()
{
    return ":00000001FF";
}

// An image in the built-in table's form: 55-byte slots, then an empty slot.
class ImageTest {
public:
    explicit ImageTest(const std::vector<std::string>& lignes)
        : m_slots(std::make_unique<char[][LARGEUR_LIGNE]>(lignes.size() + 1))
    {
        for (std::size_t i = 0; i < lignes.size(); ++i)
            std::strncpy(m_slots[i], lignes[i].c_str(), LARGEUR_LIGNE - 1);
    }
    const char (*slots() const)[LARGEUR_LIGNE] { return m_slots.get(); }

private:
    std::unique_ptr<char[][LARGEUR_LIGNE]> m_slots;
};

} // namespace korvane::test
