// The real loader client against the simulated device, over both ports the simulator offers:
// in memory with a virtual clock, and a pseudo-terminal opened by the POSIX port.

#include "loader/Classek27_v2.h"
#include "loader/PortPosix.h"
#include "loader/ValeurHex.h"
#include "sim/PortSimule.h"
#include "sim/SimulateurPty.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

using namespace korvane;
using namespace korvane::sim;

namespace {

// A few Intel HEX records, decoded the way the programming loop decodes them.
struct Mot {
    std::uint32_t adresse;
    std::uint32_t valeur;
};

std::vector<Mot> motsDes(std::initializer_list<std::string_view> enregistrements)
{
    std::vector<Mot> mots;
    for (std::string_view e : enregistrements) {
        const auto octet = [&](std::size_t p) { return ValeurHex(e[p], e[p + 1]); };
        const int nombre = octet(1) / 2;
        const std::uint32_t adresse = (octet(3) * 256 + octet(5)) / 2;
        for (int i = 0; i < nombre; ++i)
            mots.push_back({adresse + i, static_cast<std::uint32_t>(octet(11 + 4 * i) * 256 +
                                                                    octet(9 + 4 * i))});
    }
    return mots;
}

const std::vector<Mot> MOTS = motsDes({
    ":100060008A110A12FA288A110A1252298A110A12CE",
    ":0820000003308A00FF3F0000EE", // word 0x1000
    ":02377E00FF3F0B",             // word 7103, the last that may be written
});

// One way to reach the simulated device.
class Banc {
public:
    virtual ~Banc() = default;
    virtual CK27V2& client() = 0;
    // The device as it is once it has handled everything sent so far that it answers;
    // `pret` tells when a command without an answer has been handled too.
    virtual Appareil appareil(std::function<bool(const Appareil&)> pret = {}) = 0;
};

class BancMemoire : public Banc {
public:
    explicit BancMemoire(const Configuration& config) : m_port(config), m_client(m_port) {}
    CK27V2& client() override { return m_client; }
    Appareil appareil(std::function<bool(const Appareil&)>) override { return m_port.appareil(); }
    PortSimule& port() { return m_port; }

private:
    PortSimule m_port;
    CK27V2 m_client;
};

class BancPty : public Banc {
public:
    explicit BancPty(const Configuration& config) : m_sim(config)
    {
        std::string erreur;
        EXPECT_TRUE(m_sim.demarrer(&erreur)) << erreur;
        ::setenv("KORVANE_COM1", m_sim.cheminEsclave().c_str(), 1);
        m_client = std::make_unique<CK27V2>(m_port);
        m_client->ChoisirPort(0);
    }
    ~BancPty() override
    {
        m_client.reset();
        m_sim.arreter();
        ::unsetenv("KORVANE_COM1");
    }
    CK27V2& client() override { return *m_client; }
    Appareil appareil(std::function<bool(const Appareil&)> pret) override
    {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        Appareil a = m_sim.instantane();
        while (pret && !pret(a) && std::chrono::steady_clock::now() < fin) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            a = m_sim.instantane();
        }
        return a;
    }

private:
    SimulateurPty m_sim;
    PortPosix m_port;
    std::unique_ptr<CK27V2> m_client;
};

using Fabrique = std::unique_ptr<Banc> (*)(const Configuration&);

std::unique_ptr<Banc> enMemoire(const Configuration& c)
{
    return std::make_unique<BancMemoire>(c);
}
std::unique_ptr<Banc> surPty(const Configuration& c)
{
    return std::make_unique<BancPty>(c);
}

class ChargeurSimule : public ::testing::TestWithParam<Fabrique> {
protected:
    std::unique_ptr<Banc> banc(const Configuration& config = {}) { return GetParam()(config); }
};

} // namespace

TEST_P(ChargeurSimule, whole_session_lands_in_memory_descrambled)
{
    for (std::uint8_t mode : {3, 1}) {
        SCOPED_TRACE(mode);
        Configuration config;
        config.mode = mode;
        auto b = banc(config);
        CK27V2& c = b->client();
        ASSERT_EQ(c.Connecter(1), 0);
        EXPECT_EQ(c.VerifierType(), 0);
        std::int32_t lu = 0;
        EXPECT_EQ(c.LireMode(lu), 0);
        EXPECT_EQ(lu, mode);
        std::uint32_t serie = 0;
        EXPECT_EQ(c.LireNumeroSerie(serie), 0);
        EXPECT_EQ(serie, 612345678u);
        std::int32_t majeure = 0, mineure = 0;
        EXPECT_EQ(c.LireVersion(majeure, mineure), 0);
        EXPECT_EQ(majeure, 16);
        EXPECT_EQ(mineure, 2);
        ASSERT_EQ(c.Preparer(), 0);
        ASSERT_EQ(c.EntrerProgrammation(), 0);
        for (const Mot& m : MOTS)
            ASSERT_EQ(c.EcrireMotProgramme(m.adresse, m.valeur), 0) << m.adresse;
        ASSERT_EQ(c.EcrireVersion(16, 3), 0);
        ASSERT_EQ(c.SortirProgrammation(), 0);
        EXPECT_EQ(c.EstConnecte(), 0);

        const Appareil a = b->appareil([](const Appareil& x) { return !x.connecte(); });
        EXPECT_FALSE(a.connecte());
        std::size_t ecrits = 0;
        for (std::size_t adresse = 0; adresse < TAILLE_PROGRAMME; ++adresse)
            ecrits += a.motEcrit(adresse);
        EXPECT_EQ(ecrits, MOTS.size());
        for (const Mot& m : MOTS) {
            EXPECT_TRUE(a.motEcrit(m.adresse)) << m.adresse;
            EXPECT_EQ(a.mot(m.adresse), m.valeur) << m.adresse;
        }
        EXPECT_EQ(a.mot(48), 0x118A);
        EXPECT_EQ(a.mot(0x1000), 0x3003);
        EXPECT_EQ(a.mot(7103), 0x3FFF);
        EXPECT_EQ(a.eeprom(126), 16);
        EXPECT_EQ(a.eeprom(127), 3);
        // The version goes in last, after every word.
        const auto& journal = a.journal();
        ASSERT_EQ(journal.size(), MOTS.size() + 2);
        EXPECT_EQ(journal[journal.size() - 2], (Ecriture{Ecriture::Genre::Eeprom, 126, 16}));
        EXPECT_EQ(journal.back(), (Ecriture{Ecriture::Genre::Eeprom, 127, 3}));
        EXPECT_EQ(a.compteurs().commandesMot, MOTS.size()) << "no retry needed";
    }
}

TEST_P(ChargeurSimule, busy_answer_then_connection)
{
    Configuration config;
    config.repriseAvantConnexion = true;
    auto b = banc(config);
    EXPECT_EQ(b->client().Connecter(1), 0);
    EXPECT_EQ(b->client().EstConnecte(), 1);
    const Appareil a = b->appareil();
    EXPECT_EQ(a.compteurs().connexions, 2u);
    EXPECT_EQ(a.compteurs().reinitialisations, 1u);
}

TEST_P(ChargeurSimule, refusals_and_wrong_acknowledgements)
{
    {
        Configuration config;
        config.codeType = "k27";
        auto b = banc(config);
        ASSERT_EQ(b->client().Connecter(1), 0);
        EXPECT_EQ(b->client().VerifierType(), ERREUR_TYPE_APPAREIL);
    }
    {
        // One bad answer: the client's retry goes through.
        Configuration config;
        config.defauts = {{Phase::MotProgramme, Panne::MauvaisAcquit, 2, 1}};
        auto b = banc(config);
        CK27V2& c = b->client();
        ASSERT_EQ(c.Connecter(1), 0);
        ASSERT_EQ(c.Preparer(), 0);
        ASSERT_EQ(c.EntrerProgrammation(), 0);
        EXPECT_EQ(c.EcrireMotProgramme(48, 0x118A), 0);
        EXPECT_EQ(c.EcrireMotProgramme(49, 0x120A), 0);
        const Appareil a = b->appareil();
        EXPECT_EQ(a.compteurs().commandesMot, 3u);
        EXPECT_EQ(a.mot(49), 0x120A);
    }
    {
        // Every attempt of the second word answered wrong: the user sees it.
        Configuration config;
        config.defauts = {{Phase::MotProgramme, Panne::MauvaisAcquit, 2, 0}};
        auto b = banc(config);
        CK27V2& c = b->client();
        ASSERT_EQ(c.Connecter(1), 0);
        ASSERT_EQ(c.Preparer(), 0);
        ASSERT_EQ(c.EntrerProgrammation(), 0);
        EXPECT_EQ(c.EcrireMotProgramme(48, 0x118A), 0);
        EXPECT_EQ(c.EcrireMotProgramme(49, 0x120A), ERREUR_ACQUITTEMENT);
        const Appareil a = b->appareil();
        EXPECT_FALSE(a.motEcrit(49));
        EXPECT_GE(a.compteurs().commandesMot, 1u + 3u) << "a bounded number of attempts";
        EXPECT_LE(a.compteurs().commandesMot, 1u + 4u);
    }
}

TEST_P(ChargeurSimule, hang_up_is_a_port_failure)
{
    Configuration config;
    config.defauts = {{Phase::Type, Panne::Raccroche}};
    auto b = banc(config);
    CK27V2& c = b->client();
    ASSERT_EQ(c.Connecter(1), 0);
    const StatutChargeur s = c.VerifierType();
    EXPECT_NE(s, 0);
    EXPECT_NE(s, ERREUR_DELAI) << "a dropped line is not a silent one";
    EXPECT_NE(s, ERREUR_TYPE_APPAREIL);
    EXPECT_TRUE(b->appareil().raccroche());
}

INSTANTIATE_TEST_SUITE_P(Ports, ChargeurSimule, ::testing::Values(&enMemoire, &surPty),
                         [](const auto& info) {
                             return std::string(info.index == 0 ? "memoire" : "pty");
                         });

// Silence costs virtual time only on the in-memory port.
TEST(ChargeurSimuleVirtuel, silence_and_late_device_cost_virtual_time)
{
    const auto debut = std::chrono::steady_clock::now();
    {
        Configuration config;
        config.connexionsIgnorees = 2;
        PortSimule port(config);
        CK27V2 c(port);
        const std::uint32_t t0 = port.horloge();
        EXPECT_EQ(c.Connecter(1), ERREUR_DELAI);
        EXPECT_GE(port.horloge() - t0, 1100u);
        EXPECT_EQ(port.ecrits(), std::vector<std::uint8_t>{0x80}) << "one exchange in a second";
        EXPECT_EQ(c.Connecter(1), ERREUR_DELAI);
        EXPECT_EQ(c.Connecter(1), 0);
    }
    {
        Configuration config;
        config.defauts = {{Phase::MotProgramme, Panne::Silence, 1, 0}};
        PortSimule port(config);
        CK27V2 c(port);
        ASSERT_EQ(c.Connecter(1), 0);
        ASSERT_EQ(c.Preparer(), 0);
        ASSERT_EQ(c.EntrerProgrammation(), 0);
        const std::uint32_t t0 = port.horloge();
        EXPECT_EQ(c.EcrireMotProgramme(48, 0x118A), ERREUR_DELAI);
        const std::uint32_t tentatives = port.appareil().compteurs().commandesMot;
        EXPECT_GE(tentatives, 3u);
        EXPECT_GE(port.horloge() - t0, 1100u * tentatives);
        EXPECT_EQ(port.purges(), 1u) << "only the handshake purges: silence is no wrong answer";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - debut, std::chrono::seconds(1));
}
