// The control-driven register logic against the fake control: programming
// loops, reads, sale reports, the receipt loop and the status.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/novitus/cp3_ecr.h"
#include "drivers/novitus/ps3000_ids.h"
#include "fakes/fake_fiscal_control.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "util/cp1250.h"

namespace {

using orv::platform::Variant;
using orv::test::FakeNovitus;
using orv::test::FakeProps;
using orv::test::Host;
using Lines = std::vector<std::string>;
namespace id = orv::novitus::ids;

enum : uint32_t {
    kReadSale = 1, kClearSale = 2, kReadAllPlu = 3, kReadPlu = 4, kPgmPlu = 5, kDelPlu = 7, kReadAllDept = 9,
    kPgmDept = 11, kReadAllUnit = 12, kPgmUnit = 13, kReadStatus = 14, kReadVat = 15
};

FakeProps SaleRec(const std::string& code, double q1, int64_t v1, double q2 = 0, int64_t v2 = 0) {
    return {{id::kSaleCode, Variant::Text(code)},   {id::kSaleName, Variant::Text("N" + code)},
            {id::kSaleQuantity, Variant::Double(q1)}, {id::kSaleValue, Variant::Currency(v1)},
            {id::kSaleQuantity2, Variant::Double(q2)}, {id::kSaleValue2, Variant::Currency(v2)}};
}

class Cp3 : public ::testing::Test {
protected:
    void SetUp() override {
        Host().Reset();
        orv::platform::SetTimeScale(0.01);
    }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }

    void Prepare(uint32_t job, int type = 26, uint32_t flags = 0) {
        EcrDeviceRecord d = orv::test::DeviceRecord(type, 3);
        d.flags = flags;
        orv::test::PrepareJobBlock(job, d);
    }
    // Runs the prepared job; true when it succeeded (event 10).
    bool Run(uint32_t job) {
        fake.ClearLog();
        EXPECT_TRUE(orv::test::RunJob(logic, job, &serial, nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunItems(uint32_t job, std::vector<EcrItemRecord>& items, uint32_t kind = 0) {
        Prepare(job);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        g_jobBlock.kind = kind;
        return Run(job);
    }
    static std::vector<EcrItemRecord> Items(int n) {
        std::vector<EcrItemRecord> v;
        for (int i = 1; i <= n; ++i) {
            std::string code = "59000" + std::to_string(i);
            std::string name = "Item " + std::to_string(i);
            v.push_back(orv::test::HostItemRecord({.number = static_cast<uint32_t>(i), .name = name.c_str(),
                                                   .code = code.c_str(), .price = 1.5, .vat = 1, .dept = 1, .unit = 1}));
        }
        return v;
    }
    int Count(const std::string& method) {
        int n = 0;
        for (const auto& m : fake.ControlMethods()) n += m.rfind(method, 0) == 0;
        return n;
    }

    FakeNovitus fake;
    CTelepathy serial;
    CP3_ECR logic;
};

TEST_F(Cp3, ProgrammingWithTheMiddleItemFailing) {
    auto items = Items(3);
    fake.FailAt(id::kSendRecord, 2, 64, "CA");   // 202
    EXPECT_TRUE(RunItems(kPgmPlu, items));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    auto c = Host().Confirmations();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].number, 2u);
    EXPECT_EQ(c[0].code, 202);
    EXPECT_EQ(c[0].text, PL("Błąd wartości towaru"));
    EXPECT_EQ(fake.goods.size(), 2u);
    auto e5 = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(e5.size(), 3u);
    EXPECT_EQ(e5[0].text, "Programowanie Item 1");
    EXPECT_EQ(e5[2].percent, 100);
}

TEST_F(Cp3, ProgrammingWithTheLastItemFailingFails) {
    auto items = Items(3);
    fake.FailAt(id::kSendRecord, 3, 64, "5");   // 5 at the send: 264
    EXPECT_FALSE(RunItems(kPgmPlu, items, 1));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
    auto c = Host().Confirmations();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].code, 264);
    EXPECT_EQ(logic.GetErrorCode(), 264);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Aktualizacja Item 1");
    EXPECT_EQ(Count("45 I4 36"), 3);
}

TEST_F(Cp3, RefusedBeforeAnyCall) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        void (*change)(EcrItemRecord&, double);
        int code;
        std::string text;
    };
    const Case cases[] = {
        {"vat 0", [](EcrItemRecord& r, double) { r.vat_group = 0; }, 9, PL("Błędna stawka PTU")},
        {"vat 8", [](EcrItemRecord& r, double) { r.vat_group = 8; }, 9, PL("Błędna stawka PTU")},
        {"code 19", [](EcrItemRecord& r, double) { std::snprintf(r.code, sizeof r.code, "1234567890123456789"); },
         261, PL("Błędny numer towaru, kod kreskowy lub błąd w nazwie towaru")},
        {"code2 19", [](EcrItemRecord& r, double) { std::snprintf(r.code2, sizeof r.code2, "1234567890123456789"); },
         261, PL("Błędny numer towaru, kod kreskowy lub błąd w nazwie towaru")},
        {"negative", [](EcrItemRecord& r, double) { r.price = -0.01; }, 109, PL("Cena towaru poza zakresem")},
        {"nan", [](EcrItemRecord& r, double n) { r.price = n; }, 109, PL("Cena towaru poza zakresem")},
        {"too large", [](EcrItemRecord& r, double) { r.price = 21474836.40; }, 109, PL("Cena towaru poza zakresem")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host().Reset();
        auto items = Items(1);
        c.change(items[0], nan);
        EXPECT_FALSE(RunItems(kPgmPlu, items));
        EXPECT_EQ(Count("45"), 0);
        auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 1u);
        EXPECT_EQ(conf[0].code, c.code);
        EXPECT_EQ(conf[0].text, c.text);
    }
    // Trailing blanks do not count; the largest amount goes through.
    Host().Reset();
    auto items = Items(1);
    std::snprintf(items[0].code, sizeof items[0].code, "123456789012345678   ");
    items[0].price = 21474836.39;
    EXPECT_TRUE(RunItems(kPgmPlu, items));
}

TEST_F(Cp3, BreakEndsTheLoopWithoutConfirmation) {
    auto items = Items(3);
    fake.onMethod = [&](int dispid) {
        if (dispid == id::kEndWrite) serial.Break();
    };
    EXPECT_FALSE(RunItems(kPgmPlu, items));
    EXPECT_EQ(logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Count("45"), 1);
}

TEST_F(Cp3, SilentRegisterIsGivenUpAfterThreeItems) {
    auto items = Items(5);
    fake.FailAt(id::kReady, 0, 33);
    EXPECT_FALSE(RunItems(kPgmPlu, items));
    EXPECT_EQ(Count("7"), 3);
    auto c = Host().Confirmations();
    ASSERT_EQ(c.size(), 5u);
    for (const auto& x : c) EXPECT_EQ(x.code, 3033);
    EXPECT_EQ(logic.GetErrorCode(), 3033);
}

TEST_F(Cp3, DeleteDepartmentsAndUnits) {
    auto items = Items(2);
    fake.goods.clear();
    ASSERT_TRUE(RunItems(kPgmPlu, items));
    EXPECT_EQ(fake.goods.size(), 2u);
    Host().Reset();
    ASSERT_TRUE(RunItems(kDelPlu, items));
    EXPECT_TRUE(fake.goods.empty());
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Nazwa - Item 1");

    Host().Reset();
    std::vector<EcrDeptRecord> depts(2);
    for (int i = 0; i < 2; ++i) {
        depts[i] = EcrDeptRecord{};
        depts[i].number = static_cast<uint32_t>(i + 1);
        std::snprintf(depts[i].name, sizeof depts[i].name, "Dept %d", i + 1);
        depts[i].vat_group = 1;
    }
    depts[1].vat_group = 9;
    Prepare(kPgmDept);
    g_jobBlock.depts = depts.data();
    g_jobBlock.count = 2;
    EXPECT_FALSE(Run(kPgmDept));
    EXPECT_EQ(fake.depts.size(), 1u);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 9);

    Host().Reset();
    std::vector<EcrUnitRecord> units = {{1, "szt"}, {0, "bad"}, {3, "kilo"}};
    Prepare(kPgmUnit);
    g_jobBlock.units = units.data();
    g_jobBlock.count = 3;
    EXPECT_TRUE(Run(kPgmUnit));
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, 30);
    EXPECT_EQ(Host().Confirmations()[0].text, PL("Błędny indeks jednostki"));
    EXPECT_EQ(fake.units, (std::map<int, std::string>{{0, "szt"}, {2, "kilo"}}));
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Jednostka m. 1 - szt");
}

TEST_F(Cp3, ModelNineteenWritesAtMost255UnitsInOneTransfer) {
    EcrDeviceRecord d = orv::test::DeviceRecord(85, 3);
    orv::test::PrepareJobBlock(kPgmUnit, d);
    logic.SetSerial(&serial);
    serial.SetCallback(g_jobBlock.progressCb);
    ASSERT_EQ(logic.Open(3, &d), 1);
    EXPECT_EQ(logic.Protocol().GetModel(), 19);
    std::vector<EcrUnitRecord> units(300);
    for (int i = 0; i < 300; ++i) {
        units[i] = EcrUnitRecord{};
        units[i].number = static_cast<uint32_t>(i + 1);
        std::snprintf(units[i].name, sizeof units[i].name, "u%d", i);
    }
    fake.ClearLog();
    EXPECT_EQ(logic.PgmUNIT(0, units.data(), 300, nullptr), 1);
    EXPECT_EQ(Count("45 I4 50"), 1);
    EXPECT_EQ(Count("210"), 255);
    EXPECT_EQ(Count("46"), 1);
    EXPECT_EQ(fake.ControlMethods().back(), "2");   // the reconnect
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 255);
    logic.Close(3);
}

TEST_F(Cp3, ReadPluWithNoData) {
    fake.goods = {{{id::kPluNumber, Variant::I4(1)}, {id::kPluCode, Variant::Text("590001")},
                   {id::kPluName, Variant::Text("Chleb")}, {id::kPluVat, Variant::Text("A")}}};
    auto one = Items(1);
    std::snprintf(one[0].code, sizeof one[0].code, "nope");
    EXPECT_FALSE(RunItems(kReadPlu, one));
    EXPECT_EQ(logic.GetErrorCode(), 3017);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);

    Host().Reset();
    auto two = Items(2);   // 590001 exists, 590002 does not
    std::snprintf(two[0].code, sizeof two[0].code, "nope");
    std::snprintf(two[1].code, sizeof two[1].code, "590001");
    EXPECT_TRUE(RunItems(kReadPlu, two));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_STREQ(Host().Items()[0].name, "Chleb");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[1].text, "Kod kreskowy - 590001");

    // Another failure ends the slot at once.
    Host().Reset();
    fake.FailAt(id::kReady, 0, 66);
    EXPECT_FALSE(RunItems(kReadPlu, two));
    EXPECT_EQ(logic.GetErrorCode(), 3066);
    EXPECT_EQ(Count("7"), 1);
}

// The register keys goods by 18 characters: a longer code would read
// another item, so it is refused before any call.
TEST_F(Cp3, ReadPluRefusesACodeTooLong) {
    fake.goods = {{{id::kPluNumber, Variant::I4(1)}, {id::kPluCode, Variant::Text("123456789012345678")},
                   {id::kPluName, Variant::Text("Chleb")}, {id::kPluVat, Variant::Text("A")}}};
    auto one = Items(1);
    std::snprintf(one[0].code, sizeof one[0].code, "1234567890123456789");
    EXPECT_FALSE(RunItems(kReadPlu, one));
    EXPECT_EQ(logic.GetErrorCode(), 261);
    EXPECT_STREQ(logic.GetErrorMessage(), PL("Błędny numer towaru, kod kreskowy lub błąd w nazwie towaru"));
    EXPECT_TRUE(Host().Items().empty());
    EXPECT_EQ(Count("7"), 0);
    EXPECT_EQ(Count("10"), 0);
    const auto errors = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].value, 261);

    // Trailing blanks do not count.
    Host().Reset();
    std::snprintf(one[0].code, sizeof one[0].code, "123456789012345678   ");
    EXPECT_TRUE(RunItems(kReadPlu, one));
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_STREQ(Host().Items()[0].name, "Chleb");
}

TEST_F(Cp3, ReadSlotsHandRecordsToTheHost) {
    fake.goods = {{{id::kPluNumber, Variant::I4(7)}, {id::kPluCode, Variant::Text("590007")},
                   {id::kPluName, Variant::Text("Ser")}, {id::kPluVat, Variant::Text("C")},
                   {id::kPluPrice, Variant::Currency(99900)}, {id::kPluWeighed, Variant::I4(2)},
                   {id::kPluUnit, Variant::I4(2)}}};
    fake.depts = {{{id::kPluCode, Variant::Text(" 4")}, {id::kPluName, Variant::Text("Napoje")},
                   {id::kPluVat, Variant::Text("A")}, {id::kPluFlags, Variant::I4(2 | 8)}}};
    fake.units = {{0, "szt"}};
    Prepare(kReadAllPlu);
    ASSERT_TRUE(Run(kReadAllPlu));
    ASSERT_EQ(Host().Items().size(), 1u);
    EcrItemRecord it = Host().Items()[0];
    EXPECT_EQ(it.number, 7u);
    EXPECT_STREQ(it.code, "590007");
    EXPECT_EQ(it.vat_group, 3u);
    EXPECT_DOUBLE_EQ(it.price, 9.99);
    EXPECT_EQ(it.attr4, 1u);
    EXPECT_EQ(it.unit, 2u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    Host().Reset();
    Prepare(kReadAllDept);
    ASSERT_TRUE(Run(kReadAllDept));
    ASSERT_EQ(Host().Depts().size(), 1u);
    EXPECT_EQ(Host().Depts()[0].number, 4u);
    EXPECT_EQ(Host().Depts()[0].word92, 2u);
    EXPECT_EQ(Host().Depts()[0].word96, 2u);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "DEPT - 1");

    Host().Reset();
    Prepare(kReadAllUnit);
    ASSERT_TRUE(Run(kReadAllUnit));
    ASSERT_EQ(Host().Units().size(), 1u);
    EXPECT_EQ(Host().Units()[0].number, 1u);
    EXPECT_STREQ(Host().Units()[0].name, "szt");

    // A failing read copies the protocol's code and text.
    Host().Reset();
    fake.FailAt(id::kBeginRead, 0, 66);
    Prepare(kReadAllUnit);
    EXPECT_FALSE(Run(kReadAllUnit));
    EXPECT_EQ(logic.GetErrorCode(), 3066);
    EXPECT_STREQ(logic.GetErrorMessage(), PL("Urządzenie nie odpowiada (nie można nawiązać połączenia z kasą)"));
}

TEST_F(Cp3, SaleReportsAndClearing) {
    fake.sales2 = {SaleRec("1", 3, 45000)};
    fake.sales = {SaleRec("2", 5, 10000, 2, 4000), SaleRec("3", 0, 0, 2, 4000)};
    Prepare(kClearSale);
    ASSERT_TRUE(Run(kClearSale));
    auto s = Host().Sales();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_DOUBLE_EQ(s[0].sale.quantity, 3);
    EXPECT_DOUBLE_EQ(s[0].sale.value, 4.5);
    EXPECT_STREQ(s[0].item.code, "1");
    EXPECT_STREQ(s[0].sale.name, "N1");
    EXPECT_DOUBLE_EQ(s[1].sale.quantity, 5);
    EXPECT_DOUBLE_EQ(s[2].sale.quantity, -2);
    EXPECT_DOUBLE_EQ(s[2].sale.value, 0.4);   // the value is not negated
    EXPECT_DOUBLE_EQ(s[3].sale.quantity, -2);
    EXPECT_EQ(s[3].sale.kind, 0u);
    EXPECT_TRUE(fake.sales.empty());
    EXPECT_EQ(Count("10 I4 22 INT 0 INT 0 I4 0 I4 2"), 1);
    EXPECT_EQ(Count("10 I4 27 INT 0 INT 0 I4 0 I4 2"), 1);

    // The first report refused with 3032 counts as done.
    Host().Reset();
    fake.sales2 = {SaleRec("1", 3, 45000)};
    fake.calls.clear();
    fake.FailAt(id::kFetchSale, 2, 32);
    Prepare(kClearSale);
    EXPECT_TRUE(Run(kClearSale));
    EXPECT_EQ(logic.GetErrorCode(), 0);
    // The second report failing is a failure.
    Host().Reset();
    fake.failures.clear();
    fake.FailAt(id::kBeginRead, 0, 32);
    Prepare(kClearSale);
    EXPECT_FALSE(Run(kClearSale));
    EXPECT_EQ(logic.GetErrorCode(), 3032);
}

TEST_F(Cp3, SaleReadRenewsTheConnectionOnce) {
    fake.sales = {SaleRec("2", 1, 100)};
    fake.sales2 = {SaleRec("2", 1, 100)};
    Prepare(kReadSale);
    ASSERT_TRUE(Run(kReadSale));
    // Open, the second report, the renewal, the first report, the close.
    EXPECT_EQ(fake.ControlMethods(),
              (Lines{"31 I4 0", "2", "7", "10 I4 22 INT 0 INT 0 I4 0 I4 0", "16 OBJECT", "20", "4", "2", "7",
                     "10 I4 27 INT 0 INT 0 I4 0 I4 0", "16 OBJECT", "20", "4"}));
    EXPECT_EQ(Host().Sales().size(), 2u);
    EXPECT_EQ(fake.sales.size(), 1u);   // mode 0 leaves the counters
}

TEST_F(Cp3, ReceiptLoop) {
    const uint32_t kReceiptMode = 2;
    fake.receipts = {{"0000123", {SaleRec("5", 2, 5000), SaleRec("6", 1, 100)}}, {"0000124", {SaleRec("7", 1, 200)}}};
    Prepare(kReadSale, 26, kReceiptMode);
    ASSERT_TRUE(Run(kReadSale));
    auto s = Host().Sales();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_STREQ(s[0].sale.text, "0000123");
    EXPECT_EQ(s[0].sale.kind, 1u);
    EXPECT_EQ(s[0].sale.number, 123u);
    EXPECT_STREQ(s[2].sale.code, "7");
    EXPECT_DOUBLE_EQ(s[0].sale.value, 0.5);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Numer paragonu 0000123");
    EXPECT_EQ(logic.GetErrorCode(), 0);

    // Six time-outs in a row go on; the seventh fails the read.
    for (int timeouts : {6, 7}) {
        SCOPED_TRACE(timeouts);
        Host().Reset();
        fake.failures.clear();
        fake.calls.clear();
        fake.receipts = {{"1", {SaleRec("5", 1, 100)}}};
        for (int i = 1; i <= timeouts; ++i) fake.FailAt(id::kReceiptStep, i, 33);
        Prepare(kReadSale, 26, kReceiptMode);
        EXPECT_EQ(Run(kReadSale), timeouts == 6);
        EXPECT_EQ(Host().Sales().size(), timeouts == 6 ? 1u : 0u);
        if (timeouts == 7) {
            EXPECT_EQ(logic.GetErrorCode(), 3033);
        }
    }
    // Another code ends it.
    Host().Reset();
    fake.failures.clear();
    fake.FailAt(id::kReady, 0, 66);
    Prepare(kReadSale, 26, kReceiptMode);
    EXPECT_FALSE(Run(kReadSale));
    EXPECT_EQ(logic.GetErrorCode(), 3066);
}

TEST_F(Cp3, VatAndStatus) {
    // The exempt rate (999900) and one never programmed (989900) reach the
    // host by meaning: -1.0 and -3.0.
    fake.rates = {230000, 80000, 999900, 989900};
    Prepare(kReadVat, 71);
    ASSERT_TRUE(Run(kReadVat));
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    auto v = Host().VatCalls()[0];
    EXPECT_DOUBLE_EQ(v[0], 23.0);
    EXPECT_DOUBLE_EQ(v[2], -1.0);
    EXPECT_DOUBLE_EQ(v[3], -3.0);
    EXPECT_DOUBLE_EQ(v[4], -3.0);
    EXPECT_DOUBLE_EQ(v[6], -1.0);
    auto waits = Host().EventsWithCode(ECR_EVENT_WAIT);
    EXPECT_EQ(waits.back().percent, 100);

    Host().Reset();
    fake.library = "lib-2.07";
    Prepare(kReadStatus);
    ASSERT_TRUE(Run(kReadStatus));
    ASSERT_EQ(Host().StatusCalls().size(), 1u);
    auto st = Host().StatusCalls()[0].status;
    EXPECT_STREQ(st.unique_number, "ABC123456789012");   // 15 characters
    EXPECT_STREQ(st.device_text, "ver.1.05 lib.lib-2.07");
    EXPECT_EQ(Count("52"), 1);

    Host().Reset();
    fake.deviceInfoOk = false;
    Prepare(kReadStatus);
    ASSERT_TRUE(Run(kReadStatus));
    EXPECT_STREQ(Host().StatusCalls()[0].status.unique_number, "?");
    EXPECT_STREQ(Host().StatusCalls()[0].status.device_text, "ver.1.05 lib.?");
}

}  // namespace
