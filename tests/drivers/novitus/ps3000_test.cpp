// The fiscal-control protocol object against the fake control: connection
// settings, transfers and how failures become codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/novitus/ps3000.h"
#include "drivers/novitus/ps3000_ids.h"
#include "fakes/fake_fiscal_control.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

namespace {

using orv::novitus::CPs3000;
using orv::novitus::Ps3000Dept;
using orv::novitus::Ps3000Plu;
using orv::novitus::Ps3000Sale;
using orv::novitus::Ps3000Unit;
using orv::platform::Variant;
using orv::test::FakeNovitus;
using orv::test::FakeProps;
using Lines = std::vector<std::string>;
namespace id = orv::novitus::ids;

class Ps3000 : public ::testing::Test {
protected:
    void SetUp() override { ps.SetSerial(&serial); }
    void Connect(int model = 1) {
        ps.SetModel(model);
        ASSERT_EQ(ps.Connect(CPs3000::kSerial, 3, 9600, ""), 1);
        fake.ClearLog();
    }
    static Ps3000Plu Plu(uint32_t number, const char* code, double price = 1.0) {
        Ps3000Plu p{};
        p.number = number;
        std::snprintf(p.code, sizeof p.code, "%s", code);
        std::snprintf(p.name, sizeof p.name, "Name %u", number);
        p.vat = 1;
        p.price = price;
        return p;
    }
    static FakeProps Goods(int number, const std::string& code, const std::string& name) {
        return {{id::kPluNumber, Variant::I4(number)},
                {id::kPluCode, Variant::Text(code)},
                {id::kPluName, Variant::Text(name)},
                {id::kPluPrice, Variant::Currency(12300)},
                {id::kPluVat, Variant::Text("B")}};
    }

    FakeNovitus fake;
    CTelepathy serial;
    CPs3000 ps;
};

TEST_F(Ps3000, ConnectPutsTheSettingsInOrderAndOpens) {
    const std::string tmp = "TEXT \"" + orv::platform::TempDirectory() + "\"";
    const struct {
        int kind;
        uint32_t value;
        int model;
        Lines settings;
        std::string open;
    } cases[] = {
        {CPs3000::kSerial, 3, 13,
         {"settings 9 P TEXT \"\"", "settings 10 P I4 0", "settings 210 P BOOL TRUE", "settings 211 P " + tmp,
          "settings 1 P TEXT \"COM3\"", "settings 3 P I4 8", "settings 2 P I4 9600", "settings 5 P I4 0",
          "settings 4 P I4 1", "settings 7 P I4 2"},
         "31 I4 0"},
        {CPs3000::kSerial, 12, 19,
         {"settings 9 P TEXT \"\"", "settings 10 P I4 0", "settings 210 P BOOL TRUE", "settings 211 P " + tmp,
          "settings 1 P TEXT \"COM12\"", "settings 3 P I4 8", "settings 2 P I4 9600", "settings 5 P I4 0",
          "settings 4 P I4 1", "settings 7 P I4 2", "settings 7 P I4 0"},
         "31 I4 0"},
        {CPs3000::kTcp, 0xC0A80132u, 1,
         {"settings 9 P TEXT \"\"", "settings 10 P I4 0", "settings 210 P BOOL TRUE", "settings 211 P " + tmp,
          "settings 13 P TEXT \"192.168.1.50\"", "settings 1 P TEXT \"5001\"", "settings 6 P I4 20000",
          "settings 8 P I4 300000", "settings 12 P I4 40000"},
         "31 I4 3"},
    };
    int window = 0;
    serial.SetNotifyWindow(&window, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.open + " model " + std::to_string(c.model));
        fake.ClearLog();
        ps.SetModel(c.model);
        ASSERT_EQ(ps.Connect(c.kind, c.value, 9600, ""), 1);
        EXPECT_TRUE(ps.IsConnected());
        EXPECT_EQ(fake.lastParent, &window);
        EXPECT_EQ(fake.Lines("settings"), c.settings);
        Lines control = fake.Lines("control");
        ASSERT_GE(control.size(), 5u);
        EXPECT_EQ(control[0], "control 30 P TEXT \"\"");
        EXPECT_EQ(control[1], "control 54 P BOOL TRUE");
        EXPECT_EQ(control[2], "control 64 G");
        EXPECT_EQ(fake.ControlMethods(), (Lines{c.open, "2"}));
        ps.Disconnect();
        EXPECT_FALSE(ps.IsConnected());
        EXPECT_EQ(fake.ControlMethods().back(), "4");
    }
}

TEST_F(Ps3000, ConnectFailures) {
    // No control at all: the installation message.
    fake.failControl = true;
    EXPECT_EQ(ps.Connect(CPs3000::kSerial, 1, 9600, ""), 0);
    EXPECT_EQ(ps.m_nError, 9997);
    EXPECT_EQ(ps.GetErrorText(9997),
              PL("Błąd instalacji sterownika ActiveX. Do pobrania na stronie www producenta pod adresem :"));
    fake.failControl = false;

    // Serial number connection: the control is created, nothing more.
    fake.ClearLog();
    EXPECT_EQ(ps.Connect(CPs3000::kSerialNumber, 0, 0, "SerialNumber"), 0);
    EXPECT_EQ(ps.m_nError, 999999);
    EXPECT_EQ(fake.controlsCreated, 1);
    EXPECT_TRUE(fake.ControlMethods().empty());

    // Method 31 refused with the control's code; with none at all, 3067.
    fake.FailAt(id::kOpen, 1, 66);
    EXPECT_EQ(ps.Connect(CPs3000::kSerial, 1, 9600, ""), 0);
    EXPECT_EQ(ps.m_nError, 3066);
    fake.FailAt(id::kOpen, 2, 0);
    EXPECT_EQ(ps.Connect(CPs3000::kSerial, 1, 9600, ""), 0);
    EXPECT_EQ(ps.m_nError, 3067);

    // Method 2 failing after a good 31: the connection is closed again.
    fake.ClearLog();
    fake.FailAt(id::kCheck, 1, 0);
    EXPECT_EQ(ps.Connect(CPs3000::kSerial, 1, 9600, ""), 0);
    EXPECT_EQ(ps.m_nError, 3067);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"31 I4 0", "2", "4"}));
    EXPECT_FALSE(ps.IsConnected());
}

TEST_F(Ps3000, NativeErrorsAsTheControlReportsThem) {
    const struct {
        int nativeMode;
        int code;
        const char* hex23;
        bool m21;
        const char* hex21;
        int expected;
    } cases[] = {
        {1, 64, "1A", true, "", 26},        {1, 64, "105", true, "", 261},  {1, 64, "xyz", true, "", 3064},
        {1, 64, "", true, "", 3064},        {1, 64, "0", true, "", 3064},   {1, 33, "1A", true, "", 3033},
        {0, 64, "", true, "C8", 200},       {0, 64, "", false, "C8", 3064}, {0, 64, "", true, "-1", 3064},
        {0, 17, "", true, "C8", 3017},
        // A control code that 3000 + code cannot hold as a control code
        // (the sum would overflow, or end at or below nought and read as
        // success or as a line failure) is the control's undefined error.
        {0, 2147483647, "", true, "", 3065}, {0, 2147480648, "", true, "", 3065},
        {0, -3005, "", true, "", 3065},      {0, -3000, "", true, "", 3065},
        {1, -1, "", true, "", 3065},         {0, 2147480647, "", true, "", 2147483647},
    };
    Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.nativeMode) + "/" + std::to_string(c.code) + "/" + c.hex23 + "/" + c.hex21);
        fake.forceNativeMode = c.nativeMode;
        fake.lastCode = c.code;
        fake.lastHex = c.hex23;
        fake.method21Ok = c.m21;
        fake.method21Hex = c.hex21;
        ps.m_nError = 0;
        ps.ReadNativeError();
        EXPECT_EQ(ps.m_nError, c.expected);
    }
    // A break is kept.
    ps.m_nError = -7;
    ps.ReadNativeError();
    EXPECT_EQ(ps.m_nError, -7);
}

TEST_F(Ps3000, GoodsWriteCallsAndValues) {
    Connect();
    Ps3000Plu p = Plu(17, "", 12.345);
    p.vat = 7;
    p.priceMode = 2;
    p.option = 2;
    p.weighed = 1;
    p.unit = 3;
    ASSERT_EQ(ps.WritePlu(p), 1);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 49", "37 OBJECT I4 0", "46"}));
    Lines plu = fake.Lines("Plu");
    EXPECT_EQ(plu, (Lines{"Plu 201 P I4 17", "Plu 3 P TEXT \"17\"", "Plu 2 P TEXT \"Name 17\"", "Plu 7 P CY 123400",
                          "Plu 15 P TEXT \"G\"", "Plu 20 P I4 0", "Plu 17 P I4 10", "Plu 8 P I4 0", "Plu 18 P I4 0",
                          "Plu 13 P TEXT \"\"", "Plu 202 P I4 3", "Plu 1 P I4 2", "Plu 203 P R8 0", "Plu 204 P I4 0"}));
    EXPECT_EQ(fake.objectsAlive, 2);   // the control and its settings: the goods object was released

    fake.ClearLog();
    Ps3000Plu zero = Plu(0, "");
    ASSERT_EQ(ps.UpdatePlu(zero), 1);
    EXPECT_EQ(fake.Lines("Plu")[1], "Plu 3 P TEXT \"\"");
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 36", "37 OBJECT I4 2", "46"}));
    fake.ClearLog();
    ASSERT_EQ(ps.DeletePlu(Plu(5, "5")), 1);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 8", "37 OBJECT I4 3", "46"}));
    fake.ClearLog();
    Ps3000Plu b = Plu(5, "590");
    std::snprintf(b.text2, sizeof b.text2, "591");
    ASSERT_EQ(ps.WriteBarcodeRecord(b), 1);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 33", "47 OBJECT", "46"}));
    EXPECT_EQ(fake.Lines("Barcode"), (Lines{"Barcode 1 P TEXT \"590\"", "Barcode 2 P TEXT \"591\""}));
    fake.ClearLog();
    Ps3000Dept d{};
    d.number = 3;
    std::snprintf(d.name, sizeof d.name, "Pieczywo");
    d.vat = 2;
    d.amount = 1.5;
    d.priceMode = 1;
    ASSERT_EQ(ps.WriteDept(d), 1);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 7", "37 OBJECT I4 0", "46"}));
    EXPECT_EQ(fake.Lines("Plu"), (Lines{"Plu 3 P TEXT \" 3\"", "Plu 2 P TEXT \"Pieczywo\"", "Plu 15 P TEXT \"B\"",
                                        "Plu 7 P CY 15000", "Plu 18 P I4 0", "Plu 17 P I4 1"}));
}

TEST_F(Ps3000, WriteFailingAtEachStep) {
    const struct {
        int dispid;
        int code;
        std::string hex;
        int expected;
        Lines methods;
    } cases[] = {
        {id::kReady, 66, "", 3066, {"7"}},
        {id::kBeginWrite, 17, "", 3017, {"7", "45 I4 49"}},
        {id::kSendRecord, 64, "5", 264, {"7", "45 I4 49", "37 OBJECT I4 0"}},   // refused with 5 at the send
        {id::kSendRecord, 64, "1A", 26, {"7", "45 I4 49", "37 OBJECT I4 0"}},
        {id::kEndWrite, 64, "5", 5, {"7", "45 I4 49", "37 OBJECT I4 0", "46"}},   // 5 elsewhere stays 5
    };
    Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dispid);
        fake.failures.clear();
        fake.calls.clear();
        fake.ClearLog();
        fake.FailAt(c.dispid, 0, c.code, c.hex);
        EXPECT_EQ(ps.WritePlu(Plu(1, "1")), 0);
        EXPECT_EQ(ps.m_nError, c.expected);
        Lines m = fake.ControlMethods();
        EXPECT_EQ(m, c.methods);
        EXPECT_EQ(fake.objectsAlive, 2);
    }
    // The goods object cannot be created: 9997, no call.
    fake.failures.clear();
    fake.ClearLog();
    fake.failClasses.insert(id::kClassPlu);
    EXPECT_EQ(ps.WritePlu(Plu(1, "1")), 0);
    EXPECT_EQ(ps.m_nError, 9997);
    EXPECT_TRUE(fake.ControlMethods().empty());
}

TEST_F(Ps3000, ModelNineteenReconnectsAfterEachWrite) {
    Connect(19);
    ASSERT_EQ(ps.WritePlu(Plu(1, "1")), 1);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 49", "37 OBJECT I4 0", "46", "4", "2"}));
    fake.ClearLog();
    fake.FailAt(id::kDisconnect, 0, 0);
    Ps3000Unit u[3] = {{1, "szt"}, {2, "kg"}, {3, "l"}};
    ASSERT_EQ(ps.WriteUnit(u, 3), 1);
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "45 I4 50", "210 I4 0 TEXT \"szt\"", "210 I4 1 TEXT \"kg\"",
                                            "210 I4 2 TEXT \"l\"", "46", "4"}));
}

TEST_F(Ps3000, ReadsEndAtTheEndFlag) {
    fake.goods = {Goods(1, "590001", "Chleb"), Goods(2, "590002", "Mleko")};
    Connect();
    std::vector<Ps3000Plu> got;
    auto sink = [](void* ctx, const Ps3000Plu& p) { static_cast<std::vector<Ps3000Plu>*>(ctx)->push_back(p); };
    ASSERT_EQ(ps.ReadAllPlus(sink, &got), 1);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[1].code, "590002");
    EXPECT_EQ(got[1].vat, 2u);
    EXPECT_DOUBLE_EQ(got[1].price, 1.23);
    EXPECT_EQ(fake.ControlMethods(),
              (Lines{"7", "10 I4 49 INT 0 INT 0 I4 0 I4 0", "8 OBJECT", "20", "8 OBJECT", "20"}));

    // The first record already ends the read: exactly one record.
    fake.goods.resize(1);
    got.clear();
    ASSERT_EQ(ps.ReadAllPlus(sink, &got), 1);
    EXPECT_EQ(got.size(), 1u);

    // Without an end flag the read stops when the control has no more data.
    fake.readWithoutEnd = true;
    got.clear();
    EXPECT_EQ(ps.ReadAllPlus(sink, &got), 0);
    EXPECT_EQ(ps.m_nError, 3017);
    EXPECT_EQ(got.size(), 1u);
}

TEST_F(Ps3000, DepartmentsUnitsAndOneGoodsItem) {
    fake.depts = {{{id::kPluCode, Variant::Text(" 4")},
                   {id::kPluName, Variant::Text("Napoje")},
                   {id::kPluVat, Variant::Text("Z")},
                   {id::kPluPrice, Variant::Currency(25000)},
                   {id::kPluFlags, Variant::I4(1 | 4)}}};
    fake.units = {{0, "szt"}, {4, "kg"}};
    fake.goods = {Goods(1, "590001", "Chleb"), Goods(2, "590002", "Mleko")};
    Connect();
    std::vector<Ps3000Dept> depts;
    ASSERT_EQ(ps.ReadAllDepts([](void* c, const Ps3000Dept& d) { static_cast<std::vector<Ps3000Dept>*>(c)->push_back(d); },
                              &depts),
              1);
    ASSERT_EQ(depts.size(), 1u);
    EXPECT_EQ(depts[0].number, 4u);
    EXPECT_EQ(depts[0].vat, 7u);   // "Z"
    EXPECT_DOUBLE_EQ(depts[0].amount, 2.5);
    EXPECT_EQ(depts[0].priceMode, 1u);   // the writer's bit order
    EXPECT_EQ(depts[0].option, 1u);

    std::vector<Ps3000Unit> units;
    ASSERT_EQ(ps.ReadAllUnits([](void* c, const Ps3000Unit& u) { static_cast<std::vector<Ps3000Unit>*>(c)->push_back(u); },
                              &units),
              1);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1].index, 5u);
    EXPECT_STREQ(units[1].name, "kg");

    fake.ClearLog();
    Ps3000Plu one{};
    std::snprintf(one.code, sizeof one.code, "590002");
    ASSERT_EQ(ps.ReadPlu(one), 1);
    EXPECT_STREQ(one.name, "Mleko");
    EXPECT_EQ(fake.ControlMethods(),
              (Lines{"7", "10 I4 49 TEXT \"590002\" TEXT \"590002\" I4 1 I4 0", "8 OBJECT", "20"}));
    std::snprintf(one.code, sizeof one.code, "nope");
    EXPECT_EQ(ps.ReadPlu(one), 0);
    EXPECT_EQ(ps.m_nError, 3017);
}

TEST_F(Ps3000, BreakEndsEveryTransferWithMinusSeven) {
    fake.goods = {Goods(1, "1", "A"), Goods(2, "2", "B")};
    fake.depts = fake.goods;
    fake.units = {{0, "szt"}, {1, "kg"}};
    fake.sales = fake.sales2 = fake.goods;
    fake.receipts = {{"12", {Goods(1, "1", "A"), Goods(2, "2", "B")}}};
    Connect();
    const std::vector<std::pair<std::string, std::function<int()>>> transfers = {
        {"goods", [&] { return ps.ReadAllPlus(+[](void*, const Ps3000Plu&) {}, nullptr); }},
        {"depts", [&] { return ps.ReadAllDepts(+[](void*, const Ps3000Dept&) {}, nullptr); }},
        {"units", [&] { return ps.ReadAllUnits(+[](void*, const Ps3000Unit&) {}, nullptr); }},
        {"sales", [&] { return ps.ReadPluSales(2, +[](void*, const Ps3000Sale&) {}, nullptr); }},
        {"sales2", [&] { return ps.ReadPluSales2(2, +[](void*, const Ps3000Sale&) {}, nullptr); }},
        {"receipts", [&] { return ps.ReadReceipts(+[](void*, const Ps3000Sale&) {}, nullptr); }},
    };
    for (const auto& [name, run] : transfers) {
        SCOPED_TRACE(name);
        // Break once the first record was fetched: the next record's test sees it.
        serial.ClearBreak();
        fake.onMethod = [&](int dispid) {
            if (dispid == id::kNext || dispid == id::kFetchReceiptItem) serial.Break();
        };
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(ps.m_nError, -7);
        fake.onMethod = nullptr;
    }
    // A break before a write: no call at all.
    serial.Break();
    fake.ClearLog();
    EXPECT_EQ(ps.WritePlu(Plu(1, "1")), 0);
    EXPECT_EQ(ps.m_nError, -7);
    EXPECT_TRUE(fake.ControlMethods().empty());
    serial.ClearBreak();
}

TEST_F(Ps3000, VatRatesAndLetters) {
    fake.rates = {230000, 80000, 50000, 0, 999900, 989900, 235000, 10000, 70000};   // 9: the ninth is not read
    Connect();
    double r[8];
    ASSERT_EQ(ps.ReadVatRates(r), 1);
    // 999900 is the exempt rate (-1.0), 989900 one never programmed (-3.0).
    const double expected[8] = {23.0, 8.0, 5.0, 0.0, -1.0, -3.0, 23.5, 1.0};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(r[i], expected[i]) << i;
    EXPECT_EQ(fake.ControlMethods(), (Lines{"7", "10 I4 40 INT 0 INT 0 I4 2 I4 0", "25 OBJECT", "20"}));

    fake.rates = {230000};
    ASSERT_EQ(ps.ReadVatRates(r), 1);
    EXPECT_DOUBLE_EQ(r[0], 23.0);
    EXPECT_DOUBLE_EQ(r[1], -3.0);
    EXPECT_DOUBLE_EQ(r[6], -1.0);

    int err = 0;
    EXPECT_EQ(CPs3000::TaxLetterToIndex("Z", &err), 7u);
    EXPECT_EQ(CPs3000::TaxLetterToIndex("A", &err), 1u);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(CPs3000::TaxLetterToIndex("", &err), 0u);
    EXPECT_EQ(err, 9999);
    err = 0;
    EXPECT_EQ(CPs3000::TaxIndexToLetter(7, &err), "G");
    EXPECT_EQ(CPs3000::TaxIndexToLetter(8, &err), " ");
    EXPECT_EQ(err, 9999);
    EXPECT_EQ(CPs3000::ToCurrency(12.345), 123400);
}

TEST_F(Ps3000, ErrorTexts) {
    const std::string bad = PL("Błędny numer towaru, kod kreskowy lub błąd w nazwie towaru");
    const struct {
        int code;
        std::string text;
    } cases[] = {
        {9997, PL("Błąd instalacji sterownika ActiveX. Do pobrania na stronie www producenta pod adresem :")},
        {261, bad},
        {264, bad},
        {3017, PL("Nie ma danych do pobrania")},
        {3067, PL("Połączenie nie zostało nawiązane")},
        {3070, PL("Wystąpił błąd urządzenia umożliwiającego połączenie")},
        {3019, CTelepathyECR().GetErrorText(19)},   // not a control code: the common text of code - 3000
        {1, PL("Typ zadania niezgodny z typem pakietu startowego")},
        {255, PL("Operacja anulowana przez kasę")},
        {18, CTelepathyECR().GetErrorText(18)},
        {999999, PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki")},
        {-7, CTelepathyECR().GetErrorText(-7)},
    };
    for (const auto& c : cases) EXPECT_EQ(ps.GetErrorText(c.code), c.text) << c.code;
}

TEST_F(Ps3000, DestroyedControlFailsCleanly) {
    Connect();
    ps.DestroyControl();
    EXPECT_EQ(ps.WritePlu(Plu(1, "1")), 0);
    EXPECT_EQ(ps.m_nError, 3068);
    ps.Disconnect();
    EXPECT_EQ(fake.objectsAlive, 0);
}

}  // namespace
