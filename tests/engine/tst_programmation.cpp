// Step 8: the screen, one record per tick, the end of file and the failures.

#include "BancMoteur.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace korvane::test {
namespace {

using Appels = std::vector<std::string>;
using Ecritures = std::vector<PortRepondeur::Ecriture>;

const PortRepondeur::Ecriture version16_3[] = {{'E', EEPROM_VERSION, 16},
                                               {'E', EEPROM_VERSION + 1, 3}};

std::string avancement(const char* pourcentage)
{
    return std::string("Avancement de la mise à jour : ") + pourcentage + " %";
}

class Programmation : public BancMoteur {};

TEST_F(Programmation, ScreenIsBuiltInOrderAndKeepsTheVerificationLines)
{
    entrerVerification();
    tick(4);
    etat.NumeroEtape = 8;
    vue.oublierAppels();
    vue.postees.clear();

    moteur().AfficherProgrammation();

    EXPECT_EQ(vue.appels, (Appels{
                              "barre 0 [0..3] lisse",
                              "texte LabelTitreEtape = " + fr(TxtTitreProgrammation),
                              "texte LabelBarreProgression = " + avancement("0.0"),
                              "texte LabelLigne5 = " + fr(TxtTransmission),
                              "montrer LabelLigne5",
                              "montrer ProgressBarProgrammation",
                              "montrer LabelBarreProgression",
                              "intervalle 100",
                              "demarrer",
                              "texte EditEtape = Etape n° 8 sur 9",
                          }));
    for (Controle c : {Controle::LabelLigne1, Controle::LabelLigne2, Controle::LabelLigne3,
                       Controle::LabelLigne4})
        EXPECT_TRUE(vue.visible(c)) << NomControle(c);
    EXPECT_FALSE(vue.actifs.at(Controle::ButtonQuitter));
    EXPECT_FALSE(vue.actifs.at(Controle::ButtonSuivant));
    EXPECT_FALSE(vue.visible(Controle::ButtonPrecedant));
}

TEST_F(Programmation, WholeImageIsSentThenTheVersionAndProgrammingModeEnds)
{
    entrerProgrammation();
    tick(2);
    EXPECT_TRUE(vue.postees.empty());
    const std::size_t avantFin = port.recus.size();

    tick();

    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
    EXPECT_FALSE(vue.minuterieActive);
    EXPECT_EQ(port.ecritures, (Ecritures{{'P', 48, 0x118A},
                                         {'P', 49, 0x120A},
                                         {'P', 50, 0x28FA},
                                         version16_3[0],
                                         version16_3[1]}));
    // The end-of-file record sends the version and leaves programming mode, nothing else.
    EXPECT_EQ(
        std::vector<std::uint8_t>(port.recus.begin() + avantFin, port.recus.end()),
        (std::vector<std::uint8_t>{octet::ECRIRE_EEPROM, '7', 'E', '1', '0', octet::ECRIRE_EEPROM,
                                   '7', 'F', '0', '3', octet::SORTIR_PROGRAMMATION}));
    EXPECT_EQ(chargeur.EstConnecte(), 0);
    EXPECT_EQ(etat.IndexEnregistrement, 3);
}

TEST_F(Programmation, LabelTrailsTheBarByOneRecord)
{
    // 750 one-word records and the end of file: the size of the built-in image.
    std::vector<std::string> lignes;
    for (int i = 0; i < 750; ++i)
        lignes.push_back(LigneHex(2, 2 * (48 + i), 0, {static_cast<std::uint16_t>(i)}));
    lignes.push_back(FinFichier());
    const ImageTest grande(lignes);
    utiliserImage(grande);
    entrerProgrammation();
    ASSERT_EQ(etat.Barre.maximum(), 751);

    const struct {
        int r;
        const char* pourcentage;
        int barre;
    } reperes[] = {{0, "0.0", 2},      {1, "0.1", 3},      {374, "49.8", 376},
                   {748, "99.6", 750}, {749, "99.7", 751}, {750, "99.9", 751}};

    int r = 0;
    for (const auto& p : reperes) {
        for (; r <= p.r; ++r) {
            tick();
            ASSERT_NE(vue.texte(Controle::LabelBarreProgression), avancement("100.0"));
        }
        SCOPED_TRACE(p.r);
        EXPECT_EQ(vue.texte(Controle::LabelBarreProgression), avancement(p.pourcentage));
        EXPECT_EQ(etat.Barre.position(), p.barre);
        EXPECT_EQ(vue.barre.position(), p.barre);
        EXPECT_EQ(etat.IndexEnregistrement, p.r + 1);
    }
    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
    EXPECT_EQ(port.programme.size(), 750u);
    EXPECT_EQ(port.programme.at(48 + 749), 749u);
}

struct CasEnregistrement {
    const char* nom;
    std::string ligne;
    std::vector<PortRepondeur::Ecriture> ecritures; // before the version
};

void PrintTo(const CasEnregistrement& c, std::ostream* os)
{
    *os << c.nom;
}

const CasEnregistrement casEnregistrements[] = {
    {"AdresseEtendue", LigneHex(2, 0x0000, 4, {0x0000}), {}},
    {"Mot47", LigneHex(4, 0x005E, 0, {0x1111, 0x2222}), {}},
    {"Mot48", LigneHex(4, 0x0060, 0, {0x1111, 0x2222}), {{'P', 48, 0x1111}, {'P', 49, 0x2222}}},
    {"DernierMotEcrivable", LigneHex(2, 2 * 7103, 0, {0x3FFF}), {{'P', 7103, 0x3FFF}}},
    {"Mot0x2000", LigneHex(4, 0x4000, 0, {0x1111, 0x2222}), {}},
    {"Mot0x20FF", LigneHex(2, 0x41FE, 0, {0x1111}), {}},
    {"Eeprom0x2100", LigneHex(4, 0x4200, 0, {0xAB12, 0xCD34}), {{'E', 0, 0x12}, {'E', 1, 0x34}}},
    {"EepromPlusLoin", LigneHex(2, 0x4200 + 2 * 0x40, 0, {0x0077}), {{'E', 0x40, 0x77}}},
    {"Type02CommeDonnees", LigneHex(2, 0x0060, 2, {0x0ABC}), {{'P', 48, 0x0ABC}}},
    {"NombreOctetsImpair", LigneHex(3, 0x0060, 0, {0x1234, 0x0056}), {{'P', 48, 0x1234}}},
};

class ProgrammationEnregistrement : public BancMoteur,
                                    public ::testing::WithParamInterface<CasEnregistrement> {};

TEST_P(ProgrammationEnregistrement, RecordClassDecidesWhatIsWritten)
{
    const CasEnregistrement& c = GetParam();
    const ImageTest img({c.ligne, FinFichier()});
    utiliserImage(img);
    entrerProgrammation();

    tick();
    EXPECT_TRUE(vue.postees.empty());
    EXPECT_EQ(port.ecritures, c.ecritures);
    EXPECT_EQ(etat.IndexEnregistrement, 1);
    EXPECT_EQ(etat.Barre.position(), 2);
    EXPECT_EQ(vue.texte(Controle::LabelBarreProgression), avancement("0.0"));

    tick();
    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
    Ecritures attendues = c.ecritures;
    attendues.insert(attendues.end(), std::begin(version16_3), std::end(version16_3));
    EXPECT_EQ(port.ecritures, attendues);
}

INSTANTIATE_TEST_SUITE_P(Cas, ProgrammationEnregistrement, ::testing::ValuesIn(casEnregistrements),
                         [](const auto& info) { return std::string(info.param.nom); });

TEST_F(Programmation, FailedWordStopsTheRecordAndTheLoop)
{
    const ImageTest img({LigneHex(16, 0x0060, 0, {1, 2, 3, 4, 5, 6, 7, 8}),
                         LigneHex(2, 0x0070, 0, {9}), FinFichier()});
    utiliserImage(img);
    port.motsRefuses = {48 + 3};
    entrerProgrammation();

    tick();

    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, ERREUR_ACQUITTEMENT}}));
    EXPECT_FALSE(vue.minuterieActive);
    EXPECT_EQ(port.ecritures, (Ecritures{{'P', 48, 1}, {'P', 49, 2}, {'P', 50, 3}}));
    EXPECT_EQ(etat.IndexEnregistrement, 1);
    EXPECT_EQ(etat.Barre.position(), 2);
    // Still in programming mode: the handler ends the connection.
    EXPECT_EQ(chargeur.Etat(), ETAT_PROGRAMMATION);
}

TEST_F(Programmation, FailuresOfOtherWritesAreReportedWithTheirStatus)
{
    const struct {
        const char* nom;
        std::string ligne;
        std::uint8_t commande;
        int occurrence;
        StatutChargeur statut;
        Ecritures ecritures;
    } cas[] = {
        {"EepromMuette",
         LigneHex(4, 0x4200, 0, {0x11, 0x22}),
         octet::ECRIRE_EEPROM,
         2,
         ERREUR_DELAI,
         {{'E', 0, 0x11}}},
        {"MotAuDelaDe7103",
         LigneHex(4, 2 * 7103, 0, {0x11, 0x22}),
         0,
         0,
         ERREUR_ADRESSE,
         {{'P', 7103, 0x11}}},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        PortRepondeur appareil;
        if (c.commande)
            appareil.ajouterPanne(c.commande, c.occurrence, PortRepondeur::Panne::Silence);
        CK27V2 client{appareil};
        VueEnregistreuse ecran;
        EtatAssistant e;
        const ImageTest img({c.ligne, FinFichier()});
        MoteurMiseAJour m(e, client, ecran, img.slots());
        e.NumeroEtape = 6;
        m.AfficherAttente();
        m.TimerGestionSerieTimer();
        e.NumeroEtape = 7;
        m.AfficherVerification();
        for (int i = 0; i < 4; ++i)
            m.TimerGestionSerieTimer();
        ASSERT_EQ(ecran.postees.size(), 2u);
        ecran.postees.clear();
        e.NumeroEtape = 8;
        m.AfficherProgrammation();

        m.TimerGestionSerieTimer();

        EXPECT_EQ(ecran.postees, (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, c.statut}}));
        EXPECT_EQ(appareil.ecritures, c.ecritures);
        EXPECT_FALSE(ecran.minuterieActive);
    }
}

// A device whose version cannot be written still holds its old version number: the update
// is reported as failed, after programming mode has been left as usual.
TEST_F(Programmation, FailedVersionWriteIsNotASuccess)
{
    const struct {
        const char* nom;
        int occurrence; // of the EEPROM write command
        PortRepondeur::Panne panne;
        StatutChargeur statut;
    } cas[] = {
        {"MajeureMuette", 1, PortRepondeur::Panne::Silence, ERREUR_DELAI},
        {"MineureRefusee", 2, PortRepondeur::Panne::Refus, ERREUR_ACQUITTEMENT},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        PortRepondeur appareil;
        appareil.ajouterPanne(octet::ECRIRE_EEPROM, c.occurrence, c.panne);
        CK27V2 client{appareil};
        VueEnregistreuse ecran;
        EtatAssistant e;
        MoteurMiseAJour m(e, client, ecran, image.slots());
        e.NumeroEtape = 6;
        m.AfficherAttente();
        m.TimerGestionSerieTimer();
        e.NumeroEtape = 7;
        m.AfficherVerification();
        for (int i = 0; i < 4; ++i)
            m.TimerGestionSerieTimer();
        ecran.postees.clear();
        e.NumeroEtape = 8;
        m.AfficherProgrammation();

        for (int i = 0; i < 3; ++i)
            m.TimerGestionSerieTimer();

        EXPECT_EQ(ecran.postees, (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, c.statut}}));
        EXPECT_FALSE(ecran.minuterieActive);
        EXPECT_EQ(appareil.recus.back(), octet::SORTIR_PROGRAMMATION);
        EXPECT_EQ(client.EstConnecte(), 0);
        EXPECT_EQ(client.Etat(), ETAT_REPOS);
    }
}

TEST_F(Programmation, ImageWithoutEndOfFileStopsAfterItsLastRecord)
{
    const ImageTest img({LigneHex(2, 0x0060, 0, {0x0101}), LigneHex(2, 0x0062, 0, {0x0202})});
    utiliserImage(img);
    entrerProgrammation();
    tick(2);
    ASSERT_TRUE(vue.postees.empty());
    const std::size_t envoyes = port.recus.size();
    const std::string label = vue.texte(Controle::LabelBarreProgression);
    vue.oublierAppels();

    tick();

    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, ERREUR_IMAGE_SANS_FIN}}));
    EXPECT_EQ(vue.appels, (Appels{"arreter", "poster 1025 100101"}));
    EXPECT_EQ(port.recus.size(), envoyes);
    EXPECT_EQ(vue.texte(Controle::LabelBarreProgression), label);
    EXPECT_EQ(etat.IndexEnregistrement, 2);
    EXPECT_EQ(port.ecritures, (Ecritures{{'P', 48, 0x0101}, {'P', 49, 0x0202}}));
}

TEST_F(Programmation, EmptyImageShowsZeroAndStopsAtTheFirstTick)
{
    const ImageTest vide({});
    utiliserImage(vide);
    entrerProgrammation();
    EXPECT_EQ(etat.NombreEnregistrements, 0);
    EXPECT_EQ(vue.texte(Controle::LabelBarreProgression), avancement("0.0"));

    tick();
    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, ERREUR_IMAGE_SANS_FIN}}));
    EXPECT_TRUE(port.ecritures.empty());
}

TEST_F(Programmation, RecordIndexNeverGoesPastTheTable)
{
    // A state no wizard path makes, guarded all the same: the table has only its capacity.
    etat.NumeroEtape = 8;
    etat.NombreEnregistrements = CAPACITE_ENREGISTREMENTS + 5;
    etat.Barre.definirMaximum(CAPACITE_ENREGISTREMENTS + 5);
    for (std::int32_t index : {CAPACITE_ENREGISTREMENTS, -1}) {
        etat.IndexEnregistrement = index;
        vue.postees.clear();
        tick();
        EXPECT_EQ(vue.postees,
                  (std::vector<Notif>{{WM_ERREUR_TRANSMISSION, ERREUR_IMAGE_SANS_FIN}}));
        EXPECT_EQ(etat.IndexEnregistrement, index);
    }
    EXPECT_TRUE(port.recus.empty());
}

} // namespace
} // namespace korvane::test
