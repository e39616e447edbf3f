// Writing: a real pseudo-terminal at 8E1 both ways, and the fake line for
// chunks, CTS waits, drain time-outs and write failures.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "sim/emulator_base.h"
#include "fakes/fake_serial_device.h"
#include "serial_fixture.h"

using namespace serial_test;
using orv::test::EmulatorBase;
using orv::test::FakeSerialLine;
using orv::test::PtyPair;

namespace {

CChrArr AllByteValues(int length) {
    CChrArr a;
    for (int i = 0; i < length; ++i) a.Add(static_cast<uint8_t>((i * 7 + i / 256) & 0xFF));
    return a;
}

}  // namespace

TEST_F(SerialTest, EchoDeviceAt8E1OnAPseudoTerminal) {
    EmulatorBase dev(1);
    dev.SetResponder([](EmulatorBase& self, const uint8_t* d, size_t n) { self.Send(orv::test::Bytes(d, d + n)); });
    dev.Start();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 4096, 1024, 9600, 8, 'E', 1), 0);

    // The line as the terminal driver sees it: raw. (A pseudo-terminal forces
    // 8 bits without parity; the parity flags are checked in the platform tests.)
    int fd = open(dev.pty().slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP | INLCR | IGNCR), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));

    // Every byte value, more than one chunk, through and back unchanged.
    const CChrArr data = AllByteValues(3000);
    EXPECT_EQ(port.Write(1, data, 5), 3000);
    EXPECT_EQ(port.GetError(1), 0);
    CChrArr back = port.Read(1, 3000, 5);
    EXPECT_EQ(port.GetError(1), 0);
    EXPECT_TRUE(back == data);
    ASSERT_TRUE(dev.WaitForCount(3000, 2000));
    EXPECT_EQ(dev.Received(), data.bytes());

    // Reopening at 8E1 (a line option change) works as well.
    EXPECT_EQ(port.SetCtsWait(1, 1), 0);
    EXPECT_EQ(port.GetError(1), 0);
    EXPECT_TRUE(port.GetPortOpen());
    EXPECT_EQ(port.Write(1, Bytes("again"), 5), 5);
    EXPECT_EQ(Str(port.Read(1, 5, 5)), "again");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(port.Close(1, 1), 0);
}

TEST_F(SerialTest, SevenBitLinesOpenAndReopenOnAPseudoTerminal) {
    // A pseudo-terminal carries 8 bits without parity whatever it is told;
    // lines of 7 data bits with parity open, reopen and pass ASCII there.
    struct Case { int bits; char parity; int stop; };
    const Case cases[] = {{7, 'O', 1}, {7, 'E', 1}, {7, 'N', 2}, {7, 'S', 1}};
    for (const Case& c : cases) {
        EmulatorBase dev(1);
        dev.SetResponder([](EmulatorBase& self, const uint8_t* d, size_t n) { self.Send(orv::test::Bytes(d, d + n)); });
        dev.Start();
        CTelepathy port;
        const std::string name = std::to_string(c.bits) + c.parity + std::to_string(c.stop);
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, c.bits, c.parity, c.stop), 0) << name;
        EXPECT_EQ(port.Write(1, Bytes("\x02" "ABC\r"), 5), 5) << name;
        EXPECT_EQ(Str(port.Read(1, 5, 5)), "\x02" "ABC\r") << name;
        // Reopens: a new rate, then a line option.
        EXPECT_EQ(port.SetBaud(1, 19200), 9600) << name;
        EXPECT_EQ(port.GetError(1), 0) << name;
        EXPECT_EQ(port.SetCtsWait(1, 1), 0) << name;
        EXPECT_EQ(port.GetError(1), 0) << name;
        ASSERT_TRUE(port.GetPortOpen()) << name;
        EXPECT_EQ(port.Write(1, Bytes("again"), 5), 5) << name;
        EXPECT_EQ(Str(port.Read(1, 5, 5)), "again") << name;
        EXPECT_EQ(port.GetSettings(), "19200," + std::string(1, c.parity) + ",7," + std::to_string(c.stop)) << name;
        EXPECT_EQ(port.Close(1, 1), 0) << name;
        dev.Stop();
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(SerialTest, FlushOutputOnAPseudoTerminalLosesNothing) {
    PtyPair pty(1);
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    ASSERT_EQ(port.Write(1, Bytes("hello"), 1), 5);
    EXPECT_EQ(port.FlushOutput(1), 0);
    EXPECT_EQ(port.FlushInput(1), 0);
    char buf[16] = {};
    struct pollfd p = {pty.master(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(read(pty.master(), buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "hello");
}

TEST_F(SerialTest, WriteGoesOutInChunksOfTheOutputQueueSize) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 4, 9600, 8, 'N', 1), 0);
    line->SetAutoDrain(false);
    std::vector<size_t> seen;
    std::atomic<bool> stop{false};
    std::thread device([&] {   // the device takes each chunk after a moment
        while (!stop) {
            if (size_t q = line->OutputQueued()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                seen.push_back(line->OutputQueued());
                (void)q;
                line->Drain();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(port.Write(1, Bytes("abcdefghij"), 2), 10);
    EXPECT_EQ(port.GetError(1), 0);
    stop = true;
    device.join();
    EXPECT_EQ(seen, (std::vector<size_t>{4, 4, 2}));
    EXPECT_EQ(CChrArr(line->Written().data(), line->Written().size()).ToString(), "abcdefghij");
}

TEST_F(SerialTest, DrainTimeOutsOnTheFakeLine) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    line->SetAutoDrain(false);

    // The chunk goes out, the drain wait after it times out: count and -5.
    int count = -1;
    int64_t ms = ElapsedMs([&] { count = port.Write(1, Bytes("abc"), 1); });
    EXPECT_EQ(count, 3);
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_GE(ms, kUnitMs - 5);
    EXPECT_LT(ms, 2 * kUnitMs + 40);

    // Output still queued: the next write does not start.
    EXPECT_EQ(port.Write(1, Bytes("def"), 0), 0);
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_EQ(port.GetOutputCount(1), 3);

    struct Case { int t; int minMs; int maxMs; };
    for (const Case& c : {Case{0, 0, 20}, Case{1, kUnitMs - 5, 2 * kUnitMs + 40}, Case{2, 2 * kUnitMs - 5, 3 * kUnitMs + 40}}) {
        int r = 0;
        int64_t waited = ElapsedMs([&] { r = port.WaitOutputDrained(1, c.t); });
        EXPECT_EQ(r, -5) << c.t;
        EXPECT_GE(waited, c.minMs) << c.t;
        EXPECT_LT(waited, c.maxMs) << c.t;
    }
    // Drained while waiting.
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        line->Drain();
    });
    EXPECT_EQ(port.WaitOutputDrained(1, -1), 0);
    later.join();
    EXPECT_EQ(port.GetOutputCount(1), 0);
}

TEST_F(SerialTest, WriteWaitsForRoomWithTheDeadline) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    line->SetAutoDrain(false);
    line->SetWriteRoom(3);
    int count = -1;
    int64_t ms = ElapsedMs([&] { count = port.Write(1, Bytes("0123456789"), 1); });
    EXPECT_EQ(count, 3);
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_LT(ms, 2 * kUnitMs + 40);

    // Room appears bit by bit: everything goes out.
    line->Drain();
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop) {
            line->Drain(2);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    EXPECT_EQ(port.Write(1, Bytes("abcdefghijklmnop"), 2), 16);
    EXPECT_EQ(port.GetError(1), 0);
    stop = true;
    device.join();
}

TEST_F(SerialTest, CtsWaitBeforeEachChunk) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    ASSERT_EQ(port.SetCtsWait(1, 1), 0);
    line->SetCts(false);
    line->ClearRecords();

    struct Case { int t; int minMs; int maxMs; };
    for (const Case& c : {Case{0, 0, 20}, Case{1, kUnitMs - 5, 2 * kUnitMs + 40}}) {
        int count = -1;
        int64_t ms = ElapsedMs([&] { count = port.Write(1, Bytes("abc"), c.t); });
        EXPECT_EQ(count, 0) << c.t;
        EXPECT_EQ(port.GetError(1), -5) << c.t;
        EXPECT_GE(ms, c.minMs) << c.t;
        EXPECT_LT(ms, c.maxMs) << c.t;
    }
    EXPECT_TRUE(line->Written().empty());
    EXPECT_FALSE(port.GetCts(1));

    std::thread up([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        line->SetCts(true);
    });
    int count = 0;
    int64_t ms = ElapsedMs([&] { count = port.Write(1, Bytes("abc"), 5); });
    up.join();
    EXPECT_EQ(count, 3);
    EXPECT_EQ(port.GetError(1), 0);
    EXPECT_GE(ms, 25);
    EXPECT_TRUE(port.GetCts(1));
}

TEST_F(SerialTest, CtsWaitDoesNotBlockWithoutModemLines) {
    PtyPair pty(1);
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    ASSERT_EQ(port.SetCtsWait(1, 1), 0);
    EXPECT_EQ(port.Write(1, Bytes("xy"), 0), 2);
    EXPECT_EQ(port.GetError(1), 0);
    // The status itself cannot be read there.
    EXPECT_EQ(port.GetModemStatus(1), 0);
    EXPECT_EQ(port.GetError(1), -3);
    EXPECT_FALSE(port.GetCts(1));
}

TEST_F(SerialTest, FailedWritesStopWithTheCountSoFar) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 4, 9600, 8, 'N', 1), 0);
    EXPECT_EQ(port.Write(1, CChrArr(), 1), 0);
    EXPECT_EQ(port.GetError(1), -1);

    line->SetWriteError(EINVAL);
    EXPECT_EQ(port.Write(1, Bytes("abcdef"), 1), 0);
    EXPECT_EQ(port.GetError(1), -9);
    line->SetWriteError(0);

    // The device goes away after the first chunk.
    line->SetAutoDrain(false);
    std::thread gone([&] {
        while (line->OutputQueued() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        line->HangUp();
    });
    EXPECT_EQ(port.Write(1, Bytes("abcdef"), 5), 4);
    EXPECT_EQ(port.GetError(1), -6);
    gone.join();
}
