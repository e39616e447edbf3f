// Serial devices on a tty through termios.
//
// The device is opened without becoming the controlling terminal (no SIGHUP
// reaches a daemon host), non-blocking, not inherited by child programs, and
// locked with flock so that a second open anywhere fails (TIOCEXCL would not
// stop root). The line is raw: 8 bits through, no echo, no signals, no CR/LF
// mapping, no parity checking or stripping, reads return at once.
//
// A pseudo-terminal has no modem lines (TIOCMGET answers ENOTTY): DTR/RTS
// changes are accepted without effect there. It also reports an empty output
// queue while the peer has not read what was written, so output is discarded
// only when the driver reports pending output.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/serial_termios.h"

namespace orv::platform {

int SetSerialCustomBaud(int fd, int baud);   // serial_termios2.cpp

speed_t SerialSpeedConstant(int baud) {
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

namespace {

void MakeRaw(struct termios& tio) {
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

tcflag_t SizeFlag(int bits) {
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

class TermiosSerialDevice final : public SerialDevice {
public:
    ~TermiosSerialDevice() override { Close(); }

    int Open(const std::string& path) override {
        Close();
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno;
        if (!::isatty(fd)) {
            ::close(fd);
            return ENOTTY;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
            ::close(fd);
            return err;
        }
        m_fd = fd;
        m_noModemLines = false;
        m_outputIdle = false;
        // Raw at once, so nothing is echoed or mapped before the set-up.
        struct termios tio;
        if (::tcgetattr(m_fd, &tio) == 0) {
            MakeRaw(tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
        return 0;
    }

    void Close() override {
        if (m_fd < 0) return;
        // close() waits for the output to drain on a real port: discard it.
        int out = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &out) == 0 && out > 0) ::tcflush(m_fd, TCOFLUSH);
        ::close(m_fd);
        m_fd = -1;
    }

    bool IsOpen() const override { return m_fd >= 0; }

    int Configure(const SerialLineSettings& s) override {
        if (m_fd < 0) return EBADF;
        struct termios tio;
        if (::tcgetattr(m_fd, &tio) != 0) return errno;
        MakeSerialTermios(s, &tio);
        const speed_t speed = SerialSpeedConstant(s.baud);
        const bool custom = speed == B0;
        ::cfsetispeed(&tio, custom ? B38400 : speed);
        ::cfsetospeed(&tio, custom ? B38400 : speed);
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
            // A pseudo-terminal keeps 8 bits without parity whatever it is
            // told, and the C library reports that as EINVAL although the
            // rest was applied: the bytes pass unchanged, so accept it.
            if (errno != EINVAL || !IsPseudoTerminal()) return errno;
        }
        m_charMicros = CharMicros(s);
        if (custom) return SetSerialCustomBaud(m_fd, s.baud);
        return 0;
    }

    int FlushInput() override {
        if (m_fd < 0) return EBADF;
        return ::tcflush(m_fd, TCIFLUSH) == 0 ? 0 : errno;
    }

    int FlushOutput() override {
        if (m_fd < 0) return EBADF;
        int out = OutputPending();
        if (out < 0) return -out;
        if (out == 0) return 0;   // a pseudo-terminal would lose what the peer has not read yet
        return ::tcflush(m_fd, TCOFLUSH) == 0 ? 0 : errno;
    }

    int InputPending() override {
        if (m_fd < 0) return -EBADF;
        int n = 0;
        if (::ioctl(m_fd, FIONREAD, &n) != 0) return -errno;
        return n;
    }

    int OutputPending() override {
        if (m_fd < 0) return -EBADF;
        // Only our writes fill the queue: once seen empty, it stays empty
        // until the next write, and is not asked again per frame.
        if (m_outputIdle) return 0;
        int n = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &n) != 0) return -errno;
        m_outputIdle = n == 0;
        return n;
    }

    long Write(const uint8_t* data, size_t size) override {
        if (m_fd < 0) return -EBADF;
        if (size == 0) return 0;
        for (;;) {
            ssize_t n = ::write(m_fd, data, size);
            if (n > 0) m_outputIdle = false;
            if (n >= 0) return static_cast<long>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            return -errno;
        }
    }

    long Read(uint8_t* data, size_t size) override {
        if (m_fd < 0) return -EBADF;
        if (size == 0) return 0;
        for (;;) {
            ssize_t n = ::read(m_fd, data, size);
            if (n > 0) return static_cast<long>(n);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -errno;
            // Nothing read: empty, or a hung-up terminal (which reads as end of file).
            struct pollfd p = {m_fd, 0, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return -EIO;
            return 0;
        }
    }

    int SetDtr(bool on) override { return SetLine(TIOCM_DTR, on); }
    int SetRts(bool on) override { return SetLine(TIOCM_RTS, on); }

    int GetModemBits(int* bits) override {
        *bits = 0;
        if (m_fd < 0) return EBADF;
        // A line without modem lines (a pseudo-terminal) keeps having none.
        if (m_noModemLines) return ENOTTY;
        int m = 0;
        if (::ioctl(m_fd, TIOCMGET, &m) != 0) {
            m_noModemLines = NoModemLines(errno);
            return m_noModemLines ? ENOTTY : errno;
        }
        if (m & TIOCM_CTS) *bits |= kModemCts;
        if (m & TIOCM_DSR) *bits |= kModemDsr;
        if (m & TIOCM_RNG) *bits |= kModemRing;
        if (m & TIOCM_CAR) *bits |= kModemRlsd;
        return 0;
    }

    int Wait(SerialWaitFor what, const BreakSignal* brk, int timeoutMs) override {
        if (m_fd < 0) return kWaitLost;
        switch (what) {
        case SerialWaitFor::Input: return WaitForFd(m_fd, POLLIN, brk, timeoutMs);
        case SerialWaitFor::Room: return WaitForFd(m_fd, POLLOUT, brk, timeoutMs);
        case SerialWaitFor::Change: break;
        }
        // Modem lines and the output queue raise no poll event: watch the
        // descriptor (hang-up) and the break for one short slice.
        const int slice = ChangeSlice(timeoutMs, kChangeSliceMs, m_outputIdle ? 0 : OutputPending(), m_charMicros);
        int r = WaitForFd(m_fd, 0, brk, slice);
        if (r != kWaitTimeout) return r;
        return slice == timeoutMs ? kWaitTimeout : kWaitReady;
    }

    int fd() const override { return m_fd; }

private:
    static constexpr int kChangeSliceMs = 10;
    // Device numbers of the pseudo-terminal slaves (/dev/pts/*).
    static constexpr unsigned kPtySlaveMajorFirst = 136;
    static constexpr unsigned kPtySlaveMajorLast = 143;

    bool IsPseudoTerminal() const {
        struct stat st;
        if (::fstat(m_fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
        const unsigned m = major(st.st_rdev);
        return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
    }

    int SetLine(int bit, bool on) {
        if (m_fd < 0) return EBADF;
        if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
        return NoModemLines(errno) ? 0 : errno;
    }

    int m_fd = -1;
    bool m_noModemLines = false;   // TIOCMGET answered that there are none
    bool m_outputIdle = false;     // the output queue was empty and nothing was written since
    int64_t m_charMicros = 0;      // one character's time on the line, from the settings
};

}  // namespace

void MakeSerialTermios(const SerialLineSettings& s, struct termios* tio) {
    MakeRaw(*tio);
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio->c_cflag |= SizeFlag(s.dataBits);
    switch (s.parity) {
    case 'O': tio->c_cflag |= PARENB | PARODD; break;
    case 'E': tio->c_cflag |= PARENB; break;
    case 'M': tio->c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 'S': tio->c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.stopBits != 1) tio->c_cflag |= CSTOPB;   // 2, or 1.5 with 5 data bits
    if (s.ctsOutFlow || s.rtsControl == 2) tio->c_cflag |= CRTSCTS;
    if (s.xonOut) tio->c_iflag |= IXON;
    if (s.xonIn) tio->c_iflag |= IXOFF;
}

std::unique_ptr<SerialDevice> CreateTermiosDevice() { return std::make_unique<TermiosSerialDevice>(); }

std::unique_ptr<SerialDevice> CreateSystemSerialDevice() { return CreateTermiosDevice(); }

std::string SystemSerialPortPath(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

}  // namespace orv::platform
