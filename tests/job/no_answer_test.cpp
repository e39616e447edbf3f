// The item loop and a device that stops answering: three items in a row that
// fail for want of an answer end the loop, the items not reached are
// accounted for without device work, and the job fails with the last code.
// Refusals and single silences never stop the loop.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "comm/socket.h"
#include "comm/telepathy.h"
#include "fakes/fake_logic.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"

using orv::test::CFakeLogic;
using orv::test::DeviceRecord;
using orv::test::Host;
using orv::test::PrepareJobBlock;
using orv::test::RunJob;
using orv::test::SlotScript;

namespace {

constexpr int kPort = 3;
constexpr int kCount = 20;

class NoAnswer : public ::testing::Test {
protected:
    void SetUp() override {
        Host().Reset();
        PrepareJobBlock(0, DeviceRecord(1, kPort));
        for (int i = 0; i < kCount; ++i) {
            items[i].number = 100 + static_cast<uint32_t>(i);
            depts[i].number = 200 + static_cast<uint32_t>(i);
        }
        g_jobBlock.items = items;
        g_jobBlock.depts = depts;
        g_jobBlock.count = kCount;
    }
    void TearDown() override { Host().Reset(); }

    bool Run(uint32_t job) { return RunJob(logic, job, &serial, &socket); }

    // item index (from 0) -> the code it fails with
    void Fail(const std::map<int, int>& failures) {
        logic.itemFailures.clear();
        for (const auto& [index, code] : failures)
            logic.itemFailures[index] = SlotScript{0, code, "E" + std::to_string(code)};
    }

    // One case of a table: a fresh job of `job` whose items fail so, for a
    // class whose own "no answer" code is familyCode.
    void RunCase(uint32_t job, int familyCode, const std::map<int, int>& failures) {
        SetUp();
        logic.ClearCalls();
        logic.noAnswerCode = familyCode;
        Fail(failures);
        ASSERT_TRUE(Run(job));
    }

    std::vector<int> Tried(int from, int to) {
        std::vector<int> v;
        for (int i = from; i < to; ++i) v.push_back(i);
        return v;
    }

    CTelepathy serial;
    CTelepathySocket socket;
    CFakeLogic logic;
    EcrItemRecord items[kCount]{};
    EcrDeptRecord depts[kCount]{};
};

TEST_F(NoAnswer, ThreeSilentItemsInARowEndTheLoopAndTheRestIsAccountedFor) {
    struct Case {
        const char* name;
        int familyCode;
        std::map<int, int> failures;
        int lastTried;   // index of the last item handed to the device
        int code;        // the job's code, and that of every item not reached
    };
    const Case cases[] = {
        {"time-outs", 0, {{3, -5}, {4, -5}, {5, -5}}, 5, -5},
        {"line lost", 0, {{3, -6}, {4, -6}, {5, -6}}, 5, -6},
        {"the family's own code", 100, {{3, 100}, {4, 100}, {5, 100}}, 5, 100},
        {"mixed no-answer codes", 100, {{3, -5}, {4, 100}, {5, -6}}, 5, -6},
        {"after an isolated silence and a refusal", 0, {{1, -5}, {2, 40}, {7, -5}, {8, -8}, {9, -1}}, 9, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunCase(5, c.familyCode, c.failures);

        EXPECT_EQ(logic.ItemsTried(), Tried(0, c.lastTried + 1));
        // Every item gets its progress, up to 100 %.
        auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
        ASSERT_EQ(progress.size(), static_cast<size_t>(kCount));
        EXPECT_EQ(progress.back().percent, 100);
        EXPECT_EQ(progress.back().text, "#119");
        // Each failed item is confirmed with its own code, each item not
        // reached with the code that ended the loop.
        auto confirms = Host().Confirmations();
        size_t k = 0;
        for (const auto& [index, code] : c.failures) {
            ASSERT_LT(k, confirms.size());
            EXPECT_EQ(confirms[k].number, 100u + static_cast<uint32_t>(index));
            EXPECT_EQ(confirms[k].code, code);
            ++k;
        }
        ASSERT_EQ(confirms.size(), k + static_cast<size_t>(kCount - 1 - c.lastTried));
        for (int i = c.lastTried + 1; i < kCount; ++i, ++k) {
            EXPECT_EQ(confirms[k].number, 100u + static_cast<uint32_t>(i));
            EXPECT_EQ(confirms[k].code, c.code);
            EXPECT_EQ(confirms[k].text, "E" + std::to_string(c.code));
        }
        EXPECT_EQ(logic.GetErrorCode(), c.code);
        auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].value, c.code);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
        EXPECT_TRUE(logic.DeviceGone());
    }
}

TEST_F(NoAnswer, RefusalsAndShortSilencesNeverStopTheLoop) {
    struct Case {
        const char* name;
        int familyCode;
        std::map<int, int> failures;
    };
    const Case cases[] = {
        {"refusals in a row", 0, {{1, 40}, {2, 41}, {3, 42}, {4, 43}, {5, 9999}}},
        {"two silences, a refusal, two silences", 0, {{1, -5}, {2, -5}, {3, 40}, {4, -5}, {5, -5}}},
        {"two silences, an accepted item, two silences", 0, {{1, -5}, {2, -6}, {4, -5}, {5, -5}}},
        {"a code another family calls silence", 0, {{1, 100}, {2, 100}, {3, 100}, {4, 100}}},
        {"one silent item between good ones", 100, {{9, 100}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunCase(5, c.familyCode, c.failures);
        EXPECT_EQ(logic.ItemsTried(), Tried(0, kCount));
        EXPECT_EQ(Host().Confirmations().size(), c.failures.size());
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);   // the last item went through
        EXPECT_FALSE(logic.DeviceGone());
    }
}

TEST_F(NoAnswer, ABreakWhileTheRestIsAccountedForStopsTheConfirmations) {
    Fail({{0, -5}, {1, -5}, {2, -5}});
    // The host breaks the job off at the progress of the 8th item.
    Host().SetEventHook([this](const orv::test::HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.text == "#207") logic.Break();
    });
    ASSERT_TRUE(Run(11));   // departments: the same loop
    EXPECT_EQ(logic.ItemsTried(), Tried(0, 3));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 8u);   // the three silent ones and items 4 to 8
    EXPECT_EQ(confirms.back().number, 207u);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).size(), 8u);
    EXPECT_EQ(logic.GetErrorCode(), -7);
    auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, -7);
}

TEST_F(NoAnswer, TheLastThreeItemsSilentEndTheJobWithTheirCode) {
    Fail({{17, -5}, {18, -5}, {19, -5}});
    ASSERT_TRUE(Run(7));
    EXPECT_EQ(logic.ItemsTried(), Tried(0, kCount));
    EXPECT_EQ(Host().Confirmations().size(), 3u);
    EXPECT_EQ(logic.GetErrorCode(), -5);
    EXPECT_TRUE(logic.DeviceGone());   // a closing command would not be sent either

    // The next job starts afresh.
    RunCase(7, 0, {});
    EXPECT_FALSE(logic.DeviceGone());
    EXPECT_EQ(logic.GetErrorCode(), 0);
}

}  // namespace
