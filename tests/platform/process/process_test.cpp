// The process runner: programs named by path and found in the current
// directory only, arguments without a shell, the caller's environment and
// working directory, exit codes, start failures, a break that terminates
// the program (SIGTERM, then SIGKILL) and reaps it, and hosts that let the
// system reap their children or reap them themselves.
#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/break_signal.h"
#include "platform/clock.h"
#include "platform/process/work_dir.h"

namespace {

using orv::platform::BreakSignal;
using orv::platform::ProcessResult;
using orv::platform::SystemProcessRunner;
using orv::test::WorkDir;

class ProcessRunnerTest : public ::testing::Test {
protected:
    void TearDown() override { orv::platform::SetTimeScale(1.0); }

    WorkDir dir;
    SystemProcessRunner runner;
    BreakSignal brk;
};

TEST_F(ProcessRunnerTest, PassesArgumentsUnchangedInTheCallersDirectoryAndEnvironment) {
    dir.InstallFake("tool.exe");
    ::setenv("ORVANTA_FAKE_TAG", "from the caller", 1);
    // Blanks, quotes and shell characters reach the program as they stand.
    const std::vector<std::string> args = {"a b", "\"q\"", "$(echo x);|&", ""};
    const ProcessResult r = runner.Run("./tool.exe", args, &brk);
    ::unsetenv("ORVANTA_FAKE_TAG");

    ASSERT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(r.exitCode, 0);
    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    const std::vector<std::string> expected = {"tool.exe", dir.Path(), "a b", "\"q\"", "$(echo x);|&", ""};
    EXPECT_EQ(calls[0], expected);
    EXPECT_EQ(dir.Read("fake_env").value_or(""), "from the caller");
}

TEST_F(ProcessRunnerTest, TheProgramInheritsOnlyTheStandardDescriptors) {
    dir.InstallFake("tool.exe");
    const int leaked = ::open("/dev/null", O_RDONLY);   // without close-on-exec
    ASSERT_GE(leaked, 3);
    const ProcessResult r = runner.Run("./tool.exe", {}, &brk);
    ::close(leaked);
    ASSERT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(dir.Read("fake_fds").value_or("?"), "");
}

TEST_F(ProcessRunnerTest, ReportsTheExitCodeOfAProgramThatEnds) {
    dir.InstallFake("tool.exe");
    dir.Write("fake_exit", "3");
    const ProcessResult r = runner.Run("./tool.exe", {}, &brk);
    EXPECT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.termSignal, 0);
}

TEST_F(ProcessRunnerTest, ProgramsAreNotSearchedAlongThePath) {
    // The fake is on PATH under its own name, but not in this directory.
    const char* oldPath = std::getenv("PATH");
    const std::string saved = oldPath ? oldPath : "";
    ::setenv("PATH", ORVANTA_FAKES_DIR, 1);
    const ProcessResult bare = runner.Run("fake_transfer", {}, &brk);
    const ProcessResult dotted = runner.Run("./fake_transfer", {}, &brk);
    ::setenv("PATH", saved.c_str(), 1);

    EXPECT_EQ(bare.outcome, orv::platform::kProcessNotStarted);
    EXPECT_EQ(bare.startError, ENOENT);
    EXPECT_EQ(dotted.outcome, orv::platform::kProcessNotStarted);
    EXPECT_FALSE(dir.Exists("fake_calls.txt"));
}

TEST_F(ProcessRunnerTest, AFileThatCannotRunIsNotStarted) {
    dir.Write("plain.exe", "not a program");
    const ProcessResult r = runner.Run("./plain.exe", {}, &brk);
    EXPECT_EQ(r.outcome, orv::platform::kProcessNotStarted);
    EXPECT_NE(r.startError, 0);
    EXPECT_EQ(runner.Run("", {}, &brk).outcome, orv::platform::kProcessNotStarted);
}

TEST_F(ProcessRunnerTest, ABreakTerminatesAHangingProgramAndReapsIt) {
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "60");
    auto run = std::async(std::launch::async, [&] { return runner.Run("./tool.exe", {}, &brk); });
    const int pid = dir.WaitForPid();
    ASSERT_GT(pid, 0);
    const auto start = std::chrono::steady_clock::now();
    brk.Set();
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const ProcessResult r = run.get();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(r.outcome, orv::platform::kProcessBroken);
    EXPECT_EQ(r.termSignal, SIGTERM);
    EXPECT_TRUE(orv::test::ProcessGone(pid));
}

TEST_F(ProcessRunnerTest, AProgramIgnoringSigtermIsKilledAfterTheGracePeriod) {
    orv::platform::SetTimeScale(0.1);   // grace period 0.3 s
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "60");
    dir.Write("fake_ignore_term", "");
    auto run = std::async(std::launch::async, [&] { return runner.Run("./tool.exe", {}, &brk); });
    const int pid = dir.WaitForPid();
    ASSERT_GT(pid, 0);
    brk.Set();
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const ProcessResult r = run.get();
    EXPECT_EQ(r.outcome, orv::platform::kProcessBroken);
    EXPECT_EQ(r.termSignal, SIGKILL);
    EXPECT_TRUE(orv::test::ProcessGone(pid));
}

// CPU time the calling thread has used, in seconds.
double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST_F(ProcessRunnerTest, AWakeUpWithoutABreakNeitherSpinsNorHidesALaterBreak) {
    // A break given as the job started and cleared again can leave the
    // break's descriptor readable with no break set.
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "0.5");
    const uint64_t one = 1;
    ASSERT_EQ(::write(brk.fd(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
    const double cpu = ThreadCpuSeconds();
    const ProcessResult r = runner.Run("./tool.exe", {}, &brk);
    EXPECT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_LT(ThreadCpuSeconds() - cpu, 0.2);   // it waited, it did not spin

    // A real break after such a wake-up still ends the wait in time.
    dir.Write("fake_sleep", "60");
    ::unlink(dir.File("fake_pid").c_str());
    auto run = std::async(std::launch::async, [&] { return runner.Run("./tool.exe", {}, &brk); });
    const int pid = dir.WaitForPid();
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    brk.Set();
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(run.get().outcome, orv::platform::kProcessBroken);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(orv::test::ProcessGone(pid));
}

TEST_F(ProcessRunnerTest, ABreakGivenBeforeTheStartStartsNothing) {
    dir.InstallFake("tool.exe");
    brk.Set();
    EXPECT_EQ(runner.Run("./tool.exe", {}, &brk).outcome, orv::platform::kProcessBroken);
    EXPECT_FALSE(dir.Exists("fake_calls.txt"));
}

TEST_F(ProcessRunnerTest, WaitsWithoutABreakSignal) {
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "0.2");
    const ProcessResult r = runner.Run("./tool.exe", {"x"}, nullptr);
    EXPECT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(dir.Calls().size(), 1u);
}

TEST_F(ProcessRunnerTest, TheProgramsStatusArrivesWhateverTheHostDoesWithSigchld) {
    // A host that ignores SIGCHLD has its children reaped by the system; a
    // host with a reaping handler takes their status itself. Neither may
    // turn a crash into success.
    struct Host {
        const char* what;
        void (*handler)(int);
        int flags;
    };
    const Host hosts[] = {
        {"ignores SIGCHLD", SIG_IGN, 0},
        {"reaps children in a handler", &orv::test::ReapEveryChild, SA_RESTART},
        {"asks for no zombies", SIG_DFL, SA_NOCLDWAIT},
    };
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "0.1");
    for (const Host& h : hosts) {
        SCOPED_TRACE(h.what);
        std::optional<orv::test::HostSigchld> host(std::in_place, h.handler, h.flags);

        dir.Write("fake_exit", "3");
        const ProcessResult exited = runner.Run("./tool.exe", {}, &brk);
        ::unlink(dir.File("fake_exit").c_str());
        dir.Write("fake_signal", std::to_string(SIGSEGV));
        const ProcessResult crashed = runner.Run("./tool.exe", {}, &brk);
        ::unlink(dir.File("fake_signal").c_str());
        dir.Write("fake_sleep", "60");
        ::unlink(dir.File("fake_pid").c_str());
        auto run = std::async(std::launch::async, [&] { return runner.Run("./tool.exe", {}, &brk); });
        const int pid = dir.WaitForPid();
        brk.Set();
        const auto status = run.wait_for(std::chrono::seconds(10));
        brk.Clear();
        dir.Write("fake_sleep", "0.1");

        host.reset();
        EXPECT_EQ(exited.outcome, orv::platform::kProcessEnded);
        EXPECT_EQ(exited.exitCode, 3);
        EXPECT_EQ(crashed.outcome, orv::platform::kProcessEnded);
        EXPECT_EQ(crashed.termSignal, SIGSEGV);
        ASSERT_EQ(status, std::future_status::ready);
        const ProcessResult broken = run.get();
        EXPECT_EQ(broken.outcome, orv::platform::kProcessBroken);
        EXPECT_EQ(broken.termSignal, SIGTERM);
        EXPECT_TRUE(orv::test::ProcessGone(pid));
    }
}

// The program starts from a clean slate whatever the host had: no signal
// blocked, none of the usual ones ignored, no descriptor but the standard
// three (checked above), and the host's own children untouched.
TEST_F(ProcessRunnerTest, TheHostsSignalStateDoesNotReachTheProgram) {
    dir.InstallFake("tool.exe");
    struct sigaction old {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGTERM, &ignore, &old);
    sigset_t blocked, oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask);
    dir.Write("fake_sleep", "60");
    auto run = std::async(std::launch::async, [&] { return runner.Run("./tool.exe", {}, &brk); });
    const int pid = dir.WaitForPid();
    brk.Set();
    const auto status = run.wait_for(std::chrono::seconds(10));
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGTERM, &old, nullptr);
    ASSERT_EQ(status, std::future_status::ready);
    // SIGTERM ended it at once: it was neither ignored nor blocked there.
    EXPECT_EQ(run.get().termSignal, SIGTERM);
    EXPECT_TRUE(orv::test::ProcessGone(pid));
}

}  // namespace
