#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orv::platform {

int WinsockCodeFromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EPERM:
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return kWsaWouldBlock;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return kWsaWouldBlock;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return kWsaConnAborted;
    case ECONNRESET: return kWsaConnReset;
    case ENOMEM:
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return kWsaNotConn;
    case EPIPE:
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return kWsaTimedOut;
    case ECONNREFUSED: return kWsaConnRefused;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return 10050;
    }
}

static int LastCode() { return WinsockCodeFromErrno(errno); }

int StartSockets() { return 0; }

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Create() {
    Close();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return m_fd < 0 ? LastCode() : 0;
}

void TcpSocket::Close() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

int TcpSocket::SetLinger(bool on, int seconds) {
    struct linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : LastCode();
}

int TcpSocket::SetReuseAddress(bool on) {
    int v = on ? 1 : 0;
    return setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0 ? 0 : LastCode();
}

int TcpSocket::SetNoDelay(bool on) {
    int v = on ? 1 : 0;
    return setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) == 0 ? 0 : LastCode();
}

int TcpSocket::BindAny(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    return bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : LastCode();
}

int TcpSocket::GetLocalPort(uint16_t& port) const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return LastCode();
    port = ntohs(a.sin_port);
    return 0;
}

int TcpSocket::Connect(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons(port);
    int r;
    do {
        r = connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } while (r != 0 && errno == EINTR);
    if (r == 0) return 0;
    // A non-blocking connect that has started: the outcome comes later.
    if (errno == EINPROGRESS || errno == EAGAIN) return kWsaWouldBlock;
    return LastCode();
}

int TcpSocket::ConnectResult() const {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return LastCode();
    if (err != 0) return WinsockCodeFromErrno(err);
    // No pending error: connected when the socket has a peer.
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    if (getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &plen) == 0) return 0;
    return errno == ENOTCONN ? kWsaWouldBlock : LastCode();
}

bool TcpSocket::PeerHasClosed() const {
    char b;
    ssize_t r;
    do {
        r = recv(m_fd, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    return r == 0;
}

int TcpSocket::Wait(short events, const BreakSignal* brk, int timeoutMs) const {
    return WaitForFd(m_fd, events, brk, timeoutMs);
}

long TcpSocket::Receive(void* buf, size_t size, int& err) {
    err = 0;
    ssize_t r;
    do {
        r = recv(m_fd, buf, size, MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        err = LastCode();
        return -1;
    }
    return static_cast<long>(r);
}

long TcpSocket::Send(const void* buf, size_t size, int& err) {
    err = 0;
    ssize_t r;
    do {
        r = send(m_fd, buf, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        err = LastCode();
        return -1;
    }
    return static_cast<long>(r);
}

}  // namespace orv::platform
