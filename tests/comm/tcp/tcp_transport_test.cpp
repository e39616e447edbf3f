// The TCP transport end to end against a device on the loopback interface.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "loopback_peer.h"
#include "comm/socket.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "platform/tcp_socket.h"
#include "util/cp1250.h"

namespace {

using Clock = std::chrono::steady_clock;

long MillisSince(Clock::time_point t0) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

std::string Str(const CChrArr& a) { return a.ToString(); }

class TcpTransport : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(1.0);
        orv::platform::SetMessageHook([this](orv::platform::MessageKind, const std::string& text, int def) {
            messages.push_back(text);
            return def;
        });
        eth.SetSocket(&sock);
    }
    void TearDown() override {
        eth.Close();
        orv::platform::SetTimeScale(1.0);
        orv::platform::SetMessageHook(nullptr);
    }

    // Connects the transport to the peer and accepts on the peer's side.
    void Connect(LoopbackPeer& peer) {
        ASSERT_EQ(1, eth.Connect(LoopbackPeer::kIp, peer.port()));
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(eth.WaitConnected());
        ASSERT_EQ(0, eth.GetError());
    }

    // Lets the transport take in what the peer sent, without reading it.
    void Buffer(size_t n) {
        for (int i = 0; i < 200 && eth.GetInputCount(0) < static_cast<int>(n); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(static_cast<int>(n), eth.GetInputCount(0));
    }

    CTelepathySocket sock;
    CTelepathyEcrEth eth;
    std::vector<std::string> messages;
};

// A listener whose accept queue is full: a further connect gets no answer.
class SilentListener {
public:
    SilentListener() : m_peer(0) {
        m_filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(LoopbackPeer::kIp);
        a.sin_port = htons(m_peer.port());
        connect(m_filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~SilentListener() { close(m_filler); }
    uint16_t port() const { return m_peer.port(); }

private:
    LoopbackPeer m_peer;
    int m_filler = -1;
};

// ---------------------------------------------------------------------------
// Connecting

TEST_F(TcpTransport, ConnectRefusesZeroAddressOrPortWithoutError) {
    EXPECT_EQ(0, eth.Connect(0, 5001));
    EXPECT_EQ(0, eth.GetError());
    EXPECT_EQ(0, eth.Connect(LoopbackPeer::kIp, 0));
    EXPECT_EQ(0, eth.GetError());
    // A port number that does not fit 16 bits is a bad parameter, not another port.
    EXPECT_EQ(0, eth.Connect(LoopbackPeer::kIp, 0x10000 + 80));
    EXPECT_EQ(-1, eth.GetError());
    EXPECT_TRUE(messages.empty());
}

TEST_F(TcpTransport, ConnectReachesTheAddressWithTheFirstOctetInTheTopByte) {
    LoopbackPeer peer;
    Connect(peer);
    EXPECT_EQ(LoopbackPeer::kIp, eth.GetAddress());
    EXPECT_EQ(peer.port(), eth.GetTcpPort());
    EXPECT_TRUE(sock.IsConnected());
    // The socket is not inherited by programs the host starts.
    const int flags = fcntl(sock.Handle().fd(), F_GETFD);
    EXPECT_TRUE(flags & FD_CLOEXEC);
    // Small frames go out at once: a lone ENQ or EOT is not held back until
    // the register acknowledges the previous one (tens of milliseconds).
    int nodelay = 0;
    socklen_t len = sizeof nodelay;
    ASSERT_EQ(0, getsockopt(sock.Handle().fd(), IPPROTO_TCP, TCP_NODELAY, &nodelay, &len));
    EXPECT_NE(0, nodelay);
}

TEST_F(TcpTransport, RefusedConnectionGivesItsCodeAndTextAndLaterCallsDoNotWait) {
    orv::platform::SetTimeScale(0.1);   // a 5-second wait would last 500 ms
    LoopbackPeer closed(4, /*listening=*/false);
    const int r = eth.Connect(LoopbackPeer::kIp, closed.port());
    if (r == 1) {
        EXPECT_FALSE(eth.WaitConnected());   // the refusal arrives while waiting
    } else {
        ASSERT_EQ(1, static_cast<int>(messages.size()));   // refused at once: a notice
        EXPECT_EQ(PL("Połączenie sieciowe zostało odrzucone."), messages[0]);
    }
    EXPECT_EQ(10061, eth.GetError());
    EXPECT_EQ(PL("Połączenie sieciowe zostało odrzucone."), eth.GetErrorText(eth.GetError()));

    // The stored code answers at once, not after another 5 seconds.
    const auto t0 = Clock::now();
    EXPECT_FALSE(eth.WaitConnected());
    EXPECT_EQ(10061, eth.GetError());
    EXPECT_LT(MillisSince(t0), 100);
    EXPECT_EQ(0, eth.Write(0, CChrArr("x"), 1));
    EXPECT_EQ(-3, eth.GetError());
    EXPECT_TRUE(Str(eth.Read(0, 1, 1)).empty());
    EXPECT_EQ(-3, eth.GetError());
}

TEST_F(TcpTransport, SilentAddressTimesOutAfterFiveToSixSeconds) {
    orv::platform::SetTimeScale(0.05);   // one second lasts 50 ms
    SilentListener silent;
    ASSERT_EQ(1, eth.Connect(LoopbackPeer::kIp, silent.port()));
    const auto t0 = Clock::now();
    EXPECT_FALSE(eth.WaitConnected());
    const long ms = MillisSince(t0);
    EXPECT_EQ(-5, eth.GetError());
    EXPECT_GE(ms, 250);
    EXPECT_LE(ms, 300 + 100);
    EXPECT_EQ(PL("Błąd obsługi połączenia: czas oczekiwania upłynął"), eth.GetErrorText(-5));
    // A read on the connection that never came up.
    EXPECT_TRUE(Str(eth.Read(0, 1, 0)).empty());
    EXPECT_EQ(-3, eth.GetError());
}

// ---------------------------------------------------------------------------
// Reading

TEST_F(TcpTransport, ReadTakesBufferedAndLaterSegmentsInOrder) {
    LoopbackPeer peer;
    Connect(peer);
    peer.Send("A");
    Buffer(1);
    std::thread later = peer.SendLater("BCD", 50);
    const auto t0 = Clock::now();
    CChrArr got = eth.Read(0, 4, 2);
    later.join();
    EXPECT_EQ("ABCD", Str(got));
    EXPECT_EQ(0, eth.GetError());
    EXPECT_LT(MillisSince(t0), 1000);   // returned on arrival, not at the deadline
}

TEST_F(TcpTransport, ReadCollectsAReplySplitIntoManySegments) {
    LoopbackPeer peer;
    Connect(peer);
    std::thread later([&] {
        for (const char* part : {"\x02", "12", "345", "\x03"}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            peer.Send(part);
        }
    });
    CChrArr got = eth.Read(0, 7, 2);
    later.join();
    EXPECT_EQ(std::string("\x02" "12345\x03"), Str(got));
    EXPECT_EQ(0, eth.GetError());
}

TEST_F(TcpTransport, ReadKeepsWhatIsBeyondTheCountForTheNextRead) {
    LoopbackPeer peer;
    Connect(peer);
    peer.Send("abcdef");
    EXPECT_EQ("abc", Str(eth.Read(0, 3, 1)));
    EXPECT_EQ(3, eth.GetInputCount(0));
    EXPECT_EQ("de", Str(eth.Read(0, 2, 1)));
    EXPECT_EQ("f", Str(eth.Read(0, 0, 0)));   // count 0: whatever is there
    EXPECT_EQ(0, eth.GetError());
}

TEST_F(TcpTransport, ReadTimeOutIsMinusFiveWhateverTheTime) {
    orv::platform::SetTimeScale(0.02);
    LoopbackPeer peer;
    Connect(peer);
    struct Case { int t; long minMs; long maxMs; };
    for (const Case& c : {Case{0, 0, 15}, Case{2, 40, 60 + 60}}) {
        SCOPED_TRACE(c.t);
        peer.Send("xy");
        Buffer(2);
        const auto t0 = Clock::now();
        CChrArr got = eth.Read(0, 5, c.t);
        const long ms = MillisSince(t0);
        EXPECT_EQ(-5, eth.GetError());
        EXPECT_EQ("xy", Str(got));        // what was there comes back with the error
        EXPECT_GE(ms, c.minMs);
        EXPECT_LE(ms, c.maxMs);
        EXPECT_EQ(0, eth.GetInputCount(0));
    }
    EXPECT_TRUE(Str(eth.Read(0, 0, 0)).empty());
    EXPECT_EQ(-5, eth.GetError());
    EXPECT_EQ(0, eth.Read(0, -1, 0).GetLength());
    EXPECT_EQ(-1, eth.GetError());
}

TEST_F(TcpTransport, ReadUntilWaitsForTheTerminatorAcrossSegments) {
    LoopbackPeer peer;
    Connect(peer);
    peer.Send("AB");
    std::thread later = peer.SendLater("C\x03" "D", 50);
    CChrArr got = eth.ReadUntil(0, 0x03, 10, 2);
    later.join();
    EXPECT_EQ("ABC\x03", Str(got));
    EXPECT_EQ(0, eth.GetError());
    Buffer(1);   // the byte after the terminator stays for the next read
    EXPECT_EQ("D", Str(eth.Read(0, 1, 0)));
}

TEST_F(TcpTransport, ReadUntilWithoutTerminator) {
    orv::platform::SetTimeScale(0.02);
    LoopbackPeer peer;
    Connect(peer);

    // Not within the deadline: -5, and the bytes stay for a later read.
    peer.Send("abc");
    Buffer(3);
    CChrArr got = eth.ReadUntil(0, '\n', 10, 1);
    EXPECT_EQ(-5, eth.GetError());
    EXPECT_TRUE(Str(got).empty());
    EXPECT_EQ(3, eth.GetInputCount(0));

    // maxLen bytes without it: everything with -8.
    peer.Send("defghi");
    Buffer(9);
    got = eth.ReadUntil(0, '\n', 4, 1);
    EXPECT_EQ(-8, eth.GetError());
    EXPECT_EQ("abcdefghi", Str(got));

    // A terminator beyond maxLen does not count.
    peer.Send("12345\n");
    Buffer(6);
    got = eth.ReadUntil(0, '\n', 3, 1);
    EXPECT_EQ(-8, eth.GetError());
    EXPECT_EQ("12345\n", Str(got));

    EXPECT_EQ(0, eth.ReadUntil(0, '\n', 0, 1).GetLength());
    EXPECT_EQ(-1, eth.GetError());
}

TEST_F(TcpTransport, ReceiveTakesOneChunkOfAtMost1024BytesAndWaitsAtLeastASecond) {
    orv::platform::SetTimeScale(0.05);   // one second lasts 50 ms
    LoopbackPeer peer;
    Connect(peer);
    std::string sent(1500, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 13);
    peer.Send(sent);
    std::string got = Str(eth.Receive(2));
    EXPECT_EQ(0, eth.GetError());
    ASSERT_EQ(1024u, got.size());
    for (int i = 0; i < 20 && got.size() < sent.size(); ++i) got += Str(eth.Receive(2));
    EXPECT_EQ(sent, got);
    EXPECT_EQ(0, eth.GetInputCount(0));   // nothing went to the read buffer

    // Nothing comes: t = 0 still waits one whole second, then -5.
    const auto t0 = Clock::now();
    EXPECT_TRUE(Str(eth.Receive(0)).empty());
    const long ms = MillisSince(t0);
    EXPECT_EQ(-5, eth.GetError());
    EXPECT_GE(ms, 50);
    EXPECT_LE(ms, 100 + 60);
}

TEST_F(TcpTransport, FindAndFlushInput) {
    LoopbackPeer peer;
    Connect(peer);
    peer.Send("xyz");
    for (int i = 0; i < 200 && eth.FindInInput(0, 'z') == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(3, eth.FindInInput(0, 'z'));
    EXPECT_EQ(1, eth.FindInInput(0, 'x'));
    EXPECT_EQ(0, eth.FindInInput(0, 'q'));

    peer.Send("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0, eth.FlushInput(0));
    EXPECT_EQ(0, eth.GetInputCount(0));
    peer.Send("new");
    EXPECT_EQ("new", Str(eth.Read(0, 3, 2)));
}

// ---------------------------------------------------------------------------
// Writing

// The quiet line on a connection: after a read that timed out, the answer
// coming late is dropped before the next request, and the next answer is
// read alone; a new connection starts with nothing to wait for.
TEST_F(TcpTransport, ALateAnswerIsDroppedBeforeTheNextRequest) {
    orv::platform::SetTimeScale(0.1);   // quiet time 50 ms, read time-out 0.1 to 0.2 s
    LoopbackPeer peer;
    Connect(peer);
    EXPECT_TRUE(eth.Read(0, 4, 1).IsEmpty());
    EXPECT_EQ(-5, eth.GetError());
    std::thread late = peer.SendLater("LATE", 20);
    const auto t0 = Clock::now();
    EXPECT_EQ(4, eth.Write(0, CChrArr("next"), 5));
    late.join();
    EXPECT_GE(MillisSince(t0), 20 + 50 - 5);
    EXPECT_EQ("next", peer.Receive(4));
    peer.Send("OK");
    EXPECT_EQ("OK", Str(eth.Read(0, 2, 1)));

    // Settled: the next request goes at once.
    const auto t1 = Clock::now();
    EXPECT_EQ(1, eth.Write(0, CChrArr("x"), 5));
    EXPECT_LT(MillisSince(t1), 40);
}

TEST_F(TcpTransport, WriteSendsTheBytesAsTheyAre) {
    LoopbackPeer peer;
    Connect(peer);
    const std::string frame("\x02\x00\xff" "abc\x03", 7);
    CChrArr bytes(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
    EXPECT_EQ(7, eth.Write(0, bytes, 5));
    EXPECT_EQ(0, eth.GetError());
    EXPECT_EQ(frame, peer.Receive(7));

    EXPECT_EQ(0, eth.Write(0, CChrArr(), 5));
    EXPECT_EQ(-1, eth.GetError());
    EXPECT_EQ(0, eth.FlushOutput(0));
    EXPECT_EQ(0, eth.SetLineOption(0, 1));
}

TEST_F(TcpTransport, WriteOfMoreThanTheSocketTakesAtOnceSendsItAll) {
    LoopbackPeer peer;
    Connect(peer);
    const size_t size = 8u << 20;
    std::string big(size, '\0');
    for (size_t i = 0; i < size; ++i) big[i] = static_cast<char>(i * 7);
    std::string received;
    std::thread reader([&] { received = peer.Receive(size, 10000); });
    CChrArr bytes(reinterpret_cast<const uint8_t*>(big.data()), big.size());
    EXPECT_EQ(static_cast<int>(size), eth.Write(0, bytes, 5));
    reader.join();
    EXPECT_EQ(0, eth.GetError());
    EXPECT_TRUE(received == big);
}

TEST_F(TcpTransport, WriteToAPeerThatReadsNothingTimesOutWithTheRealCount) {
    orv::platform::SetTimeScale(0.02);
    LoopbackPeer peer;
    Connect(peer);
    peer.ShrinkReceiveBuffer();
    CChrArr bytes(32 << 20, 'x');
    const int sent = eth.Write(0, bytes, 1);
    EXPECT_EQ(-5, eth.GetError());
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, bytes.GetLength());
}

// ---------------------------------------------------------------------------
// A peer that goes away

TEST_F(TcpTransport, PeerClosingGivesMinusSixAfterWhatItSent) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        LoopbackPeer peer;
        Connect(peer);
        peer.Send("ok");
        Buffer(2);
        reset ? peer.Reset() : peer.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // What came before the close is not lost.
        EXPECT_EQ("ok", Str(eth.Read(0, 2, 1)));
        EXPECT_EQ(0, eth.GetError());
        EXPECT_TRUE(Str(eth.Read(0, 1, 1)).empty());
        EXPECT_EQ(-6, eth.GetError());
        EXPECT_FALSE(sock.IsConnected());
        // Every later call answers at once.
        const auto t0 = Clock::now();
        EXPECT_FALSE(eth.WaitConnected());
        EXPECT_EQ(-6, eth.GetError());
        EXPECT_EQ(0, eth.Write(0, CChrArr("x"), 1));
        EXPECT_EQ(-6, eth.GetError());
        EXPECT_EQ(0, eth.ReadUntil(0, 3, 10, 1).GetLength());
        EXPECT_EQ(-6, eth.GetError());
        EXPECT_LT(MillisSince(t0), 100);   // a 5-second wait would show
        EXPECT_EQ(PL("Błąd obsługi połączenia: utrata połączenia"), eth.GetErrorText(-6));
    }
}

// A device that takes the connection and ends it before the connect is
// seen complete (a busy one does) refused the connection: that is what the
// job reports, whether it reset the connection or closed it, not a line lost.
TEST_F(TcpTransport, ADeviceEndingTheConnectionAsItIsMadeRefusedIt) {
    const struct {
        const char* name;
        bool reset;
        int code;
    } cases[] = {
        {"reset", true, 10054},    // "The virtual circuit was reset by the remote side."
        {"close", false, 10061},   // "Połączenie sieciowe zostało odrzucone."
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPeer peer;
        ASSERT_EQ(1, eth.Connect(LoopbackPeer::kIp, peer.port()));
        ASSERT_TRUE(peer.Accept());
        c.reset ? peer.Reset() : peer.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(eth.WaitConnected());
        EXPECT_EQ(c.code, eth.GetError());
        // Every later call answers at once as a connection never made.
        EXPECT_EQ(0, eth.Write(0, CChrArr("\x05"), 1));
        EXPECT_EQ(-3, eth.GetError());
        EXPECT_TRUE(Str(eth.Read(0, 1, 1)).empty());
        EXPECT_EQ(-3, eth.GetError());
    }
}

TEST_F(TcpTransport, PeerClosingDuringAWaitEndsItAtOnce) {
    LoopbackPeer peer;
    Connect(peer);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peer.Close();
    });
    const auto t0 = Clock::now();
    CChrArr got = eth.ReadUntil(0, 0x03, 10, -1);
    closer.join();
    EXPECT_EQ(-6, eth.GetError());
    EXPECT_TRUE(Str(got).empty());
    EXPECT_LT(MillisSince(t0), 1000);
}

TEST_F(TcpTransport, WritingToAResetPeerGivesMinusSixNotASignal) {
    LoopbackPeer peer;
    Connect(peer);
    peer.Reset();
    // The reset may reach the socket only after a first write.
    int error = 0;
    for (int i = 0; i < 50 && error == 0; ++i) {
        eth.Write(0, CChrArr("ping"), 1);
        error = eth.GetError();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(-6, error);
    EXPECT_FALSE(sock.IsConnected());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(PL("Błąd obsługi połączenia: utrata połączenia"), messages.back());
}

// ---------------------------------------------------------------------------
// Breaking off

TEST_F(TcpTransport, BreakEndsEveryWaitWithinFiftyMilliseconds) {
    struct Case {
        const char* name;
        bool silent;       // wait for a connect that never completes
        std::function<int(CTelepathyEth&)> wait;   // gives the code the wait ended with
    };
    // Made (and freed) outside the timed wait: a sanitizer build takes long
    // over 64 MiB.
    const CChrArr big(64 << 20, 'x');
    const std::vector<Case> cases = {
        {"Read", false, [](CTelepathyEth& e) { e.Read(0, 4, -1); return e.GetError(); }},
        {"ReadUntil", false, [](CTelepathyEth& e) { e.ReadUntil(0, 0x03, 10, -1); return e.GetError(); }},
        {"Receive", false, [](CTelepathyEth& e) { e.Receive(-1); return e.GetError(); }},
        {"WaitConnected", true, [](CTelepathyEth& e) { e.WaitConnected(); return e.GetError(); }},
        {"Write", false, [&big](CTelepathyEth& e) { e.Write(0, big, -1); return e.GetError(); }},
        {"Delay", false, [](CTelepathyEth& e) { return e.GetSocket()->Delay(30.0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sock.ClearBreak();
        LoopbackPeer peer;
        SilentListener silent;
        if (c.silent) {
            ASSERT_EQ(1, eth.Connect(LoopbackPeer::kIp, silent.port()));
        } else {
            Connect(peer);
            peer.ShrinkReceiveBuffer();
        }
        std::atomic<long> brokeAt{0};
        const auto t0 = Clock::now();
        std::thread breaker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            brokeAt = MillisSince(t0);
            sock.Break();
        });
        const int code = c.wait(eth);
        const long endedAt = MillisSince(t0);
        breaker.join();
        EXPECT_EQ(-7, code);
        EXPECT_TRUE(eth.IsBroken());
        EXPECT_GE(endedAt, brokeAt.load());
        EXPECT_LT(endedAt - brokeAt.load(), 50);
        eth.Close();
    }
    // The host's next job starts with the flag cleared.
    EXPECT_EQ(1, sock.SetNotifyWindow(nullptr, 0));
    EXPECT_FALSE(sock.IsBroken());
}

TEST_F(TcpTransport, BreakSetBeforeAReadEndsItWithoutWaiting) {
    LoopbackPeer peer;
    Connect(peer);
    sock.Break();
    const auto t0 = Clock::now();
    EXPECT_TRUE(Str(eth.Read(0, 1, 5)).empty());
    EXPECT_EQ(-7, eth.GetError());
    EXPECT_LT(MillisSince(t0), 20);
    sock.ClearBreak();
    peer.Send("z");
    EXPECT_EQ("z", Str(eth.Read(0, 1, 2)));
    EXPECT_EQ(0, eth.GetError());
}

// ---------------------------------------------------------------------------
// Texts, codes and events

TEST(TcpTexts, ErrorTexts) {
    CTelepathyEth eth;
    struct Case { int code; std::string text; };
    const Case cases[] = {
        {-10, PL("Błąd obsługi połączenia: brak zasobów")},
        {-9, PL("Błąd obsługi połączenia: transmisja została przerwana")},
        {-8, PL("Błąd obsługi połączenia: przepełnienie bufora wejściowego")},
        {-7, PL("Transmisja przerwana przez użytkownika")},
        {-4, PL("Połączenie o danym numerze jest już w użyciu")},
        {-3, PL("Połączenie nie zostało aktywowane")},
        {-2, PL("Połączenie o danym numerze nie istnieje")},
        {-1, PL("Błąd obsługi połączenia: niewłaściwy parametr")},
        // the two tables differ on shared codes
        {10022, "The socket has not been bound with Bind."},
        {10054, "The virtual circuit was reset by the remote side."},
        {10058, "The socket has been shut down; it is not possible to call Receive on a socket after "
                "ShutDown has been invoked with nHow set to 0 or 2."},
        {10093, "A successful AfxSocketInit must occur before using this API."},
        // codes outside the first table go through the connect table
        {10048, "The specified address is already in use."},
        {10060, "The attempt to connect timed out without establishing a connection."},
        {0, PL("Nieokreślony błąd : 0")},
        {-11, PL("Nieokreślony błąd : -11")},
        {12345, PL("Nieokreślony błąd : 12345")},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, eth.GetErrorText(c.code)) << c.code;
    EXPECT_EQ("The socket is already bound to an address.", CTelepathyEth::GetConnectErrorText(10022));
    EXPECT_EQ("The descriptor is a file, not a socket.", CTelepathyEth::GetConnectErrorText(10038));
}

TEST(TcpTexts, ErrnoBecomesTheWinsockCodeOfTheSameMeaning) {
    const std::pair<int, int> cases[] = {
        {0, 0},          {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},  {ECONNRESET, 10054},
        {ENETUNREACH, 10051}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {EAGAIN, 10035},
        {EHOSTUNREACH, 10065}, {ENOTCONN, 10057}, {EMFILE, 10024},     {ECONNABORTED, 10053},
    };
    for (const auto& [err, code] : cases) EXPECT_EQ(code, orv::platform::WinsockCodeFromErrno(err)) << err;
}

std::vector<std::string> g_events;
void ECR_CALL RecordEvent(int event, const char* text, int percent, int value) {
    g_events.push_back(std::to_string(event) + "|" + text + "|" + std::to_string(percent) + "|" +
                       std::to_string(value));
}

TEST(TcpNotify, EventsFromATcpProtocolReachTheSocketsCallback) {
    CTelepathySocket sock;
    CTelepathyEth eth;
    eth.SetSocket(&sock);
    sock.SetCallback(RecordEvent);
    g_events.clear();
    eth.Notify(6, "busy", 0, -5);
    ASSERT_EQ(1u, g_events.size());
    EXPECT_EQ("6|busy|0|-5", g_events[0]);
    EXPECT_EQ(6u, sock.Notifier().Block().code);
}

}  // namespace
