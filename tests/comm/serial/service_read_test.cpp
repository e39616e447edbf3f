// Reading by count and up to a terminator on a pseudo-terminal.
#include <thread>

#include "sim/emulator_base.h"
#include "serial_fixture.h"

using namespace serial_test;
using orv::test::B;
using orv::test::EmulatorBase;

namespace {

class ReadTest : public SerialTest {
protected:
    void SetUp() override {
        SerialTest::SetUp();
        dev.Start();
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    }
    // Sends bytes from the device and waits until the port sees them all.
    void Arrive(const std::string& bytes) {
        const int before = port.GetInputCount(1);
        ASSERT_TRUE(dev.Send(bytes));
        for (int i = 0; i < 2000 && port.GetInputCount(1) < before + static_cast<int>(bytes.size()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(port.GetInputCount(1), before + static_cast<int>(bytes.size()));
    }
    // Moves everything pending into the service's own buffer.
    void Buffer(const std::string& bytes) {
        Arrive(bytes);
        port.FindInInput(1, 0xFF);
    }

    EmulatorBase dev{1};
    CTelepathy port;
};

}  // namespace

TEST_F(ReadTest, ReadByCountWaitsForTheBytes) {
    dev.SendAfter(30, B("12345"));
    CChrArr got;
    int64_t ms = ElapsedMs([&] { got = port.Read(1, 5, 5); });
    EXPECT_EQ(Str(got), "12345");
    EXPECT_EQ(port.GetError(1), 0);
    EXPECT_GE(ms, 25);
    EXPECT_LT(ms, 5 * kUnitMs);
}

TEST_F(ReadTest, ReadZeroTakesWhateverIsThereOrTimesOutAtOnce) {
    CChrArr got;
    int64_t ms = ElapsedMs([&] { got = port.Read(1, 0, 0); });
    EXPECT_TRUE(got.IsEmpty());
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_LT(ms, 20);

    Arrive("abc");
    EXPECT_EQ(Str(port.Read(1, 0, 0)), "abc");
    EXPECT_EQ(port.GetError(1), 0);

    // From the service buffer plus the port.
    Buffer("de");
    Arrive("fg");
    EXPECT_EQ(Str(port.Read(1, 0, 0)), "defg");
    EXPECT_EQ(port.GetInputCount(1), 0);
}

TEST_F(ReadTest, BufferedBytesComeFirstAndTheRestStays) {
    struct Case { const char* buffered; const char* arriving; int n; const char* expect; int pendingAfter; };
    const Case cases[] = {
        {"abcdef", "", 3, "abc", 3},   // more buffered than asked: the front, the rest kept
        {"abc", "", 3, "abc", 0},      // exactly the buffer
        {"ab", "cdxy", 4, "abcd", 2},  // buffer, then the port
    };
    for (const Case& c : cases) {
        Buffer(c.buffered);
        if (*c.arriving) Arrive(c.arriving);
        EXPECT_EQ(Str(port.Read(1, c.n, 1)), c.expect) << c.buffered;
        EXPECT_EQ(port.GetError(1), 0);
        EXPECT_EQ(port.GetInputCount(1), c.pendingAfter) << c.buffered;
        port.FlushInput(1);
    }
}

TEST_F(ReadTest, TimeOutReturnsOnlyTheBufferedBytesAndKeepsTheRestPending) {
    Buffer("abc");
    dev.SendAfter(10, B("d"));
    CChrArr got;
    int64_t ms = ElapsedMs([&] { got = port.Read(1, 5, 2); });
    EXPECT_EQ(Str(got), "abc");
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_GE(ms, 2 * kUnitMs - 5);
    EXPECT_LT(ms, 3 * kUnitMs + 40);
    EXPECT_EQ(port.GetInputCount(1), 1);   // "d" was not lost
    EXPECT_EQ(Str(port.Read(1, 1, 0)), "d");
}

TEST_F(ReadTest, ReadRefusesBadCounts) {
    for (int n : {-1, 1025}) {
        EXPECT_TRUE(port.Read(1, n, 0).IsEmpty());
        EXPECT_EQ(port.GetError(1), -1) << n;
    }
    // The queue size given to Open is the limit.
    port.Close(1, 0);
    ASSERT_EQ(port.Open(1, 4096, 1024, 9600, 8, 'N', 1), 0);
    Arrive(std::string(2000, 'z'));
    EXPECT_EQ(port.Read(1, 2000, 1).GetLength(), 2000);
    EXPECT_EQ(port.GetError(1), 0);
}

TEST_F(ReadTest, ReadUntilCases) {
    struct Case {
        const char* name;
        std::string pending;
        int maxLen;
        int t;
        const char* expect;
        int error;
        int pendingAfter;
    };
    const Case cases[] = {
        {"terminator found", "ab\rcd", 10, 1, "ab\r", 0, 2},
        {"terminator at the limit", "123456789\rX", 10, 1, "123456789\r", 0, 1},
        {"no terminator yet", "abc", 10, 0, "", -5, 3},
        {"no terminator, time-out", "abc", 10, 1, "", -5, 3},
        {"limit reached without terminator", "123456789012", 10, 1, "123456789012", -8, 0},
        {"terminator beyond the limit", "1234567890\r", 10, 1, "1234567890\r", -8, 0},
    };
    for (const Case& c : cases) {
        Arrive(c.pending);
        CChrArr got = port.ReadUntil(1, '\r', c.maxLen, c.t);
        EXPECT_EQ(Str(got), c.expect) << c.name;
        EXPECT_EQ(port.GetError(1), c.error) << c.name;
        EXPECT_EQ(port.GetInputCount(1), c.pendingAfter) << c.name;
        port.FlushInput(1);
    }
    EXPECT_TRUE(port.ReadUntil(1, '\r', 1025, 0).IsEmpty());
    EXPECT_EQ(port.GetError(1), -1);
}

TEST_F(ReadTest, ReadUntilWaitsForTheTerminator) {
    dev.SendAfter(20, B("OK"));
    dev.SendAfter(60, B("\r\n"));
    CChrArr got;
    int64_t ms = ElapsedMs([&] { got = port.ReadUntil(1, '\n', 100, 4); });
    EXPECT_EQ(Str(got), "OK\r\n");
    EXPECT_EQ(port.GetError(1), 0);
    EXPECT_GE(ms, 55);
    EXPECT_LT(ms, 4 * kUnitMs);
}

TEST_F(ReadTest, FindInInputCountsFromTheBufferStart) {
    Buffer("abc");
    Arrive("dXe");
    EXPECT_EQ(port.FindInInput(1, 'b'), 2);
    EXPECT_EQ(port.FindInInput(1, 'X'), 5);
    EXPECT_EQ(port.FindInInput(1, 'Q'), 0);
    EXPECT_EQ(port.GetInputCount(1), 6);
    EXPECT_EQ(Str(port.Read(1, 6, 0)), "abcdXe");
}
