// The serial service against a hostile line on a pseudo-terminal: replies in
// random chunks with random pauses, garbage without terminators, breaks at
// random moments and a device that vanishes mid-reply. Whatever happens, every
// byte the device sent is handed out once and in order, every call ends in
// its bound, and a break ends any wait within 50 ms without burning CPU.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <thread>

#include "comm/telepathy.h"
#include "sim/pty_pair.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "robust_util.h"

using orv::test::PtyPair;
using robust::Clock;
using robust::MillisSince;
using robust::Random;

namespace {

constexpr int kPort = 6;
constexpr int kUnitMs = 50;          // one library second in these tests
constexpr uint8_t kTerm = 0x03;

class SerialRobust : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(kUnitMs / 1000.0);
        orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int def) { return def; });
    }
    void TearDown() override {
        orv::platform::SetMessageHook(nullptr);
        orv::platform::SetTimeScale(1.0);
    }
};

// One random reading call. Returns the bytes handed out; err gets the
// service's error, t the time-out given.
CChrArr RandomRead(CTelepathy& port, Random& rnd, int& err, int& t, int& n, int& op) {
    t = rnd.Chance(30) ? 0 : 1;
    op = rnd.Int(0, 4);
    CChrArr out;
    switch (op) {
    case 0:
        n = rnd.Int(1, rnd.Chance(20) ? 1024 : 60);
        out = port.Read(kPort, n, t);
        break;
    case 1:
        n = rnd.Int(1, rnd.Chance(20) ? 1024 : 80);
        out = port.ReadUntil(kPort, kTerm, n, t);
        break;
    case 2:
        n = 0;
        out = port.Read(kPort, 0, t);
        break;
    case 3:
        n = 0;
        port.GetInputCount(kPort);
        break;
    default:
        n = 0;
        port.FindInInput(kPort, kTerm);
        break;
    }
    err = port.GetError(kPort);
    return out;
}

}  // namespace

TEST_F(SerialRobust, RandomChunksPausesAndBreaksLoseOrReorderNoByte) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random rnd(seed);
        const std::string stream = rnd.Stream(12000, kTerm);
        PtyPair pty(kPort);
        CTelepathy port;
        ASSERT_EQ(port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1), 0);

        std::thread writer([&, seed] {
            Random w(seed * 7919u + 1);
            size_t off = 0;
            while (off < stream.size()) {
                const size_t n = std::min(stream.size() - off, static_cast<size_t>(w.Int(1, w.Chance(10) ? 900 : 64)));
                if (!pty.WriteMaster(stream.data() + off, n, 5000)) return;
                off += n;
                if (w.Chance(40)) std::this_thread::sleep_for(std::chrono::microseconds(w.Int(0, 4000)));
            }
        });
        std::atomic<bool> stop{false};
        std::thread breaker([&, seed] {
            Random b(seed * 104729u + 3);
            while (!stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(b.Int(1, 25)));
                port.Break();
            }
        });

        std::string got;
        const auto start = Clock::now();
        int calls = 0;
        while (got.size() < stream.size() && MillisSince(start) < 20000) {
            int err = 0, t = 0, n = 0, op = 0;
            const auto t0 = Clock::now();
            CChrArr out = RandomRead(port, rnd, err, t, n, op);
            const long ms = MillisSince(t0);
            ++calls;
            SCOPED_TRACE("call " + std::to_string(calls) + " op " + std::to_string(op) + " n " + std::to_string(n));
            // A wait of t seconds lasts at most t + 1 of them.
            EXPECT_LE(ms, (t + 1) * kUnitMs + 150);
            EXPECT_TRUE(err == 0 || err == -5 || err == -7 || err == -8) << err;
            const std::string part = out.ToString();
            if (op == 0 && err == 0) {
                EXPECT_EQ(part.size(), static_cast<size_t>(n));
            }
            if (op == 1 && err == 0) {
                ASSERT_FALSE(part.empty());
                EXPECT_EQ(static_cast<uint8_t>(part.back()), kTerm);
                EXPECT_LE(part.size(), static_cast<size_t>(n));
                EXPECT_EQ(part.find(static_cast<char>(kTerm)), part.size() - 1);
            }
            if (op == 1 && err == -8) {
                EXPECT_GE(part.size(), static_cast<size_t>(n));
            }
            ASSERT_EQ(part, stream.substr(got.size(), part.size())) << "bytes lost or reordered at " << got.size();
            got += part;
            if (err == -7) port.ClearBreak();
        }
        stop = true;
        breaker.join();
        writer.join();
        port.ClearBreak();
        EXPECT_EQ(got.size(), stream.size());
        // Nothing more is pending.
        EXPECT_TRUE(port.Read(kPort, 0, 0).IsEmpty());
        EXPECT_EQ(port.GetError(kPort), -5);

        // The device vanishes while a read waits without limit: -6 at once,
        // and what came before it is not handed out twice.
        const std::string tail = "tail";
        ASSERT_TRUE(pty.WriteMaster(tail.data(), tail.size()));
        auto waiting = std::async(std::launch::async, [&] {
            CChrArr r = port.Read(kPort, 10, -1);
            return std::make_pair(r.ToString(), port.GetError(kPort));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(rnd.Int(0, 30)));
        const auto t0 = Clock::now();
        pty.CloseSpare();
        pty.CloseMaster();
        ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready) << "a lost device hangs the read";
        auto [bytes, err] = waiting.get();
        EXPECT_LT(MillisSince(t0), 100);
        EXPECT_EQ(err, -6);
        EXPECT_EQ(bytes, tail.substr(0, bytes.size()));
        // Every later wait knows at once.
        const auto t1 = Clock::now();
        port.ReadUntil(kPort, kTerm, 10, -1);
        EXPECT_EQ(port.GetError(kPort), -6);
        EXPECT_LT(MillisSince(t1), 50);
        port.Close(kPort, 0);
    }
}

// A break at a random moment of a wait (or before it) ends it with -7 within
// 50 ms; the thread that waited used next to no CPU.
TEST_F(SerialRobust, BreakAtRandomMomentsEndsEveryWaitQuicklyWithoutSpinning) {
    PtyPair pty(kPort);
    CTelepathy port;
    ASSERT_EQ(port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1), 0);
    Random rnd(77);
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("round " + std::to_string(i));
        const int kind = rnd.Int(0, 3);
        const int delay = rnd.Int(-1, 60);   // -1: the break comes before the call
        if (delay < 0) port.Break();
        // Some bytes without the awaited count or terminator may be there.
        const std::string partial(static_cast<size_t>(rnd.Int(0, 3)), 'x');
        if (!partial.empty()) {
            ASSERT_TRUE(pty.WriteMaster(partial.data(), partial.size()));
        }
        auto waiting = std::async(std::launch::async, [&] {
            const double cpu0 = robust::ThreadCpuMillis();
            switch (kind) {
            case 0: port.Read(kPort, 50, -1); break;
            case 1: port.ReadUntil(kPort, kTerm, 50, 1000); break;
            case 2: port.Read(kPort, 0, 1000); break;
            default: port.Delay(1000.0); break;
            }
            return std::make_pair(port.GetError(kPort), robust::ThreadCpuMillis() - cpu0);
        });
        Clock::time_point t0 = Clock::now();
        if (delay >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            t0 = Clock::now();
            port.Break();
        }
        ASSERT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        auto [err, cpu] = waiting.get();
        const long ms = MillisSince(t0);
        if (kind == 2 && !partial.empty() && delay >= 0) {
            // Read(0) hands out what is there at once, unless the break
            // comes before the bytes have crossed the pseudo-terminal.
            EXPECT_TRUE(err == 0 || err == -7) << err;
        } else {
            EXPECT_EQ(err, -7);
            EXPECT_LT(ms, 50);
        }
        EXPECT_LT(cpu, 20.0) << "the wait burns CPU";
        port.ClearBreak();
        port.FlushInput(kPort);
        EXPECT_EQ(port.GetInputCount(kPort), 0);
    }
    port.Close(kPort, 0);
}

// Writes of random sizes (many chunks) to a device that reads in random
// pieces with pauses, broken off at random moments: the count each write
// reports is exactly what the device got, in order; a device that vanishes
// mid-write ends it with -6 and the count of what went out.
TEST_F(SerialRobust, WriteCountsAreWhatTheDeviceGetsWhenBrokenOrLost) {
    Random rnd(2024);
    PtyPair pty(kPort);
    CTelepathy port;
    ASSERT_EQ(port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1), 0);

    std::string expected;
    std::string received;
    std::atomic<bool> stop{false};
    std::atomic<bool> hold{false};        // the device stops reading
    std::atomic<size_t> receivedSize{0};
    const int master = pty.master();
    std::thread device([&] {
        Random r(5);
        char buf[8192];
        while (!stop.load()) {
            if (hold.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 5) != 1) continue;
            const ssize_t n = read(master, buf, static_cast<size_t>(r.Int(1, static_cast<int>(sizeof buf))));
            if (n > 0) {
                received.append(buf, static_cast<size_t>(n));
                receivedSize = received.size();
            }
            if (r.Chance(20)) std::this_thread::sleep_for(std::chrono::milliseconds(r.Int(0, 10)));
        }
    });
    int broken = 0;
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE("write " + std::to_string(i));
        const bool brk = rnd.Chance(50);
        const int size = brk ? rnd.Int(1, 300000) : rnd.Int(1, rnd.Chance(30) ? 100000 : 3000);
        std::string data(static_cast<size_t>(size), '\0');
        for (char& c : data) c = static_cast<char>(rnd.Byte());
        hold = brk;
        const int t = rnd.Chance(50) ? -1 : 100;
        const CChrArr payload(data);   // made outside the timed wait
        auto writing = std::async(std::launch::async, [&] {
            const double cpu0 = robust::ThreadCpuMillis();
            const int n = port.Write(kPort, payload, t);
            return std::make_tuple(n, port.GetError(kPort), robust::ThreadCpuMillis() - cpu0);
        });
        Clock::time_point t0 = Clock::now();
        if (brk) {
            std::this_thread::sleep_for(std::chrono::milliseconds(rnd.Int(0, 40)));
            t0 = Clock::now();
            port.Break();
        }
        ASSERT_EQ(writing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        auto [n, err, cpu] = writing.get();
        robust::CheckWrite(n, err, size, brk, MillisSince(t0), broken);
        EXPECT_LT(cpu, 20.0) << "a write waiting for room burns CPU";
        expected += data.substr(0, static_cast<size_t>(n));
        hold = false;
        port.ClearBreak();
    }
    EXPECT_GT(broken, 0) << "no write was broken off mid-way";
    robust::WaitForCount(receivedSize, expected.size());
    stop = true;
    device.join();
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the device got other bytes than the counts say";

    // The device vanishes while a write waits for room.
    const std::string big(200000, 'z');
    auto writing = std::async(std::launch::async, [&] {
        const int n = port.Write(kPort, CChrArr(big), -1);
        return std::make_pair(n, port.GetError(kPort));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t1 = Clock::now();
    pty.CloseSpare();
    pty.CloseMaster();
    ASSERT_EQ(writing.wait_for(std::chrono::seconds(3)), std::future_status::ready) << "a lost device hangs the write";
    auto [n, err] = writing.get();
    EXPECT_LT(MillisSince(t1), 100);
    EXPECT_EQ(err, -6);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, static_cast<int>(big.size()));
    port.Close(kPort, 0);
}

// Storms of opens, reopens, refused opens (a port held elsewhere, a missing
// port, a second open) and closes leave no descriptor or lock behind: the
// port opens and carries bytes after every one of them.
TEST_F(SerialRobust, OpenCloseStormsLeakNothing) {
    Random rnd(909);
    PtyPair pty(kPort);
    setenv("ECR_COM16", "/nonexistent/tty", 1);
    CTelepathy port;
    const int before = robust::OpenDescriptors();
    for (int i = 0; i < 150; ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        switch (rnd.Int(0, 5)) {
        case 0: {
            // Held elsewhere (another open file with the lock).
            port.Close(kPort, 0);
            const int other = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(other, 0);
            ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
            EXPECT_EQ(port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1), -4);
            close(other);
            break;
        }
        case 1: EXPECT_EQ(port.Open(16, 1024, 1024, 9600, 8, 'N', 1), -2); break;
        case 2: {
            const int first = port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1);
            EXPECT_TRUE(first == 0 || first == -4);
            EXPECT_EQ(port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1), -4);
            break;
        }
        case 3:
            port.SetBaud(kPort, rnd.Chance(50) ? 19200 : 9600);
            port.SetDtrMode(kPort, rnd.Int(0, 2));
            port.SetXonXoff(kPort, rnd.Int(0, 1));
            break;
        case 4: port.Open(kPort, rnd.Int(-5, 70000), rnd.Int(-5, 70000), rnd.Int(-1, 300000), rnd.Int(0, 9), 'Q', rnd.Int(0, 4)); break;
        default: port.Close(kPort, rnd.Int(0, 1)); break;
        }
        if (port.GetError(kPort) == -3 || rnd.Chance(30)) {
            // Whatever came before, the port opens (or is open) and works.
            const int e = port.Open(kPort, 1024, 1024, 9600, 8, 'N', 1);
            EXPECT_TRUE(e == 0 || e == -4) << e;
            ASSERT_TRUE(pty.WriteMaster("ok\n", 3));
            EXPECT_EQ(port.ReadUntil(kPort, '\n', 10, 2).ToString(), "ok\n");
            EXPECT_EQ(port.GetError(kPort), 0);
        }
    }
    port.Close(kPort, 0);
    // Every rate the port class knows opens the line and carries bytes, odd
    // line settings included.
    for (int baud : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000}) {
        for (char parity : {'N', 'E', 'O', 'M', 'S'}) {
            SCOPED_TRACE(std::to_string(baud) + parity);
            ASSERT_EQ(port.Open(kPort, 1024, 1024, baud, parity == 'N' ? 8 : 7, parity, parity == 'M' ? 2 : 1), 0);
            ASSERT_TRUE(pty.WriteMaster("ok\n", 3));
            EXPECT_EQ(port.ReadUntil(kPort, '\n', 10, 2).ToString(), "ok\n");
            EXPECT_EQ(port.Write(kPort, CChrArr("w"), 1), 1);
            char c = 0;
            pollfd p{pty.master(), POLLIN, 0};
            EXPECT_EQ(poll(&p, 1, 1000), 1);
            EXPECT_EQ(read(pty.master(), &c, 1), 1);
            EXPECT_EQ(c, 'w');
            port.Close(kPort, 0);
        }
    }
    unsetenv("ECR_COM16");
    EXPECT_LE(robust::OpenDescriptors(), before) << "descriptors leak";
}

// Operator questions whose hook answers late or never, broken off at random
// moments: the question ends with the hook's answer when it came first, else
// with -7 within 50 ms of the break; a late answer changes nothing later.
TEST_F(SerialRobust, OperatorQuestionsBrokenAtRandomMoments) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        bool release = false;
        int running = 0;
        std::atomic<int> delayMs{0};
    };
    // Everything the hook touches lives as long as the last hook call, which
    // may come after the test (a question broken off before its helper began).
    auto shared = std::make_shared<Shared>();
    orv::platform::SetMessageHook([shared](orv::platform::MessageKind, const std::string&, int) {
        std::unique_lock<std::mutex> lock(shared->mutex);
        ++shared->running;
        const int d = shared->delayMs.load();
        if (d < 0)
            shared->cv.wait(lock, [&] { return shared->release; });   // never answers on its own
        else
            shared->cv.wait_for(lock, std::chrono::milliseconds(d), [&] { return shared->release; });
        --shared->running;
        shared->cv.notify_all();
        return 5;
    });
    CTelepathy port;
    Random rnd(4711);
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE("question " + std::to_string(i));
        const int hookDelay = rnd.Chance(25) ? -1 : rnd.Int(0, 60);
        const int breakDelay = rnd.Chance(20) ? -1 : rnd.Int(0, 60);   // -1: no break
        shared->delayMs = hookDelay;
        if (hookDelay < 0 && breakDelay < 0) continue;   // would wait for the operator forever
        auto asking = std::async(std::launch::async, [&] {
            return port.AskOperator(orv::platform::MessageKind::Question, "?", 1);
        });
        Clock::time_point t0 = Clock::now();
        if (breakDelay >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(breakDelay));
            t0 = Clock::now();
            port.Break();
        }
        ASSERT_EQ(asking.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        const int answer = asking.get();
        if (breakDelay < 0) {
            EXPECT_EQ(answer, 5);
        } else if (answer == -7) {
            EXPECT_LT(MillisSince(t0), 50);
        } else {
            EXPECT_EQ(answer, 5);
            EXPECT_TRUE(hookDelay >= 0 && hookDelay <= breakDelay + 20) << "answered after the break";
        }
        port.ClearBreak();
    }
    // Hooks still waiting answer now; none may touch anything gone.
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->release = true;
        shared->cv.notify_all();
        EXPECT_TRUE(shared->cv.wait_for(lock, std::chrono::seconds(3), [&] { return shared->running == 0; }));
    }
    orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int def) { return def; });
}

// A port name that is no serial device at all (a user's typo in ECR_COM<n>)
// is refused at the open with a clear code and leaves nothing open.
TEST_F(SerialRobust, PortNamesThatAreNoSerialDeviceAreRefused) {
    char fifo[] = "/tmp/orv_r5_fifo_XXXXXX";
    ASSERT_NE(mkdtemp(fifo), nullptr);
    const std::string fifoPath = std::string(fifo) + "/f";
    ASSERT_EQ(mkfifo(fifoPath.c_str(), 0600), 0);
    const std::string longName(5000, 'x');
    const int before = robust::OpenDescriptors();
    for (const std::string& path : {std::string(""), std::string("/etc/passwd"), std::string("/dev/null"),
                                    std::string("/tmp"), fifoPath, "/dev/" + longName, std::string("relative/tty")}) {
        SCOPED_TRACE(path.substr(0, 40));
        setenv("ECR_COM9", path.c_str(), 1);
        CTelepathy port;
        const int e = port.Open(9, 1024, 1024, 9600, 8, 'N', 1);
        EXPECT_TRUE(e == -2 || e == -4) << e;
        port.Read(9, 1, 0);
        EXPECT_EQ(port.GetError(9), -3);
        EXPECT_EQ(port.Write(9, CChrArr("x"), 0), 0);
    }
    unsetenv("ECR_COM9");
    unlink(fifoPath.c_str());
    rmdir(fifo);
    EXPECT_LE(robust::OpenDescriptors(), before);
}
