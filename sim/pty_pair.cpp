#include "sim/pty_pair.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace orv::test {

namespace {

void MakeRaw(int fd) {
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
}

std::runtime_error SysError(const char* what) {
    return std::runtime_error(std::string("PtyPair: ") + what + ": " + std::strerror(errno));
}

}  // namespace

PtyPair::PtyPair(int port) : m_port(port) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) throw SysError("posix_openpt");
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        close(m_master);
        throw SysError("grantpt/unlockpt");
    }
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        close(m_master);
        throw SysError("ptsname_r");
    }
    m_slavePath = name;
    m_spare = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_spare < 0) {
        close(m_master);
        throw SysError("open slave");
    }
    MakeRaw(m_spare);
    MakeRaw(m_master);
    int fl = fcntl(m_master, F_GETFL);
    fcntl(m_master, F_SETFL, fl | O_NONBLOCK);

    if (m_port > 0) {
        m_envName = "ECR_COM" + std::to_string(m_port);
        if (const char* prev = std::getenv(m_envName.c_str())) m_previousEnv = prev;
        setenv(m_envName.c_str(), m_slavePath.c_str(), 1);
    }
}

PtyPair::~PtyPair() {
    if (!m_envName.empty()) {
        if (m_previousEnv)
            setenv(m_envName.c_str(), m_previousEnv->c_str(), 1);
        else
            unsetenv(m_envName.c_str());
    }
    CloseSpare();
    CloseMaster();
}

void PtyPair::CloseSpare() {
    if (m_spare >= 0) close(m_spare);
    m_spare = -1;
}

void PtyPair::CloseMaster() {
    if (m_master >= 0) close(m_master);
    m_master = -1;
}

bool PtyPair::WriteMaster(const void* data, size_t size, int timeoutMs) {
    const auto* p = static_cast<const unsigned char*>(data);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        if (m_master < 0) return false;
        ssize_t n = write(m_master, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        struct pollfd pfd = {m_master, POLLOUT, 0};
        poll(&pfd, 1, static_cast<int>(left));
    }
    return true;
}

}  // namespace orv::test
