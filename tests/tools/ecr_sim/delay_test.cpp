// ecr-sim --delay: every device the simulator offers answers that much
// later, so a host can be tried against a slow device of any family. Each
// device serves a job of the library through the exports; the test sits on
// the line between them and times, for every request, how long the device
// takes to start its answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/recording_host.h"
#include "fakes/simulator_process.h"
#include "orvanta/ecr.h"
#include "sim/pty_pair.h"

namespace orv::test {
namespace {

constexpr int kDelayMs = 300;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Passes the bytes both ways between the library's port and the simulator,
// and keeps how long each answer took to start after its request.
class TimingLine {
public:
    TimingLine(int libraryPort, const std::string& devicePath) : m_pty(libraryPort) {
        m_device = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_device >= 0) m_thread = std::thread([this] { Loop(); });
    }
    ~TimingLine() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_device >= 0) ::close(m_device);
    }
    bool Ready() const { return m_device >= 0; }
    std::vector<int64_t> Gaps() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_gaps;
    }

private:
    static bool Copy(int from, int to) {
        uint8_t buf[4096];
        const ssize_t n = ::read(from, buf, sizeof buf);
        if (n <= 0) return false;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buf + done, static_cast<size_t>(n - done));
            if (w > 0) done += w;
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void Loop() {
        int64_t asked = -1;   // when the last request bytes passed, -1: answered
        while (!m_stop) {
            struct pollfd fds[2] = {{m_pty.master(), POLLIN, 0}, {m_device, POLLIN, 0}};
            if (::poll(fds, 2, 20) <= 0) continue;
            if ((fds[0].revents & POLLIN) && Copy(m_pty.master(), m_device)) asked = NowMs();
            if ((fds[1].revents & POLLIN) && Copy(m_device, m_pty.master()) && asked >= 0) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_gaps.push_back(NowMs() - asked);
                asked = -1;
            }
        }
    }

    PtyPair m_pty;
    int m_device = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<int64_t> m_gaps;
};

int ReadVat(const EcrDeviceRecord* d) { return EcrReadVAT(d, &RecordingHost::OnVat); }
int ReadDepts(const EcrDeviceRecord* d) { return EcrReadAllDEPT(d, &RecordingHost::OnDeptRead); }
int ReadGoods(const EcrDeviceRecord* d) { return EcrReadAllPLU(d, &RecordingHost::OnItemRead); }
int ProgramOne(const EcrDeviceRecord* d) {
    static EcrItemRecord item =
        HostItemRecord({.number = 1, .name = "Kawa", .code = "1", .price = 1.5, .vat = 1, .dept = 1});
    return EcrPgmPLU(d, &item, 1, &RecordingHost::OnItemProgram);
}

struct Case {
    const char* device;
    int type;
    std::function<int(const EcrDeviceRecord*)> job;
    std::vector<std::string> extra = {};
    int word7 = 0;   // the Sharp machine number
};

// How long the device took to answer each request of one job, the delay
// given; the job is broken off once a few answers were timed.
std::vector<int64_t> AnswerTimes(const Case& c, int delayMs) {
    Simulator sim;
    std::vector<std::string> args = {"--device", c.device, "--type", std::to_string(c.type), "--port", "12",
                                     "--delay", std::to_string(delayMs)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const std::string line = sim.Start(args);
    if (line.rfind("ECR_COM12=", 0) != 0) {
        ADD_FAILURE() << "ecr-sim said: " << line;
        return {};
    }
    TimingLine timing(11, line.substr(10));
    if (!timing.Ready()) {
        ADD_FAILURE() << "cannot open " << line;
        return {};
    }
    Host().Reset();
    EcrCreate(nullptr);
    EcrDeviceRecord dev = DeviceRecord(c.type, 11, 9600);
    dev.word7 = c.word7;
    EXPECT_EQ(c.job(&dev), 1);
    const int64_t end = NowMs() + 4000;
    while (EcrIsDone() == 0 && timing.Gaps().size() < 3 && NowMs() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EcrBreakJob();
    EXPECT_TRUE(WaitEcrDone(20000));
    sim.Stop(SIGTERM);
    return timing.Gaps();
}

int64_t Median(std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

const std::vector<Case>& Devices() {
    static const std::vector<Case> cases = {
        {"elzab", 27, ReadVat},
        {"elcom50", 16, ReadVat},
        {"dsa", 15, ReadDepts},
        {"perfekt", 38, ReadVat},
        {"posnet-ecr", 21, ReadGoods},
        {"sharp", 33, ReadGoods, {}, 1},
        {"ncr", 8, ReadGoods},
        {"elemis", 75, ReadGoods},
        {"adax", 19, ReadGoods},
        {"dsp800", 101, ReadGoods},
        {"cr280", 11, ReadDepts},
        {"hida", 23, ReadDepts},
        {"dibal", 103, ProgramOne},
        {"tango", 12, ReadVat},
        {"next", 85, ReadVat, {"--serial"}},
        {"caslp", 105, ReadGoods},
        {"medesa", 100, ReadDepts},
    };
    return cases;
}

// One test a device, so that each runs (and is timed) on its own.
class SimulatorDelay : public ::testing::TestWithParam<size_t> {};

TEST_P(SimulatorDelay, EveryDeviceAnswersLate) {
    if (access(SimulatorPath().c_str(), X_OK) != 0) GTEST_SKIP() << "ecr-sim is not built";
    const Case& c = Devices()[GetParam()];
    SCOPED_TRACE(c.device);
    const std::vector<int64_t> late = AnswerTimes(c, kDelayMs);
    ASSERT_FALSE(late.empty()) << "no answer";
    EXPECT_GE(Median(late), kDelayMs * 9 / 10) << "answers after " << ::testing::PrintToString(late) << " ms";
}

INSTANTIATE_TEST_SUITE_P(Devices, SimulatorDelay, ::testing::Range<size_t>(0, Devices().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name = Devices()[info.param].device;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace orv::test
