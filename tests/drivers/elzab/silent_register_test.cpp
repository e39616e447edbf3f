// An Elzab register that stops answering in the middle of a job, through the
// exports: three items in a row without an answer end the job, the rest are
// confirmed with the code without traffic; refusals and a single silence
// never stop it.
#include "elzab_fixture.h"

#include <chrono>

#include "fakes/silent_device.h"

namespace orv::test {
namespace {

constexpr int kTimeoutMs = 250;   // the register's 5 s time-out at this scale

class ElzabSilentTest : public ElzabTest {
protected:
    void SetUp() override {
        ElzabTest::SetUp();
        orv::platform::SetTimeScale(kTimeoutMs / 5000.0);
        Register(27, 13);
        for (uint32_t i = 1; i <= kSilentJobItems; ++i) items.push_back(Item(i, "Towar", 1, 1, 1.0 + i));
    }

    // Commands ESC + cmd the register received (also those it left unanswered).
    size_t Sent(uint8_t cmd) const {
        const Bytes got = reg->Received();
        size_t n = 0;
        for (size_t i = 0; i + 1 < got.size(); ++i)
            if (got[i] == 0x1B && got[i + 1] == cmd) ++n;
        return n;
    }

    int Program() {
        return Run([&] { return EcrPgmPLU(&device, items.data(), kSilentJobItems, RecordingHost::OnItemProgram); });
    }

    std::vector<EcrItemRecord> items;
    std::chrono::steady_clock::time_point since;
};

TEST_F(ElzabSilentTest, SilenceFromItemFourEndsTheJobAfterThreeItems) {
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        reg->SetSilent(true);
    });
    EXPECT_EQ(Program(), 100);
    const int64_t ms = MsSince(since);
    ExpectGoneFrom(4, 100, ConfirmedItems());
    EXPECT_EQ(Sent(0xA9), 6u);   // items 1-6; nothing after the third silence
    for (const auto& c : Host().Confirmations()) EXPECT_EQ(c.text, Host().Confirmations()[0].text);
    EXPECT_EQ(Host().Confirmations().back().text, ErrMsg());
    EXPECT_FALSE(ErrMsg().empty());
    // Three answers waited for, and one wait for the overdue answer.
    EXPECT_GE(ms, 3 * kTimeoutMs);
    EXPECT_LT(ms, 8 * kTimeoutMs);
}

TEST_F(ElzabSilentTest, ALineThatGoesAwayEndsTheJobAfterThreeItems) {
    AtItem(4, [&] {
        since = std::chrono::steady_clock::now();
        reg->Disconnect();
    });
    EXPECT_EQ(Program(), -6);   // line lost
    ExpectGoneFrom(4, -6, ConfirmedItems());
    EXPECT_LT(MsSince(since), 8 * kTimeoutMs);
}

TEST_F(ElzabSilentTest, RefusalsAndShortSilencesNeverStopTheJob) {
    // Items 2 and 3 refused (105), the rest accepted.
    AtItem(2, [&] { reg->QueueStatus(0xA9, 0x05, 2); });
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{2, 105}, {3, 105}});
    EXPECT_EQ(reg->PluCount(), 18u);

    // Two silences, a refusal, two silences: the register answers in between.
    Host().Reset();
    reg->ClearPlus();
    AtItem(2, [&] {
        reg->QueueSilence(0xA9, 2);
        reg->QueueStatus(0xA9, 0x05);
        reg->QueueSilence(0xA9, 2);
    });
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{2, 100}, {3, 100}, {4, 105}, {5, 100}, {6, 100}});
    EXPECT_EQ(reg->PluCount(), 15u);

    // One silent item between good ones.
    Host().Reset();
    AtItem(10, [&] { reg->QueueSilence(0xA9); });
    EXPECT_EQ(Program(), 0);
    ExpectEveryItemTried({{10, 100}});
}

TEST_F(ElzabSilentTest, AListReadStopsAfterThreeSilentItems) {
    for (uint32_t i = 1; i <= kSilentJobItems; ++i) reg->AddPlu(i, "Towar", 1, 1, 1.0);
    AtItem(4, [&] { reg->SetSilent(true); });
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, items.data(), kSilentJobItems, RecordingHost::OnItemRead); }),
              100);
    ExpectProgressToTheEnd();
    EXPECT_EQ(Host().Items().size(), 3u);
    EXPECT_EQ(Sent(0xAC), 6u) << Hex(reg->Received());
    // Each item not read is reported with an event 6, as a failed read is.
    auto sixes = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(sixes.size(), 17u);
    for (const auto& e : sixes) EXPECT_EQ(e.value, 100);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
}

TEST_F(ElzabSilentTest, AWalkAsksASilentRegisterThreeTimesNotSix) {
    AtItem(1, [&] { reg->SetSilent(true); });
    EXPECT_EQ(Run([&] { return EcrReadAllPLU(&device, RecordingHost::OnItemRead); }), 100);
    EXPECT_EQ(Sent(0xAC), 3u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
}

}  // namespace
}  // namespace orv::test
