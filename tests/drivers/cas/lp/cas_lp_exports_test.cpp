// CAS LP label scales through the exports, as a host drives them: type 105
// (LP-1) and type 110 (LP-16) against the scale emulator.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/cas_lp/cas_lp_emulator.h"

namespace {

using orv::test::CasLpEmulator;
using orv::test::Host;
using orv::test::RecordingHost;

constexpr int kPort = 8;

bool WaitDone() { return orv::test::WaitEcrDone(60000); }

EcrItemRecord Item(uint32_t number, const char* name, double price) {
    EcrItemRecord r = orv::test::HostItemRecord({.number = number, .name = name, .code = "2000123", .price = price});
    std::strcpy(r.scale_text[0], "Zak\xB3" "ady Mi\xEAsne");   // "Zakłady Mięsne"
    r.department = 4;
    r.word152 = 3;
    r.code224 = 12;
    r.amount = 0.25;
    return r;
}

class CasLpExports : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }
};

TEST_F(CasLpExports, Type105ProgramsAndReadsBack) {
    CasLpEmulator scale(kPort, 1);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(105, kPort);

    std::vector<EcrItemRecord> items = {Item(1, "Kie\xB3" "basa \xBF" "ywiecka", 21.9), Item(1001, "Poza", 1.0),
                                        Item(2, "Drogi", 10000.0), Item(3, "Boczek", 9999.99)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 4, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();   // the last item went through
    const auto confirms = Host().Confirmations();
    ASSERT_EQ(confirms.size(), 2u);
    EXPECT_EQ(confirms[0].number, 1001u);
    EXPECT_EQ(confirms[0].code, 105);
    EXPECT_EQ(confirms[0].text, "Nieokre\x9Clony b\xB3\xB9" "d");
    EXPECT_EQ(confirms[1].code, 109);
    EXPECT_TRUE(scale.Holds(1));
    EXPECT_FALSE(scale.Holds(2));
    const auto rec = scale.Record(1);
    EXPECT_EQ(std::string(rec.begin() + 4, rec.begin() + 32), "Kielbasa zywiecka" + std::string(11, ' '));
    EXPECT_EQ(std::string(rec.begin() + 32, rec.begin() + 60), "Zaklady Miesne" + std::string(14, ' '));

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    const auto read = Host().Items();
    ASSERT_EQ(read.size(), 2u);   // PLU 2 was refused: 3 lies behind the gap
    EXPECT_EQ(read[0].number, 1u);
    EXPECT_EQ(read[1].number, 3u);
    EXPECT_DOUBLE_EQ(read[1].price, 9999.99);
    EXPECT_STREQ(read[0].code, "200012");   // the first 6 characters, back as a number
    EXPECT_DOUBLE_EQ(read[0].price, 21.9);
    EXPECT_DOUBLE_EQ(read[0].amount, 0.25);
    EXPECT_EQ(read[0].department, 4u);
    EXPECT_EQ(read[0].word152, 3u);
    EXPECT_EQ(read[0].code224, 12u);
    EXPECT_EQ(read[0].vat_group, 1u);
    EXPECT_EQ(read[0].unit, 1u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_BULK), 1);

    // Nothing else is served: LP-1 reads no single PLU and deletes nothing.
    for (int job = 0; job < 3; ++job) {
        Host().Reset();
        int started = 0;
        if (job == 0) started = EcrReadPLU(&dev, items.data(), 1, &RecordingHost::OnItemRead);
        if (job == 1) started = EcrDelPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram);
        if (job == 2) started = EcrReadVAT(&dev, &RecordingHost::OnVat);
        ASSERT_EQ(started, 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_NE(EcrError(), 0) << job;
    }
    Host().Reset();
    ASSERT_EQ(EcrClearSale(&dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0);
}

TEST_F(CasLpExports, Type105SilentScaleEndsAfterThreeItems) {
    orv::platform::SetTimeScale(0.02);
    CasLpEmulator scale(kPort, 1);
    scale.SetSilent(true);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(105, kPort);
    std::vector<EcrItemRecord> items;
    for (uint32_t i = 1; i <= 5; ++i) items.push_back(Item(i, "Towar", 1.0));
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 5, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 24);
    ASSERT_EQ(Host().Confirmations().size(), 5u);
    EXPECT_EQ(scale.Received().size(), 9u);   // three tries of three items; nothing for the last two
}

TEST_F(CasLpExports, Type110ProgramsReadsAndDeletes) {
    CasLpEmulator scale(kPort, 16);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(110, kPort, 19200);

    std::vector<EcrItemRecord> items = {Item(50, "Pasztet", 7.5), Item(51, "Sch\xB3" "ab", 29.99)};
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_TRUE(Host().Confirmations().empty());
    EXPECT_TRUE(scale.Holds(50) && scale.Holds(51));

    // PLU 52 is not held: event 6, and the read goes on.
    Host().Reset();
    std::vector<EcrItemRecord> wanted = {Item(52, "", 0), Item(51, "", 0), Item(50, "", 0)};
    ASSERT_EQ(EcrReadPLU(&dev, wanted.data(), 3, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_EQ(Host().Items()[0].number, 51u);
    EXPECT_EQ(std::string(Host().Items()[0].name), "Schlab" + std::string(22, ' '));
    EXPECT_DOUBLE_EQ(Host().Items()[0].price, 29.99);
    EXPECT_EQ(Host().Items()[1].number, 50u);
    ASSERT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)[0].value, 202);

    Host().Reset();
    ASSERT_EQ(EcrDelPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    EXPECT_FALSE(scale.Holds(50));

    Host().Reset();
    scale.RefuseMapFrom(1);
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 0u);   // 51 lies in the refused block 1

    scale.RefuseMapFrom(-1);
    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 1u);
    EXPECT_EQ(Host().Items()[0].number, 51u);
}

CasLpEmulator::Goods Held(uint32_t itemCode, const char* name, uint32_t hundredths = 0) {
    CasLpEmulator::Goods g;
    g.itemCode = itemCode;
    g.name1 = name;
    g.hundredths = hundredths;
    return g;
}

// Runs one job through the exports and waits for its end.
int RunJob(const std::function<int()>& start) {
    if (start() != 1) return 999999;
    EXPECT_TRUE(WaitDone());
    return EcrError();
}

std::vector<uint32_t> ReadNumbers() {
    std::vector<uint32_t> numbers;
    for (const EcrItemRecord& r : Host().Items()) numbers.push_back(r.number);
    return numbers;
}

TEST_F(CasLpExports, Type105WholeReadGoesPastNumbersNotHeld) {
    CasLpEmulator scale(kPort, 1);
    for (uint32_t plu : {1u, 2u, 5u}) scale.SetGoods(plu, Held(plu, "Towar", 100 * plu));
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(105, kPort);
    EXPECT_EQ(RunJob([&] { return EcrReadAllPLU(&dev, &RecordingHost::OnItemRead); }), 0) << EcrErrMsg();
    ASSERT_EQ(ReadNumbers(), (std::vector<uint32_t>{1, 2, 5}));
    EXPECT_DOUBLE_EQ(Host().Items()[2].price, 5.0);
    EXPECT_EQ(scale.Requests().back(), "A5 05 03E8");   // up to the capacity
}

// A whole LP-16 read that loses the scale after its first map block hands
// on what it read and fails with the line's code.
TEST_F(CasLpExports, Type110WholeReadCutAtTheSecondMapBlockFails) {
    CasLpEmulator scale(kPort, 16);
    for (uint32_t plu : {1u, 50u, 51u}) scale.SetGoods(plu, Held(plu, "Towar"));
    scale.StopAtMapBlock(1);
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(110, kPort, 19200);
    EXPECT_EQ(RunJob([&] { return EcrReadAllPLU(&dev, &RecordingHost::OnItemRead); }), -5);
    EXPECT_EQ(ReadNumbers(), (std::vector<uint32_t>{1, 50}));
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
}

// Listed PLUs the scale does not hold: each gives event 6 with 202 and no
// record; the job ends as its last item did.
TEST_F(CasLpExports, Type110ReadOfListedPlusEndsAsTheLastItem) {
    CasLpEmulator scale(kPort, 16);
    scale.SetGoods(51, Held(51, "Schab"));
    scale.Start();
    const EcrDeviceRecord dev = orv::test::DeviceRecord(110, kPort, 19200);
    struct Case {
        std::vector<uint32_t> wanted;
        int error;
        std::vector<uint32_t> read;
        int missing;
    };
    const std::vector<Case> cases = {
        {{53}, 202, {}, 1},
        {{51, 53}, 202, {51}, 1},
        {{53, 52, 51}, 0, {51}, 2},
    };
    for (const Case& c : cases) {
        Host().Reset();
        std::vector<EcrItemRecord> items;
        for (uint32_t n : c.wanted) items.push_back(Item(n, "", 0));
        const int error = RunJob([&] {
            return EcrReadPLU(&dev, items.data(), static_cast<int>(items.size()), &RecordingHost::OnItemRead);
        });
        EXPECT_EQ(error, c.error) << c.wanted.front() << " " << EcrErrMsg();
        EXPECT_EQ(ReadNumbers(), c.read);
        const auto sixes = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
        ASSERT_EQ(static_cast<int>(sixes.size()), c.missing);
        for (const auto& e : sixes) {
            EXPECT_EQ(e.value, 202);
            EXPECT_EQ(e.text, "Nieokre\x9Clony b\xB3\xB9" "d");
        }
    }
}

// A break while the scale waits for the rest of a write: the record still
// goes out whole, the job ends broken off soon after, and the next job
// finds the scale ready.
TEST_F(CasLpExports, BreakInsideAWriteLeavesTheScaleReady) {
    orv::platform::SetTimeScale(0.2);
    struct Case {
        int type;
        int variant;
        size_t headBytes;    // bytes of the write's head, after which the break comes
        int answersBefore;   // answers before the one delayed
    };
    for (const Case c : {Case{105, 1, 4, 2}, Case{110, 16, 9, 0}}) {
        SCOPED_TRACE(c.type);
        CasLpEmulator scale(kPort, c.variant);
        scale.SetGoods(1, Held(7, "Stary", 150));
        const auto before = scale.Record(1);
        for (int i = 0; i < c.answersBefore; ++i) scale.QueueFault(CasLpEmulator::Fault::None);
        scale.QueueFault(CasLpEmulator::Fault::Delay, 80);
        scale.Start();
        const EcrDeviceRecord dev = orv::test::DeviceRecord(c.type, kPort, 9600);
        Host().Reset();
        std::vector<EcrItemRecord> items = {Item(2, "Nowy", 3.5)};
        ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 1, &RecordingHost::OnItemProgram), 1);
        ASSERT_TRUE(scale.WaitForCount(c.headBytes, 5000));
        const auto broken = std::chrono::steady_clock::now();
        EcrBreakJob();
        ASSERT_TRUE(WaitDone());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - broken);
        EXPECT_EQ(EcrError(), -7);
        EXPECT_LT(took.count(), 500);
        EXPECT_TRUE(Host().Confirmations().empty());

        // The next job goes through at once; no stray bytes reached a record.
        Host().Reset();
        std::vector<EcrItemRecord> next = {Item(3, "Trzeci", 4.0)};
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(RunJob([&] { return EcrPgmPLU(&dev, next.data(), 1, &RecordingHost::OnItemProgram); }), 0)
            << EcrErrMsg();
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count(),
                  500);
        EXPECT_EQ(scale.Record(1), before);
        EXPECT_TRUE(scale.Holds(2));
        EXPECT_TRUE(scale.Holds(3));
        EXPECT_EQ(scale.GoodsCount(), 3u);
        scale.Stop();
    }
}

}  // namespace
