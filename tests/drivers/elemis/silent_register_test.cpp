// An Elemis register that stops answering in the middle of a job, through
// the exports: three items in a row without an answer end the job, the rest
// are confirmed with the code without traffic; refusals and a single silence
// never stop it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "fakes/recording_host.h"
#include "fakes/silent_device.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/elemis/elemis_emulator.h"

namespace orv::test {
namespace {

constexpr int kPort = 13;
constexpr int kTimeoutMs = 100;   // the register's 10 s read time-out at this scale

class ElemisSilentTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(kTimeoutMs / 10000.0);
        unsetenv("ECR_ELEMIS_LINK");
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        for (uint32_t i = 1; i <= kSilentJobItems; ++i)
            items.push_back(HostItemRecord({.number = i, .name = "Towar", .code = "", .price = 2.5, .vat = 0, .dept = 1}));
        reg.Start();
    }
    void TearDown() override {
        reg.Stop();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    int Program() {
        const EcrDeviceRecord dev = DeviceRecord(75, kPort, 9600);
        EXPECT_EQ(EcrPgmPLU(&dev, items.data(), kSilentJobItems, &RecordingHost::OnItemProgram), 1);
        EXPECT_TRUE(WaitEcrDone(60000));
        return EcrError();
    }

    ElemisEmulator reg{kPort};
    std::vector<EcrItemRecord> items;
    std::chrono::steady_clock::time_point since;
};

TEST_F(ElemisSilentTest, SilenceFromItemFourEndsTheJobAfterThreeItems) {
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        reg.SetSilent(true);
    });
    EXPECT_EQ(Program(), -5);
    ExpectGoneFrom(4, -5, ConfirmedItems());
    EXPECT_EQ(reg.CountRequests(13), 3);
    // Items 4-6 each wait once for the poll's answer; then the link-close.
    EXPECT_LT(MsSince(since), 15 * kTimeoutMs);
}

TEST_F(ElemisSilentTest, RefusalsAndASingleSilenceNeverStopTheJob) {
    AtItems({{2, [&] { reg.Inject(13, ElemisEmulator::Answer::Status, 1); }},
             {3, [&] { reg.Inject(13, ElemisEmulator::Answer::Status, 1); }},
             {10, [&] { reg.SetSilent(true); }},
             {11, [&] { reg.SetSilent(false); }}});
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{2, 23}, {3, 23}, {10, -5}});
    EXPECT_EQ(reg.CountRequests(13), 19);
}

}  // namespace
}  // namespace orv::test
