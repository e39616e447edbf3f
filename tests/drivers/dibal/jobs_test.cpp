// CDI_ECR jobs run as the dispatcher runs them, against the Dibal emulator:
// the bulk transfer of type 103, the item-by-item transfer of type 104,
// reading goods back, breaks, and through the exports.
#include <gtest/gtest.h>

#include <thread>

#include "dibal_fixture.h"
#include "orvanta/ecr.h"

namespace orv::test {
namespace {

class DibalJobs : public DibalTest {};

std::vector<std::string> Kinds(const std::vector<std::string>& frames) {
    std::vector<std::string> k;
    for (const std::string& f : frames)
        k.push_back(f.substr(0, 2) == "KB" ? f.substr(0, 8) : f.substr(0, f.substr(0, 2) == "X1" ? 11 : 10));
    return k;
}

std::vector<uint32_t> Confirmed(std::vector<int>* codes = nullptr) {
    std::vector<uint32_t> n;
    for (const HostConfirm& c : Host().Confirmations()) {
        n.push_back(c.number);
        if (codes) codes->push_back(c.code);
        EXPECT_NE(c.code, 0);
        EXPECT_FALSE(c.text.empty());
    }
    return n;
}

TEST_F(DibalJobs, Type103SendsEveryItemBetweenStartAndEnd) {
    DibalEmulator& emu = StartScale(false);
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "  Chleb ", 4.99), DibalHostItem(2, PL("Masło"), 7.5),
                                        DibalHostItem(3, "Ser", 1.15)};
    std::strcpy(items[0].scale_text[0], "opis 1");
    ASSERT_TRUE(RunItems(103, kJobPgmPlu, items)) << Utf8(m_logic.GetErrorMessage());
    EXPECT_EQ(Kinds(emu.Frames()), (std::vector<std::string>{"KB000201", "X100M000001", "X200000001", "X100M000002",
                                                             "X200000002", "X100M000003", "X200000003", "KB000203"}));
    // Byte for byte: the whole line as the scale got it.
    Bytes expected;
    for (const std::string& f : emu.Frames()) {
        const Bytes frame = DibalEmulator::PlainFrame(f);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(emu.Received(), expected);
    EXPECT_EQ(emu.Frames()[1].substr(14, 24), "Chleb" + std::string(19, ' '));   // trimmed in the bulk
    EXPECT_EQ(emu.Frames()[3].substr(14, 5), "Mas\x88o");
    EXPECT_EQ(emu.Frames()[5].substr(62, 6), "000115");
    EXPECT_EQ(emu.Frames()[2].substr(11, 6), "opis 1");
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 3);
    EXPECT_FALSE(emu.InBulk());
    // 8N1 for the bulk line.
    EXPECT_EQ(m_spy->Requested().front().parity, 'N');
}

TEST_F(DibalJobs, Type103RefusedItemsAndUnansweredRecords) {
    struct Case {
        const char* what;
        std::function<void(DibalEmulator&, std::vector<EcrItemRecord>&)> setup;
        std::vector<std::string> frames;
        std::vector<uint32_t> confirmed;
        int error;
    };
    const std::vector<Case> cases = {
        {"refused middle item",
         [](DibalEmulator&, std::vector<EcrItemRecord>& it) { it[1].price = 10000.0; },
         {"KB000201", "X100M000001", "X200000001", "X100M000003", "X200000003", "KB000203"}, {2}, 109},
        {"NAK storm on an X1 mid-way",
         [](DibalEmulator& e, std::vector<EcrItemRecord>&) {
             e.Script("X1:000002", {DAnswer::Nak, DAnswer::Nak, DAnswer::Nak});
         },
         {"KB000201", "X100M000001", "X200000001", "X100M000002", "X100M000002", "X100M000002", "KB000203"},
         {2, 3}, 999},
        {"NAK storm on an X2",
         [](DibalEmulator& e, std::vector<EcrItemRecord>&) {
             e.Script("X2:000001", {DAnswer::Nak, DAnswer::Nak, DAnswer::Nak});
         },
         {"KB000201", "X100M000001", "X200000001", "X200000001", "X200000001", "X100M000002", "X200000002",
          "X100M000003", "X200000003", "KB000203"},
         {1}, 999},
        {"end record refused",
         [](DibalEmulator& e, std::vector<EcrItemRecord>&) { e.Script("KB000203", {DAnswer::WrongByte}); },
         {"KB000201", "X100M000001", "X200000001", "X100M000002", "X200000002", "X100M000003", "X200000003",
          "KB000203"},
         {}, 999},
        {"start record refused",
         [](DibalEmulator& e, std::vector<EcrItemRecord>&) { e.Script("KB000201", {DAnswer::Silence}); },
         {"KB000201"}, {}, 999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Host().Reset();
        DibalEmulator& emu = StartScale(false);
        std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0), DibalHostItem(2, "B", 2.0),
                                            DibalHostItem(3, "C", 3.0)};
        c.setup(emu, items);
        EXPECT_FALSE(RunItems(103, kJobPgmPlu, items));
        EXPECT_EQ(m_logic.GetErrorCode(), c.error);
        EXPECT_EQ(Kinds(emu.Frames()), c.frames);
        EXPECT_EQ(Confirmed(), c.confirmed);
    }
}

TEST_F(DibalJobs, Type103WithNoItemsSendsStartAndEnd) {
    DibalEmulator& emu = StartScale(false);
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0)};
    PrepareJobBlock(kJobPgmPlu, Device(103));
    g_jobBlock.items = items.data();
    g_jobBlock.count = 0;
    ASSERT_TRUE(RunJob(m_logic, kJobPgmPlu, m_serial.get(), nullptr));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 1);
    EXPECT_EQ(Kinds(emu.Frames()), (std::vector<std::string>{"KB000201", "KB000203"}));

    // No array at all: nothing is read or sent.
    Host().Reset();
    PrepareJobBlock(kJobPgmPlu, Device(103));
    g_jobBlock.items = nullptr;
    g_jobBlock.count = 2;
    ASSERT_TRUE(RunJob(m_logic, kJobPgmPlu, m_serial.get(), nullptr));
    EXPECT_EQ(m_logic.GetErrorCode(), -1);
    EXPECT_EQ(emu.Frames().size(), 2u);
}

TEST_F(DibalJobs, Type103SilentScaleStopsAfterThreeItems) {
    DibalEmulator& emu = StartScale(false);
    emu.Script("X2", std::vector<DAnswer>(9, DAnswer::Silence));
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 6; ++i) items.push_back(DibalHostItem(i, "A", 1.0));
    EXPECT_FALSE(RunItems(103, kJobPgmPlu, items));
    std::vector<int> codes;
    EXPECT_EQ(Confirmed(&codes), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(codes, std::vector<int>(6, 999));
    EXPECT_EQ(Kinds(emu.Frames()), (std::vector<std::string>{"KB000201", "X100M000001", "X200000001", "X100M000002",
                                                             "X200000002", "X100M000003", "X200000003", "KB000203"}));
}

TEST_F(DibalJobs, Type104SendsItemByItemAndConfirmsRefusals) {
    DibalEmulator& emu = StartScale(true, 3);
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "  A", 1.0), DibalHostItem(0, "B", 2.0),
                                        DibalHostItem(3, "C", 3.0)};
    ASSERT_TRUE(RunItems(104, kJobPgmPlu, items, 3)) << Utf8(m_logic.GetErrorMessage());
    std::vector<int> codes;
    EXPECT_EQ(Confirmed(&codes), std::vector<uint32_t>{0});
    EXPECT_EQ(codes, std::vector<int>{105});
    EXPECT_EQ(Kinds(emu.Frames()), (std::vector<std::string>{"X100M000001", "X100M000003"}));
    EXPECT_EQ(emu.Frames()[0].substr(14, 3), "  A");   // copied unchanged here
    EXPECT_EQ(emu.Polls(), 2);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_ITEM), 3);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM)[1].text, "Nazwa - B");
    EXPECT_EQ(m_spy->Requested().front().parity, 'E');

    // The last item refused: the job fails with its code.
    Host().Reset();
    std::vector<EcrItemRecord> last = {DibalHostItem(1, "A", 1.0), DibalHostItem(2, "B", -1.0)};
    EXPECT_FALSE(RunItems(104, kJobPgmPlu, last, 3));
    EXPECT_EQ(m_logic.GetErrorCode(), 109);
}

TEST_F(DibalJobs, Type104AddressOutOfRangeFailsTheOpen) {
    StartScale(true, 1);
    std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0)};
    PrepareJobBlock(kJobPgmPlu, Device(104, 99));
    g_jobBlock.items = items.data();
    g_jobBlock.count = 1;
    RunJob(m_logic, kJobPgmPlu, m_serial.get(), nullptr);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED), 0);
    EXPECT_EQ(m_logic.GetErrorCode(), 19);
    EXPECT_STREQ(m_logic.GetErrorMessage(), "Numer kasy poza zakresem");
}

TEST_F(DibalJobs, Type104SilentScaleStopsAfterThreeItems) {
    DibalEmulator& emu = StartScale(true, 1);
    emu.Script("poll", {DAnswer::Ack, DAnswer::Nak, DAnswer::Ack});
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 5; ++i) items.push_back(DibalHostItem(i, "A", 1.0));
    EXPECT_FALSE(RunItems(104, kJobPgmPlu, items));
    std::vector<int> codes;
    EXPECT_EQ(Confirmed(&codes), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(codes, std::vector<int>(5, 999));
    EXPECT_EQ(emu.Polls(), 3);
}

TEST_F(DibalJobs, BreakEndsTheJobWithoutAConfirmation) {
    for (int type : {103, 104}) {
        SCOPED_TRACE(type);
        Host().Reset();
        DibalEmulator& emu = StartScale(type == 104, 1);
        emu.Script("X1:000002", {DAnswer::Silence});
        emu.Script("poll", {DAnswer::Usual, DAnswer::Silence});
        orv::platform::SetTimeScale(1.0);
        std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0), DibalHostItem(2, "B", 2.0),
                                            DibalHostItem(3, "C", 3.0)};
        PrepareJobBlock(kJobPgmPlu, Device(type));
        g_jobBlock.items = items.data();
        g_jobBlock.count = 3;
        g_jobBlock.job = kJobPgmPlu;
        m_logic.SetSerial(m_serial.get());
        m_serial->ClearBreak();
        ASSERT_TRUE(m_logic.Start(nullptr, 0));
        const size_t before = type == 103 ? 4 * 131 : 4 + 136 + 1 + 4;
        ASSERT_TRUE(emu.WaitForCount(before, 5000));
        const int64_t t0 = orv::platform::MonotonicMillis();
        m_logic.Break();
        m_serial->Break();
        ASSERT_TRUE(WaitJobEnd(m_logic, 5000));
        EXPECT_LT(orv::platform::MonotonicMillis() - t0, 1000);
        EXPECT_EQ(m_logic.GetErrorCode(), -7);
        EXPECT_TRUE(Host().Confirmations().empty());
        EXPECT_TRUE(Eventually([&] { return emu.Frames().size() >= (type == 103 ? 4u : 1u); }));
        EXPECT_EQ(Kinds(emu.Frames()).back(), type == 103 ? "X100M000002" : "X100M000001");
        orv::platform::SetTimeScale(kTimeScale);
    }
}

TEST_F(DibalJobs, ReadingGivesTheHostTheScalesGoods) {
    for (int type : {103, 104}) {
        SCOPED_TRACE(type);
        Host().Reset();
        DibalEmulator& emu = StartScale(type == 104);
        std::vector<EcrItemRecord> items = {DibalHostItem(4, PL("Żurek"), 3.2, 2, 1)};
        std::strcpy(items[0].text236, "01.02.25");
        ASSERT_TRUE(RunItems(type, kJobPgmPlu, items));
        Host().Reset();
        emu.QueueRecordFaults({DFault::BadCheck});
        ASSERT_TRUE(RunRead(type)) << Utf8(m_logic.GetErrorMessage());
        const auto got = Host().Items();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].number, 4u);
        EXPECT_EQ(std::string(got[0].name), std::string(PL("Żurek")) + std::string(19, ' '));
        EXPECT_DOUBLE_EQ(got[0].price, 3.2);
        EXPECT_EQ(got[0].department, 2u);
        EXPECT_EQ(got[0].unit, 1u);
        EXPECT_STREQ(got[0].text236, "01.02.25");
        EXPECT_STREQ(got[0].text252, "00.00.00");

        // Three bad frames: the job fails with 999.
        Host().Reset();
        emu.QueueRecordFaults({DFault::BadCheck, DFault::MissingEtx, DFault::BadCheck});
        EXPECT_FALSE(RunRead(type));
        EXPECT_EQ(m_logic.GetErrorCode(), 999);
        EXPECT_TRUE(Host().Items().empty());
    }
}

// A goods record whose PLU field holds a negative number reaches the host
// as no item at all (not as item 4294967291); the records around it do.
TEST_F(DibalJobs, ARecordWithANegativeNumberIsLeftOutOfTheRead) {
    DibalEmulator& emu = StartScale(false);
    std::vector<EcrItemRecord> items = {DibalHostItem(4, "Chleb", 3.2, 2, 1), DibalHostItem(6, "Woda", 1.5, 2, 1)};
    ASSERT_TRUE(RunItems(103, kJobPgmPlu, items));
    std::string bad = emu.Goods().at(4);
    ASSERT_EQ(bad.substr(5, 6), "000004");
    bad.replace(5, 6, "-00005");
    emu.SetGoods(5, bad);
    Host().Reset();
    ASSERT_TRUE(RunRead(103)) << Utf8(m_logic.GetErrorMessage());
    std::vector<uint32_t> numbers;
    for (const EcrItemRecord& it : Host().Items()) numbers.push_back(it.number);
    EXPECT_EQ(numbers, (std::vector<uint32_t>{4, 6}));
}

TEST_F(DibalJobs, SlotsWithoutWork) {
    StartScale(false);
    struct Case {
        uint32_t job;
        bool ok;
    };
    // 1 sales, 2 clearing, 4 one item, 7 deleting, 9 departments, 11
    // programming departments, 14 status, 15 VAT.
    for (const Case c : {Case{1, false}, Case{2, true}, Case{7, false}, Case{9, false}, Case{11, true},
                         Case{14, false}, Case{15, false}}) {
        SCOPED_TRACE(c.job);
        Host().Reset();
        std::vector<EcrItemRecord> items = {DibalHostItem(1, "A", 1.0)};
        std::vector<EcrDeptRecord> depts(1);
        PrepareJobBlock(c.job, Device(103));
        g_jobBlock.items = items.data();
        g_jobBlock.depts = depts.data();
        g_jobBlock.count = 1;
        ASSERT_TRUE(RunJob(m_logic, c.job, m_serial.get(), nullptr));
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_SUCCEEDED) == 1, c.ok);
        if (!c.ok) {
            EXPECT_NE(m_logic.GetErrorCode(), 0);
        }
    }
    EXPECT_TRUE(m_emu->Frames().empty());
}

TEST_F(DibalJobs, ThroughTheExports) {
    ASSERT_EQ(EcrCreate(nullptr), 1);
    for (int type : {103, 104}) {
        SCOPED_TRACE(type);
        Host().Reset();
        DibalEmulator& emu = StartScale(type == 104, 2);
        EcrDeviceRecord dev = Device(type, 2);
        std::vector<EcrItemRecord> items = {DibalHostItem(10, "Bułka", 0.6), DibalHostItem(11, "Woda", 1.99)};
        ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 2, &RecordingHost::OnItemProgram), 1);
        ASSERT_TRUE(WaitEcrDone(30000));
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        EXPECT_EQ(emu.Goods().size(), 2u);
        EXPECT_EQ(emu.Texts().size(), type == 103 ? 2u : 0u);

        Host().Reset();
        ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitEcrDone(30000));
        EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
        EXPECT_EQ(Host().Items().size(), 2u);
    }
}

}  // namespace
}  // namespace orv::test
