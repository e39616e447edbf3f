// CTA_ECR and CTN_ECR jobs run the way the dispatcher runs them, against the
// Tango register on a pseudo-terminal, with the recording host's callbacks.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "drivers/novitus/cta_ecr.h"
#include "drivers/novitus/ctn_ecr.h"
#include "fakes/fake_serial_device.h"
#include "job/job_block.h"
#include "tango_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

std::string PadL(const std::string& s, size_t n) { return std::string(n - s.size(), ' ') + s; }

EcrItemRecord Item(const char* code, const char* name, double price, uint32_t vat = 1, uint32_t dept = 1) {
    EcrItemRecord it = HostItemRecord({.name = name, .code = code, .price = price, .vat = vat, .dept = dept});
    it.unit = 2;
    return it;
}

std::string Stored(const char* code, const char* name852, uint64_t price, char tax = 'A', int unit = 1) {
    TangoDevice::GoodsFields f;
    f.code = code;
    f.name = name852;
    f.price = price;
    f.tax = tax;
    f.unit = unit;
    return TangoDevice::MakeGoodsRecord(f);
}

enum Job : uint32_t {
    kReadSale = 1, kClearSale = 2, kReadAllPlu = 3, kReadPlu = 4, kPgmPlu = 5, kDelPlu = 7, kReadAllDept = 9,
    kPgmDept = 11, kReadAllUnit = 12, kPgmUnit = 13, kReadStatus = 14, kReadVat = 15, kExBarcode = 18
};

class TangoJobs : public TangoTest {
protected:
    void TearDown() override {
        for (CLogicECR* l : {static_cast<CLogicECR*>(&m_cta), static_cast<CLogicECR*>(&m_ctn)}) {
            if (l->IsRunning()) {
                m_serial->Break();
                WaitJobEnd(*l, 10000);
            }
        }
        Host().SetEventHook(nullptr);
        TangoTest::TearDown();
    }

    // Runs a job; true when it succeeded (event 10).
    bool Run(CLogicECR& logic, uint32_t job, int type, const std::function<void()>& fill = {}, uint32_t flags = 0) {
        Host().Reset();
        EcrDeviceRecord dev = DeviceRecord(type, kTangoPort, 9600);
        dev.flags = flags;
        PrepareJobBlock(job, dev);
        if (fill) fill();
        EXPECT_TRUE(RunJob(logic, job, m_serial.get(), m_socket.get(), 30000));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunItems(CLogicECR& logic, uint32_t job, int type, std::vector<EcrItemRecord>& items, uint32_t kind = 0) {
        return Run(logic, job, type, [&] {
            g_jobBlock.items = items.data();
            g_jobBlock.count = static_cast<uint32_t>(items.size());
            g_jobBlock.kind = kind;
        });
    }
    std::vector<std::string> RequestCodes() const {
        std::vector<std::string> out;
        for (const std::string& r : m_emu->Device().Requests()) out.push_back(r.substr(0, r[1] == '#' ? 5 : 2));
        return out;
    }

    CTA_ECR m_cta;
    CTN_ECR m_ctn;
};

TEST_F(TangoJobs, NextProgramsAndReadsGoods) {
    std::vector<EcrItemRecord> items = {Item("5901234567890", PL("Masło"), 7.49, 2, 3), Item("", "Bulka", 0.6)};
    items[1].number = 17;
    items[0].attr2 = 1;        // precision kind
    items[0].word172 = 42;
    std::strcpy(items[0].code2, "2000000000017");
    ASSERT_TRUE(RunItems(m_ctn, kPgmPlu, 86, items));
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(RequestCodes(), (std::vector<std::string>{"h1", "h1"}));
    TangoDevice::GoodsFields f;
    f.code = "5901234567890";
    f.name = Cp1250ToCp852(CChrArr(PL("Masło"))).ToString();
    f.price = 749;
    f.tax = 'B';
    f.flags = 0x10;
    f.dept = 3;
    f.number2 = 42;
    f.code2 = "2000000000017";
    f.unit = 2;
    EXPECT_EQ(Dev().GoodsRecord("5901234567890"), TangoDevice::MakeGoodsRecord(f));
    EXPECT_TRUE(Dev().HasGoods("00017"));   // keyed by its number

    ASSERT_TRUE(Run(m_ctn, kReadAllPlu, 86));
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    const EcrItemRecord& a = got[1].code[0] == '5' ? got[1] : got[0];
    EXPECT_STREQ(a.name, PL("Masło"));
    EXPECT_DOUBLE_EQ(a.price, 7.49);
    EXPECT_EQ(a.vat_group, 2u);
    EXPECT_EQ(a.department, 3u);
    EXPECT_EQ(a.unit, 2u);
    EXPECT_EQ(a.attr2, 1u);
    EXPECT_EQ(a.word172, 42u);
    EXPECT_STREQ(a.code2, "2000000000017");
    EXPECT_EQ(a.number, Dev().GoodsNumber("5901234567890"));
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().text, "100 %");
}

TEST_F(TangoJobs, TangoWritesTheShortRecordAndReadsUnitOne) {
    std::vector<EcrItemRecord> items = {Item("123", "Kawa", 12.5, 1, 4)};
    items[0].attr1 = 5;
    items[0].word172 = 7;
    ASSERT_TRUE(RunItems(m_cta, kPgmPlu, 12, items));
    auto frames = Dev().Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].type, 'D');
    EXPECT_EQ(frames[1].body, PadL("123", 18) + "Kawa              " + "0000001250" + "A" + "5" + "00000" + "04" +
                                  "07" + std::string(18, ' '));
    ASSERT_TRUE(Run(m_cta, kReadAllPlu, 12));
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_EQ(Host().Items()[0].unit, 1u);
    EXPECT_EQ(Host().Items()[0].department, 4u);
    EXPECT_EQ(Host().Items()[0].attr1, 5u);
}

TEST_F(TangoJobs, ReadPluSkipsMissingItems) {
    Dev().PutGoods(Stored("111", "A", 100));
    Dev().PutGoods(Stored("333", "C", 300));
    for (CLogicECR* logic : {static_cast<CLogicECR*>(&m_cta), static_cast<CLogicECR*>(&m_ctn)}) {
        std::vector<EcrItemRecord> items = {Item("111", "", 0), Item("222", "", 0), Item("333", "", 0)};
        const int type = logic == &m_cta ? 12 : 85;
        EXPECT_TRUE(RunItems(*logic, kReadPlu, type, items));
        EXPECT_EQ(Host().Items().size(), 2u);
        EXPECT_EQ(logic->GetErrorCode(), 202);
        EXPECT_STREQ(logic->GetErrorMessage(), PL("Pod podanym numerem towar nie zdefiniowany"));
        const auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
        ASSERT_EQ(progress.size(), 3u);
        EXPECT_EQ(progress[1].text, "Kod kreskowy - 222");
        EXPECT_EQ(progress[1].percent, 66);

        std::vector<EcrItemRecord> none = {Item("999", "", 0)};
        EXPECT_FALSE(RunItems(*logic, kReadPlu, type, none));
        EXPECT_EQ(logic->GetErrorCode(), 202);
    }
}

// A missing item, then one whose code cannot be a key: the read ends with
// the key's refusal, and its code and event 6 carry the refusal's own text,
// not the missing item's.
TEST_F(TangoJobs, ReadPluReportsEachCodeWithItsOwnText) {
    for (CLogicECR* logic : {static_cast<CLogicECR*>(&m_cta), static_cast<CLogicECR*>(&m_ctn)}) {
        Dev().ClearLog();
        std::vector<EcrItemRecord> items = {Item("222", "", 0), Item("1234567890123456789", "", 0)};
        EXPECT_FALSE(RunItems(*logic, kReadPlu, logic == &m_cta ? 12 : 86, items));
        EXPECT_EQ(logic->GetErrorCode(), 260);
        EXPECT_STREQ(logic->GetErrorMessage(), PL("Nieprawidłowy kod kreskowy"));
        const auto errors = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].value, 260);
        EXPECT_EQ(errors[0].text, PL("Nieprawidłowy kod kreskowy"));
        EXPECT_EQ(Dev().Requests().size(), 1u);   // the refused key is never sent
    }
}

TEST_F(TangoJobs, DeleteSendsTheRecordAsHeld) {
    const std::string rec = Stored("111", "A", 100, 'C');
    Dev().PutGoods(rec);
    for (CLogicECR* logic : {static_cast<CLogicECR*>(&m_cta), static_cast<CLogicECR*>(&m_ctn)}) {
        Dev().PutGoods(rec);
        Dev().ClearLog();
        std::vector<EcrItemRecord> items = {Item("111", "A", 0), Item("222", "B", 0)};
        EXPECT_FALSE(RunItems(*logic, kDelPlu, logic == &m_cta ? 12 : 86, items));
        EXPECT_FALSE(Dev().HasGoods("111"));
        auto frames = Dev().Frames();
        ASSERT_GE(frames.size(), 3u);
        EXPECT_EQ(frames[1].body, "I1" + PadL("111", 18) + PadL("111", 18));
        EXPECT_EQ(frames[2].body, rec);   // the number field written "00000"
        auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 1u);
        EXPECT_EQ(conf[0].code, 202);
        EXPECT_EQ(conf[0].text, PL("Pod podanym numerem towar nie zdefiniowany"));
        EXPECT_EQ(logic->GetErrorCode(), 202);
    }
}

TEST_F(TangoJobs, ExtraBarcodeKeepsTheRestOfTheItem) {
    const std::string rec = Stored("111", "CHLEB", 350, 'B', 2);
    for (CLogicECR* logic : {static_cast<CLogicECR*>(&m_cta), static_cast<CLogicECR*>(&m_ctn)}) {
        Dev().PutGoods(rec);
        std::vector<EcrItemRecord> items = {Item("111", "", 0)};
        std::strcpy(items[0].code2, "2999");
        ASSERT_TRUE(RunItems(*logic, kExBarcode, logic == &m_cta ? 12 : 86, items, 2));
        std::string expected = rec;
        expected.replace(83, 18, PadL("2999", 18));
        if (logic == &m_cta) expected.replace(101, 2, "01");   // the short record carries no unit
        EXPECT_EQ(Dev().GoodsRecord("111"), expected);
    }
}

TEST_F(TangoJobs, RecordsRefusedBeforeAnyTraffic) {
    struct Case {
        EcrItemRecord item;
        int code;
        std::string text;
    };
    std::vector<Case> cases = {
        {Item("1", "A", 1.0, 8), 9, PL("Błędna stawka PTU ")},
        {Item("1234567890123456789", "A", 1.0), 260, PL("Nieprawidłowy kod kreskowy")},
        {Item("1", "A", -1.0), 109, PL("Cena towaru poza zakresem")},
        {Item("1", "A", 1e9), 109, PL("Cena towaru poza zakresem")},
    };
    for (const Case& c : cases) {
        std::vector<EcrItemRecord> items = {c.item};
        Dev().ClearLog();
        EXPECT_FALSE(RunItems(m_ctn, kPgmPlu, 86, items));
        auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 1u);
        EXPECT_EQ(conf[0].code, c.code);
        EXPECT_EQ(conf[0].text, c.text);
        EXPECT_TRUE(Dev().Requests().empty());
    }
}

TEST_F(TangoJobs, DepartmentsAndUnits) {
    EcrDeptRecord depts[2] = {};
    depts[0].number = 1;
    std::strcpy(depts[0].name, PL("Żywność"));
    depts[0].vat_group = 1;
    depts[0].price = 2.5;
    depts[0].word92 = 2;
    depts[1].number = 12;
    std::strcpy(depts[1].name, "Inne");
    depts[1].vat_group = 7;
    ASSERT_TRUE(Run(m_cta, kPgmDept, 12, [&] {
        g_jobBlock.depts = depts;
        g_jobBlock.count = 2;
    }));
    EXPECT_EQ(Dev().DeptRecord(12), "H112" + std::string("Inne") + std::string(14, ' ') + "0000000000Z000000");
    ASSERT_TRUE(Run(m_cta, kReadAllDept, 12));
    auto got = Host().Depts();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].name, PL("Żywność"));
    EXPECT_DOUBLE_EQ(got[0].price, 2.5);
    EXPECT_EQ(got[0].word92, 2u);
    EXPECT_EQ(got[1].vat_group, 7u);

    EcrUnitRecord units[2] = {{1, "szt"}, {2, "kg"}};
    ASSERT_TRUE(Run(m_ctn, kPgmUnit, 86, [&] {
        g_jobBlock.units = units;
        g_jobBlock.count = 2;
    }));
    EXPECT_EQ(Dev().UnitRecord(2), "02kg            ");
    ASSERT_TRUE(Run(m_ctn, kReadAllUnit, 86));
    ASSERT_EQ(Host().Units().size(), 2u);
    EXPECT_STREQ(Host().Units()[1].name, "kg");
    // The Tango class serves no units.
    EXPECT_FALSE(Run(m_cta, kReadAllUnit, 12));
    EXPECT_EQ(m_cta.GetErrorCode(), 25);
}

TEST_F(TangoJobs, VatAndStatus) {
    Dev().SetTaxTable({"2300", "0800", "0550", "0000", "9999", "FFFF", "FFFF"});
    ASSERT_TRUE(Run(m_ctn, kReadVat, 86));
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    // 9999 is the exempt rate (-1.0); "FFFF" a rate never programmed (-3.0).
    const VatRates expected = {23.0, 8.0, 5.5, 0.0, -1.0, -3.0, -3.0, -3.0};
    EXPECT_EQ(Host().VatCalls()[0], expected);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);
    ASSERT_TRUE(Run(m_cta, kReadVat, 12));
    EXPECT_EQ(Host().VatCalls()[0], expected);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 0);

    ASSERT_TRUE(Run(m_cta, kReadStatus, 12));
    ASSERT_EQ(Host().StatusCalls().size(), 1u);
    EXPECT_STREQ(Host().StatusCalls()[0].status.device_text, "0100;0200;00300");
    EXPECT_STREQ(Host().StatusCalls()[0].status.unique_number, "SIM0000001");
    EXPECT_EQ(RequestCodes().back(), "00");
    ASSERT_TRUE(Run(m_ctn, kReadStatus, 86));
    EXPECT_STREQ(Host().StatusCalls()[0].status.device_text, ";;");
    EXPECT_EQ(Host().StatusCalls()[0].vat, expected);
    const auto waits = Host().EventsWithCode(ECR_EVENT_WAIT);
    EXPECT_EQ(waits.back().percent, 100);
}

TEST_F(TangoJobs, SalesReportsPositionsAndClearing) {
    Dev().SetSales({{"111", 1, "CHLEB", 2500, 875, 0, ""}, {"222", 2, "MLEKO", 1000, 299, 0, ""}});
    ASSERT_TRUE(Run(m_ctn, kReadSale, 86));
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 4u);
    EXPECT_EQ(sales[0].sale.kind, 1u);   // second report first
    EXPECT_EQ(sales[2].sale.kind, 0u);
    EXPECT_STREQ(sales[2].sale.code, "111");
    EXPECT_EQ(sales[2].sale.plu, 1u);
    EXPECT_DOUBLE_EQ(sales[2].sale.quantity, 2.5);
    EXPECT_DOUBLE_EQ(sales[2].sale.value, 8.75);
    EXPECT_STREQ(sales[2].item.name, "CHLEB");
    EXPECT_EQ(Dev().SaleCount(), 2u);

    Dev().ClearLog();
    ASSERT_TRUE(Run(m_cta, kClearSale, 12));
    EXPECT_EQ(RequestCodes(), (std::vector<std::string>{"U2", "d2"}));
    EXPECT_EQ(Dev().SaleCount(), 0u);

    Dev().SetPositions({{"111", 1, "CHLEB", 1000, 350, 1, ""}, {"", 0, "", 0, 0, 2, "RABAT 10%"}});
    ASSERT_TRUE(Run(m_ctn, kReadSale, 86, {}, 2));
    sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.kind, 2u);
    EXPECT_EQ(sales[0].sale.number, 1u);
    EXPECT_STREQ(sales[1].sale.text, "RABAT 10%");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[0].text, "Numer pozycji - 1");

    Dev().SetPositions({{"111", 1, "CHLEB", 1000, 350, 0, ""}});
    EXPECT_FALSE(Run(m_cta, kReadSale, 12, {}, 3));
    EXPECT_EQ(m_cta.GetErrorCode(), 9999);
    EXPECT_STREQ(m_cta.GetErrorMessage(), PL("Liczba pozycji poza zakresem"));
}

// A register that sends a number blank-padded or signed: the read fails with
// 9999 instead of handing the host a 0.
TEST_F(TangoJobs, NumbersThatAreNotAllDigitsFailTheRead) {
    using Style = TangoDevice::NumberStyle;
    for (Style style : {Style::Blanks, Style::Signed}) {
        Dev().SetNumberStyle(style);
        Dev().SetSales({{"111", 1, "CHLEB", 2500, 875, 0, ""}});
        EXPECT_FALSE(Run(m_ctn, kReadSale, 86)) << static_cast<int>(style);
        EXPECT_EQ(m_ctn.GetErrorCode(), 9999);
        EXPECT_TRUE(Host().Sales().empty());
        Dev().SetPositions({{"111", 1, "CHLEB", 1000, 350, 1, ""}});
        EXPECT_FALSE(Run(m_cta, kReadSale, 12, {}, 2)) << static_cast<int>(style);
        EXPECT_EQ(m_cta.GetErrorCode(), 9999);
        EXPECT_STREQ(m_cta.GetErrorMessage(), PL("Nieokreślony błąd"));   // the position number is good
        EXPECT_TRUE(Host().Sales().empty());
        Dev().PutUnit(3, "kg");
        EXPECT_FALSE(Run(m_ctn, kReadAllUnit, 86)) << static_cast<int>(style);
        EXPECT_EQ(m_ctn.GetErrorCode(), 9999);
        EXPECT_TRUE(Host().Units().empty());
    }
    // Zero-padded numbers read as they are.
    Dev().SetNumberStyle(Style::Zeros);
    Dev().SetSales({{"111", 1, "CHLEB", 2500, 875, 0, ""}});
    ASSERT_TRUE(Run(m_ctn, kReadSale, 86));
    ASSERT_EQ(Host().Sales().size(), 2u);
    EXPECT_DOUBLE_EQ(Host().Sales()[1].sale.quantity, 2.5);

    // A goods item whose price the register holds blank-padded.
    std::string rec = Stored("111", "A", 100);
    rec.replace(63, 10, "       100");
    Dev().PutGoods(rec);
    EXPECT_FALSE(Run(m_ctn, kReadAllPlu, 86));
    EXPECT_EQ(m_ctn.GetErrorCode(), 9999);
    EXPECT_TRUE(Host().Items().empty());
    std::vector<EcrItemRecord> items = {Item("111", "", 0)};
    EXPECT_FALSE(RunItems(m_cta, kReadPlu, 12, items));
    EXPECT_EQ(m_cta.GetErrorCode(), 9999);
    EXPECT_TRUE(Host().Items().empty());
}

// A unit number outside 1..99 is refused before any traffic with 9999.
TEST_F(TangoJobs, UnitNumbersOutsideTheRangeAreRefused) {
    EcrUnitRecord units[3] = {{0, "szt"}, {100, "kg"}, {99, "op"}};
    EXPECT_TRUE(Run(m_ctn, kPgmUnit, 86, [&] {
        g_jobBlock.units = units;
        g_jobBlock.count = 3;
    }));
    const auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 2u);
    for (const HostConfirm& c : conf) {
        EXPECT_EQ(c.code, 9999);
        EXPECT_EQ(c.text, PL("Nieokreślony błąd"));
    }
    EXPECT_EQ(Dev().Requests().size(), 1u);
    EXPECT_EQ(Dev().UnitRecord(99), "99op            ");
}

// A register that stops answering at item 4 of 10: items 4-6 fail with
// 9999 after their handshakes, 7-10 are confirmed without traffic.
TEST_F(TangoJobs, SilentRegisterEndsTheLoop) {
    FastClock();
    std::vector<EcrItemRecord> items;
    for (int i = 1; i <= 10; ++i) items.push_back(Item(std::to_string(i).c_str(), "X", 1.0));
    int progress = 0;
    TangoEmulator* emu = m_emu.get();
    EXPECT_FALSE(Run(m_ctn, kPgmPlu, 86, [&] {
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        Host().SetEventHook([&](const HostEvent& e) {
            if (e.code == ECR_EVENT_ITEM && ++progress == 4) emu->SetSilent(true);
        });
    }));
    EXPECT_EQ(m_ctn.GetErrorCode(), 9999);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 7u);
    for (const HostConfirm& c : conf) EXPECT_EQ(c.code, 9999);
    EXPECT_EQ(Dev().Requests().size(), 3u);
    EXPECT_EQ(Dev().EnqCount(), 3);   // the silent handshakes are not answered
    int enqs = 0;
    for (uint8_t b : m_emu->Received()) enqs += b == 0x05;
    EXPECT_EQ(enqs, 3 + 3 * 7);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().percent, 100);
}

TEST_F(TangoJobs, RefusalsAndIsolatedSilencesNeverStopTheLoop) {
    FastClock();
    std::vector<EcrItemRecord> items;
    for (int i = 1; i <= 6; ++i) items.push_back(Item(std::to_string(i).c_str(), "X", 1.0));
    Dev().QueueFault(TFault::FrameAt, 1, 0x1A);    // item 1 refused
    Dev().QueueFault(TFault::EnqSilence, 14);      // items 2 and 3: no answer
    Dev().QueueFault(TFault::FrameAt, 1, 0x105);   // item 4 refused
    Dev().QueueFault(TFault::EnqSilence, 7);       // item 5: no answer
    EXPECT_TRUE(RunItems(m_cta, kPgmPlu, 12, items));
    EXPECT_EQ(Dev().GoodsCount(), 1u);             // item 6
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 5u);
    const int codes[] = {26, 9999, 9999, 261, 9999};
    for (size_t i = 0; i < conf.size(); ++i) EXPECT_EQ(conf[i].code, codes[i]) << i;
    EXPECT_EQ(conf[3].text, PL("Niepoprawna nazwa towaru "));
    EXPECT_EQ(Dev().EnqCount(), 1 + 7 + 7 + 1 + 7 + 1);
}

TEST_F(TangoJobs, BreakEndsEveryLoop) {
    struct Case {
        const char* what;
        uint32_t job;
        int breakAtFrame;   // the n-th frame the register receives (from 1)
    };
    const Case cases[] = {{"program", kPgmPlu, 3}, {"delete", kDelPlu, 3}, {"read", kReadPlu, 2},
                          {"departments", kPgmDept, 3}, {"units", kPgmUnit, 3}, {"read all", kReadAllPlu, 1},
                          {"sale", kReadSale, 1}};
    for (const Case& c : cases) {
        Dev().PutGoods(Stored("1", "A", 100));
        Dev().PutGoods(Stored("2", "B", 100));
        Dev().PutGoods(Stored("3", "C", 100));
        Dev().SetSales({{"1", 1, "A", 1, 1, 0, ""}, {"2", 2, "B", 1, 1, 0, ""}});
        Dev().ClearLog();
        std::vector<EcrItemRecord> items = {Item("1", "A", 1.0), Item("2", "B", 1.0), Item("3", "C", 1.0)};
        EcrDeptRecord depts[3] = {};
        EcrUnitRecord units[3] = {{1, "a"}, {2, "b"}, {3, "c"}};
        for (uint32_t i = 0; i < 3; ++i) {
            depts[i].number = i + 1;
            depts[i].vat_group = 1;
        }
        int frames = 0;
        CTelepathy* serial = m_serial.get();
        Dev().SetFrameHook([&](const TangoDevice::Frame&) {
            if (++frames == c.breakAtFrame) serial->Break();
        });
        const bool ok = Run(m_ctn, c.job, 86, [&] {
            g_jobBlock.items = items.data();
            g_jobBlock.depts = depts;
            g_jobBlock.units = units;
            g_jobBlock.count = 3;
        });
        Dev().SetFrameHook(nullptr);
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(m_ctn.GetErrorCode(), -7) << c.what;
        EXPECT_TRUE(Host().Confirmations().empty()) << c.what;
        EXPECT_EQ(static_cast<int>(Dev().Frames().size()), c.breakAtFrame) << c.what;
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0) << c.what;
    }
}

class TangoMux : public TangoJobs {};

TEST_F(TangoMux, KindsThreeAndFourSelectAMultiplexerChannel) {
    auto line = FakeSerialLine::Create();
    struct Case {
        CLogicECR* logic;
        int type;
        int kind;
        int channel;
        int code;
    };
    const Case cases[] = {{&m_cta, 12, 3, 8, 1}, {&m_ctn, 85, 4, 12, 1}, {&m_cta, 12, 4, 11, 2}, {&m_ctn, 85, 3, 5, 2}};
    for (const Case& c : cases) {
        Host().Reset();
        EcrDeviceRecord dev = DeviceRecord(c.type, kTangoPort, 9600, c.kind);
        dev.word6 = c.channel;
        PrepareJobBlock(kReadVat, dev);
        EXPECT_FALSE(RunJob(*c.logic, kReadVat, m_serial.get(), m_socket.get()));
        EXPECT_EQ(c.logic->GetErrorCode(), c.code);
        EXPECT_EQ(std::string(c.logic->GetErrorMessage()), CTelepathyECR::GetMuxErrorText(c.code));
        EXPECT_FALSE(line->IsOpen());
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    }
    // A multiplexer that shows the channel at once: the job goes on (to a
    // silent line).
    FastClock();
    line->SetCts(true);
    line->SetDsr(false);
    EcrDeviceRecord dev = DeviceRecord(12, kTangoPort, 9600, 3);
    dev.word6 = 1;
    PrepareJobBlock(kReadVat, dev);
    Host().Reset();
    EXPECT_TRUE(RunJob(m_cta, kReadVat, m_serial.get(), m_socket.get()));
    EXPECT_FALSE(line->Written().empty());   // the handshake went out on the selected line
}

}  // namespace
}  // namespace orv::test
