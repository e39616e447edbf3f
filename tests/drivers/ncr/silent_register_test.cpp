// An NCR register that stops answering in the middle of a job, through the
// exports: three items in a row without an answer end the job, the rest are
// confirmed with the code without traffic; refusals and a single silence
// never stop it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes/recording_host.h"
#include "fakes/silent_device.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/ncr/ncr_emulator.h"

namespace orv::test {
namespace {

constexpr int kPort = 12;
constexpr int kTimeoutMs = 100;   // the register's 10 s read time-out at this scale

class NcrSilentTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(kTimeoutMs / 10000.0);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        for (uint32_t i = 1; i <= kSilentJobItems; ++i) {
            codes.push_back(std::to_string(1000 + i));
            items.push_back(HostItemRecord({.number = i, .name = "Towar", .code = codes.back().c_str(), .price = 2.5,
                                            .vat = 1, .dept = 1}));
        }
        reg.Start();
    }
    void TearDown() override {
        reg.Stop();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    int Program() {
        const EcrDeviceRecord dev = DeviceRecord(8, kPort, 9600);
        EXPECT_EQ(EcrPgmPLU(&dev, items.data(), kSilentJobItems, &RecordingHost::OnItemProgram), 1);
        EXPECT_TRUE(WaitEcrDone(60000));
        return EcrError();
    }

    NcrEmulator reg{kPort};
    std::vector<std::string> codes;
    std::vector<EcrItemRecord> items;
    std::chrono::steady_clock::time_point since;
};

TEST_F(NcrSilentTest, SilenceFromItemFourEndsTheJobAfterThreeItems) {
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        reg.SetSilent(true);
    });
    EXPECT_EQ(Program(), -5);
    const int64_t ms = MsSince(since);
    ExpectGoneFrom(4, -5, ConfirmedItems());
    EXPECT_EQ(reg.Goods().size(), 3u);
    // Items 4-6 each send DLE and poll 20 times, then their command.
    const Bytes got = reg.Received();
    EXPECT_EQ(std::count(got.begin(), got.end(), 0x10), 6);
    EXPECT_LT(ms, 30 * kTimeoutMs);
}

TEST_F(NcrSilentTest, RefusalsAndASingleSilenceNeverStopTheJob) {
    AtItems({{2, [&] { reg.InjectReply("0;*2;+4;*G;+1;*3", "B80"); }},
             {3, [&] { reg.InjectReply("0;*2;+4;*G;+1;*3", "B80"); }},
             {10, [&] { reg.SetSilent(true); }},
             {11, [&] { reg.SetSilent(false); }}});
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{2, 999}, {3, 999}, {10, -5}});
    EXPECT_EQ(reg.Goods().size(), 17u);
}

}  // namespace
}  // namespace orv::test
