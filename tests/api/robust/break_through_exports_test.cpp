// EcrBreakJob at random moments of a job that reads a real line (a
// pseudo-terminal fed by a device thread at random pace): the job ends
// within 50 ms with -7, the records the host got are whole, in order and
// none twice, and the next job opens the same port again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <termios.h>

#include "api/registry.h"
#include "sim/pty_pair.h"
#include "fakes/recording_host.h"
#include "job/logic_ecr.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "platform/message_hook.h"

using orv::test::Host;
using orv::test::PtyPair;
using orv::test::RecordingHost;
namespace api = orv::api;

namespace {

constexpr int kPort = 7;

// Reads goods lines ("<number>;<name>\n") from the port until the device
// sends an empty line; every line becomes one record for the host.
class LineReaderLogic : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return SerialErrorText(code); }
    int Open(int port, const EcrDeviceRecord*) override {
        const int e = m_pSerial->Open(port, 1024, 1024, 9600, 8, 'N', 1);
        if (e == 0) {
            m_pSerial->FlushInput(port);   // what an earlier session left on the line
            return 1;
        }
        SetError(e, SerialErrorText(e));
        return 0;
    }
    int Close(int port) override {
        m_pSerial->Close(port, 0);
        return 1;
    }
    int ReadAllPLU(int port, EcrItemReadCallback) override {
        for (;;) {
            CChrArr line = m_pSerial->ReadUntil(port, '\n', 200, 1000);
            const int e = m_pSerial->GetError(port);
            if (e != 0) {
                SetError(e, SerialErrorText(e));
                return 0;
            }
            std::string s = line.ToString();
            s.pop_back();
            if (s.empty()) return 1;
            EcrItemRecord item;
            std::memset(&item, 0xAA, sizeof item);   // every byte the host sees is set below
            std::memset(item.name, 0, sizeof item.name);
            const size_t semi = s.find(';');
            item.number = static_cast<uint32_t>(std::stoul(s.substr(0, semi)));
            std::strncpy(item.name, s.substr(semi + 1).c_str(), sizeof item.name - 1);
            SendPLU(&item);
        }
    }
};

bool WaitDone(int ms) { return orv::test::WaitEcrDone(ms); }

// The line-reading logic in place of the CS6_ECR object, on a pseudo-terminal.
class BreakThroughExports : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitDone(10000));
        orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int def) { return def; });
        api::SetTestLogic("CS6_ECR", &logic);
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(WaitDone(10000));
        api::ClearTestLogics();
        orv::platform::SetMessageHook(nullptr);
    }

    LineReaderLogic logic;
    PtyPair pty{kPort};
};

}  // namespace

TEST_F(BreakThroughExports, BreakAtRandomMomentsEndsALineReadingJobAtOnceAndLosesNothing) {
    std::mt19937 gen(8080);
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };

    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Host().Reset();
        // A break while idle must not end the next job.
        if (rnd(0, 3) == 0) {
            EXPECT_EQ(EcrBreakJob(), 0);
        }
        EcrDeviceRecord dev = orv::test::DeviceRecord(1, kPort);
        ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1) << EcrErrMsg();

        // The device sends numbered lines at random pace, never the end.
        std::atomic<bool> stop{false};
        std::thread device([&, seed = static_cast<unsigned>(round)] {
            std::mt19937 g(seed);
            for (int n = 1; !stop.load() && n < 100000; ++n) {
                std::string line = std::to_string(n) + ";" + std::string(static_cast<size_t>(g() % 60), 'a' + n % 26) + "\n";
                // Split at a random point, with a pause between the halves.
                const size_t cut = g() % line.size();
                pty.WriteMaster(line.data(), cut, 1000);
                if (g() % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(g() % 3000));
                pty.WriteMaster(line.data() + cut, line.size() - cut, 1000);
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(rnd(0, 60)));
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(EcrBreakJob(), 1);
        bool done = false;
        while (!done && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(3)) done = EcrIsDone() == 1;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
        stop = true;
        device.join();
        ASSERT_TRUE(done) << "the job did not end after the break";
        // The wait ends within 50 ms; the job's close, last events and the
        // polling add a little on a machine busy with other tests.
        EXPECT_LT(ms, 150);
        EXPECT_EQ(EcrError(), -7);
        const auto codes = Host().EventCodes();
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), ECR_EVENT_CLOSED);
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_FAILED), 1);
        // Records: 1, 2, 3, ... whole and in order.
        const auto items = Host().Items();
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].number, i + 1);
            ASSERT_NE(std::memchr(items[i].name, 0, sizeof items[i].name), nullptr);
            const std::string name = items[i].name;
            for (char c : name) EXPECT_EQ(c, static_cast<char>('a' + (i + 1) % 26));
        }
        // What the device sent after the break settles before the next
        // round, whose open drops it.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        tcflush(pty.master(), TCIOFLUSH);
    }
}

// A host whose process cannot start one more thread (a container's task
// limit, memory pressure): the job is refused with a nonzero code, and the
// device it had opened is closed again, so the next job opens the port
// instead of finding it in use forever.
TEST_F(BreakThroughExports, AJobWhoseWorkerCannotStartClosesItsDevice) {
    EcrDeviceRecord dev = orv::test::DeviceRecord(1, kPort);

    // No new thread can get its stack.
    pthread_attr_t normal;
    ASSERT_EQ(pthread_getattr_default_np(&normal), 0);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, static_cast<size_t>(1) << 47);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    Host().Reset();
    const int r = EcrReadAllPLU(&dev, &RecordingHost::OnItemRead);
    pthread_setattr_default_np(&normal);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&normal);
    if (r == 1) {
        ASSERT_TRUE(WaitDone(10000));
        GTEST_SKIP() << "threads start here even with a stack larger than the address space";
    }
    EXPECT_EQ(EcrIsDone(), 1);
    EXPECT_NE(EcrError(), 0);
    const auto codes = Host().EventCodes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), ECR_EVENT_OPENING);
    EXPECT_EQ(codes.back(), ECR_EVENT_CLOSED) << "the opened device was not closed";

    // The next job opens the port and runs.
    Host().Reset();
    ASSERT_EQ(EcrReadAllPLU(&dev, &RecordingHost::OnItemRead), 1) << orv::test::Utf8(EcrErrMsg());
    ASSERT_TRUE(pty.WriteMaster("1;abc\n\n", 7));
    ASSERT_TRUE(WaitDone(10000));
    EXPECT_EQ(EcrError(), 0) << orv::test::Utf8(EcrErrMsg());
    EXPECT_EQ(Host().Items().size(), 1u);
}
