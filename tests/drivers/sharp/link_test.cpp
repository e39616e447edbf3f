// The Sharp block link against the emulator: selection, block framing and
// checksums, NAK and EOT handshakes, the result record, reply blocks with
// their faults, job codes, the file header, data blocks, record splitting,
// the line settings and breaks.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "drivers/sharp/csharp277.h"
#include "drivers/sharp/csharp285.h"
#include "drivers/sharp/csharp457.h"
#include "sharp_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

constexpr uint8_t kEot = 0x04, kEnq = 0x05, kAck = 0x06, kNak = 0x15;

SharpPluRow Goods(uint32_t number, const char* name, double price) {
    SharpPluRow r;
    r.number = number;
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.dept = 1;
    r.price = price;
    return r;
}

// A goods-by-number file of the 457 with one record per number.
SharpEmuFile GoodsFile(std::initializer_list<uint32_t> numbers) {
    SharpEmuFile f;
    f.keyBytes = 3;
    f.lengths.assign(47, 0);
    f.lengths[0] = 7;
    f.lengths[2] = 4;
    for (uint32_t n : numbers) {
        char key[8];
        std::snprintf(key, sizeof key, "%06u", n);
        std::vector<std::string> fields(47);
        fields[0] = "01000101000000";
        fields[2] = "00000100";
        f.records[key] = fields;
    }
    return f;
}

TEST_F(SharpTest, SelectionCarriesTheMachineNumberInSixDigits) {
    struct Case {
        int machine;
        const char* digits;
    };
    for (const Case& c : {Case{7, "000007"}, Case{1234567, "123456"}}) {
        SCOPED_TRACE(c.machine);
        SharpEmulator& emu = StartDevice(kSharp457Traits, c.machine);
        CSharp457 link;
        link.m_nMachine = c.machine;
        OpenLink(link);
        ASSERT_EQ(link.Select(), 1) << link.m_nError;
        const Bytes expected = Cat({Bytes{kEot, kEot, kEot}, B(c.digits), Bytes{kEnq}});
        EXPECT_EQ(expected.size(), 10u);
        EXPECT_EQ(Hex(emu.Received()), Hex(expected));
        EXPECT_EQ(link.m_nError, 0);
    }
}

TEST_F(SharpTest, SelectionFailuresTellSilenceFromAWrongAnswer) {
    // Another machine number: the register stays silent, three tries, -5.
    SharpEmulator& emu = StartDevice(kSharp457Traits, 2);
    CSharp457 link;
    OpenLink(link);
    EXPECT_EQ(link.Select(), 0);
    EXPECT_EQ(link.m_nError, -5);
    EXPECT_EQ(link.NoAnswerCode(), -5);
    EXPECT_EQ(CountByte(emu.Received(), kEnq), 3);

    // A NAK in place of the ACK: three tries, 9999, not silence.
    emu.SetMachine(1);
    emu.SetSelectAnswer(kNak);
    link.m_nError = 0;
    EXPECT_EQ(link.SendGoods(nullptr, 0, CSharpLink::Keying::ByNumber, true, false), 1);   // nothing to send
    SharpPluRow row = Goods(1, "A", 1.0);
    EXPECT_EQ(link.SendPLUs(&row, 1, 1), 0);
    EXPECT_EQ(link.m_nError, 9999);
    EXPECT_EQ(link.NoAnswerCode(), 0);
    EXPECT_EQ(emu.Selections(), 3);

    // A write whose select meets silence: 9999, with the silence noted.
    emu.SetSilent(true);
    EXPECT_EQ(link.SendPLUs(&row, 1, 1), 0);
    EXPECT_EQ(link.m_nError, 9999);
    EXPECT_EQ(link.NoAnswerCode(), -5);
    ASSERT_FALSE(EventsOf(6).empty());
    EXPECT_EQ(EventsOf(6).back().value, 9999);
}

TEST_F(SharpTest, AHungUpLineKeepsItsTransportCode) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    emu.pty().CloseSpare();
    emu.Disconnect();
    EXPECT_EQ(link.Select(), 0);
    EXPECT_LT(link.m_nError, 0);
    EXPECT_NE(link.m_nError, -7);
    EXPECT_EQ(link.NoAnswerCode(), link.m_nError);
}

TEST_F(SharpTest, BlocksAreFramedWithTheNegatedByteSum) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    // Block 1 outside a transfer: the register does not answer.
    EXPECT_EQ(link.SendBlock(1, CChrArr("ABC")), 0);
    EXPECT_EQ(Hex(emu.Received()), "02 31 41 42 43 30 39 0D");
    EXPECT_EQ(link.m_nError, -5);
    EXPECT_EQ(CSharpLink::Checksum(CChrArr("1ABC")), 0x09);
    EXPECT_EQ(CSharpLink::Checksum(CChrArr("")), 0);
}

TEST_F(SharpTest, ABlockOf252BytesIsRefusedBeforeAnythingIsSent) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    ASSERT_EQ(link.Select(), 1);
    emu.ClearLog();
    // Number digit + 250 bytes = 251: sent and acknowledged.
    EXPECT_EQ(link.SendBlock(0, CChrArr(std::string(250, 'A'))), 1) << link.m_nError;
    EXPECT_EQ(emu.ReceivedCount(), 255u);
    // 252: refused, nothing on the line.
    emu.ClearLog();
    EXPECT_EQ(link.SendBlock(0, CChrArr(std::string(251, 'A'))), 0);
    EXPECT_EQ(link.m_nError, 9999);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(emu.ReceivedCount(), 0u);
}

TEST_F(SharpTest, ThreeNaksSendThreeIdenticalFramesAndFail) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    ASSERT_EQ(link.Select(), 1);
    emu.ClearLog();
    emu.NakHostBlocks(3);
    EXPECT_EQ(link.SendJobCode(0, 99, 0, ""), 0);
    EXPECT_EQ(link.m_nError, 9999);
    const Bytes frame = SharpEmulator::Block(0, "/99-00/");
    EXPECT_EQ(Hex(emu.Received()), Hex(Cat({frame, frame, frame})));
    EXPECT_EQ(emu.NaksSent(), 3);
}

TEST_F(SharpTest, TheResultRecordGivesTheRegistersCodePlus1000) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    emu.SetResultCode(0);
    EXPECT_EQ(link.CheckResult(), 1);
    EXPECT_EQ(link.m_nError, 0);
    // Select, "99-00", EOT, the register's ENQ answered by ACK, the record
    // acknowledged, the register's EOT.
    const Bytes sent = emu.Received();
    EXPECT_EQ(CountByte(sent, kAck), 2);
    EXPECT_EQ(emu.JobCodes(), std::vector<std::string>{"/99-00/"});

    emu.SetResultCode(402);
    EXPECT_EQ(link.CheckResult(), 0);
    EXPECT_EQ(link.m_nError, 1402);
    EXPECT_EQ(link.GetErrorText(1402), "Specified file did not exist");

    struct Case {
        const char* record;
        int code;
    };
    const Case cases[] = {{"0000000000", 0}, {"0402000000", 1402}, {"0402", 0}, {"12AB000000", 9999}, {"0701      ", 1701}};
    for (const Case& c : cases) EXPECT_EQ(link.ParseErrorReply(CChrArr(c.record)), c.code) << c.record;
}

TEST_F(SharpTest, ErrorTextsOfTheRegisterAndOfTheClasses) {
    CSharp457 link;
    EXPECT_EQ(link.GetErrorText(1101), "Data check ERROR;Command Field ERROR");
    EXPECT_EQ(link.GetErrorText(1603), "Parameter error;The contents of parameter 3 was wrong");
    EXPECT_EQ(link.GetErrorText(1411), "File creation/delete ERROR");
    EXPECT_EQ(link.GetErrorText(105), PL("Błędny numer towaru"));
    EXPECT_EQ(link.GetErrorText(108), PL("Za duży kod kreskowy"));
    EXPECT_EQ(link.GetErrorText(110), PL("Błędny numer działu"));
    CTelepathyECR common;
    EXPECT_EQ(link.GetErrorText(9999), common.GetErrorText(9999));
    EXPECT_EQ(link.GetErrorText(-5), common.GetErrorText(-5));
    EXPECT_EQ(link.GetErrorText(1999), common.GetErrorText(1999));
    CSharp285 s285;
    CSharp277 s277;
    EXPECT_EQ(s285.GetErrorText(1404), "Specified record did not exist");
    EXPECT_EQ(s277.GetErrorText(1405), "File full");
}

TEST_F(SharpTest, ARegisterEotOnADataBlockEndsTheWriteWithItsResult) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    emu.EotOnDataBlock(3, 402);
    SharpPluRow rows[5] = {Goods(1, "A", 1), Goods(2, "B", 2), Goods(3, "C", 3), Goods(4, "D", 4), Goods(5, "E", 5)};
    EXPECT_EQ(link.SendPLUs(rows, 5, 1), 0);
    EXPECT_EQ(link.m_nError, 1402);
    ASSERT_EQ(EventsOf(6).size(), 1u);
    EXPECT_EQ(EventsOf(6)[0].value, 1402);
    EXPECT_EQ(EventsOf(6)[0].text, "Specified file did not exist");
    EXPECT_EQ(EventsOf(5).size(), 3u);   // the rows that went out
    EXPECT_TRUE(emu.File(kSharpPluFile).records.empty());

    // The register says 0000 after its EOT: still a failure.
    emu.EotOnDataBlock(1, 0);
    EXPECT_EQ(link.SendPLUs(rows, 1, 1), 0);
    EXPECT_EQ(link.m_nError, 9999);
}

TEST_F(SharpTest, BadReplyBlocksAreAskedForAgainTwiceThenDropped) {
    struct Case {
        SharpEmulator::BlockFault fault;
        int copies;
        int naks;      // NAK bytes the host sends
        bool good;
    };
    const Case cases[] = {
        {SharpEmulator::BlockFault::BadChecksum, 1, 1, true},
        {SharpEmulator::BlockFault::BadChecksum, 3, 2, false},
        {SharpEmulator::BlockFault::WrongNumber, 2, 2, true},
        {SharpEmulator::BlockFault::WrongNumber, 3, 2, false},
        {SharpEmulator::BlockFault::Short, 1, 1, true},
        {SharpEmulator::BlockFault::Noise, 3, 0, true},   // noise before STX is skipped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault) * 10 + c.copies);
        SharpEmulator& emu = StartDevice(kSharp457Traits);
        emu.SetFile(kSharpPluFile, GoodsFile({1, 2}));
        CSharp457 link;
        OpenLink(link);
        emu.SpoilReplyBlock(2, c.fault, c.copies);   // the first data block
        int rows = 0;
        const int r = link.ReadAllPLUs(1, [&](const SharpPluRow&) { ++rows; });
        EXPECT_EQ(r, c.good ? 1 : 0);
        EXPECT_EQ(link.m_nError, c.good ? 0 : 9999);
        EXPECT_EQ(rows, c.good ? 2 : 0);
        EXPECT_EQ(CountByte(emu.Received(), kNak), c.naks);
    }
}

TEST_F(SharpTest, AnEotForAReplyBlockEndsTheReadWithTheResult) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    emu.SetFile(kSharpPluFile, GoodsFile({1, 2, 3}));
    CSharp457 link;
    OpenLink(link);
    int rows = 0;
    emu.EotForReplyBlock(3, 0);   // after one record: the register ends the file
    EXPECT_EQ(link.ReadAllPLUs(1, [&](const SharpPluRow&) { ++rows; }), 1) << link.m_nError;
    EXPECT_EQ(rows, 1);
    emu.EotForReplyBlock(1, 403);   // in place of the header
    EXPECT_EQ(link.ReadAllPLUs(1, [&](const SharpPluRow&) { ++rows; }), 0);
    EXPECT_EQ(link.m_nError, 1403);
}

TEST_F(SharpTest, ARegisterThatNeverEndsItsFileIsGivenUp) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    EXPECT_EQ(link.m_nMaxFileBlocks, 65536);
    link.m_nMaxFileBlocks = 40;   // the same bound, reached in a test's time
    emu.EndlessEmptyBlocks(true);
    // A read that does not end is broken off from outside after a while.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) m_serial->Break();
    });
    int rows = 0;
    const int r = link.ReadDepts([&](const SharpDeptRow&) { ++rows; });
    done = true;
    watchdog.join();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(link.m_nError, 9999);
    EXPECT_EQ(rows, 0);
    // The ENQ, the header and exactly the 40 blocks were acknowledged.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(CountByte(emu.Received(), kAck), 42);
}

TEST_F(SharpTest, JobCodesFollowTheClassesTables) {
    struct Case {
        int job, sub;
        const char* first;   // CSharp457
        const char* later;   // CSharp277 / CSharp285
    };
    const Case cases[] = {
        {10, 2, "10-02", "10-02"}, {10, 0, "10-00", "10-00"}, {10, 5, "10-00", "10-00"},
        {20, 2, "20-02", "20-02"}, {21, 1, "21-01", "21-01"}, {20, 3, "20-00", "20-12"},
        {20, 0, "20-00", "20-00"}, {30, 4, "30-00", "30-00"}, {32, 0, "32-x0", "32-x0"},
        {32, 1, "32-01", "32-31"}, {32, 9, "32-0x", "32-0x"}, {32, 10, "32-1x", "32-1x"},
        {32, 20, "32-2x", "32-2x"}, {32, 7, "32-31", "32-3x"}, {90, 0, "90-00", "90-00"},
        {91, 0, "91-00", "91-00"}, {92, 20, "92-20", "92-20"}, {92, 10, "92-10", "92-10"},
        {92, 0, "92-00", "92-00"}, {92, 3, "92-x0", "92-x0"}, {93, 0, "93-00", "93-00"},
        {99, 0, "99-00", "99-00"}, {11, 0, "", ""}, {31, 0, "", ""},
    };
    CSharp457 first;
    CSharp277 later;
    CSharp285 later285;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job * 100 + c.sub);
        EXPECT_EQ(first.JobCodeText(c.job, c.sub), c.first);
        EXPECT_EQ(later.JobCodeText(c.job, c.sub), c.later);
        EXPECT_EQ(later285.JobCodeText(c.job, c.sub), c.later);
    }

    SharpEmulator& emu = StartDevice(kSharp457Traits);
    OpenLink(first);
    ASSERT_EQ(first.Select(), 1);
    emu.ClearLog();
    EXPECT_EQ(first.SendJobCode(0, 11, 0, ""), 0);   // not in the table: nothing sent
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(emu.ReceivedCount(), 0u);
    EXPECT_EQ(first.SendJobCode(0, 32, 1, "0109////00/"), 1);
    EXPECT_EQ(emu.JobCodes(), std::vector<std::string>{"/32-01/0109////00/"});
}

TEST_F(SharpTest, HeadersAreWrittenInHexAndReadWithDecimalFields) {
    CSharp457 s457;
    s457.ApplyOptions(1, 0x01);   // name mode 1: 16 characters
    const CChrArr text = s457.FormatHeader(s457.GoodsHeader(CSharpLink::Keying::ByNumber, true));
    EXPECT_EQ(Text(text), "/HDR1/" "11" "00" "0000" "00" "0000" "01" "01" "03" "07" "00" "04" "10" + std::string(86, '0'));
    EXPECT_EQ(text.GetLength(), 120);

    // Widths per class: 120, 56, 184; one character more or less is refused.
    CSharp277 s277;
    CSharp285 s285;
    struct Case {
        CSharpLink* link;
        int width;
    };
    for (const Case& c : {Case{&s457, 120}, Case{&s277, 56}, Case{&s285, 184}}) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(c.link->HeaderLength(), c.width);
        SharpHeader h;
        std::string good = "/HDR1/" "11" "00" "00010" "00000" "01" "01" "03" + std::string(static_cast<size_t>(c.width - 26), '0');
        good[27] = '7';   // h7 = 7
        ASSERT_EQ(c.link->ParseHeader(CChrArr(good), h), 1);
        EXPECT_EQ(h[0], 0x11u);
        EXPECT_EQ(h[2], 10u);   // positions 11-15 as a decimal number
        EXPECT_EQ(h[3], 0u);
        EXPECT_EQ(h[6], 3u);
        EXPECT_EQ(h[7], 7u);
        EXPECT_EQ(c.link->ParseHeader(CChrArr(good.substr(0, good.size() - 1)), h), 0);
        EXPECT_EQ(c.link->ParseHeader(CChrArr(good + "0"), h), 0);
        std::string foreign = good;
        foreign[1] = 'X';
        EXPECT_EQ(c.link->ParseHeader(CChrArr(foreign), h), 0);
        // A value that needs a third hex digit makes the text one character
        // longer: it is not sent.
        SharpHeader big;
        big[9] = 0x100;
        EXPECT_EQ(c.link->FormatHeader(big).GetLength(), c.width + 1);
        EXPECT_EQ(c.link->SendHeader(1, big), 0);
    }
}

TEST_F(SharpTest, DataBlocksAndRecordSplitting) {
    CSharp457 link;
    uint32_t a = 9, b = 9;
    CChrArr rest;
    EXPECT_TRUE(CSharpLink::ParseDataBlock(CChrArr("00000101REC"), a, b, rest));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 1u);
    EXPECT_EQ(Text(rest), "REC");
    EXPECT_FALSE(CSharpLink::ParseDataBlock(CChrArr("00A00200X"), a, b, rest));
    EXPECT_EQ(a, 0xA0u);
    EXPECT_EQ(b, 2u);
    EXPECT_TRUE(CSharpLink::ParseDataBlock(CChrArr("0000010"), a, b, rest));
    EXPECT_EQ(a, 0u);
    EXPECT_TRUE(rest.IsEmpty());

    SharpHeader h;
    h[6] = 3;
    h[7] = 7;
    h[9] = 4;
    CChrArr key;
    std::vector<CChrArr> fields;
    const std::string record = "000001" "AAAAAAAAAAAAAA" "12345678";
    ASSERT_EQ(link.SplitRecord(CChrArr(record), h, key, fields), 1);
    EXPECT_EQ(Text(key), "000001");
    EXPECT_EQ(Text(fields[0]), "AAAAAAAAAAAAAA");
    EXPECT_TRUE(fields[1].IsEmpty());
    EXPECT_EQ(Text(fields[2]), "12345678");
    EXPECT_EQ(link.SplitRecord(CChrArr(record.substr(1)), h, key, fields), 0);
    EXPECT_TRUE(key.IsEmpty());

    // An empty record is not sent.
    EXPECT_EQ(link.SendDataBlocks(2, 0, 1, true, CChrArr()), 0);
}

TEST_F(SharpTest, TheLineIs7O1AtTheHostsBaud) {
    StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link, 19200);
    const auto requested = m_spy->Requested();
    ASSERT_FALSE(requested.empty());
    EXPECT_EQ(requested.back().baud, 19200);
    EXPECT_EQ(requested.back().dataBits, 7);
    EXPECT_EQ(requested.back().parity, 'O');
    EXPECT_EQ(requested.back().stopBits, 1);
    link.Close();

    // A port that is not there fails with its code.
    CSharp457 other;
    other.SetSerial(m_serial.get());
    EXPECT_EQ(other.Open(17, 9600), 0);
    EXPECT_NE(other.m_nError, 0);
}

TEST_F(SharpTest, ABreakEndsAPauseAndNothingMoreIsSent) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    orv::platform::SetTimeScale(1.0);   // a real 0.6 s pause
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        m_serial->Break();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Pause(0.6), 0);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    breaker.join();
    EXPECT_EQ(link.m_nError, -7);
    EXPECT_LT(ms, 300);
    orv::platform::SetTimeScale(0.02);

    // Broken off: a transfer sends nothing and keeps -7 (no event 6).
    SharpPluRow row = Goods(1, "A", 1.0);
    EXPECT_EQ(link.SendPLUs(&row, 1, 1), 0);
    EXPECT_EQ(link.m_nError, -7);
    EXPECT_EQ(emu.ReceivedCount(), 0u);
    EXPECT_TRUE(EventsOf(6).empty());
}

TEST_F(SharpTest, ABreakDuringAWriteStopsIt) {
    SharpEmulator& emu = StartDevice(kSharp457Traits);
    CSharp457 link;
    OpenLink(link);
    std::vector<SharpPluRow> rows;
    for (uint32_t i = 1; i <= 40; ++i) rows.push_back(Goods(i, "X", 1.0));
    std::thread breaker([&] {
        emu.WaitUntil([](const Bytes& b) { return CountByte(b, 0x0D) >= 6; }, 5000);   // a few data blocks
        m_serial->Break();
    });
    EXPECT_EQ(link.SendPLUs(rows.data(), 40, 1), 0);
    breaker.join();
    EXPECT_EQ(link.m_nError, -7);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(emu.HostBlocks().size(), 12u);
    EXPECT_TRUE(emu.File(kSharpPluFile).records.empty());   // no closing EOT: nothing written
}

}  // namespace
}  // namespace orv::test
