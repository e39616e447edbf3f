// CNCR_ECR jobs run the way the dispatcher runs them, against the NCR
// emulator on a pseudo-terminal, with the recording host's callbacks; and
// one end-to-end run of type 8 through the exports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/ncr/cncr_ecr.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/ncr/ncr_emulator.h"
#include "util/cp1250.h"

namespace {

using orv::test::Host;
using orv::test::HostDeptRecord;
using orv::test::NcrEmulator;
using orv::test::RecordingHost;

constexpr int kPort = 8;

enum Job : uint32_t {
    kReadSale = 1, kClearSale = 2, kReadAllPlu = 3, kReadPlu = 4, kPgmPlu = 5, kDelPlu = 7,
    kReadAllDept = 9, kPgmDept = 11, kReadStatus = 14, kReadVat = 15,
};

EcrItemRecord Item(const char* code, const char* name, double price, uint32_t dept) {
    return orv::test::HostItemRecord({.number = 0, .name = name, .code = code, .price = price, .vat = 1, .dept = dept});
}

EcrDeptRecord Dept(uint32_t number, const char* name, double price) {
    return HostDeptRecord({.number = number, .name = name, .price = price});
}

const char* const kNotAvailable = PL("Rozkaz niedostępny w tej wersji programu kasy");

class NcrJobs : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.05);
        Host().Reset();
        m_emu.Start();
    }
    void TearDown() override {
        if (m_logic.IsRunning()) {
            m_logic.Break();
            m_serial.Break();
            orv::test::WaitJobEnd(m_logic, 10000);
        }
        m_emu.Stop();
        orv::platform::SetTimeScale(1.0);
    }
    void Prepare(uint32_t job) { orv::test::PrepareJobBlock(job, orv::test::DeviceRecord(8, kPort, 9600)); }
    // Runs the prepared job; true when it succeeded (event 10).
    bool Run(uint32_t job) {
        EXPECT_TRUE(orv::test::RunJob(m_logic, job, &m_serial, nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunJob(uint32_t job) {
        Prepare(job);
        return Run(job);
    }
    bool RunItems(uint32_t job, std::vector<EcrItemRecord>& items) {
        Prepare(job);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        return Run(job);
    }

    NcrEmulator m_emu{kPort};
    CTelepathy m_serial;
    CNCR_ECR m_logic;
};

TEST_F(NcrJobs, FixedAnswersAndSlotsTheRegisterCannotServe) {
    ASSERT_TRUE(RunJob(kReadVat)) << m_logic.GetErrorCode();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    const auto vat = Host().VatCalls()[0];
    const double want[8] = {22.0, 7.0, 0.0, -3.0, -3.0, -3.0, -3.0, -3.0};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(vat[i], want[i]);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    Host().Reset();
    ASSERT_TRUE(RunJob(kReadAllDept)) << m_logic.GetErrorCode();
    ASSERT_EQ(Host().Depts().size(), 1u);
    const EcrDeptRecord d = Host().Depts()[0];
    EXPECT_EQ(d.number, 1u);
    EXPECT_STREQ(d.name, "ABCDEFGHIJKL");
    EXPECT_EQ(d.vat_group, 1u);
    EXPECT_DOUBLE_EQ(d.price, 1.0);
    EXPECT_EQ(d.flags, 0u);
    EXPECT_EQ(d.word100, 99u);

    for (uint32_t job : {kClearSale, kReadStatus}) {
        SCOPED_TRACE(job);
        Host().Reset();
        EXPECT_FALSE(RunJob(job));
        EXPECT_EQ(m_logic.GetErrorCode(), 25);
        EXPECT_STREQ(m_logic.GetErrorMessage(), kNotAvailable);
        EXPECT_TRUE(Host().StatusCalls().empty());
    }

    // Single reads end at the first item; every deletion is confirmed.
    std::vector<EcrItemRecord> items = {Item("5901234123457", "Mleko", 2.5, 1), Item("2", "Chleb", 3.0, 1)};
    Host().Reset();
    EXPECT_FALSE(RunItems(kReadPlu, items));
    EXPECT_EQ(m_logic.GetErrorCode(), 25);
    ASSERT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Kod kreskowy - 5901234123457");
    EXPECT_TRUE(Host().Items().empty());

    Host().Reset();
    EXPECT_FALSE(RunItems(kDelPlu, items));
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    for (const auto& c : confirms) {
        EXPECT_EQ(c.code, 25);
        EXPECT_EQ(c.text, kNotAvailable);
    }
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[1].text, "Nazwa - Chleb");

    // None of it went to the register.
    EXPECT_TRUE(m_emu.Received().empty());
}

TEST_F(NcrJobs, ProgrammingLoopsConfirmFailedItems) {
    std::vector<EcrItemRecord> items = {Item("", "Pusty", 1.0, 1), Item("7", "Dział zero", 1.0, 0),
                                        Item(" 5901234123457 ", PL("Żurek"), 4.99, 12)};
    EXPECT_TRUE(RunItems(kPgmPlu, items)) << m_logic.GetErrorCode();   // the last item's result
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].code, NCR_ERR_EMPTY_CODE);
    EXPECT_EQ(confirms[0].text, PL("Nieokreślony błąd"));
    EXPECT_EQ(confirms[1].code, NCR_ERR_DEPT);
    const auto six = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].value, NCR_ERR_EMPTY_CODE);
    const auto five = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(five.size(), 3u);
    EXPECT_EQ(five[0].text, "Nazwa - Pusty");
    EXPECT_EQ(five[0].percent, 33);
    EXPECT_EQ(five[1].percent, 66);
    EXPECT_EQ(five[2].percent, 100);
    auto plu = m_emu.FindPlu("590123412345");
    ASSERT_TRUE(plu.has_value());
    EXPECT_EQ(plu->text, "590123412345:499:12:\xBDurek       :0:0:0:9:0:0:0");
    EXPECT_EQ(m_emu.Goods().size(), 1u);

    // Departments: the last one fails, so the job does, without event 6.
    Host().Reset();
    std::vector<EcrDeptRecord> depts = {Dept(5, "Napoje", 0.5), Dept(100, "Za daleko", 1.0)};
    Prepare(kPgmDept);
    g_jobBlock.depts = depts.data();
    g_jobBlock.count = 2;
    EXPECT_FALSE(Run(kPgmDept));
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 100u);
    EXPECT_EQ(Host().Confirmations()[0].code, NCR_ERR_DEPT);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    EXPECT_EQ(m_emu.Departments(), (std::vector<std::string>{"5:Napoje   ::0:0:050::1:0:0:0:0:0:0"}));
    EXPECT_EQ(m_logic.GetErrorCode(), NCR_ERR_DEPT);
}

TEST_F(NcrJobs, GoodsAndSalesReachTheHost) {
    m_emu.AddPlu("590123412345", 1250, 3, "\x97" "mietana");   // "Śmietana" in CP852
    m_emu.AddSale("590123412345", "2,500", "3125");
    ASSERT_TRUE(RunJob(kReadAllPlu)) << m_logic.GetErrorCode();
    ASSERT_EQ(Host().Items().size(), 1u);
    const EcrItemRecord item = Host().Items()[0];
    EXPECT_EQ(item.number, 0u);
    EXPECT_STREQ(item.code, "590123412345");
    EXPECT_STREQ(item.name, PL("Śmietana"));
    EXPECT_EQ(item.vat_group, 1u);
    EXPECT_EQ(item.department, 3u);
    EXPECT_DOUBLE_EQ(item.price, 12.5);
    EXPECT_EQ(item.unit, 1u);
    EXPECT_EQ(item.attr1, 0u);
    EXPECT_EQ(item.linked_plu, 0u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    Host().Reset();
    ASSERT_TRUE(RunJob(kReadSale)) << m_logic.GetErrorCode();
    ASSERT_EQ(Host().Sales().size(), 1u);
    const auto sale = Host().Sales()[0];
    EXPECT_STREQ(sale.item.code, "590123412345");
    EXPECT_STREQ(sale.item.name, "");
    EXPECT_STREQ(sale.sale.code, "590123412345");
    EXPECT_STREQ(sale.sale.name, "");
    EXPECT_EQ(sale.sale.kind, 0u);
    EXPECT_EQ(sale.sale.plu, 0u);
    EXPECT_DOUBLE_EQ(sale.sale.quantity, 2.5);
    EXPECT_DOUBLE_EQ(sale.sale.value, 31.25);

    // A register that stops answering fails the read with the time-out.
    Host().Reset();
    m_emu.SetSilent(true);
    EXPECT_FALSE(RunJob(kReadAllPlu));
    EXPECT_EQ(m_logic.GetErrorCode(), -5);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_FAILED).at(0).value, -5);
}

TEST_F(NcrJobs, BreakEndsTheLoopWithoutAConfirmation) {
    orv::platform::SetTimeScale(1.0);   // the silent register must outlast the break
    m_emu.SetSilent(true);
    std::vector<EcrItemRecord> items = {Item("1", "A", 1.0, 1), Item("2", "B", 1.0, 1), Item("3", "C", 1.0, 1)};
    Prepare(kPgmPlu);
    g_jobBlock.items = items.data();
    g_jobBlock.count = 3;
    m_logic.SetSerial(&m_serial);
    m_serial.ClearBreak();
    ASSERT_TRUE(m_logic.Start(nullptr, 0));
    ASSERT_TRUE(m_emu.WaitForCount(1, 5000));   // the DLE of the first item
    const int64_t t0 = orv::platform::MonotonicMillis();
    m_logic.Break();
    m_serial.Break();
    ASSERT_TRUE(orv::test::WaitJobEnd(m_logic, 5000));
    EXPECT_LT(orv::platform::MonotonicMillis() - t0, 1000);
    EXPECT_EQ(m_logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 1);
    EXPECT_EQ(m_emu.Received(), (orv::test::Bytes{CNcr::DLE}));
}

// ------------------------------------------------------------ the exports

TEST(NcrExports, ProgramReadBackAndTheFixedSlots) {
    orv::platform::SetTimeScale(0.05);
    Host().Reset();
    ASSERT_EQ(EcrCreate(nullptr), 1);
    NcrEmulator reg(9);
    reg.SetBusyReplies(2);
    reg.AddSale("590123412345", "1", "250");
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(8, 9, 19200);

    std::vector<EcrItemRecord> items = {Item("5901234123457", PL("Masło"), 6.49, 2), Item("42", "Chleb", 3.2, 1)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(reg.Goods().size(), 2u);

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_STREQ(read[0].code, "590123412345");
    EXPECT_STREQ(read[0].name, PL("Masło"));
    EXPECT_DOUBLE_EQ(read[0].price, 6.49);
    EXPECT_EQ(read[0].department, 2u);
    EXPECT_STREQ(read[1].code, "42");

    Host().Reset();
    ASSERT_EQ(EcrReadSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Sales().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().Sales()[0].sale.value, 2.5);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0);
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][0], 22.0);

    Host().Reset();
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 25);
    EXPECT_STREQ(EcrErrMsg(), kNotAvailable);
    EXPECT_EQ(reg.SequenceErrors(), 0);
    orv::platform::SetTimeScale(1.0);
}

}  // namespace
