// Step 6: the screen, the handshake ticks and the countdown.

#include "BancMoteur.h"

#include <string>
#include <vector>

namespace korvane::test {
namespace {

using Appels = std::vector<std::string>;

bool finitPar(const std::string& texte, const std::string& fin)
{
    return texte.size() >= fin.size() &&
           texte.compare(texte.size() - fin.size(), fin.size(), fin) == 0;
}

class Attente : public BancMoteur {};

TEST_F(Attente, ScreenIsBuiltInOrderAndResetsTheWait)
{
    // Leftovers of an earlier update: a programming bar and a record index.
    etat.Barre.definirMaximum(751);
    etat.Barre.definirPosition(300);
    etat.Barre.definirLisse(true);
    etat.IndexEnregistrement = 42;
    vue.minuterieActive = false;

    entrerAttente();

    const std::string compte = "texte LabelBarreProgression = Le temps restant pour allumer "
                               "votre Korvane est de 30.0 s";
    EXPECT_EQ(vue.appels, (Appels{
                              "cacher LabelLigne2",
                              "cacher LabelLigne3",
                              "cacher LabelLigne4",
                              "cacher LabelLigne5",
                              "texte LabelTitreEtape = " + fr(TxtTitreAttente),
                              "gras LabelLigne1",
                              "texte LabelLigne1 = " + fr(TxtMettreEnMarche),
                              "texte ButtonPrecedant = &Annuler",
                              "barre 0 [0..20] lisse",
                              "barre 0 [0..20]",
                              "cacher ProgressBarProgrammation",
                              compte,
                              "montrer LabelBarreProgression",
                              "desactiver ButtonSuivant",
                              "intervalle 2250",
                              "demarrer",
                              "texte EditEtape = Etape n° 6 sur 9",
                          }));
    EXPECT_EQ(etat.IndexEnregistrement, 0);
    EXPECT_EQ(etat.Barre.position(), 0);
    EXPECT_EQ(etat.Barre.maximum(), 20);
    EXPECT_FALSE(etat.Barre.lisse());
    EXPECT_TRUE(vue.minuterieActive);
    // The port is only named here; the first tick opens it.
    EXPECT_EQ(port.ouvertures, 0);
    EXPECT_TRUE(vue.postees.empty());
}

// A device that never answers and a port that cannot be opened both run the full wait.
class AttenteEpuisee : public BancMoteur, public ::testing::WithParamInterface<bool> {};

TEST_P(AttenteEpuisee, CountdownFallsBy1Point5AndTheTwentiethTickGivesUp)
{
    const bool portOuvrable = GetParam();
    port.ouvrable = portOuvrable;
    port.handshakeReponduA = 0;
    entrerAttente();

    const struct {
        int ticks;
        const char* affiche;
    } reperes[] = {{1, "28.5 s"}, {2, "27.0 s"}, {10, "15.0 s"}, {19, "1.5 s"}, {20, "0.0 s"}};

    int fait = 0;
    for (const auto& r : reperes) {
        tick(r.ticks - fait);
        fait = r.ticks;
        SCOPED_TRACE(r.ticks);
        EXPECT_TRUE(finitPar(vue.texte(Controle::LabelBarreProgression), r.affiche))
            << vue.texte(Controle::LabelBarreProgression);
        EXPECT_EQ(etat.Barre.position(), r.ticks);
        if (r.ticks < 20) {
            EXPECT_TRUE(vue.postees.empty());
            EXPECT_TRUE(vue.minuterieActive);
        }
    }

    EXPECT_EQ(vue.postees, (std::vector<Notif>{{WM_ECHEC_CONNEXION, 0}}));
    EXPECT_FALSE(vue.minuterieActive);
    EXPECT_FALSE(chargeur.PortOuvert());
    EXPECT_FALSE(port.ouvert);
    // One handshake request per tick, or none at all when the port never opened; closing
    // adds only the loader's own reset.
    std::vector<std::uint8_t> attendus(portOuvrable ? 20 : 0, octet::CONNEXION);
    if (portOuvrable)
        attendus.push_back(octet::RESET);
    EXPECT_EQ(port.recus, attendus);
}

INSTANTIATE_TEST_SUITE_P(Port, AttenteEpuisee, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Muet" : "Introuvable"; });

TEST_F(Attente, AnsweredHandshakeMovesOnWithoutCountingTheTick)
{
    const struct {
        int tickReponse;
        const char* affiche;
    } cas[] = {{1, "30.0 s"}, {2, "28.5 s"}, {20, "1.5 s"}};

    for (const auto& c : cas) {
        SCOPED_TRACE(c.tickReponse);
        PortRepondeur appareil;
        appareil.handshakeReponduA = c.tickReponse;
        CK27V2 client{appareil};
        VueEnregistreuse ecran;
        EtatAssistant e;
        e.NumeroEtape = 6;
        MoteurMiseAJour m(e, client, ecran);
        m.AfficherAttente();
        for (int i = 0; i < c.tickReponse; ++i)
            m.TimerGestionSerieTimer();

        EXPECT_EQ(ecran.postees, (std::vector<Notif>{{WM_ETAPE_SUIVANTE, 0}}));
        EXPECT_FALSE(ecran.minuterieActive);
        EXPECT_TRUE(finitPar(ecran.texte(Controle::LabelBarreProgression), c.affiche));
        EXPECT_EQ(e.Barre.position(), c.tickReponse - 1);
        // The port stays open and connected for the verification.
        EXPECT_TRUE(client.PortOuvert());
        EXPECT_EQ(client.EstConnecte(), 1);
    }
}

TEST_F(Attente, TicksOutsideStepsSixToEightDoNothing)
{
    port.handshakeReponduA = 1;
    entrerAttente();
    const EtatAssistant avant = etat;
    vue.oublierAppels();

    for (int etape : {0, 1, 2, 3, 4, 5, 9, 10, -1}) {
        etat.NumeroEtape = etape;
        tick();
    }

    EXPECT_TRUE(vue.appels.empty());
    EXPECT_TRUE(port.recus.empty());
    EXPECT_EQ(port.ouvertures, 0);
    EXPECT_EQ(etat.Barre, avant.Barre);
    EXPECT_EQ(etat.EtapeVerification, avant.EtapeVerification);
    EXPECT_EQ(etat.IndexEnregistrement, avant.IndexEnregistrement);
}

TEST_F(Attente, EnteringAgainRestartsTheCountdownAndTheRecordIndex)
{
    port.handshakeReponduA = 0;
    entrerAttente();
    tick(5);
    ASSERT_TRUE(finitPar(vue.texte(Controle::LabelBarreProgression), "22.5 s"));
    etat.IndexEnregistrement = 37;

    entrerAttente(); // Cancel, then Connect again
    EXPECT_TRUE(finitPar(vue.texte(Controle::LabelBarreProgression), "30.0 s"));
    EXPECT_EQ(etat.IndexEnregistrement, 0);
    EXPECT_EQ(etat.Barre.position(), 0);

    tick();
    EXPECT_TRUE(finitPar(vue.texte(Controle::LabelBarreProgression), "28.5 s"));
    EXPECT_TRUE(vue.postees.empty());
}

} // namespace
} // namespace korvane::test
