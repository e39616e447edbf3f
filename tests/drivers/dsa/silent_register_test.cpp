// A DSA register that stops answering in the middle of a job, through the
// exports: three items in a row without an answer end the job without the
// closing command, the rest are confirmed with the code without traffic;
// refusals and a single silence never stop it.
#include <algorithm>
#include <chrono>
#include <string>

#include "dsa_fixture.h"
#include "fakes/silent_device.h"
#include "orvanta/ecr.h"

namespace orv::test {
namespace {

constexpr int kTimeoutMs = 200;   // the register's 5 s time-out at this scale

class DsaSilentTest : public DsaTest {
protected:
    void SetUp() override {
        DsaTest::SetUp();
        orv::platform::SetTimeScale(kTimeoutMs / 5000.0);
        ASSERT_EQ(EcrCreate(nullptr), 1);
        for (uint32_t i = 1; i <= kSilentJobItems; ++i) {
            const std::string code = "59000000000" + DsaEmulator::Num(i, 2);
            items.push_back(HostItemRecord({.number = i, .name = "Towar", .code = "", .price = 1.5, .dept = 1}));
            std::copy(code.begin(), code.end(), items.back().code);
        }
    }

    // Type 37 (the DSA 100 with the closing command "4066" after goods).
    int Program() {
        const EcrDeviceRecord dev = DeviceRecord(37, kDsaPort, 9600);
        EXPECT_EQ(EcrPgmPLU(&dev, items.data(), kSilentJobItems, &RecordingHost::OnItemProgram), 1);
        EXPECT_TRUE(WaitEcrDone(60000));
        return EcrError();
    }

    // Request frames on the line (each begins with STX), answered or not.
    size_t Frames() const {
        const Bytes got = m_emu->Received();
        return static_cast<size_t>(std::count(got.begin(), got.end(), uint8_t{0x02}));
    }

    std::vector<EcrItemRecord> items;
    std::chrono::steady_clock::time_point since;
};

TEST_F(DsaSilentTest, SilenceFromItemFourEndsTheJobAfterThreeItems) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        emu.SetSilent(true);
    });
    EXPECT_EQ(Program(), -5);
    const int64_t ms = MsSince(since);
    ExpectGoneFrom(4, -5, ConfirmedItems());
    // Items 1-3 as new ("4059"); item 4 as new, item 5 read back and as a
    // change, item 6 as new again: no answer to any, and nothing after them,
    // not even the closing command.
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4059", "4059", "4059"}));
    EXPECT_EQ(Frames(), 7u);
    EXPECT_GE(ms, 3 * kTimeoutMs);
    EXPECT_LT(ms, 8 * kTimeoutMs);
}

TEST_F(DsaSilentTest, ALineThatGoesAwayEndsTheJobAfterThreeItems) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        emu.Disconnect();
    });
    EXPECT_EQ(Program(), -6);   // line lost
    ExpectGoneFrom(4, -6, ConfirmedItems());
    EXPECT_LT(MsSince(since), 8 * kTimeoutMs);
}

TEST_F(DsaSilentTest, RefusalsAndASingleSilenceNeverStopTheJob) {
    // Items 2 and 3 refused ("Brak taśmy paragonowej"): item 2 as new, item 3
    // (read back first) as a change.
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    AtItem(2, [&] {
        emu.QueueErr("4059", 1);
        emu.QueueErr("4002", 1);
    });
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{2, 1001}, {3, 1001}});
    EXPECT_EQ(emu.PluCount(), 18u);
    EXPECT_EQ(emu.Commands().back(), "4066");

    // One item between good ones gets no acknowledgement.
    StopDevice();
    DsaEmulator& emu2 = StartDevice(DsaModel::Dsa100M1);
    AtItem(10, [&] { emu2.QueueFrameFault(DsaEmulator::FrameFault::NoAck); });
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{10, -5}});
    EXPECT_EQ(emu2.Commands().back(), "4066");
}

}  // namespace
}  // namespace orv::test
