// The library driver's jobs: status and VAT, the modem question at the end,
// sales in the three option modes and their clearing, goods, departments
// and units read and written in one call per batch, and the same through
// the exports.
#include <atomic>
#include <thread>

#include "api/registry.h"
#include "drivers/elzab/modem/modem_fixture.h"
#include "util/chrarr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

class ModemJobs : public ModemTest {
protected:
    // Runs job on a fresh driver for the device; EcrError-like result.
    int Run(uint32_t job, const EcrDeviceRecord& dev) {
        g_jobBlock.device = dev;
        g_jobBlock.progressCb = dev.progress;
        EXPECT_TRUE(Job(logic, job, dev)) << "not started: " << logic.GetErrorCode();
        return logic.GetErrorCode();
    }
    // Prepares the job block with an item array.
    void Items(std::vector<EcrItemRecord>& items, uint32_t kind = 0) {
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        g_jobBlock.kind = kind;
    }
    std::vector<std::pair<uint32_t, int>> Confirms() const {
        std::vector<std::pair<uint32_t, int>> out;
        for (const HostConfirm& c : Host().Confirmations()) out.emplace_back(c.number, c.code);
        return out;
    }
    static EcrItemRecord Goods(uint32_t number, const char* name, double price, uint32_t vat = 1,
                               const char* code = "") {
        EcrItemRecord r = HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = vat,
                                          .dept = 1, .unit = 1});
        return r;
    }

    CEM_ECR logic;
};

TEST_F(ModemJobs, StatusOverTheModemAsksToCloseTheLinkAtTheEnd) {
    EcrDeviceRecord dev = Device(28, 8);
    for (int answer : {1, 0}) {
        SCOPED_TRACE(answer);
        fake.Reset();
        Host().Reset();
        Answer(answer);
        Prepare(14, dev);
        ASSERT_EQ(Run(14, dev), 0) << logic.GetErrorMessage();
        auto status = Host().StatusCalls();
        ASSERT_EQ(status.size(), 1u);
        EXPECT_EQ(status[0].status.device_type, 14u);
        EXPECT_STREQ(status[0].status.unique_number, "ALFA");
        EXPECT_STREQ(status[0].status.date, "10-12-26");
        EXPECT_STREQ(status[0].status.time, "12:30");
        EXPECT_EQ(status[0].status.receipt_number, 123u);
        for (uint32_t s : status[0].status.status) EXPECT_EQ(s, 0u);
        EXPECT_EQ(status[0].vat[0], 23.0);
        EXPECT_EQ(status[0].vat[6], -1.0);
        EXPECT_EQ(status[0].vat[7], -3.0);
        EXPECT_EQ(Questions().size(), answer == 1 ? 1u : 2u);
        EXPECT_EQ(Questions().back(), PL("Czy zamknąć łącze modemowe ?"));
        EXPECT_EQ(fake.CountOf("__ModStop"), answer == 1 ? 1 : 0);
        EXPECT_TRUE(ExchangeFilesLeft().empty());
    }
}

TEST_F(ModemJobs, OnlyAStatusReadOverTheModemAsks) {
    struct Case {
        int type, kind;
        uint32_t job;
    } cases[] = {{28, 8, 15}, {92, 13, 14}, {28, 7, 14}, {28, 8, 12}};
    Answer(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.job));
        fake.Reset();
        EcrDeviceRecord dev = Device(c.type, c.kind);
        Prepare(c.job, dev);
        EXPECT_EQ(Run(c.job, dev), 0) << logic.GetErrorMessage();
        EXPECT_EQ(fake.CountOf("__ModStop"), 0);
    }
    EXPECT_TRUE(Questions().empty());
}

TEST_F(ModemJobs, ABreakDuringTheQuestionStopsNothing) {
    // The hook outlives the test on its helper thread: it touches no local.
    static std::atomic<int> asked{0};
    asked = 0;
    orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int) {
        ++asked;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return 1;
    });
    EcrDeviceRecord dev = Device(28, 8);
    Prepare(14, dev);
    g_jobBlock.device = dev;
    std::thread breaker([this] {
        // The break comes while the question is open.
        for (int i = 0; i < 2000 && asked.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        serial.Break();
    });
    Job(logic, 14, dev);
    breaker.join();
    EXPECT_EQ(asked.load(), 1);
    EXPECT_EQ(fake.CountOf("__ModStop"), 0);
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

TEST_F(ModemJobs, SalesInTheThreeOptionModes) {
    fake.Do("sale", "", "17\t1.5\t375");
    fake.Do("sale", "", "18\t-2\t-1000");
    fake.Do("package", "", "3\t4\t200");
    struct Case {
        uint32_t flags;
        uint32_t job;
        std::vector<std::string> calls;
        size_t sales;
    } cases[] = {
        {0, 1, {"__OZegar", "__OTSpMax", "__OOpak"}, 3},
        {2, 1, {"__OZegar", "__OPSprzed"}, 2},
        {1, 1, {"__OZegar", "__OSprzed", "__KSprOp"}, 2},
        {0, 2, {"__OZegar", "__OSprzed", "__KSprOp"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.flags) + "/" + std::to_string(c.job));
        fake.Do("reset");
        fake.Do("sale", "", "17\t1.5\t375");
        fake.Do("sale", "", "18\t-2\t-1000");
        fake.Do("package", "", "3\t4\t200");
        Host().Reset();
        EcrDeviceRecord dev = Device(28, 7);
        dev.flags = c.flags;
        Prepare(c.job, dev);
        EXPECT_EQ(Run(c.job, dev), 0) << logic.GetErrorMessage();
        EXPECT_EQ(fake.Names(), c.calls);
        auto sales = Host().Sales();
        ASSERT_EQ(sales.size(), c.sales);
        EXPECT_EQ(sales[0].sale.plu, 17u);
        EXPECT_EQ(sales[0].item.number, 17u);
        EXPECT_EQ(Value(sales[0].sale.quantity), 1.5);
        EXPECT_EQ(Value(sales[0].sale.value), 3.75);
        EXPECT_EQ(Value(sales[1].sale.quantity), -2.0);
        EXPECT_EQ(Value(sales[1].sale.value), -10.0);
    }
}

TEST_F(ModemJobs, SalesAreNotClearedAfterABadOrFailedRead) {
    struct Case {
        const char* what;
        std::function<void(FakeWinip&)> script;
        int error;
    } cases[] = {
        {"bad line", [](FakeWinip& f) { f.Do("sale", "", "17\tx\t375"); }, 6},
        {"missing field", [](FakeWinip& f) { f.Do("sale", "", "17\t1"); }, 6},
        {"library error", [](FakeWinip& f) { f.Result("__OSprzed", 0x81); }, 129},
        {"other register", [](FakeWinip& f) { f.Do("header", "__OSprzed", "#6\r\n#\r\n#"); }, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake.Reset();
        fake.Do("sale", "", "16\t1\t100");
        c.script(fake);
        EcrDeviceRecord dev = Device(28, 7);
        Prepare(2, dev);
        EXPECT_EQ(Run(2, dev), c.error);
        EXPECT_EQ(fake.CountOf("__KSprOp"), 0);
        EXPECT_TRUE(ExchangeFilesLeft().empty());
    }
}

TEST_F(ModemJobs, GoodsAreProgrammedInOneCallWithRefusalsConfirmed) {
    std::vector<EcrItemRecord> items = {
        Goods(1, "Chleb", 2.5, 1, "5901234123457"),
        Goods(2, "Drogi", -1.0),                      // refused: price
        Goods(3, "Zajety", 1.0),                      // refused by the register
        Goods(4, "Mleko", 3.1, 0),                    // group from its rate
        Goods(5, "Kod", 1.0, 1, "12345678901234"),    // a long code goes out whole
        Goods(6, "Ostatni", 0.5, 12),                 // refused: VAT group
        Goods(7, "Woda", 1.99),
    };
    items[3].vat_rate = 8.0;
    fake.Do("refuse", "", "3\t221");
    EcrDeviceRecord dev = Device(28, 7);
    Prepare(5, dev);
    Items(items);
    EXPECT_EQ(Run(5, dev), 0) << logic.GetErrorMessage();   // the last item went in
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OZegar", "__OPodatek", "__ZBPTowar"}));
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{{2, 109}, {6, 103}, {3, 221}}));
    for (const HostConfirm& c : Host().Confirmations()) EXPECT_FALSE(c.text.empty());
    EXPECT_EQ(items[3].vat_group, 2u);   // written back

    const std::string request = fake.Calls()[2].request;
    EXPECT_EQ(request.substr(0, request.find("\r\n$3")),
              "#5\r\n#\r\n#\r\n$1\tChleb              \t1\t1\t0\t1\t0\t5901234123457\t250\t0");
    EXPECT_NE(request.find("\r\n$4\tMleko              \t2\t"), std::string::npos);
    EXPECT_EQ(request.find("$2\t"), std::string::npos);
    EXPECT_NE(request.find("\t12345678901234\t100\t"), std::string::npos);
    EXPECT_EQ(fake.Query("goods").find("3\t"), std::string::npos);
    EXPECT_TRUE(ExchangeFilesLeft().empty());

    // Read back through the library.
    Host().Reset();
    Prepare(3, dev);
    EXPECT_EQ(Run(3, dev), 0);
    auto read = Host().Items();
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].number, 1u);
    EXPECT_STREQ(read[0].name, "Chleb              ");
    EXPECT_STREQ(read[0].code, "5901234123457");
    EXPECT_EQ(Value(read[0].price), 2.5);
    EXPECT_EQ(read[1].vat_group, 2u);
    EXPECT_STREQ(read[2].code, "12345678901234");
    EXPECT_EQ(Value(read[3].price), 1.99);
}

TEST_F(ModemJobs, AFailedBatchCallConfirmsEveryItemInIt) {
    std::vector<EcrItemRecord> items = {Goods(1, "A", 1.0), Goods(2, "B", -5.0), Goods(3, "C", 1.0)};
    fake.Result("__ZBPTowar", 0xF9);
    EcrDeviceRecord dev = Device(28, 7);
    Prepare(5, dev);
    Items(items);
    EXPECT_EQ(Run(5, dev), 249);
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{{2, 109}, {1, 249}, {3, 249}}));
    EXPECT_TRUE(ExchangeFilesLeft().empty());

    // An answer that leaves an item out: that item is not known to be taken.
    fake.Reset();
    Host().Reset();
    fake.Do("raw", "__ZBPTowar", "#5\r\n#\r\n#\r\n$1\t0");
    Prepare(5, dev);
    Items(items);
    EXPECT_EQ(Run(5, dev), 6);
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{{2, 109}, {3, 6}}));

    // Every item refused before the call: nothing is sent.
    fake.Reset();
    Host().Reset();
    std::vector<EcrItemRecord> bad = {Goods(1, "A", -1.0)};
    Prepare(5, dev);
    Items(bad);
    EXPECT_EQ(Run(5, dev), 109);
    EXPECT_EQ(fake.CountOf("__ZBPTowar"), 0);
}

TEST_F(ModemJobs, EachAnswerRecordConfirmsTheItemOfItsOwnNumber) {
    using Confirmed = std::vector<std::pair<uint32_t, int>>;
    const struct {
        const char* what;
        std::vector<uint32_t> numbers;
        const char* omit;     // a record the library leaves out of its answer
        const char* answer;   // or the answer's data lines as they stand
        int error;
        Confirmed confirms;
    } cases[] = {
        {"PLU 17's record left out", {5, 17, 300}, "17", nullptr, 0, {{17, 6}}},
        {"records in another order", {5, 17, 300}, nullptr, "$300\t0\r\n$5\t221", 0, {{5, 221}, {17, 6}}},
        {"a record of a PLU not asked for", {5, 17, 300}, nullptr, "$5\t0\r\n$999\t0\r\n$300\t0", 0, {{17, 6}}},
        {"the same PLU twice", {5, 5}, nullptr, "$5\t0\r\n$5\t221", 221, {{5, 221}}},
        {"the last item's record left out", {5, 17, 300}, "300", nullptr, 6, {{300, 6}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.Reset();
        Host().Reset();
        if (c.omit) fake.Do("omit", "", c.omit);
        if (c.answer) fake.Do("raw", "__ZBPTowar", std::string("#5\r\n#\r\n#\r\n") + c.answer);
        std::vector<EcrItemRecord> items;
        for (uint32_t n : c.numbers) items.push_back(Goods(n, "Towar", 1.0));
        EcrDeviceRecord dev = Device(28, 7);
        Prepare(5, dev);
        Items(items);
        EXPECT_EQ(Run(5, dev), c.error) << logic.GetErrorMessage();
        EXPECT_EQ(Confirms(), c.confirms);
        for (const HostConfirm& h : Host().Confirmations()) EXPECT_FALSE(h.text.empty());
        EXPECT_TRUE(ExchangeFilesLeft().empty());
    }
}

TEST_F(ModemJobs, ABreakWhileTheRequestIsBuiltSendsNothingAndConfirmsNothing) {
    std::vector<EcrItemRecord> items = {Goods(1, "A", 1.0), Goods(2, "B", -1.0), Goods(3, "C", 1.0)};
    Host().SetEventHook([this](const HostEvent& e) {
        if (e.code == ECR_EVENT_ITEM && e.percent == 100) serial.Break();
    });
    EcrDeviceRecord dev = Device(28, 7);
    Prepare(5, dev);
    Items(items);
    EXPECT_EQ(Run(5, dev), -7);
    Host().SetEventHook(nullptr);
    EXPECT_EQ(fake.CountOf("__ZBPTowar"), 0);
    EXPECT_EQ(Confirms(), (std::vector<std::pair<uint32_t, int>>{{2, 109}}));   // refused before the break
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

TEST_F(ModemJobs, UpdateBarcodesDeleteDepartmentsAndUnitsEachInOneCall) {
    EcrDeviceRecord dev = Device(700, 7);   // model 21: the short entry points
    std::vector<EcrItemRecord> items = {Goods(1, "A", 1.0, 1, "123"), Goods(2, "B", 2.0, 1, "456")};

    Prepare(6, dev);
    Items(items, 1);
    EXPECT_EQ(Run(6, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__ZCTowar");
    EXPECT_EQ(fake.Calls().back().request,
              "#5\r\n#\r\n#\r\n$1\tA                   \t1\t1\t0\t1\t0\t0000000000123\t100\t0"
              "\r\n$2\tB                   \t1\t1\t0\t1\t0\t0000000000456\t200\t0");

    Prepare(18, dev);
    Items(items, 2);
    EXPECT_EQ(Run(18, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__ZDBarkod");
    EXPECT_EQ(fake.Calls().back().request, "#5\r\n#\r\n#\r\n$1\t0000000000123\r\n$2\t0000000000456");

    Prepare(5, dev);
    Items(items, 0);
    EXPECT_EQ(Run(5, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__ZSTowar");

    Prepare(7, dev);
    Items(items);
    EXPECT_EQ(Run(7, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__KSTowar");
    EXPECT_EQ(fake.Calls().back().request, "#5\r\n#\r\n#\r\n$1\r\n$2");

    std::vector<EcrDeptRecord> depts(2);
    depts[0].number = 1;
    StrNCopyZ(depts[0].name, "Pieczywo", 47);
    depts[1].number = 2;
    StrNCopyZ(depts[1].name, "Nabia\xB3", 47);
    Prepare(11, dev);
    g_jobBlock.depts = depts.data();
    g_jobBlock.count = 2;
    EXPECT_EQ(Run(11, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__ZGrupa");
    EXPECT_EQ(fake.Calls().back().request, "#5\r\n#\r\n#\r\n$1\tPieczywo           \r\n$2\tNabia\x88             ");

    std::vector<EcrUnitRecord> units(1);
    units[0].number = 3;
    StrNCopyZ(units[0].name, "kg", 7);
    Prepare(13, dev);
    g_jobBlock.units = units.data();
    g_jobBlock.count = 0;   // counts as 1
    EXPECT_EQ(Run(13, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__ZSJednos");
    EXPECT_EQ(fake.Calls().back().request, "#5\r\n#\r\n#\r\n$3\tkg  ");

    // Read back.
    Host().Reset();
    Prepare(9, dev);
    EXPECT_EQ(Run(9, dev), 0);
    ASSERT_EQ(Host().Depts().size(), 2u);
    EXPECT_STREQ(Host().Depts()[1].name, "Nabia\xB3             ");
    Prepare(12, dev);
    EXPECT_EQ(Run(12, dev), 0);
    EXPECT_EQ(fake.Calls().back().name, "__OSJednos");
    ASSERT_EQ(Host().Units().size(), 1u);
    EXPECT_EQ(Host().Units()[0].number, 3u);
    EXPECT_STREQ(Host().Units()[0].name, "kg  ");
    EXPECT_TRUE(ExchangeFilesLeft().empty());

    // A failing department write confirms both departments.
    Host().Reset();
    fake.Result("__ZGrupa", 110);
    Prepare(11, dev);
    g_jobBlock.depts = depts.data();
    g_jobBlock.count = 2;
    EXPECT_EQ(Run(11, dev), 110);
    ASSERT_EQ(Host().Confirmations().size(), 2u);
    EXPECT_EQ(Host().Confirmations()[1].code, 110);
    EXPECT_EQ(Host().Confirmations()[1].text, PL("Numer grupy towarowej poza dozwolonym zakresem"));
}

TEST_F(ModemJobs, ReadPluReportsEachFailureAndStopsAfterThreeSilentItems) {
    fake.Do("goods", "", "2\tB                  \t1\t1\t0\t1\t0\t0000000000000\t150\t0");
    std::vector<EcrItemRecord> items = {Goods(1, "", 0), Goods(2, "", 0), Goods(3, "", 0)};
    EcrDeviceRecord dev = Device(28, 7);
    Prepare(4, dev);
    Items(items);
    EXPECT_EQ(Run(4, dev), 202);   // the last item is not defined
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_EQ(Host().Items()[0].number, 2u);
    EXPECT_STREQ(Host().Items()[0].code, "");
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 2);
    auto calls = fake.Calls();
    EXPECT_EQ(calls.back().request, "#5\r\n#\r\n#\r\n$3");

    // A register that stops answering (100) is asked three times only.
    fake.Reset();
    Host().Reset();
    fake.Result("__OTowar", 100);
    std::vector<EcrItemRecord> many(6, Goods(1, "", 0));
    Prepare(4, dev);
    Items(many);
    EXPECT_EQ(Run(4, dev), 100);
    EXPECT_EQ(fake.CountOf("__OTowar"), 3);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 6);
}

// ---- through the exports ----

class ModemExports : public ModemTest {
protected:
    static void SetUpTestSuite() { EcrCreate(nullptr); }
    int RunExport(const std::function<int()>& start) {
        EXPECT_EQ(start(), 1) << "refused: " << EcrError();
        EXPECT_TRUE(WaitEcrDone(30000));
        return EcrError();
    }
};

TEST_F(ModemExports, ProgramReadBackAndStatusOverTheModem) {
    Answer(1);
    EcrDeviceRecord dev = Device(28, 8);
    StrNCopyZ(dev.address, "0221234567", 63);
    EcrItemRecord items[2] = {
        HostItemRecord(
            {.number = 10, .name = "Ser", .code = "2900100000007", .price = 12.5, .vat = 2, .dept = 3, .unit = 2}),
        HostItemRecord({.number = 11, .name = "Mas\xB3o", .price = 0.99, .vat = 1, .dept = 1, .unit = 1}),
    };
    EXPECT_EQ(RunExport([&] { return EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram); }), 0) << EcrErrMsg();
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(ReadText("konfig.txt"), "$5\tCOM3:9600:MUX2:1\t20\tDELTA LUX 20479\t0221234567");

    EXPECT_EQ(RunExport([&] { return EcrReadAllPLU(&dev, &RecordingHost::OnItemRead); }), 0) << EcrErrMsg();
    auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].number, 10u);
    EXPECT_STREQ(read[0].code, "2900100000007");
    EXPECT_EQ(Value(read[0].price), 12.5);
    EXPECT_EQ(read[0].vat_group, 2u);
    EXPECT_EQ(read[0].department, 3u);
    EXPECT_EQ(read[0].unit, 2u);
    EXPECT_STREQ(read[1].name, "Mas\xB3o              ");

    EXPECT_EQ(RunExport([&] { return EcrReadStatus(&dev, &RecordingHost::OnStatus); }), 0) << EcrErrMsg();
    ASSERT_EQ(Host().StatusCalls().size(), 1u);
    EXPECT_EQ(Questions().size(), 1u);
    EXPECT_EQ(fake.CountOf("__ModStop"), 1);
    EXPECT_EQ(Host().EventCodes().back(), ECR_EVENT_CLOSED);
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

TEST_F(ModemExports, StatusAndVatOverTheNetworkRelay) {
    EcrDeviceRecord dev = Device(92, 13, 5, 0x0A000001);
    StrNCopyZ(dev.address, "AnyString:3001:255.255.255.250:x", 63);
    fake.Do("vat", "", "23\t8\t5\t0\tREZERWA\tREZERWA\tZWOLNIONA");
    EXPECT_EQ(RunExport([&] { return EcrReadStatus(&dev, &RecordingHost::OnStatus); }), 0) << EcrErrMsg();
    EXPECT_EQ(RunExport([&] { return EcrReadVAT(&dev, &RecordingHost::OnVat); }), 0) << EcrErrMsg();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_EQ(Host().VatCalls()[0], (VatRates{23, 8, 5, 0, -3, -3, -1, -3}));
    EXPECT_TRUE(Questions().empty());
    EXPECT_EQ(ReadText("konfig.txt"),
              "$5\tCOM1:115200:STX6:1\t20\tSIGMA\tAnyString:1002:10.20.30.6:8088:ELZABMUX:10:3");
}

TEST_F(ModemExports, Type700OnKind7AndALibraryErrorAtOpen) {
    EcrDeviceRecord dev = Device(700, 7);
    fake.Do("unit", "", "1\tszt ");
    EXPECT_EQ(RunExport([&] { return EcrReadAllUnit(&dev, &RecordingHost::OnUnitRead); }), 0) << EcrErrMsg();
    EXPECT_EQ(fake.Names(), (std::vector<std::string>{"__OSJednos"}));   // no clock on model 21
    ASSERT_EQ(Host().Units().size(), 1u);

    // Another register answers: the clock read of the open fails, so the
    // job is refused.
    Host().Reset();
    dev = Device(28, 7);
    fake.Do("register", "", "6");
    EXPECT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 0);
    EXPECT_EQ(EcrError(), 22);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_TRUE(Host().VatCalls().empty());
    EXPECT_TRUE(ExchangeFilesLeft().empty());
}

}  // namespace
}  // namespace orv::test
