// An Elcom 50 register that stops answering in the middle of a job, through
// the exports: three items in a row without an answer end the job, the rest
// are confirmed with the code without traffic; refusals and a single silence
// never stop it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes/recording_host.h"
#include "fakes/silent_device.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/elcom50/elcom50_emulator.h"

namespace orv::test {
namespace {

constexpr int kPort = 6;
constexpr int kTimeoutMs = 200;   // the register's 5 s time-out at this scale

class Elcom50SilentTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(kTimeoutMs / 5000.0);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        for (uint32_t i = 1; i <= kSilentJobItems; ++i) {
            EcrItemRecord r = HostItemRecord({.number = i, .name = "Towar", .code = "590", .price = 2.5, .vat = 1});
            r.department = 1;
            items.push_back(r);
        }
        reg.Start();
    }
    void TearDown() override {
        reg.Stop();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }

    int Program() {
        const EcrDeviceRecord dev = DeviceRecord(16, kPort, 19200);
        EXPECT_EQ(EcrPgmPLU(&dev, items.data(), kSilentJobItems, &RecordingHost::OnItemProgram), 1);
        EXPECT_TRUE(WaitEcrDone(60000));
        return EcrError();
    }

    // Request lines with the command that went out, answered or not.
    size_t Sent(const std::string& command) const {
        const Bytes got = reg.Received();
        const std::string text(got.begin(), got.end());
        const std::string line = "\n" + command + "\t";
        size_t n = text.rfind(command + "\t", 0) == 0 ? 1 : 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
        return n;
    }

    Elcom50Emulator reg{kPort, 24};
    std::vector<EcrItemRecord> items;
    std::chrono::steady_clock::time_point since;
};

TEST_F(Elcom50SilentTest, SilenceFromItemFourEndsTheJobAfterThreeItems) {
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        reg.SetSilent(true);
    });
    EXPECT_EQ(Program(), -5);
    const int64_t ms = MsSince(since);
    ExpectGoneFrom(4, -5, ConfirmedItems());
    // Items 1-6 each open a connection, set the header and close it again;
    // items 1-3 also write their record. Nothing after the third silence.
    EXPECT_EQ(Sent("SETHEAD"), 6u);
    EXPECT_EQ(Sent("SETREC"), 3u);
    EXPECT_EQ(Sent("DISCONNECT"), 6u);
    // Three waits per silent item: CONNECT, SETHEAD, DISCONNECT.
    EXPECT_GE(ms, 9 * kTimeoutMs);
    EXPECT_LT(ms, 20 * kTimeoutMs);
}

TEST_F(Elcom50SilentTest, ALineThatGoesAwayEndsTheJobAfterThreeItems) {
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        reg.Disconnect();
    });
    EXPECT_EQ(Program(), -6);   // line lost
    ExpectGoneFrom(4, -6, ConfirmedItems());
    EXPECT_LT(MsSince(since), 20 * kTimeoutMs);
}

TEST_F(Elcom50SilentTest, RefusalsAndASingleSilenceNeverStopTheJob) {
    // Items 2 and 3 refused: the register is busy.
    reg.Inject({"SETREC", "PLU\t2", Elcom50Emulator::Answer::Status, "2147942409", 1});
    reg.Inject({"SETREC", "PLU\t3", Elcom50Emulator::Answer::Status, "2147942409", 1});
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{2, 24}, {3, 24}});
    EXPECT_EQ(reg.PluCount(), 18u);

    // One item between good ones is never answered.
    Host().Reset();
    reg.Inject({"SETREC", "PLU\t10", Elcom50Emulator::Answer::Silence, "", 1});
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{10, -5}});
}

}  // namespace
}  // namespace orv::test
