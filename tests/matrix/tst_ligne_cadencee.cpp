// The loader on a line paced like a real one (11 bits per byte at 9600 baud): bytes that a
// device sends one after the other arrive a millisecond apart, so what the loader drops
// after a wrong answer must include what was still on its way.

#include "Ligne.h"

#include <gtest/gtest.h>

namespace korvane::matrice {
namespace {

TEST(LigneCadencee, AStrayByteBeforeAnAcknowledgementLeavesNothingForTheNextWord)
{
    sim::Configuration config;
    // Word 1: a stray byte, then the 0x84 a millisecond later. Word 2: all three attempts
    // go unanswered, which the loader must report, not take a late 0x84 for an answer.
    config.defauts.push_back({sim::Phase::MotProgramme, sim::Panne::Bruit, 1, 1});
    config.defauts.push_back({sim::Phase::MotProgramme, sim::Panne::Silence, 3, 3});
    Ligne ligne;
    ASSERT_TRUE(ligne.prete());
    auto simulateur =
        std::make_unique<sim::SimulateurPty>(config, sim::OptionsPty{ligne.lien, true});
    ASSERT_TRUE(simulateur->demarrer());
    ligne.devenirCom1();

    PortPosix port;
    CK27V2 client(port);
    client.ChoisirPort(0);
    ASSERT_EQ(client.Connecter(1), 0);
    ASSERT_EQ(client.Preparer(), 0);
    ASSERT_EQ(client.EntrerProgrammation(), 0);

    EXPECT_EQ(client.EcrireMotProgramme(48, 0x1234), 0);
    EXPECT_EQ(client.EcrireMotProgramme(49, 0x2345), ERREUR_DELAI);
    simulateur->arreter();
    const sim::Appareil appareil = simulateur->instantane();
    EXPECT_EQ(appareil.mot(48), 0x1234);
    EXPECT_FALSE(appareil.motEcrit(49));
}

} // namespace
} // namespace korvane::matrice
