// A small non-blocking IPv4 stream socket over BSD sockets. Failures are
// reported as Winsock codes of the same meaning (ECONNREFUSED -> 10061 and so
// on), which is how the TCP transport and its texts know them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/break_signal.h"

namespace orv::platform {

// Winsock codes the transport handles by name.
enum : int {
    kWsaWouldBlock = 10035,
    kWsaConnAborted = 10053,
    kWsaConnReset = 10054,
    kWsaNotConn = 10057,
    kWsaTimedOut = 10060,
    kWsaConnRefused = 10061,
};

// errno -> Winsock code of the same meaning. 0 stays 0; an errno without a
// Winsock counterpart gives 10050 (the network subsystem failed).
int WinsockCodeFromErrno(int err);

// The first IPv4 address of a host name, dotted ("192.168.1.20"); false
// when the name cannot be resolved.
bool ResolveIPv4(const std::string& host, std::string& dotted);

// Makes the system's sockets usable (Winsock started once for the process):
// 0, or a Winsock code.
int StartSockets();

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Every call below returns 0 for success or a Winsock code.
    int Create();                                 // non-blocking, close-on-exec stream socket
    bool IsOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void Close();

    int SetLinger(bool on, int seconds);
    int SetReuseAddress(bool on);
    int BindAny(uint16_t port);                   // any local address
    int GetLocalPort(uint16_t& port) const;

    // ip holds the first octet in its top byte. 0: connected at once;
    // kWsaWouldBlock: the connect goes on (see ConnectResult); else the failure.
    int Connect(uint32_t ip, uint16_t port);
    // Outcome of a connect that went on: 0 connected, kWsaWouldBlock still
    // going, else the failure.
    int ConnectResult() const;

    // Waits for `events` (kWaitIn/kWaitOut) as WaitForFd does.
    int Wait(short events, const BreakSignal* brk, int timeoutMs) const;

    // Bytes received (> 0), 0 when the peer has closed, -1 on failure with
    // the code in err (kWsaWouldBlock: nothing pending). Never blocks.
    long Receive(void* buf, size_t size, int& err);
    // Bytes sent (>= 0) or -1 with the code in err (kWsaWouldBlock: no room).
    // Never blocks and never raises SIGPIPE.
    long Send(const void* buf, size_t size, int& err);

private:
    int m_fd = -1;                     // descriptor, or the socket handle's value on Windows
    [[maybe_unused]] void* m_event = nullptr;          // Windows: the event its network events signal
    [[maybe_unused]] mutable int m_connectError = 0;   // Windows: the failure of the connect a wait saw
};

}  // namespace orv::platform
