// The Combo register jobs through the Posnet libraries: VAT and status, the
// request pattern's failures, goods, barcodes, groups and units, the checks
// made before any request, sales in both modes with the sale log, breaks
// and a register that stops answering.
#include <cmath>
#include <cstring>

#include "drivers/posnet/combo/combo_fixture.h"

namespace orv::test {
namespace {

using Args = std::vector<std::string>;

class ComboJobs : public ComboTest {
protected:
    std::vector<std::pair<uint32_t, int>> Confirms() const {
        std::vector<std::pair<uint32_t, int>> out;
        for (const HostConfirm& c : Host().Confirmations()) out.emplace_back(c.number, c.code);
        return out;
    }
    // Arguments after the device and the request field.
    std::vector<Args> Sent(const std::string& name) const {
        std::vector<Args> out;
        for (Args a : fake.CallsOf(name)) {
            a.erase(a.begin(), a.begin() + 2);
            out.push_back(a);
        }
        return out;
    }
};

TEST_F(ComboJobs, VatRatesAndStatusText) {
    const std::pair<const char*, std::vector<double>> vats[] = {
        {"2300,800,65534,65535,500,0,65535", {23, 8, -1, -3, 5, 0, -3, -3}},
        {"550,2300,0,0,0,0,0", {5.5, 23, 0, 0, 0, 0, 0, -3}},
    };
    for (const auto& [answer, rates] : vats) {
        fake.Reset();
        Host().Reset();
        fake.Do("vat", "", answer);
        EcrDeviceRecord dev = Device(61);
        Prepare(15, dev);
        ASSERT_EQ(Run(15, dev), 0) << ErrorText();
        ASSERT_EQ(Host().VatCalls().size(), 1u);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(Host().VatCalls()[0][i], rates[i]) << answer << " rate " << i;
        EXPECT_EQ(Host().EventCodes(), (std::vector<int>{1, 2, 4, 9, 4, 10, 11}));
        EXPECT_EQ(Host().EventsWithCode(4)[1].percent, 100);
    }

    const std::pair<const char*, const char*> statuses[] = {
        {"7|1|1|ABC123|2.05",
         "Typ kasy : (7) ?\r\nTryb pracy fiskalny\r\nTotalizery niezerowe\r\nNumer unikatowy : ABC123\r\n"
         "Wersja software'u : 2.05\r\n"},
        {"24|2|0|X|1", "Typ kasy : POSNET NEO XL EJ\r\nTryb pracy tylko do odczytu\r\nTotalizery zerowe\r\n"
                       "Numer unikatowy : X\r\nWersja software'u : 1\r\n"},
        {"3|0|0||", "Typ kasy : POSNET COMBO\r\nTryb pracy niefiskalny\r\nTotalizery zerowe\r\n"
                    "Numer unikatowy : \r\nWersja software'u : \r\n"},
    };
    for (const auto& [answer, text] : statuses) {
        fake.Reset();
        Host().Reset();
        fake.Do("status", "", answer);
        EcrDeviceRecord dev = Device(90);
        Prepare(14, dev);
        ASSERT_EQ(Run(14, dev), 0) << ErrorText();
        ASSERT_EQ(Host().StatusCalls().size(), 1u);
        EXPECT_EQ(std::string(Host().StatusCalls()[0].status.information), text);
        EXPECT_EQ(Host().StatusCalls()[0].vat[0], 23.0);
    }
}

struct StepCase {
    const char* what;
    uint32_t job;
    const char* entry;
    int call;          // the call of entry that fails (the open makes the first wait and status)
    long long code;    // what it returns
    int error;         // the job's error
};

// A library code with its top bit set is no code the system knows: as an
// int it would read as the job's own codes (-7 broken off, -5 no answer). It
// fails the job with the undefined error.
TEST_F(ComboJobs, AFailureAtEachStepOfARequestIsReportedAndTheRequestDestroyed) {
    const StepCase cases[] = {
        {"builder", 15, "POSS_VATGet", 1, 0x430032, 0x430032},
        {"wait", 15, "POS_WaitForRequestCompleted", 2, 0x10003, 0x10003},
        {"getter", 15, "POSG_VATGet", 1, 0x440006, 0x440006},
        {"status of a write", 11, "POS_GetRequestStatus", 2, 0x430385, 0x430385},
        {"context of a list", 9, "POS_GetRequestStatus", 2, 0x430141, 0x430141},
        {"next read of a list", 12, "POSS_MURead", 2, 0x430032, 0x430032},
        {"builder, top bit", 15, "POSS_VATGet", 1, 0xFFFFFFF9LL, 9999},
        {"wait, top bit", 15, "POS_WaitForRequestCompleted", 2, 0xFFFFFFFBLL, 9999},
        {"getter, top bit", 15, "POSG_VATGet", 1, 0x80000000LL, 9999},
        {"status of a write, top bit", 11, "POS_GetRequestStatus", 2, 0xFFFFFFF9LL, 9999},
        {"next read of a list, top bit", 12, "POSS_MURead", 2, 0xFFFFFFFFLL, 9999},
    };
    std::vector<EcrDeptRecord> depts(1);
    depts[0].number = 4;
    std::strcpy(depts[0].name, "Pieczywo");
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.what);
        fake.Reset();
        Host().Reset();
        fake.Do("unit", "", "1|kilogram|kg");
        fake.Do("unit", "", "2|sztuka|szt");
        fake.At(c.entry, c.call, c.code);
        EcrDeviceRecord dev = Device(61);
        Prepare(c.job, dev);
        Array(depts);
        EXPECT_EQ(Run(c.job, dev), c.error);
        EXPECT_EQ(ErrorText(), logic.GetErrorText(c.error));
        EXPECT_EQ(Host().VatCalls().size(), 0u);
        EXPECT_TRUE(fake.Balanced()) << fake.Counts();
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
    }
}

TEST_F(ComboJobs, GoodsListsEndByTheEndCodeOnlyAFailureOrANumberlessRecordFailsThem) {
    fake.Do("goods", "", "1|5901234567890|Chleb|0|350|1|2|3|4|5|6|7|8");
    fake.Do("goods", "", "2|590|Mleko|1|219|2|0|1|0|0|0|0|0");
    fake.Do("goods", "", "40000|591|Woda|6|0|1|0|1|0|0|0|0|0");
    EcrDeviceRecord dev = Device(61);
    Prepare(3, dev);
    ASSERT_EQ(Run(3, dev), 0) << ErrorText();
    std::vector<EcrItemRecord> items = Host().Items();
    ASSERT_EQ(items.size(), 3u);
    const EcrItemRecord& a = items[0];
    EXPECT_EQ(a.number, 1u);
    EXPECT_STREQ(a.code, "5901234567890");
    EXPECT_STREQ(a.name, "Chleb");
    EXPECT_EQ(a.vat_group, 1u);
    EXPECT_EQ(Value(a.price), 3.5);
    EXPECT_EQ(a.unit, 1u);
    EXPECT_EQ(a.attr1, 2u);
    EXPECT_EQ(a.department, 3u);
    EXPECT_EQ(a.attr2, 4u);
    EXPECT_EQ(a.word168, 5u);
    EXPECT_EQ(a.word156, 6u);
    EXPECT_EQ(a.linked_plu, 7u);
    EXPECT_EQ(a.word160, 8u);
    EXPECT_EQ(a.code2[0], 0);
    EXPECT_EQ(items[2].vat_group, 7u);
    EXPECT_EQ(Value(items[1].price), 2.19);
    std::vector<HostEvent> progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[1].text, "Mleko");
    EXPECT_EQ(progress[2].percent, 1);   // the number counts up to 16959
    EXPECT_EQ(fake.CountOf("POSS_CntxPLUInit"), 1);
    EXPECT_EQ(Sent("POSS_PLURead")[0], (Args{"0", "0", "0"}));
    EXPECT_EQ(fake.CountOf("POSG_PLURead"), 4);
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();

    const std::pair<const char*, int> broken[] = {{"zero", 9999}, {"at", 0x430032}};
    for (const auto& [how, code] : broken) {
        fake.Reset();
        Host().Reset();
        fake.Do("goods", "", "1|5901234567890|Chleb|0|350|1|2|3|4|5|6|7|8");
        fake.Do("goods", "", "2|590|Mleko|1|219|2|0|1|0|0|0|0|0");
        fake.Do("goods", "", "3|591|Woda|1|100|1|0|1|0|0|0|0|0");
        if (std::string(how) == "zero")
            fake.Do("zero", "POSG_PLURead", "2");
        else
            fake.At("POSG_PLURead", 2, code);
        Prepare(3, dev);
        EXPECT_EQ(Run(3, dev), code) << how;
        EXPECT_EQ(Host().Items().size(), 1u) << how;
        EXPECT_TRUE(fake.Balanced()) << fake.Counts();
    }
}

TEST_F(ComboJobs, ProgrammingGoodsSendsTheRecordAndConfirmsOnlyTheRefusedItem) {
    std::vector<EcrItemRecord> items = {Goods(1, "Chleb razowy krojony 500 g duzy", 12.5, 2, "5901234567890"),
                                        Goods(2, "Mleko", 2.19, 1), Goods(3, "Woda", 1.0, 7)};
    items[0].department = 3;
    items[0].unit = 2;
    items[0].attr1 = 11;
    items[0].attr2 = 12;
    items[0].word168 = 13;
    items[0].word156 = 14;
    items[0].linked_plu = 15;
    items[0].word160 = 16;
    std::strcpy(items[0].code2, "590999");
    // The register refuses the second item (the open's status is the first).
    fake.At("POS_GetRequestStatus", 3, 0x430385);
    EcrDeviceRecord dev = Device(61);
    Prepare(5, dev);
    Array(items, 0);
    ASSERT_EQ(Run(5, dev), 0) << ErrorText();
    std::vector<Args> sent = Sent("POSS_PLUIns");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (Args{"1", "5901234567890", "Chleb razowy krojony 500", "1", "1250", "2", "11", "3", "12",
                             "13", "14", "15", "16", "590999", "0", "0", "0"}));
    EXPECT_EQ(sent[1][4], "219");
    EXPECT_EQ(sent[2][3], "6");
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 2u);
    EXPECT_EQ(Host().Confirmations()[0].code, 0x430385);
    EXPECT_EQ(Utf8(Host().Confirmations()[0].text), "Rekord już zaprogramowany");
    ASSERT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)[0].value, 0x430385);
    std::vector<HostEvent> progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[1].text, "Nazwa - Mleko");
    EXPECT_EQ(progress[0].percent, 33);

    // Model 2 keeps 40 characters of the name.
    fake.Reset();
    Host().Reset();
    dev = Device(10);
    Prepare(5, dev);
    items.resize(1);
    std::strcpy(items[0].name, "Chleb razowy krojony 500 g duzy opakowanie XL");
    Array(items, 0);
    ASSERT_EQ(Run(5, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_PLUIns")[0][2], "Chleb razowy krojony 500 g duzy opakowan");
}

TEST_F(ComboJobs, UpdatesPacksAndDeletesGoByNumberOrByCode) {
    fake.Do("goods", "", "5|590|Chleb|0|350|1|0|1|0|0|0|0|0");
    fake.Do("goods", "", "6|591|Mleko|0|350|1|0|1|0|0|0|0|0");
    std::vector<EcrItemRecord> items = {Goods(5, "Chleb", 3.99), Goods(0, "Mleko", 2.5, 1, "591  ")};
    EcrDeviceRecord dev = Device(61);
    Prepare(6, dev);
    Array(items, 1);
    ASSERT_EQ(Run(6, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_PluPriceUpdate"), (std::vector<Args>{{"5", "399", "0"}}));
    EXPECT_EQ(Sent("POSS_PluPriceUpdateByBarcode"), (std::vector<Args>{{"591", "250", "0"}}));

    std::vector<EcrItemRecord> packs = {Goods(9, "Butelka", 0.5, 1, "B1"), Goods(9, "Butelka", 0.6, 1)};
    packs[0].attr4 = 1;
    packs[1].attr4 = 1;
    Prepare(5, dev);
    Array(packs, 0);
    ASSERT_EQ(Run(5, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_PackIns")[0], (Args{"9", "B1", "Butelka", "0", "50", "0", "0", "0", "0"}));
    Prepare(6, dev);
    Array(packs, 1);
    ASSERT_EQ(Run(6, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_PackPriceUpdate").back(), (Args{"9", "60", "0"}));
    EXPECT_EQ(fake.CountOf("POSS_PLUIns"), 0);

    Prepare(7, dev);
    Array(items);
    ASSERT_EQ(Run(7, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_PLUDel"), (std::vector<Args>{{"5", "0", "0", "0"}}));
    EXPECT_EQ(Sent("POSS_PLUDelByBarcode"), (std::vector<Args>{{"591", "0", "0", "0"}}));
    EXPECT_EQ(fake.Query("goods"), "");
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

TEST_F(ComboJobs, ExtraBarcodesGoOnePerGroupAndAFailedGroupConfirmsEachOfItsItems) {
    fake.Do("goods", "", "5|590|Chleb|0|350|1|0|1|0|0|0|0|0");
    fake.Do("goods", "", "7|591|Mleko|0|350|1|0|1|0|0|0|0|0");
    std::vector<EcrItemRecord> items = {Goods(5, "Chleb", 0, 1, "A"), Goods(5, "Chleb", 0, 1, "B\n"),
                                        Goods(7, "Mleko", 0, 1, "C")};
    EcrDeviceRecord dev = Device(61);
    Prepare(18, dev);
    Array(items, 2);
    ASSERT_EQ(Run(18, dev), 0) << ErrorText();
    // A line feed inside a code would make another barcode: it goes as a blank.
    EXPECT_EQ(Sent("POSS_BarcodeIns"), (std::vector<Args>{{"5", "A\nB", "0"}, {"7", "C", "0"}}));
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 3);

    fake.Reset();
    Host().Reset();
    fake.Do("goods", "", "7|591|Mleko|0|350|1|0|1|0|0|0|0|0");   // no goods 5: the first group fails
    Prepare(18, dev);
    Array(items, 2);
    ASSERT_EQ(Run(18, dev), 0) << ErrorText();
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{{5, 0x430387}, {5, 0x430387}}));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

TEST_F(ComboJobs, RecordsTheRegisterCouldNotTakeAsMeantAreRefusedBeforeAnyRequest) {
    struct Case {
        EcrItemRecord item;
        int code;
    };
    auto with = [](EcrItemRecord r, auto change) {
        change(r);
        return r;
    };
    const EcrItemRecord good = Goods(1, "Chleb", 3.5, 1, "590");
    const Case cases[] = {
        {with(good, [](EcrItemRecord& r) { r.number = 65536; }), 0x43038D},
        {with(good, [](EcrItemRecord& r) { r.vat_group = 0; }), 0x43039C},
        {with(good, [](EcrItemRecord& r) { r.vat_group = 8; }), 0x43039C},
        {with(good, [](EcrItemRecord& r) { r.price = -0.01; }), 0x43039E},
        {with(good, [](EcrItemRecord& r) { r.price = NAN; }), 0x43039E},
        {with(good, [](EcrItemRecord& r) { r.price = 21474836.48; }), 0x43039E},
        {with(good, [](EcrItemRecord& r) { std::strcpy(r.code, "59012345678901"); }), 0x430399},
        {with(good, [](EcrItemRecord& r) { std::strcpy(r.code2, "59012345678901"); }), 0x430399},
        {with(good, [](EcrItemRecord& r) { std::strcpy(r.code, "5901234567890   "); r.number = 65535; }), 0},
        {with(good, [](EcrItemRecord& r) { r.price = 21474836.47; }), 0},
    };
    std::vector<EcrItemRecord> items;
    for (const Case& c : cases) items.push_back(c.item);
    EcrDeviceRecord dev = Device(61);
    Prepare(5, dev);
    Array(items, 0);
    ASSERT_EQ(Run(5, dev), 0) << ErrorText();
    std::vector<std::pair<uint32_t, int>> expected;
    for (const Case& c : cases)
        if (c.code) expected.emplace_back(c.item.number, c.code);
    EXPECT_EQ(Confirms(), expected);
    std::vector<Args> sent = Sent("POSS_PLUIns");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][1], "5901234567890");
    EXPECT_EQ(sent[1][4], "2147483647");

    // Groups, units and extra barcodes.
    Host().Reset();
    std::vector<EcrDeptRecord> depts(2);
    depts[0].number = 70000;
    depts[1].number = 2;
    Prepare(11, dev);
    Array(depts);
    EXPECT_EQ(Run(11, dev), 0);
    std::vector<EcrUnitRecord> units(1);
    units[0].number = 65536;
    Prepare(13, dev);
    Array(units);
    EXPECT_EQ(Run(13, dev), 0x43038D);
    std::vector<EcrItemRecord> codes = {Goods(0, "x", 0, 1, "590")};
    Prepare(18, dev);
    Array(codes, 2);
    EXPECT_EQ(Run(18, dev), 0x010002);
    EXPECT_EQ(Utf8(ErrorText()), "Błędna wartość");
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{{70000, 0x43038D}, {65536, 0x43038D}, {0, 0x010002}}));
    EXPECT_EQ(Sent("POSS_GroupIns"), (std::vector<Args>{{"2", "", "0", "0", "0"}}));
    EXPECT_EQ(fake.CountOf("POSS_MUIns") + fake.CountOf("POSS_BarcodeIns"), 0);
}

TEST_F(ComboJobs, ReadPluLooksUpByNumberThenBarcodeThenName) {
    fake.Do("goods", "", "2|590|Chleb|0|350|1|0|1|0|0|0|0|0");
    fake.Do("goods", "", "3|591|Mleko|1|219|1|0|1|0|0|0|0|0");
    fake.Do("goods", "", "4|592|Woda|1|100|1|0|1|0|0|0|0|0");
    std::vector<EcrItemRecord> items = {Goods(2, "", 0), Goods(0, "", 0, 0, "592"), Goods(0, "Mleko", 0)};
    EcrDeviceRecord dev = Device(61);
    Prepare(4, dev);
    Array(items);
    ASSERT_EQ(Run(4, dev), 0) << ErrorText();
    std::vector<std::string> lookups;
    for (const std::string& n : fake.Names())
        if (n.rfind("POS", 0) == 0 && n.find('_') == 4) lookups.push_back(n);
    EXPECT_EQ(lookups, (std::vector<std::string>{"POSS_PLURead", "POSG_PLURead", "POSS_PLUReadByBarcode",
                                                 "POSG_PLUReadByBarcode", "POSS_PLUGetByBarcode",
                                                 "POSG_PLUGetByBarcode", "POSS_PLUGetByName", "POSG_PLUGetByName",
                                                 "POSS_PLURead", "POSG_PLURead"}));
    EXPECT_EQ(Sent("POSS_PLURead"), (std::vector<Args>{{"2", "0", "0"}, {"3", "0", "0"}}));
    std::vector<EcrItemRecord> read = Host().Items();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].number, 2u);
    EXPECT_EQ(read[1].number, 4u);
    EXPECT_STREQ(read[1].name, "Woda");
    EXPECT_EQ(read[2].number, 3u);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[1].text, "Kod kreskowy - 592");

    // A lookup that fails ends the loop.
    Host().Reset();
    items = {Goods(9, "", 0), Goods(2, "", 0)};
    Prepare(4, dev);
    Array(items);
    EXPECT_EQ(Run(4, dev), 0x430387);
    EXPECT_TRUE(Host().Items().empty());
}

TEST_F(ComboJobs, SaleModeTwoReadsTheSaleRecords) {
    fake.Do("sale", "", "1|5|590|Chleb|1500|525");
    fake.Do("sale", "", "2|9||Butelka|2000|100");
    fake.Do("sale", "", "7|1|x|y|1|1");
    fake.Do("sale", "", "3|42||||12345");
    EcrDeviceRecord dev = Device(90);
    dev.flags = 3;
    Prepare(1, dev);
    ASSERT_EQ(Run(1, dev), 0) << ErrorText();
    EXPECT_EQ(logic.GetSaleMode(), 2);
    std::vector<HostSale> sales = Host().Sales();
    ASSERT_EQ(sales.size(), 3u);
    EXPECT_EQ(sales[0].sale.kind, 0u);
    EXPECT_EQ(sales[0].sale.plu, 5u);
    EXPECT_EQ(sales[0].item.number, 5u);
    EXPECT_STREQ(sales[0].sale.code, "590");
    EXPECT_STREQ(sales[0].item.name, "Chleb");
    EXPECT_EQ(Value(sales[0].sale.quantity), 1.5);
    EXPECT_EQ(Value(sales[0].sale.value), 5.25);
    EXPECT_EQ(sales[1].sale.kind, 1u);
    EXPECT_EQ(sales[1].sale.plu, 9u);
    EXPECT_EQ(Value(sales[1].sale.quantity), 2.0);
    EXPECT_EQ(sales[2].sale.kind, 2u);
    EXPECT_EQ(sales[2].sale.number, 42u);
    EXPECT_EQ(sales[2].sale.plu, 0u);
    EXPECT_EQ(Value(sales[2].sale.value), 123.45);
    EXPECT_EQ(fake.CountOf("POSS_SaleRecGet"), 5);
    EXPECT_EQ(fake.CountOf("POSS_PLUStatRead"), 0);
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

TEST_F(ComboJobs, StatisticsReachTheHostAndTheSaleLogAndClearingReadsWhatWasCleared) {
    fake.Do("plustat", "", "12|590|Chleb|1500|1250");
    fake.Do("plustat", "", "0|5901234|Luzem|-250|-99");
    fake.Do("packstat", "", "3|B1|Butelka|2000|1000|50");
    fake.Do("packstat", "", "4|B2|Skrzynka|0|3000|0");
    EcrDeviceRecord dev = Device(61);
    Prepare(1, dev);
    // The second record has no number: the list fails there, after the first.
    EXPECT_EQ(Run(1, dev), 9999);
    EXPECT_EQ(Host().Sales().size(), 1u);

    fake.Reset();
    Host().Reset();
    fake.Do("plustat", "", "12|590|Chleb|1500|1250");
    fake.Do("plustat", "", "7|5901234|Luzem|-250|-99");
    fake.Do("packstat", "", "3|B1|Butelka|2000|1000|50");
    fake.Do("packstat", "", "4|B2|Skrzynka|0|3000|0");
    Prepare(1, dev);
    ASSERT_EQ(Run(1, dev), 0) << ErrorText();
    std::vector<HostSale> sales = Host().Sales();
    ASSERT_EQ(sales.size(), 5u);
    EXPECT_EQ(sales[0].sale.plu, 12u);
    EXPECT_EQ(Value(sales[0].sale.quantity), 1.5);
    EXPECT_EQ(Value(sales[0].sale.value), 12.5);
    EXPECT_EQ(Value(sales[1].sale.quantity), -0.25);
    EXPECT_EQ(Value(sales[1].sale.value), -0.99);
    // Packs: the sold quantity with the value, the returned one negated.
    EXPECT_EQ(Value(sales[2].sale.quantity), 2.0);
    EXPECT_EQ(Value(sales[2].sale.value), 0.5);
    EXPECT_EQ(Value(sales[3].sale.quantity), -1.0);
    EXPECT_EQ(Value(sales[3].sale.value), 0.0);
    EXPECT_EQ(sales[4].sale.plu, 4u);
    EXPECT_EQ(Value(sales[4].sale.quantity), -3.0);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "PLU - 12");
    EXPECT_EQ(SaleLog(), std::string("#1\r\n#\r\n#") +
                             "\r\n000012\tChleb                   \t      1.500\t         1250"
                             "\r\n000007\tLuzem                   \t     -0.250\t          -99"
                             "\r\n000003\tButelka                 \t      2.000\t           50"
                             "\r\n000004\tSkrzynka                \t      0.000\t            0");
    EXPECT_EQ(Sent("POSS_PLUStatRead")[0], (Args{"0", "0", "0"}));

    Host().Reset();
    Prepare(2, dev);
    ASSERT_EQ(Run(2, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_PLUStatClearAll"), (std::vector<Args>{{"1", "1", "0"}}));
    EXPECT_EQ(Sent("POSS_PackStatClearAll"), (std::vector<Args>{{"1", "0"}}));
    EXPECT_EQ(Sent("POSS_PLUStatRead").back(), (Args{"1", "0", "0"}));
    EXPECT_EQ(Sent("POSS_PackStatRead").back(), (Args{"1", "0", "0"}));
    EXPECT_EQ(Host().Sales().size(), 5u);
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

TEST_F(ComboJobs, AStatisticsLineForAGoodsItemWithoutANumberCarriesItsCode) {
    CPosnetCombo combo;
    combo.OpenSaleLog();
    ASSERT_TRUE(combo.IsSaleLogOpen());
    fake.Do("plustat", "", "1|5901234|Luzem|1|1");
    combo.SetModel(2);
    ASSERT_EQ(combo.OpenSerial(1, 9600), 1);
    ASSERT_EQ(combo.ReadPluStats(nullptr), 1);
    combo.CloseSaleLog();
    combo.CloseDevice();
    EXPECT_EQ(SaleLog(), "\r\n000001\tLuzem" + std::string(35, ' ') + "\t      0.001\t            1");
}

TEST_F(ComboJobs, DepartmentsAndUnitsBothWays) {
    fake.Do("group", "", "4|Pieczywo");
    fake.Do("unit", "", "1|kilogram|kg");
    EcrDeviceRecord dev = Device(61);
    Prepare(9, dev);
    ASSERT_EQ(Run(9, dev), 0) << ErrorText();
    ASSERT_EQ(Host().Depts().size(), 1u);
    EXPECT_EQ(Host().Depts()[0].number, 4u);
    EXPECT_STREQ(Host().Depts()[0].name, "Pieczywo");
    EXPECT_EQ(Utf8(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text), "Pobieranie danych działu - 4");
    Prepare(12, dev);
    ASSERT_EQ(Run(12, dev), 0) << ErrorText();
    ASSERT_EQ(Host().Units().size(), 1u);
    EXPECT_EQ(Host().Units()[0].number, 1u);
    EXPECT_STREQ(Host().Units()[0].name, "kg");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().text, "Pobieranie danych jednostki - 1");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().percent, 6);   // 100 / 16

    Host().Reset();
    std::vector<EcrUnitRecord> units(1);
    units[0].number = 3;
    std::strcpy(units[0].name, "litr");
    Prepare(13, dev);
    Array(units);
    ASSERT_EQ(Run(13, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_MUIns"), (std::vector<Args>{{"3", "litr", "litr", "0", "0"}}));
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Jednostka m. 3 - litr");
    std::vector<EcrDeptRecord> depts(1);
    depts[0].number = 5;
    std::strcpy(depts[0].name, "Nabial i inne produkty mleczne");
    Prepare(11, dev);
    Array(depts);
    ASSERT_EQ(Run(11, dev), 0) << ErrorText();
    EXPECT_EQ(Sent("POSS_GroupIns"), (std::vector<Args>{{"5", "Nabial i inne produkty m", "0", "0", "0"}}));
}

TEST_F(ComboJobs, ABreakStopsBeforeTheNextRequest) {
    std::vector<EcrItemRecord> items = {Goods(1, "Chleb", 1.0), Goods(2, "Mleko", 1.0), Goods(3, "Woda", 1.0)};
    Host().SetEventHook([this](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.text == "Nazwa - Mleko") serial.Break();
    });
    EcrDeviceRecord dev = Device(61);
    Prepare(5, dev);
    Array(items, 0);
    EXPECT_EQ(Run(5, dev), -7);
    EXPECT_EQ(fake.CountOf("POSS_PLUIns"), 1);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();

    fake.Do("goods", "", "1|590|Chleb|0|350|1|0|1|0|0|0|0|0");
    fake.Do("goods", "", "2|591|Mleko|0|350|1|0|1|0|0|0|0|0");
    Host().Reset();
    Host().SetEventHook([this](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM) serial.Break();
    });
    Prepare(3, dev);
    EXPECT_EQ(Run(3, dev), -7);
    EXPECT_EQ(Host().Items().size(), 1u);
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
    Host().SetEventHook({});
}

TEST_F(ComboJobs, ARegisterThatStopsAnsweringIsNotAskedAfterThreeItems) {
    fake.Do("result", "POS_WaitForRequestCompleted", "0,1");   // the open's wait
    fake.Result("POS_WaitForRequestCompleted", 0x10003);
    std::vector<EcrItemRecord> items;
    for (uint32_t n = 1; n <= 5; ++n) items.push_back(Goods(n, "Towar", 1.0));
    EcrDeviceRecord dev = Device(61);
    Prepare(5, dev);
    Array(items, 0);
    EXPECT_EQ(Run(5, dev), 0x10003);
    EXPECT_EQ(fake.CountOf("POSS_PLUIns"), 3);
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{
                              {1, 0x10003}, {2, 0x10003}, {3, 0x10003}, {4, 0x10003}, {5, 0x10003}}));
    EXPECT_EQ(Utf8(Host().Confirmations()[4].text), "Oczekiwanie zakończone upłynięciem czasu (timeout)");
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();

    // Extra barcodes: a group is one request; every item is confirmed.
    fake.Reset();
    Host().Reset();
    fake.Do("result", "POS_WaitForRequestCompleted", "0,1");
    fake.Result("POS_WaitForRequestCompleted", 0x10003);
    items = {Goods(1, "a", 0, 1, "A"), Goods(1, "a", 0, 1, "B"), Goods(2, "b", 0, 1, "C"),
             Goods(3, "c", 0, 1, "D"), Goods(4, "d", 0, 1, "E")};
    Prepare(18, dev);
    Array(items, 2);
    EXPECT_EQ(Run(18, dev), 0x10003);
    EXPECT_EQ(fake.CountOf("POSS_BarcodeIns"), 3);
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{
                              {1, 0x10003}, {1, 0x10003}, {2, 0x10003}, {3, 0x10003}, {4, 0x10003}}));
    EXPECT_TRUE(fake.Balanced()) << fake.Counts();
}

TEST_F(ComboJobs, ABreakAfterTheRegisterWasGivenUpEndsTheJobAtOnce) {
    // Three items go unanswered; the break comes while the rest is being
    // accounted for, in the fifth item's event.
    const struct {
        const char* what;
        uint32_t job;
        uint32_t kind;
        const char* request;
    } cases[] = {
        {"goods", 5, 0, "POSS_PLUIns"},
        {"price updates", 5, 1, "POSS_PluPriceUpdate"},
        {"extra barcodes", 18, 2, "POSS_BarcodeIns"},
        {"deletes", 7, 0, "POSS_PLUDel"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.Reset();
        Host().Reset();
        fake.Do("result", "POS_WaitForRequestCompleted", "0,1");   // the open's wait
        fake.Result("POS_WaitForRequestCompleted", 0x10003);
        std::vector<EcrItemRecord> items;
        for (uint32_t n = 1; n <= 6; ++n)
            items.push_back(Goods(n, ("T" + std::to_string(n)).c_str(), 1.0, 1, ("59" + std::to_string(n)).c_str()));
        Host().SetEventHook([this](const HostEvent& e) {
            if (e.code == ECR_EVENT_ITEM && e.text == "Nazwa - T5") serial.Break();
        });
        EcrDeviceRecord dev = Device(61);
        Prepare(c.job, dev);
        Array(items, c.kind);
        EXPECT_EQ(Run(c.job, dev), -7);
        Host().SetEventHook({});
        EXPECT_EQ(fake.CountOf(c.request), 3);
        // Nothing after the item whose event the break came in.
        EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{
                                  {1, 0x10003}, {2, 0x10003}, {3, 0x10003}, {4, 0x10003}, {5, 0x10003}}));
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 5);
        auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
        ASSERT_EQ(failed.size(), 1u);
        EXPECT_EQ(failed[0].value, -7);
        EXPECT_TRUE(fake.Balanced()) << fake.Counts();
    }
}

}  // namespace
}  // namespace orv::test
