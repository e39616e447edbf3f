// CNcr against the NCR emulator on a pseudo-terminal: frames byte for byte,
// acknowledgements, the receive with its resynchronisation and NAKs, the
// status words, the job dialogues, the record texts and the list reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "comm/telepathy.h"
#include "drivers/ncr/cncr.h"
#include "fakes/recording_host.h"
#include "platform/clock.h"
#include "sim/ncr/ncr_emulator.h"
#include "util/cp1250.h"

namespace {

using orv::test::Bytes;
using orv::test::NcrEmulator;
using Spoil = NcrEmulator::Spoil;

constexpr int kPort = 7;

std::string Text(const CChrArr& a) { return a.ToString(); }

// Frames the host wrote: every EOT-started frame's data, in order.
std::vector<std::string> FramesIn(const Bytes& bytes) {
    std::vector<std::string> out;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] != 0x04 || bytes[i + 1] <= 0x2F) continue;
        const size_t n = bytes[i + 1] - 0x2FU;
        if (i + n + 7 > bytes.size()) break;
        out.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(i + 4),
                         bytes.begin() + static_cast<std::ptrdiff_t>(i + 4 + n));
        i += n + 6;
    }
    return out;
}

NcrPlu Plu(const char* code, double price, uint32_t dept, const char* name) {
    NcrPlu p;
    std::strncpy(p.code, code, sizeof p.code - 1);
    std::strncpy(p.name, name, sizeof p.name - 1);
    p.price = price;
    p.department = dept;
    return p;
}

class NcrProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.05);
        orv::test::Host().Reset();
        m_emu.Start();
        m_serial.SetCallback(&orv::test::RecordingHost::OnProgress);
        m_proto.SetSerial(&m_serial);
        ASSERT_EQ(m_proto.Open(kPort, 9600), 1) << m_proto.m_nError;
    }
    void TearDown() override {
        m_proto.ClosePort();
        m_emu.Stop();
        orv::platform::SetTimeScale(1.0);
    }
    // Waits (real time) until at least n bytes are waiting on the host's side.
    bool WaitInput(int n) {
        for (int i = 0; i < 400; ++i) {
            if (m_serial.GetInputCount(kPort) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // After a failed read the register may still send the block it had
    // ready: it is let in and dropped before the next case.
    void DropLeftovers() {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_serial.FlushInput(kPort);
    }
    // Asks the register for its status frame and receives it.
    CChrArr Status() {
        EXPECT_EQ(m_proto.WriteByte(CNcr::DLE), 1);
        return m_proto.ReceiveFrame(0);
    }

    NcrEmulator m_emu{kPort};
    CTelepathy m_serial;
    CNcr m_proto;
};

// ---------------------------------------------------------------- frames

TEST_F(NcrProtocol, FramesByteForByte) {
    EXPECT_EQ(CNcr::CalcCheckChar(CChrArr()), 40);
    EXPECT_EQ(CNcr::BuildFrame(0, 0, CChrArr()).bytes(), (Bytes{0x04, 0x2F, 0x00, 0x20, 0x02, 0x31, 0x03}));
    const Bytes start = {0x04, 0x37, 0x00, 0x20, 0x30, 0x3B, 0x23, 0x50, 0x3B, 0x23, 0x48, 0x3B, 0x02, 0x2A, 0x03};
    EXPECT_EQ(CNcr::BuildFrame(0, 0, CChrArr("0;#P;#H;")).bytes(), start);

    // The same frame on the line, acknowledged.
    m_proto.SetLastSequence(0);
    ASSERT_EQ(m_proto.Send(CChrArr("0;#P;#H;")), 1) << m_proto.m_nError;
    EXPECT_EQ(m_emu.Received(), start);
    ASSERT_TRUE(WaitInput(10));   // the register's "A01" is not wanted here
    m_serial.FlushInput(kPort);

    // The next request carries the sequence character of the last good reply.
    ASSERT_FALSE(Status().IsEmpty()) << m_proto.m_nError;
    const uint8_t seq = m_proto.LastSequence();
    EXPECT_GE(seq, '0');
    EXPECT_LE(seq, '9');
    m_emu.ClearReceived();
    ASSERT_EQ(m_proto.Send(CChrArr("0;#P;#H;")), 1);
    const Bytes sent = m_emu.Received();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[2], seq);
    EXPECT_EQ(m_emu.SequenceErrors(), 0);
}

TEST_F(NcrProtocol, SendCountsNaksAndRefusesOtherAnswers) {
    struct Case {
        int naks;
        uint8_t other;        // 0: none
        bool silent;
        int result;
        int error;
        size_t writes;
    } cases[] = {
        {4, 0, false, 1, 0, 5},                  // the fifth write is taken
        {5, 0, false, 0, NCR_ERR_BAD_REPLY, 5},  // five NAKs: no sixth write
        {0, '?', false, 0, NCR_ERR_BAD_REPLY, 1},
        {0, 0, true, 0, -5, 1},                  // no answer at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writes);
        m_emu.ClearReceived();
        m_emu.NakFrames(c.naks);
        if (c.other) m_emu.AnswerFramesWith(c.other, 1);
        m_emu.SetSilent(c.silent);
        EXPECT_EQ(m_proto.Send(CChrArr("*")), c.result);
        EXPECT_EQ(m_proto.m_nError, c.error);
        EXPECT_EQ(FramesIn(m_emu.Received()).size(), c.writes);
        m_emu.SetSilent(false);
    }
}

// --------------------------------------------------------------- receive

TEST_F(NcrProtocol, SpoiltRepliesAreRefusedWithNakAndReadAgain) {
    struct Case {
        Spoil how;
        int times;
        bool ok;
        int error;
        int naks;
    } cases[] = {
        {Spoil::BadCheck, 2, true, 0, 2},
        {Spoil::BadCheck, 3, false, NCR_ERR_CHECK, 2},     // three reads, no NAK after the last
        {Spoil::FirstByte, 1, true, 0, 1},                 // 1005, NAK, the good frame
        {Spoil::FirstByte, 3, false, NCR_ERR_NOT_EOT, 2},
        {Spoil::Short, 1, true, 0, 1},                     // half a frame: NAK after the frame's second
        {Spoil::OtherJob, 1, false, NCR_ERR_OTHER_JOB, 0}, // a good frame of another job: no NAK
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.how) * 10 + c.times);
        m_emu.SpoilFrames(c.how, c.times);
        // A frame without its EOT that is already waiting when the read
        // begins is dropped as noise: these come once the read waits.
        if (c.how == Spoil::FirstByte)
            for (int i = 0; i < c.times; ++i) m_emu.QueueFault(NcrEmulator::Fault::Delay, 150);
        const int naksBefore = m_emu.NaksReceived();
        const CChrArr data = Status();
        EXPECT_EQ(!data.IsEmpty(), c.ok);
        EXPECT_EQ(m_proto.m_nError, c.error);
        if (c.ok) {
            EXPECT_EQ(Text(data).substr(0, 4), "A01:");
        }
        EXPECT_EQ(m_emu.NaksReceived() - naksBefore, c.naks);
        m_serial.FlushInput(kPort);
    }
}

TEST_F(NcrProtocol, NoiseBeforeTheReplyIsDropped) {
    m_emu.SpoilFrames(Spoil::NoiseBefore, 1);
    ASSERT_EQ(m_proto.WriteByte(CNcr::DLE), 1);
    ASSERT_TRUE(WaitInput(6 + 57));
    const CChrArr data = m_proto.ReceiveFrame(0);
    EXPECT_EQ(data.GetLength(), 50) << m_proto.m_nError;
    EXPECT_EQ(m_emu.NaksReceived(), 0);

    // A length character not above 0x2F is refused with NAK while tries remain.
    m_emu.SetSilent(true);
    m_emu.Send(Bytes{0x04, 0x2F, 0x30, 0x20, 0x02, 0x31, 0x03});
    ASSERT_TRUE(WaitInput(7));
    EXPECT_TRUE(m_proto.ReceiveFrame(0).IsEmpty());
    EXPECT_EQ(m_proto.m_nError, -5);   // the frame was refused, then nothing came
    const Bytes got = m_emu.Received();
    EXPECT_EQ(std::count(got.begin(), got.end(), CNcr::NAK), 1);
}

TEST_F(NcrProtocol, SilenceEndsTheReceiveWithTimeOut) {
    m_emu.SetSilent(true);
    const int64_t t0 = orv::platform::MonotonicMillis();
    EXPECT_TRUE(Status().IsEmpty());
    EXPECT_EQ(m_proto.m_nError, -5);
    // Three reads of 10 s (scaled): no NAK is sent for a time-out.
    EXPECT_LT(orv::platform::MonotonicMillis() - t0, 5000);
    const Bytes got = m_emu.Received();
    EXPECT_EQ(got, Bytes{CNcr::DLE});
}

// ------------------------------------------------------------ reply texts

TEST(NcrReplies, ShapesOfReplies) {
    struct Case {
        const char* reply;
        bool ok;
        const char* status;
        const char* block;
        const char* counter;
        const char* data;
    } cases[] = {
        {"A01", true, "A01", "", "", ""},
        {"B80:anything", true, "B80", "", "", ""},
        {"C0", false, "", "", "", ""},
        {"ABCD", false, "", "", "", ""},
        {"AB:CD", false, "", "", "", ""},
        {"C08:000A:07:X", false, "", "", "", ""},          // 13 bytes
        {"C08:000A:07:XYZ", false, "", "", "", ""},        // 15 bytes
        {"C08:00aF:07::0:1", true, "C08", "00aF", "07", ""},
        {"C08:0001:01:590:1250:3:AB:0:A:0:0", true, "C08", "0001", "01", "590:1250:3:AB:0:A"},
        {"C08:00G1:01:data:0:0", false, "", "", "", ""},   // not hexadecimal
        {"C08:0001:1x:data:0:0", false, "", "", "", ""},
        {"C08:0001:01:data:x:0", false, "", "", "", ""},   // flags are digits
        {"C08:0001:01:data:0;0", false, "", "", "", ""},
        {"C08;0001:01:data:0:0", false, "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        NcrReply r;
        ASSERT_EQ(CNcr::ParseReply(CChrArr(c.reply), r), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(Text(r.status), c.status);
        EXPECT_EQ(Text(r.block), c.block);
        EXPECT_EQ(Text(r.counter), c.counter);
        EXPECT_EQ(Text(r.data), c.data);
    }

    const std::string good = "A01:64:128:192:NCR 7450  :0001:0000000000000000000";
    ASSERT_EQ(good.size(), 50u);
    NcrStatus s;
    ASSERT_TRUE(CNcr::ParseStatusReply(CChrArr(good.c_str()), s));
    EXPECT_EQ(s.words[0], 64u);
    EXPECT_EQ(s.words[1], 128u);
    EXPECT_EQ(s.words[2], 192u);
    const std::string bad[] = {
        good.substr(0, 49),
        "A01:6x:128:192:NCR 7450  :0001:0000000000000000000",
        "A01:64:128:192:NCR 7450 :0001:00000000000000000000",   // text of 9
        "A02:64:128:192:NCR 7450  :0001:0000000000000000000",
        "A01:64:128:192:NCR 7450  :0001:000000000:000000000",   // a field too many
        "A01::128:192:NCR 7450  :0001:00000000000000000000",
    };
    for (const std::string& b : bad) EXPECT_FALSE(CNcr::ParseStatusReply(CChrArr(b.c_str()), s)) << b;
}

TEST(NcrReplies, GoodsAndSaleBlocks) {
    NcrPlu plu;
    ASSERT_TRUE(CNcr::ParsePluData(CChrArr("590123412345:1250:3:\x8D\x9D" "ABC       :0:A"), plu));
    EXPECT_STREQ(plu.code, "590123412345");
    EXPECT_DOUBLE_EQ(plu.price, 12.5);
    EXPECT_EQ(plu.department, 3u);
    EXPECT_STREQ(plu.name, PL("ŹŁABC"));   // CP852 back to CP1250, trailing blanks cut
    EXPECT_EQ(plu.vatGroup, 1u);
    const char* badPlu[] = {
        ":1250:3:N:0:A",   "1234567890123:1250:3:N:0:A", "1:12a0:3:N:0:A", "1:1234567890:3:N:0:A",
        "1:1:100:N:0:A",   "1:1:x:N:0:A",                "1:1:3::0:A",     "1:1:3:ABCDEFGHIJKLM:0:A",
        "1:1:3:N::A",      "1:1:3:N:0:",                 "1:1:3:N:0",      "1:1:3:N:0:A:B",
    };
    for (const char* b : badPlu) EXPECT_FALSE(CNcr::ParsePluData(CChrArr(b), plu)) << b;

    NcrSale sale;
    ASSERT_TRUE(CNcr::ParseSaleData(CChrArr("590123412345:1,500:375:0"), sale));
    EXPECT_STREQ(sale.code, "590123412345");
    EXPECT_DOUBLE_EQ(sale.quantity, 1.5);
    EXPECT_DOUBLE_EQ(sale.value, 3.75);
    ASSERT_TRUE(CNcr::ParseSaleData(CChrArr("7:-2:-1000:X"), sale));
    EXPECT_DOUBLE_EQ(sale.quantity, -2.0);
    EXPECT_DOUBLE_EQ(sale.value, -10.0);
    ASSERT_TRUE(CNcr::ParseSaleData(CChrArr("7:0.25:5:1"), sale));
    EXPECT_DOUBLE_EQ(sale.quantity, 0.25);
    const char* badSale[] = {":1:1:0", "7::1:0", "7:1::0", "7:1:1:", "7:1:1:00", "7:1,5,0:1:0",
                             "7:1:1.5:0", "7:1a:1:0", "7:-:1:0", "7:1:1", "7:1:1:0:0"};
    for (const char* b : badSale) EXPECT_FALSE(CNcr::ParseSaleData(CChrArr(b), sale)) << b;
}

// ------------------------------------------------------------ status words

TEST_F(NcrProtocol, StatusWordsDecideTheStart) {
    struct Case {
        uint32_t first, second, third;
        int result;
        int error;
    } cases[] = {
        {64, 128, 128, 1, 0},
        {64, 128, 192, 1, 0},
        {64, 128, 129, 0, 14},    // bit 0 of the third word
        {64, 128, 64, 0, 20},     // bit 6
        {64, 128, 130, 0, 15},
        {64, 128, 0, 0, NCR_ERR_BAD_REPLY},      // no bit names the fault
        {64, 128, 256, 0, NCR_ERR_BAD_REPLY},
        {64, 129, 128, 0, 6},     // bit 0 of the second word, and stop
        {64, 160, 128, 0, 11},    // bit 5
        {64, 64, 128, 0, NCR_ERR_BAD_REPLY},
        {0, 136, 128, 0, 9},      // bit 3 of the second word, first word without 0x40
        {64, 136, 128, 1, 0},     // bit 3 with 0x40: the transfer goes on
        {0, 128, 128, 0, NCR_ERR_BAD_REPLY},     // first word without 0x40
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + "/" + std::to_string(c.second) + "/" + std::to_string(c.third));
        m_emu.SetStatusWords(c.first, c.second, c.third);
        m_emu.ClearRequests();
        EXPECT_EQ(m_proto.PrepareTransfer(0, 0), c.result);
        EXPECT_EQ(m_proto.m_nError, c.error);
        // A refusal sends no start.
        EXPECT_EQ(m_emu.CountRequests("0;#P;#H;"), c.result);
    }
    EXPECT_EQ(m_emu.SequenceErrors(), 0);
}

TEST_F(NcrProtocol, StartWaitsThroughBusyRepliesAndTheNextStepQuestion) {
    m_emu.SetBusyReplies(3);
    ASSERT_EQ(m_proto.PrepareTransfer(0, 0), 1) << m_proto.m_nError;
    EXPECT_EQ(m_emu.Requests(), (std::vector<std::string>{"0;#P;#H;"}));

    // "B90" is answered with "XXXX:XX;#H;" and DLE; the status that follows
    // ends the wait.
    m_emu.SetBusyReplies(0);
    m_emu.SetAskNextStep(true);
    m_emu.ClearRequests();
    ASSERT_EQ(m_proto.PrepareTransfer(0, 0), 1) << m_proto.m_nError;
    EXPECT_EQ(m_emu.Requests(), (std::vector<std::string>{"0;#P;#H;", "XXXX:XX;#H;"}));
    EXPECT_EQ(m_emu.DleReceived(), 3);
    // With the stop flag the wait ends at the DLE.
    ASSERT_EQ(m_proto.PrepareTransfer(0, 1), 1) << m_proto.m_nError;
    for (int i = 0; i < 400 && m_emu.DleReceived() < 5; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(m_emu.DleReceived(), 5);

    // An unexpected status, and a register that never answers DLE.
    m_emu.SetAskNextStep(false);
    m_emu.InjectReply("0;#P;#H;", "X12");
    EXPECT_EQ(m_proto.PrepareTransfer(0, 0), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    m_emu.SetStatusText("A01:64:128:128");
    EXPECT_EQ(m_proto.PrepareTransfer(0, 0), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    m_emu.SetSilent(true);
    EXPECT_EQ(m_proto.PrepareTransfer(0, 0), 0);
    EXPECT_EQ(m_proto.m_nError, -5);
    EXPECT_EQ(m_emu.SequenceErrors(), 0);
}

// A register that has not answered the DLE by the end of the status polls
// may still answer it: the line is left to go quiet before the next request,
// and the same after a break during the polls.
TEST_F(NcrProtocol, StatusPollsGivenUpLeaveTheLineUnsettled) {
    orv::platform::SetTimeScale(0.01);
    m_emu.SetSilent(true);
    EXPECT_EQ(m_proto.PrepareTransfer(0, 0), 0);
    EXPECT_EQ(m_proto.m_nError, -5);
    EXPECT_TRUE(m_serial.IsUnsettled(kPort));
}

TEST_F(NcrProtocol, JobEndGivesUpAfterThreeEmptyReplies) {
    orv::platform::SetTimeScale(0.01);
    // A reply for another job counts as empty; so does silence after it.
    m_emu.SpoilFrames(Spoil::OtherJob, 1);
    ASSERT_EQ(m_proto.WriteByte(CNcr::DLE), 1);
    const int64_t t0 = orv::platform::MonotonicMillis();
    EXPECT_EQ(m_proto.WaitJobEnd(0, 0), 0);
    EXPECT_EQ(m_proto.m_nError, -5);   // the last receive's code
    EXPECT_LT(orv::platform::MonotonicMillis() - t0, 5000);
    // Nothing was acknowledged: every empty reply was only read.
    const Bytes got = m_emu.Received();
    EXPECT_EQ(got, Bytes{CNcr::DLE});
}

// ------------------------------------------------------------ record texts

TEST_F(NcrProtocol, GoodsAndDepartmentTexts) {
    CChrArr text;
    ASSERT_EQ(m_proto.BuildPluText(Plu("5901234123457", 12.5, 3, PL("Żółw")), text), 1);
    // Ż ó ł w in CP852, padded to 12.
    EXPECT_EQ(Text(text), std::string("590123412345:1250:3:\xBD\xA2\x88w        :0:0:0:9:0:0:0"));
    ASSERT_EQ(m_proto.BuildPluText(Plu("  12:3\x01  ", 9999999.99, 99, "a:b\tc0123456789"), text), 1);
    EXPECT_EQ(Text(text), "12 3:999999999:99:a b c0123456:0:0:0:9:0:0:0");
    EXPECT_EQ(m_proto.BuildPluText(Plu(" 0.29", 0.29, 1, ""), text), 1);
    EXPECT_EQ(Text(text), "0.29:29:1:            :0:0:0:9:0:0:0");

    NcrDept dept;
    dept.number = 3;
    std::strncpy(dept.name, PL("Napoje ąę długie"), sizeof dept.name - 1);
    dept.price = 12.5;
    ASSERT_EQ(m_proto.BuildDeptText(dept, text), 1);
    EXPECT_EQ(Text(text), std::string("3:Napoje \xA5\xA9::0:0:01250::1:0:0:0:0:0:0"));
}

TEST_F(NcrProtocol, RangesAreRefusedBeforeAnyTraffic) {
    struct Case {
        const char* code;
        double price;
        uint32_t dept;
        int error;
    } cases[] = {
        {"", 1.0, 1, NCR_ERR_EMPTY_CODE},
        {"    ", 1.0, 1, NCR_ERR_EMPTY_CODE},
        {"59012341234570", 1.0, 1, NCR_ERR_EMPTY_CODE},   // 14 characters
        {"1", -0.01, 1, NCR_ERR_PRICE},
        {"1", std::numeric_limits<double>::quiet_NaN(), 1, NCR_ERR_PRICE},
        {"1", 10000000.0, 1, NCR_ERR_PRICE},
        {"1", std::numeric_limits<double>::infinity(), 1, NCR_ERR_PRICE},
        {"1", 1.0, 0, NCR_ERR_DEPT},
        {"1", 1.0, 100, NCR_ERR_DEPT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code + std::to_string(c.dept));
        EXPECT_EQ(m_proto.ProgramPlu(Plu(c.code, c.price, c.dept, "N")), 0);
        EXPECT_EQ(m_proto.m_nError, c.error);
    }
    NcrDept dept;
    for (uint32_t n : {0u, 100u}) {
        dept.number = n;
        EXPECT_EQ(m_proto.ProgramDept(dept), 0);
        EXPECT_EQ(m_proto.m_nError, NCR_ERR_DEPT);
    }
    dept.number = 1;
    dept.price = 10000000.0;
    EXPECT_EQ(m_proto.ProgramDept(dept), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_PRICE);
    EXPECT_TRUE(m_emu.Received().empty());
}

// ----------------------------------------------------------- programming

TEST_F(NcrProtocol, ProgramGoodsAndDepartments) {
    m_emu.SetContinues(2);
    ASSERT_EQ(m_proto.ProgramPlu(Plu("5901234123457", 2.99, 4, PL("Mleko łaciate"))), 1) << m_proto.m_nError;
    auto plu = m_emu.FindPlu("590123412345");
    ASSERT_TRUE(plu.has_value());
    EXPECT_EQ(plu->price, "299");
    EXPECT_EQ(plu->dept, "4");
    EXPECT_EQ(plu->name, "Mleko \x88" "aciat");
    EXPECT_EQ(m_emu.Requests(), (std::vector<std::string>{"0;#P;#H;", "0;*2;+4;*G;+1;*3", "0;", "0;",
                                                          plu->text, "*"}));

    NcrDept dept;
    dept.number = 7;
    std::strcpy(dept.name, "Pieczywo");
    dept.price = 0.0;
    m_emu.ClearRequests();
    ASSERT_EQ(m_proto.ProgramDept(dept), 1) << m_proto.m_nError;
    EXPECT_EQ(m_emu.Departments(), (std::vector<std::string>{"7:Pieczywo :" ":0:0:00::1:0:0:0:0:0:0"}));
    EXPECT_EQ(m_emu.Requests().front(), "0;#P;#H;");
    EXPECT_EQ(m_emu.Requests().back(), "*");
    EXPECT_EQ(m_emu.SequenceErrors(), 0);

    // A department refused at the status check is not sent.
    m_emu.SetStatusWords(64, 129, 128);
    m_emu.ClearRequests();
    EXPECT_EQ(m_proto.ProgramDept(dept), 0);
    EXPECT_EQ(m_proto.m_nError, 6);
    EXPECT_TRUE(m_emu.Requests().empty());
}

TEST_F(NcrProtocol, EndlessContinueRequestsAreBounded) {
    m_emu.SetContinues(-1);
    EXPECT_EQ(m_proto.ProgramPlu(Plu("1", 1.0, 1, "N")), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    EXPECT_EQ(m_emu.CountRequests("0;"), CNcr::kMaxContinues);
    EXPECT_FALSE(m_emu.FindPlu("1").has_value());

    m_emu.ClearRequests();
    EXPECT_EQ(m_proto.ReadSales(nullptr), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    EXPECT_EQ(m_emu.CountRequests("0;"), CNcr::kMaxContinues);

    m_emu.ClearRequests();
    EXPECT_EQ(m_proto.ReadAllPlu(nullptr), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    EXPECT_EQ(m_emu.CountRequests("0"), CNcr::kListTries);

    // An unexpected reply to the goods command.
    m_emu.SetContinues(0);
    m_emu.InjectReply("0;*2;+4;*G;+1;*3", "B80");
    EXPECT_EQ(m_proto.ProgramPlu(Plu("1", 1.0, 1, "N")), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
}

// ------------------------------------------------------------------ lists

TEST_F(NcrProtocol, GoodsListWithRepeatsAndPolishNames) {
    std::vector<NcrPlu> got;
    auto sink = [&](const NcrPlu& p) { got.push_back(p); };
    // An empty list: "*" at once.
    ASSERT_EQ(m_proto.ReadAllPlu(sink), 1) << m_proto.m_nError;
    EXPECT_TRUE(got.empty());

    m_emu.AddPlu("590123412345", 1250, 3, "\x9D\xA5" "czka");   // "Łączka" in CP852
    m_emu.AddPlu("2", 1, 99, "B");
    m_emu.AddPlu("3", 999999999, 1, "ABCDEFGHIJKL");
    m_emu.RepeatBlock(0);   // block 0000/00 twice: handed on once
    m_emu.RepeatBlock(2);
    m_emu.SetContinues(1);
    ASSERT_EQ(m_proto.ReadAllPlu(sink), 1) << m_proto.m_nError;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_STREQ(got[0].code, "590123412345");
    EXPECT_STREQ(got[0].name, PL("Łączka"));
    EXPECT_DOUBLE_EQ(got[0].price, 12.5);
    EXPECT_EQ(got[0].department, 3u);
    EXPECT_DOUBLE_EQ(got[1].price, 0.01);
    EXPECT_DOUBLE_EQ(got[2].price, 9999999.99);
    EXPECT_STREQ(got[2].name, "ABCDEFGHIJKL");
    EXPECT_EQ(m_emu.CountRequests("0"), 1);
    EXPECT_EQ(m_emu.SequenceErrors(), 0);
}

TEST_F(NcrProtocol, GoodsListFailures) {
    for (int i = 1; i <= 5; ++i) m_emu.AddPlu(std::to_string(i), 100, 1, "A");
    int count = 0;
    auto sink = [&](const NcrPlu&) { ++count; };

    // Replies that do not parse lower the try counter; the third fails.
    for (int i = 0; i < 3; ++i) m_emu.SetBlockReply(i, "C08:0001:01:X");
    EXPECT_EQ(m_proto.ReadAllPlu(sink), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    EXPECT_EQ(count, 0);

    // Two in a row are survived, and a good block sets the counter back.
    DropLeftovers();
    m_emu.ClearBlockFaults();
    for (int i : {0, 1, 3, 4}) m_emu.SetBlockReply(i, "C08:0001:01:X");
    EXPECT_EQ(m_proto.ReadAllPlu(sink), 1) << m_proto.m_nError;
    EXPECT_EQ(count, 1);
    count = 0;

    // A goods block that breaks the record's rules fails the read.
    m_emu.ClearBlockFaults();
    m_emu.SetBlockData(1, "2:2x0:1:B:0:A");
    EXPECT_EQ(m_proto.ReadAllPlu(sink), 0);
    EXPECT_EQ(m_proto.m_nError, NCR_ERR_BAD_REPLY);
    EXPECT_EQ(count, 1);
    m_emu.ClearBlockFaults();
    DropLeftovers();

    // Silence keeps the time-out.
    m_emu.SetSilent(true);
    EXPECT_EQ(m_proto.ReadAllPlu(sink), 0);
    EXPECT_EQ(m_proto.m_nError, -5);
}

TEST_F(NcrProtocol, SaleLines) {
    m_emu.AddSale("590123412345", "1,500", "375");
    m_emu.AddSale("2", "-1", "-250");
    m_emu.RepeatBlock(1);
    m_emu.SetContinues(2);
    std::vector<NcrSale> got;
    ASSERT_EQ(m_proto.ReadSales([&](const NcrSale& s) { got.push_back(s); }), 1) << m_proto.m_nError;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_STREQ(got[0].code, "590123412345");
    EXPECT_DOUBLE_EQ(got[0].quantity, 1.5);
    EXPECT_DOUBLE_EQ(got[0].value, 3.75);
    EXPECT_DOUBLE_EQ(got[1].quantity, -1.0);
    EXPECT_DOUBLE_EQ(got[1].value, -2.5);
    EXPECT_EQ(m_emu.CountRequests("0;"), 2);
    EXPECT_EQ(m_emu.CountRequests("0;*2;+2;*B1:10;#H;*3;"), 1);
    EXPECT_EQ(m_emu.SequenceErrors(), 0);
}

TEST_F(NcrProtocol, FixedAnswersAndErrorTexts) {
    double rates[8] = {0};
    ASSERT_EQ(m_proto.ReadVat(rates), 1);
    const double want[8] = {22.0, 7.0, 0.0, -3.0, -3.0, -3.0, -3.0, -3.0};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(rates[i], want[i]);
    NcrPlu plu;
    EXPECT_EQ(m_proto.ReadPlu(plu), 0);
    EXPECT_EQ(m_proto.m_nError, 25);
    EXPECT_EQ(m_proto.DeletePlu(plu), 0);
    EXPECT_EQ(m_proto.m_nError, 25);
    EXPECT_EQ(m_proto.ClearSales(), 0);
    EXPECT_EQ(m_proto.m_nError, 25);
    EXPECT_TRUE(m_emu.Received().empty());

    EXPECT_EQ(m_proto.GetErrorText(1), "<MARK> error");
    EXPECT_EQ(m_proto.GetErrorText(10), "<Not found the PLU>");
    EXPECT_EQ(m_proto.GetErrorText(14), "<Can not delete>");
    EXPECT_EQ(m_proto.GetErrorText(16), "<Be issuing X-report>");
    EXPECT_EQ(m_proto.GetErrorText(15), PL("Nieokreślony błąd"));
    EXPECT_EQ(m_proto.GetErrorText(20), PL("Przekroczony czas nadawania"));
    EXPECT_EQ(m_proto.GetErrorText(22), PL("Pod podanym skojarzeniem kasa o innym numerze"));
    EXPECT_EQ(m_proto.GetErrorText(25), PL("Rozkaz niedostępny w tej wersji programu kasy"));
    EXPECT_EQ(m_proto.GetErrorText(1000), PL("Nieokreślony błąd"));
    EXPECT_EQ(m_proto.GetErrorText(-5), m_serial.GetErrorText(-5));
}

}  // namespace
