// The Tango link against a register that misbehaves at random: every request
// ends in bounded time with success or a nonzero code, a break is never
// reported as anything else, and the line serves the next request.
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "../tango_fixture.h"
#include "drivers/novitus/cprotokol_tango.h"

namespace orv::test {
namespace {

struct FaultCase {
    TFault fault;
    int count;
    int arg;
};

const FaultCase kFaults[] = {
    {TFault::EnqTab, 3, 0},          {TFault::EnqTab, 15, 0},         {TFault::EnqAt, 1, 0},
    {TFault::EnqGarbage, 2, 0},      {TFault::EnqSilence, 1, 0},      {TFault::FrameNak, 3, 0},
    {TFault::FrameNak, 8, 0},        {TFault::FrameAt, 1, 0x119},     {TFault::FrameAt, 1, 0},
    {TFault::FrameGarbage, 1, 2},    {TFault::FrameTabs, 1, 16},      {TFault::ReplyBadChecksum, 1, 0},
    {TFault::ReplyLowerCase, 1, 0},  {TFault::ReplyTabs, 1, 9},       {TFault::ReplyTabs, 1, 30},
    {TFault::ReplyGarbage, 1, 1},    {TFault::ReplyEot, 1, 0},        {TFault::ReplyShort, 1, 3},
    {TFault::ReplyLate, 1, 30},      {TFault::Reset, 1, 0},           {TFault::NoEot, 1, 0},
};

class TangoRobust : public TangoTest {
protected:
    void SetUp() override {
        TangoTest::SetUp();
        FastClock();
        OpenLink(m_link);
        TangoDevice::GoodsFields f;
        for (const char* code : {"1", "2", "3"}) {
            f.code = code;
            Dev().PutGoods(TangoDevice::MakeGoodsRecord(f));
        }
    }
    void TearDown() override {
        m_link.Close();
        TangoTest::TearDown();
    }
    // One request of the kind k; its result.
    int Request(int k) {
        std::string text;
        tango::Goods g;
        switch (k) {
        case 0: return m_link.ReadStatusText(text);
        case 1: return m_link.ReadPlu(CChrArr(std::string(17, ' ') + "2"), g);
        case 2: {
            g.code = "9";
            g.taxGroup = 3;
            return m_link.WritePlu(g);
        }
        default: return m_link.ReadAllPlu([](const tango::Goods&) {});
        }
    }
    CProtokolTango m_link;
};

TEST_F(TangoRobust, RandomFaultsEndCleanlyAndTheLineRecovers) {
    std::mt19937 rnd(20261210);
    for (int round = 0; round < 40; ++round) {
        const FaultCase& fc = kFaults[rnd() % std::size(kFaults)];
        const int kind = static_cast<int>(rnd() % 4);
        const bool pieces = rnd() % 2 == 0;
        SCOPED_TRACE("round " + std::to_string(round) + " fault " + std::to_string(static_cast<int>(fc.fault)) +
                     " request " + std::to_string(kind));
        Dev().SetSegmented(pieces);
        Dev().QueueFault(fc.fault, fc.count, fc.arg);
        const auto start = std::chrono::steady_clock::now();
        const int r = Request(kind);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(ms, 5000);
        if (r != 1) {
            EXPECT_NE(m_link.m_nError, 0);
        }
        // Whatever was left over goes; the next request must work.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Dev().ClearFaults();
        Dev().ResetLine();
        Dev().SetSegmented(false);
        EXPECT_EQ(Request(kind == 2 ? 0 : kind), 1) << m_link.m_nError;
    }
}

TEST_F(TangoRobust, BreakAtRandomMomentsIsAlwaysReportedAsABreak) {
    std::mt19937 rnd(4242);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        m_serial->ClearBreak();
        Dev().ClearFaults();
        Dev().ResetLine();
        Dev().SetSegmented(true);
        // A slow register, so the break lands inside the turn.
        Dev().QueueFault(TFault::ReplyLate, 1, 60);
        const int delay = static_cast<int>(rnd() % 50);
        BreakAfter(delay);
        const int r = Request(static_cast<int>(rnd() % 4));
        m_breaker.join();
        if (r != 1) {
            EXPECT_EQ(m_link.m_nError, -7);
        }
        EXPECT_FALSE(m_link.FailedForWantOfAnswer());
    }
}

}  // namespace
}  // namespace orv::test
