// CEL50_ECR jobs run the way the dispatcher runs them, against the Elcom 50
// emulator on a pseudo-terminal, with the recording host's callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "job/job_block.h"
#include "comm/telepathy.h"
#include "drivers/elcom50/cel50_ecr.h"
#include "drivers/elcom50/elcom50_items.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "util/cp1250.h"

namespace {

using orv::test::Elcom50Emulator;
using orv::test::Host;
using Answer = Elcom50Emulator::Answer;

constexpr int kPort = 4;

using enum orv::test::Elcom50Job;

using orv::test::HostItem;

class Elcom50JobBase : public ::testing::Test {
protected:
    explicit Elcom50JobBase(int type) : m_type(type), m_emu(kPort, type == 17 ? 25 : 24) {}
    int Type() const { return m_type; }

    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        Host().Reset();
        m_emu.Start();
    }
    void TearDown() override {
        // A job that outlived its wait (a loaded machine) is broken off
        // before the objects it uses go away.
        if (m_logic.IsRunning()) {
            m_logic.Break();
            m_serial.Break();
            orv::test::WaitJobEnd(m_logic, 10000);
        }
        m_emu.Stop();
        orv::platform::SetTimeScale(1.0);
    }

    void Prepare(uint32_t job) { orv::test::PrepareJobBlock(job, orv::test::DeviceRecord(m_type, kPort)); }
    // Runs the job; true when it succeeded (event 10).
    bool Run(uint32_t job) {
        EXPECT_TRUE(orv::test::RunJob(m_logic, job, &m_serial, nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunItems(uint32_t job, std::vector<EcrItemRecord>& items) {
        Prepare(job);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        return Run(job);
    }

    // Starts the prepared job, breaks it off once the register has received
    // `request`, and returns how long the job took to end after the break
    // (-1 when it never got that far or did not end).
    int64_t BreakWhenSent(uint32_t job, const std::string& request) {
        orv::platform::SetTimeScale(1.0);   // the silent answer must outlast the break
        g_jobBlock.job = job;
        m_logic.SetSerial(&m_serial);
        m_serial.ClearBreak();
        if (!m_logic.Start(nullptr, 0)) return -1;
        if (!m_emu.WaitUntil([&](const orv::test::Bytes& b) {
                return std::string(b.begin(), b.end()).find(request) != std::string::npos;
            }, 5000))
            return -1;
        const int64_t t0 = orv::platform::MonotonicMillis();
        m_logic.Break();
        m_serial.Break();
        if (!orv::test::WaitJobEnd(m_logic, 5000)) return -1;
        return orv::platform::MonotonicMillis() - t0;
    }

    const int m_type;
    Elcom50Emulator m_emu;
    CTelepathy m_serial;
    CEL50_ECR m_logic;
};

// The jobs of both type codes.
class Elcom50Jobs : public Elcom50JobBase, public ::testing::WithParamInterface<int> {
protected:
    Elcom50Jobs() : Elcom50JobBase(GetParam()) {}
};

// Jobs that walk every PLU record: the 1980 of type 16 are enough.
class Elcom50Type16 : public Elcom50JobBase {
protected:
    Elcom50Type16() : Elcom50JobBase(16) {}
};

INSTANTIATE_TEST_SUITE_P(Types, Elcom50Jobs, ::testing::Values(16, 17),
                         [](const auto& info) { return "Type" + std::to_string(info.param); });

TEST_P(Elcom50Jobs, WidthsAndLimitsFollowTheType) {
    const bool wide = Type() == 17;
    std::vector<EcrItemRecord> items = {HostItem(1980, "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJK", 1.0),
                                        HostItem(14980, "Zeta", 2.0)};
    const bool ok = RunItems(kPgmPlu, items);
    auto row = m_emu.Plu(1980);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->name, wide ? "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEF" : "Abcdefghijklmnopqrstuvwx");
    if (wide) {
        EXPECT_TRUE(ok);
        EXPECT_TRUE(m_emu.Plu(14980).has_value());
        EXPECT_TRUE(Host().Confirmations().empty());
    } else {
        EXPECT_FALSE(ok);
        ASSERT_EQ(Host().Confirmations().size(), 1u);
        EXPECT_EQ(Host().Confirmations()[0].number, 14980u);
        EXPECT_EQ(Host().Confirmations()[0].code, 105);
        EXPECT_EQ(m_logic.GetErrorCode(), 105);
    }

    // Departments come back cut to the model's width.
    m_emu.SetDept(3, "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJK");
    Host().Reset();
    Prepare(kReadAllDept);
    ASSERT_TRUE(Run(kReadAllDept)) << m_logic.GetErrorCode();
    const auto depts = Host().Depts();
    ASSERT_EQ(depts.size(), 20u);
    EXPECT_EQ(depts[2].number, 3u);
    EXPECT_STREQ(depts[2].name, wide ? "Abcdefghijklmnopqrstuvwxyz0123456789ABCDEF" : "Abcdefghijklmnopqrstuvwx");
    EXPECT_STREQ(depts[0].name, "---");
}

TEST_P(Elcom50Jobs, ThreeItemsFirstTwoFail) {
    m_emu.Inject({"SETREC", "PLU\t1", Answer::Status, "2147942409"});
    m_emu.Inject({"SETREC", "PLU\t2", Answer::Status, "3"});
    std::vector<EcrItemRecord> items = {HostItem(1, "A", 1.0), HostItem(2, "B", 2.0), HostItem(3, "C", 3.0)};
    EXPECT_TRUE(RunItems(kPgmPlu, items));
    const auto six = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].value, 24);
    EXPECT_EQ(six[0].text, PL("Kasa zajęta"));
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].number, 1u);
    EXPECT_EQ(confirms[0].code, 24);
    EXPECT_EQ(confirms[0].text, PL("Kasa zajęta"));
    EXPECT_EQ(confirms[1].number, 2u);
    EXPECT_EQ(confirms[1].code, 3);
    EXPECT_EQ(confirms[1].text, std::string(PL("Operacja niemożliwa w tym stanie – wymagany tryb serwisowy")).substr(0, 63));
    EXPECT_TRUE(m_emu.Plu(3).has_value());
    const auto five = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(five.size(), 3u);
    EXPECT_EQ(five[0].text, "Nazwa - A");
    EXPECT_EQ(five[0].percent, 33);
    EXPECT_EQ(five[2].percent, 100);
}

TEST_P(Elcom50Jobs, FailingLastItemIsConfirmedWithoutEvent6) {
    m_emu.Inject({"SETREC", "PLU\t2", Answer::Status, "2147942409"});
    std::vector<EcrItemRecord> items = {HostItem(1, "A", 1.0), HostItem(2, "B", 2.0)};
    EXPECT_FALSE(RunItems(kPgmPlu, items));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 2u);
    EXPECT_EQ(m_logic.GetErrorCode(), 24);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_FAILED).at(0).value, 24);
}

TEST_P(Elcom50Jobs, BreakEndsTheLoopWithoutAConfirmation) {
    m_emu.Inject({"SETREC", "PLU\t2", Answer::Silence, ""});
    std::vector<EcrItemRecord> items = {HostItem(1, "A", 1.0), HostItem(2, "B", 2.0), HostItem(3, "C", 3.0)};
    Prepare(kPgmPlu);
    g_jobBlock.items = items.data();
    g_jobBlock.count = 3;
    const int64_t took = BreakWhenSent(kPgmPlu, "SETREC\tREQ\tPLU\t2\t");
    ASSERT_GE(took, 0);
    EXPECT_LT(took, 1000);
    EXPECT_EQ(m_logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    EXPECT_FALSE(m_emu.Plu(3).has_value());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
}

TEST_F(Elcom50Type16, BreakEndsABulkReadAtOnce) {
    m_emu.Inject({"GETREC", "PLU\t5", Answer::Silence, ""});
    Prepare(kReadAllPlu);
    const int64_t took = BreakWhenSent(kReadAllPlu, "GETREC\tREQ\tPLU\t5\n");
    ASSERT_GE(took, 0);
    EXPECT_LT(took, 1000);
    EXPECT_EQ(m_logic.GetErrorCode(), -7);
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 5);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
}

TEST_P(Elcom50Jobs, ReadPluGoesOnAfter202AndStopsOnOtherErrors) {
    Elcom50Emulator::PluRow row;
    row.price = "4.99";
    row.name = "Ser";
    row.tax = "2";
    row.barcode = "000000000000000777";
    row.dpt = "5";
    row.unit = "3";
    row.link = "0000";
    row.other = "1";
    m_emu.SetPlu(1, row);
    m_emu.SetPlu(3, row);
    m_emu.Inject({"GETREC", "PLU\t2", Answer::MissingFields, "4"});
    std::vector<EcrItemRecord> items = {HostItem(1, "", 0), HostItem(2, "", 0), HostItem(3, "", 0)};
    EXPECT_TRUE(RunItems(kReadPlu, items));
    const auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].number, 1u);
    EXPECT_EQ(got[1].number, 3u);
    EXPECT_STREQ(got[1].name, "Ser");
    EXPECT_STREQ(got[1].code, "000000000000000777");
    EXPECT_DOUBLE_EQ(got[1].price, 4.99);
    EXPECT_EQ(got[1].vat_group, 2u);
    EXPECT_EQ(got[1].department, 5u);
    EXPECT_EQ(got[1].unit, 3u);
    EXPECT_EQ(got[1].attr2, 1u);
    EXPECT_EQ(got[1].attr1, 3u);
    EXPECT_EQ(got[1].word168, 0u);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 202);
    EXPECT_EQ(Host().Confirmations()[0].text, PL("Pod podanym numerem towar nie zdefiniowany"));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).at(1).text, "PLU - 2");

    // Any other failure ends the job.
    Host().Reset();
    m_emu.ClearRequests();
    m_emu.Inject({"GETREC", "PLU\t1", Answer::Status, "2147942409"});
    EXPECT_FALSE(RunItems(kReadPlu, items));
    EXPECT_EQ(m_logic.GetErrorCode(), 24);
    EXPECT_EQ(m_emu.CountRequests("GETREC"), 1);
    EXPECT_TRUE(Host().Items().empty());
}

TEST_P(Elcom50Jobs, ErrorSurvivesDisconnect) {
    m_emu.Inject({"SETREC", "", Answer::Status, "2147942409"});
    m_emu.Inject({"DISCONNECT", "", Answer::Status, "2147942410"});
    std::vector<EcrItemRecord> items = {HostItem(1, "A", 1.0)};
    EXPECT_FALSE(RunItems(kPgmPlu, items));
    EXPECT_EQ(m_logic.GetErrorCode(), 24);
    EXPECT_STREQ(m_logic.GetErrorMessage(), PL("Kasa zajęta"));
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 24);
}

TEST_F(Elcom50Type16, ReadSaleDeliversRecordsWithSales) {
    Elcom50Emulator::PluRow sold;
    sold.name = "Chleb";
    sold.tax = "1";
    sold.dpt = "1";
    sold.barcode = "000000000000000123";
    sold.quantity = "3.000";
    sold.amount = "7.50";
    m_emu.SetPlu(2, sold);
    Elcom50Emulator::PluRow deleted = sold;   // deleted PLU: tax group 0, sales stay
    deleted.name = "Bulka";
    deleted.tax = "0";
    deleted.quantity = "0";
    deleted.amount = "1.20";
    m_emu.SetPlu(9, deleted);
    Elcom50Emulator::PluRow none = sold;
    none.quantity = "0";
    none.amount = "0.00";
    m_emu.SetPlu(4, none);
    Prepare(kReadSale);
    ASSERT_TRUE(Run(kReadSale)) << m_logic.GetErrorCode();
    const auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 2u);
    EXPECT_EQ(sales[0].sale.kind, 0u);
    EXPECT_EQ(sales[0].sale.number, 0u);
    EXPECT_STREQ(sales[0].sale.name, "Chleb");
    EXPECT_STREQ(sales[0].sale.code, "000000000000000123");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 3.0);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 7.5);
    EXPECT_EQ(sales[0].item.number, 2u);
    EXPECT_STREQ(sales[0].item.name, "Chleb");
    EXPECT_EQ(sales[0].item.vat_group, 0u);
    EXPECT_EQ(sales[1].sale.plu, 9u);
    EXPECT_DOUBLE_EQ(sales[1].sale.value, 1.2);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    // Clearing zeroes the figures.
    Host().Reset();
    Prepare(kClearSale);
    ASSERT_TRUE(Run(kClearSale));
    EXPECT_EQ(m_emu.ZeroingReports(), 1);
    EXPECT_EQ(m_emu.Plu(2)->amount, "0");
}

TEST_P(Elcom50Jobs, StatusAndVat) {
    m_emu.SetTaxGroup(1, "23.00", 1);
    m_emu.SetTaxGroup(2, "8.00", 1);
    m_emu.SetTaxGroup(3, "0.00", 2);
    Prepare(kReadStatus);
    ASSERT_TRUE(Run(kReadStatus)) << m_logic.GetErrorCode();
    const auto calls = Host().StatusCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(std::string(calls[0].status.information),
              std::string("Typ kasy : ELCOM 50\r\nSymbol kraju : PL\r\nWersja software'u : 1.07\r\n") +
                  PL("Wersja protokołu : ") + "2.1\r\nTryb pracy : FISKALNY\r\n");
    EXPECT_DOUBLE_EQ(calls[0].vat[0], 23.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[2], -1.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[3], -3.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[7], -3.0);
    const auto four = Host().EventsWithCode(ECR_EVENT_WAIT);
    ASSERT_FALSE(four.empty());
    EXPECT_EQ(four.back().percent, 100);

    // The tax groups failing fails the status read: no status callback.
    Host().Reset();
    m_emu.Inject({"GETREC", "TAXGROUP\t4", Answer::Status, "2147942409"});
    Prepare(kReadStatus);
    EXPECT_FALSE(Run(kReadStatus));
    EXPECT_TRUE(Host().StatusCalls().empty());
    EXPECT_EQ(m_logic.GetErrorCode(), 24);

    Host().Reset();
    Prepare(kReadVat);
    ASSERT_TRUE(Run(kReadVat));
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][1], 8.0);
}

TEST_P(Elcom50Jobs, UnitsDepartmentsAndDeleting) {
    std::vector<EcrUnitRecord> units(2);
    std::memset(units.data(), 0, sizeof(EcrUnitRecord) * 2);
    units[0].number = 1;
    std::strcpy(units[0].name, "kg");
    units[1].number = 9;
    std::strcpy(units[1].name, "szt");
    Prepare(kPgmUnit);
    g_jobBlock.units = units.data();
    g_jobBlock.count = 2;
    EXPECT_FALSE(Run(kPgmUnit));
    EXPECT_EQ(m_emu.Unit(1), "kg ");
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 111);
    EXPECT_EQ(orv::test::Utf8(Host().EventsWithCode(ECR_EVENT_ITEM).at(0).text), "Jednostka m. 1 - kg");

    Host().Reset();
    Prepare(kReadAllUnit);
    ASSERT_TRUE(Run(kReadAllUnit));
    const auto read = Host().Units();
    ASSERT_EQ(read.size(), 8u);
    EXPECT_STREQ(read[0].name, "kg ");
    EXPECT_STREQ(read[1].name, "---");

    Host().Reset();
    std::vector<EcrDeptRecord> depts(1);
    std::memset(depts.data(), 0, sizeof(EcrDeptRecord));
    depts[0].number = 21;
    Prepare(kPgmDept);
    g_jobBlock.depts = depts.data();
    g_jobBlock.count = 0;   // counts as 1
    EXPECT_FALSE(Run(kPgmDept));
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 110);
    EXPECT_EQ(orv::test::Utf8(Host().EventsWithCode(ECR_EVENT_ITEM).at(0).text), "Dział towarowy 21 - ");

    // Deleting sets the tax group to 0 whatever the item says.
    Host().Reset();
    m_emu.ClearRequests();
    std::vector<EcrItemRecord> items = {HostItem(5, "A", 1.0, 0)};
    EXPECT_TRUE(RunItems(kDelPlu, items));
    EXPECT_EQ(m_emu.Requests().at(2), "SETREC\tREQ\tPLU\t5\t0");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).at(0).text, "PLU - 5");
}

TEST_P(Elcom50Jobs, NullArraysFailWithoutTraffic) {
    Prepare(kPgmPlu);
    g_jobBlock.items = nullptr;
    g_jobBlock.count = 3;
    EXPECT_FALSE(Run(kPgmPlu));
    EXPECT_EQ(m_logic.GetErrorCode(), -1);
    Host().Reset();
    Prepare(kReadPlu);
    EXPECT_FALSE(Run(kReadPlu));
    EXPECT_EQ(m_logic.GetErrorCode(), -1);
    EXPECT_EQ(m_emu.CountRequests("SETREC") + m_emu.CountRequests("GETREC"), 0);
}

TEST_P(Elcom50Jobs, SilentRegisterFailsWithTimeOut) {
    m_emu.SetSilent(true);
    Prepare(kReadVat);
    EXPECT_FALSE(Run(kReadVat));
    EXPECT_EQ(m_logic.GetErrorCode(), -5);
    EXPECT_TRUE(Host().VatCalls().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
}

TEST(Elcom50Open, MissingPortFailsWithTransportError) {
    Host().Reset();
    setenv("ECR_COM9", "/nonexistent/elcom50", 1);
    CTelepathy serial;
    CEL50_ECR logic;
    orv::test::PrepareJobBlock(kReadVat, orv::test::DeviceRecord(16, 9));
    EXPECT_FALSE(orv::test::RunJob(logic, kReadVat, &serial, nullptr));
    EXPECT_LT(logic.GetErrorCode(), 0);
    EXPECT_GE(Host().CountEvents(ECR_EVENT_SYSTEM_ERROR), 1);
    unsetenv("ECR_COM9");
}

}  // namespace
