// A few cells of the matrix with the window's own timer at its real intervals (2250 ms for
// the connection wait, 200 ms for the verification, 100 ms for the programming), the boxes
// answered through the BoitesMessage seam. The programming step alone would take 75 s at
// 100 ms a record: once it has started at its own pace, the test finishes it tick by tick.

#include "Ligne.h"
#include "Poste.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>

namespace korvane::matrice {
namespace {

constexpr double MARGE_MS = 1500; // the work itself and a loaded machine

// Runs the event loop until `fini` or `limiteMs`; the time it took, or nothing.
std::optional<double> Tourner(const std::function<bool()>& fini, double limiteMs)
{
    QTimer reveil; // the loop never sleeps past a check
    reveil.start(10);
    const auto debut = Horloge::now();
    while (!fini()) {
        if (MsDepuis(debut) > limiteMs)
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double ms = MsDepuis(debut);
    std::printf("[real] %6.0f ms (bound %6.0f)\n", ms, limiteMs);
    return ms;
}

class FenetreReelle : public ::testing::Test {
protected:
    void brancher(const sim::Configuration& config)
    {
        ASSERT_TRUE(ligne.prete());
        ASSERT_TRUE(ligne.brancher(config));
        ligne.devenirCom1();
        poste.emplace(port, boites);
        poste->fenetre.show();
    }

    // Connect; the window's timer runs the wait and the verification at their intervals
    // until the programming has begun, which the test then finishes by hand.
    void reprendreJusquALaFin()
    {
        ASSERT_EQ(poste->etape(), 5);
        port.oublier();
        poste->fenetre.ButtonSuivantClick();
        const double borne = INTERVALLE_ATTENTE_MS * 2 + 4 * INTERVALLE_VERIFICATION_MS + MARGE_MS;
        const auto ms = Tourner([&] { return poste->etape() == 8; }, borne);
        ASSERT_TRUE(ms.has_value()) << "stuck at step " << poste->etape();
        EXPECT_GE(*ms, INTERVALLE_ATTENTE_MS + 4 * INTERVALLE_VERIFICATION_MS - 50);
        const Tentative fin = poste->suivre();
        EXPECT_EQ(fin.probleme, "");
        EXPECT_EQ(NomIssue(fin.issue), std::string(NomIssue(Issue::Reussite)));
        EXPECT_EQ(port.lecturesMuettes.size(), 0u);
        EXPECT_EQ(EcartAvecLImage(ligne.appareil()), "");
    }

    Ligne ligne;
    PortMesure port;
    BoitesMatrice boites;
    std::optional<Poste> poste;
};

sim::Configuration AvecDefaut(sim::Phase phase, sim::Panne panne, std::uint32_t occurrence,
                              std::uint32_t nombre)
{
    sim::Configuration c;
    c.defauts.push_back({phase, panne, occurrence, nombre});
    return c;
}

TEST_F(FenetreReelle, SilenceAtEnterProgrammingThenYesThenAWholeUpdate)
{
    brancher(AvecDefaut(sim::Phase::EntreeProgrammation, sim::Panne::Silence, 1, 1));
    poste->fenetre.ButtonSuivantClick();
    // One wait tick, four verification ticks, one silent read.
    const double attendu = INTERVALLE_ATTENTE_MS + 4 * INTERVALLE_VERIFICATION_MS + 1100;
    const auto ms = Tourner([&] { return !boites.boites.empty(); }, attendu + MARGE_MS);
    ASSERT_TRUE(ms.has_value()) << "no box; step " << poste->etape();
    EXPECT_GE(*ms, attendu - 50);
    ASSERT_EQ(poste->fenetre.notifications.size(), 2u);
    EXPECT_EQ(poste->fenetre.notifications.back().code, WM_ERREUR_TRANSMISSION);
    EXPECT_EQ(poste->fenetre.notifications.back().wParam, ERREUR_DELAI);
    EXPECT_EQ(boites.boites.back().texte.toStdString(), Texte(TxtProblemeTransmission, 0));
    EXPECT_EQ(port.lecturesMuettes.size(), 1u);
    EXPECT_EQ(ligne.appareil().eeprom(EEPROM_VERSION + 1), 2);
    reprendreJusquALaFin();
}

TEST_F(FenetreReelle, HangUpAtTheTypeCodeThenCablePluggedBackAndYes)
{
    brancher(AvecDefaut(sim::Phase::Type, sim::Panne::Raccroche, 1, 1));
    boites.avantReponse = [&] { ASSERT_TRUE(ligne.brancher({})); };
    poste->fenetre.ButtonSuivantClick();
    const double attendu = INTERVALLE_ATTENTE_MS + INTERVALLE_VERIFICATION_MS;
    const auto ms = Tourner([&] { return !boites.boites.empty(); }, attendu + MARGE_MS);
    ASSERT_TRUE(ms.has_value()) << "no box; step " << poste->etape();
    EXPECT_GE(*ms, attendu - 50);
    EXPECT_EQ(poste->fenetre.notifications.back().code, WM_ERREUR_TRANSMISSION);
    EXPECT_EQ(poste->fenetre.notifications.back().wParam, EIO);
    EXPECT_LE(port.plusLongEchecMs, 100);
    // The next wait finds the new line at its first tick.
    reprendreJusquALaFin();
}

TEST_F(FenetreReelle, EveryAttemptOfTheFirstWordRefusedThenNoEndsTheTool)
{
    brancher(AvecDefaut(sim::Phase::MotProgramme, sim::Panne::MauvaisAcquit, 1, 3));
    boites.reponse = BoitesMessage::Reponse::Non;
    poste->fenetre.ButtonSuivantClick();
    // The image's first record holds the first words: one programming tick.
    const double attendu =
        INTERVALLE_ATTENTE_MS + 4 * INTERVALLE_VERIFICATION_MS + INTERVALLE_PROGRAMMATION_MS;
    const auto ms = Tourner([&] { return !boites.boites.empty(); }, attendu + MARGE_MS);
    ASSERT_TRUE(ms.has_value()) << "no box; step " << poste->etape();
    EXPECT_GE(*ms, attendu - 50);
    EXPECT_EQ(poste->fenetre.notifications.back().code, WM_ERREUR_TRANSMISSION);
    EXPECT_EQ(poste->fenetre.notifications.back().wParam, ERREUR_ACQUITTEMENT);
    EXPECT_EQ(port.lecturesMuettes.size(), 0u);
    EXPECT_FALSE(poste->fenetre.isVisible()) << "No closes the window";
    EXPECT_FALSE(poste->fenetre.minuterie().isActive());
    const sim::Appareil appareil = ligne.appareil();
    EXPECT_EQ(appareil.compteurs().motsEcrits, 0u);
    EXPECT_EQ(appareil.eeprom(EEPROM_VERSION), 16);
    EXPECT_EQ(appareil.eeprom(EEPROM_VERSION + 1), 2);
}

} // namespace
} // namespace korvane::matrice
