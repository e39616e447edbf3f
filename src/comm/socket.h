// The TCP transport: the one socket object of the process and the protocol
// base whose reads and writes mirror the serial service's.
//
// Error codes 0 to -10 mean what they mean on the serial side (-3 not
// connected, -5 time-out, -6 connection lost, -7 broken off by the user,
// -8 no terminator within the length); Winsock codes (10000 and up) are kept
// as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "comm/notifier.h"
#include "comm/telepathy_ecr.h"
#include "platform/break_signal.h"
#include "platform/tcp_socket.h"
#include "util/chrarr.h"

class CTelepathySocket {
public:
    // Where the connection stands.
    enum class Link : uint8_t {
        Closed,      // no socket
        Connecting,  // a connect is under way
        Connected,
        Failed,      // the connect was refused or failed; the connect error holds why
        Lost         // the peer closed or reset a connection that was up
    };

    CTelepathySocket();
    virtual ~CTelepathySocket();
    CTelepathySocket(const CTelepathySocket&) = delete;
    CTelepathySocket& operator=(const CTelepathySocket&) = delete;

    int SetNotifyWindow(EcrWindow window, uint32_t message);  // clears the break flag; returns 1
    void SetCallback(EcrProgressCallback cb) { m_notifier.SetCallback(cb); }
    EcrProgressCallback GetCallback() const { return m_notifier.GetCallback(); }
    void Notify(int event, const std::string& text, int percent, int value) {
        m_notifier.Notify(event, text, percent, value);
    }
    const CProgressNotifier& Notifier() const { return m_notifier; }

    void Break() { m_break.Set(); }
    void ClearBreak() { m_break.Clear(); }
    bool IsBroken() const { return m_break.IsSet(); }
    orv::platform::BreakSignal& BreakFlag() { return m_break; }

    // Waits `seconds` (scaled) unless broken off: 0, or -7 (also the last error).
    int Delay(double seconds);

    // Connected: the last error; otherwise the error of the last failed connect.
    int GetError() const;
    Link GetLink() const { return m_link.load(std::memory_order_acquire); }
    bool IsConnected() const { return GetLink() == Link::Connected; }
    bool IsDataReady() const { return m_bDataReady.load(std::memory_order_acquire); }
    void ClearConnectError() { m_nConnectError = 0; }

    // ---- the socket itself (0 or a Winsock code) ----
    int Create();                       // a fresh socket; an open one is closed first
    void CloseSocket();                 // Link::Closed, flags cleared
    orv::platform::TcpSocket& Handle() { return m_socket; }
    // Starts a connect: 0 when connected at once (OnConnect(0)) or under way
    // (Link::Connecting), else the Winsock code of the failure (Link::Failed,
    // connect error set).
    int StartConnect(uint32_t ip, uint16_t port);

    // Waits up to timeoutMs (-1 without limit) for the connect or for data
    // and takes the outcome through OnConnect/OnReceive. Returns
    // orv::platform::kWaitReady, kWaitTimeout or kWaitBroken.
    int PollEvents(int timeoutMs);

    // One receive of at most size bytes: > 0 bytes, 0 nothing pending,
    // -1 failure with the Winsock code in err. A closed or reset connection
    // becomes Link::Lost (err 10054 for a reset, 0 for an orderly close).
    long ReceiveSome(void* buf, size_t size, int& err);
    // Sends what fits without waiting: bytes sent (>= 0) or -1 with the code
    // in err (Link::Lost when the peer is gone).
    long SendSome(const void* buf, size_t size, int& err);
    // Marks the connection lost (connected cleared) with `code` as last error.
    void OnLost(int code);

protected:
    // The readiness steps: a finished connect (0 success, else its error)
    // and data that can be received.
    void OnConnect(int error);
    void OnReceive(int error);

    CProgressNotifier m_notifier;
    orv::platform::BreakSignal m_break;
    orv::platform::TcpSocket m_socket;

    std::atomic<bool> m_bDataReady{false};
    std::atomic<Link> m_link{Link::Closed};
    std::atomic<int> m_nLastError{0};
    std::atomic<int> m_nConnectError{0};
    uint8_t m_bSpare = 0;
};

// The texts of the transport codes -1..-10 for a TCP connection (CP1250).
std::string SocketErrorText(int code);

// The TCP-capable protocol base. The port argument of the operations stands
// where the serial service takes its port number; the one socket is used.
class CTelepathyEth : public CTelepathyECR {
public:
    CTelepathyEth();
    ~CTelepathyEth() override;

    void SetSocket(CTelepathySocket* socket) { m_pSocket = socket; }
    CTelepathySocket* GetSocket() const { return m_pSocket; }

    // ip holds the first octet in its top byte. 1 connecting or connected,
    // 0 failure (0 with error 0 for a zero address or port).
    int Connect(uint32_t ip, uint32_t port);
    // Connected now, or within 5 seconds while a connect is under way.
    // Failure: -7 broken off, -5 time-out, -6 connection lost, -3 no
    // connection, or the code of the failed connect.
    bool WaitConnected();

    // One receive of at most 1024 bytes after waiting up to max(t, 1)
    // seconds for data (negative t: without limit).
    CChrArr Receive(int t);
    // Sends the whole array, waiting up to t seconds for room; the count sent.
    int Send(const CChrArr& bytes, int t = 5);

    int Write(int port, const CChrArr& bytes, int t);
    CChrArr Read(int port, int n, int t);
    CChrArr ReadUntil(int port, uint8_t term, int maxLen, int t);
    int GetInputCount(int port);
    int FindInInput(int port, uint8_t byte);       // 1-based, 0 when absent
    int FlushInput(int port);
    int FlushOutput(int port);
    int SetLineOption(int port, int value);
    int Close();
    bool IsBroken() const;

    // Events from TCP protocol classes go to the socket object's notifier.
    void Notify(int event, const std::string& text, int percent, int value);

    std::string GetErrorText(int code) override;
    static std::string GetConnectErrorText(int code);

    uint32_t GetAddress() const { return m_nIp; }
    uint32_t GetTcpPort() const { return m_nTcpPort; }
    const CChrArr& InputBuffer() const { return m_rxBuffer; }

protected:
    // Ready for a read: connected (a connect under way is awaited), or a
    // lost connection whose received bytes are still buffered. Otherwise the
    // error is set (-3, -6 or -7) and false returned.
    bool ReadyForInput();
    // Moves the bytes the socket holds into the buffer, waiting up to
    // timeoutMs (0: one look, -1 without limit) when it holds none.
    // 1 bytes came, 0 none, -7 broken off, -6 connection lost.
    int Collect(int timeoutMs);
    CChrArr TakeInput(int n);

    // The quiet line (comm/quiet_line.h) of this connection: a fresh
    // connection carries nothing stale.
    void NoteExchange(int t, bool gotBytes);
    void SettleLine();
    CChrArr ReadBytes(int port, int n, int t);
    CChrArr ReadUpTo(int port, uint8_t term, int maxLen, int t);

    CTelepathySocket* m_pSocket = nullptr;
    CChrArr m_rxBuffer;
    bool m_bUnsettled = false;
    uint8_t m_bBusy = 0;
    uint8_t m_bSpare = 0;
    uint32_t m_nIp = 0;
    uint32_t m_nTcpPort = 0;
};

// The base of the TCP-capable protocol classes; adds nothing.
class CTelepathyEcrEth : public CTelepathyEth {
public:
    CTelepathyEcrEth() = default;
    ~CTelepathyEcrEth() override = default;
};
