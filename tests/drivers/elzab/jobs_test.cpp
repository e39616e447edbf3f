// Elzab jobs through the exports: item loops, walks, status, sales and the
// clearing of sales counters.
#include "elzab_fixture.h"

#include "util/cp1250.h"

namespace orv::test {
namespace {

class ElzabJobsTest : public ElzabTest {};

// ---------------------------------------------------------- item loops ----

TEST_F(ElzabJobsTest, ItemLoopConfirmsFailuresAndSendsEvent6Once) {
    Register(27, 13);
    reg->QueueStatus(0xA9, 0x05, 2);   // the first two writes refused
    EcrItemRecord items[] = {Item(1, "A", 1, 1, 1.0), Item(2, "B", 1, 1, 1.0), Item(3, "C", 1, 1, 1.0)};
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 3, RecordingHost::OnItemProgram); }), 0);
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(confirms[i].number, static_cast<uint32_t>(i + 1));
        EXPECT_EQ(confirms[i].code, 105);
        EXPECT_EQ(confirms[i].text, PL("Błędny numer towaru"));
    }
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[0].text, "Programowanie danych PLU 1");
    EXPECT_EQ(progress[0].percent, 33);
    EXPECT_EQ(progress[2].percent, 100);
    EXPECT_TRUE(reg->GetPlu(3));
}

TEST_F(ElzabJobsTest, ItemLoopCountZeroProgramsTheFirstItem) {
    Register(27, 13);
    EcrItemRecord items[] = {Item(4, "A", 1, 1, 1.0), Item(5, "B", 1, 1, 1.0)};
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 0, RecordingHost::OnItemProgram); }), 0);
    EXPECT_TRUE(reg->GetPlu(4));
    EXPECT_FALSE(reg->GetPlu(5));
}

TEST_F(ElzabJobsTest, BreakEndsTheItemLoopWithoutConfirmation) {
    Register(27, 13);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 3; ++i) items.push_back(Item(i, "A", 1, 1, 1.0));
    reg->QueueStatus(0xA9, 0x00);   // the first write goes through
    reg->QueueSilence(0xA9);        // the second is never answered
    std::thread breaker;   // the host's thread breaks the job off while the register stays silent
    Host().SetEventHook([&](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.text == "Programowanie danych PLU 2")
            breaker = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                EcrBreakJob();
            });
    });
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items.data(), 3, RecordingHost::OnItemProgram); }, 5000), -7);
    if (breaker.joinable()) breaker.join();
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).size(), 2u);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0xA9, 0xA9}));
}

TEST_F(ElzabJobsTest, NullArraysFailWithoutTraffic) {
    Register(27, 13);
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, nullptr, 3, RecordingHost::OnItemProgram); }), -1);
    EXPECT_EQ(Run([&] { return EcrDelPLU(&device, nullptr, 3, RecordingHost::OnItemProgram); }), -1);
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, nullptr, 3, RecordingHost::OnItemRead); }), -1);
    EXPECT_EQ(Run([&] { return EcrPgmDEPT(&device, nullptr, 3, RecordingHost::OnDeptProgram); }), -1);
    EXPECT_EQ(Run([&] { return EcrPgmUNIT(&device, nullptr, 3, RecordingHost::OnUnitProgram); }), -1);
    EXPECT_TRUE(reg->Received().empty());
}

// Values that do not fit their one- or two-byte fields are refused for the
// item, never wrapped.
TEST_F(ElzabJobsTest, OutOfRangeValuesAreRefusedPerItem) {
    Register(27, 13);   // capacity 10239
    EcrItemRecord items[] = {
        Item(10240, "A", 1, 1, 1.0), Item(65537, "B", 1, 1, 1.0), Item(3, "C", 1, 256, 1.0),
        Item(4, "D", 1, 1, 1.0, "", 300), Item(5, "E", 257, 1, 1.0), Item(6, "F", 1, 1, 1.0),
    };
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 6, RecordingHost::OnItemProgram); }), 0);
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 5u);
    const int codes[] = {105, 105, 110, 111, 103};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(confirms[i].code, codes[i]) << i;
        EXPECT_FALSE(confirms[i].text.empty());
    }
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0xA9}));
    EXPECT_TRUE(reg->GetPlu(6));

    // The other item loops check their fields too.
    Host().Reset();
    EcrDeptRecord d{};
    d.number = 256;
    EXPECT_EQ(Run([&] { return EcrPgmDEPT(&device, &d, 1, RecordingHost::OnDeptProgram); }), 110);
    EcrUnitRecord u{};
    u.number = 256;
    EXPECT_EQ(Run([&] { return EcrPgmUNIT(&device, &u, 1, RecordingHost::OnUnitProgram); }), 111);
    EcrItemRecord del = Item(70000, "", 0, 0, 0);
    EXPECT_EQ(Run([&] { return EcrDelPLU(&device, &del, 1, RecordingHost::OnItemProgram); }), 105);
    EXPECT_EQ(Host().Confirmations().size(), 3u);
}

// VAT group 0: the group comes from the rate, and the host's item learns it.
TEST_F(ElzabJobsTest, VatGroupFromRate) {
    Register(27, 13);   // rates 23, 8, 5, 0
    EcrItemRecord items[] = {Item(1, "A", 0, 1, 1.0), Item(2, "B", 0, 1, 1.0)};
    items[0].vat_rate = 8.0;
    items[1].vat_rate = 7.0;   // not a rate of this register
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 2, RecordingHost::OnItemProgram); }), 103);
    EXPECT_EQ(items[0].vat_group, 2u);
    EXPECT_EQ(reg->GetPlu(1)->vat, 2);
    EXPECT_FALSE(reg->GetPlu(2));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].code, 103);
    EXPECT_EQ(confirms[0].text, PL("Błąd w stawce podatkowej towaru"));
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0xA9}));

    // An update carries no VAT group and goes ahead; only its fallback to
    // the full write needs one.
    Host().Reset();
    reg->AddPlu(2, "B", 1, 1, 1.0);
    reg->ClearFrames();
    EXPECT_EQ(Run([&] { return EcrUpDatePLU(&device, &items[1], 1, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0xA6}));
    reg->ClearPlus();
    reg->ClearFrames();
    EXPECT_EQ(Run([&] { return EcrUpDatePLU(&device, &items[1], 1, RecordingHost::OnItemProgram); }), 103);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xD0, 0xA6}));
}

TEST_F(ElzabJobsTest, Model20MakesABarcodeFromThePluNumber) {
    Register(102, 20);
    EcrItemRecord items[] = {Item(17, "A", 1, 1, 1.0), Item(18, "B", 1, 1, 1.0, "0123"),
                             Item(19, "C", 1, 1, 1.0, "5901234123457")};
    EXPECT_EQ(Run([&] { return EcrPgmPLU(&device, items, 3, RecordingHost::OnItemProgram); }), 0);
    EXPECT_EQ(reg->GetPlu(17)->barcode, 2900170000000ull);
    EXPECT_EQ(reg->GetPlu(18)->barcode, 2900180000000ull);
    EXPECT_EQ(reg->GetPlu(19)->barcode, 5901234123457ull);
    EXPECT_STREQ(items[0].code, "");   // the host's item is not changed
}

// ------------------------------------------------------------ reading ----

TEST_F(ElzabJobsTest, PluWalkSkipsUndefinedAndRetriesFailures) {
    Register(53, 23);   // capacity 511
    reg->AddPlu(1, "Jeden", 1, 1, 1.0);
    reg->AddPlu(5, PL("Pięć"), 2, 3, 5.5, 5901234123457ull, 2);
    reg->AddPlu(511, "Ostatni", 1, 1, 0.01);
    reg->QueueAnswer(0xAC, 0x15, 5);   // five failures of PLU 1, the sixth attempt succeeds
    EXPECT_EQ(Run([&] { return EcrReadAllPLU(&device, RecordingHost::OnItemRead); }), 0);
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].number, 1u);
    EXPECT_EQ(items[1].number, 5u);
    EXPECT_EQ(std::string(items[1].name).substr(0, 4), PL("Pięć"));
    EXPECT_STREQ(items[1].code, "5901234123457");
    EXPECT_EQ(items[2].number, 511u);
    EXPECT_DOUBLE_EQ(Value(items[2].price), 0.01);
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 511u);
    EXPECT_EQ(progress[0].text, "Pobieranie danych PLU - 1");
    EXPECT_EQ(progress.back().percent, 100);
    EXPECT_EQ(reg->Commands().size(), 1u + 5u + 511u);
}

TEST_F(ElzabJobsTest, PluWalkGivesUpAfterSixFailures) {
    Register(53, 23);
    reg->AddPlu(1, "Jeden", 1, 1, 1.0);
    reg->AddPlu(2, "Dwa", 1, 1, 1.0);
    reg->QueueAnswer(0xAC, 0x15, 6);   // PLU 1: six failures
    EXPECT_EQ(Run([&] { return EcrReadAllPLU(&device, RecordingHost::OnItemRead); }), 121);
    EXPECT_TRUE(Host().Items().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(reg->Commands().size(), 1u + 6u);
}

TEST_F(ElzabJobsTest, LongNameModelsWalkTheReportedCapacity) {
    Register(94, 28);   // table capacity 16383
    reg->SetCapacityReply(20);
    reg->AddPlu(20, "Kawa ziarnista Arabica 1kg", 1, 1, 45.0);
    EXPECT_EQ(Run([&] { return EcrReadAllPLU(&device, RecordingHost::OnItemRead); }), 0);
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(std::string(items[0].name), "Kawa ziarnista Arabica 1kg      ");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).size(), 20u);
}

TEST_F(ElzabJobsTest, ReadPluReportsFailuresByEvents) {
    Register(27, 13);
    reg->AddPlu(1, "Jeden", 1, 1, 1.0);
    EcrItemRecord items[] = {Item(1, "", 0, 0, 0), Item(2, "", 0, 0, 0), Item(99999, "", 0, 0, 0),
                             Item(1, "", 0, 0, 0)};
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, items, 4, RecordingHost::OnItemRead); }), 0);
    EXPECT_EQ(Host().Items().size(), 2u);
    auto errors = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].value, 202);
    EXPECT_EQ(errors[1].value, 105);
    EXPECT_TRUE(Host().Confirmations().empty());
}

// The six barcode bytes of a reply can hold fifteen digits (a register never
// takes more than thirteen from us, but a reply may hold any bytes): the host
// gets the whole number, never its first thirteen digits as another barcode.
TEST_F(ElzabJobsTest, ReadBarcodeKeepsEveryDigitTheSixBytesHold) {
    Register(27, 13);
    reg->AddPlu(1, "Jeden", 1, 1, 1.0, 35322350018592ull);    // six spaces on the wire
    reg->AddPlu(2, "Dwa", 1, 1, 1.0, 281474976710655ull);     // six bytes 0xFF
    EcrItemRecord items[] = {Item(1, "", 0, 0, 0), Item(2, "", 0, 0, 0)};
    EXPECT_EQ(Run([&] { return EcrReadPLU(&device, items, 2, RecordingHost::OnItemRead); }), 0);
    auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_STREQ(read[0].code, "35322350018592");
    EXPECT_STREQ(read[1].code, "281474976710655");
}

TEST_F(ElzabJobsTest, DepartmentWalkTreatsBothNotDefinedFormsAlike) {
    for (uint8_t form : {uint8_t{102}, uint8_t{202}}) {
        SCOPED_TRACE(form);
        Register(27, 13);   // 99 departments
        reg->SetNotDefinedByte(form);
        reg->SetDept(1, "Pieczywo");
        reg->SetDept(99, PL("Ryby wędzone"));
        Host().Reset();
        EXPECT_EQ(Run([&] { return EcrReadAllDEPT(&device, RecordingHost::OnDeptRead); }), 0);
        auto depts = Host().Depts();
        ASSERT_EQ(depts.size(), 2u);
        EXPECT_EQ(depts[0].number, 1u);
        EXPECT_EQ(std::string(depts[1].name), std::string(PL("Ryby wędzone")) + std::string(7, ' '));
        auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
        ASSERT_EQ(progress.size(), 99u);
        EXPECT_EQ(progress[49].text, "Pobieranie danych grupy tow. - 50");
        EXPECT_EQ(progress[49].percent, 50);
    }
    // Another status ends the walk.
    reg->QueueStatus(0xC7, 0x07);
    EXPECT_EQ(Run([&] { return EcrReadAllDEPT(&device, RecordingHost::OnDeptRead); }), 107);
}

TEST_F(ElzabJobsTest, UnitsAreReadInOneCommand) {
    Register(27, 13);
    reg->SetUnit(16, PL("paczka"));
    EXPECT_EQ(Run([&] { return EcrReadAllUnit(&device, RecordingHost::OnUnitRead); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xC5}));
    auto units = Host().Units();
    ASSERT_EQ(units.size(), 16u);
    EXPECT_EQ(units[0].number, 1u);
    EXPECT_STREQ(units[0].name, "szt ");
    EXPECT_STREQ(units[15].name, "pacz");
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().text, "Pobieranie danych jednostki - 16");
}

TEST_F(ElzabJobsTest, StatusFillsTheRecord) {
    Register(27, 13);
    reg->SetStatus(0x42, "AB123456789", {2, 6, 1, 2, 0, 9, 1, 4, 3, 5}, 0x1234, {1, 2, 3, 0xFE});
    EXPECT_EQ(Run([&] { return EcrReadStatus(&device, RecordingHost::OnStatus); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xFF, 0x71, 0x35, 0x66, 0xD0, '[', 'T', 'U', 'V'}));
    auto calls = Host().StatusCalls();
    ASSERT_EQ(calls.size(), 1u);
    const EcrStatusRecord& s = calls[0].status;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&s);
    auto u32 = [&](size_t off) {
        uint32_t v;
        std::memcpy(&v, raw + off, 4);
        return v;
    };
    EXPECT_EQ(u32(0), 0x42u);
    EXPECT_STREQ(reinterpret_cast<const char*>(raw + 56), "AB123456789");
    EXPECT_STREQ(reinterpret_cast<const char*>(raw + 88), "09.12.26");
    EXPECT_STREQ(reinterpret_cast<const char*>(raw + 104), "14:35");
    EXPECT_EQ(u32(120), 0x1234u);
    EXPECT_EQ(u32(156), 1u);
    EXPECT_EQ(u32(160), 2u);
    EXPECT_EQ(u32(164), 3u);
    EXPECT_EQ(u32(168), 0xFEu);
    EXPECT_EQ(s.device_text[0], 0);
    EXPECT_EQ(s.information[0], 0);
    EXPECT_EQ(calls[0].vat, (VatRates{23.0, 8.0, 5.0, 0.0, -3.0, -3.0, -1.0, -3.0}));
}

TEST_F(ElzabJobsTest, StatusFailureCallsNoCallback) {
    Register(27, 13);
    reg->QueueAnswer('U', 0x15);
    EXPECT_EQ(Run([&] { return EcrReadStatus(&device, RecordingHost::OnStatus); }), 121);
    EXPECT_TRUE(Host().StatusCalls().empty());
}

// -------------------------------------------------------------- sales ----

TEST_F(ElzabJobsTest, ReadSaleMode0ReadsStreamsThenCounters) {
    ScratchTmp tmp;
    Register(53, 23);
    reg->AddPlu(3, "Chleb", 1, 1, 3.5, 5901234123457ull);
    reg->AddPlu(7, "Mleko", 1, 1, 2.79);
    reg->AddPlu(9, "Bez sprzedazy", 1, 1, 2.79);
    reg->SetCounter(3, {12345, 3, 4321});    // 12.345 for 43.21
    reg->SetCounter(7, {-2, 0, -558});       // a return
    reg->AddStreamRecord(ElzabEmulator::kA5Pass2, {400, 15, 1, 1234, 0, 0});
    reg->QueueAnswer(0xCB, 0x15, 2);         // PLU 1: two failed attempts
    EXPECT_EQ(Run([&] { return EcrReadSale(&device, RecordingHost::OnSale); }), 0);

    auto cmds = reg->Commands();
    ASSERT_GE(cmds.size(), 6u);
    EXPECT_EQ(std::vector<uint8_t>(cmds.begin(), cmds.begin() + 5),
              (std::vector<uint8_t>{0xC0, 0xA5, 0xA5, 0xA5, 0xA5}));
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 3u);
    EXPECT_EQ(sales[0].sale.plu, 400u);
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 1.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 12.34);
    EXPECT_EQ(sales[1].item.number, 3u);
    EXPECT_STREQ(sales[1].item.code, "5901234123457");
    EXPECT_EQ(std::string(sales[1].item.name).substr(0, 5), "Chleb");
    EXPECT_EQ(sales[1].sale.plu, 3u);
    EXPECT_DOUBLE_EQ(sales[1].sale.quantity, 12.345);
    EXPECT_DOUBLE_EQ(sales[1].sale.value, 43.21);
    EXPECT_EQ(sales[2].sale.plu, 7u);
    EXPECT_DOUBLE_EQ(sales[2].sale.quantity, -2.0);
    EXPECT_DOUBLE_EQ(sales[2].sale.value, -5.58);
    // Counters are not cleared by reading.
    EXPECT_TRUE(reg->GetCounter(3));
    EXPECT_EQ(reg->ClearsDone(), 0);

    auto logs = tmp.Files("XWSALE_");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs.begin()->second, "#1\r\n#\r\n#\r\n$3\t12.345\t4321\t\r\n$7\t-2.000\t-558\t");
}

TEST_F(ElzabJobsTest, SaleCounterWalkGivesUpAfterSixFailures) {
    Register(53, 23);
    reg->AddPlu(1, "A", 1, 1, 1.0);
    reg->QueueAnswer(0xCB, 0x15, 6);
    EXPECT_EQ(Run([&] { return EcrReadSale(&device, RecordingHost::OnSale); }), 121);
    EXPECT_EQ(reg->Commands().size(), 1u + 4u + 6u);
}

TEST_F(ElzabJobsTest, SaleCounterNotDefinedInBothForms) {
    for (uint8_t form : {uint8_t{102}, uint8_t{202}}) {
        SCOPED_TRACE(form);
        Register(53, 23);
        reg->SetNotDefinedByte(form);
        reg->AddPlu(511, "A", 1, 1, 1.0);
        reg->SetCounter(511, {1, 0, 100});
        Host().Reset();
        EXPECT_EQ(Run([&] { return EcrReadSale(&device, RecordingHost::OnSale); }), 0);
        ASSERT_EQ(Host().Sales().size(), 1u);
        EXPECT_EQ(Host().Sales()[0].sale.plu, 511u);
    }
}

TEST_F(ElzabJobsTest, ReadSaleMode1ClearsInstead) {
    Register(53, 23);
    device.flags = 1;
    EXPECT_EQ(Run([&] { return EcrReadSale(&device, RecordingHost::OnSale); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xA8}));
}

TEST_F(ElzabJobsTest, ReadSaleMode2ReadsTheLongRecords) {
    Register(53, 23);
    device.flags = 3;   // bit 1 wins
    reg->AddStreamRecord(ElzabEmulator::kAD, {12, 2500, 3, 1250, 500, 2});
    reg->AddStreamRecord(ElzabEmulator::kAE, {13, 1, 0, 99, 99, 1});
    EXPECT_EQ(Run([&] { return EcrReadSale(&device, RecordingHost::OnSale); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xAD, 0xAE}));
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 12u);
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 2.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 12.5);
    EXPECT_DOUBLE_EQ(Value(sales[0].item.price), 5.0);
    EXPECT_EQ(sales[0].item.vat_group, 2u);
    EXPECT_EQ(sales[1].sale.plu, 13u);
}

// The first clear answered 201 is followed by at most three rounds of
// reading what remains and clearing again; what they read reaches the host.
TEST_F(ElzabJobsTest, ClearSaleReadsTheRemainingSalesThenClears) {
    Register(53, 23);
    reg->SetNotAllRead(1);
    reg->AddStreamRecord(ElzabEmulator::kA2, {5, 2, 0, 700, 0, 0});
    reg->AddStreamRecord(ElzabEmulator::kA5Pass0, {6, 1, 0, 100, 0, 0});
    EXPECT_EQ(Run([&] { return EcrClearSale(&device, RecordingHost::OnSale); }), 0);
    EXPECT_EQ(reg->Commands(), (std::vector<uint8_t>{0xC0, 0xA8, 0xA2, 0xA3, 0xA5, 0xA5, 0xA5, 0xA5, 0xA8}));
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 5u);
    EXPECT_EQ(sales[1].sale.plu, 6u);
    ASSERT_TRUE(reg->WaitUntil([](const Bytes& b) { return !b.empty() && b.back() == 0x06; }, 2000));
}

// The bound: the first clear and three rounds, each ending in a clear, so
// four clears in all; the fourth 201 (the third of the rounds) fails the job.
// Every round's sales reach the host.
TEST_F(ElzabJobsTest, ClearSaleGivesUpAfterThreeRounds) {
    struct Case {
        int notAllRead;   // clears answered 201
        int code;
        int rounds;
    };
    const Case cases[] = {{2, 0, 2}, {3, 0, 3}, {4, 201, 3}, {100, 201, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.notAllRead);
        Register(53, 23);
        Host().Reset();
        reg->SetNotAllRead(c.notAllRead);
        reg->AddStreamRecord(ElzabEmulator::kA3, {5, 2, 0, 700, 0, 0});
        EXPECT_EQ(Run([&] { return EcrClearSale(&device, RecordingHost::OnSale); }), c.code);
        int clears = 0, rounds = 0;
        for (uint8_t cmd : reg->Commands()) {
            clears += cmd == 0xA8;
            rounds += cmd == 0xA2;
        }
        EXPECT_EQ(rounds, c.rounds);
        EXPECT_EQ(clears, c.rounds + 1);
        EXPECT_EQ(Host().Sales().size(), static_cast<size_t>(c.rounds));   // the stream stays until a clear
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1 + 3 * c.rounds);
        if (c.code == 0) {
            ASSERT_TRUE(reg->WaitUntil([](const Bytes& b) { return !b.empty() && b.back() == 0x06; }, 2000));
            continue;
        }
        EXPECT_EQ(ErrMsg(), std::string(PL("Nie możliwe do wykonania ponieważ nie wszytkie dane zostały przeczytane")));
        EXPECT_EQ(reg->ClearsDone(), 0);
    }
}

}  // namespace
}  // namespace orv::test
