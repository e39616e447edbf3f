// CTelepathyECR over a port: Open, SendAll and ClosePort on a pseudo-terminal
// and on the fake serial line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "comm/telepathy.h"
#include "comm/telepathy_ecr.h"
#include "sim/pty_pair.h"
#include "fakes/fake_serial_device.h"
#include "platform/clock.h"
#include "platform/message_hook.h"

namespace {

using orv::test::FakeSerialLine;
using orv::test::PtyPair;

class ProtocolPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        orv::platform::SetTimeScale(0.05);   // one library second = 50 ms
        orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int def) { return def; });
        m_protocol.SetSerial(&m_serial);
    }
    void TearDown() override {
        m_serial.Close(m_protocol.m_nPort > 0 ? m_protocol.m_nPort : 1, 0);
        orv::platform::SetMessageHook(nullptr);
        orv::platform::SetTimeScale(1.0);
    }

    CTelepathy m_serial;
    CTelepathyECR m_protocol;
};

// Reads what arrived at the master within timeoutMs.
std::string ReadMaster(int master, size_t want, int timeoutMs) {
    std::string got;
    while (got.size() < want) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) break;
        char buf[256];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

TEST_F(ProtocolPortTest, OpenIs9600_8N1WithBothQueuesFlushedOnAPty) {
    PtyPair pty(3);
    int slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    // Bytes that were waiting before the open must be gone afterwards.
    ASSERT_TRUE(pty.WriteMaster("stale", 5));
    pollfd p{slave, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);

    m_protocol.SetError(5);
    ASSERT_EQ(m_protocol.Open(3), 1);
    EXPECT_EQ(m_protocol.GetError(), 0);
    EXPECT_EQ(m_protocol.m_nPort, 3);
    EXPECT_EQ(m_serial.GetInputCount(3), 0);

    termios tio{};
    ASSERT_EQ(::tcgetattr(slave, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    ::close(slave);

    // What the device sends after the open does arrive.
    ASSERT_TRUE(pty.WriteMaster("fresh", 5));
    CChrArr got = m_serial.Read(3, 5, 2);
    EXPECT_EQ(got.ToString(), "fresh");
}

TEST_F(ProtocolPortTest, OpenLineSettingsAndFlushesOnTheFakeLine) {
    auto line = FakeSerialLine::Create();
    line->Inject({'o', 'l', 'd'});
    ASSERT_EQ(m_protocol.Open(2, 19200), 1);
    auto s = line->Settings();
    EXPECT_EQ(s.baud, 19200);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.parity, 'N');
    EXPECT_EQ(s.stopBits, 1);
    EXPECT_GE(line->InputFlushes(), 1);
    EXPECT_EQ(line->InputQueued(), 0u);
    EXPECT_EQ(m_serial.GetInputCount(2), 0);
    m_serial.Close(2, 0);

    ASSERT_EQ(m_protocol.Open(2), 1);
    EXPECT_EQ(line->Settings().baud, 9600);
}

TEST_F(ProtocolPortTest, OpenFailuresKeepTheSerialCode) {
    auto line = FakeSerialLine::Create();
    struct Case {
        const char* what;
        int port;
        bool present;
        bool openBefore;
        int error;
    };
    const Case cases[] = {
        {"port number out of range", 17, true, false, -1},
        {"no such port", 1, false, false, -2},
        {"already open", 1, true, true, -4},
    };
    for (const Case& c : cases) {
        line->SetPresent(c.present);
        if (c.openBefore) {
            ASSERT_EQ(m_serial.Open(c.port, 1024, 1024, 9600, 8, 'N', 1), 0);
        }
        EXPECT_EQ(m_protocol.Open(c.port), 0) << c.what;
        EXPECT_EQ(m_protocol.GetError(), c.error) << c.what;
        m_serial.Close(1, 0);
    }
}

TEST_F(ProtocolPortTest, SendAllOfAnEmptyArrayTouchesNothing) {
    auto line = FakeSerialLine::Create();
    m_protocol.SetError(77);
    EXPECT_EQ(m_protocol.SendAll(CChrArr()), 1);   // even with the port closed
    EXPECT_EQ(m_protocol.GetError(), 77);

    ASSERT_EQ(m_protocol.Open(1), 1);
    line->ClearRecords();
    m_protocol.SetError(77);
    EXPECT_EQ(m_protocol.SendAll(CChrArr()), 1);
    EXPECT_EQ(m_protocol.GetError(), 77);
    EXPECT_TRUE(line->Written().empty());
    EXPECT_EQ(line->OutputFlushes(), 0);
    EXPECT_EQ(line->InputFlushes(), 0);
}

TEST_F(ProtocolPortTest, SendAllWritesTheExactBytesOnAPty) {
    PtyPair pty(4);
    ASSERT_EQ(m_protocol.Open(4), 1);
    const std::string frame("\x02\x00\xfe\x1b\r\n\x03", 7);
    EXPECT_EQ(m_protocol.SendAll(CChrArr(frame)), 1);
    EXPECT_EQ(m_protocol.GetError(), 0);
    EXPECT_EQ(ReadMaster(pty.master(), frame.size(), 2000), frame);
}

// A transport that reports fewer bytes written than given, without any
// serial error (a real short write always carries one).
class ShortWriteProtocol : public CTelepathyECR {
private:
    int WriteForSendAll(const CChrArr& bytes, int) override { return bytes.GetLength() - 1; }
};

TEST_F(ProtocolPortTest, ShortWriteWithoutSerialErrorGives999999) {
    auto line = FakeSerialLine::Create();
    ShortWriteProtocol p;
    p.SetSerial(&m_serial);
    ASSERT_EQ(p.Open(1), 1);
    EXPECT_EQ(p.SendAll(CChrArr("ABC")), 0);
    EXPECT_EQ(p.GetError(), 999999);
    m_serial.Close(1, 0);
}

TEST_F(ProtocolPortTest, SendAllReportsTheSerialErrors) {
    struct Case {
        const char* what;
        bool open;
        int writeError;
        bool autoDrain;
        int error;
    };
    const Case cases[] = {
        {"port not open", false, 0, true, -3},
        {"device gone", true, EIO, true, -6},
        {"write refused", true, EINVAL, true, -9},
        {"output never drains", true, 0, false, -5},
    };
    for (const Case& c : cases) {
        auto line = FakeSerialLine::Create();
        m_protocol.m_nPort = 1;
        if (c.open) {
            ASSERT_EQ(m_protocol.Open(1), 1) << c.what;
        }
        line->SetWriteError(c.writeError);
        line->SetAutoDrain(c.autoDrain);
        EXPECT_EQ(m_protocol.SendAll(CChrArr("AB")), 0) << c.what;
        EXPECT_EQ(m_protocol.GetError(), c.error) << c.what;
        line->Drain();
        m_serial.Close(1, 0);
    }
}

TEST_F(ProtocolPortTest, ClosePortClearsTheErrorAndCloses) {
    auto line = FakeSerialLine::Create();
    ASSERT_EQ(m_protocol.Open(1), 1);
    const int closes = line->CloseCount();
    m_protocol.SetError(23);
    m_protocol.ClosePort();
    EXPECT_EQ(m_protocol.GetError(), 0);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_EQ(line->CloseCount(), closes + 1);
    EXPECT_EQ(m_serial.GetError(1), -3);

    // Output the device never takes: the close waits a second, then closes.
    ASSERT_EQ(m_protocol.Open(1), 1);
    line->SetAutoDrain(false);
    m_serial.Write(1, CChrArr("stuck"), 0);
    ASSERT_GT(line->OutputQueued(), 0u);
    const auto t0 = std::chrono::steady_clock::now();
    m_protocol.ClosePort();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(m_protocol.GetError(), 0);
    EXPECT_FALSE(line->IsOpen());
    EXPECT_GE(ms, 40);    // 1 library second = 50 ms here
    EXPECT_LT(ms, 1000);
}

}  // namespace
