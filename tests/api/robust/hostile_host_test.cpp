// Hosts that misbehave: a C++ host whose callbacks throw, a host that polls
// EcrError and EcrErrMsg from another thread while the job runs, and one
// that calls EcrDelete from a second thread while jobs are being set up.
// (The two threaded cases are meant for the ThreadSanitizer build too.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/registry.h"
#include "fakes/fake_logic.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/elzab/elzab_emulator.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

const char* const kSystemText = PL("System kas fiskalnych - błąd systemu !");

struct HostThrow {};   // what the host's callbacks throw

void ECR_CALL ThrowingVat(const double*) { throw HostThrow{}; }
void ECR_CALL ThrowingItemRead(const EcrItemRecord*) { throw HostThrow{}; }
void ECR_CALL ThrowingItemProgram(const EcrItemRecord*, int, const char*) { throw HostThrow{}; }

// An Elzab register on port 1, driven through the exports.
class ThrowingCallbacks : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EcrCreate(nullptr); }
    void SetUp() override {
        ASSERT_TRUE(WaitEcrDone(10000));
        Host().Reset();
        reg = std::make_unique<ElzabEmulator>(1, 13);   // rates 23, 8, 5, 0
        reg->AddPlu(1, "Chleb", 1, 1, 3.5);
        reg->Start();
        device = DeviceRecord(27, 1, 9600, 0);
    }
    void TearDown() override {
        if (!EcrIsDone()) {
            EcrBreakJob();
            WaitEcrDone(10000);
        }
        Host().Reset();
        reg->Stop();
    }

    std::unique_ptr<ElzabEmulator> reg;
    EcrDeviceRecord device{};
};

// Whichever callback throws, at whichever point of the job: the job ends as
// failed with 999999 and the system text (never 0), the device is closed,
// and the next job on the same port runs and reads the register's rates.
TEST_F(ThrowingCallbacks, AThrowingCallbackFailsTheJobWith999999AndFreesThePort) {
    EcrItemRecord refused = HostItemRecord({.number = 2, .name = "B", .price = 1.0, .dept = 1, .unit = 1});
    refused.vat_rate = 7.0;   // not a rate of this register: refused, confirmed to the host
    EcrItemRecord good = HostItemRecord({.number = 3, .name = "C", .price = 1.0, .vat = 1, .dept = 1, .unit = 1});
    const struct {
        const char* what;
        int throwAtEvent;   // 0: the job's own callback throws
        std::function<int()> start;
    } cases[] = {
        {"event 1", ECR_EVENT_OPENING, [&] { return EcrReadVAT(&device, RecordingHost::OnVat); }},
        {"event 2", ECR_EVENT_TITLE, [&] { return EcrReadVAT(&device, RecordingHost::OnVat); }},
        {"event 4", ECR_EVENT_WAIT, [&] { return EcrReadVAT(&device, RecordingHost::OnVat); }},
        {"event 10", ECR_EVENT_SUCCEEDED, [&] { return EcrReadVAT(&device, RecordingHost::OnVat); }},
        {"event 11", ECR_EVENT_CLOSED, [&] { return EcrReadVAT(&device, RecordingHost::OnVat); }},
        {"event 5", ECR_EVENT_ITEM, [&] { return EcrPgmPLU(&device, &good, 1, RecordingHost::OnItemProgram); }},
        // Job 10 has no device work and always fails.
        {"event 7", ECR_EVENT_FAILED, [&] { return EcrReadDEPT(&device, nullptr, 0, RecordingHost::OnDeptRead); }},
        {"the VAT callback", 0, [&] { return EcrReadVAT(&device, ThrowingVat); }},
        {"the item read callback", 0, [&] { return EcrReadAllPLU(&device, ThrowingItemRead); }},
        {"the item program callback", 0, [&] { return EcrPgmPLU(&device, &refused, 1, ThrowingItemProgram); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host().Reset();
        std::atomic<bool> thrown{false};
        if (c.throwAtEvent != 0) {
            const int target = c.throwAtEvent;
            Host().SetEventHook([target, &thrown](const HostEvent& e) {
                if (e.code == target && !thrown.exchange(true)) throw HostThrow{};
            });
        }
        const int started = c.start();
        ASSERT_TRUE(WaitEcrDone(10000));
        Host().SetEventHook(nullptr);
        if (c.throwAtEvent != 0) {
            EXPECT_TRUE(thrown.load());
        }
        EXPECT_EQ(EcrError(), 999999);
        EXPECT_STREQ(EcrErrMsg(), kSystemText);
        const std::vector<int> codes = Host().EventCodes();
        ASSERT_FALSE(codes.empty());
        if (started) {
            // Ended and closed; a job that had not yet reported is reported failed.
            EXPECT_EQ(codes.back(), ECR_EVENT_CLOSED);
            if (c.throwAtEvent != ECR_EVENT_SUCCEEDED && c.throwAtEvent != ECR_EVENT_CLOSED &&
                c.throwAtEvent != ECR_EVENT_FAILED) {
                EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
                const auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
                ASSERT_EQ(failed.size(), 1u);
                EXPECT_EQ(failed[0].value, 999999);
            }
        } else {
            EXPECT_EQ(c.throwAtEvent, ECR_EVENT_OPENING);
            EXPECT_EQ(codes.back(), ECR_EVENT_SYSTEM_ERROR);
        }
        // A throw before the device work leaves the register alone.
        if (c.throwAtEvent == ECR_EVENT_OPENING || c.throwAtEvent == ECR_EVENT_TITLE ||
            c.throwAtEvent == ECR_EVENT_WAIT) {
            EXPECT_TRUE(Host().VatCalls().empty());
        }

        // The port is free again and the next job does its work.
        Host().Reset();
        ASSERT_EQ(EcrReadVAT(&device, RecordingHost::OnVat), 1);
        ASSERT_TRUE(WaitEcrDone(10000));
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        const auto vat = Host().VatCalls();
        ASSERT_EQ(vat.size(), 1u);
        EXPECT_EQ(vat[0][0], 23.0);
        EXPECT_EQ(vat[0][1], 8.0);
    }
}

// ---- host threads ----

class HostThreads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitEcrDone(10000));
        Host().Reset();
        api::SetTestLogic("CS6_ECR", &logic);
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(WaitEcrDone(10000));
        api::ClearTestLogics();
        Host().Reset();
    }

    CFakeLogic logic{"CS6_ECR"};
    EcrDeviceRecord device = DeviceRecord(27, 1, 9600, 0);
};

// A host loop polling EcrIsDone, EcrError and EcrErrMsg while the worker
// goes through items that each fail with a code and text of their own: the
// host sees the pair of the job's start or the job's outcome, whole, never
// an item's pair or a text torn between two of them.
TEST_F(HostThreads, PollingTheErrorWhileTheJobRunsGivesWholePublishedPairs) {
    constexpr int kItems = 400;
    std::vector<EcrItemRecord> items(kItems);
    for (int i = 0; i < kItems; ++i) {
        items[i] = HostItemRecord({.number = static_cast<uint32_t>(i + 1), .name = "X"});
        // Texts of different lengths, so that a torn read shows.
        logic.itemFailures[i] = {0, 1000 + i, std::string(static_cast<size_t>(1 + i % 60), static_cast<char>('a' + i % 26)),
                                 0};
    }
    const int finalCode = 1000 + kItems - 1;
    const std::string finalText = logic.itemFailures[kItems - 1].text;

    for (int round = 0; round < 3; ++round) {
        Host().Reset();
        // The worker pauses now and then, so that the host's loop gets in.
        int events = 0;
        Host().SetEventHook([&events](const HostEvent& e) {
            if (e.code == ECR_EVENT_ITEM && ++events % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_EQ(EcrPgmPLU(&device, items.data(), kItems, RecordingHost::OnItemProgram), 1);
        int polls = 0;
        bool finalSeen = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            const bool done = EcrIsDone() == 1;
            const int code = EcrError();
            const std::string text = EcrErrMsg();
            ++polls;
            // The start's pair or the outcome's, whole; once the outcome is
            // published it stays.
            ASSERT_TRUE(code == 0 || code == finalCode) << code;
            ASSERT_TRUE(text.empty() || text == finalText) << "'" << text << "'";
            if (finalSeen) {
                ASSERT_EQ(code, finalCode);
            }
            if (code == finalCode) {
                ASSERT_EQ(text, finalText);
                finalSeen = true;
            } else {
                ASSERT_EQ(text, "");
            }
            if (done) break;
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        }
        EXPECT_GT(polls, 1);
        EXPECT_EQ(EcrError(), finalCode);
        EXPECT_EQ(std::string(EcrErrMsg()), finalText);
        EXPECT_EQ(Host().Confirmations().size(), static_cast<size_t>(kItems));
    }
}

// EcrDelete, EcrError and EcrErrMsg from a second thread while the host's
// thread sets up and runs jobs one after another.
TEST_F(HostThreads, ManagementExportsFromASecondThreadNeverRaceAJobsSetUp) {
    std::atomic<bool> stop{false};
    std::thread second([&] {
        while (!stop.load()) {
            EXPECT_EQ(EcrDelete(), 1);
            const int code = EcrError();
            const std::string text = EcrErrMsg();
            // A pair: the start's or the failed read's.
            EXPECT_TRUE((code == 0 && text.empty()) || (code == 25 && text == "Nie ma")) << code << " " << text;
        }
    });
    logic.readVat = {0, 25, "Nie ma", 0};
    api::SetTestLogic("CMPR_ECR", &logic);
    for (int i = 0; i < 300; ++i) {
        device.type = i % 2 ? 27 : 113;   // 113 makes EcrDelete act
        if (EcrReadVAT(&device, RecordingHost::OnVat) == 1) {
            ASSERT_TRUE(WaitEcrDone(10000));
        }
    }
    stop.store(true);
    second.join();
}

}  // namespace
}  // namespace orv::test
