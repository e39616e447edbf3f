// The Sharp 227 command link and its driver against the 227 emulator:
// frame bytes, records, handshakes, repeated and spoilt reply blocks, the
// 9600 8O1 line, and jobs through the exports.
#include <cstring>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "comm/telepathy.h"
#include "drivers/sharp/csharp227.h"
#include "fakes/line_settings_spy.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sharp_fixture.h"
#include "sim/sharp/sharp227_emulator.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

class Sharp227Test : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.02);
        Host().Reset();
        m_spy = std::make_unique<LineSettingsSpy>();
        m_emu = std::make_unique<Sharp227Emulator>(kSharpPort);
        m_emu->Start();
        m_serial = std::make_unique<CTelepathy>();
        m_serial->SetCallback(&RecordingHost::OnProgress);
        m_link.SetSerial(m_serial.get());
    }
    void TearDown() override {
        m_link.Close();
        m_emu->Stop();
        m_serial.reset();
        m_emu.reset();
        m_spy.reset();
        orv::platform::SetTimeScale(1.0);
        Host().Reset();
    }
    void Open(int baud = 9600) { ASSERT_EQ(m_link.Open(kSharpPort, baud), 1) << m_link.m_nError; }

    std::unique_ptr<LineSettingsSpy> m_spy;
    std::unique_ptr<Sharp227Emulator> m_emu;
    std::unique_ptr<CTelepathy> m_serial;
    CSharp227 m_link;
};

TEST_F(Sharp227Test, FramesAndTheLine) {
    Open(19200);
    const auto requested = m_spy->Requested();
    ASSERT_FALSE(requested.empty());
    EXPECT_EQ(requested.back().baud, 9600);
    EXPECT_EQ(requested.back().dataBits, 8);
    EXPECT_EQ(requested.back().parity, 'O');

    EXPECT_EQ(Hex(CSharp227::CommandFrame('P').bytes()), "02 50 41 45 03");
    EXPECT_EQ(Text(CSharp227::DataFrame(CChrArr("abc"))), "abcDA\r");
    EXPECT_EQ(Text(CSharp227::EndFrame(CChrArr("abc"))), "DA\x1A");
    EXPECT_EQ(Text(CSharp227::EndFrame(CChrArr())), "00\x1A");

    ASSERT_EQ(m_link.ClearSales(), 1) << m_link.m_nError;
    EXPECT_EQ(Hex(m_emu->Received()), "02 50 41 45 03");
}

TEST_F(Sharp227Test, GoodsAndDepartmentRecords) {
    CChrArr out;
    ASSERT_EQ(m_link.BuildPLURecord(Row(123, "", "MLEKO", 5, 12.34), 0, out), 1);
    EXPECT_EQ(Text(out), "00000000000123,00001234,MLEKO           ,\"05\",\"0\"");
    EXPECT_EQ(out.GetLength(), 49);
    ASSERT_EQ(m_link.BuildPLURecord(Row(123, "", "MLEKO", 5, 12.34), 1, out), 1);
    EXPECT_EQ(Text(out), "00000000000123,00000000,-00000000000123-,\"00\",\"0\"");
    ASSERT_EQ(m_link.BuildPLURecord(Row(0, " 1234567 ", "X", 1, 1), 0, out), 1);
    EXPECT_EQ(Text(out).substr(0, 14), "10000001234567");

    struct Case {
        SharpPluRow row;
        int error;
    };
    const Case refused[] = {{Row(1, "", "A", 0, 1), 9999}, {Row(1, "", "A", 100, 1), 9999},
                            {Row(1, "", "A", 1, 1000000.0), 9999}, {Row(1, "", "A", 1, -1), 9999},
                            {Row(0, "", "A", 1, 1), 108}, {Row(0, "12\r4", "A", 1, 1), 108}};
    for (const Case& c : refused) {
        m_link.m_nError = 0;
        EXPECT_EQ(m_link.BuildPLURecord(c.row, 0, out), 0);
        EXPECT_EQ(m_link.m_nError, c.error);
    }
    // Control bytes in a name go out as blanks.
    ASSERT_EQ(m_link.BuildPLURecord(Row(1, "", "A\rB", 1, 1), 0, out), 1);
    EXPECT_EQ(Text(out).substr(24, 3), "A B");

    SharpDeptRow d;
    d.number = 7;
    d.amount = 12.5;
    std::strcpy(d.name, "Napoje");
    d.word3 = 1;
    d.word5 = 4;
    d.word1 = 23;
    ASSERT_EQ(m_link.BuildDeptRecord(d, out), 1);
    EXPECT_EQ(Text(out), "07,00001250,Napoje          ,\"104\",\"23\"");
    EXPECT_EQ(out.GetLength(), 39);
    SharpDeptRow back;
    ASSERT_EQ(m_link.ParseDeptRecord(out, back), 1);
    EXPECT_EQ(back.number, 7u);
    EXPECT_DOUBLE_EQ(back.amount, 12.5);
    EXPECT_STREQ(back.name, "Napoje");
    EXPECT_EQ(back.word3, 1u);
    EXPECT_EQ(back.word5, 4u);
    EXPECT_EQ(back.word1, 23u);
    d.number = 0;
    EXPECT_EQ(m_link.BuildDeptRecord(d, out), 0);
    EXPECT_EQ(m_link.m_nError, 110);
}

TEST_F(Sharp227Test, WritesAndReadsBackGoodsWithACommaInAName) {
    Open();
    SharpPluRow rows[3] = {Row(1, "", "Ser, zolty", 2, 9.99), Row(0, "5901234123457", PL("Mąka"), 3, 3.2),
                           Row(3, "", "Woda", 1, 1.5)};
    ASSERT_EQ(m_link.SendPLUs(rows, 3), 1) << m_link.m_nError;
    EXPECT_EQ(m_emu->Commands(), "Q");
    EXPECT_EQ(m_emu->Goods().size(), 3u);
    std::vector<SharpPluRow> got;
    ASSERT_EQ(m_link.ReadAllPLUs([&](const SharpPluRow& r) { got.push_back(r); }), 1) << m_link.m_nError;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].number, 1u);
    EXPECT_STREQ(got[0].name, "Ser, zolty");
    EXPECT_EQ(got[0].dept, 2u);
    EXPECT_DOUBLE_EQ(got[0].price, 9.99);
    EXPECT_STREQ(got[2].code, "5901234123457");
    EXPECT_STREQ(got[2].name, PL("Mąka"));
    EXPECT_EQ(Host().CountEvents(5), 3);

    // Delete one.
    ASSERT_EQ(m_link.DeletePLUs(&rows[2], 1), 1) << m_link.m_nError;
    EXPECT_EQ(m_emu->Goods().size(), 2u);
}

TEST_F(Sharp227Test, ARefusedRowStopsTheBatchBeforeTheCommand) {
    Open();
    SharpPluRow rows[4] = {Row(1, "", "A", 1, 1), Row(2, "", "B", 1, 1), Row(3, "", "C", 1, 1), Row(4, "", "D", 0, 1)};
    EXPECT_EQ(m_link.SendPLUs(rows, 4), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    EXPECT_EQ(m_emu->ReceivedCount(), 0u);
    EXPECT_EQ(m_link.SendPLUs(rows, 0), 0);
    EXPECT_NE(m_link.m_nError, 0);
}

TEST_F(Sharp227Test, ReplyBlocksSpoiltOrRepeated) {
    Open();
    m_emu->SetGoods({{"00000000000001", "00000000000001,00000100,A               ,\"01\",\"0\""},
                     {"00000000000002", "00000000000002,00000200,B               ,\"01\",\"0\""}});
    struct Case {
        Sharp227Emulator::BlockFault fault;
        int copies;
        int result;
        int rows;
        int naks;
    };
    const Case cases[] = {{Sharp227Emulator::BlockFault::BadChecksum, 3, 0, 0, 2},
                          {Sharp227Emulator::BlockFault::BadChecksum, 1, 1, 2, 1},
                          {Sharp227Emulator::BlockFault::Repeat, 1, 1, 2, 0},
                          {Sharp227Emulator::BlockFault::Noise, 1, 1, 2, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault) * 10 + c.copies);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));   // the last answers of the case before
        m_emu->ClearLog();
        m_emu->SpoilReplyBlock(1, c.fault, c.copies);
        int rows = 0;
        EXPECT_EQ(m_link.ReadAllPLUs([&](const SharpPluRow&) { ++rows; }), c.result);
        EXPECT_EQ(rows, c.rows);
        if (c.fault == Sharp227Emulator::BlockFault::Repeat) {
            // Both copies, B and the end block are acknowledged.
            EXPECT_TRUE(m_emu->WaitUntil([](const Bytes& b) { return CountByte(b, 0x06) >= 4; }, 2000));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(CountByte(m_emu->Received(), 0x06), 4);
        }
        EXPECT_EQ(CountByte(m_emu->Received(), 0x15), c.naks);
        EXPECT_EQ(m_link.m_nError, c.result == 0 ? 9999 : 0);
    }
}

// Each record read is announced by event 5 before the host gets it.
TEST_F(Sharp227Test, EachRecordReadIsAnnouncedBeforeItIsHandedOver) {
    Open();
    m_emu->SetGoods({{"00000000000001", "00000000000001,00000100,A               ,\"01\",\"0\""},
                     {"00000000000002", "00000000000002,00000200,B               ,\"01\",\"0\""}});
    m_emu->SetDepartments({{"01", "01,00000000,Pieczywo        ,\"000\",\"00\""},
                           {"02", "02,00000000,Nabial          ,\"000\",\"00\""}});
    m_emu->SetSales({"00000000000001,00000350,2.000", "00000000000002,00000100,1.000"});
    struct Case {
        const char* read;
        std::function<int(int& handed)> run;
    };
    const Case cases[] = {
        {"goods", [&](int& n) { return m_link.ReadAllPLUs([&](const SharpPluRow&) { ++n; }); }},
        {"departments", [&](int& n) { return m_link.ReadDepartments([&](const SharpDeptRow&) { ++n; }); }},
        {"sales", [&](int& n) { return m_link.ReadSales([&](const SharpSaleRow&) { ++n; }); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.read);
        Host().Reset();
        int handed = 0;
        std::vector<int> handedAtEvent;   // records handed over when each event 5 came
        Host().SetEventHook([&](const HostEvent& e) {
            if (e.code == 5) handedAtEvent.push_back(handed);
        });
        EXPECT_EQ(c.run(handed), 1) << m_link.m_nError;
        Host().SetEventHook({});
        EXPECT_EQ(handed, 2);
        EXPECT_EQ(handedAtEvent, (std::vector<int>{0, 1}));
    }
}

TEST_F(Sharp227Test, NaksOnAFrameAndSilence) {
    Open();
    m_emu->NakHostFrames(2);
    ASSERT_EQ(m_link.ClearSales(), 1) << m_link.m_nError;
    EXPECT_EQ(Hex(m_emu->Received()), "02 50 41 45 03 02 50 41 45 03 02 50 41 45 03");
    m_emu->NakHostFrames(3);
    EXPECT_EQ(m_link.ClearSales(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    m_emu->SetSilent(true);
    EXPECT_EQ(m_link.ClearSales(), 0);
    EXPECT_EQ(m_link.m_nError, -5);
    EXPECT_EQ(m_link.NoAnswerCode(), -5);
}

class Sharp227Exports : public Sharp227Test {
protected:
    void SetUp() override {
        Sharp227Test::SetUp();
        ASSERT_EQ(EcrCreate(nullptr), 1);
        m_dev = DeviceRecord(74, kSharpPort, 9600);
    }
    EcrDeviceRecord m_dev{};
};

TEST_F(Sharp227Exports, Type74ProgramsReadsAndRefusesWhatItCannotDo) {
    EcrItemRecord items[4] = {HostItemRecord({.number = 1, .name = "Chleb", .price = 3.5, .dept = 1}),
                              HostItemRecord({.number = 0, .name = "Pusty", .price = 1, .dept = 1}),
                              HostItemRecord({.number = 0, .name = "Kod", .code = "12345678", .price = 2, .dept = 2}),
                              HostItemRecord({.number = 9, .name = "Pominięty", .price = 2, .dept = 2})};
    items[3].attr4 = 1;   // left out: no transfer, no confirmation
    ASSERT_EQ(EcrPgmPLU(&m_dev, items, 4, &RecordingHost::OnItemProgram), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0) << Utf8(EcrErrMsg());
    auto conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 105);
    EXPECT_EQ(m_emu->Goods().size(), 2u);

    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&m_dev, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0);
    ASSERT_EQ(Host().Items().size(), 2u);
    EXPECT_EQ(Host().Items()[0].number, 1u);
    EXPECT_STREQ(Host().Items()[1].code, "0000012345678");

    EcrDeptRecord depts[2]{};
    depts[0].number = 1;
    std::strcpy(depts[0].name, "Pieczywo");
    depts[1].number = 0;
    Host().Reset();
    ASSERT_EQ(EcrPgmDEPT(&m_dev, depts, 2, &RecordingHost::OnDeptProgram), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    conf = Host().Confirmations();
    ASSERT_EQ(conf.size(), 1u);
    EXPECT_EQ(conf[0].code, 110);
    EXPECT_EQ(conf[0].text, PL("Błędny numer działu"));
    EXPECT_EQ(m_emu->Departments().size(), 1u);

    m_emu->SetSales({"00000000000001,00000350,2.000"});
    Host().Reset();
    ASSERT_EQ(EcrReadSale(&m_dev, &RecordingHost::OnSale), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 0);
    ASSERT_EQ(Host().Sales().size(), 1u);
    EXPECT_EQ(Host().Sales()[0].sale.plu, 1u);
    EXPECT_DOUBLE_EQ(Host().Sales()[0].sale.quantity, 2.0);
    EXPECT_DOUBLE_EQ(Host().Sales()[0].sale.value, 3.5);

    Host().Reset();
    ASSERT_EQ(EcrReadVAT(&m_dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 9999);
    Host().Reset();
    ASSERT_EQ(EcrReadPLU(&m_dev, items, 1, &RecordingHost::OnItemRead), 1);
    ASSERT_TRUE(WaitEcrDone(60000));
    EXPECT_EQ(EcrError(), 25);
}

}  // namespace
}  // namespace orv::test
