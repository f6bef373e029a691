// A whole update by korvane-cli on korvane-sim, with the real intervals (about 78 s): the
// device's memory afterwards is the built-in image, and the version cells say 16.3.

#include "Processus.h"
#include "image/Image.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace korvane;
using namespace korvane::essai;
using namespace std::chrono_literals;

namespace {

struct MemoireAttendue {
    std::map<std::uint16_t, std::uint16_t> mots;
    std::map<std::size_t, std::uint8_t> eeprom;
};

// What the image puts into a device, read from the built-in records.
MemoireAttendue memoireDeLImage()
{
    static TableEnregistrements_t table;
    const std::int32_t n = ChargerEnregistrements(table);
    MemoireAttendue m;
    for (std::int32_t r = 0; r < n; ++r) {
        const Enregistrement e = table[r];
        switch (ClasserEnregistrement(e)) {
        case ClasseEnregistrement::MemoireProgramme:
            for (std::int32_t i = 0; i < NombreMots(e); ++i)
                m.mots[static_cast<std::uint16_t>(AdresseMot(e) + i)] =
                    static_cast<std::uint16_t>(MotDonnee(e, i));
            break;
        case ClasseEnregistrement::Eeprom:
            for (std::int32_t i = 0; i < NombreMots(e); ++i)
                m.eeprom[static_cast<std::size_t>(AdresseMot(e) - ADRESSE_EEPROM + i)] =
                    static_cast<std::uint8_t>(OctetDonnee(e, i));
            break;
        default:
            break;
        }
    }
    return m;
}

std::vector<std::string> lignes(const std::string& texte)
{
    std::vector<std::string> v;
    std::istringstream s(texte);
    for (std::string l; std::getline(s, l);)
        v.push_back(l);
    return v;
}

} // namespace

TEST(MiseAJourComplete, writes_the_image_and_the_version_then_reports_success)
{
    Dossier d;
    Simulateur sim(d, {"--version", "16.2", "--serial", "612345678"});
    ASSERT_TRUE(sim.pret());
    ReglagesEtrangers reglages(sim.ligne());
    ASSERT_TRUE(reglages.ouverte());

    const Execution e = executerCli(d, {"--port", sim.ligne()}, {}, 150s);
    EXPECT_EQ(e.statut, 0) << e.erreurs;
    EXPECT_EQ(e.erreurs, "");
    EXPECT_TRUE(reglages.retrouves());
    // 2250 ms to the first tick, four verification ticks of 200 ms, then 751 ticks of 100 ms:
    // about 78.2 s when the ticks keep their period whatever their own work takes.
    EXPECT_GT(e.secondes, 77.5);
    EXPECT_LT(e.secondes, 81.5);

    const auto v = lignes(e.sortie);
    const std::vector<std::string> debut{
        "== Attente de la Connexion ==",
        "Mettre en marche le Korvane",
        "Le temps restant pour allumer votre Korvane est de 30.0 s",
        "== Vérification de l'appareil ==",
        "Le type de l'appareil est le bon.",
        "Le numéro de série de l'appareil est le : 0612345678",
        "Préparation pour la transmission du programme",
        "== Programmation du Korvane ==",
        "Transmission du programme au Korvane",
    };
    ASSERT_GT(v.size(), debut.size() + 2) << e.sortie;
    EXPECT_EQ(std::vector<std::string>(v.begin(), v.begin() + debut.size()), debut) << e.sortie;
    EXPECT_EQ(v.back(), "== Mise à jour réussie ==");

    // Plain progress lines in between, rising, from 0.0 % to 99.9 % (the label never reaches
    // 100.0 %: it shows the records finished before the one being sent).
    const std::string prefixe = "Avancement de la mise à jour : ";
    std::vector<double> pourcentages;
    for (std::size_t i = debut.size(); i + 1 < v.size(); ++i) {
        ASSERT_EQ(v[i].rfind(prefixe, 0), 0u) << v[i];
        ASSERT_EQ(v[i].substr(v[i].size() - 2), " %") << v[i];
        pourcentages.push_back(std::stod(v[i].substr(prefixe.size())));
    }
    EXPECT_EQ(v[debut.size()], prefixe + "0.0 %");
    EXPECT_EQ(v[v.size() - 2], prefixe + "99.9 %");
    for (std::size_t i = 1; i < pourcentages.size(); ++i)
        EXPECT_LT(pourcentages[i - 1], pourcentages[i]);
    // A line per tenth of the way, not one per record.
    EXPECT_LE(pourcentages.size(), 12u);

    const auto vidage = sim.arreter();
    ASSERT_TRUE(vidage);
    const MemoireAttendue attendue = memoireDeLImage();
    std::map<std::uint16_t, std::uint16_t> ecrits(vidage->mots.begin(), vidage->mots.end());
    EXPECT_EQ(ecrits.size(), vidage->mots.size()) << "a word address written twice in the dump";
    EXPECT_EQ(ecrits, attendue.mots);
    for (const auto& [adresse, octet] : attendue.eeprom)
        EXPECT_EQ(vidage->eeprom[adresse], octet) << "EEPROM " << adresse;
    EXPECT_EQ(vidage->eeprom[126], 16);
    EXPECT_EQ(vidage->eeprom[127], 3);
    // The serial number's cells, 612345678 low byte first, are untouched.
    EXPECT_EQ(vidage->eeprom[120], 0x4E);
    EXPECT_EQ(vidage->eeprom[121], 0xA7);
    EXPECT_EQ(vidage->eeprom[122], 0x7F);
    EXPECT_EQ(vidage->eeprom[123], 0x24);
}
