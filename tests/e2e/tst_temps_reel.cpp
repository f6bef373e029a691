// The window with the engine's real timer intervals: the whole connection wait of a device
// that never answers, and a whole update against a line paced at 9600 baud.

#include "Banc.h"
#include "loader/Classek27_v2.h"
#include "sim/SimulateurPty.h"
#include "sim/UnProcesseur.h"
#include "text/Catalogue.h"

#include <QGroupBox>
#include <cstdio>
#include <gtest/gtest.h>

namespace korvane::e2e {
namespace {

using namespace std::chrono_literals;
using Reponse = BoitesMessage::Reponse;
using Secondes = std::chrono::duration<double>;

class TempsReel : public BancSimule {};

// The device stays off: 20 handshakes 2250 ms apart, the failure box, then the port choice.
TEST_F(TempsReel, ConnectionWaitExpiresAfterTwentyTicks)
{
    sim::Configuration config;
    config.connexionsIgnorees = 1'000'000;
    demarrer(config, false, 1.0);
    if (HasFatalFailure())
        return;
    Pilote& p = *m_pilote;

    struct Vu {
        QString compteARebours;
        bool portOuvert;
        Horloge::time_point quand;
    };
    std::vector<Vu> vus;
    m_boites.pendant = [&] {
        vus.push_back({p.texte("LabelBarreProgression"), p.fenetre().chargeur().PortOuvert(),
                       Horloge::now()});
    };

    ASSERT_TRUE(p.allerJusquaConnexion());
    const auto debut = Horloge::now();
    EXPECT_EQ(p.texte("LabelBarreProgression"),
              QString::fromStdString(FormaterTempsRestant(0, 30.0)));
    ASSERT_TRUE(p.attendre([&] { return !m_boites.appels.empty(); }, 60s));

    ASSERT_EQ(m_boites.appels.size(), 1u);
    EXPECT_EQ(m_boites.appels[0].type, BoitesMessage::Type::Erreur);
    EXPECT_EQ(m_boites.appels[0].texte, T(TxtEchecConnexion));
    EXPECT_EQ(m_boites.appels[0].boutons, BoitesMessage::Boutons::Ok);
    ASSERT_EQ(vus.size(), 1u);
    EXPECT_EQ(vus[0].compteARebours, QString::fromStdString(FormaterTempsRestant(0, 0.0)));
    EXPECT_FALSE(vus[0].portOuvert) << "the port was not closed when the wait ran out";
    // Twenty ticks 2250 ms apart, the last one blocked for its 1.1 s handshake.
    const double attente = Secondes(vus[0].quand - debut).count();
    std::printf("connection wait: %.2f s until the failure box\n", attente);
    EXPECT_GE(attente, 45.0);
    EXPECT_LE(attente, 49.0);
    EXPECT_EQ(m_sim->instantane().compteurs().connexions, 20u);

    // Back at the port choice, ready to try again.
    EXPECT_EQ(p.etape(), 4);
    EXPECT_TRUE(p.visible("GroupBoxChoixPort"));
    EXPECT_FALSE(p.visible("LabelBarreProgression"));
    EXPECT_EQ(p.texte("ButtonSuivant"), T(TxtSuivant));
    EXPECT_TRUE(p.controle("ButtonSuivant")->isEnabled());
    EXPECT_TRUE(m_sim->instantane().journal().empty());
}

// A whole update at the real pace: the programming of the built-in image (step 8 to step 9)
// takes no more than 5 % over its 751 ticks of 100 ms.
TEST_F(TempsReel, PacedUpdateProgramsTheImageWithinItsTicks)
{
    // The window and the simulated device (its thread started below) on one processor.
    EXPECT_TRUE(sim::garderUnProcesseur());
    demarrer({}, true, 1.0);
    if (HasFatalFailure())
        return;
    Pilote& p = *m_pilote;

    ASSERT_TRUE(p.allerJusquaConnexion());
    const auto connexion = Horloge::now();
    ASSERT_TRUE(p.attendreEtape(9, 150s)) << "stopped at step " << p.etape();
    EXPECT_TRUE(m_boites.appels.empty());

    const auto entree7 = p.sortieDe(6);
    const auto entree8 = p.sortieDe(7);
    const auto entree9 = p.sortieDe(8);
    ASSERT_TRUE(entree7 && entree8 && entree9);
    const double attente = Secondes(*entree7 - connexion).count();
    const double verification = Secondes(*entree8 - *entree7).count();
    const double programmation = Secondes(*entree9 - *entree8).count();
    const double total = Secondes(*entree9 - connexion).count();
    const double plafond = 1.05 * 751 * 0.100;
    std::printf("paced update: connection %.3f s, verification %.3f s, programming %.3f s "
                "(limit %.3f s, ratio to 75.1 s %.4f), Connect to success %.3f s\n",
                attente, verification, programmation, plafond, programmation / 75.1, total);
    RecordProperty("programming_s", std::to_string(programmation));
    EXPECT_LE(programmation, plafond);
    EXPECT_GE(programmation, 75.0); // 751 ticks cannot come faster than their interval

    EXPECT_TRUE(memoireConforme(m_sim->instantane()));
}

} // namespace
} // namespace korvane::e2e
