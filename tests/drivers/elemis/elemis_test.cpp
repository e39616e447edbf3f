// Elemis registers: the line coding and records of CElemis, and the jobs of
// CEMS_ECR against the Elemis emulator on a pseudo-terminal (through the
// logic class as the dispatcher runs it, and once through the exports).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <unistd.h>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/elemis/cems_ecr.h"
#include "fakes/recording_host.h"
#include "job/job_block.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/elemis/elemis_emulator.h"
#include "util/cp1250.h"

namespace {

using orv::test::Bytes;
using orv::test::ElemisEmulator;
using orv::test::Host;
using orv::test::HostDeptRecord;
using orv::test::RecordingHost;
using Answer = ElemisEmulator::Answer;

constexpr int kPort = 10;

enum Job : uint32_t {
    kReadSale = 1, kClearSale = 2, kReadAllPlu = 3, kReadPlu = 4, kPgmPlu = 5, kDelPlu = 7,
    kReadAllDept = 9, kPgmDept = 11, kReadStatus = 14, kReadVat = 15,
};

Bytes Of(const CChrArr& a) { return a.bytes(); }

// A goods item as this driver reads it: the VAT group in byte 96 (the
// department field), the attribute in byte 176.
EcrItemRecord Item(uint32_t number, const char* code, const char* name, double price, uint32_t vat,
                   uint32_t attribute = 0) {
    EcrItemRecord r = orv::test::HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = 0, .dept = vat});
    r.linked_plu = attribute;
    return r;
}

EcrDeptRecord Dept(uint32_t number, const char* name, uint32_t vat, double price) {
    return HostDeptRecord({.number = number, .name = name, .vat = vat, .price = price});
}

// ------------------------------------------------------------- coding

TEST(ElemisCoding, FramesAndDigits) {
    Bytes poll = {0x03};
    poll.insert(poll.end(), 299, 0x80);
    poll.push_back(0x04);
    poll.push_back(0xFF);
    EXPECT_EQ(Of(CElemis::Encode(0, 0, 0, CChrArr())), poll);

    const CChrArr all = CElemis::Encode(0xFF, 0xFF, 0xFF, CChrArr(256, 0xFF));
    ASSERT_EQ(all.GetLength(), 302);
    EXPECT_EQ(Of(all.Right(5)), (Bytes{0xFD, 0x81, 0x81, 0x04, 0xFF}));   // sum 0x01FD
    for (int g = 0; g < 37; ++g) EXPECT_EQ(all[1 + g * 8 + 7], 0xFF);      // every bit 7 collected
    const CChrArr record = CElemis::Decode(all.Mid(1, 299));
    EXPECT_EQ(Of(record), Bytes(259, 0xFF));
    EXPECT_TRUE(CElemis::Decode(all.Mid(1, 298)).IsEmpty());

    EXPECT_EQ(Of(CElemis::PackBcd("00000000000042")), (Bytes{0, 0, 0, 0, 0, 0, 0x42}));
    EXPECT_EQ(Of(CElemis::PackBcd("05901234123457")), (Bytes{0x05, 0x90, 0x12, 0x34, 0x12, 0x34, 0x57}));
    EXPECT_EQ(Of(CElemis::PackBcd("123")), (Bytes{0x12, 0x30}));
    EXPECT_TRUE(CElemis::PackBcd("12a4").IsEmpty());
    EXPECT_EQ(CElemis::UnpackBcd(CChrArr(Bytes{0xF1, 0xA9, 0x42}.data(), 3)), "-1-942");
}

TEST(ElemisCoding, GoodsRecords) {
    CElemis proto;
    ElemisPlu plu;
    plu.number = 42;
    plu.vatGroup = 2;
    plu.price = 12.345;
    plu.attribute = 7;
    std::strcpy(plu.name, "Mleko");
    CChrArr rec;
    ASSERT_EQ(proto.BuildPluRecord(plu, rec), 1);
    ASSERT_EQ(rec.GetLength(), 64);
    EXPECT_EQ(Of(rec.Left(12)), (Bytes{0x01, 0x29, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x42}));
    EXPECT_EQ(rec.Mid(12, 18).ToString(), "Mleko             ");
    EXPECT_EQ(Of(rec.Mid(30, 4)), (Bytes{0x00, 0x00, 0x04, 0xD2}));   // 1234 hundredths
    EXPECT_EQ(rec[49], 1);
    EXPECT_EQ(rec[54], 7);

    std::strcpy(plu.code, " 5901234123457 ");
    ASSERT_EQ(proto.BuildPluRecord(plu, rec), 1);
    EXPECT_EQ(Of(rec.Mid(5, 7)), (Bytes{0x05, 0x90, 0x12, 0x34, 0x12, 0x34, 0x57}));

    struct Case {
        const char* code;
        uint32_t number, vat;
        double price;
        uint32_t attribute;
        int error;
    } cases[] = {
        {"12a4", 1, 1, 1.0, 0, EMS_ERR_CODE},
        {"59012341234570", 1, 1, 1.0, 0, EMS_ERR_CODE},
        {"1", 0, 1, 1.0, 0, EMS_ERR_PLU_NUMBER},
        {"1", 10001, 1, 1.0, 0, EMS_ERR_PLU_NUMBER},
        {"1", 1, 0, 1.0, 0, EMS_ERR_RANGE},
        {"1", 1, 9, 1.0, 0, EMS_ERR_RANGE},
        {"1", 1, 1, -0.01, 0, EMS_ERR_PRICE},
        {"1", 1, 1, std::numeric_limits<double>::quiet_NaN(), 0, EMS_ERR_PRICE},
        {"1", 1, 1, 42949672.96, 0, EMS_ERR_PRICE},
        {"1", 1, 1, 1.0, 256, EMS_ERR_RECORD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        ElemisPlu p;
        std::strcpy(p.code, c.code);
        p.number = c.number;
        p.vatGroup = c.vat;
        p.price = c.price;
        p.attribute = c.attribute;
        EXPECT_EQ(proto.BuildPluRecord(p, rec), 0);
        EXPECT_EQ(proto.m_nError, c.error);
    }
    plu.price = 42949672.95;
    EXPECT_EQ(proto.BuildPluRecord(plu, rec), 1);
}

// Puts the traffic dumps of a long run into memory (/dev/shm) when there is
// one: 7,500 dump files on a disk would take most of the test's time.
class DumpsInMemory {
public:
    DumpsInMemory() {
        const char* old = std::getenv("TMPDIR");
        m_had = old != nullptr;
        if (m_had) m_old = old;
        if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    }
    ~DumpsInMemory() {
        if (m_had) setenv("TMPDIR", m_old.c_str(), 1);
        else unsetenv("TMPDIR");
    }

private:
    bool m_had = false;
    std::string m_old;
};

// --------------------------------------------------------------- jobs

class ElemisJobs : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.05);
        unsetenv("ECR_ELEMIS_LINK");
        Host().Reset();
        m_emu.Start();
    }
    void TearDown() override {
        if (m_logic.IsRunning()) {
            m_logic.Break();
            m_serial.Break();
            orv::test::WaitJobEnd(m_logic, 10000);
        }
        m_emu.Stop();
        unsetenv("ECR_ELEMIS_LINK");
        orv::platform::SetTimeScale(1.0);
    }
    void Prepare(uint32_t job) { orv::test::PrepareJobBlock(job, orv::test::DeviceRecord(75, kPort, 9600)); }
    bool Run(uint32_t job) {
        EXPECT_TRUE(orv::test::RunJob(m_logic, job, &m_serial, nullptr));
        return Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1;
    }
    bool RunJob(uint32_t job) {
        Prepare(job);
        return Run(job);
    }
    bool RunItems(uint32_t job, std::vector<EcrItemRecord>& items) {
        Prepare(job);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        return Run(job);
    }
    std::vector<uint8_t> Types() const {
        std::vector<uint8_t> t;
        for (const auto& r : m_emu.Requests()) t.push_back(r.type);
        return t;
    }

    // Starts programming the items, waits for the register's first request
    // of `type`, runs `atBreak` and breaks the job off. The milliseconds from
    // the break to the job's end (a large number when it did not get there).
    int64_t BreakProgrammingAt(std::vector<EcrItemRecord>& items, uint8_t type, const std::function<void()>& atBreak) {
        Prepare(kPgmPlu);
        g_jobBlock.items = items.data();
        g_jobBlock.count = static_cast<uint32_t>(items.size());
        m_logic.SetSerial(&m_serial);
        m_serial.ClearBreak();
        if (!m_logic.Start(nullptr, 0)) return 1000000;
        for (int i = 0; i < 1000 && m_emu.CountRequests(type) < 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(m_emu.CountRequests(type), 1);
        atBreak();
        const int64_t t0 = orv::platform::MonotonicMillis();
        m_logic.Break();
        m_serial.Break();
        if (!orv::test::WaitJobEnd(m_logic, 15000)) return 1000000;
        return orv::platform::MonotonicMillis() - t0;
    }

    ElemisEmulator m_emu{kPort};
    CTelepathy m_serial;
    CEMS_ECR m_logic;
};

TEST_F(ElemisJobs, LinkConstantOpensAndClosesTheLink) {
    setenv("ECR_ELEMIS_LINK", "123456789012", 1);
    m_emu.SetLinkConstant("123456789012");
    ASSERT_TRUE(RunJob(kReadVat)) << m_logic.GetErrorCode();
    const auto reqs = m_emu.Requests();
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].type, 14);
    EXPECT_EQ(reqs[0].addr0, 1);
    EXPECT_EQ(Bytes(reqs[0].payload.begin(), reqs[0].payload.begin() + 11),
              (Bytes{0x34, 0x12, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x00}));
    EXPECT_EQ(reqs.back().type, 14);
    EXPECT_EQ(reqs.back().addr0, 2);
    EXPECT_FALSE(m_emu.Linked());
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    const auto vat = Host().VatCalls()[0];
    EXPECT_DOUBLE_EQ(vat[0], 23.0);
    EXPECT_DOUBLE_EQ(vat[1], 8.0);
    EXPECT_DOUBLE_EQ(vat[4], -1.0);   // 10000: exempt

    // A link constant that is not 12 digits fails the open before traffic.
    setenv("ECR_ELEMIS_LINK", "12345", 1);
    m_emu.ClearRequests();
    Host().Reset();
    Prepare(kReadVat);
    EXPECT_FALSE(orv::test::RunJob(m_logic, kReadVat, &m_serial, nullptr));   // refused at the open
    EXPECT_EQ(m_logic.GetErrorCode(), EMS_ERR_CODE);
    EXPECT_TRUE(m_emu.Requests().empty());

    // A link the register refuses fails the open; the next job opens.
    unsetenv("ECR_ELEMIS_LINK");
    Host().Reset();
    Prepare(kReadVat);
    EXPECT_FALSE(orv::test::RunJob(m_logic, kReadVat, &m_serial, nullptr));
    EXPECT_EQ(m_logic.GetErrorCode(), EMS_ERR_BAD_ANSWER);
    EXPECT_STREQ(m_logic.GetErrorMessage(), PL("Niepoprawna odpowiedź z kasy"));
    m_emu.SetLinkConstant("000000000000");
    Host().Reset();
    EXPECT_TRUE(RunJob(kReadVat)) << m_logic.GetErrorCode();
    Host().Reset();
    EXPECT_TRUE(RunJob(kReadStatus)) << m_logic.GetErrorCode();
    ASSERT_EQ(Host().StatusCalls().size(), 1u);
    EXPECT_STREQ(Host().StatusCalls()[0].status.unique_number, "ABC12345678");
}

TEST_F(ElemisJobs, GoodsProgrammedAndReadBack) {
    std::vector<EcrItemRecord> items = {Item(42, "", "Chleb", 3.2, 1, 5), Item(7, "5901234123457", PL("Żurek"), 4.99, 2),
                                        Item(9999, "", "Ostatni", 0.01, 8)};
    ASSERT_TRUE(RunItems(kPgmPlu, items)) << m_logic.GetErrorCode();
    EXPECT_TRUE(Host().Confirmations().empty());
    const Bytes slot = m_emu.PluSlot(42);
    EXPECT_EQ(Bytes(slot.begin(), slot.begin() + 7), (Bytes{0, 0, 0, 0, 0, 0, 0x42}));
    EXPECT_EQ(slot[44], 0);
    EXPECT_EQ(slot[49], 5);

    // All 2500 blocks are read; only used slots reach the host.
    Host().Reset();
    m_emu.ClearRequests();
    {
        DumpsInMemory inMemory;
        ASSERT_TRUE(RunJob(kReadAllPlu)) << m_logic.GetErrorCode();
    }
    EXPECT_EQ(m_emu.CountRequests(11), 2500);
    const auto read = Host().Items();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].number, 7u);
    EXPECT_STREQ(read[0].code, "5901234123457");
    EXPECT_STREQ(read[0].name, PL("Żurek"));
    EXPECT_EQ(read[0].department, 2u);
    EXPECT_DOUBLE_EQ(read[0].price, 4.99);
    EXPECT_EQ(read[0].unit, 1u);
    EXPECT_EQ(read[1].number, 42u);
    EXPECT_STREQ(read[1].code, "0000000000042");
    EXPECT_EQ(read[1].linked_plu, 5u);
    EXPECT_EQ(read[2].number, 9999u);

    // A single read asks with the field mask and no poll; a slot the
    // register does not hold gives event 6 with 202 and no record, and the
    // job ends as its last item did.
    std::vector<EcrItemRecord> ask = {Item(42, "", "", 0, 0), Item(43, "", "", 0, 0), Item(7, "", "", 0, 0)};
    Host().Reset();
    m_emu.ClearRequests();
    EXPECT_TRUE(RunItems(kReadPlu, ask));
    EXPECT_EQ(m_logic.GetErrorCode(), 0);
    EXPECT_EQ(Types(), (std::vector<uint8_t>{14, 11, 11, 11, 14}));
    const Bytes mask = m_emu.Requests()[1].payload;
    EXPECT_EQ(mask[44], 0xFF);
    EXPECT_EQ(mask[45], 0x00);
    EXPECT_EQ(mask[49], 0xFF);
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_EQ(Host().Items()[0].number, 42u);
    EXPECT_EQ(Host().Items()[1].number, 7u);
    ASSERT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)[0].value, EMS_ERR_EMPTY_SLOT);

    for (std::vector<EcrItemRecord> missingLast : {std::vector<EcrItemRecord>{Item(43, "", "", 0, 0)},
                                                   std::vector<EcrItemRecord>{Item(7, "", "", 0, 0), Item(43, "", "", 0, 0)}}) {
        Host().Reset();
        EXPECT_FALSE(RunItems(kReadPlu, missingLast));
        EXPECT_EQ(m_logic.GetErrorCode(), EMS_ERR_EMPTY_SLOT);
        EXPECT_EQ(Host().Items().size(), missingLast.size() - 1);
        ASSERT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
        EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)[0].value, EMS_ERR_EMPTY_SLOT);
    }
}

// A reply whose checksum does not match is asked for again; replies that
// all fail the check end the read with the bad-answer code.
TEST_F(ElemisJobs, RepliesFailingTheirChecksumAreAskedAgain) {
    m_emu.SetPlu(5, "5900512300108", "Mleko 3,2%", 299, 0, 0);
    constexpr int kNameFirstByte = 3 + 7;   // PLU 5 is the first of its block
    struct Case {
        int flipped;          // replies spoilt in a row
        bool read;
        int requests;         // block requests sent
    } cases[] = {{1, true, 2}, {2, true, 3}, {3, false, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flipped);
        Host().Reset();
        m_emu.ClearRequests();
        for (int i = 0; i < c.flipped; ++i) m_emu.Inject(11, Answer::FlippedBit, 0, kNameFirstByte);
        std::vector<EcrItemRecord> ask = {Item(5, "", "", 0, 0)};
        EXPECT_EQ(RunItems(kReadPlu, ask), c.read);
        EXPECT_EQ(m_emu.CountRequests(11), c.requests);
        if (c.read) {
            ASSERT_EQ(Host().Items().size(), 1u);
            EXPECT_STREQ(Host().Items()[0].name, "Mleko 3,2%");
            EXPECT_EQ(m_logic.GetErrorCode(), 0);
        } else {
            EXPECT_TRUE(Host().Items().empty());
            EXPECT_EQ(m_logic.GetErrorCode(), EMS_ERR_BAD_ANSWER);
        }
    }
}

TEST_F(ElemisJobs, ItemLoopsConfirmFailuresAndNothingIsSentForRangeErrors) {
    std::vector<EcrItemRecord> items = {Item(1, "12a4", "A", 1.0, 1), Item(2, "", "B", 1.0, 9),
                                        Item(3, "", "C", 1.0, 1)};
    EXPECT_TRUE(RunItems(kPgmPlu, items));
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].code, EMS_ERR_CODE);
    EXPECT_EQ(confirms[1].code, EMS_ERR_RANGE);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(m_emu.CountRequests(13), 1);

    // Departments 9 and VAT group 9: nothing sent; the rest of the table stays.
    const Bytes before = m_emu.DeptTable();
    std::vector<EcrDeptRecord> depts = {Dept(9, "X", 1, 1.0), Dept(2, "Y", 9, 1.0), Dept(3, "Napoje", 2, 12.5)};
    Host().Reset();
    m_emu.ClearRequests();
    Prepare(kPgmDept);
    g_jobBlock.depts = depts.data();
    g_jobBlock.count = 3;
    EXPECT_TRUE(Run(kPgmDept));
    ASSERT_EQ(Host().Confirmations().size(), 2u);
    EXPECT_EQ(Host().Confirmations()[0].code, EMS_ERR_RANGE);
    EXPECT_EQ(Host().Confirmations()[1].code, EMS_ERR_DEPT_VAT);
    EXPECT_EQ(m_emu.CountRequests(12), 1);
    const Bytes after = m_emu.DeptTable();
    Bytes want = before;
    Bytes slot(32, 0);
    const std::string name = "Napoje            ";
    std::copy(name.begin(), name.end(), slot.begin());
    slot[18] = 1;
    slot[22] = 0xE2;   // 1250 = 0x04E2 at bytes 19-22
    slot[21] = 0x04;
    std::copy(slot.begin(), slot.end(), want.begin() + 64);
    EXPECT_EQ(after, want);

    Host().Reset();
    ASSERT_TRUE(RunJob(kReadAllDept)) << m_logic.GetErrorCode();
    ASSERT_EQ(Host().Depts().size(), 8u);
    EXPECT_STREQ(Host().Depts()[2].name, "Napoje");
    EXPECT_EQ(Host().Depts()[2].vat_group, 2u);
    EXPECT_DOUBLE_EQ(Host().Depts()[2].price, 12.5);

    // No delete command: every item is confirmed with 25, nothing sent.
    Host().Reset();
    m_emu.ClearRequests();
    EXPECT_FALSE(RunItems(kDelPlu, items));
    ASSERT_EQ(Host().Confirmations().size(), 3u);
    for (const auto& c : Host().Confirmations()) EXPECT_EQ(c.code, 25);
    EXPECT_EQ(Types(), (std::vector<uint8_t>{14, 14}));
}

TEST_F(ElemisJobs, SalesStopAtTheZeroCodeAndAnswersAreChecked) {
    m_emu.AddSale("5901234123457", 1500, 375);
    m_emu.AddSale("0000000000007", 0, 0);       // no quantity: not handed on
    m_emu.AddSale("0000000000008", 2000, 100);
    ASSERT_TRUE(RunJob(kReadSale)) << m_logic.GetErrorCode();
    const auto sales = Host().Sales();
    ASSERT_EQ(sales.size(), 2u);
    EXPECT_STREQ(sales[0].sale.code, "5901234123457");
    EXPECT_DOUBLE_EQ(sales[0].sale.quantity, 1.5);
    EXPECT_DOUBLE_EQ(sales[0].sale.value, 3.75);
    EXPECT_STREQ(sales[0].item.name, "");
    EXPECT_EQ(m_emu.CountRequests(8), 1);

    Host().Reset();
    ASSERT_TRUE(RunJob(kClearSale)) << m_logic.GetErrorCode();
    EXPECT_EQ(m_emu.SaleClears(), 1);

    // A wrong status byte, a data frame cut short, silence.
    struct Case {
        Answer answer;
        uint8_t status;
        int error;
    } cases[] = {{Answer::Status, 2, EMS_ERR_BAD_ANSWER}, {Answer::Status, 0x15, EMS_ERR_BAD_ANSWER},
                 {Answer::Short, 0, -5}, {Answer::Silence, 0, -5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        Host().Reset();
        m_emu.Inject(5, c.answer, c.status);
        EXPECT_FALSE(RunJob(kReadVat));
        EXPECT_EQ(m_logic.GetErrorCode(), c.error);
    }
}

TEST_F(ElemisJobs, BreakEndsTheLoopAndTheLinkIsClosed) {
    orv::platform::SetTimeScale(1.0);
    m_emu.Inject(13, Answer::Silence);
    std::vector<EcrItemRecord> items = {Item(1, "", "A", 1.0, 1), Item(2, "", "B", 1.0, 1), Item(3, "", "C", 1.0, 1)};
    EXPECT_LT(BreakProgrammingAt(items, 13, [] {}), 2000);
    EXPECT_EQ(m_logic.GetErrorCode(), -7);
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(m_emu.CountRequests(13), 1);
    EXPECT_FALSE(m_emu.Linked());   // the link-close went out after the break
}

// A break while a silent register is waited for: the link-close still goes
// out, but its answer is given only a short look, so the job ends at once.
TEST_F(ElemisJobs, BreakOnASilentRegisterEndsAtOnce) {
    orv::platform::SetTimeScale(1.0);
    m_emu.Inject(0, Answer::Silence);
    std::vector<EcrItemRecord> items = {Item(1, "", "A", 1.0, 1)};
    size_t before = 0;
    EXPECT_LT(BreakProgrammingAt(items, 0,
                                 [&] {
                                     m_emu.SetSilent(true);
                                     before = m_emu.ReceivedCount();
                                 }),
              200);
    EXPECT_EQ(m_logic.GetErrorCode(), -7);
    EXPECT_EQ(m_emu.ReceivedCount() - before, 302u);   // the link-close went out
}

// A break that comes after the register has already failed to answer: the
// link-close is not sent at all.
TEST_F(ElemisJobs, BreakAfterATimeOutSendsNoLinkClose) {
    orv::platform::SetTimeScale(0.01);
    m_emu.Inject(0, Answer::Silence);
    Host().SetEventHook([&](const orv::test::HostEvent& e) {
        if (e.code == ECR_EVENT_FAILED) m_serial.Break();
    });
    std::vector<EcrItemRecord> items = {Item(1, "", "A", 1.0, 1)};
    EXPECT_FALSE(RunItems(kPgmPlu, items));
    Host().SetEventHook(nullptr);
    EXPECT_EQ(m_logic.GetErrorCode(), -5);
    EXPECT_EQ(Types(), (std::vector<uint8_t>{14, 0}));
    EXPECT_TRUE(m_emu.Linked());
}

// After a break between requests, a link-close answer that does not come
// within the short look may still come: the line is left to go quiet
// before the next request.
TEST_F(ElemisJobs, LinkCloseAnsweredLateLeavesTheLineToGoQuiet) {
    Host().SetEventHook([&](const orv::test::HostEvent& e) {
        if (e.code != ECR_EVENT_ITEM || e.percent != 100) return;
        m_emu.QueueFault(ElemisEmulator::Fault::Delay, 200);
        m_serial.Break();
    });
    std::vector<EcrItemRecord> items = {Item(1, "", "A", 1.0, 1), Item(2, "", "B", 1.0, 1)};
    EXPECT_FALSE(RunItems(kPgmPlu, items));
    Host().SetEventHook(nullptr);
    EXPECT_EQ(m_logic.GetErrorCode(), -7);
    EXPECT_EQ(Types(), (std::vector<uint8_t>{14, 0, 13, 14}));
    EXPECT_TRUE(m_serial.IsUnsettled(kPort));
}

// A data answer whose status byte was spoilt still brings its record: the
// next request waits until it has passed and is not answered by it.
TEST_F(ElemisJobs, RecordAfterASpoiltStatusIsNotTakenForTheNextAnswer) {
    m_emu.Inject(0, Answer::SpoiltStatus, 0x13);
    m_emu.QueueFault(ElemisEmulator::Fault::None);       // the link
    m_emu.QueueFault(ElemisEmulator::Fault::None);       // the spoilt status
    m_emu.QueueFault(ElemisEmulator::Fault::Delay, 20);  // item 2's poll, after the record of 10 ms
    std::vector<EcrItemRecord> items = {Item(1, "", "A", 1.0, 1), Item(2, "", "B", 1.0, 1)};
    EXPECT_TRUE(RunItems(kPgmPlu, items));
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 1u);
    EXPECT_EQ(Host().Confirmations()[0].code, EMS_ERR_BAD_ANSWER);
    EXPECT_EQ(m_emu.PluSlot(2)[44], 0);   // item 2 was written
}

TEST(ElemisExports, ProgramAndReadThroughTheExports) {
    orv::platform::SetTimeScale(0.05);
    unsetenv("ECR_ELEMIS_LINK");
    Host().Reset();
    ASSERT_EQ(EcrCreate(nullptr), 1);
    ElemisEmulator reg(11);
    reg.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(75, 11, 19200);
    std::vector<EcrItemRecord> items = {Item(5, "5900512300108", "Mleko 2%", 2.99, 1)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(EcrReadPLU(&dev, items.data(), 1, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(orv::test::WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_STREQ(Host().Items()[0].code, "5900512300108");
    EXPECT_STREQ(Host().Items()[0].name, "Mleko 2%");
    EXPECT_DOUBLE_EQ(Host().Items()[0].price, 2.99);
    EXPECT_FALSE(reg.Linked());
    orv::platform::SetTimeScale(1.0);
}

}  // namespace
