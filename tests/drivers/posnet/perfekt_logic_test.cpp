// CPF_ECR jobs run the way the dispatcher runs them, against the Perfekt
// emulator on a pseudo-terminal, with the recording host's callbacks.
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "perfekt_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

const std::string kFe = "\xFE";

// Every PerfektTest of this program (this file's and the protocol tests)
// runs against both kinds of register.
INSTANTIATE_TEST_SUITE_P(Refusals, PerfektTest, ::testing::ValuesIn(kRefusalEnds), RefusalEndName);

// ---------------------------------------------------------------- variants

TEST_P(PerfektTest, ShortLayoutAndNoDepartmentsOnType45) {
    StartDevice(3);
    std::vector<EcrItemRecord> items = {PerfektItem(7, PL("Mąka"), 2.99, 2, "590123412345")};
    EXPECT_TRUE(RunItems(kJobPgmPlu, 45, items));
    ASSERT_EQ(m_emu->Frames().size(), 1u);
    EXPECT_EQ(m_emu->Commands()[0],
              "#p5" + kFe + "1" + kFe + "7\tM\x86ka            \n0590123412345\n299\t0\t0" + kFe + "1" + kFe);

    const uint32_t jobs[] = {kJobReadAllDept, kJobPgmDept, kJobReadAllUnit, kJobPgmUnit};
    for (uint32_t job : jobs) {
        SCOPED_TRACE(job);
        Host().Reset();
        m_emu->ClearFrames();
        std::vector<EcrDeptRecord> depts(1);
        depts[0].number = 1;
        std::vector<EcrUnitRecord> units(1);
        Prepare(job, 45);
        g_jobBlock.depts = depts.data();
        g_jobBlock.units = units.data();
        g_jobBlock.count = 1;
        EXPECT_FALSE(Run(job));
        EXPECT_EQ(JobError(), 25);
        EXPECT_EQ(JobText(), PL("Rozkaz niedostępny w tej wersji programu kasy"));
        EXPECT_TRUE(m_emu->Frames().empty());
        EXPECT_TRUE(Host().Confirmations().empty());
    }
}

TEST_P(PerfektTest, ItemConversionsBothWays) {
    StartDevice(4);
    EcrItemRecord item = PerfektItem(31, "Ser", 12.5, 3, "5901234123457");
    item.attr2 = 1;        // flag A
    item.attr1 = 1;        // flag B
    item.linked_plu = 40;
    std::vector<EcrItemRecord> items = {item};
    ASSERT_TRUE(RunItems(kJobPgmPlu, 54, items));
    auto stored = m_emu->Plu(31);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->flagA, "1");
    EXPECT_EQ(stored->flagB, "1");
    EXPECT_EQ(stored->link, "40");
    EXPECT_EQ(stored->vat, "2");
    EXPECT_EQ(stored->price, "1250");

    Host().Reset();
    Prepare(kJobReadAllPlu, 54);
    ASSERT_TRUE(Run(kJobReadAllPlu));
    auto read = Host().Items();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].number, 31u);
    EXPECT_STREQ(read[0].code, "5901234123457");
    EXPECT_STREQ(read[0].name, "Ser             ");
    EXPECT_EQ(read[0].vat_group, 3u);
    EXPECT_EQ(read[0].department, 0u);
    EXPECT_DOUBLE_EQ(read[0].price, 12.5);
    EXPECT_EQ(read[0].attr1, 3u);    // flag B reads back as 3
    EXPECT_EQ(read[0].attr2, 1u);
    EXPECT_EQ(read[0].unit, 1u);
    EXPECT_EQ(read[0].linked_plu, 40u);
    EXPECT_EQ(read[0].attr3, 0u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);
}

TEST_P(PerfektTest, ItemsTheRegisterCannotTakeAreRefusedBeforeTraffic) {
    StartDevice(1);
    const struct {
        EcrItemRecord item;
        int code;
        const char* text;
    } cases[] = {
        {PerfektItem(0, "Zero", 1.0), 105, "Numer PLU poza zakresem"},
        {PerfektItem(1000000, "Milion", 1.0), 105, "Numer PLU poza zakresem"},
        {PerfektItem(5, "Kod", 1.0, 1, "59012341234567"), 108, "Za duży kod kreskowy"},
        {PerfektItem(5, "Cena", -0.01), 109, "Cena towaru poza zakresem"},
        {PerfektItem(5, "NaN", std::numeric_limits<double>::quiet_NaN()), 109, "Cena towaru poza zakresem"},
        {PerfektItem(5, "Duza", 21474836.48), 109, "Cena towaru poza zakresem"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.name);
        Host().Reset();
        std::vector<EcrItemRecord> items = {c.item};
        EXPECT_FALSE(RunItems(kJobPgmPlu, 38, items));
        EXPECT_EQ(JobError(), c.code);
        auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), 1u);
        EXPECT_EQ(confirms[0].code, c.code);
        EXPECT_EQ(Utf8(confirms[0].text), c.text);
    }
    // A code with blanks fits once they are gone.
    std::vector<EcrItemRecord> spaced = {PerfektItem(5, "Kod", 1.0, 1, " 5901 2341 2345 7 ")};
    EXPECT_TRUE(RunItems(kJobPgmPlu, 38, spaced));
    EXPECT_EQ(m_emu->Plu(5)->code, "5901234123457");
    EXPECT_EQ(m_emu->CountCommand("#p"), 1);
}

// ---------------------------------------------------------------- item loops

TEST_P(PerfektTest, ARefusedItemIsConfirmedAndTheLoopGoesOn) {
    for (int refused : {2, 3}) {
        SCOPED_TRACE(refused);
        StartDevice(1);
        m_emu->Inject(Inj("#p", PFault::Refuse, 19, "", 1, refused - 1));
        std::vector<EcrItemRecord> items = {PerfektItem(1, "Jeden", 1.0), PerfektItem(2, "Dwa", 2.0),
                                            PerfektItem(3, "Trzy", 3.0)};
        EXPECT_EQ(RunItems(kJobPgmPlu, 38, items), refused == 2);
        auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
        ASSERT_EQ(progress.size(), 3u);
        EXPECT_EQ(progress[0].text, "Nazwa - Jeden");
        EXPECT_EQ(progress[0].percent, 33);
        EXPECT_EQ(progress[1].percent, 66);
        EXPECT_EQ(progress[2].percent, 100);
        // Event 6 only for a failure that is not on the last item.
        auto sixes = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        ASSERT_EQ(sixes.size(), refused == 2 ? 1u : 0u);
        if (refused == 2) {
            EXPECT_EQ(sixes[0].value, 19);
            EXPECT_EQ(sixes[0].text, PL("Błąd wartości CENA (syntaktyka, zakres lub brak)"));
        }
        auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), 1u);
        EXPECT_EQ(confirms[0].number, static_cast<uint32_t>(refused));
        EXPECT_EQ(confirms[0].code, 19);
        EXPECT_EQ(confirms[0].text, PL("Błąd wartości CENA (syntaktyka, zakres lub brak)"));
        EXPECT_EQ(m_emu->PluCount(), 2u);
    }
}

TEST_P(PerfektTest, DeletingGoods) {
    StartDevice(1);
    m_emu->SetPlu(4, EmuPlu("A", "0000000000000", "100"));
    std::vector<EcrItemRecord> items = {PerfektItem(4, "A", 1.0), PerfektItem(5, "B", 1.0)};
    EXPECT_FALSE(RunItems(kJobDelPlu, 38, items));
    EXPECT_EQ(m_emu->PluCount(), 0u);
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress[0].text, "PLU - 4");
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].code, 49);
    EXPECT_EQ(JobError(), 49);
}

TEST_P(PerfektTest, ThreeUnansweredItemsEndTheJob) {
    StartDevice(1);
    m_emu->Inject(Inj("#p", PFault::Silence, 0, "", -1));
    std::vector<EcrItemRecord> items;
    for (uint32_t n = 1; n <= 5; ++n) items.push_back(PerfektItem(n, "X", 1.0));
    EXPECT_FALSE(RunItems(kJobPgmPlu, 38, items));
    EXPECT_EQ(JobError(), -5);
    // Three frames went out; the last two items were confirmed unsent, their
    // progress still reaching 100 %.
    EXPECT_EQ(m_emu->Frames().size(), 3u);
    const auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 5u);
    EXPECT_EQ(progress.back().percent, 100);
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 5u);
    for (const auto& c : confirms) {
        EXPECT_EQ(c.code, -5);
        EXPECT_EQ(c.text, SerialErrorText(-5));
    }
}

TEST_P(PerfektTest, ALateAcceptanceIsNotTakenForTheNextItem) {
    orv::platform::SetTimeScale(0.05);
    StartDevice(1);
    m_emu->Inject(Inj("#p", PFault::Late, 400));
    m_emu->Inject(Inj("#p", PFault::Refuse, 41));
    std::vector<EcrItemRecord> items = {PerfektItem(1, "Jeden", 1.0), PerfektItem(2, "Dwa", 2.0)};
    EXPECT_FALSE(RunItems(kJobPgmPlu, 38, items));
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].code, -5);
    EXPECT_EQ(confirms[1].code, 41);
}

TEST_P(PerfektTest, ABreakInACallbackEndsTheLoopWithoutAConfirmation) {
    StartDevice(1);
    m_emu->Inject(Inj("#p", PFault::Refuse, 19));
    CTelepathy* serial = m_serial.get();
    Host().SetEventHook([&](const HostEvent& e) {
        if (e.code == ECR_EVENT_DEVICE_ERROR) serial->Break();
    });
    std::vector<EcrItemRecord> items = {PerfektItem(1, "Jeden", 1.0), PerfektItem(2, "Dwa", 2.0),
                                        PerfektItem(3, "Trzy", 3.0)};
    EXPECT_FALSE(RunItems(kJobPgmPlu, 38, items));
    EXPECT_EQ(JobError(), -7);
    EXPECT_EQ(m_emu->Frames().size(), 1u);
    auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 1u);   // the refused first item only
    EXPECT_EQ(confirms[0].code, 19);
}

// ---------------------------------------------------------------- reading goods by number

TEST_P(PerfektTest, ReadingGoodsByNumber) {
    const struct {
        const char* what;
        bool breakOnThird;
        PerfektEmulator::Injection injection;
        bool ok;
        int code;
        size_t records;
        int frames;
    } cases[] = {
        // PLU 2 is missing: reported once, the loop goes on.
        {"missing item", false, Inj("", PFault::Silence, 0, "", 0), true, 20, 2, 3},
        {"another code", false, Inj("$r", PFault::Refuse, 55, "", 1, 1), false, 55, 1, 2},
        {"a break after a missing item", true, Inj("", PFault::Silence, 0, "", 0), false, -7, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartDevice(1);
        m_emu->SetPlu(1, EmuPlu("Jeden", "0000000000000", "100"));
        m_emu->SetPlu(3, EmuPlu("Trzy", "0000000000000", "300"));
        if (c.injection.times != 0) m_emu->Inject(c.injection);
        if (c.breakOnThird) {
            CTelepathy* serial = m_serial.get();
            Host().SetEventHook([serial](const HostEvent& e) {
                if (e.code == ECR_EVENT_ITEM && e.text == "PLU - 3") serial->Break();
            });
        }
        std::vector<EcrItemRecord> items = {PerfektItem(1, "", 0), PerfektItem(2, "", 0), PerfektItem(3, "", 0)};
        EXPECT_EQ(RunItems(kJobReadPlu, 38, items), c.ok);
        EXPECT_EQ(JobError(), c.code);
        EXPECT_EQ(Host().Items().size(), c.records);
        EXPECT_EQ(static_cast<int>(m_emu->Frames().size()), c.frames);
        if (c.code == 20) {
            auto sixes = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
            ASSERT_EQ(sixes.size(), 1u);
            EXPECT_EQ(sixes[0].value, 20);
        }
    }
}

// A host whose read callbacks break the job off.
CTelepathy* g_breakingSerial = nullptr;
void ECR_CALL BreakOnItem(const EcrItemRecord*) { g_breakingSerial->Break(); }
void ECR_CALL BreakOnDept(const EcrDeptRecord*) { g_breakingSerial->Break(); }

TEST_P(PerfektTest, ABreakInAReadCallbackEndsTheJobAlsoAfterTheLastRecord) {
    StartDevice(4);
    m_emu->SetPlu(1, EmuPlu("Jeden", "0000000000000", "100"));
    m_emu->SetDept(1, "Og\xA2lny          ");
    g_breakingSerial = m_serial.get();
    std::vector<EcrItemRecord> items = {PerfektItem(1, "", 0)};
    Prepare(kJobReadPlu, 54);
    g_jobBlock.items = items.data();
    g_jobBlock.count = 1;
    g_jobBlock.itemReadCb = &BreakOnItem;
    EXPECT_FALSE(Run(kJobReadPlu));
    EXPECT_EQ(JobError(), -7);

    m_serial->ClearBreak();
    Host().Reset();
    Prepare(kJobReadAllDept, 54);
    g_jobBlock.deptReadCb = &BreakOnDept;
    EXPECT_FALSE(Run(kJobReadAllDept));
    EXPECT_EQ(JobError(), -7);
    EXPECT_EQ(m_emu->CountCommand("$r"), 2);   // PLU 1, department 1; nothing after the break
}

// A break when the register sees its k-th frame ends every job with -7,
// and nothing more is sent.
TEST_P(PerfektTest, ABreakAtAnyFrameEndsTheJob) {
    const uint32_t jobs[] = {kJobPgmPlu, kJobReadAllPlu, kJobClearSale, kJobReadAllDept, kJobReadStatus};
    for (uint32_t job : jobs) {
        for (int k = 1; k <= 4; ++k) {
            SCOPED_TRACE(std::to_string(job) + " at frame " + std::to_string(k));
            StartDevice(4);
            for (uint32_t n = 1; n <= 4; ++n) {
                PerfektEmuPlu p = EmuPlu("P" + std::to_string(n), "0000000000000", "100");
                p.quantity = 1000;
                m_emu->SetPlu(n, p);
                m_emu->SetDept(n, "D" + std::to_string(n) + "              ");
            }
            CTelepathy* serial = m_serial.get();
            auto seen = std::make_shared<int>(0);
            m_emu->SetFrameHook([serial, seen, k](const PerfektEmulator::Frame&) {
                if (++*seen == k) serial->Break();
            });
            std::vector<EcrItemRecord> items;
            for (uint32_t n = 1; n <= 5; ++n) items.push_back(PerfektItem(n, "X", 1.0));
            Prepare(job, 54);
            g_jobBlock.items = items.data();
            g_jobBlock.count = static_cast<uint32_t>(items.size());
            const bool ok = Run(job);
            if (*seen < k) continue;   // the job ended before its k-th frame
            EXPECT_FALSE(ok);
            EXPECT_EQ(JobError(), -7);
            EXPECT_EQ(static_cast<int>(m_emu->Frames().size()), k);
            EXPECT_TRUE(Host().Confirmations().empty());
        }
    }
}

// ---------------------------------------------------------------- departments

TEST_P(PerfektTest, Departments) {
    StartDevice(4);
    std::vector<EcrDeptRecord> depts(3);
    const char* names[] = {PL("Nabiał"), "Pieczywo", "Napoje i soki owocowe"};
    for (uint32_t i = 0; i < 3; ++i) {
        depts[i].number = i + 1;
        std::strcpy(depts[i].name, names[i]);
    }
    ASSERT_TRUE(RunDepts(kJobPgmDept, 62, depts));
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[0].text, PL("Grupa tow. 1 - Nabiał"));
    EXPECT_EQ(m_emu->Dept(3), "Napoje i soki ow");

    Host().Reset();
    m_emu->ClearFrames();
    Prepare(kJobReadAllDept, 62);
    ASSERT_TRUE(Run(kJobReadAllDept));
    auto read = Host().Depts();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_STREQ(read[0].name, PL("Nabiał          "));
    EXPECT_EQ(read[2].number, 3u);
    EXPECT_EQ(m_emu->CountCommand("$r"), 4);
    auto events = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].text, "Pobieranie danych grupy tow. - 1");
    EXPECT_EQ(events[0].percent, 10);
    EXPECT_EQ(events[3].percent, 40);

    // No department at all: the register's 111 fails the job.
    StartDevice(4);
    Prepare(kJobReadAllDept, 54);
    EXPECT_FALSE(Run(kJobReadAllDept));
    EXPECT_EQ(JobError(), 111);
    EXPECT_EQ(JobText(), PL("Błędny numer rekordu"));

    std::vector<EcrDeptRecord> bad(1);
    bad[0].number = 11;
    EXPECT_FALSE(RunDepts(kJobPgmDept, 54, bad));
    EXPECT_EQ(JobError(), 111);
    EXPECT_EQ(m_emu->CountCommand("#p"), 0);
}

// ---------------------------------------------------------------- status, VAT, sales

TEST_P(PerfektTest, StatusAndVat) {
    StartDevice(1);
    Prepare(kJobReadStatus, 38);
    ASSERT_TRUE(Run(kJobReadStatus));
    auto calls = Host().StatusCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_STREQ(calls[0].status.information,
                 "Typ kasy : ECR Perfekt\r\nTryb pracy fiskalny\r\nTotalizery zerowe\r\n"
                 "Numer unikatowy : ABC12345678\r\nWersja software'u : 3.01\r\n");
    EXPECT_DOUBLE_EQ(calls[0].vat[0], 23.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[4], -1.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[7], -3.0);
    auto waits = Host().EventsWithCode(ECR_EVENT_WAIT);
    ASSERT_FALSE(waits.empty());
    EXPECT_EQ(waits.back().percent, 100);

    // A failed status read asks nothing more.
    Host().Reset();
    m_emu->ClearFrames();
    m_emu->Inject(Inj("$z", PFault::Refuse, 9));
    Prepare(kJobReadStatus, 38);
    EXPECT_FALSE(Run(kJobReadStatus));
    EXPECT_EQ(JobError(), 9);
    EXPECT_EQ(m_emu->CountCommand("$s"), 0);

    Host().Reset();
    Prepare(kJobReadVat, 38);
    ASSERT_TRUE(Run(kJobReadVat));
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][1], 8.0);
}

TEST_P(PerfektTest, SalesAreReadAndCleared) {
    StartDevice(1);
    m_emu->SetPlu(2, EmuPlu("Chleb", "0000000000000", "350"));
    PerfektEmuPlu sold = EmuPlu("Piwo", "5900000000024", "499", "7");
    sold.quantity = 3000;
    sold.value = 1497;
    m_emu->SetPlu(5, sold);

    Prepare(kJobReadSale, 38);
    ASSERT_TRUE(Run(kJobReadSale));
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 1u);
    EXPECT_EQ(sales[0].item.number, 5u);
    EXPECT_STREQ(sales[0].item.code, "5900000000024");
    EXPECT_EQ(sales[0].sale.kind, 0u);
    EXPECT_EQ(sales[0].sale.number, 0u);
    EXPECT_EQ(sales[0].sale.plu, 5u);
    EXPECT_STREQ(sales[0].sale.name, "Piwo            ");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 3.0);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 14.97);

    Host().Reset();
    Prepare(kJobClearSale, 38);
    ASSERT_TRUE(Run(kJobClearSale));
    EXPECT_EQ(Host().Sales().size(), 1u);
    EXPECT_EQ(m_emu->Plu(5)->quantity, 0);
    EXPECT_EQ(m_emu->Plu(5)->vat, "7");
    EXPECT_EQ(m_emu->CountCommand("#p"), 1);

    // A refused rewrite fails the job with its code.
    m_emu->SetSale(5, 1000, 499);
    m_emu->Inject(Inj("#p", PFault::Refuse, 57));
    Host().Reset();
    Prepare(kJobClearSale, 38);
    EXPECT_FALSE(Run(kJobClearSale));
    EXPECT_EQ(JobError(), 57);
    EXPECT_EQ(JobText(), PL("Błąd modyfikacji rekordu"));

    // A sold item whose price lies beyond what can be written back: the
    // rewrite is not sent and the job fails with the price's own text, as a
    // programming job does.
    PerfektEmuPlu dear = EmuPlu("Zloto", "0000000000000", "2147483648");
    dear.quantity = 1000;
    dear.value = 1;
    m_emu->SetPlu(5, dear);
    Host().Reset();
    Prepare(kJobClearSale, 38);
    EXPECT_FALSE(Run(kJobClearSale));
    EXPECT_EQ(JobError(), 109);
    EXPECT_EQ(JobText(), PL("Cena towaru poza zakresem"));
    EXPECT_EQ(m_emu->Plu(5)->quantity, 1000);
    std::vector<EcrItemRecord> items = {PerfektItem(6, "Zloto", 21474836.48)};
    Host().Reset();
    EXPECT_FALSE(RunItems(kJobPgmPlu, 38, items));
    EXPECT_EQ(JobError(), 109);
    EXPECT_EQ(JobText(), PL("Cena towaru poza zakresem"));
}

}  // namespace
}  // namespace orv::test
