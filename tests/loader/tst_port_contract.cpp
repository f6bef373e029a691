// What the loader relies on from any SerialPort, checked on the scripted fake and on the
// POSIX port over a pseudo-terminal, so the fake cannot drift from the real thing.

#include "loader/PortPosix.h"
#include "tests/loader/PtyPeer.h"
#include "tests/support/FakePort.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <thread>

using namespace korvane;
using korvane::test::FakePort;
using korvane::test::PtyPeer;

namespace {

// A port and the device at the other end of its line.
class Line {
public:
    virtual ~Line() = default;
    virtual SerialPort& port() = 0;
    virtual std::string name() const = 0;
    // Bytes the device has sent and that are waiting for the port.
    virtual void deviceSends(const std::vector<std::uint8_t>& bytes) = 0;
    // Bytes the port has written so far, as the device saw them.
    virtual std::vector<std::uint8_t> deviceReceived(std::size_t count) = 0;
    virtual void hangUp() = 0;
};

class FakeLine : public Line {
public:
    SerialPort& port() override { return m_port; }
    std::string name() const override { return "\\.\\COM2"; }
    void deviceSends(const std::vector<std::uint8_t>& bytes) override
    {
        for (std::uint8_t b : bytes) {
            m_port.arrived({b});
        }
    }
    std::vector<std::uint8_t> deviceReceived(std::size_t count) override
    {
        std::vector<std::uint8_t> all = m_port.written();
        std::vector<std::uint8_t> out(all.begin() + std::min(m_seen, all.size()), all.end());
        if (out.size() > count) {
            out.resize(count);
        }
        m_seen += out.size();
        return out;
    }
    void hangUp() override
    {
        m_port.readFailure(EIO);
        m_port.failAlways(FakePort::Op::Write, EIO);
    }

private:
    FakePort m_port;
    std::size_t m_seen = 0;
};

class PtyLine : public Line {
public:
    SerialPort& port() override { return m_port; }
    std::string name() const override { return m_peer.slave(); }
    void deviceSends(const std::vector<std::uint8_t>& bytes) override
    {
        m_peer.send(bytes);
        // Let the bytes cross the pty before the port looks.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::uint8_t> deviceReceived(std::size_t count) override
    {
        return m_peer.receive(count);
    }
    void hangUp() override { m_peer.hangUp(); }

private:
    PtyPeer m_peer;
    PortPosix m_port;
};

enum class Kind { Fake, PosixPty };

class PortContract : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        if (GetParam() == Kind::Fake) {
            m_line = std::make_unique<FakeLine>();
        } else {
            m_line = std::make_unique<PtyLine>();
        }
        ASSERT_TRUE(port().open(m_line->name().c_str())) << port().lastError();
        LineSettings s;
        s.baudRate = 9600;
        s.binary = true;
        s.parityCheck = true;
        s.rtsControl = 1;
        s.byteSize = 8;
        s.parity = 2;
        s.xonChar = 1;
        s.xoffChar = 2;
        ASSERT_TRUE(port().setSettings(s)) << port().lastError();
        ASSERT_TRUE(port().setTimeouts(Timeouts{0, 10, 40, 10, 40})) << port().lastError();
    }
    SerialPort& port() { return m_line->port(); }
    std::unique_ptr<Line> m_line;
};

TEST_P(PortContract, EveryByteValueCrossesUnchangedBothWays)
{
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);

    m_line->deviceSends(all);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t b = 0;
        bool received = false;
        ASSERT_TRUE(port().readByte(b, received)) << i;
        ASSERT_TRUE(received) << i;
        EXPECT_EQ(b, i);
    }
    for (int i = 0; i < 256; ++i) {
        ASSERT_TRUE(port().writeByte(static_cast<std::uint8_t>(i))) << i;
    }
    port().tickCount(); // a call of another kind sends what a port may have gathered
    EXPECT_EQ(m_line->deviceReceived(256), all);
}

TEST_P(PortContract, SilenceIsASuccessfulReadWithNothing)
{
    const std::uint32_t before = port().tickCount();
    std::uint8_t b = 0x55;
    bool received = true;
    ASSERT_TRUE(port().readByte(b, received));
    EXPECT_FALSE(received);
    EXPECT_EQ(b, 0x55);
    EXPECT_GE(port().tickCount() - before, 50u) << "the read waits its whole limit";
}

TEST_P(PortContract, PurgeDropsWhatHasArrived)
{
    m_line->deviceSends({0x81, 0x84});
    ASSERT_TRUE(port().purge());
    std::uint8_t b = 0;
    bool received = true;
    ASSERT_TRUE(port().readByte(b, received));
    EXPECT_FALSE(received);
}

TEST_P(PortContract, SettingsReadBackAndTheSnapshotRestores)
{
    LineSettings now;
    ASSERT_TRUE(port().getSettings(now));
    EXPECT_TRUE(now.hasNative);
    EXPECT_EQ(now.baudRate, 9600u);
    EXPECT_EQ(now.byteSize, 8);
    EXPECT_EQ(now.stopBits, 0); // (a pseudo-terminal holds no parity: not compared here)
    EXPECT_TRUE(now.parityCheck);
    EXPECT_FALSE(now.outX || now.inX || now.outxCtsFlow);

    LineSettings other = now;
    other.hasNative = false;
    other.baudRate = 19200;
    other.stopBits = 2;
    ASSERT_TRUE(port().setSettings(other));
    LineSettings changed;
    ASSERT_TRUE(port().getSettings(changed));
    EXPECT_EQ(changed.baudRate, 19200u);
    EXPECT_EQ(changed.stopBits, 2);

    ASSERT_TRUE(port().setSettings(now));
    LineSettings back;
    ASSERT_TRUE(port().getSettings(back));
    EXPECT_EQ(back.baudRate, 9600u);
    EXPECT_EQ(back.stopBits, 0);

    Timeouts t;
    ASSERT_TRUE(port().getTimeouts(t));
    EXPECT_EQ(t.readTotalConstant, 40u);
    EXPECT_EQ(t.writeTotalMultiplier, 10u);
}

TEST_P(PortContract, AHangUpIsAFailureNotSilence)
{
    m_line->hangUp();
    std::uint8_t b = 0;
    bool received = false;
    EXPECT_FALSE(port().readByte(b, received));
    EXPECT_NE(port().lastError(), 0);
    EXPECT_FALSE(port().writeByte(0x80));
    EXPECT_NE(port().lastError(), 0);
}

TEST_P(PortContract, AClosedPortRefusesEverything)
{
    ASSERT_TRUE(port().close());
    LineSettings s;
    Timeouts t;
    std::uint8_t b = 0;
    bool received = false;
    const std::function<bool()> calls[] = {
        [&] { return port().getSettings(s); },
        [&] { return port().setSettings(s); },
        [&] { return port().getTimeouts(t); },
        [&] { return port().setTimeouts(t); },
        [&] { return port().purge(); },
        [&] { return port().writeByte(1); },
        [&] { return port().readByte(b, received); },
        [&] { return port().close(); },
    };
    for (const auto& call : calls) {
        EXPECT_FALSE(call());
        EXPECT_EQ(port().lastError(), EBADF);
    }
}

TEST_P(PortContract, SleepMovesTheClock)
{
    const std::uint32_t before = port().tickCount();
    port().sleep(15);
    EXPECT_GE(port().tickCount() - before, 15u);
}

INSTANTIATE_TEST_SUITE_P(Ports, PortContract, ::testing::Values(Kind::Fake, Kind::PosixPty),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return info.param == Kind::Fake ? "Fake" : "PosixPty";
                         });

} // namespace
