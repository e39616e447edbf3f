// Posnet Perfekt and Bingo registers through the exports, as a host drives
// them: one end-to-end run per type code against the emulator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "perfekt_fixture.h"
#include "platform/clock.h"
#include "sim/posnet/perfekt_emulator.h"
#include "util/cp1250.h"

namespace {

using orv::test::Host;
using orv::test::PerfektEmulator;
using orv::test::RecordingHost;

constexpr int kPort = 8;

bool WaitDone() { return orv::test::WaitEcrDone(60000); }

int VariantOf(int type) { return type == 44 ? 2 : type == 45 ? 3 : type == 54 || type == 62 ? 4 : 1; }

class PerfektExports : public ::testing::TestWithParam<std::tuple<int, orv::test::RefusalEnd>> {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }
};

INSTANTIATE_TEST_SUITE_P(Types, PerfektExports,
                         ::testing::Combine(::testing::Values(38, 44, 45, 54, 62),
                                            ::testing::ValuesIn(orv::test::kRefusalEnds)),
                         [](const auto& info) {
                             return "Type" + std::to_string(std::get<0>(info.param)) + std::get<1>(info.param).name;
                         });

TEST_P(PerfektExports, ProgramReadBackSalesVatStatusAndDepartments) {
    const int type = std::get<0>(GetParam());
    const bool departments = VariantOf(type) == 4;
    PerfektEmulator reg(kPort, VariantOf(type));
    reg.SetCodeEnd(std::get<1>(GetParam()).bytes);
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(type, kPort, 19200);

    std::vector<EcrItemRecord> items = {
        orv::test::HostItemRecord({.number = 1, .name = PL("Mąka tortowa"), .code = "5900512300108", .price = 2.99, .vat = 1}),
        orv::test::HostItemRecord({.number = 250, .name = "Kawa", .code = "", .price = 17.5, .vat = 2}),
        orv::test::HostItemRecord({.number = 1000000, .name = "Poza zakresem", .code = "", .price = 1.0, .vat = 1})};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 105);   // the last item's result
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 1000000u);
    EXPECT_EQ(reg.PluCount(), 2u);
    EXPECT_EQ(reg.Plu(1)->name, "M\x86ka tortowa    ");

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_STREQ(read[0].name, PL("Mąka tortowa    "));
    EXPECT_STREQ(read[0].code, "5900512300108");
    EXPECT_STREQ(read[1].code, "");
    EXPECT_DOUBLE_EQ(read[1].price, 17.5);
    EXPECT_EQ(read[1].vat_group, 2u);
    EXPECT_EQ(read[1].unit, 1u);

    reg.SetSale(250, 2000, 3500);
    Host().Reset();
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Sales().size(), 1u);
    EXPECT_EQ(Host().Sales()[0].sale.plu, 250u);
    EXPECT_DOUBLE_EQ(Host().Sales()[0].sale.quantity, 2.0);
    EXPECT_EQ(reg.Plu(250)->quantity, 0);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][0], 23.0);

    Host().Reset();
    ASSERT_EQ(EcrReadStatus(&dev, &RecordingHost::OnStatus), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().StatusCalls().size(), 1u);
    EXPECT_EQ(std::string(Host().StatusCalls()[0].status.information).substr(0, 22), "Typ kasy : ECR Perfekt");

    Host().Reset();
    EcrDeptRecord dept{};
    dept.number = 2;
    std::strcpy(dept.name, "Pieczywo");
    ASSERT_EQ(EcrPgmDEPT(&dev, &dept, 1, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    if (departments) {
        EXPECT_EQ(EcrError(), 111);   // department 1 is not defined: nothing read before it
        reg.SetDept(1, "Og\xA2lny          ");
        Host().Reset();
        ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
        ASSERT_EQ(Host().Depts().size(), 2u);
        EXPECT_STREQ(Host().Depts()[0].name, PL("Ogólny          "));
        EXPECT_STREQ(Host().Depts()[1].name, "Pieczywo        ");
    } else {
        EXPECT_EQ(EcrError(), 25);
        EXPECT_EQ(orv::test::Utf8(EcrErrMsg()), "Rozkaz niedostępny w tej wersji programu kasy");
        EXPECT_EQ(reg.CountCommand("$r"), 0);
    }
    EXPECT_EQ(reg.CountCommand("#p"), departments ? 4 : 3);
    EXPECT_EQ(reg.ChecksumErrors(), 0);
    reg.Stop();
}

// A register that ends the code of its "#Z" answers with a field terminator
// (or with nothing) is understood by the goods writes, the goods reads and
// the sales clearing alike.
class PerfektCodeEnds : public PerfektExports {};

INSTANTIATE_TEST_SUITE_P(Ends, PerfektCodeEnds,
                         ::testing::Combine(::testing::Values(38, 54),
                                            ::testing::Values(orv::test::RefusalEnd{"Bare", ""},
                                                              orv::test::RefusalEnd{"Tab", "\t"},
                                                              orv::test::RefusalEnd{"Lf", "\n"},
                                                              orv::test::RefusalEnd{"Fe", "\xFE"})),
                         [](const auto& info) {
                             return "Type" + std::to_string(std::get<0>(info.param)) + std::get<1>(info.param).name;
                         });

TEST_P(PerfektCodeEnds, WritesReadsAndClearingTakeTheAnswerCode) {
    const int type = std::get<0>(GetParam());
    const std::string end = std::get<1>(GetParam()).bytes;
    PerfektEmulator reg(kPort, VariantOf(type));
    reg.SetCodeEnd(end);
    // Item 2 is refused with 7; item 4 gets "#Z#p" without a code.
    reg.Inject(orv::test::Inj("#p", PerfektEmulator::Fault::Refuse, 7, "", 1, 1));
    reg.Inject(orv::test::Inj("#p", PerfektEmulator::Fault::Raw, 0, "#Z#p" + end, 1, 1));
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(type, kPort, 9600);

    std::vector<EcrItemRecord> items;
    for (uint32_t n = 1; n <= 5; ++n) items.push_back(orv::test::PerfektItem(n, "Towar", 1.5 * n));
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 5, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();   // the last item went in
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].number, 2u);
    EXPECT_EQ(confirms[0].code, 7);
    EXPECT_EQ(orv::test::Utf8(confirms[0].text), "Data wcześniejsza od daty ostatniego zapisu w pamięci fiskalnej");
    EXPECT_EQ(confirms[1].number, 4u);
    EXPECT_EQ(confirms[1].code, 9999);
    EXPECT_FALSE(confirms[1].text.empty());
    EXPECT_EQ(reg.PluCount(), 3u);   // 1, 3 and 5 (a refusal or an answer without a code keeps nothing)

    // PLU 2 is missing ("#Z$r20"): the read goes on to 3 and 5.
    Host().Reset();
    std::vector<EcrItemRecord> wanted = {orv::test::PerfektItem(1, "", 0), orv::test::PerfektItem(2, "", 0),
                                         orv::test::PerfektItem(3, "", 0), orv::test::PerfektItem(5, "", 0)};
    ASSERT_EQ(EcrReadPLU(&dev, wanted.data(), 4, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    std::vector<uint32_t> read;
    for (const EcrItemRecord& it : Host().Items()) read.push_back(it.number);
    EXPECT_EQ(read, (std::vector<uint32_t>{1, 3, 5}));
    auto sixes = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(sixes.size(), 1u);
    EXPECT_EQ(sixes[0].value, 20);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);

    // Each sold item is rewritten, and each "#Z#p0" lets the walk go on.
    reg.SetSale(1, 2000, 300);
    reg.SetSale(3, 1000, 450);
    reg.SetSale(5, 500, 375);
    Host().Reset();
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    std::vector<uint32_t> sold;
    for (const auto& s : Host().Sales()) sold.push_back(s.sale.plu);
    EXPECT_EQ(sold, (std::vector<uint32_t>{1, 3, 5}));
    for (uint32_t n : {1u, 3u, 5u}) EXPECT_EQ(reg.Plu(n)->quantity, 0) << n;
    reg.Stop();
}

}  // namespace
