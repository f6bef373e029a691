#pragma once

// FakePort: a scripted SerialPort for unit tests. It never waits and never touches a device.
//
// Clock. tickCount() returns a virtual millisecond counter and then moves it on by
// `tickStep` (1 ms by default), so a caller that spins on the counter always gets out.
// sleep(ms) moves it by ms. A read that finds nothing scripted moves it by the read limit
// last set with setTimeouts (readTotalMultiplier + readTotalConstant), as a silent line
// would; a byte written or read moves it by `byteTime` (1 ms by default).
//
// What the device sends. reply(...) queues bytes the device will send, arrived(...) bytes
// already waiting in the input buffer (the only ones purge() drops), silence() queues a read that
// times out, readFailure(err) queues a read that fails with err (for example EIO for a hang-up).
// Each readByte() takes the next queued item; with nothing queued the read times out. A responder
// set with onWrite() runs after every successful writeByte() with the byte written and may
// queue the device's answer, so a test can play a device that reacts to the line.
//
// Failures. fail(op, err, skip) makes the next call of kind op fail with err after `skip`
// calls of that kind have gone through; failAlways(op, err) makes every call fail until
// clearFailures(). A failed call changes nothing (a failed open leaves the fake closed, a
// failed close leaves it open) and leaves err for lastError(). Every call but open, tickCount
// and sleep fails with EBADF while the fake is closed, as a real port would.
//
// Transcript. Every call but tickCount is recorded in order, as an Event and as a token in
// transcript(), separated by single spaces:
//   O:<name>  open            GS / SS<baud> / SS*   get settings / set named / set snapshot
//   GT / ST<limit>  get / set time limits (limit = read total multiplier + constant)
//   P purge    Wxx write 0xXX    Rxx read 0xXX    R- read timed out    C close    S<ms> sleep
// A failed call is followed by !<err>: "W80!5", "R!5", "O!2" (open keeps no name then).
// clearTranscript() forgets the events so far (not the queued script or the state).
//
// Port state. The port's own settings (ownSettings(): 19200 baud, 7 bits, odd parity, XON/XOFF,
// and a native snapshot) and own time limits (1/2/3/4/5) are what it starts with. Like a real
// port, getSettings() always hands back a snapshot (hasNative set) of what is applied, and
// setSettings() of a snapshot puts it back as it was. settings() and timeouts() give what is
// currently applied, so a test can check that the port's own were restored.

#include "loader/SerialPort.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace korvane::test {

class FakePort : public SerialPort {
public:
    enum class Op {
        Open,
        GetSettings,
        SetSettings,
        GetTimeouts,
        SetTimeouts,
        Purge,
        Write,
        Read,
        Close,
        Sleep
    };

    struct Event {
        explicit Event(Op o) : op(o) {}
        Op op;
        bool ok = true;
        std::int32_t error = 0;
        std::uint32_t at = 0;     // virtual time when the call began
        std::uint8_t byte = 0;    // Write: the byte; Read: the byte received
        bool received = false;    // Read: a byte came
        std::uint32_t amount = 0; // Sleep: ms
        std::string name;         // Open
        LineSettings settings{};  // SetSettings
        Timeouts timeouts{};      // SetTimeouts
    };

    FakePort();

    // SerialPort
    bool open(const char* name) override;
    bool getSettings(LineSettings& out) override;
    bool setSettings(const LineSettings& in) override;
    bool getTimeouts(Timeouts& out) override;
    bool setTimeouts(const Timeouts& in) override;
    bool purge() override;
    bool writeByte(std::uint8_t byte) override;
    bool readByte(std::uint8_t& byte, bool& received) override;
    bool close() override;
    std::int32_t lastError() const override { return m_lastError; }
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;

    // Script of the device.
    void reply(std::initializer_list<std::uint8_t> bytes);
    void reply(const std::vector<std::uint8_t>& bytes);
    void reply(const std::string& chars); // each character as one byte
    // Bytes already waiting in the input buffer (stale or noise): purge() drops them, while
    // it keeps the answers queued with reply(), which the device sends later.
    void arrived(std::initializer_list<std::uint8_t> bytes);
    void silence(int count = 1);
    void readFailure(std::int32_t err);
    void onWrite(std::function<void(FakePort&, std::uint8_t)> responder);
    std::size_t pending() const { return m_input.size(); }

    // Failures.
    void fail(Op op, std::int32_t err, int skip = 0);
    void failAlways(Op op, std::int32_t err);
    void clearFailures();

    // Transcript.
    const std::vector<Event>& events() const { return m_events; }
    std::string transcript() const;
    std::vector<std::uint8_t> written() const;
    void clearTranscript() { m_events.clear(); }

    // State.
    bool isOpen() const { return m_open; }
    const LineSettings& settings() const { return m_settings; }
    const Timeouts& timeouts() const { return m_timeouts; }
    static LineSettings ownSettings();
    static Timeouts ownTimeouts();
    std::uint32_t now() const { return m_now; }
    void setNow(std::uint32_t t) { m_now = t; }
    std::uint32_t tickStep = 1;
    std::uint32_t byteTime = 1;

private:
    struct Input {
        enum Kind { Byte, Silence, Failure } kind;
        std::uint8_t byte = 0;
        std::int32_t error = 0;
        bool arrived = false; // already in the input buffer: a purge drops it
    };
    struct Failure {
        int skip = 0;
        std::int32_t error = 0;
        bool always = false;
    };

    // Begins a call: returns false (and records it as failed) when a failure is due.
    bool begin(Event& e, bool needsOpen);
    bool finish(Event& e, bool ok, std::int32_t err = 0);

    bool m_open = false;
    std::int32_t m_lastError = 0;
    std::uint32_t m_now = 1000;
    LineSettings m_settings;
    Timeouts m_timeouts;
    std::deque<Input> m_input;
    std::function<void(FakePort&, std::uint8_t)> m_responder;
    std::map<Op, std::deque<Failure>> m_failures;
    std::vector<Event> m_events;
};

} // namespace korvane::test
