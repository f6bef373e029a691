#include "PortPosix.h"

#include "PortNames.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <type_traits>
#include <unistd.h>

namespace korvane {
namespace {

// What getSettings() keeps in LineSettings::native.
struct Native {
    termios tio;
    int modem;
    bool hasModem;
};
static_assert(sizeof(Native) <= sizeof(LineSettings::native));
static_assert(std::is_trivially_copyable_v<Native>);

struct Rate {
    std::uint32_t bits;
    speed_t code;
};
// The rates a termios line can carry. The loader also knows 14400, 56000, 128000 and
// 256000, which POSIX has no code for: setSettings() refuses them with EINVAL.
constexpr Rate kRates[] = {{110, B110},     {300, B300},     {600, B600},       {1200, B1200},
                           {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
                           {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};

bool codeOfRate(std::uint32_t bits, speed_t& code)
{
    for (const Rate& r : kRates) {
        if (r.bits == bits) {
            code = r.code;
            return true;
        }
    }
    return false;
}

std::uint32_t rateOfCode(speed_t code)
{
    for (const Rate& r : kRates) {
        if (r.code == code) {
            return r.bits;
        }
    }
    return 0;
}

// A line without modem lines (a pseudo-terminal) answers these; it is not an error.
bool noModemLines(int err)
{
    return err == ENOTTY || err == EINVAL;
}

// Whether a termios read back is the one that was set. c_line and the unused control
// characters are left out, as a driver may adjust them. A Linux pseudo-terminal always
// forces CS8 and clears PARENB (there is no wire to carry parity), so on one those two are
// not compared; on any other line a driver that drops the parity is a failure.
bool sameLine(const termios& a, const termios& b, bool pseudo)
{
    const tcflag_t ignored = pseudo ? tcflag_t(CSIZE | PARENB) : tcflag_t(0);
    static constexpr int kChars[] = {VMIN,  VTIME,  VSTART, VSTOP, VINTR,
                                     VQUIT, VERASE, VKILL,  VEOF,  VSUSP};
    if (a.c_iflag != b.c_iflag || a.c_oflag != b.c_oflag ||
        (a.c_cflag & ~ignored) != (b.c_cflag & ~ignored) || a.c_lflag != b.c_lflag ||
        cfgetispeed(&a) != cfgetispeed(&b) || cfgetospeed(&a) != cfgetospeed(&b)) {
        return false;
    }
    for (int i : kChars) {
        if (a.c_cc[i] != b.c_cc[i]) {
            return false;
        }
    }
    return true;
}

std::int64_t nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits for `events` until the deadline; returns the revents, 0 on time-out, -1 on error.
int waitFor(int fd, short events, std::int64_t deadline)
{
    for (;;) {
        std::int64_t left = deadline - nowMs();
        left = std::clamp<std::int64_t>(left, 0, INT_MAX); // poll() takes an int
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) {
            return p.revents;
        }
        if (n == 0) {
            if (nowMs() >= deadline) {
                return 0;
            }
            continue; // woke early: wait for the rest of the limit
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

} // namespace

PortPosix::~PortPosix()
{
    if (m_fd >= 0) {
        closeExclusive(m_fd);
    }
}

bool PortPosix::fail(int err)
{
    m_error = err != 0 ? err : EIO;
    return false;
}

int PortPosix::openExclusive(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    int wasExclusive = 0;
    bool knowExclusive = ::ioctl(fd, TIOCGEXCL, &wasExclusive) == 0;
    if (knowExclusive && wasExclusive) {
        // Another program holds the line in exclusive mode. Only a privileged user gets this
        // far (anyone else is refused by open() itself); the line is still not ours to share,
        // and closing it would end the holder's exclusivity.
        ::close(fd);
        errno = EBUSY;
        return -1;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        int err = errno; // ENOTTY for anything that is not a terminal
        ::close(fd);
        errno = err;
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno == EWOULDBLOCK ? EBUSY : errno;
        // Leave the holder's exclusivity as it was.
        if (knowExclusive && !wasExclusive) {
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(fd);
        errno = err;
        return -1;
    }
    // The descriptor stays non-blocking: a write is tried at once and waits in poll() only
    // when the line's output buffer is full, a read waits in poll() for its byte. Neither can
    // block past its time limit.
    return fd;
}

void PortPosix::closeExclusive(int fd)
{
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

bool PortPosix::open(const char* name)
{
    if (m_fd >= 0) {
        close();
    }
    int fd = openExclusive(cheminPort(name ? name : ""));
    if (fd < 0) {
        return fail(errno);
    }
    m_fd = fd;
    struct stat st {};
    m_pseudo = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
               major(st.st_rdev) <= 143; // the Unix98 pseudo-terminal slaves
    return true;
}

bool PortPosix::getSettings(LineSettings& out)
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    Native n{};
    if (::tcgetattr(m_fd, &n.tio) != 0) {
        return fail(errno);
    }
    if (::ioctl(m_fd, TIOCMGET, &n.modem) == 0) {
        n.hasModem = true;
    } else if (!noModemLines(errno)) {
        return fail(errno);
    }

    LineSettings s;
    s.baudRate = rateOfCode(cfgetospeed(&n.tio));
    s.binary = true;
    s.parityCheck = (n.tio.c_iflag & INPCK) != 0;
    s.outxCtsFlow = (n.tio.c_cflag & CRTSCTS) != 0;
    s.outX = (n.tio.c_iflag & IXON) != 0;
    s.inX = (n.tio.c_iflag & IXOFF) != 0;
    s.dtrControl = n.hasModem && (n.modem & TIOCM_DTR) ? 1 : 0;
    s.rtsControl = n.hasModem && (n.modem & TIOCM_RTS) ? 1 : 0;
    switch (n.tio.c_cflag & CSIZE) {
    case CS5:
        s.byteSize = 5;
        break;
    case CS6:
        s.byteSize = 6;
        break;
    case CS7:
        s.byteSize = 7;
        break;
    default:
        s.byteSize = 8;
        break;
    }
    s.parity = (n.tio.c_cflag & PARENB) ? ((n.tio.c_cflag & PARODD) ? 1 : 2) : 0;
    s.stopBits = (n.tio.c_cflag & CSTOPB) ? 2 : 0;
    s.xonChar = static_cast<char>(n.tio.c_cc[VSTART]);
    s.xoffChar = static_cast<char>(n.tio.c_cc[VSTOP]);
    s.hasNative = true;
    std::memcpy(s.native.data(), &n, sizeof n);
    out = s;
    return true;
}

bool PortPosix::setSettings(const LineSettings& in)
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    // What was written goes out with the settings it was written under.
    if (!flushBurst()) {
        return false;
    }
    Native n{};
    if (in.hasNative) {
        std::memcpy(&n, in.native.data(), sizeof n);
    } else {
        if (::tcgetattr(m_fd, &n.tio) != 0) {
            return fail(errno);
        }
        if (!termiosFor(in, n.tio)) {
            return fail(EINVAL);
        }
        n.hasModem = true;
        n.modem = (in.dtrControl ? TIOCM_DTR : 0) | (in.rtsControl ? TIOCM_RTS : 0);
    }

    if (m_pseudo) {
        // A pseudo-terminal has no wire to carry parity: the kernel drops PARENB and the C
        // library then refuses every later change that asks for it again (EINVAL). Ask only
        // for what such a line can hold.
        n.tio.c_cflag = (n.tio.c_cflag & ~tcflag_t(CSIZE | PARENB)) | CS8;
    }
    if (::tcsetattr(m_fd, TCSANOW, &n.tio) != 0) {
        return fail(errno);
    }
    if (n.hasModem) {
        int on = n.modem & (TIOCM_DTR | TIOCM_RTS);
        int off = ~n.modem & (TIOCM_DTR | TIOCM_RTS);
        if ((on && ::ioctl(m_fd, TIOCMBIS, &on) != 0 && !noModemLines(errno)) ||
            (off && ::ioctl(m_fd, TIOCMBIC, &off) != 0 && !noModemLines(errno))) {
            return fail(errno);
        }
    }
    termios check{};
    if (::tcgetattr(m_fd, &check) != 0) {
        return fail(errno);
    }
    if (!sameLine(check, n.tio, m_pseudo)) {
        return fail(EIO);
    }
    return true;
}

bool PortPosix::termiosFor(const LineSettings& in, termios& t)
{
    speed_t speed{};
    if (!codeOfRate(in.baudRate, speed)) {
        return false;
    }
    // Raw line, every field set here whatever another program left: no stripping to 7 bits
    // (0x84 would read as 0x04), no line editing, echo or output processing, and INPCK
    // without PARMRK or IGNPAR, so a byte with a parity error reads as 0x00.
    t.c_iflag = (in.parityCheck ? INPCK : 0) | (in.outX ? IXON : 0) | (in.inX ? IXOFF : 0);
    t.c_oflag = 0;
    t.c_lflag = 0;
    const tcflag_t size = in.byteSize == 5   ? CS5
                          : in.byteSize == 6 ? CS6
                          : in.byteSize == 7 ? CS7
                                             : CS8;
    t.c_cflag = CLOCAL | CREAD | size;
    if (in.parity == 1) {
        t.c_cflag |= PARENB | PARODD;
    } else if (in.parity == 2) {
        t.c_cflag |= PARENB;
    }
    if (in.stopBits != 0) {
        t.c_cflag |= CSTOPB;
    }
    if (in.outxCtsFlow) {
        t.c_cflag |= CRTSCTS;
    }
    // Reads wait in poll(); read() itself never blocks.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(in.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(in.xoffChar);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return true;
}

bool PortPosix::getTimeouts(Timeouts& out)
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    out = m_timeouts;
    return true;
}

bool PortPosix::setTimeouts(const Timeouts& in)
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    m_timeouts = in;
    return true;
}

bool PortPosix::purge()
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    // The gathered bytes were written before the purge: they are handed to the line first,
    // as single writes would have been, and the purge then empties it as usual.
    if (!flushBurst()) {
        return false;
    }
    if (::tcflush(m_fd, TCIOFLUSH) != 0) {
        return fail(errno);
    }
    return true;
}

bool PortPosix::writeByte(std::uint8_t byte)
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    // Right behind the first byte of a burst: gathered, to go out with the rest in one write.
    if (m_burst && m_gatheredCount < m_gathered.size()) {
        m_gathered[m_gatheredCount++] = byte;
        return true;
    }
    if (!flushBurst()) {
        return false;
    }
    // The first byte goes out at once, so that the device is already receiving it while the
    // rest of the command is written.
    if (!writeAll(&byte, 1)) {
        return false;
    }
    m_burst = true;
    return true;
}

bool PortPosix::writeAll(const std::uint8_t* bytes, std::size_t n)
{
    const std::int64_t deadline = nowMs() +
                                  std::int64_t(m_timeouts.writeTotalMultiplier) * std::int64_t(n) +
                                  m_timeouts.writeTotalConstant;
    while (n > 0) {
        // Almost always the bytes go straight into the line's output buffer; only a full
        // buffer makes them wait, up to the write limit.
        const ssize_t w = ::write(m_fd, bytes, n);
        if (w > 0) {
            bytes += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w < 0 && errno != EAGAIN) {
            return fail(errno);
        }
        const int ev = waitFor(m_fd, POLLOUT, deadline);
        if (ev < 0) {
            return fail(errno);
        }
        if (ev == 0) {
            return fail(ETIMEDOUT);
        }
        if (ev & POLLNVAL) {
            return fail(EBADF);
        }
        if (ev & (POLLHUP | POLLERR)) {
            return fail(EIO);
        }
    }
    return true;
}

bool PortPosix::flushBurst()
{
    m_burst = false;
    const std::size_t n = m_gatheredCount;
    m_gatheredCount = 0;
    return n == 0 || writeAll(m_gathered.data(), n);
}

bool PortPosix::readByte(std::uint8_t& byte, bool& received)
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    // The answer cannot come before the command has gone.
    if (!flushBurst()) {
        return false;
    }
    const std::int64_t deadline =
        nowMs() + std::int64_t(m_timeouts.readTotalMultiplier) + m_timeouts.readTotalConstant;
    for (;;) {
        int ev = waitFor(m_fd, POLLIN, deadline);
        if (ev < 0) {
            return fail(errno);
        }
        if (ev == 0) {
            received = false;
            return true;
        }
        if (ev & POLLNVAL) {
            return fail(EBADF);
        }
        if (!(ev & POLLIN)) {
            return fail(EIO); // POLLHUP or POLLERR with nothing left to read
        }
        std::uint8_t b = 0;
        ssize_t n = ::read(m_fd, &b, 1);
        if (n == 1) {
            byte = b;
            received = true;
            return true;
        }
        if (n == 0) {
            return fail(EIO); // end of file on a readable line: the other end hung up
        }
        if (errno != EINTR && errno != EAGAIN) {
            return fail(errno);
        }
    }
}

bool PortPosix::close()
{
    if (m_fd < 0) {
        return fail(EBADF);
    }
    // Whatever was written still goes out, within the write limit. On Linux the descriptor is
    // released whatever close() reports, so the port counts as closed from here on: reporting
    // a failure would leave the caller with a port it can neither use nor close again.
    flushBurst();
    closeExclusive(m_fd);
    m_fd = -1;
    return true;
}

// A wait lets what was written travel meanwhile. Neither call reports an error: a gathered
// byte that cannot go out is dropped, and the device's silence (or the hang-up) is what the
// next read sees.
std::uint32_t PortPosix::tickCount()
{
    flushBurst();
    return static_cast<std::uint32_t>(nowMs());
}

void PortPosix::sleep(std::uint32_t ms)
{
    flushBurst();
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace korvane
