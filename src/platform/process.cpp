#include "platform/process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "platform/clock.h"

extern char** environ;

namespace orv::platform {

namespace {

// A descriptor that becomes readable when the process ends (Linux 5.3 and
// later); -1 when the kernel offers none.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) return static_cast<int>(fd);
#else
    (void)pid;
#endif
    return -1;
}

void Record(int status, ProcessResult& result) {
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.termSignal = WTERMSIG(status);
    }
}

// Reaps the process when it has ended. `block` waits for it. ECHILD (the
// host lets the system reap its children) counts as ended.
bool Reap(pid_t pid, bool block, ProcessResult& result) {
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r == pid) {
            Record(status, result);
            return true;
        }
        if (r == 0) return false;
        if (errno == EINTR) continue;
        return true;   // ECHILD: nothing left to wait for
    }
}

// Waits at most timeoutMs (-1: no limit) for the end, ignoring any break.
bool WaitEnded(pid_t pid, int pidFd, int timeoutMs, ProcessResult& result) {
    if (pidFd >= 0) {
        const int r = WaitForFd(pidFd, POLLIN, nullptr, timeoutMs);
        if (r == kWaitReady) return Reap(pid, true, result);
        if (r == kWaitTimeout) return Reap(pid, false, result);
        // the descriptor failed: wait the plain way below
    }
    const int64_t end = MonotonicMillis() + timeoutMs;
    for (;;) {
        if (Reap(pid, false, result)) return true;
        if (timeoutMs >= 0 && MonotonicMillis() >= end) return false;
        SleepUnlessBroken(nullptr, 20);
    }
}

void Signal(pid_t pid, int sig) {
    // The program leads its own group; fall back to the process alone.
    if (::kill(-pid, sig) != 0) ::kill(pid, sig);
}

void Terminate(pid_t pid, int pidFd, ProcessResult& result) {
    Signal(pid, SIGTERM);
    int64_t grace = ScaledMillis(kTerminateGraceSeconds);
    if (grace > INT_MAX) grace = INT_MAX;
    if (WaitEnded(pid, pidFd, static_cast<int>(grace), result)) return;
    Signal(pid, SIGKILL);
    WaitEnded(pid, pidFd, -1, result);
}

// The program inherits standard input, output and error only.
class SpawnActions {
public:
    SpawnActions() {
        m_ok = ::posix_spawn_file_actions_init(&m_actions) == 0;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        if (m_ok) ::posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
#endif
    }
    ~SpawnActions() {
        if (m_ok) ::posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    const posix_spawn_file_actions_t* get() const { return m_ok ? &m_actions : nullptr; }

private:
    posix_spawn_file_actions_t m_actions{};
    bool m_ok = false;
};

class SpawnAttributes {
public:
    SpawnAttributes() {
        m_ok = ::posix_spawnattr_init(&m_attr) == 0;
        if (!m_ok) return;
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2})
            sigaddset(&defaults, s);
        ::posix_spawnattr_setsigmask(&m_attr, &none);
        ::posix_spawnattr_setsigdefault(&m_attr, &defaults);
        ::posix_spawnattr_setpgroup(&m_attr, 0);
        ::posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    ~SpawnAttributes() {
        if (m_ok) ::posix_spawnattr_destroy(&m_attr);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return m_ok ? &m_attr : nullptr; }

private:
    posix_spawnattr_t m_attr{};
    bool m_ok = false;
};

}  // namespace

ProcessResult SystemProcessRunner::Run(const std::string& program, const std::vector<std::string>& args,
                                       const BreakSignal* brk) {
    ProcessResult result;
    if (brk && brk->IsSet()) {
        result.outcome = kProcessBroken;
        return result;
    }
    if (program.empty()) {
        result.startError = ENOENT;
        return result;
    }

    std::vector<std::string> argvText;
    argvText.reserve(args.size() + 1);
    argvText.push_back(program);
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argvText.size() + 1);
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    SpawnAttributes attributes;
    SpawnActions actions;
    pid_t pid = -1;
    // posix_spawn, unlike posix_spawnp, takes the name as a path: a relative
    // name is found in the current directory only.
    int rc = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
    if (rc != 0) {
        result.startError = rc;
        return result;
    }

    const int pidFd = OpenPidFd(pid);
    bool usePidFd = pidFd >= 0;
    for (;;) {
        if (usePidFd) {
            // The program's end or the break, whichever comes first (the
            // wait also copes with a break descriptor woken without a break).
            const int r = WaitForFd(pidFd, POLLIN, brk, -1);
            if (r == kWaitReady) {
                Reap(pid, true, result);
                result.outcome = kProcessEnded;
                break;
            }
            if (r != kWaitBroken) usePidFd = false;   // the descriptor failed: wait the plain way below
        } else {
            if (Reap(pid, false, result)) {
                result.outcome = kProcessEnded;
                break;
            }
            SleepUnlessBroken(brk, 50);
        }
        if (brk && brk->IsSet()) {
            Terminate(pid, pidFd, result);
            result.outcome = kProcessBroken;
            break;
        }
    }
    if (pidFd >= 0) ::close(pidFd);
    return result;
}

ProcessRunner& DefaultProcessRunner() {
    static SystemProcessRunner runner;
    return runner;
}

}  // namespace orv::platform
