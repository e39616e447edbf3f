// The Tango link on a pseudo-terminal (time-scaled): checksums and frames,
// the handshake, the sending and receiving of frames with their repeats,
// busy answers and error status frames, and breaks in every wait.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "drivers/novitus/cprotokol_tango.h"
#include "comm/protocol/temp_dir.h"
#include "drivers/novitus/ctango.h"
#include "tango_fixture.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

const std::string kStatusRequest = "M0" + std::string(36, '0');

std::string Frame(char type, const std::string& body, uint8_t terminator = 0x03) {
    return TangoDevice::BuildFrame(type, body, terminator);
}

class TangoLinkTest : public TangoTest {
protected:
    void SetUp() override {
        TangoTest::SetUp();
        OpenLink(m_link);
        Dev().SetStatusText("KASA-01 OK");
    }
    void TearDown() override {
        m_link.Close();
        TangoTest::TearDown();
    }
    // One status request; its result.
    int Status() {
        std::string text;
        int r = m_link.ReadStatusText(text);
        if (r) {
            EXPECT_EQ(text, "KASA-01 OK");
        }
        return r;
    }
    int Count(uint8_t byte) const {
        int n = 0;
        for (uint8_t b : Settled()) n += b == byte;
        return n;
    }
    // What the PC sent, once the register has read its last bytes.
    Bytes Settled() const {
        size_t n = m_emu->ReceivedCount();
        for (int i = 0; i < 50; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const size_t now = m_emu->ReceivedCount();
            if (now == n) break;
            n = now;
        }
        return m_emu->Received();
    }

    CProtokolTango m_link;
};

TEST(TangoChecksum, WorkedValuesAndTheStatusRequestFrame) {
    EXPECT_EQ(CTangoLink::CalcChecksum(CChrArr("abc")), 0x0129);
    EXPECT_EQ(CTangoLink::CalcChecksum(CChrArr()), 0x0000);
    // The ninth byte is shifted by 8, the tenth by 0 again.
    EXPECT_EQ(CTangoLink::CalcChecksum(CChrArr("123456789A")), 0x2C28);
    const CChrArr frame = CTangoLink::BuildFrame('S', CChrArr(kStatusRequest), 0x03);
    EXPECT_EQ(frame.ToString(), "\x02S" + kStatusRequest + "\x03" "0011");
}

TEST_F(TangoLinkTest, StatusRequestTurnIsByteExact) {
    ASSERT_EQ(Status(), 1);
    // ENQ, the request frame, EOT, ACK to the register's ENQ, ACK to its
    // frame, EOT after its EOT.
    const std::string expected = "\x05" + Frame('S', kStatusRequest) + "\x04\x06\x06\x04";
    EXPECT_EQ(Hex(Settled()), Hex(B(expected)));
    EXPECT_EQ(Hex(m_emu->Sent()), Hex(B("\x06\x06\x05" + Frame('S', "MKASA-01 OK") + "\x04")));
}

TEST_F(TangoLinkTest, HandshakeAnswers) {
    // 14 busy answers: the fifteenth ENQ gets the line.
    Dev().QueueFault(TFault::EnqTab, 14);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Dev().EnqCount(), 15);

    // 15 busy answers: EOT both ways, 9999.
    Dev().ClearLog();
    Dev().QueueFault(TFault::EnqTab, 15);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    EXPECT_EQ(Dev().EnqCount(), 15);
    EXPECT_TRUE(m_link.FailedForWantOfAnswer());

    // "@" to the ENQ: EOT, 9999.
    Dev().ClearLog();
    m_emu->ClearReceived();
    Dev().QueueFault(TFault::EnqAt);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    EXPECT_EQ(Hex(Settled()), "05 04");
}

TEST_F(TangoLinkTest, SevenWrongAnswersToEnqGiveSevenNoticesThenEot) {
    Dev().QueueFault(TFault::EnqGarbage, 7);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    EXPECT_EQ(Dev().EnqCount(), 7);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 7);
    for (const HostEvent& e : Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR)) EXPECT_NE(e.value, 0);
    EXPECT_EQ(Settled().back(), 0x04);

    // Six, then the line: the seventh try succeeds.
    Host().Reset();
    Dev().ClearLog();
    Dev().QueueFault(TFault::EnqGarbage, 6);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 6);
}

TEST_F(TangoLinkTest, NakRepeatsTheFrameSevenTimes) {
    Dev().QueueFault(TFault::FrameNak, 7);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Dev().Frames().size(), 8u);   // eight writes of the request

    Dev().ClearLog();
    Dev().QueueFault(TFault::FrameNak, 8);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    EXPECT_EQ(Dev().Frames().size(), 8u);
}

TEST_F(TangoLinkTest, ErrorStatusFrameCodes) {
    struct Case {
        std::string head;
        int code;
    };
    const Case cases[] = {{"001A", 26}, {"0105", 261}, {"  1A", 26}, {"0000", 9999}, {"ZZZZ", 9999}};
    for (const Case& c : cases) {
        Dev().QueueFault(TFault::FrameAt, 1, 0, c.head + std::string(36, ' '));
        EXPECT_EQ(Status(), 0) << c.head;
        EXPECT_EQ(m_link.m_nError, c.code) << c.head;
        EXPECT_FALSE(m_link.FailedForWantOfAnswer());
        // The line is free again for the next request.
        EXPECT_EQ(Status(), 1) << c.head;
    }
    EXPECT_EQ(m_link.GetErrorText(261), PL("Niepoprawna nazwa towaru "));
}

TEST_F(TangoLinkTest, WrongAnswersToAFrame) {
    // A wrong byte and no ACK in the next 15: EOT both ways, 9999.
    Dev().QueueFault(TFault::FrameGarbage, 1, 3);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
    EXPECT_EQ(Status(), 1);
    // TAB as the last of the 15 extra bytes: EOT, 9999.
    Dev().QueueFault(TFault::FrameTabs, 1, 16);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9999);
}

TEST_F(TangoLinkTest, ReplyFrameRepairs) {
    // A bad checksum is answered with NAK; the repeat is taken.
    Dev().QueueFault(TFault::ReplyBadChecksum);
    EXPECT_EQ(Status(), 1);
    EXPECT_EQ(Dev().NakCount(), 1);
    // Lower-case checksum digits are read as the number they write.
    Dev().QueueFault(TFault::ReplyLowerCase);
    EXPECT_EQ(Status(), 1);
    // A frame that comes short is asked for again.
    Dev().QueueFault(TFault::ReplyShort, 1, 2);
    EXPECT_EQ(Status(), 1);
    // Garbage instead of the frame.
    Dev().QueueFault(TFault::ReplyGarbage, 1, 1);
    EXPECT_EQ(Status(), 1);
}

TEST_F(TangoLinkTest, EotInsteadOfTheFrame) {
    Dev().QueueFault(TFault::ReplyEot);
    m_emu->ClearReceived();
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, 9998);
    EXPECT_EQ(Settled().back(), 0x04);
    EXPECT_EQ(Status(), 1);
}

TEST_F(TangoLinkTest, BusyAnswersCostOneAttemptInFour) {
    struct Case {
        int tabs;
        int result;
    };
    for (const Case& c : {Case{3, 1}, Case{4, 1}, Case{27, 1}, Case{28, 0}}) {
        Dev().QueueFault(TFault::ReplyTabs, 1, c.tabs);
        EXPECT_EQ(Status(), c.result) << c.tabs;
        if (!c.result) {
            EXPECT_EQ(m_link.m_nError, 9999);
            Dev().ResetLine();
        }
    }
    // Two bad frames and 19 busy answers still fit the seven attempts.
    Dev().QueueFault(TFault::ReplyBadChecksum);
    Dev().QueueFault(TFault::ReplyTabs, 1, 19);
    EXPECT_EQ(Status(), 1);
}

TEST_F(TangoLinkTest, ThreeSilentReadsEndTheReceive) {
    FastClock();
    Dev().QueueFault(TFault::ReplySilence);
    m_emu->ClearReceived();
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, -5);
    EXPECT_TRUE(m_link.FailedForWantOfAnswer());
    EXPECT_EQ(Settled().back(), 0x04);
    // Three 10-second reads, and nothing sent between them.
    EXPECT_EQ(Count(0x15), 0);
}

TEST_F(TangoLinkTest, RegisterResetMidTurn) {
    FastClock();
    Dev().QueueFault(TFault::Reset);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, -5);
    EXPECT_EQ(Status(), 1);
}

TEST_F(TangoLinkTest, LongReceiveTakesAShortFrameWithEtb) {
    // Driven by hand: the register's frame is already on the line.
    const std::string body(70, 'x');
    m_emu->Send(Frame('D', body, 0x17));
    uint8_t terminator = 0;
    const CChrArr got = m_link.ReceiveFrameLong(70, 119, terminator);
    EXPECT_EQ(got.ToString(), body);
    EXPECT_EQ(terminator, 0x17);
    // A long one.
    const std::string longBody(119, 'y');
    m_emu->Send(Frame('D', longBody, 0x03));
    EXPECT_EQ(m_link.ReceiveFrameLong(70, 119, terminator).ToString(), longBody);
    EXPECT_EQ(terminator, 0x03);
    EXPECT_TRUE(m_emu->WaitForCount(2, 2000));
    EXPECT_EQ(Hex(Settled()), "06 06");
}

// A break in each wait of a turn ends it with -7 and nothing more is sent.
TEST_F(TangoLinkTest, BreakInEveryWait) {
    struct Case {
        TFault fault;
        const char* wait;
        uint8_t lastSent;
        size_t seen;   // bytes of lastSent (or bytes in all, for the frame) the register has before the wait
    };
    const Case cases[] = {{TFault::EnqSilence, "answer to ENQ", 0x05, 1},
                          {TFault::FrameSilence, "answer to a frame", 0x03, 46},
                          {TFault::NoEnq, "the register's ENQ", 0x04, 1},
                          {TFault::ReplySilence, "the reply frame", 0x06, 1},
                          {TFault::NoEot, "the register's EOT", 0x06, 2}};
    for (const Case& c : cases) {
        Host().Reset();
        m_serial->ClearBreak();
        Dev().ResetLine();
        Dev().QueueFault(c.fault);
        m_emu->ClearReceived();
        BreakWhen([c](const Bytes& got) {
            if (c.fault == TFault::FrameSilence) return got.size() >= c.seen;
            return static_cast<size_t>(std::count(got.begin(), got.end(), c.lastSent)) >= c.seen;
        });
        EXPECT_EQ(Status(), 0) << c.wait;
        EXPECT_EQ(m_link.m_nError, -7) << c.wait;
        EXPECT_FALSE(m_link.FailedForWantOfAnswer());
        m_breaker.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const Bytes got = m_emu->Received();
        ASSERT_FALSE(got.empty()) << c.wait;
        // The last byte written is the one before the wait (a frame ends
        // with its checksum; the fault's frame is the request).
        if (c.fault == TFault::FrameSilence) {
            EXPECT_EQ(Hex(got), Hex(B("\x05" + Frame('S', kStatusRequest)))) << c.wait;
        } else {
            EXPECT_EQ(got.back(), c.lastSent) << c.wait;
        }
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 0) << c.wait;
    }
    // No request at all once broken off.
    m_emu->ClearReceived();
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_link.m_nError, -7);
    EXPECT_TRUE(m_emu->Received().empty());
}

// CProtokolTango keeps a data log beside the dumps and reports through the
// socket's notifier; CTango writes dumps only and reports through the
// serial object's.
TEST_F(TangoLinkTest, DataLogAndNotifierOfEachClass) {
    m_link.Close();
    {
        ScopedTempDir tmp;
        CProtokolTango next;
        OpenLink(next);
        m_serial->SetCallback(nullptr);
        Dev().QueueFault(TFault::EnqGarbage);
        std::string text;
        ASSERT_EQ(next.ReadStatusText(text), 1);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
        next.Close();
        std::string log;
        for (const std::string& name : tmp.Names())
            if (name.rfind("XWDATA_", 0) == 0) log = name;
        ASSERT_FALSE(log.empty());
        std::ifstream f(tmp.File(log), std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_NE(content.find("PC ->\x05<<"), std::string::npos);
        EXPECT_NE(content.find("ECR->\x06<<"), std::string::npos);
        EXPECT_NE(content.find("SMKASA-01 OK"), std::string::npos);
    }
    {
        ScopedTempDir tmp;
        Host().Reset();
        CTango tango;
        tango.SetSerial(m_serial.get());
        ASSERT_EQ(tango.Open(kTangoPort, 9600), 1);
        m_serial->SetCallback(&RecordingHost::OnProgress);
        m_socket->SetCallback(nullptr);
        Dev().QueueFault(TFault::EnqGarbage);
        std::string text;
        ASSERT_EQ(tango.ReadStatusText(text), 1);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_DEVICE_ERROR), 1);
        tango.Close();
        for (const std::string& name : tmp.Names()) EXPECT_NE(name.rfind("XWDATA_", 0), 0u) << name;
        EXPECT_FALSE(tmp.Names().empty());   // the dumps
    }
    OpenLink(m_link);
}

// Every request body as the register receives it.
TEST_F(TangoLinkTest, EveryRequestBody) {
    const std::string zeros18(18, '0');
    const std::string key = std::string(15, ' ') + "590";
    const std::string all = std::string(18, ' ') + std::string(18, '~');
    auto num = [](const std::string& n) { return std::string(18 - n.size(), '0') + n; };
    TangoDevice::GoodsFields f;
    f.code = "590";
    Dev().PutGoods(TangoDevice::MakeGoodsRecord(f));

    std::string text, pieces[3];
    double rates[8];
    tango::Goods goods;
    tango::Dept dept;
    dept.number = 7;
    dept.taxGroup = 1;
    tango::Unit unit;
    unit.number = 3;
    unit.name = "op";
    auto none = [](const auto&) {};
    EXPECT_EQ(m_link.ReadStatusText(text), 1);
    EXPECT_EQ(m_link.ReadMoreStatus(pieces), 1);
    EXPECT_EQ(m_link.ReadTaxTable(rates), 1);
    EXPECT_EQ(m_link.ReadPlu(CChrArr(key), goods), 1);
    goods.code = "590";
    goods.taxGroup = 1;
    EXPECT_EQ(m_link.WritePlu(goods), 1);
    EXPECT_EQ(m_link.ReadAllPlu(none), 1);
    EXPECT_EQ(m_link.WriteDept(dept), 1);
    EXPECT_EQ(m_link.ReadDepts(none), 1);
    EXPECT_EQ(m_link.WriteUnit(unit), 1);
    EXPECT_EQ(m_link.ReadUnits(none), 1);
    EXPECT_EQ(m_link.ReadReport('U', '0', none), 1);
    EXPECT_EQ(m_link.ReadReport('d', '2', none), 1);
    EXPECT_EQ(m_link.ReadPositions(none), 1);
    EXPECT_EQ(m_link.DeletePlu(CChrArr(key)), 1);

    const std::vector<std::string> expected = {
        "M0" + zeros18 + zeros18,
        "e0" + zeros18 + zeros18,
        "00" + zeros18 + zeros18,
        "I#000" + key + key,
        "h1" + key + key,
        "I#000" + all,
        "H1" + num("07") + num("07"),
        "H0" + num("1") + num("99"),
        "I#011" + num("03") + num("03"),
        "I#010" + num("1") + num("99"),
        "U0" + all,
        "d2" + all,
        "O2" + num("1") + num("999999"),
        "I#000" + key + key,
        "I1" + key + key,
    };
    EXPECT_EQ(Dev().Requests(), expected);
    std::vector<std::string> records;
    for (const TangoDevice::Frame& fr : Dev().Frames())
        if (fr.type == 'D') records.push_back(fr.body.substr(0, 4));
    EXPECT_EQ(records, (std::vector<std::string>{"    ", "H107", "I#03", "    "}));
}

TEST_F(TangoLinkTest, ErrorTextsOfBothClasses) {
    CTango tango;
    EXPECT_EQ(m_link.GetErrorText(1), PL("Błędny typ zadania"));
    EXPECT_EQ(tango.GetErrorText(1), PL("Błędny typ zadania"));
    EXPECT_EQ(m_link.GetErrorText(41), PL("Zestaw uprawnień użytkownika nie został zdefiniowany"));
    EXPECT_EQ(tango.GetErrorText(41), PL("Nieokreślony błąd"));
    EXPECT_EQ(tango.GetErrorText(277), PL("Zbyt duża cena - maksymalna dopuszczalna kwota to 2147836,39 "));
    EXPECT_EQ(m_link.GetErrorText(202), PL("Błąd wartości towaru"));
    EXPECT_EQ(tango.GetErrorText(202), PL("Pod podanym numerem towar nie zdefiniowany"));
    EXPECT_EQ(m_link.GetErrorText(9998), tango.GetErrorText(9998));
    EXPECT_EQ(m_link.GetErrorText(-5), SerialErrorText(-5));
}

}  // namespace
}  // namespace orv::test
