// Step 7: the screen, the five sub-steps, refusals and loader failures.

#include "BancMoteur.h"

#include <ostream>
#include <string>
#include <vector>

namespace korvane::test {
namespace {

using Appels = std::vector<std::string>;

class Verification : public BancMoteur {
protected:
    // Ticks until the engine posts something; returns the tick that did (0: none in `max`).
    int tickJusquaNotification(int max = 8)
    {
        for (int i = 1; i <= max; ++i) {
            tick();
            if (!vue.postees.empty())
                return i;
        }
        return 0;
    }
};

TEST_F(Verification, ScreenIsBuiltInOrder)
{
    entrerAttente();
    tick();
    etat.NumeroEtape = 7;
    etat.EtapeVerification = 4; // left from an earlier attempt
    vue.oublierAppels();
    vue.postees.clear();

    moteur().AfficherVerification();

    EXPECT_EQ(vue.appels, (Appels{
                              "maigre LabelLigne1",
                              "texte LabelTitreEtape = " + fr(TxtTitreVerification),
                              "texte EditEtape = Etape n° 7 sur 9",
                              "cacher ProgressBarProgrammation",
                              "cacher ButtonPrecedant",
                              "cacher LabelBarreProgression",
                              "cacher LabelLigne1",
                              "cacher LabelLigne5",
                              "desactiver ButtonQuitter",
                              "intervalle 200",
                              "demarrer",
                          }));
    EXPECT_EQ(etat.EtapeVerification, 0u);
}

TEST_F(Verification, AcceptedDevicePassesInFourTicks)
{
    entrerVerification();

    tick();
    EXPECT_EQ(etat.EtapeVerification, 1u);
    EXPECT_EQ(vue.texte(Controle::LabelLigne1), fr(TxtTypeCorrect));
    EXPECT_TRUE(vue.visible(Controle::LabelLigne1));
    EXPECT_EQ(port.occurrences(octet::LIRE_MODE), 0);

    // Mode, record table and serial number share the second tick.
    tick();
    EXPECT_EQ(etat.EtapeVerification, 3u);
    EXPECT_EQ(etat.ModeAppareil, 3u);
    EXPECT_EQ(etat.NombreEnregistrements, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(etat.TableEnregistrements[i], slots[i]);
    EXPECT_EQ(etat.Barre.maximum(), 3);
    EXPECT_EQ(etat.Barre.position(), 0);
    EXPECT_TRUE(etat.Barre.lisse());
    EXPECT_EQ(vue.barre, etat.Barre);
    EXPECT_EQ(etat.NumeroSerie, 612345678u);
    EXPECT_EQ(vue.texte(Controle::LabelLigne2),
              "Le numéro de série de l'appareil est le : 0612345678");
    EXPECT_TRUE(vue.visible(Controle::LabelLigne2));

    tick();
    EXPECT_EQ(etat.EtapeVerification, 4u);
    EXPECT_EQ(etat.VersionMajeure, 16u);
    EXPECT_EQ(etat.VersionMineure, 2u);
    EXPECT_EQ(vue.texte(Controle::LabelLigne3), "");
    EXPECT_TRUE(vue.visible(Controle::LabelLigne3));
    EXPECT_TRUE(vue.postees.empty());
    EXPECT_TRUE(vue.minuterieActive);

    tick();
    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
    EXPECT_FALSE(vue.minuterieActive);
    EXPECT_EQ(vue.texte(Controle::LabelLigne4), fr(TxtPreparationTransmission));
    for (Controle c : {Controle::LabelLigne1, Controle::LabelLigne2, Controle::LabelLigne3,
                       Controle::LabelLigne4})
        EXPECT_TRUE(vue.visible(c)) << NomControle(c);
    EXPECT_FALSE(vue.visible(Controle::ProgressBarProgrammation));
    EXPECT_EQ(chargeur.Etat(), ETAT_PROGRAMMATION);
    EXPECT_EQ(etat.EtapeVerification, 4u);
    // Nothing is written to the device before step 8.
    EXPECT_TRUE(port.ecritures.empty());
}

struct CasAppareil {
    const char* nom;
    std::string type = "K27";
    std::uint8_t mode = 3;
    std::uint32_t serie = 612345678;
    std::uint8_t majeure = 16;
    std::uint8_t mineure = 2;
    int tickNotification;
    Notif attendue;
    const char* numeroAffiche; // nullptr: the serial number is neither read nor shown
};

void PrintTo(const CasAppareil& c, std::ostream* os)
{
    *os << c.nom;
}

const CasAppareil casAppareils[] = {
    {.nom = "AutreType",
     .type = "K28",
     .tickNotification = 1,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_TYPE},
     .numeroAffiche = nullptr},
    {.nom = "TypeEnMinuscules",
     .type = "k27",
     .tickNotification = 1,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_TYPE},
     .numeroAffiche = nullptr},
    {.nom = "Mode2",
     .mode = 2,
     .tickNotification = 2,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_MODE},
     .numeroAffiche = nullptr},
    {.nom = "Mode4",
     .mode = 4,
     .tickNotification = 2,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_MODE},
     .numeroAffiche = nullptr},
    {.nom = "Serie599999999",
     .serie = 599999999,
     .tickNotification = 2,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_NUMERO_SERIE},
     .numeroAffiche = "0599999999"},
    {.nom = "Serie700000000",
     .serie = 700000000,
     .tickNotification = 2,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_NUMERO_SERIE},
     .numeroAffiche = "0700000000"},
    {.nom = "Serie4294967295",
     .serie = 4294967295u,
     .tickNotification = 2,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_NUMERO_SERIE},
     .numeroAffiche = "4294967295"},
    {.nom = "Serie600000000",
     .serie = 600000000,
     .tickNotification = 4,
     .attendue = {WM_ETAPE_SUIVANTE, 0},
     .numeroAffiche = "0600000000"},
    {.nom = "Serie699999999",
     .serie = 699999999,
     .tickNotification = 4,
     .attendue = {WM_ETAPE_SUIVANTE, 0},
     .numeroAffiche = "0699999999"},
    {.nom = "Version15_255",
     .majeure = 15,
     .mineure = 255,
     .tickNotification = 4,
     .attendue = {WM_ETAPE_SUIVANTE, 0},
     .numeroAffiche = "0612345678"},
    {.nom = "Version16_0",
     .majeure = 16,
     .mineure = 0,
     .tickNotification = 4,
     .attendue = {WM_ETAPE_SUIVANTE, 0},
     .numeroAffiche = "0612345678"},
    {.nom = "Version16_3",
     .majeure = 16,
     .mineure = 3,
     .tickNotification = 3,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_VERSION},
     .numeroAffiche = "0612345678"},
    {.nom = "Version16_4",
     .majeure = 16,
     .mineure = 4,
     .tickNotification = 3,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_VERSION},
     .numeroAffiche = "0612345678"},
    {.nom = "Version17_0",
     .majeure = 17,
     .mineure = 0,
     .tickNotification = 3,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_VERSION},
     .numeroAffiche = "0612345678"},
    {.nom = "Version255_0",
     .majeure = 255,
     .mineure = 0,
     .tickNotification = 3,
     .attendue = {WM_APPAREIL_REFUSE, REFUS_VERSION},
     .numeroAffiche = "0612345678"},
};

class VerificationAppareil : public Verification,
                             public ::testing::WithParamInterface<CasAppareil> {};

TEST_P(VerificationAppareil, OutcomeComesAtItsTickWithWhatWasShownBefore)
{
    const CasAppareil& c = GetParam();
    port.type = c.type;
    port.mode = c.mode;
    port.definirNumeroSerie(c.serie);
    port.definirVersion(c.majeure, c.mineure);
    entrerVerification();

    EXPECT_EQ(tickJusquaNotification(), c.tickNotification);
    EXPECT_EQ(vue.postees, (std::vector<Notif>{c.attendue}));
    EXPECT_FALSE(vue.minuterieActive);

    // The type line appears only for an accepted type.
    EXPECT_EQ(vue.visible(Controle::LabelLigne1), c.tickNotification > 1);
    if (c.numeroAffiche) {
        EXPECT_EQ(vue.texte(Controle::LabelLigne2),
                  std::string("Le numéro de série de l'appareil est le : ") + c.numeroAffiche);
        EXPECT_TRUE(vue.visible(Controle::LabelLigne2));
    } else {
        EXPECT_EQ(vue.textes.count(Controle::LabelLigne2), 0u);
        EXPECT_FALSE(vue.visible(Controle::LabelLigne2));
        EXPECT_EQ(port.occurrences(octet::LIRE_EEPROM), 0);
    }
    // A refused device is left as it was, and the connection is the handlers' business.
    EXPECT_TRUE(port.ecritures.empty());
    if (c.attendue.code == WM_APPAREIL_REFUSE) {
        EXPECT_EQ(port.occurrences(octet::PREPARER), 0);
        EXPECT_EQ(chargeur.EstConnecte(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cas, VerificationAppareil, ::testing::ValuesIn(casAppareils),
                         [](const auto& info) { return std::string(info.param.nom); });

struct CasPanne {
    const char* nom;
    std::uint8_t commande;
    int occurrence;
    PortRepondeur::Panne panne;
    int tickNotification;
    StatutChargeur statut;
    std::int32_t etatChargeur;
};

void PrintTo(const CasPanne& c, std::ostream* os)
{
    *os << c.nom;
}

const CasPanne casPannes[] = {
    {"LectureType", octet::LIRE_TYPE, 1, PortRepondeur::Panne::Silence, 1, ERREUR_DELAI,
     ETAT_REPOS},
    {"LectureMode", octet::LIRE_MODE, 1, PortRepondeur::Panne::Silence, 2, ERREUR_DELAI,
     ETAT_REPOS},
    {"LectureNumeroSerie", octet::LIRE_EEPROM, 3, PortRepondeur::Panne::Silence, 2, ERREUR_DELAI,
     ETAT_REPOS},
    {"LectureVersionMajeure", octet::LIRE_EEPROM, 5, PortRepondeur::Panne::Silence, 3, ERREUR_DELAI,
     ETAT_REPOS},
    {"LectureVersionMineure", octet::LIRE_EEPROM, 6, PortRepondeur::Panne::Silence, 3, ERREUR_DELAI,
     ETAT_REPOS},
    {"PreparerMuet", octet::PREPARER, 1, PortRepondeur::Panne::Silence, 4, ERREUR_DELAI,
     ETAT_REPOS},
    {"PreparerRefuse", octet::PREPARER, 1, PortRepondeur::Panne::Refus, 4, ERREUR_ACQUITTEMENT,
     ETAT_REPOS},
    {"EntrerProgrammationRefuse", octet::ENTRER_PROGRAMMATION, 1, PortRepondeur::Panne::Refus, 4,
     ERREUR_ACQUITTEMENT, ETAT_PREPARE},
    {"EntrerProgrammationMuet", octet::ENTRER_PROGRAMMATION, 1, PortRepondeur::Panne::Silence, 4,
     ERREUR_DELAI, ETAT_PREPARE},
};

class VerificationPanne : public Verification, public ::testing::WithParamInterface<CasPanne> {};

TEST_P(VerificationPanne, LoaderFailureIsATransmissionErrorWithItsStatus)
{
    const CasPanne& c = GetParam();
    port.ajouterPanne(c.commande, c.occurrence, c.panne);
    entrerVerification();

    EXPECT_EQ(tickJusquaNotification(), c.tickNotification);
    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, c.statut}}));
    EXPECT_EQ(chargeur.Statut(), c.statut);
    EXPECT_FALSE(vue.minuterieActive);
    EXPECT_EQ(chargeur.Etat(), c.etatChargeur);
    EXPECT_TRUE(port.ecritures.empty());
    // A failed mode read ends the tick before the serial number.
    if (c.commande == octet::LIRE_MODE) {
        EXPECT_EQ(port.occurrences(octet::LIRE_EEPROM), 0);
    }
    // The serial number is shown only once it has been read whole.
    if (c.tickNotification <= 2) {
        EXPECT_EQ(vue.textes.count(Controle::LabelLigne2), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cas, VerificationPanne, ::testing::ValuesIn(casPannes),
                         [](const auto& info) { return std::string(info.param.nom); });

} // namespace
} // namespace korvane::test
