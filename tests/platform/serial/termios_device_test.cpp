// The termios serial device on pseudo-terminals: open flags, locking, raw
// mode, line flags, modem lines without modem support, hang-up, waits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "sim/pty_pair.h"
#include "platform/posix/serial_termios.h"

using namespace orv::platform;
using orv::test::PtyPair;

namespace {

int64_t Ms(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time this thread has used, in milliseconds.
int64_t ThreadCpuMs() {
    struct rusage ru {};
    getrusage(RUSAGE_THREAD, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
}

// A break set from another thread 30 ms into an unlimited input wait ends
// it within 50 ms.
void ExpectBreakEndsAnInputWait(SerialDevice& dev, BreakSignal& brk) {
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        brk.Set();
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(dev.Wait(SerialWaitFor::Input, &brk, -1), kWaitBroken);
    EXPECT_LT(Ms(t0), 30 + 50);
    breaker.join();
}

}  // namespace

TEST(TermiosDevice, LineFlagsForEachSetting) {
    struct Case {
        SerialLineSettings s;
        tcflag_t cflagSet, cflagClear, iflagSet;
    };
    auto with = [](int bits, char parity, int stop) {
        SerialLineSettings s;
        s.dataBits = bits;
        s.parity = parity;
        s.stopBits = stop;
        return s;
    };
    SerialLineSettings cts = with(8, 'N', 1);
    cts.ctsOutFlow = true;
    cts.rtsControl = 0;
    SerialLineSettings rtsHs = with(8, 'N', 1);
    rtsHs.rtsControl = 2;
    SerialLineSettings xon = with(8, 'N', 1);
    xon.xonOut = xon.xonIn = true;
    const Case cases[] = {
        {with(8, 'N', 1), CS8, PARENB | CSTOPB | CRTSCTS, 0},
        {with(8, 'E', 1), CS8 | PARENB, PARODD | CMSPAR | CSTOPB, 0},
        {with(7, 'O', 2), CS7 | PARENB | PARODD | CSTOPB, CMSPAR, 0},
        {with(6, 'M', 1), CS6 | PARENB | PARODD | CMSPAR, CSTOPB, 0},
        {with(5, 'S', 3), CS5 | PARENB | CMSPAR | CSTOPB, PARODD, 0},
        {cts, CS8 | CRTSCTS, 0, 0},
        {rtsHs, CS8 | CRTSCTS, 0, 0},
        {xon, CS8, CRTSCTS, IXON | IXOFF},
    };
    for (const Case& c : cases) {
        struct termios tio;
        memset(&tio, 0xFF, sizeof tio);   // whatever was there before
        MakeSerialTermios(c.s, &tio);
        SCOPED_TRACE(testing::Message() << c.s.dataBits << c.s.parity << c.s.stopBits);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.cflagSet & CSIZE);
        EXPECT_EQ(tio.c_cflag & (c.cflagSet & ~CSIZE), c.cflagSet & ~CSIZE);
        EXPECT_EQ(tio.c_cflag & c.cflagClear, 0u);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), c.iflagSet);
        EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXANY | PARMRK), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 0);
    }
}

TEST(TermiosDevice, OpensNonBlockingUnlockedForOthersNever) {
    PtyPair pty(0);
    auto dev = CreateTermiosDevice();
    ASSERT_EQ(dev->Open(pty.slavePath()), 0);
    int fl = fcntl(dev->fd(), F_GETFL);
    EXPECT_TRUE(fl & O_NONBLOCK);
    EXPECT_TRUE(fcntl(dev->fd(), F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(tcgetpgrp(dev->fd()), -1);   // not our controlling terminal

    auto second = CreateTermiosDevice();
    EXPECT_EQ(second->Open(pty.slavePath()), EWOULDBLOCK);
    dev->Close();
    EXPECT_FALSE(dev->IsOpen());
    EXPECT_EQ(second->Open(pty.slavePath()), 0);

    auto other = CreateTermiosDevice();
    EXPECT_EQ(other->Open("/nonexistent/tty"), ENOENT);
    EXPECT_EQ(other->Open("/dev/null"), ENOTTY);
    EXPECT_FALSE(other->IsOpen());
}

TEST(TermiosDevice, RawFromTheOpenAndEveryRateAccepted) {
    PtyPair pty(0);
    auto dev = CreateTermiosDevice();
    ASSERT_EQ(dev->Open(pty.slavePath()), 0);
    // Make the line cooked behind the device's back, then reopen: the open
    // itself makes it raw again (no echo, no CR mapping).
    {
        int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        struct termios tio;
        tcgetattr(fd, &tio);
        tio.c_lflag |= ECHO | ICANON;
        tio.c_iflag |= ICRNL;
        tcsetattr(fd, TCSANOW, &tio);
        close(fd);
    }
    dev->Close();
    ASSERT_EQ(dev->Open(pty.slavePath()), 0);
    ASSERT_TRUE(pty.WriteMaster("a\r", 2));
    struct pollfd p = {pty.master(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 50), 0) << "echoed";
    ASSERT_EQ(dev->Wait(SerialWaitFor::Input, nullptr, 1000), kWaitReady);
    uint8_t buf[8];
    EXPECT_EQ(dev->Read(buf, sizeof buf), 2);
    EXPECT_EQ(buf[1], '\r');

    for (int baud : {110, 9600, 14400, 56000, 115200, 128000, 256000}) {
        SerialLineSettings s;
        s.baud = baud;
        EXPECT_EQ(dev->Configure(s), 0) << baud;
    }
    // A pseudo-terminal drops parity and data bits silently; asking again and
    // again still succeeds (the C library reports the drop from the second time on).
    for (char parity : {'E', 'E', 'O', 'M'}) {
        SerialLineSettings s;
        s.parity = parity;
        s.dataBits = 7;
        EXPECT_EQ(dev->Configure(s), 0) << parity;
    }
    EXPECT_EQ(SerialSpeedConstant(14400), static_cast<speed_t>(B0));
    EXPECT_EQ(SerialSpeedConstant(75), static_cast<speed_t>(B75));
}

TEST(TermiosDevice, NoModemLinesOnAPseudoTerminal) {
    PtyPair pty(0);
    auto dev = CreateTermiosDevice();
    ASSERT_EQ(dev->Open(pty.slavePath()), 0);
    int bits = -1;
    EXPECT_EQ(dev->GetModemBits(&bits), ENOTTY);
    EXPECT_EQ(bits, 0);
    EXPECT_EQ(dev->SetDtr(false), 0);
    EXPECT_EQ(dev->SetRts(true), 0);
    EXPECT_EQ(dev->OutputPending(), 0);
    EXPECT_EQ(dev->FlushOutput(), 0);
    EXPECT_EQ(dev->FlushInput(), 0);
}

TEST(TermiosDevice, WaitsEndOnBreakTimeOutAndHangUp) {
    PtyPair pty(0);
    auto dev = CreateTermiosDevice();
    ASSERT_EQ(dev->Open(pty.slavePath()), 0);
    BreakSignal brk;

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(dev->Wait(SerialWaitFor::Input, &brk, 30), kWaitTimeout);
    EXPECT_GE(Ms(t0), 29);
    // A change wait looks again after a short slice, or times out.
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(dev->Wait(SerialWaitFor::Change, &brk, 1000), kWaitReady);
    EXPECT_LT(Ms(t0), 50);
    EXPECT_EQ(dev->Wait(SerialWaitFor::Change, &brk, 0), kWaitTimeout);
    EXPECT_EQ(dev->Wait(SerialWaitFor::Room, &brk, 0), kWaitReady);

    ExpectBreakEndsAnInputWait(*dev, brk);
    brk.Clear();

    std::thread gone([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.CloseMaster();
    });
    uint8_t b;
    int r = dev->Wait(SerialWaitFor::Input, &brk, 2000);
    gone.join();
    // Hang-up: either the wait says so, or the read does.
    if (r != kWaitLost) {
        EXPECT_EQ(r, kWaitReady);
        EXPECT_EQ(dev->Read(&b, 1), -EIO);
    }
    EXPECT_EQ(dev->Read(&b, 1), -EIO);
    EXPECT_LT(dev->InputPending(), 0);
    EXPECT_LT(dev->Write(&b, 1), 0);
    dev->Close();
}

TEST(TermiosDevice, StaleBreakWakeUpDoesNotMakeAWaitSpin) {
    PtyPair pty(0);
    auto dev = CreateTermiosDevice();
    ASSERT_EQ(dev->Open(pty.slavePath()), 0);
    BreakSignal brk;
    // A Set racing a Clear can leave the descriptor readable with the flag
    // clear (the flag cleared after the Set, the wake-up written after the
    // Clear drained): the waits must sleep all the same.
    const uint64_t one = 1;
    ASSERT_EQ(write(brk.fd(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
    ASSERT_FALSE(brk.IsSet());

    const int64_t cpu0 = ThreadCpuMs();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(dev->Wait(SerialWaitFor::Input, &brk, 300), kWaitTimeout);
    EXPECT_GE(Ms(t0), 299);
    EXPECT_EQ(SleepUnlessBroken(&brk, 100), kWaitTimeout);
    EXPECT_LT(ThreadCpuMs() - cpu0, 60) << "the waits spun instead of sleeping";

    // A real break still ends a wait at once.
    ExpectBreakEndsAnInputWait(*dev, brk);
}

TEST(SerialDeviceFactory, InstalledFactoryMakesTheDevices) {
    int made = 0;
    SetSerialDeviceFactory([&made]() -> std::unique_ptr<SerialDevice> {
        ++made;
        return CreateTermiosDevice();
    });
    auto d = CreateSerialDevice();
    EXPECT_EQ(made, 1);
    SetSerialDeviceFactory(nullptr);
    d = CreateSerialDevice();
    EXPECT_EQ(made, 1);
    EXPECT_NE(d, nullptr);
}
