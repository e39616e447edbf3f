// The two CAS LP protocols against the scale emulator on a pseudo-terminal:
// requests byte for byte, retries, refusals, breaks and whole reads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/cas/ccaslp1.h"
#include "drivers/cas/ccaslp1_16.h"
#include "platform/clock.h"
#include "sim/cas_lp/cas_lp_emulator.h"

namespace {

using orv::test::B;
using orv::test::Bytes;
using orv::test::CasLpEmulator;
using orv::test::Hex;

constexpr int kPort = 7;

Bytes ToBytes(const CChrArr& a) { return Bytes(a.data(), a.data() + a.GetLength()); }

CasLpPluRecord Goods(uint32_t plu, double price = 9999.99) {
    CasLpPluRecord r;
    r.plu = plu;
    r.itemCode = "42";
    r.name1 = "Szynka";
    r.name2 = "wiejska";
    r.price = price;
    r.amount = 1.5;
    r.department = 2;
    return r;
}

CasLpEmulator::Goods Held(uint32_t code) {
    CasLpEmulator::Goods g;
    g.itemCode = code;
    g.name1 = "Towar " + std::to_string(code);
    g.hundredths = code * 10;
    return g;
}

template <class Proto>
class CasLpLinkTest : public ::testing::Test {
protected:
    explicit CasLpLinkTest(int variant) : scale(kPort, variant) {}
    void SetUp() override {
        orv::platform::SetTimeScale(0.1);
        scale.Start();
        proto.SetSerial(&serial);
        ASSERT_EQ(Open(), 1);
    }
    void TearDown() override {
        proto.ClosePort();
        scale.Stop();
        orv::platform::SetTimeScale(1.0);
    }
    virtual int Open() = 0;

    CasLpEmulator scale;
    CTelepathy serial;
    Proto proto;
};

class Lp1 : public CasLpLinkTest<CCasLP1> {
protected:
    Lp1() : CasLpLinkTest(1) {}
    int Open() override { return proto.Open(kPort); }
};

class Lp16 : public CasLpLinkTest<CCasLP1_16> {
protected:
    Lp16() : CasLpLinkTest(16) {}
    int Open() override { return proto.Open(kPort, 19200); }
};

// ------------------------------------------------------------------ LP-1

TEST_F(Lp1, WriteIsByteExactAndReadsBack) {
    ASSERT_EQ(proto.WritePlu(Goods(1000)), 1) << proto.m_nError;
    CChrArr record;
    int error = 0;
    ASSERT_EQ(CCasLP1::BuildRecord(Goods(1000), record, error), 1);
    Bytes want = {0xA5, 0x02, 0x03, 0xE8};
    const Bytes rec = ToBytes(record);
    want.insert(want.end(), rec.begin(), rec.end());
    EXPECT_EQ(Hex(scale.Received()), Hex(want));
    EXPECT_EQ(Hex(scale.Record(1000)), Hex(rec));
    // 9999.99 goes as 999999 hundredths.
    EXPECT_EQ(Hex(Bytes(rec.begin() + 60, rec.begin() + 64)), "00 0F 42 3F");

    CasLpPluRecord back;
    ASSERT_EQ(proto.ReadPlu(1000, back), 1) << proto.m_nError;
    EXPECT_EQ(back.plu, 1000u);
    EXPECT_EQ(back.itemCode, "000042");
    EXPECT_DOUBLE_EQ(back.price, 9999.99);
    EXPECT_DOUBLE_EQ(back.amount, 1.5);
    EXPECT_EQ(back.department, 2u);
}

TEST_F(Lp1, OutOfRangeIsRefusedBeforeTraffic) {
    EXPECT_EQ(proto.WritePlu(Goods(1001)), 0);
    EXPECT_EQ(proto.m_nError, 105);
    EXPECT_EQ(proto.WritePlu(Goods(0)), 0);
    EXPECT_EQ(proto.m_nError, 105);
    EXPECT_EQ(proto.WritePlu(Goods(5, 10000.0)), 0);
    EXPECT_EQ(proto.m_nError, 109);
    CasLpPluRecord r;
    EXPECT_EQ(proto.ReadPlu(1001, r), 0);
    EXPECT_EQ(proto.m_nError, 105);
    EXPECT_TRUE(scale.Received().empty());
}

TEST_F(Lp1, ThreeWrongWakeUpsGive24) {
    scale.WrongWakeUp('x', 3);
    EXPECT_EQ(proto.WritePlu(Goods(1)), 0);
    EXPECT_EQ(proto.m_nError, 24);
    EXPECT_EQ(Hex(scale.Received()), "A5 A5 A5");
    EXPECT_FALSE(scale.Holds(1));

    // Two wrong answers: the third try goes through.
    scale.ClearReceived();
    scale.WrongWakeUp('x', 2);
    EXPECT_EQ(proto.WritePlu(Goods(2)), 1) << proto.m_nError;
    EXPECT_TRUE(scale.Holds(2));
}

TEST_F(Lp1, SilenceUsesUpTheTries) {
    scale.SetSilent(true);
    EXPECT_EQ(proto.WritePlu(Goods(1)), 0);
    EXPECT_EQ(proto.m_nError, 24);
    EXPECT_EQ(Hex(scale.Received()), "A5 A5 A5");
}

TEST_F(Lp1, BreakDuringATryEndsAtOnce) {
    orv::platform::SetTimeScale(1.0);
    scale.SetSilent(true);
    std::thread breaker([&] {
        scale.WaitForCount(1, 5000);
        serial.Break();
    });
    const int64_t t0 = orv::platform::MonotonicMillis();
    EXPECT_EQ(proto.WritePlu(Goods(1)), 0);
    const int64_t took = orv::platform::MonotonicMillis() - t0;
    breaker.join();
    serial.ClearBreak();
    EXPECT_EQ(proto.m_nError, -7);
    EXPECT_LT(took, 1000);
    EXPECT_EQ(Hex(scale.Received()), "A5");   // no further try
}

TEST_F(Lp1, FullReadGoesPastNumbersNotHeld) {
    for (uint32_t p = 1; p <= 3; ++p) scale.SetGoods(p, Held(p));
    scale.SetGoods(5, Held(5));      // behind a gap
    scale.SetGoods(1000, Held(1000));
    std::vector<CasLpPluRecord> got;
    ASSERT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord& r) { got.push_back(r); }), 1) << proto.m_nError;
    EXPECT_EQ(proto.m_nError, 0);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[2].plu, 3u);
    EXPECT_EQ(got[2].itemCode, "000003");
    EXPECT_EQ(got[2].name1, "Towar 3" + std::string(21, ' '));
    EXPECT_DOUBLE_EQ(got[2].price, 0.3);
    EXPECT_EQ(got[3].plu, 5u);
    EXPECT_EQ(got[4].plu, 1000u);
    EXPECT_EQ(scale.Requests().size(), 1000u);
}

TEST_F(Lp1, FullReadFailsOnAnyOtherFailure) {
    scale.SetGoods(1, Held(1));
    scale.QueueFault(CasLpEmulator::Fault::None);
    scale.QueueFault(CasLpEmulator::Fault::None);
    scale.QueueFault(CasLpEmulator::Fault::None);
    scale.QueueFault(CasLpEmulator::Fault::None);
    scale.QueueFault(CasLpEmulator::Fault::None);
    scale.QueueFault(CasLpEmulator::Fault::Short, 10);   // PLU 2's wake-up is fine, its record short
    scale.SetGoods(2, Held(2));
    int n = 0;
    EXPECT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord&) { ++n; }), 0);
    EXPECT_EQ(proto.m_nError, -5);
    EXPECT_EQ(n, 1);
}

// ----------------------------------------------------------------- LP-16

TEST_F(Lp16, WriteAndDeleteAreByteExact) {
    ASSERT_EQ(proto.WritePlu(Goods(1000)), 1) << proto.m_nError;
    CChrArr record;
    int error = 0;
    ASSERT_EQ(CCasLP1_16::BuildRecord(Goods(1000), record, error), 1);
    Bytes want = B("p03E8,49\r");
    const Bytes rec = ToBytes(record);
    want.insert(want.end(), rec.begin(), rec.end());
    want.push_back(CCasLP1_16::CalcChecksum(record));
    EXPECT_EQ(Hex(scale.Received()), Hex(want));
    EXPECT_EQ(Hex(scale.Record(1000)), Hex(rec));

    scale.ClearReceived();
    CasLpPluRecord del;
    del.plu = 1;
    ASSERT_EQ(proto.DeletePlu(del), 1) << proto.m_nError;
    EXPECT_EQ(Hex(scale.Received()), Hex(B("P0001,1\r")));
    del.plu = 1001;
    EXPECT_EQ(proto.DeletePlu(del), 0);
    EXPECT_EQ(proto.m_nError, 105);
}

TEST_F(Lp16, WrongOrShortLinesFailWith9999) {
    const std::vector<Bytes> answers = {B("n03E9\r"), B("x03E8\r"), B("n03\r"), B("n03E8X\r")};
    for (const Bytes& a : answers) {
        scale.InjectAnswer('p', a);
        EXPECT_EQ(proto.WritePlu(Goods(1000)), 0) << Hex(a);
        EXPECT_EQ(proto.m_nError, 9999) << Hex(a);
    }
    // No answer at all: the line's time-out.
    scale.InjectAnswer('p', Bytes());
    EXPECT_EQ(proto.WritePlu(Goods(1000)), 0);
    EXPECT_EQ(proto.m_nError, -5);
    EXPECT_FALSE(scale.Holds(1000));
}

// An answer of the wrong form may be followed by the rest of it: the next
// request waits for the line to go quiet, so that rest is not its answer.
TEST_F(Lp16, RestOfAWrongAnswerIsNotTakenForTheNext) {
    scale.InjectAnswer('p', B("x\r"), B("n0001\r"), 15);
    EXPECT_EQ(proto.WritePlu(Goods(1)), 0);
    EXPECT_EQ(proto.m_nError, 9999);
    scale.QueueFault(CasLpEmulator::Fault::Delay, 30);   // the next request's answer, after the rest
    EXPECT_EQ(proto.WritePlu(Goods(2)), 1) << proto.m_nError;
    EXPECT_TRUE(scale.Holds(2));
}

TEST_F(Lp16, ReadPluUsesItsMapBlock) {
    scale.SetGoods(50, Held(50));
    scale.SetGoods(51, Held(51));
    scale.SetGoods(52, Held(52));
    scale.SetPresence(52, 3);
    for (uint32_t plu : {50u, 51u, 52u}) {
        scale.ClearReceived();
        CasLpPluRecord r;
        r.plu = plu;
        ASSERT_EQ(proto.ReadPlu(r), 1) << plu << " " << proto.m_nError;
        EXPECT_EQ(r.itemCode, "0000" + std::to_string(plu));
        const std::string block = plu == 50 ? "r000E71,32\r" : "r000EA3,32\r";
        char q[16];
        std::snprintf(q, sizeof q, "q%04X,\r", plu);
        EXPECT_EQ(Hex(scale.Received()), Hex(B(block + q)));
    }
    CasLpPluRecord missing;
    missing.plu = 53;
    EXPECT_EQ(proto.ReadPlu(missing), 0);
    EXPECT_EQ(proto.m_nError, 202);
    missing.plu = 4001;
    EXPECT_EQ(proto.ReadPlu(missing), 0);
    EXPECT_EQ(proto.m_nError, 105);
}

TEST_F(Lp16, FullReadWalksTheBlocks) {
    for (uint32_t plu : {1u, 50u, 51u, 120u, 4050u}) scale.SetGoods(plu, Held(plu));
    std::vector<uint32_t> got;
    ASSERT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord& r) { got.push_back(r.plu); }), 1) << proto.m_nError;
    EXPECT_EQ(got, (std::vector<uint32_t>{1, 50, 51, 120, 4050}));

    // A refused block after the first is the end of the memory.
    got.clear();
    scale.RefuseMapFrom(2);
    ASSERT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord& r) { got.push_back(r.plu); }), 1) << proto.m_nError;
    EXPECT_EQ(got, (std::vector<uint32_t>{1, 50, 51}));

    // Refused at block 0: the read fails.
    scale.RefuseMapFrom(0);
    EXPECT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord&) {}), 0);
    EXPECT_EQ(proto.m_nError, 9999);
}

TEST_F(Lp16, FullReadFailsOnARecordOrAHangUp) {
    scale.SetGoods(3, Held(3));
    scale.InjectAnswer('q', B("short\r"));
    EXPECT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord&) {}), 0);
    EXPECT_EQ(proto.m_nError, -5);

    // The rest of the cut answer is not taken for the next one.
    scale.SetGoods(60, Held(60));
    std::thread gone([&] {
        scale.WaitUntil([](const Bytes& b) { return std::string(b.begin(), b.end()).find("q003C") != std::string::npos; },
                        5000);
        scale.Disconnect();
    });
    EXPECT_EQ(proto.ReadAllPlu([&](const CasLpPluRecord&) {}), 0);
    gone.join();
    EXPECT_TRUE(proto.m_nError == -6 || proto.m_nError == -5) << proto.m_nError;
}

}  // namespace
