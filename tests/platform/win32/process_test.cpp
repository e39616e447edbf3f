// The process runner of the Windows build: programs named by path and found
// in the current directory only, arguments reaching the program's argv as
// they stand, the caller's environment and working directory, no inherited
// handles, exit codes and crashes, start failures, batch files through the
// command interpreter without letting it expand arguments, and a break that
// ends the program's whole tree (a polite close first where the program has
// a window).
#include "platform/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>
#include <string>
#include <vector>

#include "platform/break_signal.h"
#include "platform/clock.h"
#include "platform/win32/work_dir.h"

namespace {

using orv::platform::BreakSignal;
using orv::platform::ProcessResult;
using orv::platform::SystemProcessRunner;
using orv::test::WorkDir;

constexpr int kSigKill = 9;

class Win32ProcessRunner : public ::testing::Test {
protected:
    void TearDown() override { orv::platform::SetTimeScale(1.0); }

    // Runs the program on a thread of its own; waits for it to have started
    // (its id in fake_pid), then gives the break.
    ProcessResult RunAndBreak(const std::string& program, std::chrono::milliseconds& took) {
        auto run = std::async(std::launch::async, [&] { return runner.Run(program, {}, &brk); });
        const DWORD pid = dir.WaitForPid();
        EXPECT_NE(pid, 0u);
        if (dir.Exists("fake_window")) WaitForWindow();
        const auto start = std::chrono::steady_clock::now();
        brk.Set();
        if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "the break did not end the wait";
            std::abort();
        }
        took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_TRUE(orv::test::ProcessGone(pid));
        return run.get();
    }

    void WaitForWindow() const {
        for (int i = 0; i < 2000 && !dir.Exists("fake_window_shown"); ++i) ::Sleep(5);
    }

    WorkDir dir;
    SystemProcessRunner runner;
    BreakSignal brk;
};

TEST_F(Win32ProcessRunner, PassesArgumentsUnchangedInTheCallersDirectoryAndEnvironment) {
    dir.InstallFake("tool.exe");
    ::SetEnvironmentVariableW(L"ORVANTA_FAKE_TAG", L"from the caller");
    // Blanks, quotes, backslashes before quotes and at the end, shell
    // characters and an empty argument reach the program as they stand.
    const std::vector<std::string> args = {"a b",       "\"q\"", "C:\\dir with blank\\", "x\\\"y", "\\\\srv\\",
                                           "%PATH%;|&", "",      "tab\vhere",           "W=1"};
    const ProcessResult r = runner.Run("./tool.exe", args, &brk);
    ::SetEnvironmentVariableW(L"ORVANTA_FAKE_TAG", nullptr);

    ASSERT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(r.exitCode, 0);
    const auto calls = dir.Calls();
    ASSERT_EQ(calls.size(), 1u);
    std::vector<std::string> expected = {"tool.exe", dir.Path()};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(calls[0], expected);
    EXPECT_EQ(dir.Read("fake_env").value_or(""), "from the caller");
}

TEST_F(Win32ProcessRunner, TheProgramInheritsNoHandle) {
    dir.InstallFake("tool.exe");
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE probe = ::CreateEventW(&inheritable, TRUE, TRUE, nullptr);
    ASSERT_NE(probe, nullptr);
    dir.Write("fake_probe_handle", std::to_string(reinterpret_cast<uintptr_t>(probe)));
    const ProcessResult r = runner.Run("./tool.exe", {}, &brk);
    ::CloseHandle(probe);
    ASSERT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(dir.Read("fake_handle").value_or("?"), "");
}

TEST_F(Win32ProcessRunner, ReportsExitCodesAndTellsCrashesFromThem) {
    dir.InstallFake("tool.exe");
    struct Case {
        const char* exitFile;
        const char* signalFile;
        int exitCode;
        int termSignal;
    };
    const Case cases[] = {
        {"3", nullptr, 3, 0},
        {"-1", nullptr, -1, 0},             // an exit code, not an exception
        {"259", nullptr, 259, 0},           // the value that means "still running" while it runs
        {nullptr, "11", -1, SIGSEGV},       // access violation
        {nullptr, "8", -1, SIGFPE},         // division by zero
        {nullptr, "6", -1, SIGABRT},        // fast fail
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitFile ? c.exitFile : c.signalFile);
        dir.Remove("fake_exit");
        dir.Remove("fake_signal");
        if (c.exitFile) dir.Write("fake_exit", c.exitFile);
        if (c.signalFile) dir.Write("fake_signal", c.signalFile);
        const ProcessResult r = runner.Run("./tool.exe", {}, &brk);
        EXPECT_EQ(r.outcome, orv::platform::kProcessEnded);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.termSignal, c.termSignal);
    }
}

TEST_F(Win32ProcessRunner, ProgramsAreNotSearchedForNorGivenAnExtension) {
    // The fake is on PATH, but not here.
    wchar_t oldPath[32768];
    const DWORD n = ::GetEnvironmentVariableW(L"PATH", oldPath, 32768);
    ::SetEnvironmentVariableW(L"PATH", orv::test::FakesDir().wstring().c_str());
    const ProcessResult bare = runner.Run("fake_transfer.exe", {}, &brk);
    const ProcessResult dotted = runner.Run("./fake_transfer.exe", {}, &brk);
    ::SetEnvironmentVariableW(L"PATH", n > 0 && n < 32768 ? oldPath : nullptr);
    EXPECT_EQ(bare.outcome, orv::platform::kProcessNotStarted);
    EXPECT_EQ(bare.startError, ENOENT);
    EXPECT_EQ(dotted.outcome, orv::platform::kProcessNotStarted);

    // Here, but named without its extension.
    dir.InstallFake("tool.exe");
    const ProcessResult noExtension = runner.Run("./tool", {}, &brk);
    EXPECT_EQ(noExtension.outcome, orv::platform::kProcessNotStarted);
    EXPECT_FALSE(dir.Exists("fake_calls.txt"));
}

TEST_F(Win32ProcessRunner, AFileThatCannotRunIsNotStarted) {
    dir.Write("plain.exe", "not a program");
    const ProcessResult r = runner.Run("./plain.exe", {}, &brk);
    EXPECT_EQ(r.outcome, orv::platform::kProcessNotStarted);
    EXPECT_NE(r.startError, 0);
    EXPECT_EQ(runner.Run("", {}, &brk).outcome, orv::platform::kProcessNotStarted);
}

TEST_F(Win32ProcessRunner, BatchFilesRunInTheInterpreterWithoutExpandingArguments) {
    dir.Write("Eco_Print.bat", "@echo off\r\necho [%1]>bat_out.txt\r\nexit /b 5\r\n");
    const ProcessResult plain = runner.Run("./Eco_Print.bat", {}, &brk);
    EXPECT_EQ(plain.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(plain.exitCode, 5);
    EXPECT_EQ(dir.Read("bat_out.txt").value_or(""), "[]\r\n");

    const ProcessResult blank = runner.Run("./Eco_Print.bat", {"a b&c"}, &brk);
    EXPECT_EQ(blank.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(dir.Read("bat_out.txt").value_or(""), "[\"a b&c\"]\r\n");   // quoted: & is text

    // What the interpreter would expand or cut is refused, not run.
    for (const char* arg : {"100%", "%PATH%", "x\"y", "a\r\nb", "!x!"}) {
        SCOPED_TRACE(arg);
        dir.Remove("bat_out.txt");
        const ProcessResult r = runner.Run("./Eco_Print.bat", {arg}, &brk);
        EXPECT_EQ(r.outcome, orv::platform::kProcessNotStarted);
        EXPECT_EQ(r.startError, EINVAL);
        EXPECT_FALSE(dir.Exists("bat_out.txt"));
    }
    EXPECT_EQ(runner.Run("./Missing.bat", {}, &brk).startError, ENOENT);
}

TEST_F(Win32ProcessRunner, ABreakEndsAConsoleProgramAndEverythingItStarted) {
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "60");
    dir.Write("fake_child", "");
    std::chrono::milliseconds took{};
    const ProcessResult r = RunAndBreak("./tool.exe", took);
    EXPECT_EQ(r.outcome, orv::platform::kProcessBroken);
    EXPECT_EQ(r.termSignal, kSigKill);   // no window to ask: terminated at once
    EXPECT_LT(took, std::chrono::seconds(2));
    const DWORD child = dir.WaitForPid("fake_child_pid");
    ASSERT_NE(child, 0u);
    EXPECT_TRUE(orv::test::ProcessGone(child));
}

TEST_F(Win32ProcessRunner, ABreakFirstAsksAProgramWithAWindowToClose) {
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "60");
    dir.Write("fake_window", "");
    std::chrono::milliseconds took{};
    const ProcessResult r = RunAndBreak("./tool.exe", took);
    if (dir.Read("fake_window_shown").value_or("0") != "1") GTEST_SKIP() << "no window can be shown here";
    EXPECT_EQ(r.outcome, orv::platform::kProcessBroken);
    EXPECT_EQ(r.termSignal, SIGTERM);
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(Win32ProcessRunner, AProgramThatDoesNotCloseIsTerminatedAfterTheGracePeriod) {
    orv::platform::SetTimeScale(0.1);   // grace period 0.3 s
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "60");
    dir.Write("fake_window", "");
    dir.Write("fake_ignore_term", "");
    std::chrono::milliseconds took{};
    const ProcessResult r = RunAndBreak("./tool.exe", took);
    if (dir.Read("fake_window_shown").value_or("0") != "1") GTEST_SKIP() << "no window can be shown here";
    EXPECT_EQ(r.outcome, orv::platform::kProcessBroken);
    EXPECT_EQ(r.termSignal, kSigKill);
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST_F(Win32ProcessRunner, ABreakGivenBeforeTheStartStartsNothing) {
    dir.InstallFake("tool.exe");
    brk.Set();
    EXPECT_EQ(runner.Run("./tool.exe", {}, &brk).outcome, orv::platform::kProcessBroken);
    EXPECT_FALSE(dir.Exists("fake_calls.txt"));
}

TEST_F(Win32ProcessRunner, WaitsWithoutABreakSignalAndWithoutSpinning) {
    dir.InstallFake("tool.exe");
    dir.Write("fake_sleep", "0.5");
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel0, &user0);
    const ProcessResult r = runner.Run("./tool.exe", {"x"}, nullptr);
    const ProcessResult withBreak = runner.Run("./tool.exe", {"y"}, &brk);
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel1, &user1);
    EXPECT_EQ(r.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(withBreak.outcome, orv::platform::kProcessEnded);
    EXPECT_EQ(dir.Calls().size(), 2u);
    auto ticks = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    const uint64_t cpu100ns = ticks(kernel1) - ticks(kernel0) + ticks(user1) - ticks(user0);
    EXPECT_LT(cpu100ns, 2000000u);   // under 0.2 s of a second's wait
}

}  // namespace
