// Elcom 50 registers through the exports, as a host drives them: one
// end-to-end run per type code against the emulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "drivers/elcom50/elcom50_items.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"

namespace {

using orv::test::Elcom50Emulator;
using orv::test::Host;
using orv::test::RecordingHost;

constexpr int kPort = 6;

bool WaitDone() { return orv::test::WaitEcrDone(60000); }

EcrItemRecord Item(uint32_t number, const char* name, const char* code, double price, uint32_t vat) {
    EcrItemRecord r = orv::test::HostItem(number, name, price, vat, code);
    r.department = 2;
    r.unit = 0;          // sent as 1
    r.attr2 = 1;         // other price allowed
    return r;
}

class Elcom50Exports : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }
};

INSTANTIATE_TEST_SUITE_P(Types, Elcom50Exports, ::testing::Values(16, 17),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

TEST_P(Elcom50Exports, ProgramReadBackVatAndUnits) {
    const int type = GetParam();
    const bool wide = type == 17;
    Elcom50Emulator reg(kPort, wide ? 25 : 24);
    reg.SetTaxGroup(1, "23.00", 1);
    reg.SetTaxGroup(2, "8.00", 1);
    reg.SetTaxGroup(7, "0.00", 2);
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(type, kPort, 19200);
    const uint32_t top = wide ? 14980 : 1980;
    const char* longName = "Jogurt naturalny bez dodatku cukru i mleka w proszku";

    std::vector<EcrItemRecord> items = {Item(1, "Mleko 2%", "5900512300108", 2.99, 1),
                                        Item(top, longName, "12345678901234567890", 12.5, 2),
                                        Item(top + 1, "Poza zakresem", "1", 1.0, 1)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 105);   // the last item's result
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, top + 1);
    EXPECT_EQ(Host().Confirmations()[0].code, 105);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);

    const std::string name = wide ? std::string(longName).substr(0, 42) : std::string(longName).substr(0, 24);
    auto row = reg.Plu(top);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->name, name);
    EXPECT_EQ(row->barcode, "123456789012345678");
    EXPECT_EQ(row->price, "12.50");
    EXPECT_EQ(row->unit, "1");
    EXPECT_EQ(row->link, "0000");
    EXPECT_EQ(row->other, "1");
    EXPECT_EQ(reg.Plu(1)->name, wide ? "Mleko 2%                                  " : "Mleko 2%                ");

    Host().Reset();
    ASSERT_EQ(EcrReadPLU(&dev, items.data(), 2, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].number, top);
    EXPECT_EQ(std::string(read[1].name), name);
    EXPECT_STREQ(read[1].code, "123456789012345678");
    EXPECT_DOUBLE_EQ(read[1].price, 12.5);
    EXPECT_EQ(read[1].vat_group, 2u);
    EXPECT_EQ(read[1].unit, 1u);
    EXPECT_EQ(read[1].attr2, 1u);
    EXPECT_EQ(read[1].attr1, 3u);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    const auto vat = Host().VatCalls()[0];
    EXPECT_DOUBLE_EQ(vat[0], 23.0);
    EXPECT_DOUBLE_EQ(vat[1], 8.0);
    EXPECT_DOUBLE_EQ(vat[2], -3.0);
    EXPECT_DOUBLE_EQ(vat[6], -1.0);
    EXPECT_DOUBLE_EQ(vat[7], -3.0);

    Host().Reset();
    EcrUnitRecord units[2];
    std::memset(units, 0, sizeof units);
    units[0].number = 2;
    std::strcpy(units[0].name, "litr");
    units[1].number = 3;
    std::strcpy(units[1].name, "kg");
    ASSERT_EQ(EcrPgmUNIT(&dev, units, 2, &RecordingHost::OnUnitProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(EcrReadAllUnit(&dev, &RecordingHost::OnUnitRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto readUnits = Host().Units();
    ASSERT_EQ(readUnits.size(), 8u);
    EXPECT_STREQ(readUnits[1].name, "lit");
    EXPECT_STREQ(readUnits[2].name, "kg ");

    // A register that is busy: the 32-bit code reaches the host folded.
    Host().Reset();
    reg.Inject({"GETREC", "", Elcom50Emulator::Answer::Status, "2147942409", -1});
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 24);
    EXPECT_EQ(orv::test::Utf8(EcrErrMsg()), "Kasa zajęta");
    EXPECT_TRUE(Host().Depts().empty());
    reg.Stop();
}

// A register that answers late, and a host that breaks a goods read off
// and at once reads the rates: the answers the broken-off job no longer
// waited for do not spoil the next job.
TEST(Elcom50LateAnswers, ABreakThenAtOnceTheNextJobReadsTheRegistersOwnData) {
    orv::platform::SetTimeScale(1.0);
    ASSERT_EQ(EcrCreate(nullptr), 1);
    Elcom50Emulator reg(kPort, 24);
    reg.SetTaxGroup(1, "23.00", 1);
    reg.SetTaxGroup(2, "8.00", 1);
    for (uint32_t n = 1; n <= 30; ++n) {
        Elcom50Emulator::PluRow row;
        row.name = "Towar " + std::to_string(n);
        row.price = "1.00";
        row.tax = "1";
        reg.SetPlu(n, row);
    }
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(16, kPort, 19200);
    for (int delay : {200, 30}) {
        reg.SetAnswerDelay(delay);
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE("answers " + std::to_string(delay) + " ms late, round " + std::to_string(round));
            Host().Reset();
            ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (reg.CountRequests("GETREC") < 1 + round && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(delay / 2));
            EcrBreakJob();
            ASSERT_TRUE(WaitDone());
            EXPECT_EQ(EcrError(), -7);

            Host().Reset();
            ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
            ASSERT_TRUE(WaitDone());
            EXPECT_EQ(EcrError(), 0) << orv::test::Utf8(EcrErrMsg());
            ASSERT_EQ(Host().VatCalls().size(), 1u);
            const auto vat = Host().VatCalls()[0];
            EXPECT_DOUBLE_EQ(vat[0], 23.0);
            EXPECT_DOUBLE_EQ(vat[1], 8.0);
        }
    }
}

}  // namespace

namespace {

// A read of listed goods: every item the register does not hold is one
// event 6 with its code and text and no record; the job ends with the last
// item's result.
TEST(Elcom50ReadListed, MissingItemsAreEventsAndTheLastDecides) {
    orv::platform::SetTimeScale(0.1);
    Elcom50Emulator reg(kPort, 24);
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(16, kPort, 19200);
    ASSERT_EQ(EcrCreate(nullptr), 1);
    std::vector<EcrItemRecord> held = {Item(1, "Mleko", "5900512300108", 2.99, 1)};
    ASSERT_EQ(EcrPgmPLU(&dev, held.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrError(), 0) << EcrErrMsg();
    // The register gives no usable record for 500 and 501.
    for (const char* key : {"PLU\t500", "PLU\t501"})
        reg.Inject({"GETREC", key, Elcom50Emulator::Answer::MissingFields, "2", -1});

    struct Case {
        std::vector<uint32_t> numbers;   // 1 is held, the others are not
        size_t records;
        int missed;
        bool lastHeld;
    };
    const Case cases[] = {
        {{500}, 0, 1, false},
        {{1, 500}, 1, 1, false},
        {{500, 1}, 1, 1, true},
        {{500, 501, 1}, 1, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.numbers));
        std::vector<EcrItemRecord> items;
        for (uint32_t n : c.numbers) items.push_back(Item(n, "", "", 0.0, 1));
        Host().Reset();
        ASSERT_EQ(EcrReadPLU(&dev, items.data(), static_cast<int>(items.size()), &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(Host().Items().size(), c.records);
        const auto events = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        ASSERT_EQ(events.size(), static_cast<size_t>(c.missed));
        for (const auto& e : events) {
            EXPECT_NE(e.value, 0);
            EXPECT_FALSE(e.text.empty());
        }
        EXPECT_EQ(EcrError(), c.lastHeld ? 0 : events.back().value) << EcrErrMsg();
    }
    orv::platform::SetTimeScale(1.0);
}

}  // namespace
