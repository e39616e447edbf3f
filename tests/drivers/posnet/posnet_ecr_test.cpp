// The Posnet ECR protocol and CPE_ECR against the emulator: frames and
// sequence numbers, the reply checks, statuses, VAT rates, the record parse
// by field mask, the walks, and the slots that send nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/dsa/line_settings_spy.h"
#include "drivers/posnet/cpe_ecr.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "platform/clock.h"
#include "sim/posnet/posnet_ecr_emulator.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

constexpr int kPort = 9;
using EFault = PosnetEcrEmulator::Fault;

PosnetEcrEmulator::Injection EInj(const std::string& command, EFault fault, int arg = 0, const std::string& text = "",
                                  int times = 1, int skip = 0) {
    return MakeInjection<PosnetEcrEmulator::Injection>(command, fault, arg, text, times, skip);
}

PosnetEcrEmuRecord Record(const std::string& name, const std::string& price, const std::string& quantity = "0.000",
                          const std::string& value = "0.00") {
    PosnetEcrEmuRecord r;
    r.name = name;
    r.price = price;
    r.quantity = quantity;
    r.value = value;
    return r;
}

class PosnetEcrTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);
        Host().Reset();
        StartDevice();
    }
    void TearDown() override {
        if (m_logic && m_logic->IsRunning()) {
            m_logic->Break();
            m_serial->Break();
            WaitJobEnd(*m_logic, 10000);
        }
        m_emu->Stop();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    void StartDevice() {
        // The old line goes first: its end restores the port's variable.
        m_logic.reset();
        m_serial.reset();
        m_emu.reset();
        m_emu = std::make_unique<PosnetEcrEmulator>(kPort);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        Host().Reset();
    }
    std::unique_ptr<CPosnetECR> OpenLink() {
        auto link = std::make_unique<CPosnetECR>();
        link->SetSerial(m_serial.get());
        EXPECT_EQ(link->Open(kPort), 1) << link->m_nError;
        return link;
    }
    bool Run(uint32_t job, int baud = 9600) {
        if (!m_logic) m_logic = std::make_unique<CPE_ECR>();
        PrepareJobBlock(job, DeviceRecord(21, kPort, baud));
        g_jobBlock.items = m_items.data();
        g_jobBlock.depts = m_depts.data();
        g_jobBlock.count = static_cast<uint32_t>(std::max(m_items.size(), m_depts.size()));
        EXPECT_TRUE(RunJob(*m_logic, job, m_serial.get(), nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    void ThreeRecords() {
        PosnetEcrEmuRecord a = Record("Chleb", "3.50");
        a.barcode = "5900000000017";
        m_emu->SetRecord(1, a);
        m_emu->SetRecord(2, Record("Piwo", "4.99", "3.000", "14.97"));
        PosnetEcrEmuRecord c = Record("Sok", "2.50", "1.500", "3.75");
        c.vat = "0";
        c.dept = "4";
        m_emu->SetRecord(7, c);
    }

    std::unique_ptr<PosnetEcrEmulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    std::unique_ptr<CPE_ECR> m_logic;
    std::vector<EcrItemRecord> m_items;
    std::vector<EcrDeptRecord> m_depts;
};

// ---------------------------------------------------------------- frames

TEST_F(PosnetEcrTest, FramesAndSequenceNumbers) {
    auto link = OpenLink();
    ASSERT_EQ(link->ResetLink(1), 1) << link->m_nError;
    link->SetSequence(0);
    CChrArr reply;
    ASSERT_EQ(link->CheckStatus(reply), 1) << link->m_nError;
    auto frames = m_emu->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].raw, B("\x1BP,a01\r1\r82\x1B\\"));
    EXPECT_EQ(Hex(frames[1].raw), "1B 50 2A 61 30 31 0D 42 38 1B 5C");

    // 255 is followed by 00.
    link->SetSequence(254);
    ASSERT_EQ(link->CheckStatus(reply), 1);
    ASSERT_EQ(link->CheckStatus(reply), 1);
    auto commands = m_emu->Commands();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[2], "*aFF");
    EXPECT_EQ(commands[3], "*a00");
    EXPECT_EQ(m_emu->ChecksumErrors(), 0);
}

TEST_F(PosnetEcrTest, ReplyChecks) {
    const struct {
        const char* what;
        EFault fault;
        std::string text;
        int code;
    } cases[] = {
        {"wrong lead", EFault::WrongLead, "", 10006},
        {"noise", EFault::Garbage, "", 10006},
        {"no closing ESC", EFault::NoClosingEsc, "", 10004},
        {"wrong end byte", EFault::WrongEnd, "", 10002},
        {"bad checksum", EFault::BadChecksum, "", 10001},
        {"wrong sequence", EFault::WrongSequence, "", 10000},
        {"no CR", EFault::MissingCr, "", 9999},
        {"silence", EFault::Silence, "", -5},
        {"hang-up", EFault::HangUp, "", -6},
        {"data CR alone", EFault::Raw, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartDevice();
        auto link = OpenLink();
        m_emu->Inject(EInj("*a", c.fault, 0, c.text));
        ASSERT_EQ(link->SendFrame(7, CChrArr("*a"), CChrArr()), 1);
        CChrArr command;
        const CChrArr data = link->ReadFrame(7, command);
        EXPECT_EQ(link->m_nError, c.code);
        EXPECT_EQ(data.IsEmpty(), c.code != 0);
        if (c.code == 0) {
            EXPECT_EQ(command, "*A");
            auto fields = CPosnetECR::SplitData(data);
            ASSERT_EQ(fields.size(), 1u);
            EXPECT_EQ(fields[0], "0");
        }
    }
}

TEST_F(PosnetEcrTest, RetriesFollowALinkReset) {
    auto link = OpenLink();
    link->SetSequence(0);
    m_emu->Inject(EInj("*a", EFault::WrongSequence));
    CChrArr reply;
    ASSERT_EQ(link->CheckStatus(reply), 1) << link->m_nError;
    EXPECT_EQ(m_emu->Commands(), (std::vector<std::string>{"*a01", ",a01", "*a02"}));

    // 1 try gets 2 attempts, 12 get 10.
    for (int tries : {1, 12}) {
        SCOPED_TRACE(tries);
        StartDevice();
        link = OpenLink();
        m_emu->Inject(EInj("*a", EFault::WrongSequence, 0, "", -1));
        CChrArr command("*a"), data;
        EXPECT_EQ(link->Transact(command, data, tries), 0);
        EXPECT_EQ(link->m_nError, 10000);
        EXPECT_EQ(m_emu->CountCommand("*a"), tries == 1 ? 2 : 10);
        EXPECT_EQ(m_emu->CountCommand(",a"), tries == 1 ? 1 : 9);
    }

    // A break ends at once: no reset, no retry.
    StartDevice();
    link = OpenLink();
    CTelepathy* serial = m_serial.get();
    m_emu->SetFrameHook([serial](const PosnetEcrEmulator::Frame&) { serial->Break(); });
    m_emu->Inject(EInj("*a", EFault::Silence));
    CChrArr command("*a"), data;
    EXPECT_EQ(link->Transact(command, data, 5), 0);
    EXPECT_EQ(link->m_nError, -7);
    EXPECT_EQ(m_emu->Frames().size(), 1u);
}

// ---------------------------------------------------------------- statuses and texts

TEST(PosnetEcrCodes, StatusFields) {
    const struct {
        const char* field;
        int code;
    } cases[] = {{"0", 0}, {"55", 1055}, {"8999", 9999}, {"9000", 9999}, {"-3", 9999}, {"x", 9999}, {"", 9999}, {"00", 0}};
    for (const auto& c : cases) EXPECT_EQ(CPosnetECR::StatusCode(CChrArr(c.field)), c.code) << c.field;
    CPosnetECR p;
    EXPECT_EQ(p.GetErrorText(1055), PL("Błędne hasło"));
    EXPECT_EQ(p.GetErrorText(55), PL("Błędne hasło"));
    for (int code : {45, 1045, 111, 120, 10000, 10001, 9999})
        EXPECT_EQ(p.GetErrorText(code), p.CTelepathyECR::GetErrorText(code)) << code;
}

TEST_F(PosnetEcrTest, ARegisterStatusFailsTheRequest) {
    auto link = OpenLink();
    m_emu->Inject(EInj("*a", EFault::Status, 55));
    CChrArr reply;
    EXPECT_EQ(link->CheckStatus(reply), 0);
    EXPECT_EQ(link->m_nError, 1055);
    EXPECT_EQ(m_emu->CountCommand("*a"), 1);   // a register's answer is not retried
}

TEST_F(PosnetEcrTest, VatRates) {
    const struct {
        std::string last;
        int defined;   // rates A.. that stay
    } cases[] = {{"-1", 0}, {"2", 3}, {"5", 6}, {"-7", 0}, {"9", 6}};
    auto link = OpenLink();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last);
        m_emu->SetRates({"23.00", "8", "5.5", "0", "12.25", "3"}, c.last);
        double vat[8];
        ASSERT_EQ(link->ReadStatusAndVat(vat), 1) << link->m_nError;
        const double rates[6] = {23.0, 8.0, 5.5, 0.0, 12.25, 3.0};
        for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(vat[i], i < c.defined ? rates[i] : -3.0) << i;
        EXPECT_DOUBLE_EQ(vat[6], -1.0);
        EXPECT_DOUBLE_EQ(vat[7], -3.0);
    }
    m_emu->SetRates({"23.00", "8", "x", "0", "0", "0"}, "5");
    double vat[8];
    EXPECT_EQ(link->ReadStatusAndVat(vat), 0);
    EXPECT_EQ(link->m_nError, 9999);
}

// ---------------------------------------------------------------- records

TEST(PosnetEcrCodes, RecordParseByMask) {
    const std::vector<std::string> full = {"12", "Kawa", "0", "0000000000000", "17.50", "1", "0", "3", "44", "35.00", "2.000"};
    auto fields = [](const std::vector<std::string>& f, size_t n) {
        std::vector<CChrArr> out;
        for (size_t i = 0; i < n && i < f.size(); ++i) out.emplace_back(f[i]);
        return out;
    };
    const struct {
        uint32_t mask;
        size_t needed;
    } cases[] = {{0, 7}, {1, 8}, {2, 7}, {4, 10}, {8, 11}, {0x800, 9}, {0x80F, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        PosnetEcrPlu plu;
        PosnetEcrSale sale;
        ASSERT_TRUE(CPosnetECR::ParseRecord(fields(full, c.needed), c.mask, plu, sale));
        EXPECT_FALSE(CPosnetECR::ParseRecord(fields(full, c.needed - 1), c.mask, plu, sale));
        ASSERT_TRUE(CPosnetECR::ParseRecord(fields(full, 11), c.mask, plu, sale));
        EXPECT_EQ(plu.number, 12u);
        EXPECT_STREQ(plu.name, "Kawa");
        EXPECT_EQ(plu.vatGroup, 7u);              // 0 reads as 7
        EXPECT_STREQ(plu.code, "");               // thirteen zeros: none
        EXPECT_DOUBLE_EQ(plu.price, 17.5);
        EXPECT_EQ(plu.department, c.mask & 1 ? 3u : 0u);
        EXPECT_EQ(plu.extra, c.mask & 0x800 ? 44u : 0u);
        EXPECT_DOUBLE_EQ(sale.value, c.mask & 4 ? 35.0 : 0.0);
        EXPECT_DOUBLE_EQ(sale.quantity, c.mask & 8 ? 2.0 : 0.0);
    }
    std::vector<std::string> coded = full;
    coded[3] = "5901234123457";
    coded[1] = std::string(30, 'N');
    PosnetEcrPlu plu;
    PosnetEcrSale sale;
    ASSERT_TRUE(CPosnetECR::ParseRecord(fields(coded, 11), 2, plu, sale));
    EXPECT_STREQ(plu.code, "5901234123457");
    EXPECT_EQ(std::string(plu.name), std::string(24, 'N'));
    coded[5] = "2";   // a flag is "0" or "1"
    EXPECT_FALSE(CPosnetECR::ParseRecord(fields(coded, 11), 2, plu, sale));
    coded[5] = "1";
    coded[4] = "";    // an empty number fails
    EXPECT_FALSE(CPosnetECR::ParseRecord(fields(coded, 11), 2, plu, sale));
}

// ---------------------------------------------------------------- walks

TEST_F(PosnetEcrTest, WalksWithEventsAndPercentages) {
    ThreeRecords();
    auto link = OpenLink();
    std::vector<uint32_t> all, sold;
    ASSERT_EQ(link->ReadAllPlus([&](const PosnetEcrPlu& p, const PosnetEcrSale&) { all.push_back(p.number); }), 1)
        << link->m_nError;
    EXPECT_EQ(all, (std::vector<uint32_t>{1, 2, 7}));
    auto events = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].text, "Odczytano 1 pozycji z 3");
    EXPECT_EQ(events[0].percent, 33);
    EXPECT_EQ(events[1].percent, 66);
    EXPECT_EQ(events[2].percent, 100);
    auto commands = m_emu->Commands();
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[0], ",a01");
    EXPECT_EQ(commands[1], "*b02");
    EXPECT_EQ(commands[2], "*a03");
    EXPECT_EQ(commands[3], "(k04");
    EXPECT_EQ(commands[4], "(l05");
    EXPECT_EQ(commands[5], "(l06");

    ASSERT_EQ(link->ReadPluSales([&](const PosnetEcrPlu& p, const PosnetEcrSale&) { sold.push_back(p.number); }), 1);
    EXPECT_EQ(sold, (std::vector<uint32_t>{2, 7}));
}

TEST_F(PosnetEcrTest, WalkEdges) {
    // No goods: success without a record request.
    auto link = OpenLink();
    EXPECT_EQ(link->ReadAllPlus(nullptr), 1) << link->m_nError;
    EXPECT_EQ(m_emu->CountCommand("(k"), 0);
    m_emu->SetReportedCount("-1");
    EXPECT_EQ(link->ReadAllPlus(nullptr), 0);
    EXPECT_EQ(link->m_nError, 9999);
    m_emu->SetReportedCount("");

    ThreeRecords();
    const struct {
        const char* what;
        PosnetEcrEmulator::Injection injection;
        int code;
    } cases[] = {
        {"spoilt (l", EInj("(l", EFault::BadChecksum), 10001},
        {"silent (l", EInj("(l", EFault::Silence), -5},
        {"early end", EInj("(l", EFault::Status, 91), 105},
        {"register status", EInj("(l", EFault::Status, 4), 1004},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_emu->ClearFrames();
        m_emu->Inject(c.injection);
        std::vector<uint32_t> seen;
        EXPECT_EQ(link->ReadAllPlus([&](const PosnetEcrPlu& p, const PosnetEcrSale&) { seen.push_back(p.number); }), 0);
        EXPECT_EQ(link->m_nError, c.code);
        EXPECT_EQ(seen.size(), 1u);
        // "(l" once, no reset after it.
        EXPECT_EQ(m_emu->CountCommand("(l"), 1);
        EXPECT_EQ(m_emu->CountCommand(",a"), 1);
    }
}

TEST_F(PosnetEcrTest, QuantitiesMissingFromTheMask) {
    ThreeRecords();
    m_emu->SetMask(0x7);
    auto link = OpenLink();
    int n = 0;
    EXPECT_EQ(link->ReadAllPlus([&](const PosnetEcrPlu&, const PosnetEcrSale& s) {
        ++n;
        EXPECT_EQ(s.quantity, 0.0);
    }), 1);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(link->m_nError, 1004);
    m_emu->ClearFrames();
    EXPECT_EQ(link->ReadPluSales(nullptr), 0);
    EXPECT_EQ(link->m_nError, 1004);
    EXPECT_EQ(m_emu->CountCommand("(k"), 0);
}

TEST_F(PosnetEcrTest, ABreakInTheCallbackEndsTheWalk) {
    ThreeRecords();
    auto link = OpenLink();
    CTelepathy* serial = m_serial.get();
    EXPECT_EQ(link->ReadAllPlus([&](const PosnetEcrPlu&, const PosnetEcrSale&) { serial->Break(); }), 0);
    EXPECT_EQ(link->m_nError, -7);
    EXPECT_EQ(m_emu->CountCommand("(l"), 0);
}

// ---------------------------------------------------------------- the logic

TEST_F(PosnetEcrTest, SlotsThatSendNothing) {
    m_items = {HostItemRecord({.number = 1, .name = "Jeden", .code = "590"}), HostItemRecord({.number = 2, .name = "Dwa"}),
               HostItemRecord({.number = 3, .name = "Trzy"})};
    for (uint32_t job : {5u, 7u}) {
        SCOPED_TRACE(job);
        Host().Reset();
        EXPECT_FALSE(Run(job));
        auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
        ASSERT_EQ(progress.size(), 3u);
        EXPECT_EQ(progress[1].text, "Nazwa - Dwa");
        EXPECT_EQ(progress[1].percent, 66);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
        auto confirms = Host().Confirmations();
        ASSERT_EQ(confirms.size(), 3u);
        for (const auto& c : confirms) {
            EXPECT_EQ(c.code, 25);
            EXPECT_EQ(c.text, PL("Rozkaz niedostępny w tej wersji programu kasy"));
        }
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
        EXPECT_EQ(m_logic->GetErrorCode(), 25);
    }
    m_items.clear();
    m_depts.resize(2);
    m_depts[0].number = 1;
    std::strcpy(m_depts[0].name, "Ogolny");
    m_depts[1].number = 2;
    Host().Reset();
    EXPECT_FALSE(Run(11));
    EXPECT_EQ(Host().Confirmations().size(), 2u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    m_depts.clear();

    m_items = {HostItemRecord({.number = 1, .name = "Jeden", .code = "5901234123457"})};
    Host().Reset();
    EXPECT_FALSE(Run(4));
    auto progress = Host().EventsWithCode(ECR_EVENT_ITEM);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].text, "Kod kreskowy - 5901234123457");
    EXPECT_EQ(progress[0].percent, 100);
    EXPECT_EQ(m_logic->GetErrorCode(), 25);

    for (uint32_t job : {2u, 9u}) {
        Host().Reset();
        EXPECT_FALSE(Run(job));
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);
        EXPECT_EQ(m_logic->GetErrorCode(), 25);
    }
    EXPECT_TRUE(m_emu->Frames().empty());
}

// A break when the register sees its k-th frame ends every job with -7,
// and nothing more is sent (a reset included).
TEST_F(PosnetEcrTest, ABreakAtAnyFrameEndsTheJob) {
    for (uint32_t job : {3u, 1u, 14u}) {
        for (int k = 1; k <= 6; ++k) {
            SCOPED_TRACE(std::to_string(job) + " at frame " + std::to_string(k));
            StartDevice();
            ThreeRecords();
            CTelepathy* serial = m_serial.get();
            auto seen = std::make_shared<int>(0);
            m_emu->SetFrameHook([serial, seen, k](const PosnetEcrEmulator::Frame&) {
                if (++*seen == k) serial->Break();
            });
            const bool ok = Run(job);
            if (*seen < k) continue;   // the job ended before its k-th frame
            EXPECT_FALSE(ok);
            EXPECT_EQ(m_logic->GetErrorCode(), -7);
            EXPECT_EQ(static_cast<int>(m_emu->Frames().size()), k);
        }
    }
}

TEST_F(PosnetEcrTest, StatusVatGoodsAndSalesJobs) {
    LineSettingsSpy spy;
    StartDevice();
    ThreeRecords();
    EXPECT_TRUE(Run(14, 19200));
    auto calls = Host().StatusCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_STREQ(calls[0].status.device_text, "");
    EXPECT_STREQ(calls[0].status.text2, "");
    EXPECT_STREQ(calls[0].status.unique_number, "");
    EXPECT_DOUBLE_EQ(calls[0].vat[0], 23.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[4], -3.0);
    EXPECT_DOUBLE_EQ(calls[0].vat[6], -1.0);
    // 9600 8N1 whatever the record says.
    auto settings = spy.Requested();
    ASSERT_FALSE(settings.empty());
    EXPECT_EQ(settings[0].baud, 9600);
    EXPECT_EQ(settings[0].dataBits, 8);
    EXPECT_EQ(settings[0].parity, 'N');
    EXPECT_EQ(settings[0].stopBits, 1);

    Host().Reset();
    EXPECT_TRUE(Run(15));
    ASSERT_EQ(Host().VatCalls().size(), 1u);

    Host().Reset();
    EXPECT_TRUE(Run(3));
    auto items = Host().Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_STREQ(items[0].code, "5900000000017");
    EXPECT_EQ(items[2].vat_group, 7u);
    EXPECT_EQ(items[2].department, 4u);
    EXPECT_DOUBLE_EQ(items[2].price, 2.5);
    EXPECT_EQ(items[2].unit, 1u);

    Host().Reset();
    EXPECT_TRUE(Run(1));
    auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_EQ(sales[0].sale.plu, 2u);
    EXPECT_STREQ(sales[0].sale.name, "Piwo");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 3.0);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 14.97);
    EXPECT_EQ(sales[0].item.number, 2u);
}

}  // namespace
}  // namespace orv::test
