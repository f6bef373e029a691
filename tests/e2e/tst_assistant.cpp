// Whole updates clicked through the real window, with the real loader client on a POSIX
// serial line (a pseudo-terminal) and a simulated Korvane at the other end. The engine's timer
// intervals are divided so that each update takes a second or two.

#include "Banc.h"
#include "Cordon.h"
#include "loader/Classek27_v2.h"
#include "sim/SimulateurPty.h"
#include "text/Catalogue.h"

#include <QGroupBox>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace korvane::e2e {
namespace {

using namespace std::chrono_literals;
using Reponse = BoitesMessage::Reponse;
using TypeBoite = BoitesMessage::Type;
using Boutons = BoitesMessage::Boutons;

constexpr double DIVISEUR = 100.0;
constexpr auto LIMITE_MISE_A_JOUR = 60s;

QString etapeSur(int etape)
{
    return QString::fromStdString(FormaterEtapeSur(0, etape, NOMBRE_ETAPES));
}

// Two units in a row on the same cable: the first updated from step 1 to step 9, then Yes and
// the second one, plugged in its place, updated the same way.
TEST(Assistant, TwoUnitsOnTheSameCableAreEachUpdatedWordForWord)
{
    DossierTemporaire dossier;
    sim::Configuration premiere;
    sim::Configuration seconde;
    seconde.numeroSerie = 699999999;
    seconde.versionMajeure = 15;
    seconde.versionMineure = 255;

    sim::SimulateurPty appareil1(premiere);
    ASSERT_TRUE(appareil1.demarrer());
    Cordon cordon;
    ASSERT_TRUE(cordon.ouvrir(dossier.chemin("ttyK27")));
    ASSERT_TRUE(cordon.brancher(appareil1.cheminEsclave()));
    brancherCom1(cordon.lien());

    BoitesScriptees boites;
    Pilote p(boites, DIVISEUR);
    EXPECT_TRUE(p.controle<QRadioButton>("RadioCOM1")->isChecked());
    EXPECT_FALSE(p.controle<QRadioButton>("RadioCOM2")->isEnabled());

    ASSERT_TRUE(p.allerJusquaConnexion());
    EXPECT_EQ(p.etape(), 6);
    ASSERT_TRUE(p.attendreEtape(9, LIMITE_MISE_A_JOUR)) << "stopped at step " << p.etape();
    EXPECT_TRUE(boites.appels.empty());
    EXPECT_EQ(p.texte("LabelTitreEtape"), T(TxtTitreReussite));
    EXPECT_EQ(p.texte("LabelBarreProgression"), T(TxtAutreAppareil));
    EXPECT_EQ(p.texte("EditEtape"), etapeSur(9));
    EXPECT_EQ(p.texte("ButtonPrecedant"), T(TxtOui));
    EXPECT_EQ(p.texte("ButtonQuitter"), T(TxtNon));
    EXPECT_FALSE(p.visible("ButtonSuivant"));

    // Leaving programming mode, which has no answer, ended the session.
    EXPECT_TRUE(attendreAppareil(appareil1, [](const sim::Appareil& a) { return !a.connecte(); }));
    const sim::Appareil unite1 = appareil1.instantane();
    EXPECT_TRUE(memoireConforme(unite1));
    EXPECT_EQ(unite1.compteurs().motsEcrits, 5960u);
    EXPECT_EQ(unite1.compteurs().ecrituresEeprom, 2u);

    // The user unplugs the first unit and plugs in the second, then answers Yes.
    cordon.debrancher();
    appareil1.arreter();
    sim::SimulateurPty appareil2(seconde);
    ASSERT_TRUE(appareil2.demarrer());
    ASSERT_TRUE(cordon.brancher(appareil2.cheminEsclave()));

    ASSERT_TRUE(p.cliquer("ButtonPrecedant"));
    EXPECT_EQ(p.etape(), 5);
    EXPECT_EQ(p.texte("EditEtape"), etapeSur(5));
    EXPECT_EQ(p.texte("ButtonPrecedant"), T(TxtPrecedent));
    EXPECT_TRUE(p.visible("ButtonPrecedant"));
    ASSERT_TRUE(p.cliquer("ButtonSuivant")); // Connect
    ASSERT_TRUE(p.attendreEtape(9, LIMITE_MISE_A_JOUR)) << "stopped at step " << p.etape();
    EXPECT_TRUE(boites.appels.empty());

    const sim::Appareil unite2 = appareil2.instantane();
    EXPECT_TRUE(memoireConforme(unite2));
    EXPECT_EQ(unite2.compteurs().motsEcrits, 5960u);
    // The serial number went untouched; the first unit got nothing more.
    EXPECT_EQ(unite2.eeprom(EEPROM_NUMERO_SERIE + 3), 699999999u >> 24);
    EXPECT_EQ(appareil1.instantane().journal().size(), unite1.journal().size());

    // No at step 9 ends the tool.
    ASSERT_TRUE(p.cliquer("ButtonQuitter"));
    EXPECT_FALSE(p.fenetre().isVisible());
}

// A refused device: the box with its text and type, nothing written, and the answer.
struct Refus {
    const char* nom;
    std::function<void(sim::Configuration&)> regler;
    CleTexte texte;
    TypeBoite type;
    Reponse reponse;
    std::uint32_t numeroAffiche; // 0: the serial number line stays hidden
};

// Names the case in test listings, rather than its bytes.
void PrintTo(const Refus& cas, std::ostream* sortie)
{
    *sortie << cas.nom;
}

class Refuse : public BancSimule, public ::testing::WithParamInterface<Refus> {};

TEST_P(Refuse, ShowsItsBoxAndWritesNothing)
{
    const Refus& cas = GetParam();
    sim::Configuration config;
    cas.regler(config);
    demarrer(config, false, DIVISEUR);
    if (HasFatalFailure())
        return;
    const auto eepromAvant = m_sim->instantane().eeprom();

    struct Vu {
        bool connecte;
        bool ligne2;
        QString numero;
    };
    std::vector<Vu> vus;
    m_boites.pendant = [&] {
        vus.push_back({m_sim->instantane().connecte(), m_pilote->visible("LabelLigne2"),
                       m_pilote->texte("LabelLigne2")});
    };
    m_boites.reponses = {cas.reponse};

    Pilote& p = *m_pilote;
    ASSERT_TRUE(p.allerJusquaConnexion());
    ASSERT_TRUE(p.attendre([&] { return !m_boites.appels.empty(); }, 30s));

    ASSERT_EQ(m_boites.appels.size(), 1u);
    const auto& boite = m_boites.appels[0];
    EXPECT_EQ(boite.type, cas.type);
    EXPECT_EQ(boite.texte, T(cas.texte));
    EXPECT_EQ(boite.boutons, Boutons::OuiNon);
    EXPECT_EQ(boite.etape, 7);
    ASSERT_EQ(vus.size(), 1u);
    EXPECT_FALSE(vus[0].connecte) << "the loader connection was not reset before the box";
    EXPECT_EQ(vus[0].ligne2, cas.numeroAffiche != 0);
    if (cas.numeroAffiche != 0) {
        EXPECT_EQ(vus[0].numero, QString::fromStdString(FormaterNumeroSerie(0, cas.numeroAffiche)));
    }

    const sim::Appareil appareil = m_sim->instantane();
    EXPECT_TRUE(appareil.journal().empty());
    EXPECT_EQ(appareil.compteurs().commandesMot, 0u);
    EXPECT_EQ(appareil.eeprom(), eepromAvant);
    EXPECT_EQ(appareil.etat(), sim::EtatAppareil::Repos);

    if (cas.reponse == Reponse::Oui) {
        // Ready for another device: step 5 with Connect, without the Previous button.
        EXPECT_EQ(p.etape(), 5);
        EXPECT_EQ(p.texte("EditEtape"), etapeSur(5));
        EXPECT_EQ(p.texte("ButtonSuivant"), T(TxtConnexion));
        EXPECT_TRUE(p.controle("ButtonSuivant")->isEnabled());
        EXPECT_FALSE(p.visible("ButtonPrecedant"));
        EXPECT_TRUE(p.fenetre().isVisible());
    } else {
        EXPECT_FALSE(p.fenetre().isVisible()) << "No did not end the tool";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Appareils, Refuse,
    ::testing::Values(Refus{"TypeCode", [](auto& c) { c.codeType = "K28"; }, TxtPasUnKorvane,
                            TypeBoite::Erreur, Reponse::Oui, 0},
                      Refus{"Mode2", [](auto& c) { c.mode = 2; }, TxtVersionIncompatible,
                            TypeBoite::Erreur, Reponse::Non, 0},
                      Refus{"Serial599999999", [](auto& c) { c.numeroSerie = 599999999; },
                            TxtNumeroSerieInvalide, TypeBoite::Erreur, Reponse::Oui, 599999999},
                      Refus{"Serial700000000", [](auto& c) { c.numeroSerie = 700000000; },
                            TxtNumeroSerieInvalide, TypeBoite::Erreur, Reponse::Non, 700000000},
                      Refus{"Version16_3",
                            [](auto& c) {
                                c.versionMajeure = 16;
                                c.versionMineure = 3;
                            },
                            TxtDejaAJour, TypeBoite::Information, Reponse::Oui, 612345678},
                      Refus{"Version17_0",
                            [](auto& c) {
                                c.versionMajeure = 17;
                                c.versionMineure = 0;
                            },
                            TxtPlusRecente, TypeBoite::Information, Reponse::Oui, 612345678}),
    [](const auto& info) { return std::string(info.param.nom); });

// Every attempt of one word write fails in the middle of programming: the error box, Yes, and
// a new attempt on the same device that completes.
class ErreurTransmission : public BancSimule {};

TEST_F(ErreurTransmission, YesRetriesOnTheSameDeviceAndCompletes)
{
    sim::Configuration config;
    // Write 2000 and its two retries are answered with a wrong byte.
    config.defauts.push_back({sim::Phase::MotProgramme, sim::Panne::MauvaisAcquit, 2000, 3});
    demarrer(config, false, DIVISEUR);
    if (HasFatalFailure())
        return;

    struct Vu {
        bool connecte;
        sim::EtatAppareil etat;
        std::uint32_t mots;
        std::uint8_t versionMineure;
    };
    std::vector<Vu> vus;
    m_boites.pendant = [&] {
        // Leaving programming mode has no answer: give the device a moment to take it.
        attendreAppareil(*m_sim, [](const sim::Appareil& a) { return !a.connecte(); });
        const sim::Appareil a = m_sim->instantane();
        vus.push_back({a.connecte(), a.etat(), a.compteurs().motsEcrits, a.eeprom(127)});
    };
    m_boites.reponses = {Reponse::Oui};

    Pilote& p = *m_pilote;
    ASSERT_TRUE(p.allerJusquaConnexion());
    ASSERT_TRUE(p.attendre([&] { return !m_boites.appels.empty(); }, LIMITE_MISE_A_JOUR));
    ASSERT_EQ(m_boites.appels.size(), 1u);
    EXPECT_EQ(m_boites.appels[0].type, TypeBoite::Erreur);
    EXPECT_EQ(m_boites.appels[0].texte, T(TxtProblemeTransmission));
    EXPECT_EQ(m_boites.appels[0].boutons, Boutons::OuiNon);
    EXPECT_EQ(m_boites.appels[0].etape, 8);
    ASSERT_EQ(vus.size(), 1u);
    // The session was ended before the box; the words before the failed one are in, and the
    // old version is still there, so that the device passes verification again.
    EXPECT_FALSE(vus[0].connecte);
    EXPECT_EQ(vus[0].etat, sim::EtatAppareil::Repos);
    EXPECT_EQ(vus[0].mots, 1999u);
    EXPECT_EQ(vus[0].versionMineure, 2);
    EXPECT_EQ(m_sim->instantane().occurrences(sim::Phase::MotProgramme), 2002u);

    // Yes: step 5, where Previous has stayed hidden since step 7.
    EXPECT_EQ(p.etape(), 5);
    EXPECT_FALSE(p.visible("ButtonPrecedant"));
    ASSERT_TRUE(p.cliquer("ButtonSuivant")); // Connect
    ASSERT_TRUE(p.attendreEtape(9, LIMITE_MISE_A_JOUR)) << "stopped at step " << p.etape();
    EXPECT_EQ(m_boites.appels.size(), 1u);
    EXPECT_TRUE(memoireConforme(m_sim->instantane()));
}

} // namespace
} // namespace korvane::e2e
