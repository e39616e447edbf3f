// The job framework end to end with a scripted logic class: events and
// titles, the open paths, the result rules, the job block's areas and
// callbacks, the item loop and the sale log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "job/job_block.h"
#include "job/job_framework_fixture.h"
#include "fakes/fake_logic.h"
#include "fakes/recording_host.h"
#include "util/cp1250.h"

using orv::test::CFakeLogic;
using orv::test::ConfirmKind;
using orv::test::DeviceRecord;
using orv::test::Host;
using orv::test::JobFramework;
using orv::test::kNoCalls;
using orv::test::kPort;
using orv::test::PrepareJobBlock;
using orv::test::RunJob;
using orv::test::SlotScript;
using orv::test::Utf8;

namespace {

using Codes = std::vector<int>;

TEST_F(JobFramework, SuccessfulJobSendsItsEventsInOrder) {
    ASSERT_TRUE(Run(15));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 10, 11}));
    auto events = Host().Events();
    EXPECT_EQ(events[0].text, "");
    EXPECT_EQ(events[1].text, PL("Odczyt danych o stawkach podatkowych"));
    EXPECT_EQ(events[2].text, PL("Proszę czekać..."));
    for (const auto& e : events) {
        EXPECT_EQ(e.percent, 0);
        EXPECT_EQ(e.value, 0);
    }
    EXPECT_EQ(logic.Calls(), (std::vector<std::string>{"Open(3,type=1)", "ReadVAT(3)", "Close(3)"}));
    EXPECT_EQ(logic.GetErrorCode(), 0);
    EXPECT_STREQ(logic.GetErrorMessage(), "");
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_EQ(Host().VatCalls()[0][0], 23.0);
    EXPECT_EQ(Host().VatCalls()[0][7], -3.0);
}

struct TitleCase {
    uint32_t job;
    uint32_t kind;
    const char* title;
    const char* slot;   // first characters of the slot call
};

TEST_F(JobFramework, EveryJobSendsItsTitleAndCallsItsSlot) {
    const TitleCase cases[] = {
        {1, 0, PL("Odczyt danych o sprzedaży"), "ReadSale(3)"},
        {2, 0, PL("Zerowanie liczników danych o sprzedaży"), "ClearSale(3)"},
        {3, 0, PL("Odczyt danych o towarach"), "ReadAllPLU(3)"},
        {4, 0, PL("Odczyt danych o towarach"), "ReadPLU(3,3)"},
        {5, 0, PL("Programowanie danych o towarach"), "PgmPLU(3,3,kind=0)"},
        {6, 1, PL("Aktualizacja danych o towarach"), "PgmPLU(3,3,kind=1)"},
        {18, 2, PL("Programowanie danych o towarach"), "PgmPLU(3,3,kind=2)"},
        {5, 1, PL("Aktualizacja danych o towarach"), "PgmPLU(3,3,kind=1)"},
        {7, 1, PL("Kasowanie danych o towarach"), "DelPLU(3,3)"},
        {9, 0, PL("Odczyt danych o działach (grupach) towarowych"), "ReadAllDEPT(3)"},
        {11, 0, PL("Programowanie danych o działach (grupach) towarach"), "PgmDEPT(3,3)"},
        {12, 0, PL("Odczyt danych o jednostkach miary"), "ReadAllUnit(3)"},
        {13, 0, PL("Programowanie danych o jednostkach miary"), "PgmUNIT(3,3)"},
        {14, 0, PL("Odczyt statusu i konfiguracji kasy"), "ReadStatus(3,"},
        {15, 0, PL("Odczyt danych o stawkach podatkowych"), "ReadVAT(3)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job);
        SetUp();
        logic.ClearCalls();
        g_jobBlock.items = items;
        g_jobBlock.depts = depts;
        g_jobBlock.units = units;
        g_jobBlock.count = 3;
        g_jobBlock.kind = c.kind;
        ASSERT_TRUE(Run(c.job));
        EXPECT_EQ(Host().EventCodes().front(), 1);
        ASSERT_EQ(Titles().size(), 1u);
        EXPECT_EQ(Utf8(Titles()[0]), Utf8(c.title));
        auto calls = logic.Calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[1].rfind(c.slot, 0), 0u) << calls[1];
        EXPECT_EQ(Host().EventCodes().back(), ECR_EVENT_CLOSED);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
    }
}

TEST_F(JobFramework, DeleteAllGoodsOpensAndClosesWithoutOtherWork) {
    ASSERT_TRUE(Run(8));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 10, 11}));
    EXPECT_EQ(logic.Calls(), (std::vector<std::string>{"Open(3,type=1)", "Close(3)"}));
    EXPECT_EQ(logic.GetErrorCode(), 0);
}

TEST_F(JobFramework, JobsWithoutWorkFailWithACodeTheHostCanSee) {
    for (uint32_t job : {10u, 16u, 17u, 0u, 19u, 1000u}) {
        SCOPED_TRACE(job);
        SetUp();
        logic.ClearCalls();
        ASSERT_TRUE(Run(job));
        EXPECT_EQ(Host().EventCodes(), (Codes{1, 7, 11}));
        EXPECT_EQ(logic.GetErrorCode(), 25);
        EXPECT_STREQ(logic.GetErrorMessage(), PL("Rozkaz niedostępny w tej wersji programu kasy"));
        auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
        EXPECT_EQ(failed[0].value, 25);
        EXPECT_EQ(failed[0].text, logic.GetErrorMessage());
        EXPECT_EQ(logic.Calls(), (std::vector<std::string>{"Open(3,type=1)", "Close(3)"}));
    }
}

struct OpenCase {
    int code;
    int openEvent;
};

TEST_F(JobFramework, OpenFailureSendsItsEventAndThenEightWithoutAWorker) {
    const OpenCase cases[] = {{-1, 8}, {-2, 8}, {-3, 8}, {-4, 8}, {-5, 6}, {-7, 6}, {5, 6}, {9999, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        SetUp();
        logic.ClearCalls();
        logic.open = SlotScript{0, c.code, "open failed"};
        EXPECT_FALSE(Run(15));
        EXPECT_EQ(Host().EventCodes(), (Codes{1, c.openEvent, 8}));
        for (const auto& e : Host().Events()) {
            if (e.code == 1) continue;
            EXPECT_EQ(e.value, c.code);
            EXPECT_EQ(e.text, "open failed");
        }
        EXPECT_EQ(logic.GetErrorCode(), c.code);
        EXPECT_FALSE(logic.IsConnected());
        EXPECT_EQ(logic.Calls(), (std::vector<std::string>{"Open(3,type=1)"}));   // no Close, no slot
        EXPECT_EQ(logic.IsRunning(), 0);
    }
}

TEST_F(JobFramework, OpenCountsOnlyExactlyOne) {
    logic.open = SlotScript{2, 0, ""};
    logic.Protocol().m_nError = 0;
    EXPECT_FALSE(Run(15));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 6, 8}));
    EXPECT_EQ(logic.Calls().size(), 1u);
    // A failure without a code is still reported as one.
    EXPECT_EQ(logic.GetErrorCode(), 999999);
    EXPECT_STREQ(logic.GetErrorMessage(), PL("System kas fiskalnych - błąd systemu !"));
}

TEST_F(JobFramework, OpenFailureWithoutACodeIgnoresAnEarlierJobsProtocolCode) {
    logic.readVat = SlotScript{0, 0, "", 77};   // an earlier job leaves 77 in the protocol
    ASSERT_TRUE(Run(15));
    ASSERT_EQ(logic.GetErrorCode(), 77);
    Host().Reset();
    logic.open = SlotScript{0, 0, ""};
    EXPECT_FALSE(Run(15));
    EXPECT_EQ(logic.GetErrorCode(), 999999);
    EXPECT_STREQ(logic.GetErrorMessage(), PL("System kas fiskalnych - błąd systemu !"));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 6, 8}));
}

TEST_F(JobFramework, OpenFailureWithoutACodeTakesTheProtocolsCode) {
    logic.open = SlotScript{0, 0, "", -3};
    logic.errorTexts[-3] = "port not open";
    EXPECT_FALSE(Run(15));
    EXPECT_EQ(logic.GetErrorCode(), -3);
    EXPECT_STREQ(logic.GetErrorMessage(), "port not open");
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 8, 8}));
}

TEST_F(JobFramework, EventsSentThroughTheSocketReachTheJobsCallback) {
    class OverTcp : public CFakeLogic {
    public:
        int ReadAllPLU(int, EcrItemReadCallback) override {
            GetSocket()->Notify(ECR_EVENT_ITEM, "over tcp", 50, 0);
            return 1;
        }
    } tcp;
    ASSERT_TRUE(RunJob(tcp, 3, &serial, &socket));
    auto items = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "over tcp");
    EXPECT_EQ(items[0].percent, 50);
}

TEST_F(JobFramework, WithoutASerialObjectTheJobIsRefusedWithASystemError) {
    EXPECT_FALSE(RunJob(logic, 15, nullptr, &socket));
    EXPECT_EQ(logic.GetErrorCode(), 999999);
    EXPECT_STREQ(logic.GetErrorMessage(), PL("System kas fiskalnych - błąd systemu !"));
    EXPECT_TRUE(logic.Calls().empty());
    EXPECT_TRUE(Host().Events().empty());   // no event sink without the serial object
}

TEST_F(JobFramework, FailedStatusOrVatReadCallsNoCallback) {
    for (uint32_t job : {14u, 15u}) {
        SCOPED_TRACE(job);
        SetUp();
        logic.readVat = SlotScript{0, 7, "no rates"};
        logic.readStatus = SlotScript{0, 7, "no rates"};
        ASSERT_TRUE(Run(job));
        EXPECT_EQ(Host().ReadCallbackCount(), 0);
        EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 7, 11}));
        auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
        EXPECT_EQ(failed[0].value, 7);
        EXPECT_EQ(failed[0].text, "no rates");
        EXPECT_EQ(logic.GetErrorCode(), 7);
    }
}

TEST_F(JobFramework, StatusReadGetsAZeroedAreaAndUndefinedRates) {
    std::memset(&g_jobBlock.status, 0x5A, sizeof g_jobBlock.status);
    for (double& r : g_jobBlock.vat.rate) r = 1.0;
    std::strcpy(logic.status.device_text, "ECR 1");
    logic.writeVatInStatus = false;   // a device that reports no rates
    ASSERT_TRUE(Run(14));
    ASSERT_EQ(logic.Calls()[1], "ReadStatus(3,zeroed=1,vat=1)");
    auto calls = Host().StatusCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_STREQ(calls[0].status.device_text, "ECR 1");
    for (double r : calls[0].vat) EXPECT_EQ(r, -3.0);
}

TEST_F(JobFramework, VatReadStartsFromUndefinedRates) {
    // A device that writes only the first rate leaves -3.0 in the others.
    class OneRate : public CFakeLogic {
    public:
        int ReadVAT(int, double vat[8]) override {
            for (int i = 0; i < 8; ++i) seen[i] = vat[i];
            vat[0] = 23.0;
            return 1;
        }
        double seen[8] = {};
    } one;
    for (double& r : g_jobBlock.vat.rate) r = 1.0;
    ASSERT_TRUE(RunJob(one, 15, &serial, &socket));
    for (double r : one.seen) EXPECT_EQ(r, -3.0);
    auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    EXPECT_EQ(vat[0][0], 23.0);
    EXPECT_EQ(vat[0][1], -3.0);
}

TEST_F(JobFramework, FailedSlotWithoutACodeTakesTheProtocolsCodeAndText) {
    logic.readAllDept = SlotScript{0, 0, "", 5};
    logic.errorTexts[5] = "device said no";
    ASSERT_TRUE(Run(9));
    EXPECT_EQ(logic.GetErrorCode(), 5);
    EXPECT_STREQ(logic.GetErrorMessage(), "device said no");
    auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, 5);
    EXPECT_EQ(failed[0].text, "device said no");
}

TEST_F(JobFramework, StaleProtocolCodeFromAnEarlierJobIsNotTaken) {
    logic.Protocol().m_nError = 77;       // left by an earlier job
    logic.readAllDept = SlotScript{0, 0, ""};
    ASSERT_TRUE(Run(9));
    EXPECT_EQ(logic.GetErrorCode(), 25);
    EXPECT_STREQ(logic.GetErrorMessage(), PL("Rozkaz niedostępny w tej wersji programu kasy"));
}

TEST_F(JobFramework, SlotReturningNeitherZeroNorOneFails) {
    logic.readAllPlu = SlotScript{2, 0, ""};
    ASSERT_TRUE(Run(3));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 7, 11}));
    EXPECT_NE(logic.GetErrorCode(), 0);
}

TEST_F(JobFramework, NullArraysFailTheJobWithoutReadingThem) {
    struct Case {
        uint32_t job;
        const char* slot;
    } cases[] = {{4, "ReadPLU"}, {5, "PgmPLU"}, {6, "PgmPLU"}, {7, "DelPLU"},
                 {18, "PgmPLU"}, {11, "PgmDEPT"}, {13, "PgmUNIT"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job);
        SetUp();
        logic.ClearCalls();
        g_jobBlock.count = 3;
        ASSERT_TRUE(Run(c.job));
        EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 7, 11}));
        EXPECT_EQ(logic.GetErrorCode(), -1);
        EXPECT_STREQ(logic.GetErrorMessage(), PL("Niewłaściwe parametry zadania"));
        for (const auto& call : logic.Calls()) EXPECT_EQ(call.find(c.slot), std::string::npos) << call;
        EXPECT_TRUE(Host().Confirmations().empty());
    }
}

TEST_F(JobFramework, NegativeCountIsRefusedLikeAMissingArray) {
    g_jobBlock.items = items;
    g_jobBlock.count = static_cast<uint32_t>(-2);
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(logic.GetErrorCode(), -1);
    EXPECT_EQ(logic.Calls().size(), 2u);   // Open and Close only
}

TEST_F(JobFramework, NullHostCallbacksAreEmptyFunctions) {
    g_jobBlock = EcrJobBlock{};
    g_jobBlock.device = DeviceRecord(1, kPort);
    g_jobBlock.device.progress = nullptr;
    logic.plus.resize(2);
    logic.depts.resize(2);
    logic.units.resize(1);
    logic.sales.resize(1);
    logic.itemFailures[0] = SlotScript{0, 8, "refused"};
    g_jobBlock.items = items;
    g_jobBlock.depts = depts;
    g_jobBlock.units = units;
    g_jobBlock.count = 2;
    for (uint32_t job : {1u, 2u, 3u, 4u, 5u, 9u, 11u, 12u, 13u, 14u, 15u}) {
        SCOPED_TRACE(job);
        ASSERT_TRUE(Run(job));
    }
    EXPECT_TRUE(Host().Events().empty());
}

TEST_F(JobFramework, ReadRecordsReachTheReadCallbacks) {
    logic.plus.resize(2);
    logic.plus[0].number = 1;
    logic.plus[1].number = 2;
    logic.depts.resize(1);
    logic.depts[0].number = 4;
    logic.units.resize(1);
    logic.units[0].number = 5;
    logic.sales.resize(1);
    logic.sales[0].second.plu = 6;
    ASSERT_TRUE(Run(3));
    ASSERT_TRUE(Run(9));
    ASSERT_TRUE(Run(12));
    ASSERT_TRUE(Run(1));
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_EQ(Host().Items()[1].number, 2u);
    ASSERT_EQ(Host().Depts().size(), 1u);
    EXPECT_EQ(Host().Depts()[0].number, 4u);
    ASSERT_EQ(Host().Units().size(), 1u);
    EXPECT_EQ(Host().Units()[0].number, 5u);
    ASSERT_EQ(Host().Sales().size(), 1u);
    EXPECT_EQ(Host().Sales()[0].sale.plu, 6u);
}

TEST_F(JobFramework, ConfirmationTextIsCutTo63Characters) {
    const std::string longText(100, 'x');
    g_jobBlock.items = items;
    g_jobBlock.depts = depts;
    g_jobBlock.units = units;
    g_jobBlock.count = 1;
    logic.itemFailures[0] = SlotScript{0, 12, longText};
    ASSERT_TRUE(Run(5));
    ASSERT_TRUE(Run(11));
    ASSERT_TRUE(Run(13));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 3u);
    EXPECT_EQ(confirms[0].kind, ConfirmKind::Item);
    EXPECT_EQ(confirms[1].kind, ConfirmKind::Dept);
    EXPECT_EQ(confirms[2].kind, ConfirmKind::Unit);
    for (const auto& c : confirms) {
        EXPECT_EQ(c.code, 12);
        EXPECT_EQ(c.text, std::string(63, 'x'));
    }
}

TEST_F(JobFramework, ErrorTextKeepsItsBufferAcrossJobs) {
    const char* before = logic.GetErrorMessage();
    logic.readAllPlu = SlotScript{0, 3, std::string(2000, 'e')};
    ASSERT_TRUE(Run(3));
    EXPECT_EQ(logic.GetErrorMessage(), before);
    EXPECT_EQ(std::strlen(logic.GetErrorMessage()), 511u);
}

TEST_F(JobFramework, ExceptionInASlotEndsTheJobAsAFailureAndClosesTheDevice) {
    logic.throwInSlot = true;
    ASSERT_TRUE(Run(3));
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 7, 11}));
    EXPECT_EQ(logic.GetErrorCode(), 999999);
    EXPECT_EQ(logic.Calls().back(), "Close(3)");
    EXPECT_EQ(logic.IsRunning(), 0);
}

// ---- the item loop ----

class ItemLoop : public JobFramework {
protected:
    void SetUp() override {
        JobFramework::SetUp();
        g_jobBlock.items = items;
        g_jobBlock.count = 3;
    }
    std::vector<int> Percents() {
        std::vector<int> p;
        for (const auto& e : Host().EventsWithCode(ECR_EVENT_ITEM)) p.push_back(e.percent);
        return p;
    }
};

TEST_F(ItemLoop, EachItemSendsItsProgress) {
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(Percents(), (std::vector<int>{33, 66, 100}));
    auto ev = Host().EventsWithCode(ECR_EVENT_ITEM);
    EXPECT_EQ(ev[0].text, "#10");
    EXPECT_EQ(ev[2].text, "#12");
    EXPECT_TRUE(Host().Confirmations().empty());   // only failures are confirmed
    EXPECT_EQ(Host().EventCodes(), (Codes{1, 2, 4, 5, 5, 5, 10, 11}));
}

TEST_F(ItemLoop, CountZeroCountsAsOne) {
    g_jobBlock.count = 0;
    ASSERT_TRUE(Run(7));
    EXPECT_EQ(Percents(), (std::vector<int>{100}));
}

TEST_F(ItemLoop, PercentagesForSevenItems) {
    EcrItemRecord seven[7]{};
    g_jobBlock.items = seven;
    g_jobBlock.count = 7;
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(Percents(), (std::vector<int>{14, 28, 42, 57, 71, 85, 100}));
}

TEST_F(ItemLoop, FailedItemIsConfirmedAndTheLastItemDecides) {
    logic.itemFailures[1] = SlotScript{0, 40, "bad item"};
    ASSERT_TRUE(Run(5));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].number, 11u);
    EXPECT_EQ(confirms[0].code, 40);
    EXPECT_EQ(confirms[0].text, "bad item");
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);   // the last item went through
    EXPECT_EQ(logic.GetErrorCode(), 0);

    SetUp();
    logic.itemFailures.clear();
    logic.itemFailures[2] = SlotScript{0, 41, "last bad"};
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    EXPECT_EQ(logic.GetErrorCode(), 41);
}

TEST_F(ItemLoop, FailedItemWithoutACodeGetsOne) {
    logic.itemFailures[0] = SlotScript{0, 0, ""};
    ASSERT_TRUE(Run(7));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_NE(confirms[0].code, 0);
    EXPECT_FALSE(confirms[0].text.empty());
}

TEST_F(ItemLoop, FirstFailureNotOnTheLastItemSendsEventSixWhenAsked) {
    logic.loopOptions.event6OnFirstFailure = true;
    logic.itemFailures[0] = SlotScript{0, 50, "first"};
    logic.itemFailures[1] = SlotScript{0, 51, "second"};
    ASSERT_TRUE(Run(5));
    auto six = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].value, 50);
    EXPECT_EQ(six[0].text, "first");
    EXPECT_EQ(Host().Confirmations().size(), 2u);

    // Without the option no event 6; a failure on the last item alone neither.
    SetUp();
    logic.itemFailures.clear();
    logic.itemFailures[2] = SlotScript{0, 52, "last"};
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    logic.loopOptions.event6OnFirstFailure = false;
}

TEST_F(ItemLoop, BreakEndsTheLoopAtOnceWithoutAConfirmation) {
    logic.itemFailures[1] = SlotScript{0, -7, ""};
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(Percents(), (std::vector<int>{33, 66}));
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(logic.GetErrorCode(), -7);
    auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, -7);
    EXPECT_FALSE(failed[0].text.empty());
}

TEST_F(ItemLoop, BreakLeftOnlyInTheProtocolAlsoEndsTheLoop) {
    // The item function fails without copying the protocol's -7.
    logic.itemFailures[0] = SlotScript{0, 0, "", -7};
    ASSERT_TRUE(Run(5));
    EXPECT_EQ(Percents(), (std::vector<int>{33}));
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(logic.GetErrorCode(), -7);
    auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, -7);
}

TEST_F(ItemLoop, AcceptedItemsAreConfirmedWhenAsked) {
    logic.loopOptions.confirmSuccess = true;
    ASSERT_TRUE(Run(5));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 3u);
    for (const auto& c : confirms) {
        EXPECT_EQ(c.code, 0);
        EXPECT_EQ(c.text, "");
    }
}

}  // namespace
