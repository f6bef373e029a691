// The loader client against the scripted port: byte-exact transcripts, statuses and state.

#include "loader/Classek27_v2.h"
#include "loader/PortNames.h"
#include "loader/ValeurHex.h"
#include "tests/support/FakePort.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace korvane;
using korvane::test::FakePort;
using Op = FakePort::Op;

namespace {

const std::string kOuverture = "O:\\.\\COM1 GS SS9600 GT ST1100";

// A client on its fake port, brought into the state a case needs.
struct Banc {
    FakePort port;
    CK27V2 client{port};

    void ouvert()
    {
        ASSERT_EQ(client.Ouvrir(), 0);
        port.clearTranscript();
    }
    void connecte()
    {
        port.reply({0x81});
        ASSERT_EQ(client.Connecter(1), 0);
        ASSERT_EQ(client.EstConnecte(), 1);
        port.clearTranscript();
    }
    void modeLu(std::int32_t mode)
    {
        char car[3];
        std::snprintf(car, sizeof car, "%02X", mode);
        port.reply(std::string(car));
        std::int32_t m = 0;
        ASSERT_EQ(client.LireMode(m), 0);
        port.clearTranscript();
    }
    void prepare()
    {
        port.reply({0x84});
        ASSERT_EQ(client.Preparer(), 0);
        port.clearTranscript();
    }
    void programmation(std::int32_t mode)
    {
        connecte();
        modeLu(mode);
        prepare();
        port.reply({0x84});
        ASSERT_EQ(client.EntrerProgrammation(), 0);
        ASSERT_EQ(client.Etat(), ETAT_PROGRAMMATION);
        port.clearTranscript();
    }
};

enum class Depart { Ferme, Ouvert, Connecte, Prepare, Programmation1, Programmation3 };

void amener(Banc& b, Depart d)
{
    switch (d) {
    case Depart::Ferme:
        break;
    case Depart::Ouvert:
        b.ouvert();
        break;
    case Depart::Connecte:
        b.connecte();
        break;
    case Depart::Prepare:
        b.connecte();
        b.prepare();
        break;
    case Depart::Programmation1:
        b.programmation(1);
        break;
    case Depart::Programmation3:
        b.programmation(3);
        break;
    }
}

// One operation from a known state: what the device does, the status, the bytes on the line.
struct Cas {
    const char* nom;
    Depart depart;
    std::function<void(FakePort&)> script;
    std::function<StatutChargeur(CK27V2&)> operation;
    StatutChargeur statut;
    std::string transcript;
    std::int32_t connecte = -1; // -1: not checked
    std::int32_t etat = -1;
    std::int32_t mode = -1;
};

void jouer(const Cas& c)
{
    SCOPED_TRACE(c.nom);
    Banc b;
    amener(b, c.depart);
    if (c.script) {
        c.script(b.port);
    }
    const StatutChargeur s = c.operation(b.client);
    EXPECT_EQ(s, c.statut);
    EXPECT_EQ(b.client.Statut(), s);
    EXPECT_EQ(b.port.transcript(), c.transcript);
    if (c.connecte >= 0) {
        EXPECT_EQ(b.client.EstConnecte(), c.connecte);
    }
    if (c.etat >= 0) {
        EXPECT_EQ(b.client.Etat(), c.etat);
    }
    if (c.mode >= 0) {
        EXPECT_EQ(b.client.Mode(), c.mode);
    }
    EXPECT_EQ(b.port.pending(), 0u) << "the device sent more than was read";
}

} // namespace

// ---- Construction and the port side ------------------------------------------------------

TEST(Client, StartsClosedWithTheLineSettingsAndTimeLimits)
{
    FakePort port;
    CK27V2 c(port);
    EXPECT_FALSE(c.PortOuvert());
    EXPECT_STREQ(c.NomDuPort(), "\\.\\COM1");
    EXPECT_EQ(c.EstConnecte(), 0);
    EXPECT_EQ(c.Etat(), ETAT_REPOS);
    EXPECT_EQ(c.Mode(), 0);
    EXPECT_EQ(c.Statut(), 0);

    const LineSettings& s = c.ReglagesPort();
    EXPECT_EQ(s.length, 28u);
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_TRUE(s.binary);
    EXPECT_TRUE(s.parityCheck);
    EXPECT_FALSE(s.outxCtsFlow || s.outxDsrFlow || s.dsrSensitivity || s.txContinueOnXoff ||
                 s.outX || s.inX || s.errorCharEnabled || s.nullStrip || s.abortOnError);
    EXPECT_EQ(s.dtrControl, 0);
    EXPECT_EQ(s.rtsControl, 1);
    EXPECT_EQ(s.xonLim, 100);
    EXPECT_EQ(s.xoffLim, 100);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 2);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.xonChar, 0x01);
    EXPECT_EQ(s.xoffChar, 0x02);
    EXPECT_EQ(s.errorChar, 0x04);
    EXPECT_EQ(s.eofChar, 0x00);
    EXPECT_EQ(s.evtChar, 0x03);
    EXPECT_FALSE(s.hasNative);

    const Timeouts& d = c.DelaisDuPort();
    EXPECT_EQ(d.readInterval, 500u);
    EXPECT_EQ(d.readTotalMultiplier, 100u);
    EXPECT_EQ(d.readTotalConstant, 1000u);
    EXPECT_EQ(d.writeTotalMultiplier, 100u);
    EXPECT_EQ(d.writeTotalConstant, 1000u);
    EXPECT_EQ(port.transcript(), "");
}

TEST(Client, ChoisirPortNamesTheNextOpenOnly)
{
    const struct {
        std::int32_t index;
        const char* nom;
    } cas[] = {{0, "\\.\\COM1"},  {3, "\\.\\COM4"},  {8, "\\.\\COM9"},
               {9, "\\.\\COM10"}, {10, "\\.\\COM1"}, {-1, "\\.\\COM1"}};
    Banc b;
    b.ouvert();
    b.port.fail(Op::Purge, EIO);
    EXPECT_EQ(b.client.Purger(), EIO);
    for (const auto& c : cas) {
        b.client.ChoisirPort(c.index);
        EXPECT_STREQ(b.client.NomDuPort(), c.nom) << c.index;
    }
    EXPECT_EQ(b.client.Statut(), EIO) << "ChoisirPort keeps the last status";
    EXPECT_TRUE(b.client.PortOuvert());
    EXPECT_EQ(b.port.transcript(), "P!5") << "the open port is not touched";

    b.client.ChoisirPort(9);
    b.port.reply({0x00});
    EXPECT_EQ(b.client.Ouvrir(), 0);
    EXPECT_EQ(b.port.events().back().op, Op::SetTimeouts);
    EXPECT_NE(b.port.transcript().find("O:\\.\\COM10"), std::string::npos);
}

TEST(Client, ReglerVitesseKeepsOnlyKnownRates)
{
    const struct {
        std::int32_t demande;
        std::uint32_t retenue;
    } cas[] = {{12345, 9600},  {57600, 57600}, {110, 110},    {256000, 256000},
               {14400, 14400}, {0, 9600},      {-9600, 9600}, {115201, 9600}};
    for (const auto& c : cas) {
        SCOPED_TRACE(c.demande);
        Banc b;
        EXPECT_EQ(b.client.ReglerVitesse(c.demande), 0);
        EXPECT_EQ(b.client.ReglagesPort().baudRate, c.retenue);
        EXPECT_EQ(b.port.transcript(), "") << "a closed port only stores the rate";

        b.ouvert();
        EXPECT_EQ(b.client.ReglerVitesse(c.demande), 0);
        EXPECT_EQ(b.port.transcript(), "SS" + std::to_string(c.retenue));
        EXPECT_EQ(b.port.settings().baudRate, c.retenue);
    }
    Banc b;
    b.ouvert();
    b.port.fail(Op::SetSettings, EINVAL);
    EXPECT_EQ(b.client.ReglerVitesse(57600), EINVAL);
    EXPECT_EQ(b.client.Statut(), EINVAL);
}

TEST(Client, ClosedPortOperationsMakeNoSystemCall)
{
    const struct {
        const char* nom;
        std::function<StatutChargeur(CK27V2&, std::int32_t&)> op;
    } cas[] = {
        {"EcrireOctet", [](CK27V2& c, std::int32_t&) { return c.EcrireOctet(0x80); }},
        {"LireOctet", [](CK27V2& c, std::int32_t& v) { return c.LireOctet(v); }},
        {"Purger", [](CK27V2& c, std::int32_t&) { return c.Purger(); }},
        {"Reinitialiser", [](CK27V2& c, std::int32_t&) { return c.Reinitialiser(); }},
        {"SortirProgrammation", [](CK27V2& c, std::int32_t&) { return c.SortirProgrammation(); }},
        {"EnvoyerHex", [](CK27V2& c, std::int32_t&) { return c.EnvoyerHex(0x3E); }},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        FakePort port;
        CK27V2 client(port);
        std::int32_t valeur = -7;
        EXPECT_EQ(c.op(client, valeur), ERREUR_PORT_FERME);
        EXPECT_EQ(client.Statut(), ERREUR_PORT_FERME);
        EXPECT_EQ(valeur, -7);
        EXPECT_EQ(port.transcript(), "");
    }
}

TEST(Client, FermerOnAClosedPortSucceedsSilently)
{
    Banc b;
    std::int32_t v = 0;
    EXPECT_EQ(b.client.LireOctet(v), ERREUR_PORT_FERME);
    EXPECT_EQ(b.client.Fermer(), 0);
    EXPECT_EQ(b.client.Statut(), 0);
    EXPECT_EQ(b.port.transcript(), "");
}

TEST(Client, OuvrirAppliesTheLineAndFermerRestoresThePortsOwn)
{
    Banc b;
    EXPECT_EQ(b.client.Ouvrir(), 0);
    EXPECT_TRUE(b.client.PortOuvert());
    EXPECT_EQ(b.port.transcript(), kOuverture);
    EXPECT_EQ(b.port.settings().baudRate, 9600u);
    EXPECT_FALSE(b.port.settings().hasNative);
    EXPECT_EQ(b.port.timeouts().readTotalConstant, 1000u);

    // Opening an open port closes it first: reset byte, own settings back, then open again.
    b.port.clearTranscript();
    b.port.reply({0x00});
    EXPECT_EQ(b.client.Ouvrir(), 0);
    EXPECT_EQ(b.port.transcript(), "W04 R00 SS9600 SS9600 SS* ST5 C " + kOuverture);

    b.port.clearTranscript();
    b.port.reply({0x00});
    EXPECT_EQ(b.client.Fermer(), 0);
    EXPECT_EQ(b.port.transcript(), "W04 R00 SS9600 SS9600 SS* ST5 C");
    EXPECT_FALSE(b.client.PortOuvert());
    EXPECT_FALSE(b.port.isOpen());
    EXPECT_EQ(b.port.settings().native, FakePort::ownSettings().native);
    EXPECT_EQ(b.port.timeouts().readTotalConstant, FakePort::ownTimeouts().readTotalConstant);
    EXPECT_EQ(b.port.timeouts().writeTotalConstant, FakePort::ownTimeouts().writeTotalConstant);
}

TEST(Client, OuvrirFailuresAndWhatStaysOpen)
{
    // The open itself failing leaves the port closed; a later step leaves it open, and the
    // next Fermer restores only what was saved (restoring settings never read would put a
    // zeroed line on the port) and closes it.
    const struct {
        Op op;
        bool resteOuvert;
        const char* transcript;
        const char* fermeture;
    } cas[] = {
        {Op::Open, false, "O!2", ""},
        {Op::GetSettings, true, "O:\\.\\COM1 GS!2", "W04 R- SS9600 C"},
        {Op::SetSettings, true, "O:\\.\\COM1 GS SS9600!2", "W04 R- SS9600 SS* C"},
        {Op::GetTimeouts, true, "O:\\.\\COM1 GS SS9600 GT!2", "W04 R- SS9600 SS* C"},
        {Op::SetTimeouts, true, "O:\\.\\COM1 GS SS9600 GT ST1100!2", "W04 R- SS9600 SS* ST5 C"},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.transcript);
        Banc b;
        b.port.fail(c.op, ENOENT);
        EXPECT_EQ(b.client.Ouvrir(), ENOENT);
        EXPECT_EQ(b.client.Statut(), ENOENT);
        EXPECT_EQ(b.client.PortOuvert(), c.resteOuvert);
        EXPECT_EQ(b.port.transcript(), c.transcript);

        b.port.clearTranscript();
        b.port.silence();
        EXPECT_EQ(b.client.Fermer(), 0);
        EXPECT_EQ(b.port.transcript(), c.fermeture);
        EXPECT_FALSE(b.client.PortOuvert());
        EXPECT_FALSE(b.port.isOpen());
    }
}

TEST(Client, FermerThatCannotRestoreLeavesThePortOpenAndTriesAgain)
{
    // A restore refused by a line that is still there leaves the port open; a line that has
    // gone (EIO, ENXIO) is closed anyway, or the port could never be opened again.
    const struct {
        Op op;
        int skip;
        std::int32_t err;
        const char* transcript;
        bool resteOuvert;
    } cas[] = {
        {Op::SetSettings, 2, EINVAL, "W04 R00 SS9600 SS9600 SS*!22", true},
        {Op::SetTimeouts, 0, EACCES, "W04 R00 SS9600 SS9600 SS* ST5!13", true},
        {Op::Close, 0, EIO, "W04 R00 SS9600 SS9600 SS* ST5 C!5", true},
        {Op::SetSettings, 2, EIO, "W04 R00 SS9600 SS9600 SS*!5 C", false},
        {Op::SetTimeouts, 0, ENXIO, "W04 R00 SS9600 SS9600 SS* ST5!6 C", false},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.transcript);
        Banc b;
        b.connecte();
        b.port.fail(c.op, c.err, c.skip);
        b.port.reply({0x00});
        EXPECT_EQ(b.client.Fermer(), c.err);
        EXPECT_EQ(b.port.transcript(), c.transcript);
        EXPECT_EQ(b.client.PortOuvert(), c.resteOuvert);
        EXPECT_EQ(b.port.isOpen(), c.resteOuvert);
        EXPECT_EQ(b.client.EstConnecte(), 0);
        EXPECT_EQ(b.client.Etat(), ETAT_REPOS);

        b.port.clearTranscript();
        b.port.reply({0x00});
        EXPECT_EQ(b.client.Fermer(), 0);
        EXPECT_EQ(b.port.transcript(), c.resteOuvert ? "W04 R00 SS9600 SS9600 SS* ST5 C" : "");
        EXPECT_FALSE(b.client.PortOuvert());
    }
}

TEST(Client, LireOctetWritesItsValueOnlyWhenAByteCame)
{
    Banc b;
    b.ouvert();
    std::int32_t v = -1;
    b.port.reply({0xFF});
    EXPECT_EQ(b.client.LireOctet(v), 0);
    EXPECT_EQ(v, 255);

    v = -1;
    const std::uint32_t avant = b.port.now();
    EXPECT_EQ(b.client.LireOctet(v), ERREUR_DELAI);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(b.port.now() - avant, 1100u) << "a silent line costs the whole read limit";

    b.port.readFailure(EIO);
    EXPECT_EQ(b.client.LireOctet(v), EIO);
    EXPECT_EQ(v, -1);
    b.port.fail(Op::Write, EIO);
    EXPECT_EQ(b.client.EcrireOctet(0x55), EIO);
    EXPECT_EQ(b.client.EcrireOctet(0x55), 0);
    EXPECT_EQ(b.port.transcript(), "RFF R- R!5 W55!5 W55");
}

TEST(Client, PatienterSpinsOnTheTickCounterAndKeepsTheStatus)
{
    Banc b;
    b.ouvert();
    b.port.fail(Op::Purge, EIO);
    b.client.Purger();
    for (std::uint32_t ms : {0u, 1u, 10u, 250u}) {
        const std::uint32_t avant = b.port.now();
        b.client.Patienter(ms);
        EXPECT_GE(b.port.now() - avant, ms);
        EXPECT_LE(b.port.now() - avant, ms + 2);
    }
    // Across the wrap of the 32-bit counter as well.
    b.port.setNow(0xFFFFFFF0u);
    b.client.Patienter(40);
    EXPECT_GE(b.port.now(), 40u - 16u);
    EXPECT_EQ(b.client.Statut(), EIO);
    EXPECT_EQ(b.port.transcript(), "P!5");
}

// ---- Connection ----------------------------------------------------------------------------

TEST(Connecter, Handshakes)
{
    const std::string o = kOuverture + " P ";
    const Cas cas[] = {
        {"answer 0x81", Depart::Ferme, [](FakePort& p) { p.reply({0x81}); },
         [](CK27V2& c) { return c.Connecter(1); }, 0, o + "W80 S10 R81", 1, ETAT_REPOS, 0},
        {"0x85 then 0x81", Depart::Ferme,
         [](FakePort& p) {
             p.reply({0x85, 0x00, 0x81});
         },
         [](CK27V2& c) { return c.Connecter(1); }, 0, o + "W80 S10 R85 W04 R00 SS9600 W80 S10 R81",
         1, ETAT_REPOS, 0},
        {"silence, one exchange", Depart::Ferme, nullptr, [](CK27V2& c) { return c.Connecter(1); },
         ERREUR_DELAI, o + "W80 S10 R-", 0, -1, 0},
        {"stale 0x81 purged", Depart::Ferme, [](FakePort& p) { p.arrived({0x81}); },
         [](CK27V2& c) { return c.Connecter(1); }, ERREUR_DELAI, o + "W80 S10 R-", 0, -1, 0},
        {"noise ignored", Depart::Ferme,
         [](FakePort& p) {
             p.reply({0x00, 0x84, 0x81});
         },
         // What came with a reply that is not an answer is dropped before asking again.
         [](CK27V2& c) { return c.Connecter(1); }, 0, o + "W80 S10 R00 P W80 S10 R84 P W80 S10 R81",
         1, -1, 0},
        {"no limit waits through silence", Depart::Ferme,
         [](FakePort& p) {
             p.silence(3);
             p.reply({0x81});
         },
         [](CK27V2& c) { return c.Connecter(0); }, 0,
         o + "W80 S10 R- W80 S10 R- W80 S10 R- W80 S10 R81", 1, -1, 0},
        {"request not sent", Depart::Ouvert, [](FakePort& p) { p.fail(Op::Write, EIO); },
         [](CK27V2& c) { return c.Connecter(1); }, EIO, "P W80!5", 0, -1, 0},
        {"hang-up", Depart::Ouvert, [](FakePort& p) { p.readFailure(EIO); },
         [](CK27V2& c) { return c.Connecter(1); }, EIO, "P W80 S10 R!5", 0, -1, 0},
        {"0x85 then silent reset", Depart::Ouvert, [](FakePort& p) { p.reply({0x85}); },
         [](CK27V2& c) { return c.Connecter(5); }, ERREUR_DELAI, "P W80 S10 R85 W04 R-", 0, -1, 0},
        {"port does not open", Depart::Ferme, [](FakePort& p) { p.fail(Op::Open, ENOENT); },
         [](CK27V2& c) { return c.Connecter(1); }, ENOENT, "O!2", 0, ETAT_REPOS, 0},
        {"negative limit: one exchange", Depart::Ouvert, [](FakePort& p) { p.reply({0x00}); },
         [](CK27V2& c) { return c.Connecter(-3); }, ERREUR_DELAI, "P W80 S10 R00", 0, -1, 0},
        {"already connected, again", Depart::Connecte, [](FakePort& p) { p.reply({0x81}); },
         [](CK27V2& c) { return c.Connecter(1); }, 0, "P W80 S10 R81", 1, -1, 0},
    };
    for (const Cas& c : cas) {
        jouer(c);
    }
}

TEST(Connecter, TheTimeLimitOverridesTheLastExchangesFailure)
{
    Banc b;
    b.ouvert();
    b.port.onWrite([](FakePort& p, std::uint8_t) {
        p.setNow(p.now() + 2000);
        p.readFailure(EIO);
    });
    EXPECT_EQ(b.client.Connecter(1), ERREUR_DELAI);
    EXPECT_EQ(b.port.transcript(), "P W80 S10 R!5");
}

TEST(Connecter, ADeviceAnsweringZeroIsAskedAgainUntilTheLimit)
{
    Banc b;
    b.ouvert();
    b.port.onWrite([](FakePort& p, std::uint8_t byte) {
        if (byte == 0x80) {
            p.reply({0x00});
        }
    });
    const std::uint32_t debut = b.port.now();
    EXPECT_EQ(b.client.Connecter(1), ERREUR_DELAI);
    const std::uint32_t duree = b.port.now() - debut;

    std::string attendu = "P";
    int echanges = 0;
    for (const auto& e : b.port.events()) {
        echanges += e.op == Op::Write ? 1 : 0;
    }
    for (int i = 0; i < echanges; ++i) {
        attendu += i == 0 ? " W80 S10 R00" : " P W80 S10 R00";
    }
    EXPECT_EQ(b.port.transcript(), attendu);
    EXPECT_GT(echanges, 50) << "each exchange costs about 12 virtual ms";
    EXPECT_GE(duree, 1000u);
    EXPECT_LT(duree, 1000u + 20u) << "the limit is tested after every exchange";
    EXPECT_EQ(b.client.EstConnecte(), 0);
}

TEST(Connecter, LeavesTheStateButClearsTheMode)
{
    Banc b;
    b.connecte();
    b.modeLu(3);
    b.prepare();
    b.port.reply({0x81});
    EXPECT_EQ(b.client.Connecter(1), 0);
    EXPECT_EQ(b.client.Etat(), ETAT_PREPARE);
    EXPECT_EQ(b.client.Mode(), 0);
}

TEST(Reinitialiser, EndsTheConnection)
{
    const Cas cas[] = {
        {"answered", Depart::Connecte, [](FakePort& p) { p.reply({0x42}); },
         [](CK27V2& c) { return c.Reinitialiser(); }, 0, "W04 R42 SS9600", 0, ETAT_REPOS, 0},
        {"from prepared", Depart::Prepare, [](FakePort& p) { p.reply({0x00}); },
         [](CK27V2& c) { return c.Reinitialiser(); }, 0, "W04 R00 SS9600", 0, ETAT_REPOS, 0},
        {"not answered", Depart::Prepare, nullptr, [](CK27V2& c) { return c.Reinitialiser(); },
         ERREUR_DELAI, "W04 R-", 1, ETAT_PREPARE, 0},
        {"not sent", Depart::Connecte, [](FakePort& p) { p.fail(Op::Write, EIO); },
         [](CK27V2& c) { return c.Reinitialiser(); }, EIO, "W04!5", 1, ETAT_REPOS, 0},
        {"rate not applied", Depart::Connecte,
         [](FakePort& p) {
             p.reply({0x00});
             p.fail(Op::SetSettings, EIO);
         },
         [](CK27V2& c) { return c.Reinitialiser(); }, EIO, "W04 R00 SS9600!5", 0, ETAT_REPOS, 0},
        {"in programming mode", Depart::Programmation3, nullptr,
         [](CK27V2& c) { return c.Reinitialiser(); }, 0, "W91", 0, ETAT_REPOS, 0},
    };
    for (const Cas& c : cas) {
        jouer(c);
    }
}

// ---- Character encoding ------------------------------------------------------------------

TEST(Hex, ValeurHexFollowsItsRuleOutsideTheHexSetToo)
{
    const struct {
        char c1, c2;
        std::int32_t valeur;
    } cas[] = {{'4', 'D', 77},  {'F', 'F', 255}, {'0', '0', 0},  {'2', '7', 39},   {'a', 'a', 714},
               {'f', 'f', 799}, {'G', '0', 256}, {'0', 'G', 16}, {' ', '0', -256}, {'9', 'A', 154}};
    for (const auto& c : cas) {
        EXPECT_EQ(ValeurHex(static_cast<unsigned char>(c.c1), static_cast<unsigned char>(c.c2)),
                  c.valeur)
            << c.c1 << c.c2;
    }
}

TEST(Hex, EnvoyerHexSendsTwoUppercaseDigits)
{
    const struct {
        std::uint32_t valeur;
        const char* transcript;
    } cas[] = {{0, "W30 W30"},    {10, "W30 W41"},  {0x3E, "W33 W45"},
               {0xA7, "W41 W37"}, {255, "W46 W46"}, {0x1B, "W31 W42"}};
    for (const auto& c : cas) {
        Banc b;
        b.ouvert(); // no connection needed, only an open port
        EXPECT_EQ(b.client.EnvoyerHex(c.valeur), 0);
        EXPECT_EQ(b.port.transcript(), c.transcript);
    }
    Banc b;
    b.ouvert();
    b.port.fail(Op::Write, EIO);
    EXPECT_EQ(b.client.EnvoyerHex(0xA7), EIO);
    EXPECT_EQ(b.port.transcript(), "W41!5") << "the second digit follows only a sent first";
}

TEST(Hex, RecevoirHexAcknowledgesEachCharacter)
{
    std::int32_t v = -1;
    const auto recevoir = [&v](CK27V2& c) {
        v = -1;
        return c.RecevoirHex(v);
    };
    const struct {
        Cas cas;
        std::int32_t valeur;
    } cas[] = {
        {{"4D", Depart::Connecte, [](FakePort& p) { p.reply("4D"); }, recevoir, 0,
          "R34 W84 R44 W84"},
         77},
        {{"lowercase", Depart::Connecte, [](FakePort& p) { p.reply("ff"); }, recevoir, 0,
          "R66 W84 R66 W84"},
         799},
        {{"not connected", Depart::Ouvert, nullptr, recevoir, ERREUR_NON_CONNECTE, ""}, -1},
        {{"silent", Depart::Connecte, nullptr, recevoir, ERREUR_DELAI, "R-"}, -1},
        {{"stops mid-value", Depart::Connecte, [](FakePort& p) { p.reply("4"); }, recevoir,
          ERREUR_DELAI, "R34 W84 R-"},
         -1},
        {{"first ack fails", Depart::Connecte,
          [](FakePort& p) {
              p.reply("4");
              p.fail(Op::Write, EIO);
          },
          recevoir, EIO, "R34 W84!5"},
         -1},
        {{"second ack fails", Depart::Connecte,
          [](FakePort& p) {
              p.reply("4D");
              p.fail(Op::Write, EIO, 1);
          },
          recevoir, EIO, "R34 W84 R44 W84!5"},
         -1},
    };
    for (const auto& c : cas) {
        jouer(c.cas);
        EXPECT_EQ(v, c.valeur) << c.cas.nom;
    }
}

// ---- Commands --------------------------------------------------------------------------------

TEST(Commandes, NothingIsSentWithoutAConnection)
{
    std::int32_t v = 0;
    std::uint32_t n = 0;
    char type[4] = {'x', 'x', 'x', 'x'};
    const std::function<StatutChargeur(CK27V2&)> ops[] = {
        [](CK27V2& c) { return c.Preparer(); },
        [&](CK27V2& c) { return c.LireType(type); },
        [](CK27V2& c) { return c.VerifierType(); },
        [&](CK27V2& c) { return c.LireMode(v); },
        [&](CK27V2& c) { return c.LireOctetEeprom(126, v); },
        [](CK27V2& c) { return c.EcrireOctetEeprom(126, 16); },
        [&](CK27V2& c) { return c.LireMotEeprom(120, v); },
        [&](CK27V2& c) { return c.LireNumeroSerie(n); },
        [&](CK27V2& c) { return c.LireVersion(v, v); },
        [](CK27V2& c) { return c.EcrireVersion(16, 3); },
        [](CK27V2& c) { return c.EntrerProgrammation(); },
        [](CK27V2& c) { return c.SortirProgrammation(); },
        [](CK27V2& c) { return c.EcrireMotProgramme(20000, 0x1234); },
    };
    for (const auto& op : ops) {
        Banc b;
        b.ouvert();
        v = 55;
        EXPECT_EQ(op(b.client), ERREUR_NON_CONNECTE);
        EXPECT_EQ(b.client.Statut(), ERREUR_NON_CONNECTE);
        EXPECT_EQ(b.port.transcript(), "");
    }
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(type[3], 'x');
    Banc b;
    b.ouvert();
    v = 55;
    EXPECT_EQ(b.client.LireMode(v), ERREUR_NON_CONNECTE);
    EXPECT_EQ(v, 0) << "LireMode always delivers ModeChargeur";
}

TEST(Commandes, StateCommands)
{
    const auto preparer = [](CK27V2& c) { return c.Preparer(); };
    const auto entrer = [](CK27V2& c) { return c.EntrerProgrammation(); };
    const auto sortir = [](CK27V2& c) { return c.SortirProgrammation(); };
    const Cas cas[] = {
        {"prepare", Depart::Connecte, [](FakePort& p) { p.reply({0x84}); }, preparer, 0, "W83 R84",
         1, ETAT_PREPARE},
        {"prepare again from programming", Depart::Programmation3,
         [](FakePort& p) { p.reply({0x84}); }, preparer, 0, "W83 R84", 1, ETAT_PREPARE, 3},
        {"prepare refused", Depart::Connecte, [](FakePort& p) { p.reply({0x04}); }, preparer,
         ERREUR_ACQUITTEMENT, "W83 R04", 1, ETAT_REPOS},
        {"prepare unanswered", Depart::Connecte, nullptr, preparer, ERREUR_DELAI, "W83 R-", 1,
         ETAT_REPOS},
        {"enter from rest", Depart::Connecte, nullptr, entrer, ERREUR_ETAT, "", 1, ETAT_REPOS},
        {"enter reads the mode first", Depart::Prepare,
         [](FakePort& p) {
             p.reply("03");
             p.reply({0x84});
         },
         entrer, 0, "W87 R30 W84 R33 W84 W90 R84", 1, ETAT_PROGRAMMATION, 3},
        {"enter, mode unreadable", Depart::Prepare, [](FakePort& p) { p.reply("0"); }, entrer,
         ERREUR_DELAI, "W87 R30 W84 R-", 1, ETAT_PREPARE, 0},
        {"enter refused", Depart::Prepare,
         [](FakePort& p) {
             p.reply("01");
             p.reply({0x00});
         },
         entrer, ERREUR_ACQUITTEMENT, "W87 R30 W84 R31 W84 W90 R00", 1, ETAT_PREPARE, 1},
        {"leave while prepared", Depart::Prepare, nullptr, sortir, ERREUR_PAS_EN_PROGRAMMATION, "",
         1, ETAT_PREPARE, 0},
        {"leave", Depart::Programmation3, nullptr, sortir, 0, "W91", 0, ETAT_REPOS, 0},
        {"leave, 0x91 not sent", Depart::Programmation3,
         [](FakePort& p) { p.fail(Op::Write, EIO); }, sortir, 0, "W91!5", 0, ETAT_REPOS, 0},
    };
    for (const Cas& c : cas) {
        jouer(c);
    }

    // A mode already read is not asked for again.
    Banc b;
    b.connecte();
    b.modeLu(3);
    b.prepare();
    b.port.reply({0x84});
    EXPECT_EQ(b.client.EntrerProgrammation(), 0);
    EXPECT_EQ(b.port.transcript(), "W90 R84");

    // Leaving while the mode is still known clears it, even when refused.
    Banc r;
    r.connecte();
    r.modeLu(3);
    EXPECT_EQ(r.client.SortirProgrammation(), ERREUR_PAS_EN_PROGRAMMATION);
    EXPECT_EQ(r.client.Mode(), 0);
}

TEST(Commandes, TypeCodeAndMode)
{
    char type[4] = {'x', 'x', 'x', 'x'};
    const auto lireType = [&type](CK27V2& c) {
        std::memset(type, 'x', sizeof type);
        return c.LireType(type);
    };
    const auto verifier = [](CK27V2& c) { return c.VerifierType(); };
    const std::string k27 = "W86 R34 W84 R42 W84 R33 W84 R32 W84 R33 W84 R37 W84";
    const struct {
        Cas cas;
        const char* debut;    // what the buffer starts with; nullptr: not checked
        char quatrieme = 'x'; // the fourth character: 0 once 0x86 is sent
    } cas[] = {
        {{"K27", Depart::Connecte, [](FakePort& p) { p.reply("4B3237"); }, lireType, 0, k27},
         "K27",
         '\0'},
        {{"stops after two", Depart::Connecte, [](FakePort& p) { p.reply("4B32"); }, lireType,
          ERREUR_DELAI, "W86 R34 W84 R42 W84 R33 W84 R32 W84 R-"},
         "",
         '\0'},
        {{"command not sent", Depart::Connecte, [](FakePort& p) { p.fail(Op::Write, EIO); },
          lireType, EIO, "W86!5"},
         "xxx",
         'x'},
        {{"verify K27", Depart::Connecte, [](FakePort& p) { p.reply("4B3237"); }, verifier, 0, k27},
         nullptr},
        {{"verify lowercase k27", Depart::Connecte, [](FakePort& p) { p.reply("6B3237"); },
          verifier, ERREUR_TYPE_APPAREIL, "W86 R36 W84 R42 W84 R33 W84 R32 W84 R33 W84 R37 W84"},
         nullptr},
        // Lowercase hex digits: '4', 'b' is 4 * 16 + 43 = 107, a 'k'.
        {{"verify lowercase digits", Depart::Connecte, [](FakePort& p) { p.reply("4b3237"); },
          verifier, ERREUR_TYPE_APPAREIL, "W86 R34 W84 R62 W84 R33 W84 R32 W84 R33 W84 R37 W84"},
         nullptr},
        {{"verify, silent", Depart::Connecte, nullptr, verifier, ERREUR_DELAI, "W86 R-"}, nullptr},
    };
    for (const auto& c : cas) {
        jouer(c.cas);
        if (c.debut != nullptr) {
            EXPECT_EQ(std::string(type, type + std::strlen(c.debut)), c.debut) << c.cas.nom;
            EXPECT_EQ(type[3], c.quatrieme) << c.cas.nom;
        }
    }

    std::int32_t mode = -1;
    const auto lireMode = [&mode](CK27V2& c) { return c.LireMode(mode); };
    jouer({"mode 3", Depart::Connecte, [](FakePort& p) { p.reply("03"); }, lireMode, 0,
           "W87 R30 W84 R33 W84", 1, ETAT_REPOS, 3});
    EXPECT_EQ(mode, 3);

    // A failed read keeps the mode known before and still delivers it.
    Banc b;
    b.connecte();
    b.modeLu(1);
    b.port.reply("0");
    EXPECT_EQ(b.client.LireMode(mode), ERREUR_DELAI);
    EXPECT_EQ(b.client.Mode(), 1);
    EXPECT_EQ(mode, 1);
}

TEST(Commandes, EepromBytesAndWords)
{
    std::int32_t v = -1, w = -1;
    std::uint32_t n = 0xDEADBEEF;
    const struct {
        Cas cas;
        std::int32_t v, w;
        std::uint32_t n;
    } cas[] = {
        {{"read byte", Depart::Connecte, [](FakePort& p) { p.reply("A7"); },
          [&](CK27V2& c) { return c.LireOctetEeprom(120, v); }, 0, "W89 W37 W38 R41 W84 R37 W84"},
         0xA7,
         -1,
         0xDEADBEEF},
        {{"read byte, silent", Depart::Connecte, nullptr,
          [&](CK27V2& c) { return c.LireOctetEeprom(120, v); }, ERREUR_DELAI, "W89 W37 W38 R-"},
         -1,
         -1,
         0xDEADBEEF},
        {{"word", Depart::Connecte, [](FakePort& p) { p.reply("3412"); },
          [&](CK27V2& c) { return c.LireMotEeprom(120, v); }, 0,
          "W89 W37 W38 R33 W84 R34 W84 W89 W37 W39 R31 W84 R32 W84"},
         0x1234,
         -1,
         0xDEADBEEF},
        {{"word, high byte missing", Depart::Connecte, [](FakePort& p) { p.reply("34"); },
          [&](CK27V2& c) { return c.LireMotEeprom(120, v); }, ERREUR_DELAI,
          "W89 W37 W38 R33 W84 R34 W84 W89 W37 W39 R-"},
         0x34,
         -1,
         0xDEADBEEF},
        {{"serial number", Depart::Connecte, [](FakePort& p) { p.reply("78563412"); },
          [&](CK27V2& c) { return c.LireNumeroSerie(n); }, 0,
          "W89 W37 W38 R37 W84 R38 W84 W89 W37 W39 R35 W84 R36 W84 "
          "W89 W37 W41 R33 W84 R34 W84 W89 W37 W42 R31 W84 R32 W84"},
         -1,
         -1,
         305419896u},
        {{"serial number, high word missing", Depart::Connecte,
          [](FakePort& p) { p.reply("785634"); }, [&](CK27V2& c) { return c.LireNumeroSerie(n); },
          ERREUR_DELAI,
          "W89 W37 W38 R37 W84 R38 W84 W89 W37 W39 R35 W84 R36 W84 "
          "W89 W37 W41 R33 W84 R34 W84 W89 W37 W42 R-"},
         -1,
         -1,
         0x5678u},
        {{"serial number, second byte missing", Depart::Connecte,
          [](FakePort& p) { p.reply("78"); }, [&](CK27V2& c) { return c.LireNumeroSerie(n); },
          ERREUR_DELAI, "W89 W37 W38 R37 W84 R38 W84 W89 W37 W39 R-"},
         -1,
         -1,
         0x78u},
        {{"serial number, nothing", Depart::Connecte, nullptr,
          [&](CK27V2& c) { return c.LireNumeroSerie(n); }, ERREUR_DELAI, "W89 W37 W38 R-"},
         -1,
         -1,
         0xDEADBEEF},
        {{"serial number, lowercase noise", Depart::Connecte,
          [](FakePort& p) { p.reply("ffffffff"); }, [&](CK27V2& c) { return c.LireNumeroSerie(n); },
          0,
          "W89 W37 W38 R66 W84 R66 W84 W89 W37 W39 R66 W84 R66 W84 "
          "W89 W37 W41 R66 W84 R66 W84 W89 W37 W42 R66 W84 R66 W84"},
         -1,
         -1,
         799u + 799u * 256u + (799u + 799u * 256u) * 65536u},
        {{"version", Depart::Connecte, [](FakePort& p) { p.reply("1003"); },
          [&](CK27V2& c) { return c.LireVersion(v, w); }, 0,
          "W89 W37 W45 R31 W84 R30 W84 W89 W37 W46 R30 W84 R33 W84"},
         16,
         3,
         0xDEADBEEF},
        {{"version, major missing", Depart::Connecte, nullptr,
          [&](CK27V2& c) { return c.LireVersion(v, w); }, ERREUR_DELAI, "W89 W37 W45 R-"},
         -1,
         -1,
         0xDEADBEEF},
    };
    for (const auto& c : cas) {
        v = w = -1;
        n = 0xDEADBEEF;
        jouer(c.cas);
        EXPECT_EQ(v, c.v) << c.cas.nom;
        EXPECT_EQ(w, c.w) << c.cas.nom;
        EXPECT_EQ(n, c.n) << c.cas.nom;
    }
}

TEST(Commandes, EepromWrites)
{
    const auto ecrire = [](CK27V2& c) { return c.EcrireOctetEeprom(126, 16); };
    const auto version = [](CK27V2& c) { return c.EcrireVersion(16, 3); };
    const Cas cas[] = {
        {"write byte", Depart::Connecte, [](FakePort& p) { p.reply({0x84}); }, ecrire, 0,
         "W8B W37 W45 W31 W30 R84"},
        {"refused", Depart::Connecte, [](FakePort& p) { p.reply({0x00}); }, ecrire,
         ERREUR_ACQUITTEMENT, "W8B W37 W45 W31 W30 R00"},
        {"unanswered", Depart::Connecte, nullptr, ecrire, ERREUR_DELAI, "W8B W37 W45 W31 W30 R-"},
        {"value not sent", Depart::Connecte, [](FakePort& p) { p.fail(Op::Write, EIO, 3); }, ecrire,
         EIO, "W8B W37 W45 W31!5"},
        {"version", Depart::Programmation3,
         [](FakePort& p) {
             p.reply({0x84, 0x84});
         },
         version, 0, "W8B W37 W45 W31 W30 R84 W8B W37 W46 W30 W33 R84", 1, ETAT_PROGRAMMATION, 3},
        {"version, major refused", Depart::Connecte, [](FakePort& p) { p.reply({0x00}); }, version,
         ERREUR_ACQUITTEMENT, "W8B W37 W45 W31 W30 R00"},
    };
    for (const Cas& c : cas) {
        jouer(c);
    }

    // The device's 10 ms write time passes between the last character and the read.
    Banc b;
    b.connecte();
    b.port.reply({0x84});
    ASSERT_EQ(b.client.EcrireOctetEeprom(126, 16), 0);
    const auto& ev = b.port.events();
    ASSERT_EQ(ev.size(), 6u);
    EXPECT_GE(ev[5].at - ev[4].at, 10u);
}

TEST(Commandes, ProgramWordChecksInOrder)
{
    const struct {
        Depart depart;
        std::uint32_t adresse;
        StatutChargeur statut;
    } cas[] = {
        {Depart::Ouvert, 47, ERREUR_NON_CONNECTE},
        {Depart::Connecte, 7104, ERREUR_PAS_EN_PROGRAMMATION},
        {Depart::Prepare, 47, ERREUR_PAS_EN_PROGRAMMATION},
        {Depart::Programmation3, 47, ERREUR_ADRESSE},
        {Depart::Programmation3, 7104, ERREUR_ADRESSE},
        {Depart::Programmation3, 0, ERREUR_ADRESSE},
        {Depart::Programmation3, 0xFFFFFFFFu, ERREUR_ADRESSE},
        {Depart::Programmation3, 0x10030u, ERREUR_ADRESSE},
    };
    for (const auto& c : cas) {
        const std::uint32_t a = c.adresse;
        jouer({"bounds", c.depart, nullptr,
               [a](CK27V2& k) { return k.EcrireMotProgramme(a, 0x1234); }, c.statut, ""});
    }
}

TEST(Commandes, ProgramWordScramblingAndRetries)
{
    const auto mot = [](std::uint32_t a, std::uint32_t w) {
        return [a, w](CK27V2& c) { return c.EcrireMotProgramme(a, w); };
    };
    // Address 48 = 0x0030, word 0x1234: scrambled address 5E A3, scrambled word 4C A7.
    const std::string envoi3 = "W8D W35 W45 W41 W33 W34 W43 W41 W37";
    const std::string envoi1 = "W8D W30 W30 W33 W30 W34 W43 W41 W37";
    const auto refus = [](int n) {
        return [n](FakePort& p) {
            for (int i = 0; i < n; ++i) {
                p.reply({0x00});
            }
            p.reply({0x84});
        };
    };
    const Cas cas[] = {
        {"mode 3", Depart::Programmation3, refus(0), mot(48, 0x1234), 0, envoi3 + " R84", 1,
         ETAT_PROGRAMMATION, 3},
        {"mode 1 keeps the address", Depart::Programmation1, refus(0), mot(48, 0x1234), 0,
         envoi1 + " R84"},
        // 7103 = 0x1BBF: 1B^5E = 45, BF^93 = 2C; word 0: 5E 93.
        {"last word", Depart::Programmation3, refus(0), mot(7103, 0), 0,
         "W8D W34 W35 W32 W43 W35 W45 W39 W33 R84"},
        // A wrong answer: a pause for the rest of it to come in, then the purge.
        {"one refusal, purged, retried", Depart::Programmation3, refus(1), mot(48, 0x1234), 0,
         envoi3 + " R00 S10 P " + envoi3 + " R84"},
        {"refused every time", Depart::Programmation3,
         [](FakePort& p) {
             p.reply({0x00, 0x41, 0x00});
         },
         mot(48, 0x1234), ERREUR_ACQUITTEMENT,
         envoi3 + " R00 S10 P " + envoi3 + " R41 S10 P " + envoi3 + " R00 S10 P", 1,
         ETAT_PROGRAMMATION, 3},
        {"silence is not purged", Depart::Programmation3, nullptr, mot(48, 0x1234), ERREUR_DELAI,
         envoi3 + " R- " + envoi3 + " R- " + envoi3 + " R-"},
        {"silence then ack", Depart::Programmation3,
         [](FakePort& p) {
             p.silence();
             p.reply({0x84});
         },
         mot(48, 0x1234), 0, envoi3 + " R- " + envoi3 + " R84"},
        {"failed write, retried whole", Depart::Programmation3,
         [](FakePort& p) {
             p.fail(Op::Write, EIO, 2);
             p.reply({0x84});
         },
         mot(48, 0x1234), 0, "W8D W35 W45!5 " + envoi3 + " R84"},
        {"purge failing keeps the refusal", Depart::Programmation3,
         [](FakePort& p) {
             p.reply({0x00, 0x00, 0x00});
             p.failAlways(Op::Purge, EIO);
         },
         mot(48, 0x1234), ERREUR_ACQUITTEMENT,
         envoi3 + " R00 S10 P!5 " + envoi3 + " R00 S10 P!5 " + envoi3 + " R00 S10 P!5"},
    };
    for (const Cas& c : cas) {
        jouer(c);
    }

    // Mode 0 (never read) scrambles the address like any mode but 1.
    Banc b;
    b.connecte();
    b.prepare();
    b.port.reply("00");
    b.port.reply({0x84});
    ASSERT_EQ(b.client.EntrerProgrammation(), 0);
    ASSERT_EQ(b.client.Mode(), 0);
    b.port.clearTranscript();
    b.port.reply({0x84});
    EXPECT_EQ(b.client.EcrireMotProgramme(48, 0x1234), 0);
    EXPECT_EQ(b.port.transcript(), envoi3 + " R84");
}

// ---- End of life ---------------------------------------------------------------------------

TEST(Client, DestructionResetsTwiceRestoresAndCloses)
{
    FakePort port;
    {
        CK27V2 client(port);
        port.reply({0x81});
        ASSERT_EQ(client.Connecter(1), 0);
        port.clearTranscript();
        port.reply({0x00, 0x00});
    }
    EXPECT_EQ(port.transcript(), "W04 R00 SS9600 W04 R00 SS9600 SS9600 SS* ST5 C");
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.settings().native, FakePort::ownSettings().native);
}

TEST(Client, DestructionInProgrammingModeLeavesIt)
{
    FakePort port;
    {
        CK27V2 client(port);
        port.reply({0x81});
        ASSERT_EQ(client.Connecter(1), 0);
        port.reply({0x84});
        ASSERT_EQ(client.Preparer(), 0);
        port.reply("03");
        port.reply({0x84});
        ASSERT_EQ(client.EntrerProgrammation(), 0);
        port.clearTranscript();
        port.reply({0x00});
    }
    // 0x91 ends programming and the connection; Fermer's own reset is then the plain one.
    EXPECT_EQ(port.transcript(), "W91 W04 R00 SS9600 SS9600 SS* ST5 C");
    EXPECT_FALSE(port.isOpen());
}

TEST(Client, DestructionWithAClosedPortTouchesNothing)
{
    FakePort port;
    {
        CK27V2 client(port);
    }
    EXPECT_EQ(port.transcript(), "");
}
