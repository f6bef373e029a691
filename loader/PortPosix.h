#pragma once

#include "SerialPort.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace korvane {

// SerialPort on a POSIX terminal device (termios).
//
// open: the name goes through cheminPort(); the device is opened O_RDWR | O_NOCTTY |
//   O_NONBLOCK | O_CLOEXEC and made exclusive with TIOCEXCL and flock(LOCK_EX | LOCK_NB); it
//   stays non-blocking, every wait is a poll() with its time limit. A device held elsewhere
//   fails with EBUSY; a path that is not a terminal fails with ENOTTY.
// getSettings: the termios and the modem lines, as a native snapshot, plus the named fields
//   read from them. setSettings: the snapshot exactly when there is one, otherwise the named
//   fields on a raw line; either way the result is read back and a mismatch fails with EIO.
//   A line without modem lines (a pseudo-terminal) is not an error.
// I/O: the first byte written after any other call goes straight to the line; the bytes
//   written right behind it are gathered and go out together, in one write(), before the
//   port next reads, purges, sleeps, reads its clock, changes its settings or closes (or
//   once kBurst bytes are waiting). A command of nine bytes followed by the read of its
//   answer thus costs two write() calls, not nine. Writes wait in poll() only when the line's
//   output buffer is full. A read waits in poll() for its byte, then reads it. A gathered
//   byte that cannot go out makes the call that sends it fail with the error (EIO after a
//   hang-up, ETIMEDOUT past the write limit), and the gathered bytes are dropped.
// Time limits: a one-byte read waits at most readTotalMultiplier + readTotalConstant ms and
//   then succeeds with nothing received; n bytes that cannot go out within
//   n x writeTotalMultiplier + writeTotalConstant ms fail with ETIMEDOUT. A limit of 0 means
//   "do not wait". Interrupted waits resume without stretching the limit.
// Hang-up: when the other end is gone (EIO, POLLHUP/POLLERR, or end of file on a readable
//   line) reads, and writes as they go out, fail at once with EIO; it is never reported as a
//   time-out.
// Every call on a closed port fails with EBADF. close() restores nothing (the caller puts the
// port's own settings back first), gives up the exclusivity and closes the descriptor.
class PortPosix final : public SerialPort {
public:
    PortPosix() = default;
    ~PortPosix() override;
    PortPosix(const PortPosix&) = delete;
    PortPosix& operator=(const PortPosix&) = delete;

    bool open(const char* name) override;
    bool getSettings(LineSettings& out) override;
    bool setSettings(const LineSettings& in) override;
    bool getTimeouts(Timeouts& out) override;
    bool setTimeouts(const Timeouts& in) override;
    bool purge() override;
    bool writeByte(std::uint8_t byte) override;
    bool readByte(std::uint8_t& byte, bool& received) override;
    bool close() override;
    std::int32_t lastError() const override { return m_error; }
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;

    // The exclusive open used by open() and by the port probe: returns a non-blocking
    // descriptor, or -1 with errno set. closeExclusive() undoes it.
    static int openExclusive(const std::string& path);
    static void closeExclusive(int fd);

    // The termios of a raw line with the named fields of `in`, every field set whatever `t`
    // held before. False (t unchanged) for a rate termios has no code for.
    static bool termiosFor(const LineSettings& in, termios& t);

    // Bytes gathered behind the first one of a burst, at most.
    static constexpr std::size_t kBurst = 64;

private:
    bool fail(int err);
    // Writes `n` bytes within n x the write limit; false with m_error set otherwise.
    bool writeAll(const std::uint8_t* bytes, std::size_t n);
    // Sends the gathered bytes and ends the burst. On failure they are dropped.
    bool flushBurst();

    int m_fd = -1;
    bool m_burst = false; // a byte went out and no other call came since
    std::array<std::uint8_t, kBurst> m_gathered{};
    std::size_t m_gatheredCount = 0;
    bool m_pseudo = false; // a pseudo-terminal: see setSettings()
    std::int32_t m_error = 0;
    Timeouts m_timeouts{};
};

} // namespace korvane
