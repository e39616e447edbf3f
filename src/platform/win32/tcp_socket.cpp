// TCP sockets on Windows: placeholder until the Winsock backend lands.
// Every socket fails to open with "network subsystem failed".
#include "platform/tcp_socket.h"

namespace orv::platform {

namespace {
constexpr int kWsaNetDown = 10050;
}

int WinsockCodeFromErrno(int err) { return err == 0 ? 0 : kWsaNetDown; }

bool ResolveIPv4(const std::string&, std::string&) { return false; }

TcpSocket::~TcpSocket() { Close(); }
int TcpSocket::Create() { return kWsaNetDown; }
void TcpSocket::Close() { m_fd = -1; }
int TcpSocket::SetLinger(bool, int) { return kWsaNetDown; }
int TcpSocket::SetReuseAddress(bool) { return kWsaNetDown; }
int TcpSocket::BindAny(uint16_t) { return kWsaNetDown; }
int TcpSocket::GetLocalPort(uint16_t&) const { return kWsaNetDown; }
int TcpSocket::Connect(uint32_t, uint16_t) { return kWsaNetDown; }
int TcpSocket::ConnectResult() const { return kWsaNetDown; }
int TcpSocket::Wait(short, const BreakSignal* brk, int) const {
    return brk != nullptr && brk->IsSet() ? kWaitBroken : kWaitLost;
}
long TcpSocket::Receive(void*, size_t, int& err) {
    err = kWsaNetDown;
    return -1;
}
long TcpSocket::Send(const void*, size_t, int& err) {
    err = kWsaNetDown;
    return -1;
}

}  // namespace orv::platform
