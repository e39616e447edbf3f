// A break from another thread ends every wait with -7 within 50 ms; a device
// that disappears ends it with -6.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <thread>

#include "sim/emulator_base.h"
#include "fakes/fake_serial_device.h"
#include "serial_fixture.h"

using namespace serial_test;
using orv::test::EmulatorBase;
using orv::test::FakeSerialLine;
using orv::test::PtyPair;

namespace {

// Runs call on a worker, fires trigger after delayMs from this thread and
// returns the call's result and how long after the trigger it came back.
std::pair<int, int64_t> RunAndTrigger(const std::function<int()>& call, const std::function<void()>& trigger,
                                      int delayMs = 80) {
    auto result = std::async(std::launch::async, call);
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(delayMs)), std::future_status::timeout)
        << "the wait ended before the trigger";
    auto t0 = std::chrono::steady_clock::now();
    trigger();
    int r = result.get();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    return {r, ms};
}

struct WaitCase {
    const char* name;
    bool fake;                                       // the fake line, else a pseudo-terminal
    std::function<void(CTelepathy&, FakeSerialLine*)> prepare;
    std::function<int(CTelepathy&)> wait;            // returns the service's error
};

std::vector<WaitCase> Waits() {
    auto err = [](CTelepathy& p) { return p.GetError(1); };
    return {
        {"Read by count", false, nullptr, [=](CTelepathy& p) { p.Read(1, 5, -1); return err(p); }},
        {"Read with a long time-out", false, nullptr, [=](CTelepathy& p) { p.Read(1, 0, 1000); return err(p); }},
        {"ReadUntil", false, nullptr, [=](CTelepathy& p) { p.ReadUntil(1, '\r', 10, -1); return err(p); }},
        {"WaitOutputDrained", true,
         [](CTelepathy& p, FakeSerialLine* l) {
             l->SetAutoDrain(false);
             p.Write(1, CChrArr("abc"), 0);
         },
         [](CTelepathy& p) { return p.WaitOutputDrained(1, -1); }},
        {"Write waiting for CTS", true,
         [](CTelepathy& p, FakeSerialLine* l) {
             p.SetCtsWait(1, 1);
             l->SetCts(false);
         },
         [=](CTelepathy& p) {
             EXPECT_EQ(p.Write(1, CChrArr("abc"), -1), 0);
             return err(p);
         }},
        {"Write waiting for room", true,
         [](CTelepathy&, FakeSerialLine* l) {
             l->SetAutoDrain(false);
             l->SetWriteRoom(0);
         },
         [=](CTelepathy& p) {
             p.Write(1, CChrArr("abc"), -1);
             return err(p);
         }},
        {"Delay", false, nullptr, [](CTelepathy& p) { return p.Delay(1000.0); }},
    };
}

}  // namespace

TEST_F(SerialTest, BreakFromAnotherThreadEndsEveryWaitWithin50ms) {
    for (const WaitCase& c : Waits()) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<FakeSerialLine> line;
        std::unique_ptr<PtyPair> pty;
        if (c.fake)
            line = FakeSerialLine::Create();
        else
            pty = std::make_unique<PtyPair>(1);
        CTelepathy port;
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
        if (c.prepare) c.prepare(port, line.get());
        auto [r, ms] = RunAndTrigger([&] { return c.wait(port); }, [&] { port.Break(); });
        EXPECT_EQ(r, -7);
        EXPECT_LT(ms, 50);
        EXPECT_TRUE(port.IsAborted());
        // The flag stays until cleared: the next wait ends at once.
        int64_t again = ElapsedMs([&] { EXPECT_EQ(c.wait(port), -7); });
        EXPECT_LT(again, 50);
        port.ClearBreak();
        EXPECT_FALSE(port.IsAborted());
        port.Close(1, 0);
    }
}

TEST_F(SerialTest, BreakLeavesTheBytesPending) {
    EmulatorBase dev(1);
    dev.Start();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    ASSERT_TRUE(dev.Send(std::string("ab")));
    auto [r, ms] = RunAndTrigger([&] { return port.Read(1, 5, -1).GetLength(); }, [&] { port.Break(); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(port.GetError(1), -7);
    port.ClearBreak();
    EXPECT_EQ(Str(port.Read(1, 2, 1)), "ab");
}

TEST_F(SerialTest, SetNotifyWindowAndOpenClearTheBreak) {
    PtyPair pty(1);
    CTelepathy port;
    port.Break();
    EXPECT_EQ(port.SetNotifyWindow(nullptr, 0), 1);
    EXPECT_FALSE(port.IsAborted());
    port.Break();
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    EXPECT_FALSE(port.IsAborted());
    // A cleared break leaves no stale wake-up behind: the wait runs its time.
    int64_t ms = ElapsedMs([&] { port.Read(1, 1, 1); });
    EXPECT_EQ(port.GetError(1), -5);
    EXPECT_GE(ms, kUnitMs - 5);
}

TEST_F(SerialTest, PseudoTerminalWhoseOtherSideClosesGivesMinus6) {
    struct Case { const char* name; std::function<int(CTelepathy&)> wait; };
    const Case cases[] = {
        {"Read", [](CTelepathy& p) { p.Read(1, 5, -1); return p.GetError(1); }},
        {"Read zero", [](CTelepathy& p) { p.Read(1, 0, 100); return p.GetError(1); }},
        {"ReadUntil", [](CTelepathy& p) { p.ReadUntil(1, '\n', 100, 100); return p.GetError(1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyPair pty(1);
        CTelepathy port;
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
        auto [r, ms] = RunAndTrigger([&] { return c.wait(port); }, [&] { pty.CloseMaster(); });
        EXPECT_EQ(r, -6);
        EXPECT_LT(ms, 50);
        // Everything after reports the loss at once.
        EXPECT_EQ(port.Write(1, CChrArr("x"), 5), 0);
        EXPECT_EQ(port.GetError(1), -6);
        EXPECT_TRUE(port.Read(1, 1, -1).IsEmpty());
        EXPECT_EQ(port.GetError(1), -6);
        port.GetInputCount(1);
        EXPECT_EQ(port.GetError(1), -6);
        EXPECT_EQ(port.FlushInput(1), -6);
        EXPECT_EQ(port.Close(1, 5), -6);
        EXPECT_FALSE(port.GetPortOpen());
        // The pseudo-terminal is gone for good.
        EXPECT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), -2);
    }
}

TEST_F(SerialTest, BytesBeforeTheLossAreStillDelivered) {
    PtyPair pty(1);
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    ASSERT_TRUE(pty.WriteMaster("OK\r", 3));
    EXPECT_EQ(port.FindInInput(1, '\r'), 3);
    pty.CloseMaster();
    EXPECT_EQ(Str(port.ReadUntil(1, '\r', 10, 1)), "OK\r");
    EXPECT_EQ(port.GetError(1), 0);
    port.Read(1, 1, 1);
    EXPECT_EQ(port.GetError(1), -6);
}

TEST_F(SerialTest, FakeDeviceLostDuringADrainWait) {
    auto line = FakeSerialLine::Create();
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    line->SetAutoDrain(false);
    port.Write(1, CChrArr("abc"), 0);
    auto [r, ms] = RunAndTrigger([&] { return port.WaitOutputDrained(1, -1); }, [&] { line->HangUp(); });
    EXPECT_EQ(r, -6);
    EXPECT_LT(ms, 50);
}

TEST_F(SerialTest, DelayRunsInRealTimeAndKeepsTheError) {
    PtyPair pty(1);
    CTelepathy port;
    ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
    port.Read(1, 1, 0);
    ASSERT_EQ(port.GetError(1), -5);
    struct Case { double seconds; int minMs; int maxMs; };
    for (const Case& c : {Case{0.0, 0, 10}, Case{-1.0, 0, 10}, Case{1.0, kUnitMs - 2, kUnitMs + 30},
                          Case{2.5, 125 - 2, 125 + 30}}) {
        int r = 1;
        int64_t ms = ElapsedMs([&] { r = port.Delay(c.seconds); });
        EXPECT_EQ(r, 0) << c.seconds;
        EXPECT_GE(ms, c.minMs) << c.seconds;
        EXPECT_LT(ms, c.maxMs) << c.seconds;
    }
    EXPECT_EQ(port.GetError(1), -5);
}

TEST_F(SerialTest, OperatorQuestionsEndWithABreakEvenWhenTheHookBlocks) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false, finished = false;
    orv::platform::SetMessageHook([&](orv::platform::MessageKind kind, const std::string&, int) {
        if (kind == orv::platform::MessageKind::Notice) return 0;
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [&] { return release; });
        finished = true;
        cv.notify_all();
        return 1;
    });
    CTelepathy port;
    auto [r, ms] = RunAndTrigger(
        [&] { return port.AskOperator(orv::platform::MessageKind::Question, "?", 0); }, [&] { port.Break(); });
    EXPECT_EQ(r, -7);
    EXPECT_LT(ms, 50);
    {
        std::unique_lock<std::mutex> lk(m);
        release = true;
        cv.notify_all();
        cv.wait(lk, [&] { return finished; });
    }
    // Without a break the hook's answer comes back.
    port.ClearBreak();
    EXPECT_EQ(port.AskOperator(orv::platform::MessageKind::Prompt, "!", 0), 1);
    port.Break();
    EXPECT_EQ(port.AskOperator(orv::platform::MessageKind::Question, "?", 0), -7);
    orv::platform::SetMessageHook(nullptr);
}
