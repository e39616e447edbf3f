// The quiet line of the serial service: after a read that timed out or was
// broken off, the next write waits until the device has been silent for the
// quiet time, dropping what it sends meanwhile; a break ends that wait at
// once; a device that never stops is waited for no longer than the limit;
// the state belongs to the port number and outlives closing the port.
#include <atomic>
#include <thread>

#include "fakes/fake_serial_device.h"
#include "serial_fixture.h"

using namespace serial_test;
using orv::test::FakeSerialLine;

namespace {

class QuietLineTest : public SerialTest {
protected:
    void SetUp() override {
        SerialTest::SetUp();
        line = FakeSerialLine::Create();
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
        port.SetQuietLine(2.0, 6.0);   // 100 ms of silence, 300 ms at most
        line->ClearRecords();
    }
    void TearDown() override {
        port.Close(1, 0);
        FakeSerialLine::Uninstall();
        SerialTest::TearDown();
    }

    std::shared_ptr<FakeSerialLine> line;
    CTelepathy port;
};

TEST_F(QuietLineTest, ALateAnswerIsDroppedBeforeTheNextRequest) {
    EXPECT_FALSE(port.IsUnsettled(1));
    EXPECT_TRUE(port.Read(1, 4, 1).IsEmpty());
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_TRUE(port.IsUnsettled(1));

    // The answer given up on comes 40 ms later, in two pieces.
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        line->Inject({'L', 'A'});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        line->Inject({'T', 'E'});
    });
    const int64_t ms = ElapsedMs([&] { EXPECT_EQ(port.Write(1, Bytes("next"), 1), 4); });
    device.join();
    EXPECT_GE(ms, 70 + 2 * kUnitMs - 10);   // silent for the quiet time after the last piece
    EXPECT_LT(ms, 70 + 2 * kUnitMs + 150);
    EXPECT_FALSE(port.IsUnsettled(1));
    line->Inject({'O', 'K'});
    EXPECT_EQ(Str(port.Read(1, 2, 1)), "OK");
}

TEST_F(QuietLineTest, OnlyAWaitThatGaveUpUnsettlesTheLine) {
    // A look without waiting that finds nothing gives up no answer.
    EXPECT_TRUE(port.Read(1, 0, 0).IsEmpty());
    EXPECT_FALSE(port.IsUnsettled(1));
    // An answer read whole settles the line again.
    port.Read(1, 1, 1);
    EXPECT_TRUE(port.IsUnsettled(1));
    line->Inject({'x', '\n'});
    EXPECT_EQ(Str(port.ReadUntil(1, '\n', 10, 1)), "x\n");
    EXPECT_FALSE(port.IsUnsettled(1));
    // A read ended by a break unsettles it; one that finds its bytes while
    // a break is asked for does not settle it.
    port.Break();
    port.Read(1, 1, 1);
    EXPECT_EQ(port.GetError(1), -7);
    EXPECT_TRUE(port.IsUnsettled(1));
    line->Inject({'y'});
    port.Read(1, 0, 1);
    EXPECT_TRUE(port.IsUnsettled(1));
    port.ClearBreak();
    // Nothing more comes: the write waits the quiet time only.
    const int64_t ms = ElapsedMs([&] { port.Write(1, Bytes("z"), 1); });
    EXPECT_GE(ms, 2 * kUnitMs - 10);
    EXPECT_LT(ms, 2 * kUnitMs + 150);
    EXPECT_EQ(line->Written(), (std::vector<uint8_t>{'z'}));
}

TEST_F(QuietLineTest, ABreakEndsTheWaitAtOnceAndTheLineStaysUnsettled) {
    port.MarkUnsettled(1);
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        port.Break();
    });
    const int64_t ms = ElapsedMs([&] { port.Write(1, Bytes("a"), 1); });
    breaker.join();
    EXPECT_LT(ms, 30 + 50);
    EXPECT_TRUE(port.IsUnsettled(1));
    port.ClearBreak();
}

TEST_F(QuietLineTest, ADeviceThatNeverFallsSilentIsWaitedForUpToTheLimit) {
    port.MarkUnsettled(1);
    std::atomic<bool> stop{false};
    std::thread chatter([&] {
        while (!stop.load()) {
            line->Inject({'.'});
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const int64_t ms = ElapsedMs([&] { EXPECT_EQ(port.Write(1, Bytes("go"), 1), 2); });
    stop = true;
    chatter.join();
    EXPECT_GE(ms, 6 * kUnitMs - 10);
    EXPECT_LT(ms, 6 * kUnitMs + 150);
    EXPECT_FALSE(port.IsUnsettled(1));
}

TEST_F(QuietLineTest, TheStateBelongsToThePortNumberAndOutlivesClosingIt) {
    port.Read(1, 1, 1);
    ASSERT_TRUE(port.IsUnsettled(1));
    port.Close(1, 0);
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    EXPECT_TRUE(port.IsUnsettled(1));
    EXPECT_FALSE(port.IsUnsettled(2));
    const int64_t ms = ElapsedMs([&] { port.Write(1, Bytes("a"), 1); });
    EXPECT_GE(ms, 2 * kUnitMs - 10);
    // Settled now: the next write goes at once.
    EXPECT_LT(ElapsedMs([&] { port.Write(1, Bytes("b"), 1); }), 20);
}

}  // namespace
