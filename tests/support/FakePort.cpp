#include "tests/support/FakePort.h"

#include <cerrno>
#include <cstdio>

namespace korvane::test {

LineSettings FakePort::ownSettings()
{
    LineSettings s;
    s.baudRate = 19200;
    s.byteSize = 7;
    s.parity = 1;
    s.outX = true;
    s.hasNative = true;
    s.native[0] = 0x5A;
    s.native[127] = 0xA5;
    return s;
}

Timeouts FakePort::ownTimeouts()
{
    return Timeouts{1, 2, 3, 4, 5};
}

FakePort::FakePort() : m_settings(ownSettings()), m_timeouts(ownTimeouts()) {}

bool FakePort::begin(Event& e, bool needsOpen)
{
    e.at = m_now;
    auto it = m_failures.find(e.op);
    if (it != m_failures.end() && !it->second.empty()) {
        Failure& f = it->second.front();
        if (f.always) {
            return finish(e, false, f.error);
        }
        if (f.skip > 0) {
            --f.skip;
        } else {
            std::int32_t err = f.error;
            it->second.pop_front();
            return finish(e, false, err);
        }
    }
    if (needsOpen && !m_open) {
        return finish(e, false, EBADF);
    }
    return true;
}

bool FakePort::finish(Event& e, bool ok, std::int32_t err)
{
    e.ok = ok;
    e.error = ok ? 0 : err;
    if (!ok) {
        m_lastError = err;
    }
    m_events.push_back(e);
    return ok;
}

bool FakePort::open(const char* name)
{
    Event e{Op::Open};
    if (!begin(e, false)) {
        return false;
    }
    e.name = name ? name : "";
    m_open = true;
    return finish(e, true);
}

bool FakePort::getSettings(LineSettings& out)
{
    Event e{Op::GetSettings};
    if (!begin(e, true)) {
        return false;
    }
    // Like a real port, always a snapshot that setSettings() can put back exactly.
    out = m_settings;
    out.hasNative = true;
    return finish(e, true);
}

bool FakePort::setSettings(const LineSettings& in)
{
    Event e{Op::SetSettings};
    e.settings = in;
    if (!begin(e, true)) {
        return false;
    }
    m_settings = in;
    return finish(e, true);
}

bool FakePort::getTimeouts(Timeouts& out)
{
    Event e{Op::GetTimeouts};
    if (!begin(e, true)) {
        return false;
    }
    out = m_timeouts;
    return finish(e, true);
}

bool FakePort::setTimeouts(const Timeouts& in)
{
    Event e{Op::SetTimeouts};
    e.timeouts = in;
    if (!begin(e, true)) {
        return false;
    }
    m_timeouts = in;
    return finish(e, true);
}

bool FakePort::purge()
{
    Event e{Op::Purge};
    if (!begin(e, true)) {
        return false;
    }
    // Bytes already in the input buffer are dropped; the device's later answers are not.
    std::deque<Input> kept;
    for (const Input& in : m_input) {
        if (!in.arrived) {
            kept.push_back(in);
        }
    }
    m_input.swap(kept);
    return finish(e, true);
}

bool FakePort::writeByte(std::uint8_t byte)
{
    Event e{Op::Write};
    e.byte = byte;
    if (!begin(e, true)) {
        return false;
    }
    m_now += byteTime;
    finish(e, true);
    if (m_responder) {
        m_responder(*this, byte);
    }
    return true;
}

bool FakePort::readByte(std::uint8_t& byte, bool& received)
{
    Event e{Op::Read};
    if (!begin(e, true)) {
        return false;
    }
    if (m_input.empty() || m_input.front().kind == Input::Silence) {
        if (!m_input.empty()) {
            m_input.pop_front();
        }
        m_now += m_timeouts.readTotalMultiplier + m_timeouts.readTotalConstant;
        received = false;
        return finish(e, true);
    }
    Input in = m_input.front();
    m_input.pop_front();
    if (in.kind == Input::Failure) {
        return finish(e, false, in.error);
    }
    m_now += byteTime;
    byte = in.byte;
    received = true;
    e.byte = in.byte;
    e.received = true;
    return finish(e, true);
}

bool FakePort::close()
{
    Event e{Op::Close};
    if (!begin(e, true)) {
        return false;
    }
    m_open = false;
    return finish(e, true);
}

std::uint32_t FakePort::tickCount()
{
    std::uint32_t t = m_now;
    m_now += tickStep;
    return t;
}

void FakePort::sleep(std::uint32_t ms)
{
    Event e{Op::Sleep};
    e.amount = ms;
    e.at = m_now;
    m_now += ms;
    m_events.push_back(e);
}

void FakePort::reply(std::initializer_list<std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes) {
        m_input.push_back({Input::Byte, b, 0});
    }
}

void FakePort::reply(const std::vector<std::uint8_t>& bytes)
{
    for (std::uint8_t b : bytes) {
        m_input.push_back({Input::Byte, b, 0});
    }
}

void FakePort::reply(const std::string& chars)
{
    for (char c : chars) {
        m_input.push_back({Input::Byte, static_cast<std::uint8_t>(c), 0});
    }
}

void FakePort::arrived(std::initializer_list<std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes) {
        m_input.push_back({Input::Byte, b, 0, true});
    }
}

void FakePort::silence(int count)
{
    for (int i = 0; i < count; ++i) {
        m_input.push_back({Input::Silence, 0, 0});
    }
}

void FakePort::readFailure(std::int32_t err)
{
    m_input.push_back({Input::Failure, 0, err});
}

void FakePort::onWrite(std::function<void(FakePort&, std::uint8_t)> responder)
{
    m_responder = std::move(responder);
}

void FakePort::fail(Op op, std::int32_t err, int skip)
{
    m_failures[op].push_back({skip, err, false});
}

void FakePort::failAlways(Op op, std::int32_t err)
{
    m_failures[op].push_front({0, err, true});
}

void FakePort::clearFailures()
{
    m_failures.clear();
}

std::vector<std::uint8_t> FakePort::written() const
{
    std::vector<std::uint8_t> out;
    for (const Event& e : m_events) {
        if (e.op == Op::Write && e.ok) {
            out.push_back(e.byte);
        }
    }
    return out;
}

std::string FakePort::transcript() const
{
    std::string out;
    char buf[32];
    for (const Event& e : m_events) {
        if (!out.empty()) {
            out += ' ';
        }
        switch (e.op) {
        case Op::Open:
            out += e.ok ? "O:" + e.name : std::string("O");
            break;
        case Op::GetSettings:
            out += "GS";
            break;
        case Op::SetSettings:
            if (e.settings.hasNative) {
                out += "SS*";
            } else {
                std::snprintf(buf, sizeof buf, "SS%u", e.settings.baudRate);
                out += buf;
            }
            break;
        case Op::GetTimeouts:
            out += "GT";
            break;
        case Op::SetTimeouts:
            std::snprintf(buf, sizeof buf, "ST%u",
                          e.timeouts.readTotalMultiplier + e.timeouts.readTotalConstant);
            out += buf;
            break;
        case Op::Purge:
            out += "P";
            break;
        case Op::Write:
            std::snprintf(buf, sizeof buf, "W%02X", e.byte);
            out += buf;
            break;
        case Op::Read:
            if (!e.ok) {
                out += "R";
            } else if (e.received) {
                std::snprintf(buf, sizeof buf, "R%02X", e.byte);
                out += buf;
            } else {
                out += "R-";
            }
            break;
        case Op::Close:
            out += "C";
            break;
        case Op::Sleep:
            std::snprintf(buf, sizeof buf, "S%u", e.amount);
            out += buf;
            break;
        }
        if (!e.ok) {
            std::snprintf(buf, sizeof buf, "!%d", e.error);
            out += buf;
        }
    }
    return out;
}

} // namespace korvane::test
