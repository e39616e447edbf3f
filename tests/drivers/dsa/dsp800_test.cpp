// The DSP 800 register against its emulator: the goods record byte for
// byte, the range refusals, NAKs, silence and stray answers, read-back with
// retries, the letter codes, the texts, the slots and one run through the
// exports.
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "drivers/dsa/cd8_ecr.h"
#include "orvanta/ecr.h"
#include "sim/dsp800/dsp800_emulator.h"
#include "dsa_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

constexpr int kPort = 7;

Dsp800Item Rec(uint32_t number, const char* name, double price, uint32_t vat = 1, const char* code = "") {
    Dsp800Item it;
    it.number = number;
    std::strncpy(it.name, name, sizeof it.name - 1);
    std::strncpy(it.code, code, sizeof it.code - 1);
    it.vat = vat;
    it.price = price;
    return it;
}

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

class Dsp800Test : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.01);
        Host().Reset();
        m_emu = std::make_unique<Dsp800Emulator>(kPort);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        m_device = DeviceRecord(101, kPort, 19200);
        PrepareJobBlock(4, m_device);
        m_logic.SetSerial(m_serial.get());
        ASSERT_EQ(m_logic.Open(kPort, &m_device), 1) << m_logic.GetErrorCode();
    }
    void TearDown() override {
        m_logic.Close(kPort);
        m_emu.reset();
        m_serial.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    CDsp800& Dsp() { return m_logic.Protocol(); }

    std::unique_ptr<Dsp800Emulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    CD8_ECR m_logic;
    EcrDeviceRecord m_device{};
};

TEST_F(Dsp800Test, LineIs9600Baud8N1WhateverTheRecordSays) {
    const auto line = m_serial->LineSettings();
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, 'N');
}

TEST_F(Dsp800Test, GoodsRecordIsByteExact) {
    ASSERT_EQ(Dsp().PgmPLU(Rec(7, PL("Łódź"), 9999.99, 2, "590123456")), 1) << Dsp().m_nError;
    Bytes expect = {0x1B, '%', ' ', ' ', ' ', '7', ' ', 0xAA, 0xCD, 'd', 0xD6};
    for (int i = 0; i < 16; ++i) expect.push_back(' ');
    for (char c : std::string(" 999999 B 5901234 ")) expect.push_back(static_cast<uint8_t>(c));
    expect.back() = 0x0D;
    ASSERT_EQ(m_emu->Requests().size(), 1u);
    EXPECT_EQ(Hex(m_emu->Requests()[0]), Hex(expect));

    Dsp800Item back = Rec(7, "", 0);
    ASSERT_EQ(Dsp().ReadPLU(back), 1) << Dsp().m_nError;
    EXPECT_STREQ(back.name, PL("Łódź"));
    EXPECT_STREQ(back.code, "5901234");   // the register keeps 7 characters

    ASSERT_EQ(Dsp().PgmPLU(Rec(500, "A", 0.0)), 1);
    const Bytes second = m_emu->Requests().at(2);
    EXPECT_EQ(Hex(Bytes(second.begin() + 3, second.begin() + 6)), Hex(Str("500")));
}

TEST_F(Dsp800Test, OutOfRangeItemsAreRefusedWithNothingSent) {
    struct Case {
        Dsp800Item item;
        int code;
    } cases[] = {
        {Rec(501, "A", 1.0), 105},
        {Rec(0, "A", 1.0), 105},
        {Rec(1, "A", 10000.00), 109},
        {Rec(1, "A", -0.01), 109},
        {Rec(1, "A", std::nan("")), 109},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Dsp().PgmPLU(c.item), 0);
        EXPECT_EQ(Dsp().m_nError, c.code);
    }
    Dsp800Item read = Rec(501, "", 0);
    EXPECT_EQ(Dsp().ReadPLU(read), 0);
    EXPECT_EQ(Dsp().m_nError, 105);
    EXPECT_FALSE(m_emu->WaitForCount(1, 50));
}

TEST_F(Dsp800Test, ThreeNaksEndWith24AfterThreePauses) {
    for (int i = 0; i < 3; ++i) m_emu->QueueFault(EmulatorBase::Fault::Nak);
    const int64_t start = orv::platform::MonotonicMillis();
    EXPECT_EQ(Dsp().PgmPLU(Rec(1, "A", 1.0)), 0);
    EXPECT_EQ(Dsp().m_nError, 24);
    EXPECT_GE(orv::platform::MonotonicMillis() - start, orv::platform::ScaledMillis(0.3));
    EXPECT_EQ(m_emu->Requests().size(), 3u);

    // Two NAKs, then the record is taken.
    m_emu->ClearLog();
    for (int i = 0; i < 2; ++i) m_emu->QueueFault(EmulatorBase::Fault::Nak);
    EXPECT_EQ(Dsp().PgmPLU(Rec(1, "A", 1.0)), 1);
    EXPECT_EQ(m_emu->Requests().size(), 3u);
}

TEST_F(Dsp800Test, StatusWithoutAnAckOrNak) {
    // Silence keeps the time-out; another byte (0x00 as well) is no answer.
    m_emu->QueueFault(EmulatorBase::Fault::Silence);
    EXPECT_EQ(Dsp().PgmPLU(Rec(1, "A", 1.0)), 0);
    EXPECT_EQ(Dsp().m_nError, -5);
    for (uint8_t b : {uint8_t{0x00}, uint8_t{'X'}}) {
        m_emu->QueueReplyFault(Dsp800Emulator::ReplyFault::OtherByte, b);
        EXPECT_EQ(Dsp().PgmPLU(Rec(1, "A", 1.0)), 0);
        EXPECT_EQ(Dsp().m_nError, 9999);
    }
    EXPECT_EQ(m_emu->Requests().size(), 3u);   // none of them is sent again
}

TEST_F(Dsp800Test, ReadBackRetriesRepliesThatAreNotTheOneAsked) {
    Dsp800EmuItem item;
    item.name = Cp1250ToDsp800(CChrArr(PL("Żółty ser gouda 20zł"))).ToString();
    item.price = 1999;
    item.vat = 'B';
    item.code = "1234567";
    m_emu->SetItem(7, item);
    struct Case {
        const char* what;
        std::function<void()> fault;
    } cases[] = {
        {"the reply for item 6", [&] { m_emu->QueueReplyFault(Dsp800Emulator::ReplyFault::WrongNumber); }},
        {"a wrong first byte", [&] { m_emu->QueueReplyFault(Dsp800Emulator::ReplyFault::WrongFirst); }},
        {"a short reply", [&] { m_emu->QueueFault(EmulatorBase::Fault::Short, 20); }},
        {"a late reply", [&] { m_emu->QueueFault(EmulatorBase::Fault::Delay, 80); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_emu->ClearLog();
        c.fault();
        Dsp800Item got = Rec(7, "", 0);
        ASSERT_EQ(Dsp().ReadPLU(got), 1) << Dsp().m_nError;
        EXPECT_STREQ(got.name, PL("Żółty ser gouda 20zł"));   // all 20 characters
        EXPECT_DOUBLE_EQ(got.price, 19.99);
        EXPECT_EQ(got.vat, 2u);
        EXPECT_STREQ(got.code, "1234567");
        EXPECT_EQ(m_emu->Requests().size(), 2u);
    }
    // Three failures: the last one's code (the late reply that stands in
    // the line by now is emptied away first).
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < 3; ++i) m_emu->QueueFault(EmulatorBase::Fault::Silence);
    Dsp800Item got = Rec(7, "", 0);
    EXPECT_EQ(Dsp().ReadPLU(got), 0);
    EXPECT_EQ(Dsp().m_nError, -5);
}

TEST_F(Dsp800Test, Texts) {
    EXPECT_EQ(m_logic.GetErrorText(1005), PL("Przegrzanie głowicy drukarki paragonowej"));
    EXPECT_EQ(m_logic.GetErrorText(9998), "Data Nothing !?");
    EXPECT_EQ(m_logic.GetErrorText(600), "Velmorandi for Windows - xxx - Olfe v1.0");
    EXPECT_EQ(m_logic.GetErrorText(9999), "Velmorandi for Windows - xxx - Olfe v1.0");
    EXPECT_EQ(m_logic.GetErrorText(24), PL("Operacja nimożliwa"));
    EXPECT_EQ(m_logic.GetErrorText(1024), PL("Operacja nimożliwa"));
    EXPECT_EQ(m_logic.GetErrorText(7), PL("Nieokreślony błąd"));
}

TEST_F(Dsp800Test, ProgrammedItemsReadBackKeepTheirRate) {
    EcrItemRecord items[2] = {HostItemRecord({.number = 3, .name = "Twarog poltlusty extra", .code = "55", .price = 4.5}),
                              HostItemRecord({.number = 4, .name = "Mleko", .code = "56", .price = 2.0})};
    items[0].word156 = 2;
    ASSERT_EQ(m_logic.PgmPLU(kPort, items, 2, nullptr, 0), 1) << m_logic.GetErrorCode();
    EXPECT_TRUE(Host().Confirmations().empty());
    Host().Reset();
    ASSERT_EQ(m_logic.ReadPLU(kPort, items, 2, nullptr), 1) << m_logic.GetErrorCode();
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].name, "Twarog poltlusty ext");
    EXPECT_EQ(got[0].word156, 2u);
    EXPECT_EQ(got[0].vat_group, 1u);
    EXPECT_EQ(got[0].department, 1u);
    EXPECT_EQ(got[0].unit, 1u);
    EXPECT_STREQ(got[0].code, "55");
    EXPECT_EQ(got[1].word156, 1u);
    // Written back as read, the item keeps rate B.
    m_emu->ClearLog();
    ASSERT_EQ(m_logic.PgmPLU(kPort, got.data(), 1, nullptr, 0), 1);
    EXPECT_EQ(m_emu->Item(3).vat, 'B');
}

TEST_F(Dsp800Test, ReadingAListStopsAtTheFirstFailure) {
    EcrItemRecord items[3] = {HostItemRecord({.number = 1}), HostItemRecord({.number = 501}),
                              HostItemRecord({.number = 3})};
    EXPECT_EQ(m_logic.ReadPLU(kPort, items, 3, nullptr), 0);
    EXPECT_EQ(m_logic.GetErrorCode(), 105);
    EXPECT_EQ(Host().Items().size(), 1u);
    auto ev = Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].value, 105);

    // The last item failing: its code, but no event 6.
    Host().Reset();
    EXPECT_EQ(m_logic.ReadPLU(kPort, items, 2, nullptr), 0);
    EXPECT_EQ(m_logic.GetErrorCode(), 105);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0);
}

TEST_F(Dsp800Test, ReadAllHandsOverEveryPosition) {
    Dsp800EmuItem item;
    item.name = "CHLEB";
    item.price = 350;
    m_emu->SetItem(2, item);
    ASSERT_EQ(m_logic.ReadAllPLU(kPort, nullptr), 1) << m_logic.GetErrorCode();
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 500u);
    EXPECT_STREQ(got[1].name, "CHLEB");
    EXPECT_DOUBLE_EQ(got[1].price, 3.5);
    EXPECT_STREQ(got[0].name, "");
    EXPECT_STREQ(got[0].code, "");
    EXPECT_DOUBLE_EQ(got[0].price, 0.0);
    EXPECT_EQ(got[499].number, 500u);
    EXPECT_EQ(Host().EventsWithCode(ECR_EVENT_ITEM).back().percent, 100);
}

TEST_F(Dsp800Test, SlotsWithoutDeviceWork) {
    EXPECT_EQ(m_logic.ClearSale(kPort, nullptr), 1);
    EXPECT_EQ(m_logic.PgmDEPT(kPort, nullptr, 0, nullptr), 1);
    double vat[8];
    EXPECT_EQ(m_logic.ReadVAT(kPort, vat), 0);
    EXPECT_EQ(m_logic.GetErrorCode(), 25);
    EXPECT_EQ(m_logic.ReadSale(kPort, nullptr), 0);
    EXPECT_EQ(m_logic.DelPLU(kPort, nullptr, 0, nullptr), 0);
    EXPECT_EQ(m_logic.ReadAllDEPT(kPort, nullptr), 0);
    EXPECT_EQ(m_logic.GetErrorCode(), 25);
    EXPECT_TRUE(m_emu->Requests().empty());
}

TEST(Dsp800Exports, Type101ProgramsAndReadsGoods) {
    orv::platform::SetTimeScale(0.01);
    Host().Reset();
    Dsp800Emulator emu(kPort);
    emu.Start();
    ASSERT_EQ(EcrCreate(nullptr), 1);
    const EcrDeviceRecord dev = DeviceRecord(101, kPort, 9600);
    EcrItemRecord items[2] = {HostItemRecord({.number = 10, .name = PL("Śliwki"), .code = "77", .price = 8.99}),
                              HostItemRecord({.number = 600, .name = "Za duzy", .code = "78", .price = 1.0})};
    ASSERT_EQ(EcrPgmPLU(&dev, items, 2, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 105);
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].number, 600u);
    EXPECT_EQ(conf[0].code, 105);

    Host().Reset();
    ASSERT_EQ(EcrReadPLU(&dev, items, 1, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitEcrDone(30000));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto got = Host().Items();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].name, PL("Śliwki"));
    EXPECT_DOUBLE_EQ(got[0].price, 8.99);
    emu.Stop();
    orv::platform::SetTimeScale(1.0);
    Host().Reset();
}

}  // namespace
}  // namespace orv::test
