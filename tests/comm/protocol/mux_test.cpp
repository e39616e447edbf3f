// Serial multiplexer selection on the fake serial line and on a stepping
// multiplexer model.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "comm/telepathy.h"
#include "comm/telepathy_ecr.h"
#include "fakes/fake_serial_device.h"
#include "platform/clock.h"
#include "platform/message_hook.h"
#include "platform/serial_device.h"

namespace {

using orv::test::FakeSerialLine;

class MuxTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.01);
        orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int def) { return def; });
        m_protocol.SetSerial(&m_serial);
    }
    void TearDown() override {
        m_serial.Close(1, 0);
        orv::platform::SetSerialDeviceFactory(nullptr);
        orv::platform::SetMessageHook(nullptr);
        orv::platform::SetTimeScale(1.0);
    }
    int OpenPort() { return m_serial.Open(1, 1024, 1024, 9600, 8, 'N', 1); }

    CTelepathy m_serial;
    CTelepathyECR m_protocol;
};

int CountDtrDrops(const std::vector<FakeSerialLine::LineChange>& changes) {
    int n = 0;
    for (const auto& c : changes)
        if (c.line == 'D' && !c.on) ++n;
    return n;
}

TEST_F(MuxTest, LineLevelsSelectFourChannels) {
    struct Case {
        int channel;
        bool rts;
        bool dtr;
    };
    const Case cases[] = {{1, true, false}, {2, true, true}, {3, false, false}, {4, false, true}};
    auto line = FakeSerialLine::Create();
    ASSERT_EQ(OpenPort(), 0);
    for (const Case& c : cases) {
        m_protocol.SetError(55);
        EXPECT_EQ(m_protocol.SelectMuxChannel(1, 4, c.channel), 1) << c.channel;
        EXPECT_EQ(m_protocol.GetError(), 0);
        EXPECT_EQ(line->Rts(), c.rts) << c.channel;
        EXPECT_EQ(line->Dtr(), c.dtr) << c.channel;
        EXPECT_EQ(m_serial.GetLineOptions().rtsMode, c.rts ? 1 : 0);
        EXPECT_EQ(m_serial.GetLineOptions().dtrMode, c.dtr ? 1 : 0);
    }
}

TEST_F(MuxTest, ChannelOutsideTheKindsRangeIsError1WithoutTouchingTheLine) {
    struct Case {
        int type;
        int channel;
    };
    const Case cases[] = {{4, 5}, {4, 0}, {4, -1}, {2, 12}, {2, 0}, {1, 8}, {3, 8}, {0, 8}, {8, 256}, {8, -1}};
    auto line = FakeSerialLine::Create();
    for (const Case& c : cases) {
        if (c.type != 8) {
            ASSERT_EQ(OpenPort(), 0);
        }
        line->ClearRecords();
        EXPECT_EQ(m_protocol.SelectMuxChannel(1, c.type, c.channel), 0) << c.type << "/" << c.channel;
        EXPECT_EQ(m_protocol.GetError(), 1) << c.type << "/" << c.channel;
        EXPECT_TRUE(line->LineChanges().empty());
        EXPECT_TRUE(line->Written().empty());
        m_serial.Close(1, 0);
    }
}

TEST_F(MuxTest, LineLevelsOnAClosedPortGiveTheSerialError) {
    auto line = FakeSerialLine::Create();
    EXPECT_EQ(m_protocol.SelectMuxChannel(1, 4, 2), 0);
    EXPECT_EQ(m_protocol.GetError(), -3);
}

TEST_F(MuxTest, CommandByteSendsFEAndTheChannelAt9600_8E1ThenDropsDtrAndRts) {
    for (int channel : {5, 0, 255}) {
        auto line = FakeSerialLine::Create();
        ASSERT_EQ(m_protocol.SelectMuxChannel(1, 8, channel), 1) << channel;
        EXPECT_EQ(m_protocol.GetError(), 0);
        EXPECT_EQ(line->Written(), (std::vector<uint8_t>{0xFE, static_cast<uint8_t>(channel)}));
        auto s = line->Settings();
        EXPECT_EQ(s.baud, 9600);
        EXPECT_EQ(s.dataBits, 8);
        EXPECT_EQ(s.parity, 'E');
        EXPECT_EQ(s.stopBits, 1);
        EXPECT_FALSE(line->Dtr());
        EXPECT_FALSE(line->Rts());
        EXPECT_EQ(m_serial.GetLineOptions().ctsWait, 1);
        EXPECT_EQ(m_protocol.m_nPort, 1);
        m_serial.Close(1, 0);
    }
}

TEST_F(MuxTest, CommandByteFailures) {
    {   // Works only from a closed port.
        auto line = FakeSerialLine::Create();
        ASSERT_EQ(OpenPort(), 0);
        EXPECT_EQ(m_protocol.SelectMuxChannel(1, 8, 3), 0);
        EXPECT_EQ(m_protocol.GetError(), -4);
        EXPECT_TRUE(line->Written().empty());
        m_serial.Close(1, 0);
    }
    {   // It waits for CTS before sending; CTS never comes.
        auto line = FakeSerialLine::Create();
        line->SetCts(false);
        EXPECT_EQ(m_protocol.SelectMuxChannelByCommand(1, 8, 3), 0);
        EXPECT_EQ(m_protocol.GetError(), -5);
        EXPECT_TRUE(line->Written().empty());
        m_serial.Close(1, 0);
    }
    {   // No such port.
        auto line = FakeSerialLine::Create();
        line->SetPresent(false);
        EXPECT_EQ(m_protocol.SelectMuxChannel(1, 8, 3), 0);
        EXPECT_EQ(m_protocol.GetError(), -2);
    }
}

// Pulse stepping where the status lines already show the channel: no pulse.
TEST_F(MuxTest, SteppingAcceptsTheShownChannelAndLeavesHandshakeModesStored) {
    struct Case {
        int type;
        int channel;
        bool cts, dsr, ring, rlsd;
    };
    const Case cases[] = {
        {2, 11, true, true, false, true},
        {1, 7, true, true, true, false},
        {3, 5, true, false, true, false},
        {2, 8, false, false, false, true},
    };
    for (const Case& c : cases) {
        auto line = FakeSerialLine::Create();
        line->SetCts(c.cts);
        line->SetDsr(c.dsr);
        line->SetRing(c.ring);
        line->SetRlsd(c.rlsd);
        ASSERT_EQ(OpenPort(), 0);
        line->ClearRecords();
        EXPECT_EQ(m_protocol.SelectMuxChannel(1, c.type, c.channel), 1) << c.channel;
        EXPECT_EQ(m_protocol.GetError(), 0);
        EXPECT_EQ(CountDtrDrops(line->LineChanges()), 0);
        EXPECT_TRUE(line->Dtr());
        EXPECT_TRUE(line->Rts());
        const CTelepathy::LineOptions o = m_serial.GetLineOptions();
        EXPECT_EQ(o.ctsWait, 1);
        EXPECT_EQ(o.option2, 0);
        EXPECT_EQ(o.option3, 1);
        EXPECT_EQ(o.dtrMode, 2);
        EXPECT_EQ(o.rtsMode, 2);
        EXPECT_EQ(o.xonXoff, 0);
        EXPECT_GE(line->InputFlushes(), 1);
        m_serial.Close(1, 0);
    }
}

TEST_F(MuxTest, SteppingStoresTheOptionsDirectlyAndReopensOnce) {
    auto line = FakeSerialLine::Create();
    line->SetDsr(true);   // position 3 at once
    ASSERT_EQ(OpenPort(), 0);
    CTelepathy::LineOptions o = m_serial.GetLineOptions();
    o.option2 = 1;
    o.option3 = 1;
    o.xonXoff = 1;
    m_serial.StoreLineOptions(o);
    const int opensBefore = line->OpenCount();
    EXPECT_EQ(m_protocol.SelectMuxChannel(1, 1, 3), 1);
    // One reopen with the reset options, one from switching the CTS wait on
    // at the end (each open also has its probe).
    EXPECT_EQ(line->OpenCount() - opensBefore, 4);
    EXPECT_EQ(m_serial.GetLineOptions().option2, 0);
    EXPECT_FALSE(line->Settings().xonOut);
}

TEST_F(MuxTest, MultiplexerNeverShowingTheChannelGivesError2After32Pulses) {
    auto line = FakeSerialLine::Create();
    line->SetCts(false);   // position 0 forever
    ASSERT_EQ(OpenPort(), 0);
    line->ClearRecords();
    EXPECT_EQ(m_protocol.SelectMuxChannel(1, 2, 3), 0);
    EXPECT_EQ(m_protocol.GetError(), 2);
    EXPECT_EQ(CountDtrDrops(line->LineChanges()), 32);
}

TEST_F(MuxTest, UnreadableStatusLinesGiveTheSerialError) {
    auto line = FakeSerialLine::Create();
    line->SetModemLines(false);
    ASSERT_EQ(OpenPort(), 0);
    EXPECT_EQ(m_protocol.SelectMuxChannel(1, 2, 3), 0);
    EXPECT_EQ(m_protocol.GetError(), -3);
}

TEST_F(MuxTest, BreakWhileSteppingEndsAtOnceWithMinus7) {
    orv::platform::SetTimeScale(1.0);   // 32 real pulses would take 3.5 s
    auto line = FakeSerialLine::Create();
    line->SetCts(false);
    ASSERT_EQ(OpenPort(), 0);
    line->ClearRecords();
    std::thread breaker([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        m_serial.Break();
    });
    const auto t0 = std::chrono::steady_clock::now();
    const int result = m_protocol.SelectMuxChannel(1, 2, 3);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    breaker.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(m_protocol.GetError(), -7);
    EXPECT_LT(ms, 250 + 150);
    EXPECT_LT(CountDtrDrops(line->LineChanges()), 5);
    m_serial.ClearBreak();
}

// ---- a multiplexer that steps one socket per DTR pulse ----

struct SteppingMux {
    std::mutex mutex;
    bool dtr = false;
    int pulses = 0;        // DTR drops seen
    int channel = 0;       // the socket shown once `after` pulses were given
    int after = 0;
};

class SteppingMuxDevice final : public orv::platform::SerialDevice {
public:
    explicit SteppingMuxDevice(std::shared_ptr<SteppingMux> mux) : m_mux(std::move(mux)) {}
    int Open(const std::string&) override {
        m_open = true;
        return 0;
    }
    void Close() override { m_open = false; }
    bool IsOpen() const override { return m_open; }
    int Configure(const orv::platform::SerialLineSettings&) override { return 0; }
    int FlushInput() override { return 0; }
    int FlushOutput() override { return 0; }
    int InputPending() override { return 0; }
    int OutputPending() override { return 0; }
    long Write(const uint8_t*, size_t size) override { return static_cast<long>(size); }
    long Read(uint8_t*, size_t) override { return 0; }
    int SetDtr(bool on) override {
        std::lock_guard<std::mutex> lk(m_mux->mutex);
        if (m_mux->dtr && !on) ++m_mux->pulses;
        m_mux->dtr = on;
        return 0;
    }
    int SetRts(bool) override { return 0; }
    int GetModemBits(int* bits) override {
        std::lock_guard<std::mutex> lk(m_mux->mutex);
        // Sockets before the wanted one show as 15 - pulses (never the channel).
        int position = m_mux->pulses >= m_mux->after ? m_mux->channel : 15 - m_mux->pulses % 4;
        *bits = ((position & 1) ? orv::platform::kModemCts : 0) | ((position & 2) ? orv::platform::kModemDsr : 0) |
                ((position & 4) ? orv::platform::kModemRing : 0) | ((position & 8) ? orv::platform::kModemRlsd : 0);
        return 0;
    }
    int Wait(orv::platform::SerialWaitFor what, const orv::platform::BreakSignal* brk, int timeoutMs) override {
        if (what != orv::platform::SerialWaitFor::Input) return orv::platform::kWaitReady;
        return orv::platform::SleepUnlessBroken(brk, timeoutMs < 0 ? 60000 : timeoutMs);
    }
    int fd() const override { return -1; }

private:
    std::shared_ptr<SteppingMux> m_mux;
    bool m_open = false;
};

TEST_F(MuxTest, SteppingFindsTheChannelAfterTheRightNumberOfPulses) {
    struct Case {
        int type;
        int channel;
        int after;       // pulses until the multiplexer shows the channel
        int result;
        int error;
        int pulses;      // pulses given
    };
    const Case cases[] = {
        {2, 4, 5, 1, 0, 5},
        {2, 11, 32, 1, 0, 32},   // the 33rd comparison still counts
        {1, 2, 33, 0, 2, 32},    // one pulse too many needed
        {3, 1, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        auto mux = std::make_shared<SteppingMux>();
        mux->channel = c.channel;
        mux->after = c.after;
        orv::platform::SetSerialDeviceFactory([mux] { return std::make_unique<SteppingMuxDevice>(mux); });
        ASSERT_EQ(OpenPort(), 0);
        {
            std::lock_guard<std::mutex> lk(mux->mutex);
            mux->pulses = 0;
        }
        EXPECT_EQ(m_protocol.SelectMuxChannel(1, c.type, c.channel), c.result) << c.channel << "/" << c.after;
        EXPECT_EQ(m_protocol.GetError(), c.error) << c.channel << "/" << c.after;
        std::lock_guard<std::mutex> lk(mux->mutex);
        EXPECT_EQ(mux->pulses, c.pulses) << c.channel << "/" << c.after;
        m_serial.Close(1, 0);
    }
}

}  // namespace
