// Line options, reopen rules, handshaking and modem lines on the fake line.
#include "fakes/fake_serial_device.h"
#include "serial_fixture.h"

using namespace serial_test;
using orv::test::FakeSerialLine;

namespace {

class LinesTest : public SerialTest {
protected:
    void SetUp() override {
        SerialTest::SetUp();
        line = FakeSerialLine::Create();
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
        line->ClearRecords();
    }
    // Opens of the device since the last ClearRecords, probes not counted.
    int Reopens() const { return line->OpenCount() / 2; }

    std::shared_ptr<FakeSerialLine> line;
    CTelepathy port;
};

}  // namespace

TEST_F(LinesTest, SetBaudRules) {
    struct Case { int baud; int result; int error; int reopens; int lineBaud; };
    const Case cases[] = {
        {0, 9600, 0, 0, 9600},          // asks for the current rate, no reopen
        {14400, 0, -1, 0, 9600},        // not in this list
        {1000, 0, -1, 0, 9600},
        {19200, 9600, 0, 1, 19200},     // returns the old rate
        {0, 19200, 0, 1, 19200},
        {115200, 19200, 0, 2, 115200},
        {75, 115200, 0, 3, 9600},       // accepted here, unknown to the port: 9600 with a notice
    };
    for (const Case& c : cases) {
        EXPECT_EQ(port.SetBaud(1, c.baud), c.result) << c.baud;
        EXPECT_EQ(port.GetError(1), c.error) << c.baud;
        EXPECT_EQ(Reopens(), c.reopens) << c.baud;
        EXPECT_EQ(line->Settings().baud, c.lineBaud) << c.baud;
    }
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_EQ(port.SetBaud(0, 9600), 0);
    EXPECT_EQ(port.GetError(1), -1);
}

TEST_F(LinesTest, DtrAndRtsModeRules) {
    using Setter = int (CTelepathy::*)(int, int);
    struct Line { const char* name; Setter set; bool (FakeSerialLine::*state)() const; char id; };
    const Line lines[] = {
        {"DTR", &CTelepathy::SetDtrMode, &FakeSerialLine::Dtr, 'D'},
        {"RTS", &CTelepathy::SetRtsMode, &FakeSerialLine::Rts, 'R'},
    };
    struct Step { int mode; int old; bool on; int reopens; };
    // Mode 1 switches at once; a change to 2 or to anything but 1 and 2 reopens.
    const Step steps[] = {
        {1, 1, true, 0},
        {2, 1, true, 1},
        {1, 2, true, 1},
        {0, 1, false, 2},
        {0, 0, false, 2},
        {1, 0, true, 2},   // back on at once after mode 0
        {3, 1, false, 3},
    };
    for (const Line& l : lines) {
        ASSERT_EQ(port.Close(1, 0), 0);
        ASSERT_EQ(port.Open(1, 1024, 1024, 9600, 8, 'N', 1), 0);
        line->ClearRecords();
        for (const Step& s : steps) {
            EXPECT_EQ((port.*l.set)(1, s.mode), s.old) << l.name << " mode " << s.mode;
            EXPECT_EQ(port.GetError(1), 0);
            EXPECT_EQ(((*line).*l.state)(), s.on) << l.name << " mode " << s.mode;
            EXPECT_EQ(Reopens(), s.reopens) << l.name << " mode " << s.mode;
        }
    }
}

TEST_F(LinesTest, OptionSettersReopenOnlyOnAChange) {
    using Setter = int (CTelepathy::*)(int, int);
    const std::pair<const char*, Setter> setters[] = {
        {"cts", &CTelepathy::SetCtsWait},
        {"option2", &CTelepathy::SetLineOption2},
        {"option3", &CTelepathy::SetLineOption3},
        {"xon", &CTelepathy::SetXonXoff},
    };
    int reopens = 0;
    for (const auto& [name, set] : setters) {
        EXPECT_EQ((port.*set)(1, 0), 0) << name;
        EXPECT_EQ(Reopens(), reopens) << name;
        EXPECT_EQ((port.*set)(1, 1), 0) << name;
        EXPECT_EQ(Reopens(), ++reopens) << name;
        EXPECT_EQ((port.*set)(1, 0), 1) << name;
        EXPECT_EQ(Reopens(), ++reopens) << name;
        EXPECT_EQ(port.GetError(1), 0) << name;
    }
}

TEST_F(LinesTest, HandshakingFollowsTheLineOptions) {
    // rtsControl and dtrControl are the states after the reopen raised the
    // lines as their modes say (2: handshake).
    struct Case {
        int xon, rts, cts;
        int mode;
        bool ctsFlow, dsrFlow, xonFlow;
        int rtsControl, dtrControl;
    };
    const Case cases[] = {
        {0, 1, 0, 0, false, false, false, 1, 1},
        {0, 1, 1, 0, true, false, false, 1, 1},   // only CTS output flow control
        {0, 2, 0, 2, true, false, false, 2, 1},
        {0, 2, 1, 2, true, false, false, 2, 1},
        {1, 1, 0, 1, false, false, true, 1, 1},
        {1, 0, 1, 3, false, false, true, 0, 1},
        {1, 2, 0, 3, false, false, true, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "xon " << c.xon << " rts " << c.rts << " cts " << c.cts);
        EXPECT_EQ(COlfe_SComm::DeriveHandshaking(c.xon, c.rts, c.cts), c.mode);
        CTelepathy::LineOptions o;
        o.xonXoff = c.xon;
        o.rtsMode = c.rts;
        o.ctsWait = c.cts;
        port.StoreLineOptions(o);
        ASSERT_EQ(port.Reopen(1), 0);
        EXPECT_EQ(port.GetHandshaking(), c.mode);
        const auto s = port.LineSettings();
        EXPECT_EQ(s.ctsOutFlow, c.ctsFlow);
        EXPECT_EQ(s.dsrOutFlow, c.dsrFlow);
        EXPECT_EQ(s.xonOut, c.xonFlow);
        EXPECT_EQ(s.xonIn, c.xonFlow);
        EXPECT_EQ(s.rtsControl, c.rtsControl);
        EXPECT_EQ(s.dtrControl, c.dtrControl);
        // The device got the same flow control.
        const auto d = line->Settings();
        EXPECT_EQ(d.ctsOutFlow || d.rtsControl == 2, s.ctsOutFlow || s.rtsControl == 2);
        EXPECT_EQ(d.xonOut, c.xonFlow);
    }
}

TEST_F(LinesTest, BadLineSettingsFallBackTo9600N81WithANotice) {
    struct Case { int baud, bits; char parity; int stop; bool fallback; };
    const Case cases[] = {
        {1000, 8, 'N', 1, true},
        {0, 8, 'N', 1, true},
        {9600, 9, 'N', 1, true},
        {9600, 4, 'N', 1, true},
        {9600, 8, 'X', 1, true},
        {9600, 8, 'e', 1, true},
        {9600, 8, 'N', 0, true},
        {9600, 8, 'N', 4, true},
        {14400, 7, 'O', 2, false},
        {256000, 5, 'M', 3, false},
        {56000, 6, 'S', 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.baud << "," << c.parity << "," << c.bits << "," << c.stop);
        port.Close(1, 0);
        const size_t before = Messages().size();
        ASSERT_EQ(port.Open(1, 1024, 1024, c.baud, c.bits, c.parity, c.stop), 0);
        const auto s = line->Settings();
        if (c.fallback) {
            EXPECT_EQ(s.baud, 9600);
            EXPECT_EQ(s.dataBits, 8);
            EXPECT_EQ(s.parity, 'N');
            EXPECT_EQ(s.stopBits, 1);
            EXPECT_EQ(Messages().size(), before + 1);
        } else {
            EXPECT_EQ(s.baud, c.baud);
            EXPECT_EQ(s.dataBits, c.bits);
            EXPECT_EQ(s.parity, c.parity);
            EXPECT_EQ(s.stopBits, c.stop);
            EXPECT_EQ(Messages().size(), before);
        }
    }
}

TEST_F(LinesTest, ModemStatusReportsTheRealBits) {
    struct Case { bool cts, dsr, ring, rlsd; int bits; };
    const Case cases[] = {
        {false, false, false, false, 0},
        {true, false, false, false, MS_CTS_ON},
        {false, true, false, false, MS_DSR_ON},
        {false, false, true, false, MS_RING_ON},
        {false, false, false, true, MS_RLSD_ON},
        {true, true, true, true, 0xF0},
    };
    for (const Case& c : cases) {
        line->SetCts(c.cts);
        line->SetDsr(c.dsr);
        line->SetRing(c.ring);
        line->SetRlsd(c.rlsd);
        EXPECT_EQ(port.GetModemStatus(1), c.bits);
        EXPECT_EQ(port.GetError(1), 0);
        EXPECT_EQ(port.GetCts(1), c.cts);
        EXPECT_EQ(port.GetDsr(1), c.dsr);
        EXPECT_EQ(port.GetRing(1), c.ring);
        EXPECT_EQ(port.GetCd(1), c.rlsd);
    }
    line->SetModemLines(false);
    EXPECT_EQ(port.GetModemStatus(1), 0);
    EXPECT_EQ(port.GetError(1), -3);
}

TEST_F(LinesTest, StoredOptionsTakeEffectAtTheNextReopen) {
    CTelepathy::LineOptions o = port.GetLineOptions();
    o.dtrMode = 0;
    o.rtsMode = 0;
    port.StoreLineOptions(o);
    EXPECT_TRUE(line->Dtr());
    EXPECT_EQ(Reopens(), 0);
    ASSERT_EQ(port.Reopen(1), 0);
    EXPECT_FALSE(line->Dtr());
    EXPECT_FALSE(line->Rts());
}

TEST_F(LinesTest, FlushesReachTheDevice) {
    line->Inject({'a', 'b', 'c'});
    EXPECT_EQ(port.FindInInput(1, 'c'), 3);
    line->Inject({'d'});
    EXPECT_EQ(port.FlushInput(1), 0);
    EXPECT_EQ(port.GetInputCount(1), 0);
    EXPECT_EQ(line->InputFlushes(), 1);
    EXPECT_EQ(port.FlushOutput(1), 0);
    EXPECT_EQ(line->OutputFlushes(), 1);
}
