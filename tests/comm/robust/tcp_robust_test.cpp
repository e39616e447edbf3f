// The TCP transport against a hostile peer on the loopback interface: replies
// in random segments with random pauses, breaks at random moments, a peer
// that closes or resets mid-reply, and a peer that stops reading while a
// write goes on. Every byte the peer sent is handed out once and in order
// (what came before a close included), every count written is the count the
// peer gets, every call ends in its bound, and a break ends it within 50 ms.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <future>
#include <string>
#include <thread>

#include "../tcp/loopback_peer.h"
#include "comm/socket.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "robust_util.h"

using robust::Clock;
using robust::MillisSince;
using robust::Random;

namespace {

constexpr int kUnitMs = 50;          // one library second in these tests
constexpr uint8_t kTerm = '\n';

class TcpRobust : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(kUnitMs / 1000.0);
        orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int def) { return def; });
        eth.SetSocket(&sock);
    }
    void TearDown() override {
        eth.Close();
        orv::platform::SetMessageHook(nullptr);
        orv::platform::SetTimeScale(1.0);
    }
    void Connect(LoopbackPeer& peer) {
        ASSERT_EQ(1, eth.Connect(LoopbackPeer::kIp, peer.port()));
        ASSERT_TRUE(peer.Accept());
        ASSERT_TRUE(eth.WaitConnected());
    }

    CTelepathySocket sock;
    CTelepathyEth eth;
};

}  // namespace

TEST_F(TcpRobust, RandomSegmentsPausesBreaksAndACloseLoseOrReorderNoByte) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random rnd(seed);
        const std::string stream = rnd.Stream(20000, kTerm);
        LoopbackPeer peer;
        Connect(peer);
        const bool reset = seed % 3 == 0;     // the peer resets instead of sending it all

        std::atomic<bool> writerDone{false};
        size_t resetAt = reset ? static_cast<size_t>(rnd.Int(1000, 15000)) : stream.size();
        std::thread writer([&, seed] {
            Random w(seed * 7919u + 1);
            size_t off = 0;
            while (off < resetAt) {
                const size_t n = std::min(resetAt - off, static_cast<size_t>(w.Int(1, w.Chance(10) ? 3000 : 80)));
                peer.Send(stream.substr(off, n));
                off += n;
                if (w.Chance(40)) std::this_thread::sleep_for(std::chrono::microseconds(w.Int(0, 4000)));
            }
            if (reset) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            writerDone = true;   // before the close, which the reader may see at once
            if (reset)
                peer.Reset();
            else
                peer.Close();
        });
        std::atomic<bool> stop{false};
        std::thread breaker([&, seed] {
            Random b(seed * 104729u + 3);
            while (!stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(b.Int(1, 25)));
                sock.Break();
            }
        });

        std::string got;
        const auto start = Clock::now();
        int calls = 0;
        int lostCalls = 0;
        while (got.size() < resetAt && MillisSince(start) < 20000 && lostCalls < 50) {
            const int t = rnd.Chance(30) ? 0 : 1;
            const int op = rnd.Int(0, 4);
            int n = 0;
            CChrArr out;
            const auto t0 = Clock::now();
            switch (op) {
            case 0: n = rnd.Int(1, rnd.Chance(20) ? 4000 : 60); out = eth.Read(0, n, t); break;
            case 1: n = rnd.Int(1, rnd.Chance(20) ? 4000 : 80); out = eth.ReadUntil(0, kTerm, n, t); break;
            case 2: out = eth.Read(0, 0, t); break;
            case 3: eth.GetInputCount(0); break;
            default: eth.FindInInput(0, kTerm); break;
            }
            const int err = eth.GetError();
            const long ms = MillisSince(t0);
            ++calls;
            SCOPED_TRACE("call " + std::to_string(calls) + " op " + std::to_string(op) + " n " + std::to_string(n));
            EXPECT_LE(ms, (t + 1) * kUnitMs + 150);
            const std::string part = out.ToString();
            if (err == -6) {
                EXPECT_TRUE(writerDone.load()) << "connection reported lost while the peer was still there";
                ++lostCalls;
            } else {
                EXPECT_TRUE(err == 0 || err == -5 || err == -7 || err == -8) << err;
            }
            if (op == 0 && err == 0) {
                EXPECT_EQ(part.size(), static_cast<size_t>(n));
            }
            if (op == 1 && err == 0) {
                ASSERT_FALSE(part.empty());
                EXPECT_EQ(part.find(static_cast<char>(kTerm)), part.size() - 1);
                EXPECT_LE(part.size(), static_cast<size_t>(n));
            }
            ASSERT_EQ(part, stream.substr(got.size(), part.size())) << "bytes lost or reordered at " << got.size();
            got += part;
            if (err == -7) sock.ClearBreak();
        }
        stop = true;
        breaker.join();
        writer.join();
        sock.ClearBreak();
        if (reset) {
            // A reset may take what the peer's kernel had not delivered yet;
            // what came is in order (checked above) and the link is lost.
            EXPECT_LE(got.size(), resetAt);
        } else {
            EXPECT_EQ(got.size(), stream.size()) << "bytes sent before an orderly close were not all handed out";
        }
        // Once the buffer is empty, every call knows at once that the link is gone.
        while (!eth.Read(0, 0, 0).IsEmpty()) {
        }
        const auto t1 = Clock::now();
        eth.Read(0, 5, -1);
        EXPECT_EQ(eth.GetError(), -6);
        eth.ReadUntil(0, kTerm, 5, -1);
        EXPECT_EQ(eth.GetError(), -6);
        EXPECT_EQ(eth.Write(0, CChrArr("x"), -1), 0);
        EXPECT_EQ(eth.GetError(), -6);
        EXPECT_LT(MillisSince(t1), 50);
        eth.Close();
    }
}

// Writes of random sizes to a peer that reads in random pieces with pauses
// (so that the socket runs out of room now and then), broken
// off at random moments: the count each write reports is exactly what the
// peer gets, in order.
TEST_F(TcpRobust, WriteCountsAreWhatThePeerGetsWhenBrokenAtRandomMoments) {
    Random rnd(4242);
    LoopbackPeer peer;
    Connect(peer);

    std::string expected;
    std::string received;
    std::atomic<bool> stop{false};
    std::atomic<size_t> receivedSize{0};
    std::atomic<bool> hold{false};   // the peer stops reading
    std::thread reader([&] {
        Random r(99);
        while (!stop.load()) {
            if (hold.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            received += peer.Receive(static_cast<size_t>(r.Int(1, 200000)), 5);
            receivedSize = received.size();
            if (r.Chance(20)) std::this_thread::sleep_for(std::chrono::milliseconds(r.Int(0, 30)));
        }
    });
    int broken = 0;
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE("write " + std::to_string(i));
        // A write to be broken off goes to a peer that has stopped reading,
        // so that it waits for room when the break comes (or comes to it).
        const bool brk = rnd.Chance(50);
        const int delay = rnd.Int(0, 40);
        const int size = brk ? rnd.Int(1, 16000000) : rnd.Int(1, rnd.Chance(40) ? 4000000 : 5000);
        std::string data(static_cast<size_t>(size), '\0');
        uint32_t x = static_cast<uint32_t>(rnd.Int(1, 1 << 30));   // a cheap xorshift fill
        for (char& c : data) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        hold = brk;
        const CChrArr payload(data);   // made outside the timed wait
        auto writing = std::async(std::launch::async, [&] {
            const double cpu0 = robust::ThreadCpuMillis();
            int n = eth.Write(0, payload, -1);
            return std::make_tuple(n, eth.GetError(), robust::ThreadCpuMillis() - cpu0);
        });
        Clock::time_point t0 = Clock::now();
        if (brk) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            t0 = Clock::now();
            sock.Break();
        }
        ASSERT_EQ(writing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        auto [n, err, cpu] = writing.get();
        robust::CheckWrite(n, err, size, brk, MillisSince(t0), broken);
        EXPECT_LT(cpu, 2000.0);
        expected += data.substr(0, static_cast<size_t>(n));
        hold = false;
        sock.ClearBreak();
    }
    EXPECT_GT(broken, 0) << "no write was broken off mid-way";
    // The peer gets exactly the counted bytes.
    robust::WaitForCount(receivedSize, expected.size());
    stop = true;
    reader.join();
    received += peer.Receive(1, 100);
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the peer got other bytes than the counts say";
}

// A break at a random moment of a wait (or before it) ends it with -7 within
// 50 ms; the waiting thread used next to no CPU; the connection stays usable.
TEST_F(TcpRobust, BreakAtRandomMomentsEndsEveryWaitQuicklyWithoutSpinning) {
    LoopbackPeer peer;
    Connect(peer);
    Random rnd(515);
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("round " + std::to_string(i));
        const int kind = rnd.Int(0, 3);
        const int delay = rnd.Int(-1, 60);   // -1: the break comes before the call
        if (delay < 0) sock.Break();
        const std::string partial(static_cast<size_t>(kind == 3 ? 0 : rnd.Int(0, 3)), 'x');
        if (!partial.empty()) peer.Send(partial);
        auto waiting = std::async(std::launch::async, [&] {
            const double cpu0 = robust::ThreadCpuMillis();
            int err = 0;
            switch (kind) {
            case 0: eth.Read(0, 50, -1); err = eth.GetError(); break;
            case 1: eth.ReadUntil(0, kTerm, 50, 1000); err = eth.GetError(); break;
            case 2: eth.Receive(-1); err = eth.GetError(); break;
            default: err = sock.Delay(1000.0); break;
            }
            return std::make_pair(err, robust::ThreadCpuMillis() - cpu0);
        });
        Clock::time_point t0 = Clock::now();
        if (delay >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            t0 = Clock::now();
            sock.Break();
        }
        ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        auto [err, cpu] = waiting.get();
        if (kind == 2 && !partial.empty() && delay >= 0) {
            // Receive hands out what came, unless the break was first.
            EXPECT_TRUE(err == 0 || err == -7) << err;
        } else {
            EXPECT_EQ(err, -7);
            EXPECT_LT(MillisSince(t0), 50);
        }
        EXPECT_LT(cpu, 20.0) << "the wait burns CPU";
        sock.ClearBreak();
        eth.FlushInput(0);
        // Still connected: an echo goes both ways.
        EXPECT_EQ(eth.Write(0, CChrArr("ping\n"), 1), 5);
        EXPECT_EQ(peer.Receive(5), "ping\n");
        peer.Send("pong\n");
        EXPECT_EQ(eth.ReadUntil(0, kTerm, 10, 1).ToString(), "pong\n");
        EXPECT_EQ(eth.GetError(), 0);
    }
}

// Pauses of any length, NaN and infinities included, end in their bound or
// at the break, and never turn into undefined arithmetic.
TEST_F(TcpRobust, DelayOfOddLengthsEndsInItsBound) {
    const double odd[] = {std::nan(""), -std::numeric_limits<double>::infinity(), -1.0, 0.0, 1e-9, 0.5};
    for (double seconds : odd) {
        SCOPED_TRACE(seconds);
        const auto t0 = Clock::now();
        EXPECT_EQ(sock.Delay(seconds), 0);
        EXPECT_LT(MillisSince(t0), kUnitMs);
    }
    // A pause without a practical end ends at the break.
    auto waiting = std::async(std::launch::async, [&] { return sock.Delay(std::numeric_limits<double>::infinity()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t0 = Clock::now();
    sock.Break();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), -7);
    EXPECT_LT(MillisSince(t0), 50);
    sock.ClearBreak();
}

// Storms of connects that succeed, are refused, are reset or are replaced by
// the next one leave no descriptor behind and no stale state: every connect
// after them behaves as the first.
TEST_F(TcpRobust, ConnectStormsLeakNothing) {
    Random rnd(606);
    LoopbackPeer refusing(4, false);
    const int before = robust::OpenDescriptors();
    for (int i = 0; i < 150; ++i) {
        SCOPED_TRACE("connect " + std::to_string(i));
        switch (rnd.Int(0, 3)) {
        case 0: {
            EXPECT_EQ(eth.Connect(LoopbackPeer::kIp, refusing.port()), 1);
            EXPECT_FALSE(eth.WaitConnected());
            EXPECT_EQ(eth.GetError(), 10061);
            break;
        }
        case 1: {
            LoopbackPeer peer;
            Connect(peer);
            peer.Send("ab\n");
            EXPECT_EQ(eth.ReadUntil(0, kTerm, 10, 1).ToString(), "ab\n");
            if (rnd.Chance(50)) peer.Reset(); else peer.Close();
            eth.Read(0, 1, 1);
            EXPECT_EQ(eth.GetError(), -6);
            break;
        }
        case 2: {
            // A connect replaces a connection that is still up.
            LoopbackPeer first, second;
            Connect(first);
            Connect(second);
            second.Send("z");
            EXPECT_EQ(eth.Read(0, 1, 1).ToString(), "z");
            break;
        }
        default:
            EXPECT_EQ(eth.Connect(0, 5001), 0);
            EXPECT_EQ(eth.GetError(), 0);
            break;
        }
        if (rnd.Chance(30)) eth.Close();
    }
    eth.Close();
    EXPECT_LE(robust::OpenDescriptors(), before) << "descriptors leak";
}
