// The Sharp protocol classes against the emulator: per class a write, a
// delete and a read-back of the register's stored file, an empty file and a
// missing record; price updates, departments, sales, tax rates and the
// counter clearing, with the request bytes each class sends.
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "drivers/sharp/csharp277.h"
#include "drivers/sharp/csharp285.h"
#include "drivers/sharp/csharp455.h"
#include "drivers/sharp/csharp457.h"
#include "sharp_fixture.h"

namespace orv::test {
namespace {

bool SevenBit(const Bytes& b) {
    for (uint8_t c : b)
        if (c >= 0x80) return false;
    return true;
}

struct ClassCase {
    const char* name;
    const SharpTraits* traits;
    std::function<std::unique_ptr<CSharpLink>()> make;
    std::function<int(CSharpLink&, const SharpPluRow*, int)> write;
    std::function<int(CSharpLink&, const SharpPluRow*, int)> remove;
    std::function<int(CSharpLink&, const SharpPluFn&)> readAll;
    std::function<int(CSharpLink&, const SharpPluRow&, const SharpPluFn&)> readOne;
    uint32_t file;
    bool byBarcode;
    const char* readAllJob;
    const char* deleteJob;
};

template <class T>
T& As(CSharpLink& l) {
    return static_cast<T&>(l);
}

std::vector<ClassCase> Classes() {
    return {
        {"457 by number", &kSharp457Traits, [] { return std::make_unique<CSharp457>(); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp457>(l).SendPLUs(r, n, 1); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp457>(l).DeletePLUs(r, n, 0); },
         [](CSharpLink& l, const SharpPluFn& fn) { return As<CSharp457>(l).ReadAllPLUsByNumber(fn); },
         [](CSharpLink& l, const SharpPluRow& r, const SharpPluFn& fn) { return As<CSharp457>(l).ReadPLUByNumber(r, fn); },
         kSharpPluFile, false, "/20-00/11/B00000/", "/10-02/"},
        {"457 by barcode", &kSharp457Traits, [] { return std::make_unique<CSharp457>(); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp457>(l).SendEANs(r, n, 1); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp457>(l).DeletePLUs(r, n, 1); },
         [](CSharpLink& l, const SharpPluFn& fn) { return As<CSharp457>(l).ReadAllPLUsByBarcode(fn); },
         [](CSharpLink& l, const SharpPluRow& r, const SharpPluFn& fn) { return As<CSharp457>(l).ReadPLUByBarcode(r, fn); },
         kSharpEanFile, true, "/20-00/31/B0000000000000/", "/10-02/"},
        {"455", &kSharp455Traits, [] { return std::make_unique<CSharp455>(); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp455>(l).SendPLUs(r, n, 1); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp455>(l).DeletePLUs(r, n, 0); },
         [](CSharpLink& l, const SharpPluFn& fn) { return As<CSharp455>(l).ReadAllPLUs(1, fn); },
         [](CSharpLink& l, const SharpPluRow& r, const SharpPluFn& fn) { return As<CSharp455>(l).ReadPLUByNumber(r, fn); },
         kSharpPluFile, false, "/20-00/11/B00000000000/", "/10-02/"},
        {"277", &kSharp277Traits, [] { return std::make_unique<CSharp277>(); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp277>(l).SendPLUs(r, n, 1); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp277>(l).SendPLUFile(r, n); },
         [](CSharpLink& l, const SharpPluFn& fn) { return As<CSharp277>(l).ReadAllPLUs(fn); },
         [](CSharpLink& l, const SharpPluRow& r, const SharpPluFn& fn) { return As<CSharp277>(l).ReadPLUByNumber(r, fn); },
         kSharpPluFile, false, "/20-00/11/B000/", "/10-02/"},
        {"277 PS", &kSharp277Traits,
         [] {
             auto s = std::make_unique<CSharp277>();
             s->SetOptions(1, 0x10, 1);
             return s;
         },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp277>(l).SendPLUs(r, n, 1); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp277>(l).SendPLUFile(r, n); },
         [](CSharpLink& l, const SharpPluFn& fn) { return As<CSharp277>(l).ReadAllPLUs(fn); },
         [](CSharpLink& l, const SharpPluRow& r, const SharpPluFn& fn) { return As<CSharp277>(l).ReadPLUByBarcode(r, fn); },
         kSharpPluFile, true, "/20-00/11/B000/", "/10-02/"},
        {"285", &kSharp285Traits, [] { return std::make_unique<CSharp285>(); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp285>(l).SendPLUs(r, n, 1); },
         [](CSharpLink& l, const SharpPluRow* r, int n) { return As<CSharp285>(l).DeletePLUs(r, n); },
         [](CSharpLink& l, const SharpPluFn& fn) { return As<CSharp285>(l).ReadAllPLUs(fn); },
         [](CSharpLink& l, const SharpPluRow& r, const SharpPluFn& fn) { return As<CSharp285>(l).ReadPLUByBarcode(r, fn); },
         kSharpEanFile, true, "/20-00/31/B0000000000000000000/", "/10-02/"},
    };
}

TEST_F(SharpTest, EveryClassWritesDeletesAndReadsBackItsGoods) {
    for (const ClassCase& c : Classes()) {
        SCOPED_TRACE(c.name);
        SharpEmulator& emu = StartDevice(*c.traits);
        std::unique_ptr<CSharpLink> link = c.make();
        OpenLink(*link);

        SharpPluRow rows[3] = {Row(1, "5901234123457", "\xAF\xF3\xB3w", 1, 1.23),   // "Żółw"
                               Row(2, "12345678", "\xA3\xF3\x64ka", 2, 45.6),       // "Łódka"
                               Row(3, "123456", "Chleb", 3, 999.99)};
        for (SharpPluRow& r : rows)
            if (c.byBarcode) r.number = 0;
        ASSERT_EQ(c.write(*link, rows, 3), 1) << link->m_nError;
        EXPECT_EQ(emu.File(c.file).records.size(), 3u);
        EXPECT_TRUE(SevenBit(emu.Received()));
        ASSERT_GE(emu.JobCodes().size(), 2u);
        EXPECT_EQ(emu.JobCodes()[0], "/10-00/");
        EXPECT_EQ(emu.JobCodes()[1], "/99-00/");
        // Event 5 per row with its name and the row index as the percentage.
        const auto progress = EventsOf(5);
        ASSERT_EQ(progress.size(), 3u);
        EXPECT_EQ(progress[1].text, rows[1].name);
        EXPECT_EQ(progress[2].percent, 2);

        std::vector<SharpPluRow> got;
        emu.ClearLog();
        ASSERT_EQ(c.readAll(*link, [&](const SharpPluRow& r) { got.push_back(r); }), 1) << link->m_nError;
        ASSERT_EQ(emu.JobCodes().size(), 1u);
        EXPECT_EQ(emu.JobCodes()[0], c.readAllJob);
        ASSERT_EQ(got.size(), 3u);
        for (const SharpPluRow& expected : rows) {
            bool found = false;
            for (const SharpPluRow& r : got) {
                if (r.number != expected.number || std::strcmp(r.code, c.byBarcode ? expected.code : "") != 0) continue;
                found = true;
                EXPECT_STREQ(r.name, expected.name);
                EXPECT_EQ(r.dept, expected.dept);
                EXPECT_DOUBLE_EQ(r.price, expected.price);
            }
            EXPECT_TRUE(found) << expected.number << " " << expected.code;
        }

        emu.ClearLog();
        ASSERT_EQ(c.remove(*link, &rows[1], 1), 1) << link->m_nError;
        EXPECT_EQ(emu.JobCodes()[0], c.deleteJob);
        EXPECT_EQ(emu.File(c.file).records.size(), 2u);

        // The deleted record is missing; another one is still there.
        got.clear();
        EXPECT_EQ(c.readOne(*link, rows[1], [&](const SharpPluRow& r) { got.push_back(r); }), 0);
        EXPECT_EQ(link->m_nError, 1404);
        EXPECT_EQ(link->GetErrorText(1404), "Specified record did not exist");
        ASSERT_EQ(c.readOne(*link, rows[0], [&](const SharpPluRow& r) { got.push_back(r); }), 1) << link->m_nError;
        ASSERT_EQ(got.size(), 1u);
        EXPECT_STREQ(got[0].name, rows[0].name);

        // A register that answers a one-record read with another item's
        // record has not answered it: that item is missing, nothing is
        // handed on.
        emu.AnswerWithAnotherRecord(true);
        got.clear();
        EXPECT_EQ(c.readOne(*link, rows[0], [&](const SharpPluRow& r) { got.push_back(r); }), 0);
        EXPECT_EQ(link->m_nError, 1404);
        EXPECT_TRUE(got.empty()) << got[0].number << " " << got[0].code;
        emu.AnswerWithAnotherRecord(false);

        // An empty file reads as no records.
        emu.SetFile(c.file, SharpEmuFile{});
        got.clear();
        EXPECT_EQ(c.readAll(*link, [&](const SharpPluRow& r) { got.push_back(r); }), 1) << link->m_nError;
        EXPECT_TRUE(got.empty());
        EXPECT_TRUE(SevenBit(emu.Received()));
    }
}

TEST_F(SharpTest, ARefusedRowFailsTheWriteBeforeAnythingIsSent) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    SharpPluRow rows[2] = {Row(1, "", "A", 1, 1.0), Row(0, "", "B", 1, 1.0)};
    EXPECT_EQ(link.SendPLUs(rows, 2, 1), 0);
    EXPECT_EQ(link.m_nError, 105);
    ASSERT_EQ(EventsOf(6).size(), 1u);
    EXPECT_EQ(EventsOf(6)[0].value, 105);
    rows[1] = Row(2, "", "B", 1, -0.01);
    EXPECT_EQ(link.SendPLUs(rows, 2, 1), 0);
    EXPECT_EQ(link.m_nError, 9999);
    SharpPluRow code = Row(0, "59012\xB3", "C", 1, 1.0);
    EXPECT_EQ(link.SendEANs(&code, 1, 1), 0);
    EXPECT_EQ(link.m_nError, 108);
    EXPECT_EQ(emu.ReceivedCount(), 0u);
    EXPECT_TRUE(EventsOf(5).empty());
}

TEST_F(SharpTest, APriceUpdateChangesOnlyThePrices) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    SharpPluRow row = Row(5, "", "Kawa", 4, 10.0);
    ASSERT_EQ(link.SendPLUs(&row, 1, 1), 1) << link.m_nError;
    row.price = 12.5;
    std::strcpy(row.name, "Other");
    ASSERT_EQ(link.SendPrices(&row, 1, 0), 1) << link.m_nError;
    std::vector<SharpPluRow> got;
    ASSERT_EQ(link.ReadPLUByNumber(row, [&](const SharpPluRow& r) { got.push_back(r); }), 1) << link.m_nError;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_DOUBLE_EQ(got[0].price, 12.5);
    EXPECT_STREQ(got[0].name, "Kawa");
    EXPECT_EQ(got[0].dept, 4u);
    EXPECT_EQ(emu.File(kSharpPluFile).records.begin()->second[2], "00001250");
}

TEST_F(SharpTest, DepartmentsAreWrittenAndReadBack) {
    struct Case {
        const SharpTraits* traits;
        std::function<std::unique_ptr<CSharpLink>()> make;
        const char* readJob;
    };
    const Case cases[] = {
        {&kSharp457Traits, [] { return std::make_unique<CSharp457>(); }, "/20-00/01/F0/"},
        {&kSharp455Traits, [] { return std::make_unique<CSharp455>(); }, "/20-00/01/F000/"},
        {&kSharp277Traits, [] { return std::make_unique<CSharp277>(); }, "/20-00/01/F000/"},
        {&kSharp285Traits, [] { return std::make_unique<CSharp285>(); }, "/20-00/01/B0000000000000000000/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.traits->name);
        SharpEmulator& emu = StartDevice(*c.traits);
        std::unique_ptr<CSharpLink> link = c.make();
        OpenLink(*link);
        SharpDeptRow d[2];
        d[0].number = 1;
        std::strcpy(d[0].name, "Napoje \xB9");
        d[0].amount = 100.5;
        d[0].word1 = 7;
        d[0].word6 = 99;
        d[1].number = 12;
        std::strcpy(d[1].name, "Pieczywo");
        ASSERT_EQ(link->SendDepts(d, 2), 1) << link->m_nError;
        EXPECT_EQ(emu.JobCodes()[0], "/10-00/");
        emu.ClearLog();
        std::vector<SharpDeptRow> got;
        ASSERT_EQ(link->ReadDepts([&](const SharpDeptRow& r) { got.push_back(r); }), 1) << link->m_nError;
        EXPECT_EQ(emu.JobCodes()[0], c.readJob);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].number, 1u);
        EXPECT_STREQ(got[0].name, d[0].name);
        EXPECT_DOUBLE_EQ(got[0].amount, 100.5);
        EXPECT_EQ(got[0].word1, 7u);
        EXPECT_EQ(got[0].word6, 99u);
        EXPECT_EQ(got[1].number, 12u);
        EXPECT_STREQ(got[1].name, "Pieczywo");
        const auto progress = EventsOf(5);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().text, "DEPT - 2");
        EXPECT_TRUE(SevenBit(emu.Received()));
    }
}

TEST_F(SharpTest, SaleCountersAreReadWithEachClasssRequest) {
    struct Case {
        const SharpTraits* traits;
        std::function<int(CSharpLink&, const SharpSaleFn&)> read;
        uint32_t file;
        int keyBytes;
        const char* key;
        const char* job;
        uint32_t number;
        const char* code;
        bool cleared;
    };
    const Case cases[] = {
        {&kSharp457Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp&>(l).ReadSales(1, fn); },
         kSharpPluFile, 3, "000017", "/20-02/11///110000/010000/", 17, "", false},
        {&kSharp457Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp&>(l).ReadSales(0, fn); },
         kSharpEanFile, 7, "10000012345678", "/20-02/31///11000000000000/01000000000000/", 0, "12345678", false},
        {&kSharp455Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp&>(l).ReadSales(1, fn); },
         kSharpPluFile, 6, "000000000017", "/20-02/11///110000000000/010000000000/", 17, "", false},
        {&kSharp277Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp277&>(l).ReadSales(fn, 2); },
         kSharpPluFile, 2, "0017", "/20-02/11///1100/0100/", 17, "", false},
        {&kSharp277Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp277&>(l).ReadSales(fn, 3); },
         kSharpPluFile, 2, "0017", "/20-12/11///1100/0100/", 17, "", true},
        {&kSharp285Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp285&>(l).ReadSales(fn, 2); },
         kSharpPluFile, 8, "0020000012345678", "/20-02/11///11000000000000000000/01000000000000000000/", 0,
         "12345678", false},
        {&kSharp285Traits, [](CSharpLink& l, const SharpSaleFn& fn) { return static_cast<CSharp285&>(l).ClearSales(fn); },
         kSharpPluFile, 8, "0020000012345678", "/20-12/11///11000000000000000000/01000000000000000000/", 0,
         "12345678", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        SharpEmulator& emu = StartDevice(*c.traits);
        std::unique_ptr<CSharpLink> link;
        if (c.traits == &kSharp457Traits) link = std::make_unique<CSharp457>();
        if (c.traits == &kSharp455Traits) link = std::make_unique<CSharp455>();
        if (c.traits == &kSharp277Traits) link = std::make_unique<CSharp277>();
        if (c.traits == &kSharp285Traits) link = std::make_unique<CSharp285>();
        OpenLink(*link);
        emu.SetSales(c.file, c.keyBytes, {{c.key, 1500, 1234}, {c.key, 250, 99}});
        std::vector<SharpSaleRow> got;
        ASSERT_EQ(c.read(*link, [&](const SharpSaleRow& r) { got.push_back(r); }), 1) << link->m_nError;
        EXPECT_EQ(emu.JobCodes(), std::vector<std::string>{c.job});
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].number, c.number);
        EXPECT_STREQ(got[0].code, c.code);
        EXPECT_DOUBLE_EQ(got[0].quantity, 1.5);
        EXPECT_DOUBLE_EQ(got[0].value, 12.34);
        EXPECT_DOUBLE_EQ(got[1].quantity, 0.25);
        EXPECT_DOUBLE_EQ(got[1].value, 0.99);
        EXPECT_EQ(emu.Sales(c.file).empty(), c.cleared);
        // No counters: an empty file.
        emu.SetSales(c.file, c.keyBytes, {});
        got.clear();
        EXPECT_EQ(c.read(*link, [&](const SharpSaleRow& r) { got.push_back(r); }), 1) << link->m_nError;
        EXPECT_TRUE(got.empty());
    }
}

TEST_F(SharpTest, ClearingCounters) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    emu.SetSales(kSharpPluFile, 3, {{"000001", 1000, 100}});
    emu.SetSales(kSharpEanFile, 7, {{"10000012345678", 1000, 100}});
    // Select, the job code with its key, EOT; no result record is fetched.
    ASSERT_EQ(link.ClearPLUCounters(), 1) << link.m_nError;
    ASSERT_TRUE(emu.WaitForCount(34, 2000));
    EXPECT_EQ(Hex(emu.Received()), Hex(Cat({B("\x04\x04\x04" "000001\x05"), SharpEmulator::Block(0, "/32-01/0109////00/"),
                                            Bytes{0x04}})));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(emu.Sales(kSharpPluFile).empty());
    EXPECT_FALSE(emu.Sales(kSharpEanFile).empty());
    emu.ClearLog();
    ASSERT_EQ(link.ClearEANCounters(), 1);
    EXPECT_EQ(emu.JobCodes(), std::vector<std::string>{"/32-01/0120////00/"});

    // The 277: the PS models read and clear in one pass, the others "32-31".
    for (int ps : {0, 1}) {
        SCOPED_TRACE(ps);
        SharpEmulator& e277 = StartDevice(kSharp277Traits);
        CSharp277 s277;
        s277.SetOptions(1, 0, ps);
        OpenLink(s277);
        e277.SetSales(kSharpPluFile, 2, {{"0001", 1000, 100}});
        int rows = 0;
        ASSERT_EQ(s277.ClearSales([&](const SharpSaleRow&) { ++rows; }), 1) << s277.m_nError;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(e277.JobCodes(), std::vector<std::string>{ps ? "/20-12/11///1100/0100/" : "/32-31/0120//0001-9999//00/"});
        EXPECT_EQ(rows, ps ? 1 : 0);
        EXPECT_TRUE(e277.Sales(kSharpPluFile).empty());
    }
}

TEST_F(SharpTest, TaxRatesAreReadFromSevenGroups) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    double vat[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_EQ(link.ReadVATRates(vat), 1) << link.m_nError;
    EXPECT_EQ(emu.JobCodes(), std::vector<std::string>{"/20-00/21/T0/"});
    const double expected[8] = {23.0, 8.0, 5.0, 0.0, -1.0, -1.0, -3.0, -3.0};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(vat[i], expected[i]) << i;

    // A group that is no number: 9999, the rates untouched.
    emu.SetVatGroups("23.0X8.005.000.0B000B00000A0");
    double other[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(link.ReadVATRates(other), 0);
    EXPECT_EQ(link.m_nError, 9999);
    EXPECT_EQ(other[0], 1.0);

    SharpEmulator& e285 = StartDevice(kSharp285Traits);
    CSharp285 s285;
    OpenLink(s285);
    ASSERT_EQ(s285.ReadVATRates(vat), 1) << s285.m_nError;
    EXPECT_EQ(e285.JobCodes(), std::vector<std::string>{"/20-00/21/T0000000000000000000/"});
}

TEST_F(SharpTest, TheDeleteOfThePsModelsCarriesItemEvents) {
    SharpEmulator& emu = StartDevice(kSharp277Traits);
    CSharp277 link;
    link.SetOptions(1, 0x10, 1);
    OpenLink(link);
    SharpPluRow rows[2] = {Row(11, "12345678", "A", 1, 1), Row(12, "123456", "B", 1, 1)};
    ASSERT_EQ(link.SendPLUs(rows, 2, 1), 1) << link.m_nError;
    Host().Reset();
    emu.ClearLog();
    ASSERT_EQ(link.SendPLUFile(rows, 2), 1) << link.m_nError;
    // The header sets h0..h6 only (key of 7 bytes); the records are the keys.
    const auto blocks = emu.HostBlocks();
    ASSERT_GE(blocks.size(), 4u);
    EXPECT_EQ(blocks[1], "/HDR1/" "11" "00" "0000" "00" "0000" "01" "01" "07" + std::string(30, '0'));
    EXPECT_EQ(blocks[2], "00000100" "20000012345678");
    EXPECT_EQ(blocks[3], "00000101" "60000000123456");
    const auto progress = EventsOf(5);
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress[0].text, "PLU - 11");
    EXPECT_EQ(progress[0].percent, 50);
    EXPECT_EQ(progress[1].percent, 100);
    EXPECT_TRUE(emu.File(kSharpPluFile).records.empty());
}

}  // namespace
}  // namespace orv::test
