// The Sharp job logic against the emulator: batches and their pauses,
// routing by the barcode flag, refused and invalid items, failed and silent
// batches, the sale reads and clearing with the operator's message boxes,
// the 277's batches and deletes, and the PS flag from the type code.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "drivers/sharp/cs5_ecr.h"
#include "drivers/sharp/csh277ps_ecr.h"
#include "drivers/sharp/csh285_ecr.h"
#include "drivers/sharp/csh7_ecr.h"
#include "drivers/sharp/csh9_ecr.h"
#include "drivers/sharp/csh_ecr.h"
#include "platform/message_hook.h"
#include "sharp_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

const SharpTraits& TraitsOf(int type) {
    switch (type) {
    case 18: return kSharp495Traits;
    case 97: return kSharp285Traits;
    case 47: case 48: case 49: case 50: return kSharp277Traits;
    case 25: return kSharp455Traits;
    default: return kSharp457Traits;
    }
}

std::unique_ptr<CSharpLogic> LogicOf(int type) {
    switch (type) {
    case 18: return std::make_unique<CS5_ECR>();
    case 97: return std::make_unique<CSH285_ECR>();
    case 47: case 48: return std::make_unique<CSH7_ECR>();
    case 49: case 50: return std::make_unique<CSH277PS_ECR>();
    case 25: return std::make_unique<CSH9_ECR>();
    default: return std::make_unique<CSH_ECR>();
    }
}

EcrItemRecord Item(uint32_t number, const char* code = "", double price = 1.0, uint32_t dept = 1) {
    EcrItemRecord it{};
    it.number = number;
    std::strncpy(it.code, code, sizeof it.code - 1);
    std::snprintf(it.name, sizeof it.name, "Towar %u", number);
    it.price = price;
    it.department = dept;
    return it;
}

int Count(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<int>(std::count(v.begin(), v.end(), s));
}

class SharpLogicTest : public SharpTest {
protected:
    // A logic object of the type on a fresh emulator (the one before closed).
    CSharpLogic& OpenDevice(int type, uint32_t job = 5) {
        if (m_logic) m_logic->Close(kSharpPort);
        m_logic.reset();
        StartDevice(TraitsOf(type));
        m_logic = LogicOf(type);
        m_device = DeviceRecord(type, kSharpPort, 9600);
        m_device.word7 = 1;
        PrepareJobBlock(job, m_device);
        m_logic->SetSerial(m_serial.get());
        EXPECT_EQ(m_logic->Open(kSharpPort, &m_device), 1) << m_logic->GetErrorCode();
        return *m_logic;
    }
    void TearDown() override {
        if (m_logic) m_logic->Close(kSharpPort);
        orv::platform::SetMessageHook({});
        SharpTest::TearDown();
        m_logic.reset();
    }
    // The number of data blocks of each write transfer, in order.
    std::vector<int> Batches() const {
        std::vector<int> out;
        for (const std::string& b : m_emu->HostBlocks()) {
            if (b == "/10-00/" || b == "/10-02/") out.push_back(0);
            else if (!out.empty() && b.size() > 8 && b[0] == '0' && b.compare(0, 4, "/HDR") != 0) ++out.back();
        }
        return out;
    }

    std::unique_ptr<CSharpLogic> m_logic;
    EcrDeviceRecord m_device{};
};

TEST_F(SharpLogicTest, GoodsGoInBatchesOfTheModelWithAPauseAfterEach) {
    struct Case {
        int type;
        std::vector<int> batches;
    };
    for (const Case& c : {Case{33, {20, 20, 5}}, Case{18, {10, 10, 10, 10, 5}}}) {
        SCOPED_TRACE(c.type);
        CSharpLogic& logic = OpenDevice(c.type);
        std::vector<EcrItemRecord> items;
        for (uint32_t i = 1; i <= 45; ++i) items.push_back(Item(i));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(logic.PgmPLU(kSharpPort, items.data(), 45, nullptr, 0), 1) << logic.GetErrorCode();
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(Batches(), c.batches);
        EXPECT_EQ(m_emu->File(kSharpPluFile).records.size(), 45u);
        EXPECT_TRUE(Host().Confirmations().empty());
        // 2 s (scaled: 40 ms) after each batch.
        EXPECT_GE(ms, static_cast<long>(40 * c.batches.size()));
        m_logic->Close(kSharpPort);
        m_logic.reset();
    }
}

TEST_F(SharpLogicTest, TheBarcodeFlagRoutesAnItemToOneBatch) {
    CSharpLogic& logic = OpenDevice(33);
    EcrItemRecord items[3] = {Item(5, "5901234123457"), Item(6, "5901234123464"), Item(0, "")};
    items[1].barcode_flag = 1;
    EXPECT_EQ(logic.PgmPLU(kSharpPort, items, 3, nullptr, 0), 1) << logic.GetErrorCode();
    const SharpEmuFile byNumber = m_emu->File(kSharpPluFile);
    const SharpEmuFile byBarcode = m_emu->File(kSharpEanFile);
    ASSERT_EQ(byNumber.records.size(), 1u);
    EXPECT_EQ(byNumber.records.begin()->first, "000005");
    ASSERT_EQ(byBarcode.records.size(), 1u);
    EXPECT_EQ(byBarcode.records.begin()->first, "05901234123464");
    // The empty last item: 105, the pending batches still sent.
    const auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);
    EXPECT_EQ(conf[0].text, PL("Błędny numer towaru"));
}

TEST_F(SharpLogicTest, ARefusedItemIsConfirmedAndTheOthersWritten) {
    CSharpLogic& logic = OpenDevice(33);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 20; ++i) items.push_back(Item(i));
    items[6].price = -1.0;
    items[9].department = 0;
    items[12].number = 0;
    std::strcpy(items[12].code, "12345678901234");   // a key is never cut
    EXPECT_EQ(logic.PgmPLU(kSharpPort, items.data(), 20, nullptr, 0), 1);
    EXPECT_EQ(m_emu->File(kSharpPluFile).records.size(), 17u);
    const auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 3u);
    EXPECT_EQ(conf[0].number, 7u);
    EXPECT_EQ(conf[0].code, 9999);
    EXPECT_EQ(conf[1].code, 9999);
    EXPECT_EQ(conf[2].code, 108);
    EXPECT_EQ(Batches(), std::vector<int>{17});
}

TEST_F(SharpLogicTest, AFailedBatchConfirmsEachOfItsItems) {
    CSharpLogic& logic = OpenDevice(18);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 15; ++i) items.push_back(Item(i));
    m_emu->EotOnDataBlock(4, 405);   // the first batch: "File full"
    EXPECT_EQ(logic.PgmPLU(kSharpPort, items.data(), 15, nullptr, 0), 1);   // the last batch's result
    const auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 10u);
    for (size_t k = 0; k < 10; ++k) {
        EXPECT_EQ(conf[k].number, k + 1);
        EXPECT_EQ(conf[k].code, 1405);
        EXPECT_EQ(conf[k].text, "File full");
    }
    EXPECT_EQ(Host().CountEvents(6), 2);   // the protocol's and the logic's once per job
    EXPECT_EQ(m_emu->File(kSharpPluFile).records.size(), 5u);
}

TEST_F(SharpLogicTest, ABarcodeBatchWaitsForTheNumberBatchOfItsItem) {
    CSharpLogic& logic = OpenDevice(33);
    EcrItemRecord items[3] = {Item(1), Item(0, "12345678"), Item(2)};
    m_emu->EotOnDataBlock(1, 405);   // the number batch, sent at the last item, fails
    EXPECT_EQ(logic.PgmPLU(kSharpPort, items, 3, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), 1405);
    const auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 3u);   // the number batch's two items, then the dropped barcode item
    EXPECT_EQ(conf[2].code, 1405);
    EXPECT_STREQ(conf[2].item.code, "12345678");
    EXPECT_EQ(Count(m_emu->JobCodes(), "/10-00/"), 1);   // the barcode batch was not sent
    EXPECT_TRUE(m_emu->File(kSharpEanFile).records.empty());
}

TEST_F(SharpLogicTest, ThreeSilentBatchesEndTheJobWithoutFurtherTraffic) {
    CSharpLogic& logic = OpenDevice(18);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 45; ++i) items.push_back(Item(i));
    m_emu->SetSilent(true);
    EXPECT_EQ(logic.PgmPLU(kSharpPort, items.data(), 45, nullptr, 0), 0);
    EXPECT_EQ(logic.GetErrorCode(), 9999);
    const auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 45u);
    for (const auto& c : conf) EXPECT_EQ(c.code, 9999);
    EXPECT_EQ(CountByte(m_emu->Received(), 0x05), 9);   // three selection tries of three batches
}

TEST_F(SharpLogicTest, OneSilentBatchDoesNotStopTheJob) {
    CSharpLogic& logic = OpenDevice(18);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 25; ++i) items.push_back(Item(i));
    m_emu->SetSilent(true);
    std::thread waker([&] {
        m_emu->WaitUntil([](const Bytes& b) { return CountByte(b, 0x05) >= 3; }, 5000);
        m_emu->SetSilent(false);
    });
    const int r = logic.PgmPLU(kSharpPort, items.data(), 25, nullptr, 0);
    waker.join();
    EXPECT_EQ(r, 1);
    EXPECT_EQ(Host().Confirmations().size(), 10u);
    EXPECT_EQ(m_emu->File(kSharpPluFile).records.size(), 15u);
}

TEST_F(SharpLogicTest, AFailedFirstSaleReadMakesNoSecond) {
    CSharpLogic& logic = OpenDevice(33);
    m_emu->SetSales(kSharpPluFile, 3, {{"000001", 1000, 250}});
    m_emu->SetSales(kSharpEanFile, 7, {{"10000012345678", 2000, 500}});
    EXPECT_EQ(logic.ReadSale(kSharpPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(m_emu->JobCodes(), (std::vector<std::string>{"/20-02/11///110000/010000/",
                                                           "/20-02/31///11000000000000/01000000000000/"}));
    const auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 1u);
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 1.0);
    EXPECT_STREQ(sales[1].sale.code, "12345678");
    EXPECT_DOUBLE_EQ(sales[1].sale.value, 5.0);

    m_emu->ClearLog();
    Host().Reset();
    m_emu->SpoilReplyBlock(2, SharpEmulator::BlockFault::BadChecksum, 3);
    EXPECT_EQ(logic.ReadSale(kSharpPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 9999);
    EXPECT_EQ(m_emu->JobCodes(), std::vector<std::string>{"/20-02/11///110000/010000/"});
}

TEST_F(SharpLogicTest, ClearSaleAsksTheOperatorAndReportsASetThatStayed) {
    std::vector<std::string> boxes;
    orv::platform::SetMessageHook([&](orv::platform::MessageKind, const std::string& text, int def) {
        boxes.push_back(text);
        return def;
    });
    CSharpLogic& logic = OpenDevice(33);
    m_emu->SetSales(kSharpPluFile, 3, {{"000001", 1000, 250}});
    m_emu->SetSales(kSharpEanFile, 7, {{"10000012345678", 2000, 500}});
    // Both tries of the first set are refused (three NAKs each); the
    // second set is still cleared, the job fails with the first set's code.
    m_emu->NakHostBlocks(6);
    EXPECT_EQ(logic.ClearSale(kSharpPort, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 9999);
    EXPECT_EQ(boxes, std::vector<std::string>{PL("Proszę czekać na zakończenie operacji zerowania kodów EAN")});
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(m_emu->Sales(kSharpPluFile).empty());
    EXPECT_TRUE(m_emu->Sales(kSharpEanFile).empty());

    // The retry succeeds: both cleared, no failure.
    boxes.clear();
    m_emu->NakHostBlocks(3);
    EXPECT_EQ(logic.ClearSale(kSharpPort, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(boxes.size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(m_emu->Sales(kSharpPluFile).empty());
}

TEST_F(SharpLogicTest, The277ProgramsInBatchesOfTenAndRefusesNumberZero) {
    CSharpLogic& logic = OpenDevice(47);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 25; ++i) items.push_back(Item(i));
    items[2].number = 0;
    std::strcpy(items[2].code, "5901234123457");
    EXPECT_EQ(logic.PgmPLU(kSharpPort, items.data(), 25, nullptr, 0), 1) << logic.GetErrorCode();
    EXPECT_EQ(Batches(), (std::vector<int>{10, 10, 4}));
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);

    // Delete 12 numbered items and one with number 0: batches 10 and 2, 105.
    m_emu->ClearLog();
    Host().Reset();
    std::vector<EcrItemRecord> del(items.begin(), items.begin() + 13);
    del[2].number = 26;
    del[12].number = 0;
    EXPECT_EQ(logic.DelPLU(kSharpPort, del.data(), 13, nullptr), 0);
    EXPECT_EQ(logic.GetErrorCode(), 105);
    EXPECT_EQ(Batches(), (std::vector<int>{10, 2}));
    conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);
}

TEST_F(SharpLogicTest, ThePsFlagComesFromTheTypeCode) {
    for (int type : {47, 48, 49, 50}) {
        SCOPED_TRACE(type);
        CSharpLogic& logic = OpenDevice(type);
        EXPECT_EQ(static_cast<CSharp277&>(logic.Link()).m_nPsModel, type >= 49 ? 1 : 0);
        m_logic->Close(kSharpPort);
        m_logic.reset();
    }
}

TEST_F(SharpLogicTest, ReadsHandTheHostItsRecords) {
    CSharpLogic& logic = OpenDevice(33);
    EcrItemRecord items[2] = {Item(3, "", 2.5, 4), Item(0, "12345678", 3.5, 5)};
    items[0].attr2 = 2;
    items[0].word156 = 1;
    ASSERT_EQ(logic.PgmPLU(kSharpPort, items, 2, nullptr, 0), 1);
    Host().Reset();
    ASSERT_EQ(logic.ReadAllPLU(kSharpPort, nullptr), 1) << logic.GetErrorCode();
    const auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);   // barcodes first, then numbers
    EXPECT_STREQ(got[0].code, "12345678");
    EXPECT_EQ(got[0].unit, 1u);
    EXPECT_EQ(got[1].number, 3u);
    EXPECT_EQ(got[1].attr2, 2u);
    EXPECT_EQ(got[1].word156, 1u);
    EXPECT_DOUBLE_EQ(got[1].price, 2.5);

    Host().Reset();
    ASSERT_EQ(logic.ReadPLU(kSharpPort, items, 2, nullptr), 1) << logic.GetErrorCode();
    EXPECT_EQ(Host().Items().size(), 2u);
    const auto ev = Host().EventsWithCode(5);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].text, "PLU - 3");
    EXPECT_EQ(ev[1].text, "Kod kreskowy - 12345678");
    EXPECT_EQ(ev[1].percent, 100);

    double vat[8];
    EcrStatusRecord status{};
    ASSERT_EQ(logic.ReadStatus(kSharpPort, &status, vat), 1);
    EXPECT_DOUBLE_EQ(vat[0], 23.0);
    EXPECT_DOUBLE_EQ(vat[7], -3.0);
}

EcrDeptRecord Dept(uint32_t number) {
    EcrDeptRecord d{};
    d.number = number;
    std::snprintf(d.name, sizeof d.name, "Dzial %u", number);
    d.price = 1.0;
    return d;
}

std::vector<EcrDeptRecord> Depts(uint32_t count) {
    std::vector<EcrDeptRecord> out;
    for (uint32_t i = 1; i <= count; ++i) out.push_back(Dept(i));
    return out;
}

std::vector<EcrItemRecord> Items(uint32_t count) {
    std::vector<EcrItemRecord> out;
    for (uint32_t i = 1; i <= count; ++i) out.push_back(Item(i));
    return out;
}

// One programming job of a table of cases: its job code, the confirmations
// it ends with, and the slot call.
struct JobCase {
    const char* job;
    uint32_t jobCode;
    size_t confirmations;
    std::function<int(CSharpLogic&)> run;
};

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TEST_F(SharpLogicTest, ADeleteDroppingTheBarcodeBatchConfirmsItsItems) {
    for (int type : {33, 18}) {
        SCOPED_TRACE(type);
        CSharpLogic& logic = OpenDevice(type, 7);
        EcrItemRecord items[4] = {Item(1), Item(0, "12345678"), Item(0, "87654321"), Item(2)};
        m_emu->EotOnDataBlock(1, 405);   // the number batch, sent at the last item, fails
        EXPECT_EQ(logic.DelPLU(kSharpPort, items, 4, nullptr), 0);
        EXPECT_EQ(logic.GetErrorCode(), 1405);
        const auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 4u);   // the number batch, then the barcode batch never sent
        for (const auto& c : conf) {
            EXPECT_EQ(c.code, 1405);
            EXPECT_EQ(c.text, "File full");
        }
        EXPECT_STREQ(conf[2].item.code, "12345678");
        EXPECT_STREQ(conf[3].item.code, "87654321");
        EXPECT_EQ(Count(m_emu->JobCodes(), "/10-02/"), 1);
    }
}

// Every block-link type: a register silent from the start is given up
// after three departments; each department is confirmed with the code.
TEST_F(SharpLogicTest, DepartmentsOnASilentRegisterEndAfterThree) {
    orv::platform::SetTimeScale(0.01);   // a 5 s time-out lasts 50..60 ms
    for (int type : {33, 18, 97, 47, 25}) {
        SCOPED_TRACE(type);
        CSharpLogic& logic = OpenDevice(type, 11);
        m_emu->SetSilent(true);
        std::vector<EcrDeptRecord> depts = Depts(6);
        EXPECT_EQ(logic.PgmDEPT(kSharpPort, depts.data(), 6, nullptr), 0);
        EXPECT_EQ(logic.GetErrorCode(), 9999);
        EXPECT_EQ(CountByte(m_emu->Received(), 0x05), 9);   // three selection tries of three departments
        const auto conf = Host().Confirmations();
        ASSERT_EQ(conf.size(), 6u);
        for (size_t k = 0; k < conf.size(); ++k) {
            EXPECT_EQ(conf[k].number, k + 1);
            EXPECT_EQ(conf[k].code, 9999);
            EXPECT_FALSE(conf[k].text.empty());
        }
    }
}

// A register that wakes only at the second selection try, then refuses
// every transfer (three NAKs): it answers, so no item is given up.
TEST_F(SharpLogicTest, ARegisterThatAnswersALateSelectionIsNeverGivenUp) {
    std::vector<EcrDeptRecord> depts = Depts(4);
    std::vector<EcrItemRecord> items = Items(40);
    const JobCase cases[] = {
        {"departments", 11, 4, [&](CSharpLogic& l) { return l.PgmDEPT(kSharpPort, depts.data(), 4, nullptr); }},
        {"goods in batches of 10", 5, 40,
         [&](CSharpLogic& l) { return l.PgmPLU(kSharpPort, items.data(), 40, nullptr, 0); }},
    };
    for (const JobCase& c : cases) {
        SCOPED_TRACE(c.job);
        CSharpLogic& logic = OpenDevice(18, c.jobCode);
        m_emu->AnswerSecondSelections(true);
        m_emu->NakHostBlocks(3 * 4);
        EXPECT_EQ(c.run(logic), 0);
        EXPECT_EQ(logic.GetErrorCode(), 9999);
        EXPECT_EQ(m_emu->Selections(), 4);   // every one of the four transfers was tried
        EXPECT_EQ(m_emu->NaksSent(), 3 * 4);
        const auto conf = Host().Confirmations();
        EXPECT_EQ(conf.size(), c.confirmations);
        for (const auto& x : conf) EXPECT_EQ(x.code, 9999);
    }
}

// The 2 s pause after a job's request follows a failed request too.
TEST_F(SharpLogicTest, ThePauseAfterARequestFollowsAFailureToo) {
    struct Case {
        const char* job;
        std::function<void(SharpEmulator&)> fail;
        std::function<int(CSharpLogic&)> run;
    };
    double vat[8];
    EcrItemRecord item = Item(1);
    const Case cases[] = {
        {"VAT", [](SharpEmulator& e) { e.EotForReplyBlock(1, 402); },
         [&](CSharpLogic& l) { return l.ReadVAT(kSharpPort, vat); }},
        {"departments", [](SharpEmulator& e) { e.EotForReplyBlock(1, 402); },
         [&](CSharpLogic& l) { return l.ReadAllDEPT(kSharpPort, nullptr); }},
        {"goods batch", [](SharpEmulator& e) { e.EotOnDataBlock(1, 405); },
         [&](CSharpLogic& l) { return l.PgmPLU(kSharpPort, &item, 1, nullptr, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        CSharpLogic& logic = OpenDevice(33);
        EcrDeptRecord dept = Dept(1);   // a department file to read
        ASSERT_EQ(logic.PgmDEPT(kSharpPort, &dept, 1, nullptr), 1);
        c.fail(*m_emu);
        EXPECT_EQ(c.run(logic), 0);
        const int64_t end = NowMs();
        EXPECT_GT(logic.GetErrorCode(), 1000);
        const auto records = m_emu->Records();
        ASSERT_FALSE(records.empty());
        EXPECT_GE(end - records.back().ms, 39);   // 2 s at this time scale: 40 ms
    }
}

TEST_F(SharpLogicTest, ATaxRateOutsideNoughtToAHundredPercentFailsTheRead) {
    struct Case {
        const char* groups;
        int result;
        double first;
    };
    const Case cases[] = {
        {"23.008.005.000.0B000B00000A0", 1, 23.0},
        {"100.08.005.000.0B000B00000A0", 1, 100.0},
        {"000008.005.000.0B000B00000A0", 1, 0.0},
        {"230008.005.000.0B000B00000A0", 0, 0.0},
        {"23.008.005.0101.B000B00000A0", 0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.groups);
        CSharpLogic& logic = OpenDevice(33);
        m_emu->SetVatGroups(c.groups);
        double vat[8] = {};
        EXPECT_EQ(logic.ReadVAT(kSharpPort, vat), c.result);
        if (c.result == 1) {
            EXPECT_DOUBLE_EQ(vat[0], c.first);
            EXPECT_DOUBLE_EQ(vat[4], -1.0);
        } else {
            EXPECT_EQ(logic.GetErrorCode(), 9999);
            for (double v : vat) EXPECT_EQ(v, 0.0);
        }
    }
}

// A line that goes away keeps its transport code (-6) to the end of the job.
TEST_F(SharpLogicTest, ALostLineEndsTheJobWithItsCode) {
    std::vector<EcrDeptRecord> depts = Depts(4);
    std::vector<EcrItemRecord> items = Items(4);
    const JobCase cases[] = {
        {"departments", 11, 4, [&](CSharpLogic& l) { return l.PgmDEPT(kSharpPort, depts.data(), 4, nullptr); }},
        {"goods", 5, 4, [&](CSharpLogic& l) { return l.PgmPLU(kSharpPort, items.data(), 4, nullptr, 0); }},
        {"delete", 7, 4, [&](CSharpLogic& l) { return l.DelPLU(kSharpPort, items.data(), 4, nullptr); }},
    };
    for (const JobCase& c : cases) {
        SCOPED_TRACE(c.job);
        CSharpLogic& logic = OpenDevice(33, c.jobCode);
        m_emu->Disconnect();
        EXPECT_EQ(c.run(logic), 0);
        EXPECT_EQ(logic.GetErrorCode(), -6);
        const auto conf = Host().Confirmations();
        EXPECT_EQ(conf.size(), c.confirmations);
        for (const auto& x : conf) EXPECT_EQ(x.code, -6);
    }
}

}  // namespace
}  // namespace orv::test
