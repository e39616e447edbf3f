// The DSA link against the emulator: frame bytes, sequence numbers, the
// reply reader's handling of junk, bad checksums, missing ETX, silence and
// "ERR" answers; the character set, record builders and error texts.
#include <algorithm>
#include <cstring>
#include <functional>

#include "comm/telepathy.h"
#include "drivers/dsa/cdsa100.h"
#include "drivers/dsa/cdsa4000.h"
#include "drivers/dsa/cdsa45b.h"
#include "drivers/dsa/cdsp500.h"
#include "drivers/common/error_table_b.h"
#include "dsa_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

Bytes HexBytes(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 2 <= hex.size(); i += 3) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes FirstFrame(const Bytes& received) {
    auto end = std::find(received.begin(), received.end(), 0x03);
    return Bytes(received.begin(), end == received.end() ? end : end + 1);
}

// ---------------------------------------------------------------- frames

struct FrameCase {
    DsaModel model;
    uint32_t seqBefore;   // the sequence number before the frame
    const char* command;
    const char* data;
    const char* hex;
};

TEST_F(DsaTest, RequestFramesAreByteExact) {
    const FrameCase cases[] = {
        {DsaModel::Dsa100M1, 0, "4065", "", "02 30 31 56 34 30 36 35 39 30 03"},
        {DsaModel::Dsa100M1, 99, "4066", "", "02 30 30 56 34 30 36 36 39 30 03"},
        {DsaModel::Dsa100M0, 41, "4201", "07", "02 34 32 56 34 32 30 31 30 37 39 30 03"},
        {DsaModel::Dsa100M0, 4, "2051", "010001", "02 30 35 56 32 30 35 31 30 31 30 30 30 31 37 37 03"},
        {DsaModel::Dsa100M0, 55, "4060", "0012000000150",
         "02 35 36 56 34 30 36 30 30 30 31 32 30 30 30 30 30 30 31 35 30 32 38 03"},
        // The DSP 500 puts its device number (01) after "V".
        {DsaModel::Dsp500, 12, "101", "0012345", "02 31 33 56 30 31 31 30 31 30 30 31 32 33 34 35 38 30 03"},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.hex);
        DsaEmulator& emu = StartDevice(c.model);
        std::unique_ptr<CDsaLink> link;
        if (c.model == DsaModel::Dsp500)
            link = std::make_unique<CDsp500>();
        else
            link = std::make_unique<CDsa100>();
        link->m_nModel = c.model == DsaModel::Dsa100M1 ? 1 : 0;
        OpenLink(*link);
        link->m_nSeq = c.seqBefore;
        EXPECT_EQ(link->SendFrame(CChrArr(c.command), CChrArr(c.data)), 1) << link->m_nError;
        ASSERT_TRUE(emu.WaitForCount(1, 2000));
        EXPECT_EQ(Hex(FirstFrame(emu.Received())), Hex(HexBytes(c.hex)));
        link->Close();
        StopDevice();
    }
}

TEST_F(DsaTest, SequenceWrapsAndFollowsTheReplies) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    CDsa100 dsa;
    dsa.m_nModel = 1;
    OpenLink(dsa);

    dsa.m_nSeq = 98;
    emu.SetSequence(10);
    ASSERT_EQ(dsa.CloseGoods(), 1) << dsa.m_nError;   // request 99, reply 10
    EXPECT_EQ(dsa.m_nSeq, 10u);
    emu.SetSequence(99);
    ASSERT_EQ(dsa.CloseGoods(), 1);                    // request 11, reply 99
    ASSERT_EQ(dsa.CloseGoods(), 1);                    // request 00
    auto req = emu.Requests();
    ASSERT_EQ(req.size(), 3u);
    EXPECT_EQ(req[0].seq, 99);
    EXPECT_EQ(req[1].seq, 11);
    EXPECT_EQ(req[2].seq, 0);
    EXPECT_TRUE(emu.WaitForAcks(3));   // every good reply was acknowledged
}

TEST_F(DsaTest, FirstSequenceNumberIsDrawnAtOpen) {
    StartDevice(DsaModel::Dsa100M0);
    CDsa100 a, b;
    CDsaLink::SeedSequence(99);
    OpenLink(a);
    a.Close();
    CDsaLink::SeedSequence(99);
    OpenLink(b);
    EXPECT_EQ(a.m_nSeq, b.m_nSeq);
    EXPECT_LT(a.m_nSeq, 100u);
}

// ---------------------------------------------------------------- reader

TEST_F(DsaTest, JunkBeforeTheReplyIsDropped) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    CDsa100 dsa;
    dsa.m_nModel = 1;
    OpenLink(dsa);
    emu.QueueFrameFault(DsaEmulator::FrameFault::Junk);
    EXPECT_EQ(dsa.CloseDepts(), 1) << dsa.m_nError;
    EXPECT_TRUE(emu.WaitForAcks(1));
}

struct ReaderFault {
    DsaEmulator::FrameFault fault;
    int code;
};

TEST_F(DsaTest, BadRepliesFailAfterTheRetriesWithTheirCode) {
    const ReaderFault cases[] = {
        {DsaEmulator::FrameFault::BadChecksum, 10000},
        {DsaEmulator::FrameFault::NoEtx, 10001},
        {DsaEmulator::FrameFault::NoReply, -5},
        {DsaEmulator::FrameFault::NoAck, -5},
    };
    for (const ReaderFault& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
        CDsa100 dsa;
        dsa.m_nModel = 1;
        OpenLink(dsa);
        emu.QueueFrameFault(c.fault);
        EXPECT_EQ(dsa.CloseGoods(), 0);
        EXPECT_EQ(dsa.m_nError, c.code);
        EXPECT_EQ(emu.AcksReceived(), 0);   // a bad frame is never acknowledged
        EXPECT_EQ(emu.Requests().size(), 1u);   // and the request is not repeated
        dsa.Close();
        StopDevice();
    }
}

// Where the PC gives up on an answer the register may still send (it was
// not acknowledged), the line is left unsettled: the next request first
// waits for a quiet line.
TEST_F(DsaTest, GivingUpOnAnAnswerUnsettlesTheLine) {
    struct Case {
        const char* what;
        char kind;                                   // what the register's answer replaces
        std::function<Bytes(const Bytes&)> answer;   // in place of it
        int code;
    } cases[] = {
        {"a stray byte in place of the ACK", 'A', [](const Bytes&) { return Bytes{0x15}; }, 9999},
        {"five frames with a bad checksum", 'F',
         [](const Bytes& frame) {
             Bytes bad = frame;
             bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
             Bytes five;
             for (int i = 0; i < 5; ++i) five.insert(five.end(), bad.begin(), bad.end());
             return five;
         },
         10000},
        {"the reply to another command", 'F',
         [](const Bytes& frame) {
             // STX, sequence 2, a byte, "4066" "00", checksum 2, ETX: "4066" becomes "4065".
             Bytes other = frame;
             other[7] = '5';
             unsigned sum = 0;
             for (size_t i = 1; i + 3 < other.size(); ++i) sum += other[i];
             other[other.size() - 3] = static_cast<uint8_t>('0' + sum % 100 / 10);
             other[other.size() - 2] = static_cast<uint8_t>('0' + sum % 10);
             return other;
         },
         9999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
        emu.SetMangler([&c](char kind, const Bytes& bytes) {
            if (kind != c.kind) return std::vector<DsaEmulator::Piece>{{0, bytes}};
            return std::vector<DsaEmulator::Piece>{{0, c.answer(bytes)}};
        });
        CDsa100 dsa;
        dsa.m_nModel = 1;
        OpenLink(dsa);
        EXPECT_EQ(dsa.CloseGoods(), 0);
        EXPECT_EQ(dsa.m_nError, c.code);
        EXPECT_TRUE(m_serial->IsUnsettled(kDsaPort));
        dsa.Close();
        StopDevice();
    }
}

TEST_F(DsaTest, BadChecksumWaitsOutTheRetryCount) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    CDsa100 dsa;
    dsa.m_nModel = 1;
    OpenLink(dsa);
    emu.QueueFrameFault(DsaEmulator::FrameFault::BadChecksum);
    const int64_t start = orv::platform::MonotonicMillis();
    EXPECT_EQ(dsa.CloseGoods(), 0);
    const int64_t took = orv::platform::MonotonicMillis() - start;
    EXPECT_EQ(dsa.m_nError, 10000);
    // Four further reads of at least 5 (scaled) seconds each.
    EXPECT_GE(took, orv::platform::ScaledMillis(4 * 5.0));
}

TEST_F(DsaTest, FirstReplyByteIsAwaitedLong) {
    struct Case {
        int delayMs;   // real time; 10 ms is one second of library time here
        int result;
        int code;
    } cases[] = {
        {300, 1, 0},    // 30 s: within the first wait of 50 s
        {1000, 0, -5},  // 100 s: past 50 s and four more waits of 5 s
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayMs);
        DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
        CDsa100 dsa;
        dsa.m_nModel = 1;
        OpenLink(dsa);
        emu.SetAnswerDelay(c.delayMs);
        EXPECT_EQ(dsa.CloseGoods(), c.result);
        EXPECT_EQ(dsa.m_nError, c.code);
        dsa.Close();
        StopDevice();
    }
}

TEST_F(DsaTest, ErrAnswerIsAcknowledgedReportedAndPaused) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa100M1);
    CDsa100 dsa;
    dsa.m_nModel = 1;
    OpenLink(dsa);
    emu.QueueErr("4066", 23);
    const int64_t start = orv::platform::MonotonicMillis();
    EXPECT_EQ(dsa.CloseGoods(), 0);
    const int64_t took = orv::platform::MonotonicMillis() - start;
    EXPECT_EQ(dsa.m_nError, 1023);
    EXPECT_EQ(emu.AcksReceived(), 1);
    auto ev = Host().EventsWithCode(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].text, PL("Teraz niemożliwe"));
    EXPECT_EQ(ev[0].value, 1023);
    EXPECT_GE(took, orv::platform::ScaledMillis(2.0));
    // The link goes on normally afterwards.
    EXPECT_EQ(dsa.CloseGoods(), 1);
}

TEST_F(DsaTest, ShortBodiesAreNotSent) {
    DsaEmulator& emu = StartDevice(DsaModel::Dsa45B);
    CDsa45B dsa;
    OpenLink(dsa);
    // A 45B body must be longer than 7 bytes ...
    EXPECT_EQ(dsa.SendFrame(CChrArr("4061"), CChrArr()), 0);
    EXPECT_EQ(dsa.m_nError, 9999);
    EXPECT_EQ(emu.ReceivedCount(), 0u);
    // ... but its closing commands go out without data.
    EXPECT_EQ(dsa.CloseDepts(), 1) << dsa.m_nError;
    EXPECT_EQ(dsa.CloseGoods(), 1);
    EXPECT_EQ(emu.Commands(), (std::vector<std::string>{"4061", "4062"}));
}

// ---------------------------------------------------------------- charset

TEST(DsaCharset, PolishLettersUseTheDeviceCode) {
    EXPECT_EQ(Cp(CDsaLink::Encode(CChrArr(PL("ą")))), "\x6B");
    EXPECT_EQ(Cp(CDsaLink::Encode(CChrArr(PL("Ą")))), "\x42");
    EXPECT_EQ(Cp(CDsaLink::Encode(CChrArr("B"))), "\x43");
    EXPECT_EQ(Cp(CDsaLink::Encode(CChrArr("\x7F"))), "\x91");
    // Digits, space and "A" are the same in both codes.
    EXPECT_EQ(Cp(CDsaLink::Encode(CChrArr("A 09"))), "A 09");
    const CChrArr letters(PL("ĄĆĘŁŃÓŚŹŻąćęłńóśźż"));
    CChrArr coded = CDsaLink::Encode(letters);
    for (int i = 0; i < coded.GetLength(); ++i) {
        EXPECT_GE(coded[i], 0x42);
        EXPECT_LE(coded[i], 0x91);
    }
    EXPECT_EQ(Cp(CDsaLink::Decode(coded)), Cp(letters));
    // The library's table agrees with the emulator's own, byte for byte.
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(Cp(CDsaLink::Encode(CChrArr(one))), DsaEmulator::DeviceText(one)) << b;
    }
    // Every byte of the device code decodes once, not twice.
    EXPECT_EQ(Cp(CDsaLink::Decode(CChrArr("\x43"))), "B");
}

// ---------------------------------------------------------------- builders

DsaPluRecord Plu(uint32_t number, const char* name, double price, uint32_t dept) {
    DsaPluRecord r;
    r.number = number;
    std::memcpy(r.name, name, std::min<size_t>(std::strlen(name), 16));   // cut to the field, unterminated
    r.price = price;
    r.dept = dept;
    return r;
}

TEST(DsaBuilders, PluRecordLayouts) {
    CDsa100 m0;
    CChrArr out;
    DsaPluRecord r = Plu(12, PL("Mąka"), 9999999.99, 3);
    r.flag = 1;
    r.quantity = 1.5;
    ASSERT_EQ(m0.BuildPluRecord(r, out), 1);
    const std::string name = Cp(CDsaLink::Encode(CChrArr(PL("Mąka            "))));
    EXPECT_EQ(name[1], '\x6B');
    EXPECT_EQ(Cp(out), "0012" + name + "999999999" + "03" + "1" + "0001500");

    CDsa100 m1;
    m1.m_nModel = 1;
    std::strcpy(r.barcode, " 590123 ");
    ASSERT_EQ(m1.BuildPluRecord(r, out), 1);
    EXPECT_EQ(out.GetLength(), 52);
    EXPECT_EQ(Cp(ChrRight(out, 13)), "590123       ");

    CDsa45B b;
    ASSERT_EQ(b.BuildPluRecord(r, out), 1);
    EXPECT_EQ(Cp(out), "00012" + name + "999999999" + "03" + "590123       ");

    // Names are cut to 16 bytes.
    DsaPluRecord longName = Plu(1, "ABCDEFGHIJKLMNOPQRST", 1.0, 1);
    ASSERT_EQ(m0.BuildPluRecord(longName, out), 1);
    EXPECT_EQ(Cp(ChrMid(out, 5, 16)), Cp(CDsaLink::Encode(CChrArr("ABCDEFGHIJKLMNOP"))));
}

struct RangeCase {
    const char* what;
    DsaPluRecord rec;
    int code;
};

TEST(DsaBuilders, PluRangeErrors) {
    DsaPluRecord tooMuchStock = Plu(1, "X", 1.0, 1);
    tooMuchStock.quantity = 10000.0;
    DsaPluRecord negativeStock = Plu(1, "X", 1.0, 1);
    negativeStock.quantity = -1.0;
    const RangeCase cases[] = {
        {"number 0", Plu(0, "X", 1.0, 1), 105},
        {"number above capacity", Plu(2731, "X", 1.0, 1), 105},
        {"price 1e7", Plu(1, "X", 1e7, 1), 109},
        {"negative price", Plu(1, "X", -0.01, 1), 109},
        {"department 0", Plu(1, "X", 1.0, 0), 110},
        {"department 21", Plu(1, "X", 1.0, 21), 110},
        {"stock too large", tooMuchStock, 9999},
        {"negative stock", negativeStock, 9999},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        CDsa100 dsa;
        CChrArr out("junk");
        EXPECT_EQ(dsa.BuildPluRecord(c.rec, out), 0);
        EXPECT_EQ(dsa.m_nError, c.code);
        EXPECT_TRUE(out.IsEmpty());
    }
    // The capacity and department count are the class's own.
    CDsa100 m1;
    m1.m_nModel = 1;
    CChrArr out;
    EXPECT_EQ(m1.BuildPluRecord(Plu(4500, "X", 1.0, 20), out), 1);
    CDsa4000 big;   // model 2: 13320 PLUs and 40 departments, 4-digit numbers
    EXPECT_EQ(big.BuildPluRecord(Plu(9999, "X", 1.0, 40), out), 1);
    EXPECT_EQ(big.BuildPluRecord(Plu(10000, "X", 1.0, 1), out), 0);
    EXPECT_EQ(big.m_nError, 105);
}

TEST(DsaBuilders, DepartmentRecord) {
    CDsa100 dsa;
    DsaDeptRecord d;
    d.number = 7;
    std::strcpy(d.name, "Pieczywo");
    d.amount = 12.34;
    d.flag = 1;
    d.taxGroup = 2;
    d.limit = 9999999.99;
    CChrArr out;
    ASSERT_EQ(dsa.BuildDeptRecord(d, out), 1);
    EXPECT_EQ(Cp(out), "07" + Cp(CDsaLink::Encode(CChrArr("Pieczywo        "))) + "000001234" + "1" + "02" + "999999999");

    struct Case {
        const char* what;
        void (*change)(DsaDeptRecord&);
        int code;
    } cases[] = {
        {"number 0", [](DsaDeptRecord& r) { r.number = 0; }, 110},
        {"number 21", [](DsaDeptRecord& r) { r.number = 21; }, 110},
        {"amount 1e7", [](DsaDeptRecord& r) { r.amount = 1e7; }, 109},
        {"negative amount", [](DsaDeptRecord& r) { r.amount = -1.0; }, 109},
        {"negative limit", [](DsaDeptRecord& r) { r.limit = -0.5; }, 109},
        {"tax group 0", [](DsaDeptRecord& r) { r.taxGroup = 0; }, 103},
        {"tax group 8", [](DsaDeptRecord& r) { r.taxGroup = 8; }, 103},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DsaDeptRecord r = d;
        c.change(r);
        EXPECT_EQ(dsa.BuildDeptRecord(r, out), 0);
        EXPECT_EQ(dsa.m_nError, c.code);
    }
    CDsa4000 big;
    d.number = 40;
    EXPECT_EQ(big.BuildDeptRecord(d, out), 1);
}

TEST(DsaBuilders, DeleteAndPriceChange) {
    CDsa100 m1;
    m1.m_nModel = 1;
    CChrArr out;
    ASSERT_EQ(m1.BuildDeleteRecord(4500, out), 1);
    EXPECT_EQ(Cp(out), "4500" + std::string(16, ' ') + "000000000" + "00" + "0" + "0000000" + "0000000000000");
    EXPECT_EQ(m1.BuildDeleteRecord(4501, out), 0);
    EXPECT_EQ(m1.m_nError, 105);

    // The price change checks the class's capacity, and hands back the
    // price that was sent.
    DsaPluRecord r = Plu(4000, "X", 1.234, 1);
    ASSERT_EQ(m1.BuildPriceChange(r, out), 1);
    EXPECT_EQ(Cp(out), "4000000000123");
    EXPECT_DOUBLE_EQ(r.price, 1.23);
    r.price = 1e7;
    EXPECT_EQ(m1.BuildPriceChange(r, out), 0);
    EXPECT_EQ(m1.m_nError, 109);
    CDsa45B b;
    r = Plu(3000, "X", 2.0, 1);
    ASSERT_EQ(b.BuildPriceChange(r, out), 1);
    EXPECT_EQ(Cp(out), "03000000000200");
}

// ---------------------------------------------------------------- texts

TEST(DsaErrorTexts, TablesAndLookupRule) {
    CDsa100 m0, m1;
    m1.m_nModel = 1;
    EXPECT_EQ(m1.GetErrorText(1023), PL("Teraz niemożliwe"));
    EXPECT_EQ(m0.GetErrorText(1023), PL("Niewykonalne"));
    EXPECT_EQ(m0.GetErrorText(22), PL("Teraz niemożliwe"));
    EXPECT_EQ(m1.GetErrorText(9998), "Data Nothing !?");
    for (int code : {7, 105, 202, 9999, 10000, -11, 1007, 1256})
        EXPECT_EQ(ErrorTextB(code), PL("Nieokreślony błąd")) << code;
    for (int code = -10; code <= -1; ++code) EXPECT_EQ(ErrorTextB(code), SerialErrorText(code)) << code;   // the line's own
    EXPECT_EQ(ErrorTextB(35), PL("Kwota od klienta jest mniejsza od sumy rachunku"));
    EXPECT_EQ(m1.ExistsError(), 1023);
    EXPECT_EQ(m0.ExistsError(), 1022);
    CDsp500 dsp;
    EXPECT_EQ(dsp.GetErrorText(25), PL("Próba przekroczenia limitu"));
}

}  // namespace
}  // namespace orv::test
