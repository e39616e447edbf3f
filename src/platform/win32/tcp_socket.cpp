// The IPv4 stream socket over Winsock 2. Waits select the socket's network
// events onto an event of its own (WSAEventSelect records the conditions that
// hold already when it is called) and wait for that event and the break event
// together.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>

#include "platform/clock.h"
#include "platform/tcp_socket.h"
#include "platform/win32/break_wait.h"

namespace orv::platform {

namespace {

SOCKET Sock(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

constexpr int kRoomSliceMs = 100;

// Whether the socket is ready as asked right now: readable (data, the
// peer's close, an error) or writable (connected with room, or a connect
// that failed).
bool ReadyNow(SOCKET s, short events) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (events & kWaitIn) FD_SET(s, &readable);
    if (events & kWaitOut) {
        FD_SET(s, &writable);
        FD_SET(s, &failed);
    }
    timeval now{0, 0};
    return select(0, &readable, &writable, &failed, &now) > 0;
}

int LastCode() {
    const int code = WSAGetLastError();
    return code != 0 ? code : 10050;
}

}  // namespace

// Winsock is started once for the process and left running: hosts load and
// unload the library while other parts of them use sockets too.
int StartSockets() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data;
        result = WSAStartup(MAKEWORD(2, 2), &data);
    });
    return result;
}

// Winsock reports its codes itself here; an errno value has none.
int WinsockCodeFromErrno(int err) { return err == 0 ? 0 : 10050; }

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Create() {
    Close();
    if (int e = StartSockets(); e != 0) return e;
    // Not inherited by the programs a job starts.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        // Systems before 7 SP1 know no WSA_FLAG_NO_HANDLE_INHERIT.
        s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s == INVALID_SOCKET) return LastCode();
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    u_long on = 1;
    if (ioctlsocket(s, FIONBIO, &on) != 0) {
        const int code = LastCode();
        closesocket(s);
        return code;
    }
    WSAEVENT ev = WSACreateEvent();
    if (ev == WSA_INVALID_EVENT) {
        const int code = LastCode();
        closesocket(s);
        return code;
    }
    // Socket handles of the system fit in 32 bits.
    m_fd = static_cast<int>(s);
    m_event = ev;
    m_connectError = 0;
    return 0;
}

void TcpSocket::Close() {
    if (m_fd >= 0) {
        closesocket(Sock(m_fd));
        m_fd = -1;
    }
    if (m_event != nullptr) {
        WSACloseEvent(static_cast<WSAEVENT>(m_event));
        m_event = nullptr;
    }
}

int TcpSocket::SetLinger(bool on, int seconds) {
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = static_cast<u_short>(seconds);
    return setsockopt(Sock(m_fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l) == 0
               ? 0
               : LastCode();
}

int TcpSocket::SetReuseAddress(bool on) {
    BOOL v = on ? TRUE : FALSE;
    return setsockopt(Sock(m_fd), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&v), sizeof v) == 0
               ? 0
               : LastCode();
}

int TcpSocket::SetNoDelay(bool on) {
    BOOL v = on ? TRUE : FALSE;
    return setsockopt(Sock(m_fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v), sizeof v) == 0
               ? 0
               : LastCode();
}

int TcpSocket::BindAny(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    return bind(Sock(m_fd), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : LastCode();
}

int TcpSocket::GetLocalPort(uint16_t& port) const {
    sockaddr_in a{};
    int len = sizeof a;
    if (getsockname(Sock(m_fd), reinterpret_cast<sockaddr*>(&a), &len) != 0) return LastCode();
    port = ntohs(a.sin_port);
    return 0;
}

int TcpSocket::Connect(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons(port);
    m_connectError = 0;
    if (connect(Sock(m_fd), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return 0;
    const int code = LastCode();
    // A non-blocking connect that has started: the outcome comes later.
    if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS) return kWsaWouldBlock;
    return code;
}

int TcpSocket::ConnectResult() const {
    if (m_connectError != 0) return m_connectError;
    int err = 0;
    int len = sizeof err;
    if (getsockopt(Sock(m_fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return LastCode();
    if (err != 0) return err;
    // No pending error: connected when the socket has a peer.
    sockaddr_in peer{};
    int plen = sizeof peer;
    if (getpeername(Sock(m_fd), reinterpret_cast<sockaddr*>(&peer), &plen) == 0) return 0;
    const int code = LastCode();
    return code == WSAENOTCONN ? kWsaWouldBlock : code;
}

bool TcpSocket::PeerHasClosed() const {
    char b;
    return recv(Sock(m_fd), &b, 1, MSG_PEEK) == 0;   // the socket does not block
}

int TcpSocket::Wait(short events, const BreakSignal* brk, int timeoutMs) const {
    if (m_fd < 0 || m_event == nullptr) return kWaitLost;
    long wanted = 0;
    if (events & kWaitIn) wanted |= FD_READ | FD_CLOSE;
    if (events & kWaitOut) wanted |= FD_WRITE | FD_CONNECT | FD_CLOSE;
    const HANDLE ev = static_cast<HANDLE>(m_event);
    const SOCKET s = Sock(m_fd);
    const int64_t end = WaitEnd(timeoutMs);
    for (;;) {
        // The network events only wake the wait: each is reported once until
        // the call that re-enables it, so what holds already (data left from
        // an earlier wake-up, room to send) is asked of the socket itself,
        // after selecting the events so that nothing slips in between.
        if (WSAEventSelect(s, ev, wanted) != 0) return kWaitLost;
        if (ReadyNow(s, events)) return kWaitReady;
        const int left = WaitLeft(end);
        // Room to send is reported only after a send that found none: a
        // wait for room looks at the socket again now and then.
        int slice = left;
        if ((events & kWaitOut) && (slice < 0 || slice > kRoomSliceMs)) slice = kRoomSliceMs;
        const int r = win32::WaitForHandles(&ev, 1, brk, slice, nullptr);
        if (r == kWaitTimeout) {
            if (slice != left) continue;
            return kWaitTimeout;
        }
        if (r != kWaitReady) return r;
        WSANETWORKEVENTS ne{};
        if (WSAEnumNetworkEvents(s, ev, &ne) != 0) return kWaitLost;
        if ((ne.lNetworkEvents & FD_CONNECT) && ne.iErrorCode[FD_CONNECT_BIT] != 0)
            m_connectError = ne.iErrorCode[FD_CONNECT_BIT];
        if (ne.lNetworkEvents & wanted) return kWaitReady;
    }
}

long TcpSocket::Receive(void* buf, size_t size, int& err) {
    err = 0;
    const int want = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
    const int r = recv(Sock(m_fd), static_cast<char*>(buf), want, 0);
    if (r == SOCKET_ERROR) {
        err = LastCode();
        return -1;
    }
    return r;
}

long TcpSocket::Send(const void* buf, size_t size, int& err) {
    err = 0;
    const int want = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
    const int r = send(Sock(m_fd), static_cast<const char*>(buf), want, 0);
    if (r == SOCKET_ERROR) {
        err = LastCode();
        return -1;
    }
    return r;
}

}  // namespace orv::platform
