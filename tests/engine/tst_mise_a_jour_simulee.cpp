// Whole updates of the built-in image into the simulated Korvane, through the real loader.

#include "VueEnregistreuse.h"
#include "engine/Moteur.h"
#include "engine/Notifications.h"
#include "image/Image.h"
#include "loader/Classek27_v2.h"
#include "sim/PortSimule.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace korvane::test {
namespace {

using Notif = VueEnregistreuse::Notification;

// The program words that the built-in image asks for, decoded on their own.
std::map<std::uint32_t, std::uint32_t> MotsDeLImage()
{
    std::map<std::uint32_t, std::uint32_t> mots;
    for (int i = 0; ImageMiseAJour[i][0] != '\0'; ++i) {
        const Enregistrement e = ImageMiseAJour[i];
        if (ClasserEnregistrement(e) != ClasseEnregistrement::MemoireProgramme)
            continue;
        for (int k = 0; k < NombreMots(e); ++k)
            mots[static_cast<std::uint32_t>(AdresseMot(e) + k)] =
                static_cast<std::uint32_t>(MotDonnee(e, k));
    }
    return mots;
}

// The wizard's part: step routines on each WM_ETAPE_SUIVANTE, ticks while the timer runs.
class Assistant {
public:
    explicit Assistant(sim::Configuration config = {})
        : port(std::move(config)), moteur(etat, chargeur, vue)
    {
    }

    // Steps 6 to 8 from the Connect button; returns the notification that ended them.
    Notif mettreAJour(int maxTicks = 2000)
    {
        etat.NumeroEtape = 6;
        moteur.AfficherAttente();
        for (int i = 0; i < maxTicks && vue.minuterieActive; ++i) {
            moteur.TimerGestionSerieTimer();
            if (vue.postees.empty())
                continue;
            const Notif n = vue.postees.back();
            vue.postees.clear();
            if (n.code != WM_ETAPE_SUIVANTE || etat.NumeroEtape == 8)
                return n;
            ++etat.NumeroEtape;
            if (etat.NumeroEtape == 7)
                moteur.AfficherVerification();
            else
                moteur.AfficherProgrammation();
        }
        return {0, 0};
    }

    sim::PortSimule port;
    CK27V2 chargeur{port};
    VueEnregistreuse vue;
    EtatAssistant etat;
    MoteurMiseAJour moteur;
};

// What the device holds against what the image asks for: every word of the image and no other.
void VerifierMemoire(const sim::Appareil& appareil)
{
    const auto mots = MotsDeLImage();
    ASSERT_EQ(mots.size(), 5960u);
    int differences = 0;
    for (std::uint32_t adresse = 0; adresse < sim::TAILLE_PROGRAMME; ++adresse) {
        const auto it = mots.find(adresse);
        const bool attendu = it != mots.end();
        if (appareil.motEcrit(adresse) != attendu ||
            (attendu && appareil.mot(adresse) != it->second)) {
            if (++differences <= 5)
                ADD_FAILURE() << "word " << adresse;
        }
    }
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(appareil.eeprom(EEPROM_VERSION), 16);
    EXPECT_EQ(appareil.eeprom(EEPROM_VERSION + 1), 3);
}

TEST(MiseAJourSimulee, BuiltInImageLandsInTheDeviceWordForWord)
{
    sim::Configuration config;
    config.connexionsIgnorees = 3; // switched on during the wait
    Assistant a(config);
    const auto eepromAvant = a.port.appareil().eeprom();

    EXPECT_EQ(a.mettreAJour(), (Notif{WM_ETAPE_SUIVANTE, 0}));
    EXPECT_EQ(a.etat.NumeroEtape, 8);
    EXPECT_EQ(a.etat.NombreEnregistrements, 751);
    EXPECT_EQ(a.etat.IndexEnregistrement, 751);
    EXPECT_EQ(a.vue.texte(Controle::LabelBarreProgression),
              "Avancement de la mise à jour : 99.9 %");
    EXPECT_EQ(a.etat.Barre.position(), 751);
    EXPECT_FALSE(a.vue.minuterieActive);

    const sim::Appareil& appareil = a.port.appareil();
    VerifierMemoire(appareil);
    // Only the two version cells of the EEPROM changed, written once each.
    auto eepromApres = appareil.eeprom();
    eepromApres[EEPROM_VERSION] = eepromAvant[EEPROM_VERSION];
    eepromApres[EEPROM_VERSION + 1] = eepromAvant[EEPROM_VERSION + 1];
    EXPECT_EQ(eepromApres, eepromAvant);
    EXPECT_EQ(appareil.compteurs().ecrituresEeprom, 2u);
    EXPECT_EQ(appareil.compteurs().motsEcrits, 5960u);
    // Leaving programming mode ended the connection on both sides; the port stays open.
    EXPECT_FALSE(appareil.connecte());
    EXPECT_EQ(a.chargeur.EstConnecte(), 0);
    EXPECT_TRUE(a.chargeur.PortOuvert());
}

TEST(MiseAJourSimulee, InterruptedUpdateLeavesTheOldVersionAndASecondAttemptCompletes)
{
    sim::Configuration config;
    // Word write 1000 and its retries get a wrong acknowledgement.
    config.defauts.push_back({sim::Phase::MotProgramme, sim::Panne::MauvaisAcquit, 1000, 4});
    Assistant a(config);

    EXPECT_EQ(a.mettreAJour(), (Notif{WM_ERREUR_TRANSMISSION, ERREUR_ACQUITTEMENT}));
    EXPECT_EQ(a.port.appareil().eeprom(EEPROM_VERSION + 1), 2);
    EXPECT_LT(a.port.appareil().compteurs().motsEcrits, 5960u);

    // What the transmission-error handler does before offering a new attempt.
    a.chargeur.Reinitialiser();

    EXPECT_EQ(a.mettreAJour(), (Notif{WM_ETAPE_SUIVANTE, 0}));
    VerifierMemoire(a.port.appareil());
}

} // namespace
} // namespace korvane::test
