// The in-memory port: the device at the other end of a line with a virtual clock.

#include "sim/PortSimule.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <vector>

using namespace korvane;
using namespace korvane::sim;

namespace {

std::vector<std::uint8_t> lireTout(PortSimule& port)
{
    std::vector<std::uint8_t> recu;
    std::uint8_t b = 0;
    bool arrive = false;
    while (port.readByte(b, arrive) && arrive)
        recu.push_back(b);
    return recu;
}

} // namespace

TEST(PortSimule, an_empty_read_costs_the_read_limit_in_virtual_time_only)
{
    struct Cas {
        Timeouts delais;
        std::uint32_t cout;
    };
    const auto debut = std::chrono::steady_clock::now();
    for (const Cas& c : {Cas{{500, 100, 1000, 100, 1000}, 1100}, Cas{{0, 0, 250, 0, 0}, 250}}) {
        PortSimule port;
        ASSERT_TRUE(port.open("\\.\\COM1"));
        ASSERT_TRUE(port.setTimeouts(c.delais));
        for (int i = 0; i < 1000; ++i) {
            const std::uint32_t avant = port.horloge();
            std::uint8_t b = 0x5A;
            bool arrive = true;
            ASSERT_TRUE(port.readByte(b, arrive));
            EXPECT_FALSE(arrive);
            EXPECT_EQ(b, 0x5A);
            EXPECT_EQ(port.horloge() - avant, c.cout);
        }
        EXPECT_EQ(port.lecturesVides(), 1000u);
    }
    // Over 1300 virtual seconds went by.
    EXPECT_LT(std::chrono::steady_clock::now() - debut, std::chrono::seconds(1));
}

TEST(PortSimule, default_read_limit_is_1100_ms_and_the_clock_moves)
{
    PortSimule port;
    ASSERT_TRUE(port.open("x"));
    std::uint8_t b = 0;
    bool arrive = true;
    const std::uint32_t t0 = port.tickCount();
    ASSERT_TRUE(port.readByte(b, arrive));
    EXPECT_EQ(port.tickCount() - t0, 1101u) << "1100 ms read limit, 1 ms per tick reading";
    const std::uint32_t t1 = port.tickCount();
    port.sleep(10);
    EXPECT_EQ(port.tickCount() - t1, 11u);
}

TEST(PortSimule, the_device_answers_at_once)
{
    PortSimule port;
    ASSERT_TRUE(port.open("x"));
    ASSERT_TRUE(port.writeByte(0x80));
    EXPECT_EQ(lireTout(port), std::vector<std::uint8_t>{0x81});
    ASSERT_TRUE(port.writeByte(0x86));
    std::vector<std::uint8_t> type;
    for (int i = 0; i < 3; ++i) {
        auto r = lireTout(port);
        type.insert(type.end(), r.begin(), r.end());
        ASSERT_TRUE(port.writeByte(0x84));
    }
    EXPECT_EQ(type, (std::vector<std::uint8_t>{'4', 'B', '3'}));
    EXPECT_EQ(port.ecrits(), (std::vector<std::uint8_t>{0x80, 0x86, 0x84, 0x84, 0x84}));
    const std::uint32_t avant = port.horloge();
    std::uint8_t b = 0;
    bool arrive = false;
    ASSERT_TRUE(port.readByte(b, arrive));
    EXPECT_TRUE(arrive);
    EXPECT_EQ(b, '2');
    EXPECT_EQ(port.horloge(), avant) << "a byte that is there costs no time";
}

TEST(PortSimule, purge_drops_what_the_device_sent)
{
    PortSimule port;
    ASSERT_TRUE(port.open("x"));
    ASSERT_TRUE(port.writeByte(0x80));
    ASSERT_TRUE(port.purge());
    EXPECT_TRUE(lireTout(port).empty());
    EXPECT_EQ(port.purges(), 1u);
    EXPECT_TRUE(port.appareil().connecte());
}

TEST(PortSimule, fails_like_a_port_with_errno)
{
    PortSimule port;
    std::uint8_t b = 0;
    bool arrive = false;
    LineSettings reglages;
    Timeouts delais;
    // Closed: every call fails with EBADF.
    EXPECT_FALSE(port.writeByte(0x80));
    EXPECT_EQ(port.lastError(), EBADF);
    EXPECT_FALSE(port.readByte(b, arrive));
    EXPECT_FALSE(port.purge());
    EXPECT_FALSE(port.getSettings(reglages));
    EXPECT_FALSE(port.setTimeouts(delais));
    EXPECT_FALSE(port.close());
    EXPECT_EQ(port.lastError(), EBADF);
    EXPECT_EQ(port.appareil().compteurs().connexions, 0u);

    port.faireEchouerOuverture(ENOENT);
    EXPECT_FALSE(port.open("x"));
    EXPECT_EQ(port.lastError(), ENOENT);
    port.faireEchouerOuverture(EACCES);
    EXPECT_FALSE(port.open("x"));
    EXPECT_EQ(port.lastError(), EACCES);
    port.faireEchouerOuverture(0);
    EXPECT_TRUE(port.open("x"));
    EXPECT_FALSE(port.open("x"));
    EXPECT_EQ(port.lastError(), EBUSY);

    // Settings and limits read back what was set.
    reglages.baudRate = 9600;
    reglages.parity = 2;
    ASSERT_TRUE(port.setSettings(reglages));
    LineSettings relu;
    ASSERT_TRUE(port.getSettings(relu));
    EXPECT_EQ(relu.parity, 2);
    delais.readTotalConstant = 7;
    ASSERT_TRUE(port.setTimeouts(delais));
    Timeouts relus;
    ASSERT_TRUE(port.getTimeouts(relus));
    EXPECT_EQ(relus.readTotalConstant, 7u);
}

TEST(PortSimule, a_hang_up_kills_the_line_for_good)
{
    Configuration config;
    config.defauts = {{Phase::Type, Panne::Raccroche}};
    PortSimule port(config);
    ASSERT_TRUE(port.open("x"));
    ASSERT_TRUE(port.writeByte(0x80));
    ASSERT_TRUE(port.writeByte(0x86)) << "the byte went out before the line dropped";
    std::uint8_t b = 0;
    bool arrive = false;
    EXPECT_FALSE(port.readByte(b, arrive)) << "the handshake answer is lost with the line";
    EXPECT_EQ(port.lastError(), EIO);
    EXPECT_FALSE(port.writeByte(0x04));
    EXPECT_EQ(port.lastError(), EIO);
    ASSERT_TRUE(port.close());
    ASSERT_TRUE(port.open("x"));
    EXPECT_FALSE(port.readByte(b, arrive));
    EXPECT_EQ(port.lastError(), EIO);
}
