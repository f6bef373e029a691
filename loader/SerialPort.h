#pragma once

#include <array>
#include <cstdint>

namespace korvane {

// Line settings that CK27V2 applies to its port and saves from it. The named fields are
// the ones the loader sets; `native` lets a port hand back, on restore, exactly what it
// had when it was opened (for PortPosix: the termios and the modem lines).
struct LineSettings {
    std::uint32_t length = 28;
    std::uint32_t baudRate = 0;
    bool binary = false;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    std::uint8_t dtrControl = 0; // 0 disable, 1 enable
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool errorCharEnabled = false;
    bool nullStrip = false;
    std::uint8_t rtsControl = 0; // 0 disable, 1 enable
    bool abortOnError = false;
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even
    std::uint8_t stopBits = 0; // 0 one stop bit
    char xonChar = 0;
    char xoffChar = 0;
    char errorChar = 0;
    char eofChar = 0;
    char evtChar = 0;

    // Port-specific snapshot filled by getSettings(); when hasNative is set, setSettings()
    // puts back exactly this snapshot and ignores the named fields.
    bool hasNative = false;
    std::array<std::uint8_t, 128> native{};
};

// Time limits, in milliseconds. A one-byte read gives up after
// readTotalMultiplier * 1 + readTotalConstant; a one-byte write is bounded the same way.
struct Timeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

// The few system calls the loader client needs, and nothing more. Every call that can fail
// returns false and leaves a nonzero code for lastError() (errno for PortPosix; never one of
// the loader's own codes 100001..100020).
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the named port ("\.\COM1".."\.\COM10", or a path) for exclusive, synchronous
    // reading and writing. Fails when it does not exist or is held by another program.
    virtual bool open(const char* name) = 0;
    virtual bool getSettings(LineSettings& out) = 0;
    virtual bool setSettings(const LineSettings& in) = 0;
    virtual bool getTimeouts(Timeouts& out) = 0;
    virtual bool setTimeouts(const Timeouts& in) = 0;
    // Abandons pending input and output and empties both buffers.
    virtual bool purge() = 0;
    // Writes one byte within the write time limit. A port may gather the bytes written back
    // to back and send them at its next call of any other kind; a failure to send them is
    // then that call's.
    virtual bool writeByte(std::uint8_t byte) = 0;
    // Reads at most one byte within the read time limit. Success with received == false
    // means the limit passed with nothing on the line.
    virtual bool readByte(std::uint8_t& byte, bool& received) = 0;
    virtual bool close() = 0;
    virtual std::int32_t lastError() const = 0;
    // A millisecond counter (monotonic) and a pause; tests give a virtual clock.
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(std::uint32_t ms) = 0;
};

} // namespace korvane
