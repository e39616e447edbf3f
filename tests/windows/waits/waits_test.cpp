// The Win32 waits of the platform layer: the break event, waits for another
// signal, and TCP sockets over Winsock on the loopback interface. A break
// must end a wait within 50 ms, and a wait must burn no processor time.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/break_signal.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "platform/tcp_socket.h"

namespace {

using namespace orv::platform;

// Processor time of the calling thread, in milliseconds.
double ThreadCpuMillis() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

// Sets the signal after `ms` from a helper thread.
std::thread SetLater(BreakSignal& s, int ms) {
    return std::thread([&s, ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        s.Set();
    });
}

TEST(Win32Waits, ABreakEndsASleepAtOnceAndTheSleepBurnsNoTime) {
    BreakSignal brk;
    auto t = SetLater(brk, 300);
    const double cpu0 = ThreadCpuMillis();
    const int64_t t0 = MonotonicMillis();
    EXPECT_EQ(SleepUnlessBroken(&brk, 10000), kWaitBroken);
    const int64_t took = MonotonicMillis() - t0;
    t.join();
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 300 + 50);
    EXPECT_LT(ThreadCpuMillis() - cpu0, 30.0);
}

TEST(Win32Waits, ASleepWithoutBreakLastsItsTime) {
    BreakSignal brk;
    const int64_t t0 = MonotonicMillis();
    EXPECT_EQ(SleepUnlessBroken(&brk, 120), kWaitTimeout);
    EXPECT_GE(MonotonicMillis() - t0, 110);
    EXPECT_EQ(SleepUnlessBroken(nullptr, 30), kWaitTimeout);
}

TEST(Win32Waits, AClearedBreakNeitherEndsNorSpinsLaterWaits) {
    BreakSignal brk;
    brk.Set();
    EXPECT_EQ(SleepUnlessBroken(&brk, 1000), kWaitBroken);
    brk.Clear();
    const double cpu0 = ThreadCpuMillis();
    EXPECT_EQ(SleepUnlessBroken(&brk, 200), kWaitTimeout);
    EXPECT_LT(ThreadCpuMillis() - cpu0, 30.0);
}

TEST(Win32Waits, SetAndClearRacingLeaveEventAndFlagAgreeing) {
    // Whatever order Set and Clear end in, a set flag ends a wait at once
    // and a clear one lets it run its time without waking early.
    for (int round = 0; round < 50; ++round) {
        BreakSignal brk;
        std::thread setter([&] { brk.Set(); });
        std::thread clearer([&] { brk.Clear(); });
        setter.join();
        clearer.join();
        const int64_t t0 = MonotonicMillis();
        const int r = SleepUnlessBroken(&brk, 5);
        if (brk.IsSet()) {
            ASSERT_EQ(r, kWaitBroken) << round;
        } else {
            ASSERT_EQ(r, kWaitTimeout) << round;
            ASSERT_GE(MonotonicMillis() - t0, 4) << round;
        }
    }
}

TEST(Win32Waits, WaitForSignalSeesTheSignalTheBreakAndTheTime) {
    BreakSignal done, brk;
    auto t = SetLater(done, 50);
    EXPECT_EQ(WaitForSignal(done, &brk, 5000), kWaitReady);
    t.join();

    BreakSignal done2;
    auto b = SetLater(brk, 50);
    const int64_t t0 = MonotonicMillis();
    EXPECT_EQ(WaitForSignal(done2, &brk, 5000), kWaitBroken);
    EXPECT_LT(MonotonicMillis() - t0, 50 + 50);
    b.join();

    brk.Clear();
    EXPECT_EQ(WaitForSignal(done2, &brk, 60), kWaitTimeout);
    done2.Set();
    brk.Set();
    EXPECT_EQ(WaitForSignal(done2, &brk, 60), kWaitReady);   // the signal wins over the break
}

TEST(Win32Serial, AMissingPortIsNotFound) {
    auto dev = CreateSystemSerialDevice();
    EXPECT_EQ(dev->Open("\\\\.\\COM251"), ENOENT);
    EXPECT_FALSE(dev->IsOpen());
    EXPECT_EQ(SystemSerialPortPath(12), "\\\\.\\COM12");
}

// A listening Winsock socket on 127.0.0.1 with a port of its own.
class Listener {
public:
    Listener() {
        EXPECT_EQ(StartSockets(), 0);
        m_sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(m_sock, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        int len = sizeof a;
        getsockname(m_sock, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        EXPECT_EQ(listen(m_sock, 4), 0);
    }
    ~Listener() {
        if (m_peer != INVALID_SOCKET) closesocket(m_peer);
        closesocket(m_sock);
    }
    uint16_t Port() const { return m_port; }
    SOCKET Accept() { return m_peer = accept(m_sock, nullptr, nullptr); }
    void ClosePeer() {
        closesocket(m_peer);
        m_peer = INVALID_SOCKET;
    }

private:
    SOCKET m_sock = INVALID_SOCKET;
    SOCKET m_peer = INVALID_SOCKET;
    uint16_t m_port = 0;
};

constexpr uint32_t kLoopback = 0x7F000001;

int ConnectTo(TcpSocket& s, uint16_t port) {
    int r = s.Connect(kLoopback, port);
    if (r != kWsaWouldBlock) return r;
    if (s.Wait(kWaitOut, nullptr, 5000) != kWaitReady) return -1;
    return s.ConnectResult();
}

TEST(Win32Tcp, ConnectsSendsReceivesAndSeesThePeersClose) {
    Listener l;
    TcpSocket s;
    ASSERT_EQ(s.Create(), 0);
    ASSERT_EQ(ConnectTo(s, l.Port()), 0);
    SOCKET peer = l.Accept();
    ASSERT_NE(peer, INVALID_SOCKET);

    int err = 0;
    EXPECT_EQ(s.Send("ping", 4, err), 4);
    char buf[16];
    ASSERT_EQ(recv(peer, buf, sizeof buf, 0), 4);

    // Nothing to read yet: the receive does not block.
    EXPECT_EQ(s.Receive(buf, sizeof buf, err), -1);
    EXPECT_EQ(err, kWsaWouldBlock);
    ASSERT_EQ(send(peer, "pong", 4, 0), 4);
    ASSERT_EQ(s.Wait(kWaitIn, nullptr, 5000), kWaitReady);
    EXPECT_EQ(s.Receive(buf, sizeof buf, err), 4);
    EXPECT_EQ(std::string(buf, 4), "pong");

    // Data waiting before the wait is seen at once by the next wait too.
    ASSERT_EQ(send(peer, "x", 1, 0), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(s.Wait(kWaitIn, nullptr, 1000), kWaitReady);
    ASSERT_EQ(s.Wait(kWaitIn, nullptr, 1000), kWaitReady);
    EXPECT_EQ(s.Receive(buf, sizeof buf, err), 1);
    EXPECT_EQ(s.Wait(kWaitOut, nullptr, 1000), kWaitReady);   // room to send, again

    l.ClosePeer();
    ASSERT_EQ(s.Wait(kWaitIn, nullptr, 5000), kWaitReady);
    EXPECT_EQ(s.Receive(buf, sizeof buf, err), 0);
}

TEST(Win32Tcp, ABreakEndsAReceiveWaitAtOnceWithoutProcessorTime) {
    Listener l;
    TcpSocket s;
    ASSERT_EQ(s.Create(), 0);
    ASSERT_EQ(ConnectTo(s, l.Port()), 0);
    ASSERT_NE(l.Accept(), INVALID_SOCKET);
    BreakSignal brk;
    auto t = SetLater(brk, 300);
    const double cpu0 = ThreadCpuMillis();
    const int64_t t0 = MonotonicMillis();
    EXPECT_EQ(s.Wait(kWaitIn, &brk, 10000), kWaitBroken);
    const int64_t took = MonotonicMillis() - t0;
    t.join();
    EXPECT_LT(took, 300 + 50);
    EXPECT_LT(ThreadCpuMillis() - cpu0, 30.0);
    brk.Clear();
    EXPECT_EQ(s.Wait(kWaitIn, &brk, 100), kWaitTimeout);
}

TEST(Win32Tcp, ARefusedConnectIsReportedAsRefused) {
    uint16_t port = 0;
    {
        Listener l;   // a port that was free a moment ago and is closed now
        port = l.Port();
    }
    TcpSocket s;
    ASSERT_EQ(s.Create(), 0);
    EXPECT_EQ(ConnectTo(s, port), kWsaConnRefused);
}

// Small writes go out at once once Nagle's hold (until the peer acknowledges
// the previous segment) is off; the transport turns it off on every
// connection it opens.
TEST(Win32Tcp, NoDelayTurnsNaglesHoldOff) {
    Listener l;
    TcpSocket s;
    ASSERT_EQ(s.Create(), 0);
    ASSERT_EQ(ConnectTo(s, l.Port()), 0);
    ASSERT_NE(l.Accept(), INVALID_SOCKET);
    auto nodelay = [&] {
        BOOL on = FALSE;
        int len = sizeof on;
        EXPECT_EQ(getsockopt(static_cast<SOCKET>(static_cast<unsigned>(s.fd())), IPPROTO_TCP, TCP_NODELAY,
                             reinterpret_cast<char*>(&on), &len),
                  0);
        return on != FALSE;
    };
    EXPECT_FALSE(nodelay());
    ASSERT_EQ(s.SetNoDelay(true), 0);
    EXPECT_TRUE(nodelay());
}

TEST(Win32Tcp, NamesResolveToDottedAddresses) {
    std::string dotted;
    EXPECT_TRUE(ResolveIPv4("127.0.0.1", dotted));
    EXPECT_EQ(dotted, "127.0.0.1");
    EXPECT_TRUE(ResolveIPv4("localhost", dotted));
    EXPECT_EQ(dotted, "127.0.0.1");
}

}  // namespace
