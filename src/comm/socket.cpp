#include "comm/socket.h"

#include <algorithm>

#include "comm/quiet_line.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

using orv::platform::kWaitBroken;
using orv::platform::kWaitLost;
using orv::platform::kWaitReady;
using orv::platform::kWaitTimeout;
using orv::platform::SecondDeadline;

namespace {

constexpr int kWaitConnectSeconds = 5;
constexpr size_t kReceiveChunk = 1024;
// One collection takes at most this many chunks, so a peer that keeps
// sending cannot hold a read in its loop.
constexpr int kCollectChunks = 64;

// Codes after which the connection cannot carry anything any more.
bool IsConnectionGone(int code) {
    switch (code) {
    case 10050: case 10051: case 10052:
    case orv::platform::kWsaConnAborted:
    case orv::platform::kWsaConnReset:
    case orv::platform::kWsaNotConn:
    case 10058:
    case orv::platform::kWsaTimedOut:
    case 10064: case 10065:
        return true;
    default:
        return false;
    }
}

void ShowNotice(const std::string& text) {
    orv::platform::ShowPlatformMessage(orv::platform::MessageKind::Notice, text);
}

}  // namespace

// ---------------------------------------------------------------------------
// CTelepathySocket

CTelepathySocket::CTelepathySocket() = default;

CTelepathySocket::~CTelepathySocket() { m_socket.Close(); }

int CTelepathySocket::SetNotifyWindow(EcrWindow window, uint32_t message) {
    m_notifier.SetWindow(window, message);
    m_break.Clear();
    m_bSpare = 0;
    return 1;
}

int CTelepathySocket::Delay(double seconds) {
    if (seconds <= 0) return 0;
    orv::platform::Deadline end(seconds);
    if (orv::platform::SleepUnlessBroken(&m_break, end.RemainingMillis()) == kWaitBroken) {
        m_nLastError = -7;
        return -7;
    }
    return 0;
}

int CTelepathySocket::GetError() const {
    return IsConnected() ? m_nLastError.load() : m_nConnectError.load();
}

int CTelepathySocket::Create() {
    CloseSocket();
    return m_socket.Create();
}

void CTelepathySocket::CloseSocket() {
    m_socket.Close();
    m_bDataReady = false;
    m_link = Link::Closed;
}

int CTelepathySocket::StartConnect(uint32_t ip, uint16_t port) {
    const int code = m_socket.Connect(ip, port);
    if (code == 0) {
        OnConnect(0);
        return 0;
    }
    if (code == orv::platform::kWsaWouldBlock) {
        m_link = Link::Connecting;
        return 0;
    }
    OnConnect(code);
    return code;
}

int CTelepathySocket::PollEvents(int timeoutMs) {
    switch (GetLink()) {
    case Link::Connecting: {
        const int w = m_socket.Wait(orv::platform::kWaitOut, &m_break, timeoutMs);
        if (w == kWaitBroken || w == kWaitTimeout) return w;
        int code = m_socket.ConnectResult();
        if (code == orv::platform::kWsaWouldBlock) return kWaitTimeout;
        // A device that took the connection and closed it at once (a busy
        // one does) refused it, as one that reset it did.
        if (code == 0 && m_socket.PeerHasClosed()) code = orv::platform::kWsaConnRefused;
        OnConnect(code);
        return kWaitReady;
    }
    case Link::Connected: {
        const int w = m_socket.Wait(orv::platform::kWaitIn, &m_break, timeoutMs);
        if (w == kWaitBroken || w == kWaitTimeout) return w;
        // Readable, or hung up: the next receive tells which.
        OnReceive(0);
        return kWaitReady;
    }
    default:
        // Nothing can arrive on a socket that is not connected.
        return m_break.IsSet() ? kWaitBroken : kWaitTimeout;
    }
}

long CTelepathySocket::ReceiveSome(void* buf, size_t size, int& err) {
    m_bDataReady = false;
    const long r = m_socket.Receive(buf, size, err);
    if (r > 0) return r;
    if (r == 0) {               // orderly close by the peer
        err = 0;
        OnLost(0);
        return -1;
    }
    if (err == orv::platform::kWsaWouldBlock) return 0;
    OnLost(err);
    return -1;
}

long CTelepathySocket::SendSome(const void* buf, size_t size, int& err) {
    const long r = m_socket.Send(buf, size, err);
    if (r >= 0) return r;
    if (err == orv::platform::kWsaWouldBlock) return 0;
    if (IsConnectionGone(err)) OnLost(err);
    else m_nLastError = err;
    return -1;
}

void CTelepathySocket::OnLost(int code) {
    m_nLastError = code;
    m_bDataReady = false;
    m_link = Link::Lost;
}

void CTelepathySocket::OnConnect(int error) {
    if (error == 0) {
        m_link = Link::Connected;
        return;
    }
    m_nConnectError = error;
    m_nLastError = error;
    m_link = Link::Failed;
}

void CTelepathySocket::OnReceive(int error) {
    m_bDataReady = true;
    if (error != 0) m_nLastError = error;
}

// ---------------------------------------------------------------------------
// CTelepathyEth

CTelepathyEth::CTelepathyEth() = default;
CTelepathyEth::~CTelepathyEth() = default;

int CTelepathyEth::Connect(uint32_t ip, uint32_t port) {
    m_nError = 0;
    m_rxBuffer.RemoveAll();
    m_bUnsettled = false;
    if (!m_pSocket) {
        m_nError = -3;
        return 0;
    }
    CTelepathySocket& s = *m_pSocket;
    s.CloseSocket();
    if (ip == 0 || port == 0) return 0;
    if (port > 0xFFFF) {        // would silently become another port
        m_nError = -1;
        return 0;
    }

    int code = s.Create();
    if (code != 0) {
        m_nError = code;
        return 0;
    }
    orv::platform::TcpSocket& h = s.Handle();
    // Closing resets the connection at once instead of lingering.
    if ((code = h.SetLinger(true, 0)) != 0) ShowNotice(GetErrorText(code));
    if ((code = h.SetReuseAddress(true)) != 0) ShowNotice(GetErrorText(code));
    // A turn is a few bytes each way (ENQ, a frame, ACK, EOT): each goes
    // out at once, not held back until the peer's delayed acknowledgement.
    if ((code = h.SetNoDelay(true)) != 0) ShowNotice(GetErrorText(code));

    m_bSpare = 0;
    uint16_t localPort = 0;
    code = h.BindAny(0);
    if (code == 0) code = h.GetLocalPort(localPort);
    if (code != 0) {
        ShowNotice(GetErrorText(code));
        m_nError = code;
        s.CloseSocket();
        return 0;
    }

    code = s.StartConnect(ip, static_cast<uint16_t>(port));
    if (code != 0) {
        ShowNotice(GetConnectErrorText(code));
        m_nError = code;
        return 0;
    }
    m_nIp = ip;
    m_nTcpPort = port;
    return 1;
}

bool CTelepathyEth::WaitConnected() {
    m_nError = 0;
    if (!m_pSocket) {
        m_nError = -3;
        return false;
    }
    CTelepathySocket& s = *m_pSocket;
    switch (s.GetLink()) {
    case CTelepathySocket::Link::Connected:
        return true;
    case CTelepathySocket::Link::Lost:
        m_nError = -6;
        return false;
    case CTelepathySocket::Link::Failed:
        m_nError = s.GetError() != 0 ? s.GetError() : -3;
        return false;
    case CTelepathySocket::Link::Closed:
        m_nError = -3;
        return false;
    case CTelepathySocket::Link::Connecting:
        break;
    }

    s.ClearConnectError();
    SecondDeadline deadline(kWaitConnectSeconds);
    for (;;) {
        const int w = s.PollEvents(deadline.RemainingMillis());
        const CTelepathySocket::Link link = s.GetLink();
        if (link == CTelepathySocket::Link::Connected) return true;
        if (link != CTelepathySocket::Link::Connecting) {
            m_nError = s.GetError() != 0 ? s.GetError() : -3;
            return false;
        }
        if (w == kWaitBroken || s.IsBroken()) {
            m_nError = -7;
            return false;
        }
        if (deadline.Passed()) {
            m_nError = s.GetError() != 0 ? s.GetError() : -5;
            return false;
        }
    }
}

bool CTelepathyEth::ReadyForInput() {
    if (WaitConnected()) return true;
    const int code = m_nError;
    if (m_pSocket && m_pSocket->GetLink() == CTelepathySocket::Link::Lost && !m_rxBuffer.IsEmpty()) {
        m_nError = 0;           // what arrived before the close can still be read
        return true;
    }
    m_nError = (code == -6 || code == -7) ? code : -3;
    return false;
}

int CTelepathyEth::Collect(int timeoutMs) {
    if (!m_pSocket) return -3;
    CTelepathySocket& s = *m_pSocket;
    auto drain = [&]() -> int {
        bool got = false;
        uint8_t buf[kReceiveChunk];
        for (int i = 0; i < kCollectChunks && s.IsConnected(); ++i) {
            int err = 0;
            const long r = s.ReceiveSome(buf, sizeof buf, err);
            if (r <= 0) break;
            m_rxBuffer.Append(buf, static_cast<size_t>(r));
            got = true;
        }
        if (got) return 1;
        return s.GetLink() == CTelepathySocket::Link::Lost ? -6 : 0;
    };
    if (!s.IsConnected()) return s.GetLink() == CTelepathySocket::Link::Lost ? -6 : -3;
    int r = drain();
    if (r != 0 || timeoutMs == 0) return r;
    const int w = s.PollEvents(timeoutMs);
    if (w == kWaitBroken) return -7;
    if (w == kWaitTimeout) return 0;
    return drain();
}

CChrArr CTelepathyEth::TakeInput(int n) {
    n = std::min(n, m_rxBuffer.GetLength());
    CChrArr out = m_rxBuffer.Left(n);
    m_rxBuffer.RemoveAt(0, n);
    return out;
}

CChrArr CTelepathyEth::Receive(int t) {
    m_nError = 0;
    CChrArr out;
    if (!m_pSocket) {
        m_nError = -3;
        return out;
    }
    CTelepathySocket& s = *m_pSocket;
    if (!s.IsDataReady()) {
        SecondDeadline deadline(t < 0 ? -1 : std::max(t, 1));
        for (;;) {
            const CTelepathySocket::Link link = s.GetLink();
            if (link == CTelepathySocket::Link::Lost) {
                m_nError = -6;
                break;
            }
            if (link != CTelepathySocket::Link::Connected && link != CTelepathySocket::Link::Connecting) {
                m_nError = -3;
                break;
            }
            const int w = s.PollEvents(deadline.RemainingMillis());
            if (s.IsDataReady()) break;
            if (w == kWaitBroken || s.IsBroken()) {
                m_nError = -7;
                break;
            }
            if (deadline.Passed()) {
                m_nError = -5;
                break;
            }
        }
    }
    if (s.IsDataReady()) {
        uint8_t buf[kReceiveChunk];
        int err = 0;
        const long r = s.ReceiveSome(buf, sizeof buf, err);
        if (r > 0) out.Append(buf, static_cast<size_t>(r));
        else if (r < 0) m_nError = -6;
    }
    return out;
}

int CTelepathyEth::Send(const CChrArr& bytes, int t) {
    m_nError = 0;
    if (!m_pSocket || !m_pSocket->IsConnected()) {
        m_nError = (m_pSocket && m_pSocket->GetLink() == CTelepathySocket::Link::Lost) ? -6 : -3;
        return 0;
    }
    CTelepathySocket& s = *m_pSocket;
    const size_t size = static_cast<size_t>(bytes.GetLength());
    size_t sent = 0;
    SecondDeadline deadline(t);
    while (sent < size) {
        if (s.IsBroken()) {
            m_nError = -7;
            break;
        }
        int err = 0;
        const long r = s.SendSome(bytes.data() + sent, size - sent, err);
        if (r > 0) {
            sent += static_cast<size_t>(r);
            continue;
        }
        if (r < 0) {
            m_nError = s.GetLink() == CTelepathySocket::Link::Lost ? -6 : err;
            ShowNotice(GetErrorText(m_nError));
            break;
        }
        // No room: wait for the peer to take some.
        if (deadline.Passed()) {
            m_nError = -5;
            break;
        }
        if (s.Handle().Wait(orv::platform::kWaitOut, &s.BreakFlag(), deadline.RemainingMillis()) == kWaitBroken) {
            m_nError = -7;
            break;
        }
    }
    return static_cast<int>(sent);
}

void CTelepathyEth::NoteExchange(int t, bool gotBytes) {
    if (t != 0 && (m_nError == -5 || m_nError == -7))
        m_bUnsettled = true;
    else if (m_nError == 0 && gotBytes && !IsBroken())
        m_bUnsettled = false;
}

void CTelepathyEth::SettleLine() {
    if (!m_bUnsettled || !m_pSocket) return;
    const orv::comm::QuietLine q = orv::comm::WaitForQuietLine(
        m_dQuietSeconds, m_dQuietLimitSeconds,
        [this] {
            if (m_pSocket->IsConnected()) Collect(0);
            m_rxBuffer.RemoveAll();
        },
        [this](int ms) {
            const int w = m_pSocket->PollEvents(ms);
            if (w == kWaitBroken) return static_cast<int>(kWaitBroken);
            if (!m_pSocket->IsConnected()) return static_cast<int>(kWaitLost);
            return w;
        });
    if (q == orv::comm::QuietLine::Quiet || q == orv::comm::QuietLine::StillTalking) m_bUnsettled = false;
}

int CTelepathyEth::Write(int /*port*/, const CChrArr& bytes, int t) {
    m_nError = 0;
    if (bytes.IsEmpty()) {
        m_nError = -1;
        return 0;
    }
    if (!WaitConnected()) {
        if (m_nError != -6 && m_nError != -7) m_nError = -3;
        return 0;
    }
    SettleLine();
    const int sent = Send(bytes, t);
    NoteExchange(t, false);
    return sent;
}

CChrArr CTelepathyEth::Read(int port, int n, int t) {
    CChrArr bytes = ReadBytes(port, n, t);
    NoteExchange(t, !bytes.IsEmpty());
    return bytes;
}

CChrArr CTelepathyEth::ReadUntil(int port, uint8_t term, int maxLen, int t) {
    CChrArr bytes = ReadUpTo(port, term, maxLen, t);
    NoteExchange(t, !bytes.IsEmpty());
    return bytes;
}

CChrArr CTelepathyEth::ReadBytes(int /*port*/, int n, int t) {
    m_nError = 0;
    if (n < 0) {
        m_nError = -1;
        return CChrArr();
    }
    const int held = m_rxBuffer.GetLength();
    if (n != 0 && held >= n) return TakeInput(n);
    if (!ReadyForInput()) return CChrArr();

    CChrArr result = TakeInput(held);
    const int need = n != 0 ? n - held : 0;
    SecondDeadline deadline(t);
    int waitMs = 0;             // the first pass only looks
    for (;;) {
        const int c = Collect(waitMs);
        if (need > 0 && m_rxBuffer.GetLength() >= need) {
            result += TakeInput(need);
            if (IsBroken()) m_nError = -7;
            return result;
        }
        if (need == 0 && !m_rxBuffer.IsEmpty()) result += TakeInput(m_rxBuffer.GetLength());
        if (need == 0 && !result.IsEmpty()) {
            if (IsBroken()) m_nError = -7;
            return result;
        }
        if (c == -6) {
            m_nError = -6;
            return result;
        }
        if (c == -7 || IsBroken()) {
            m_nError = -7;
            return result;
        }
        if (deadline.Passed()) {
            m_nError = -5;
            return result;
        }
        waitMs = deadline.RemainingMillis();
    }
}

CChrArr CTelepathyEth::ReadUpTo(int /*port*/, uint8_t term, int maxLen, int t) {
    m_nError = 0;
    if (maxLen <= 0) {
        m_nError = -1;
        return CChrArr();
    }
    // The answer when the buffer holds one: up to and including the
    // terminator, or everything with -8 when maxLen bytes came without it.
    auto answer = [&](CChrArr& out) -> bool {
        const int pos = m_rxBuffer.Find(term);
        if (pos >= 0 && pos < maxLen) {
            out = TakeInput(pos + 1);
            return true;
        }
        if (m_rxBuffer.GetLength() >= maxLen) {
            out = TakeInput(m_rxBuffer.GetLength());
            m_nError = -8;
            return true;
        }
        return false;
    };

    CChrArr out;
    if (answer(out)) return out;
    if (!ReadyForInput()) return out;
    SecondDeadline deadline(t);
    int waitMs = 0;
    for (;;) {
        const int c = Collect(waitMs);
        if (answer(out)) return out;
        if (c == -6) {
            m_nError = -6;
            return out;
        }
        if (c == -7 || IsBroken()) {
            m_nError = -7;
            return out;
        }
        if (deadline.Passed()) {
            m_nError = -5;
            return out;
        }
        waitMs = deadline.RemainingMillis();
    }
}

int CTelepathyEth::GetInputCount(int /*port*/) {
    m_nError = 0;
    if (!ReadyForInput()) return 0;
    if (Collect(0) == -6 && m_rxBuffer.IsEmpty()) m_nError = -6;
    return m_rxBuffer.GetLength();
}

int CTelepathyEth::FindInInput(int /*port*/, uint8_t byte) {
    m_nError = 0;
    int pos = m_rxBuffer.Find(byte);
    if (pos < 0 && m_pSocket && m_pSocket->IsConnected()) {
        Collect(0);
        pos = m_rxBuffer.Find(byte);
    }
    return pos + 1;
}

int CTelepathyEth::FlushInput(int /*port*/) {
    m_nError = 0;
    if (ReadyForInput() && m_pSocket->IsConnected()) Collect(0);  // what has come is stale too
    m_rxBuffer.RemoveAll();
    return m_nError;
}

int CTelepathyEth::FlushOutput(int /*port*/) {
    m_nError = 0;
    return 0;
}

int CTelepathyEth::SetLineOption(int /*port*/, int /*value*/) {
    m_nError = 0;
    return 0;
}

int CTelepathyEth::Close() {
    m_nError = 0;
    if (m_pSocket) m_pSocket->CloseSocket();
    return 1;
}

bool CTelepathyEth::IsBroken() const { return m_pSocket && m_pSocket->IsBroken(); }

void CTelepathyEth::Notify(int event, const std::string& text, int percent, int value) {
    if (m_pSocket) m_pSocket->Notify(event, text, percent, value);
}

std::string SocketErrorText(int code) {
    switch (code) {
    case -10: return PL("Błąd obsługi połączenia: brak zasobów");
    case -9: return PL("Błąd obsługi połączenia: transmisja została przerwana");
    case -8: return PL("Błąd obsługi połączenia: przepełnienie bufora wejściowego");
    case -7: return PL("Transmisja przerwana przez użytkownika");
    case -6: return PL("Błąd obsługi połączenia: utrata połączenia");
    case -5: return PL("Błąd obsługi połączenia: czas oczekiwania upłynął");
    case -4: return PL("Połączenie o danym numerze jest już w użyciu");
    case -3: return PL("Połączenie nie zostało aktywowane");
    case -2: return PL("Połączenie o danym numerze nie istnieje");
    case -1: return PL("Błąd obsługi połączenia: niewłaściwy parametr");
    default: return CTelepathyEth::GetConnectErrorText(code);
    }
}

std::string CTelepathyEth::GetErrorText(int code) {
    if (code >= -10 && code <= -1) return SocketErrorText(code);
    switch (code) {
    case 10022: return "The socket has not been bound with Bind.";
    case 10024: return "No more file descriptors are available.";
    case 10035: return "The socket is marked as nonblocking and the Receive operation would block.";
    case 10036: return "A blocking Windows Sockets operation is in progress.";
    case 10038: return "The descriptor is not a socket.";
    case 10040: return "The datagram was too large to fit into the specified buffer and was truncated.";
    case 10041: return "The specified port is the wrong type for this socket.";
    case 10043: return "The specified port is not supported.";
    case 10044: return "The specified socket type is not supported in this address family.";
    case 10045: return "MSG_OOB was specified, but the socket is not of type SOCK_STREAM.";
    case 10047: return "The specified address family is not supported.";
    case 10049: return "The requested address is not valid in its context.";
    case 10050: return "The Windows Sockets implementation detected that the network subsystem failed.";
    case 10053: return "The virtual circuit was aborted due to timeout or other failure.";
    case 10054: return "The virtual circuit was reset by the remote side.";
    case 10055: return "No buffer space is available. The socket cannot be created.";
    case 10057: return "The socket is not connected.";
    case 10058:
        return "The socket has been shut down; it is not possible to call Receive on a socket after "
               "ShutDown has been invoked with nHow set to 0 or 2.";
    case 10093: return "A successful AfxSocketInit must occur before using this API.";
    default: return GetConnectErrorText(code);
    }
}

std::string CTelepathyEth::GetConnectErrorText(int code) {
    switch (code) {
    case 10014: return "The lpSockAddrLen argument is incorrect.";
    case 10022: return "The socket is already bound to an address.";
    case 10024: return "No more file descriptors are available.";
    case 10038: return "The descriptor is a file, not a socket.";
    case 10039: return "A destination address is required.";
    case 10047: return "Addresses in the specified family cannot be used with this socket.";
    case 10048: return "The specified address is already in use.";
    case 10049: return "The specified address is not available from the local machine.";
    case 10051: return "The network cannot be reached from this host at this time.";
    case 10055: return "No buffer space is available. The socket cannot be connected.";
    case 10056: return "The socket is already connected.";
    case 10057: return "The socket is not connected.";
    case 10060: return "The attempt to connect timed out without establishing a connection.";
    case 10061: return PL("Połączenie sieciowe zostało odrzucone.");
    default: return std::string(PL("Nieokreślony błąd : ")) + std::to_string(code);
    }
}
