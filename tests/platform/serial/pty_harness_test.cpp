// The shared pseudo-terminal harness: registration, raw bytes both ways,
// scripted faults, hang-ups and a quick stop.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "sim/emulator_base.h"

using orv::test::B;
using orv::test::Bytes;
using orv::test::EmulatorBase;
using orv::test::PtyPair;

namespace {

// Reads from fd until n bytes arrived or timeoutMs passed.
Bytes ReadSome(int fd, size_t n, int timeoutMs) {
    Bytes out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        uint8_t buf[256];
        ssize_t r = read(fd, buf, sizeof buf);
        if (r <= 0) break;
        out.insert(out.end(), buf, buf + r);
    }
    return out;
}

int OpenPort(int port) {
    const char* path = std::getenv(("ECR_COM" + std::to_string(port)).c_str());
    if (!path) return -1;
    return open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace

TEST(PtyHarness, RegistersSlaveAndRestoresEnvironment) {
    setenv("ECR_COM7", "/dev/previous", 1);
    {
        PtyPair pty(7);
        EXPECT_EQ(std::string(std::getenv("ECR_COM7")), pty.slavePath());
    }
    EXPECT_STREQ(std::getenv("ECR_COM7"), "/dev/previous");
    unsetenv("ECR_COM7");
    { PtyPair pty(7); }
    EXPECT_EQ(std::getenv("ECR_COM7"), nullptr);
}

TEST(PtyHarness, AllByteValuesPassBothWaysAndReopenKeepsMaster) {
    EmulatorBase dev(2);
    dev.SetResponder([](EmulatorBase& self, const uint8_t* d, size_t n) { self.Send(Bytes(d, d + n)); });
    dev.Start();
    Bytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
    for (int round = 0; round < 2; ++round) {   // close and reopen: no hang-up
        int fd = OpenPort(2);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, all.data(), all.size()), 256);
        EXPECT_EQ(ReadSome(fd, 256, 2000), all);
        close(fd);
    }
    ASSERT_TRUE(dev.WaitForCount(512, 2000));
    Bytes twice = all;
    twice.insert(twice.end(), all.begin(), all.end());
    EXPECT_EQ(dev.Received(), twice);
    EXPECT_EQ(dev.Sent(), twice);
    auto rec = dev.Records();
    ASSERT_EQ(rec.size(), 512u);
    EXPECT_LE(rec.front().ms, rec.back().ms);
}

TEST(PtyHarness, QueuedFaultsApplyOnePerReply) {
    EmulatorBase dev(3);
    dev.SetResponder([](EmulatorBase& self, const uint8_t*, size_t) { self.Reply(B("ANSWER")); });
    dev.QueueFault(EmulatorBase::Fault::Silence);
    dev.QueueFault(EmulatorBase::Fault::Nak);
    dev.QueueFault(EmulatorBase::Fault::Short, 3);
    dev.QueueFault(EmulatorBase::Fault::Garbage, 5);
    dev.QueueFault(EmulatorBase::Fault::Delay, 100);
    dev.Start();
    int fd = OpenPort(3);
    ASSERT_GE(fd, 0);
    struct Step { Bytes expect; int waitMs; };
    const Step steps[] = {
        {{}, 100},
        {{0x15}, 1000},
        {B("ANS"), 1000},
        {EmulatorBase::Garbage(5), 1000},
        {B("ANSWER"), 1000},
        {B("ANSWER"), 1000},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        ASSERT_EQ(write(fd, "?", 1), 1);
        auto t0 = std::chrono::steady_clock::now();
        Bytes got = ReadSome(fd, steps[i].expect.empty() ? 1 : steps[i].expect.size(), steps[i].waitMs);
        EXPECT_EQ(got, steps[i].expect) << "step " << i;
        if (i == 4) {
            EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));
        }
    }
    EXPECT_EQ(dev.PendingFaults(), 0u);
    close(fd);
}

TEST(PtyHarness, MasterGoneHangsUpSlave) {
    PtyPair pty(4);
    int fd = OpenPort(4);
    ASSERT_GE(fd, 0);
    pty.CloseMaster();
    struct pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    // A hung-up terminal reads as end of file (never EAGAIN) and refuses writes.
    uint8_t b = 0;
    errno = 0;
    EXPECT_EQ(read(fd, &b, 1), 0);
    EXPECT_EQ(write(fd, &b, 1), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);
}

TEST(PtyHarness, DisconnectHangsUpTheLibrarySide) {
    EmulatorBase dev(6);
    dev.Start();
    int fd = OpenPort(6);
    ASSERT_GE(fd, 0);
    dev.Disconnect();
    EXPECT_FALSE(dev.Send(B("late")));
    struct pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    close(fd);
}

TEST(PtyHarness, StopsQuicklyWhileIdleAndAfterSpareClosed) {
    EmulatorBase dev(5);
    dev.Start();
    int fd = OpenPort(5);
    ASSERT_GE(fd, 0);
    dev.pty().CloseSpare();
    close(fd);   // master now hung up
    auto t0 = std::chrono::steady_clock::now();
    dev.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
}

// A line paced to 9600 baud with 10 bits a byte: a 48-byte request takes
// 50 ms to arrive and its 48-byte echo another 50 ms, so the echo is whole
// only after about 100 ms and never in a piece before its time.
TEST(PtyHarness, PacedLineTakesTheBytesTimeOnTheWireBothWays) {
    EmulatorBase dev(3);
    dev.SetLineSpeed(9600, 10);
    dev.SetResponder([](EmulatorBase& self, const uint8_t* d, size_t n) { self.Send(Bytes(d, d + n)); });
    dev.Start();
    int fd = OpenPort(3);
    ASSERT_GE(fd, 0);
    const Bytes request(48, 'x');
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(write(fd, request.data(), request.size()), 48);
    EXPECT_TRUE(ReadSome(fd, 1, 80).empty());   // nothing before the request is even in
    const Bytes echo = ReadSome(fd, 48, 2000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(echo, request);
    EXPECT_GE(ms, 99);
    EXPECT_LT(ms, 1000);
    close(fd);
}
