#pragma once

// The device end of a pseudo-terminal: the test holds the master side and plays the device,
// the code under test opens the slave path as its serial port.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace korvane::test {

class PtyPeer {
public:
    PtyPeer()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
            const char* p = ::ptsname(m_master);
            m_slave = p ? p : "";
        }
    }
    ~PtyPeer() { hangUp(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave.empty(); }
    const std::string& slave() const { return m_slave; }
    int master() const { return m_master; }

    // Termios ioctls on the master act on the slave's line.
    bool slaveTermios(termios& t) const { return ::tcgetattr(m_master, &t) == 0; }
    bool setSlaveTermios(const termios& t) const { return ::tcsetattr(m_master, TCSANOW, &t) == 0; }

    void send(const std::vector<std::uint8_t>& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return;
            }
        }
    }

    // Up to `count` bytes the port sent, waiting at most `limitMs` in all.
    std::vector<std::uint8_t> receive(std::size_t count, int limitMs = 1000) const
    {
        std::vector<std::uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) {
                continue;
            }
            std::uint8_t buf[512];
            const std::size_t want = std::min(sizeof buf, count - out.size());
            ssize_t n = ::read(m_master, buf, want);
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
            }
        }
        return out;
    }

    void hangUp()
    {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

private:
    int m_master = -1;
    std::string m_slave;
};

} // namespace korvane::test
