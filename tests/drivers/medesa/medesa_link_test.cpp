// Medesa scales on a serial line against the emulator on a pseudo-terminal:
// jobs byte for byte, attempts, refusals, breaks; the line control on a
// scripted serial line; and type 100 through the exports.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/medesa/cmd_ecr.h"
#include "drivers/medesa/cmedesa.h"
#include "fakes/fake_serial_device.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/medesa/medesa_emulator.h"
#include "util/cp1250.h"

namespace {

using orv::test::Bytes;
using orv::test::FakeSerialLine;
using orv::test::Hex;
using orv::test::Host;
using orv::test::MedesaEmulator;
using orv::test::RecordingHost;
using MFault = MedesaEmulator::Fault;

constexpr int kPort = 9;
constexpr uint8_t kAddress = 3;

Bytes ToBytes(const CChrArr& a) { return Bytes(a.data(), a.data() + a.GetLength()); }

MedesaPlu Goods(uint32_t plu) {
    MedesaPlu p;
    p.plu = plu;
    p.code = "2000042000017";
    p.name = "Kie\xB3" "basa";
    p.price = 19.99;
    p.vatGroup = 1;
    p.department = 2;
    p.dateText = "01.01.27";
    p.lines[0] = "Sk\xB3" "ad: mi\xEAso";
    return p;
}

class MedesaLink : public ::testing::Test {
protected:
    MedesaLink() : scale(kPort, kAddress) {}
    void SetUp() override {
        orv::platform::SetTimeScale(0.05);
        scale.Start();
        proto.SetSerial(&serial);
        ASSERT_EQ(proto.OpenScale(kPort, 9600, kAddress), 1) << proto.m_nError;
    }
    void TearDown() override {
        proto.CloseScale();
        scale.Stop();
        orv::platform::SetTimeScale(1.0);
    }
    MedesaEmulator scale;
    CTelepathy serial;
    CMedesa proto;
};

TEST_F(MedesaLink, WholePluGoesOutAndComesBack) {
    const MedesaPlu p = Goods(300);
    ASSERT_EQ(proto.WritePlu(p, 15), 1) << proto.m_nError;
    CChrArr blocks[CMedesa::kBlocks];
    ASSERT_EQ(proto.BuildPluBlocks(p, blocks), 0);
    const auto payloads = scale.Payloads();
    ASSERT_EQ(payloads.size(), 9u);
    for (int b = 0; b < 9; ++b) {
        const Bytes want = ToBytes(CChrArr("\x03") + uint8_t{0} + CChrArr("\x4C\x01") + blocks[b]);
        EXPECT_EQ(Hex(payloads[static_cast<size_t>(b)]), Hex(want)) << "block " << b;
    }
    // On the line: the frame, escaped, with its checksum.
    const Bytes sent = scale.Received();
    EXPECT_EQ(sent[0], 0x7C);
    EXPECT_EQ(sent[1], 0x7C);

    MedesaPlu back;
    back.plu = 300;
    ASSERT_EQ(proto.ReadPlu(back, 15), 1) << proto.m_nError;
    EXPECT_EQ(back.plu, 300u);
    EXPECT_EQ(back.name, "Kie\xB3" "basa" + std::string(16, ' '));
    EXPECT_EQ(back.code, "200004200001 ");
    EXPECT_DOUBLE_EQ(back.price, 19.99);
    EXPECT_EQ(back.dateText, "01.01.27");
    EXPECT_EQ(back.lines[0], "Sk\xB3" "ad: mi\xEAso" + std::string(12, ' '));
}

TEST_F(MedesaLink, RefusedItemsSendNothing) {
    MedesaPlu p = Goods(1);
    p.code = "20000X2000017";
    EXPECT_EQ(proto.WritePlu(p, 15), 0);
    EXPECT_EQ(proto.m_nError, 9999);
    p = Goods(10001);
    EXPECT_EQ(proto.WritePlu(p, 15), 0);
    EXPECT_EQ(proto.m_nError, 105);
    MedesaDept d;
    d.number = 40;
    EXPECT_EQ(proto.WriteDept(d, 15), 0);
    EXPECT_EQ(proto.m_nError, 110);
    EXPECT_TRUE(scale.Received().empty());
}

TEST_F(MedesaLink, AttemptsAndWhereTheyStop) {
    // Garbled answers are tried again, up to the attempt count.
    scale.QueueMedesaFault(MFault::Garbage, 2);
    scale.QueueMedesaFault(MFault::Unframed);
    scale.QueueMedesaFault(MFault::ShortReply);
    scale.QueueMedesaFault(MFault::SpoiltEcho);
    MedesaDept d;
    d.number = 5;
    d.name = "Wêdliny";
    ASSERT_EQ(proto.WriteDept(d, 15), 1) << proto.m_nError;
    EXPECT_EQ(scale.Payloads().size(), 2u);   // the try with the spoilt copy reached the scale as well

    scale.ClearPayloads();
    scale.QueueMedesaFault(MFault::Garbage, 3);
    EXPECT_EQ(proto.WriteDept(d, 3), 0);
    EXPECT_EQ(proto.m_nError, 9999);

    // A refusal is an answer: no further try.
    scale.QueueMedesaFault(MFault::Refuse);
    EXPECT_EQ(proto.WriteDept(d, 15), 0);
    EXPECT_EQ(proto.m_nError, 9999);

    // Silence after the returned frame, or no returned frame: one try.
    const size_t before = scale.Received().size();
    scale.QueueMedesaFault(MFault::Silence);
    EXPECT_EQ(proto.WriteDept(d, 15), 0);
    EXPECT_EQ(proto.m_nError, -5);
    scale.QueueMedesaFault(MFault::NoEcho);
    EXPECT_EQ(proto.WriteDept(d, 15), 0);
    EXPECT_EQ(proto.m_nError, -5);
    const size_t frame = (scale.Received().size() - before) / 2;
    EXPECT_EQ(scale.Received().size() - before, 2 * frame);   // one frame each
}

TEST_F(MedesaLink, VatRatesAndDepartments) {
    scale.SetVatRate(3, 2250);
    double vat[8];
    ASSERT_EQ(proto.ReadVatRates(vat, 50), 1) << proto.m_nError;
    EXPECT_DOUBLE_EQ(vat[0], 23.0);
    EXPECT_DOUBLE_EQ(vat[1], 8.0);
    EXPECT_DOUBLE_EQ(vat[3], 22.5);
    EXPECT_DOUBLE_EQ(vat[4], -3.0);
    EXPECT_DOUBLE_EQ(vat[7], -3.0);

    MedesaDept d;
    d.number = 39;
    d.name = "\xAF" "ywno\x9C\xE6";   // "Żywność"
    ASSERT_EQ(proto.WriteDept(d, 15), 1) << proto.m_nError;
    EXPECT_EQ(Hex(scale.Payloads().back()).substr(0, 20), "03 00 4C 02 26 00 00");   // number - 1
    EXPECT_EQ(scale.Dept(39), "7ywno\xD1\xC3" + std::string(17, ' '));
    MedesaDept back;
    back.number = 39;
    ASSERT_EQ(proto.ReadDept(back, 15), 1) << proto.m_nError;
    EXPECT_EQ(Hex(scale.Payloads().back()).substr(0, 20), "03 00 4B 02 27 00 00");   // the number itself
    EXPECT_EQ(back.number, 39u);
    EXPECT_EQ(back.name, d.name + std::string(17, ' '));
}

TEST_F(MedesaLink, BreakEndsTheJobAtOnce) {
    orv::platform::SetTimeScale(1.0);
    scale.QueueMedesaFault(MFault::Silence, 20);
    std::thread breaker([&] {
        scale.WaitForCount(8, 5000);
        serial.Break();
    });
    const int64_t t0 = orv::platform::MonotonicMillis();
    MedesaDept d;
    d.number = 1;
    EXPECT_EQ(proto.WriteDept(d, 15), 0);
    const int64_t took = orv::platform::MonotonicMillis() - t0;
    breaker.join();
    serial.ClearBreak();
    EXPECT_EQ(proto.m_nError, -7);
    EXPECT_LT(took, 1500);
}

// A frame the scale answers late: the library gives up on it (time-out),
// the line stays unsettled, and what comes in late is never read as the
// answer to the next request.
TEST_F(MedesaLink, AnswerAfterTheTimeOutIsNotTakenForTheNextOne) {
    MedesaPlu other = Goods(300);
    other.name = "Mleko 3,2%";
    ASSERT_EQ(proto.WritePlu(other, 15), 1) << proto.m_nError;
    ASSERT_EQ(proto.WritePlu(Goods(1), 15), 1) << proto.m_nError;

    scale.SetLateness(400, 400, 1);   // beyond the 5 s (scaled: 250 ms)
    MedesaPlu p;
    p.plu = 300;
    EXPECT_EQ(proto.ReadPlu(p, 15), 0);
    EXPECT_EQ(proto.m_nError, -5);
    EXPECT_TRUE(serial.IsUnsettled(kPort));

    // The next read's frame comes back late too, after the stale answer.
    scale.SetLateness(200, 200, 1);
    MedesaPlu back;
    back.plu = 1;
    ASSERT_EQ(proto.ReadPlu(back, 15), 1) << proto.m_nError;
    EXPECT_EQ(back.plu, 1u);
    EXPECT_EQ(back.name, Goods(1).name + std::string(16, ' '));
}

// An answer that lands inside the wait for another request's answer names
// another PLU or department: it is dropped and the wait goes on.
TEST_F(MedesaLink, AnswerNamingAnotherItemIsDropped) {
    MedesaPlu other = Goods(300);
    other.name = "Mleko 3,2%";
    ASSERT_EQ(proto.WritePlu(other, 15), 1) << proto.m_nError;
    ASSERT_EQ(proto.WritePlu(Goods(1), 15), 1) << proto.m_nError;
    scale.SetDept(1, "Pieczywo" + std::string(16, ' '));
    scale.SetDept(2, "Nabia\xC6" + std::string(18, ' '));

    const uint8_t a = kAddress;
    scale.QueueStaleAnswer({a, 0x00, 0x4B, 0x01, 0x2C, 0x01, 0x00});   // PLU 300 block 0
    MedesaPlu p;
    p.plu = 1;
    ASSERT_EQ(proto.ReadPlu(p, 1), 1) << proto.m_nError;
    EXPECT_EQ(p.plu, 1u);
    EXPECT_EQ(p.name, Goods(1).name + std::string(16, ' '));

    scale.QueueStaleAnswer({a, 0x00, 0x4B, 0x02, 0x01, 0x00, 0x00});   // department 1
    MedesaDept d;
    d.number = 2;
    ASSERT_EQ(proto.ReadDept(d, 1), 1) << proto.m_nError;
    EXPECT_EQ(d.number, 2u);
    EXPECT_EQ(d.name, "Nabia\xEA" + std::string(18, ' '));

    // Only stale answers until the time-out: no answer.
    scale.QueueStaleAnswer({a, 0x00, 0x4B, 0x02, 0x01, 0x00, 0x00});
    scale.QueueMedesaFault(MFault::Silence);
    d.number = 2;
    EXPECT_EQ(proto.ReadDept(d, 1), 0);
    EXPECT_EQ(proto.m_nError, -5);
}

// A bit spoilt on the line shows in the checksum: the request is made again
// within the attempts, and a read whose every try is spoilt fails.
TEST_F(MedesaLink, SpoiltAnswerIsAskedAgain) {
    MedesaPlu milk = Goods(7);
    milk.name = "Mleko 3,2%";
    ASSERT_EQ(proto.WritePlu(milk, 15), 1) << proto.m_nError;
    const struct {
        int spoilt, attempts;
        bool read;
    } cases[] = {{1, 15, true}, {14, 15, true}, {3, 3, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spoilt);
        scale.ClearPayloads();
        scale.QueueMedesaFault(MFault::FlipBit, c.spoilt);
        MedesaPlu p;
        p.plu = 7;
        EXPECT_EQ(proto.ReadPlu(p, c.attempts), c.read ? 1 : 0);
        if (c.read) {
            EXPECT_EQ(p.name, "Mleko 3,2%" + std::string(14, ' '));
            EXPECT_EQ(scale.Payloads().size(), 9u + static_cast<size_t>(c.spoilt));
        } else {
            EXPECT_EQ(proto.m_nError, 9999);
            EXPECT_EQ(scale.Payloads().size(), 3u);
        }
    }
}

// The line control: open leaves RTS and DTR off; every send raises both,
// drops RTS after a pause and DTR once the frame is back.
TEST(MedesaLines, RtsDtrSequence) {
    orv::platform::SetTimeScale(0.01);
    auto line = FakeSerialLine::Create();
    CTelepathy serial;
    CMedesa proto;
    proto.SetSerial(&serial);
    ASSERT_EQ(proto.OpenScale(1, 9600, 1), 1) << proto.m_nError;
    EXPECT_FALSE(line->Dtr());
    EXPECT_FALSE(line->Rts());
    line->ClearRecords();
    double vat[8];
    EXPECT_EQ(proto.ReadVatRates(vat, 50), 0);   // nothing comes back
    EXPECT_EQ(proto.m_nError, -5);
    std::string seq;
    for (const auto& c : line->LineChanges()) seq += std::string(1, c.line) + (c.on ? "+" : "-") + " ";
    EXPECT_EQ(seq, "R- D- R+ D+ R- R- D- ");
    EXPECT_FALSE(line->Dtr());
    EXPECT_FALSE(line->Rts());
    proto.CloseScale();
    FakeSerialLine::Uninstall();
    orv::platform::SetTimeScale(1.0);
}

// ---- type 100 through the exports ----

class MedesaExports : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.05);
        Host().Reset();
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override { orv::platform::SetTimeScale(1.0); }
    static bool WaitDone() { return orv::test::WaitEcrDone(60000); }
    static EcrDeviceRecord Type100() {
        EcrDeviceRecord dev = orv::test::DeviceRecord(100, kPort, 9600, 0);
        dev.word7 = kAddress;
        return dev;
    }
    // PLU 300, 1 and 2 (at their numbers' places for 1 and 2), programmed.
    static std::vector<EcrItemRecord> ProgramThreeGoods(EcrDeviceRecord& dev) {
        std::vector<EcrItemRecord> items = {
            orv::test::HostItemRecord({.number = 300, .name = "Mleko 3,2%", .code = "2000300", .price = 3.2, .vat = 1, .dept = 1}),
            orv::test::HostItemRecord({.number = 1, .name = "Chleb", .code = "2000001", .price = 4.5, .vat = 1, .dept = 2}),
            orv::test::HostItemRecord({.number = 2, .name = "Bu\xB3ka", .code = "2000002", .price = 0.8, .vat = 1, .dept = 2}),
        };
        for (auto& it : items) it.word152 = 10;   // sell within 10 days
        EXPECT_EQ(EcrPgmPLU(&dev, items.data(), 3, &RecordingHost::OnItemProgram), 1);
        EXPECT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
        return items;
    }
};

TEST_F(MedesaExports, Type100GoodsDepartmentsVat) {
    MedesaEmulator scale(kPort, kAddress);
    scale.Start();
    EcrDeviceRecord dev = orv::test::DeviceRecord(100, kPort, 9600, 0);
    dev.word7 = kAddress;

    std::vector<EcrItemRecord> items(3);
    for (auto& it : items) std::memset(&it, 0, sizeof it);
    items[0] = orv::test::HostItemRecord({.number = 1, .name = "Ser \xBF\xF3\xB3ty", .code = "2000001", .price = 24.9, .vat = 1, .dept = 3});
    std::strcpy(items[0].text236, "15.06.27");
    items[1] = orv::test::HostItemRecord({.number = 2, .name = "Zla data", .code = "2000002", .price = 1.0, .vat = 1, .dept = 3});
    items[2] = orv::test::HostItemRecord({.number = 3, .name = "Dni", .code = "2000003", .price = 2.0, .vat = 2, .dept = 4});
    items[2].word152 = 10;
    ASSERT_EQ(EcrPgmPLU(&dev, items.data(), 3, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].number, 2u);
    EXPECT_EQ(Host().Confirmations()[0].code, 9999);
    EXPECT_FALSE(scale.HoldsPlu(2));
    EXPECT_EQ(scale.WrittenBlocks(), 18u);

    Host().Reset();
    std::vector<EcrItemRecord> wanted = {items[2], items[0]};
    ASSERT_EQ(EcrReadPLU(&dev, wanted.data(), 2, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_EQ(Host().Items()[0].word152, 10u);
    EXPECT_EQ(Host().Items()[0].vat_group, 2u);
    EXPECT_EQ(Host().Items()[0].department, 4u);
    EXPECT_STREQ(Host().Items()[1].text236, "15.06.27");
    EXPECT_EQ(std::string(Host().Items()[1].name), "Ser \xBF\xF3\xB3ty" + std::string(15, ' '));
    EXPECT_EQ(Host().Items()[1].unit, 1u);

    // A whole read stops at the first PLU the scale refuses (2).
    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 9999);
    EXPECT_EQ(Host().Items().size(), 1u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().VatCalls().size(), 1u);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][0], 23.0);
    EXPECT_DOUBLE_EQ(Host().VatCalls()[0][5], -3.0);

    Host().Reset();
    EcrDeptRecord depts[2];
    std::memset(depts, 0, sizeof depts);
    depts[0].number = 1;
    std::strcpy(depts[0].name, "Nabia\xB3");
    depts[1].number = 40;
    ASSERT_EQ(EcrPgmDEPT(&dev, depts, 2, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 110);
    ASSERT_EQ(Host().Confirmations().size(), 1u);
    EXPECT_EQ(Host().Confirmations()[0].text, PL("Numer grupy towarowej poza dozwolonym zakresem"));

    // Departments 1..39: the emulator answers every one.
    Host().Reset();
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), 0) << EcrErrMsg();
    ASSERT_EQ(Host().Depts().size(), 39u);
    EXPECT_EQ(std::string(Host().Depts()[0].name), "Nabia\xB3" + std::string(18, ' '));
}

// A read broken off while the scale answers late (the frame comes back and
// the answer follows 150 ms later), then a read in the same process: the
// true records or a failure, never an earlier answer taken for a later one.
TEST_F(MedesaExports, ReadAfterABreakGetsTheTrueRecords) {
    orv::platform::SetTimeScale(0.2);
    MedesaEmulator scale(kPort, kAddress);
    scale.Start();
    EcrDeviceRecord dev = Type100();
    std::vector<EcrItemRecord> items = ProgramThreeGoods(dev);

    const struct {
        int echoMs, answerMs, breakMs;
    } cases[] = {
        {150, 150, 60},    // in the wait for the first frame to come back
        {150, 150, 230},   // ... for the second block's frame
        {0, 150, 60},      // in the wait for the answer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.breakMs);
        Host().Reset();
        scale.SetLateness(c.echoMs, c.answerMs);
        ASSERT_EQ(EcrReadPLU(&dev, &items[0], 1, &RecordingHost::OnItemRead), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.breakMs));
        EcrBreakJob();
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), -7);

        // The scale is still slow for the next request's first frame.
        scale.SetLateness(c.echoMs, c.answerMs, 1);
        Host().Reset();
        ASSERT_EQ(EcrReadPLU(&dev, &items[1], 2, &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        const auto got = Host().Items();
        if (EcrError() == 0) {
            EXPECT_EQ(got.size(), 2u);
        }
        for (const EcrItemRecord& r : got) {
            ASSERT_TRUE(r.number == 1 || r.number == 2) << r.number << " " << r.name;
            const char* name = items[r.number].name;
            EXPECT_EQ(std::string(r.name), name + std::string(24 - std::strlen(name), ' '));
        }
    }
}

// An item the scale does not hold gives event 6 with its code and text and
// no record; the read goes on, and the job's result is the last item's.
TEST_F(MedesaExports, ItemsNotHeldAreReportedAndSkipped) {
    MedesaEmulator scale(kPort, kAddress);
    scale.Start();
    EcrDeviceRecord dev = Type100();
    const std::vector<EcrItemRecord> goods = ProgramThreeGoods(dev);
    const std::vector<EcrItemRecord> held = {goods[1], goods[2]};

    const EcrItemRecord missing = orv::test::HostItemRecord({.number = 5, .name = "Brak"});
    const struct {
        std::vector<EcrItemRecord> asked;
        std::vector<uint32_t> read;
        int error;
    } cases[] = {
        {{held[0], missing, held[1]}, {1, 2}, 0},
        {{held[0], missing}, {1}, 9999},
        {{missing}, {}, 9999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked.size());
        Host().Reset();
        std::vector<EcrItemRecord> asked = c.asked;
        ASSERT_EQ(EcrReadPLU(&dev, asked.data(), static_cast<int>(asked.size()), &RecordingHost::OnItemRead), 1);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(EcrError(), c.error) << EcrErrMsg();
        std::vector<uint32_t> read;
        for (const EcrItemRecord& r : Host().Items()) read.push_back(r.number);
        EXPECT_EQ(read, c.read);
        std::vector<orv::test::HostEvent> sixes;
        for (const auto& e : Host().Events())
            if (e.code == ECR_EVENT_DEVICE_ERROR) sixes.push_back(e);
        ASSERT_EQ(sixes.size(), 1u);
        EXPECT_EQ(sixes[0].value, 9999);
        EXPECT_EQ(sixes[0].text, PL("Nieokreślony błąd"));
    }
}

TEST_F(MedesaExports, Type100DepartmentReadStopsAtTheFirstFailure) {
    MedesaEmulator scale(kPort, kAddress);
    scale.Start();
    EcrDeviceRecord dev = orv::test::DeviceRecord(100, kPort, 9600, 0);
    dev.word7 = kAddress;
    scale.QueueMedesaFault(MedesaEmulator::Fault::None, 2);
    scale.QueueMedesaFault(MedesaEmulator::Fault::Silence);
    ASSERT_EQ(EcrReadAllDEPT(&dev, &RecordingHost::OnDeptRead), 1);
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(EcrError(), -5);
    EXPECT_EQ(Host().Depts().size(), 2u);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
}

}  // namespace
