#include "platform/process.h"

#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/clock.h"

extern char** environ;

namespace orv::platform {

namespace {

// Signals a host may have set to be ignored; the program starts with all of
// them at their defaults (and with no signal blocked).
constexpr int kDefaultSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2};

void Record(int status, ProcessResult& result) {
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.termSignal = WTERMSIG(status);
    }
}

// ---- starting ----
//
// The program is not a child of this process but of a small keeper process
// that is. The keeper is cloned with no exit signal and never runs another
// program, so its end raises no SIGCHLD here: the system does not reap it
// for a host that ignores SIGCHLD, and a host's waitpid(-1) in a SIGCHLD
// handler does not take it (such a child is waited for only with __WALL).
// The keeper starts the program, waits for it and leaves the program's
// status in a page shared with us, so the status reaches us whatever the
// host does with SIGCHLD. (A program cloned directly would not do: its exit
// signal becomes SIGCHLD again when it starts the program file.) Nothing of
// this needs a free descriptor.
//
// Keeper and program run in a copy of a possibly multi-threaded process:
// between the clone and the exec they make system calls only (no
// allocation, no locks, nothing a sanitizer watches).

struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    uint64_t mask;
};

// The page the keeper shares with us.
struct SharedState {
    int stage;        // kStarting, then kRunning or kNotStarted, then kEnded
    int program;      // the program's process id
    int startError;   // errno of a failed start
    int status;       // the program's wait status
};
enum : int { kStarting = 0, kRunning = 1, kNotStarted = 2, kEnded = 3 };

struct ChildPlan {
    const char* path;
    char* const* argv;
    char* const* envp;
    SharedState* shared;
    long fdLimit;   // descriptors to close one by one where close_range is missing
};

#define ORV_CHILD_CODE __attribute__((noinline, no_sanitize("address", "thread", "undefined")))

// Every descriptor above 2.
ORV_CHILD_CODE void CloseDescriptors(long limit) {
#if defined(SYS_close_range)
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
    for (long fd = 3; fd < limit; ++fd) ::syscall(SYS_close, fd);
}

[[noreturn]] ORV_CHILD_CODE void ExitNow(int code) {
    for (;;) ::syscall(SYS_exit_group, code);
}

ORV_CHILD_CODE void SetStage(SharedState* shared, int stage) {
    __atomic_store_n(&shared->stage, stage, __ATOMIC_RELEASE);
    ::syscall(SYS_futex, &shared->stage, FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

[[noreturn]] ORV_CHILD_CODE void RunProgram(const ChildPlan& plan) {
    // The program leads a process group of its own, so that a break
    // reaches whatever it starts in turn.
    ::syscall(SYS_setpgid, 0, 0);
    uint64_t none = 0;
    ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
    ::syscall(SYS_execve, plan.path, plan.argv, plan.envp);
    plan.shared->startError = errno != 0 ? errno : ENOEXEC;
    ExitNow(127);
}

// Starts with every signal blocked and keeps them so: a signal to the
// host's process group must not take the program's status with the keeper.
[[noreturn]] ORV_CHILD_CODE void RunKeeper(const ChildPlan& plan) {
    SharedState* shared = plan.shared;
    // Only standard input, output and error are passed on.
    CloseDescriptors(plan.fdLimit);
    KernelSigaction dfl{SIG_DFL, 0, nullptr, 0};
    for (int s : kDefaultSignals) ::syscall(SYS_rt_sigaction, s, &dfl, nullptr, sizeof(uint64_t));
    // The keeper goes on once the program file has started (or failed to).
    const long pid = ::syscall(SYS_clone, static_cast<unsigned long>(CLONE_VFORK | SIGCHLD), 0L, 0L, 0L, 0L);
    if (pid == 0) RunProgram(plan);
    if (pid < 0) shared->startError = errno != 0 ? errno : EAGAIN;
    int status = 0;
    if (shared->startError != 0) {
        if (pid > 0) ::syscall(SYS_wait4, pid, &status, 0, nullptr);
        SetStage(shared, kNotStarted);
        ExitNow(127);
    }
    shared->program = static_cast<int>(pid);
    SetStage(shared, kRunning);
    long r;
    do {
        r = ::syscall(SYS_wait4, pid, &status, 0, nullptr);
    } while (r < 0 && errno == EINTR);
    if (r == pid) {
        shared->status = status;
        SetStage(shared, kEnded);
    }
    ExitNow(0);
}

// A descriptor that becomes readable when the process ends (Linux 5.3 and
// later); -1 when the kernel offers none (or no descriptor is free).
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) return static_cast<int>(fd);
#else
    (void)pid;
#endif
    return -1;
}

class Child {
public:
    Child() = default;
    ~Child() {
        if (m_pidFd >= 0) ::close(m_pidFd);
        if (m_shared) ::munmap(m_shared, sizeof(SharedState));
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // 0, or the errno of a failed start.
    int Start(const char* path, char* const argv[]);

    int pidFd() const { return m_pidFd; }
    // Signals the program's process group (or the program alone).
    void Signal(int sig) const {
        if (m_program <= 0) return;
        if (::kill(-m_program, sig) != 0) ::kill(m_program, sig);
    }
    // Once the keeper has ended: the program's status into `result`, and
    // true. `block` waits for that end.
    bool Reap(bool block, ProcessResult& result);

private:
    int Stage() const { return __atomic_load_n(&m_shared->stage, __ATOMIC_ACQUIRE); }

    pid_t m_keeper = -1;
    pid_t m_program = -1;
    int m_pidFd = -1;
    SharedState* m_shared = nullptr;
};

int Child::Start(const char* path, char* const argv[]) {
    void* page = ::mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return errno;
    m_shared = static_cast<SharedState*>(page);
    long limit = ::sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    const ChildPlan plan{path, argv, environ, m_shared, limit};

    // No handler of the host may run in the keeper; the program unblocks.
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const long pid = ::syscall(SYS_clone, 0UL, 0L, 0L, 0L, 0L);   // no exit signal
    if (pid == 0) RunKeeper(plan);
    const int cloneError = pid < 0 ? errno : 0;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0) return cloneError;
    m_keeper = static_cast<pid_t>(pid);

    // Until the program file has started: the keeper says so at once.
    for (;;) {
        const int stage = Stage();
        if (stage == kRunning || stage == kEnded) break;
        if (stage == kNotStarted) {
            ProcessResult ignored;
            Reap(true, ignored);
            return m_shared->startError != 0 ? m_shared->startError : ECHILD;
        }
        ProcessResult ignored;
        if (Reap(false, ignored)) return ECHILD;   // the keeper died on its own
        timespec slice{0, 50 * 1000 * 1000};
        ::syscall(SYS_futex, &m_shared->stage, FUTEX_WAIT, kStarting, &slice, nullptr, 0);
    }
    m_program = m_shared->program;
    m_pidFd = OpenPidFd(m_keeper);
    return 0;
}

bool Child::Reap(bool block, ProcessResult& result) {
    if (m_keeper <= 0) return true;
    for (;;) {
        siginfo_t info{};
        const int r = ::waitid(P_PID, static_cast<id_t>(m_keeper), &info, WEXITED | __WALL | (block ? 0 : WNOHANG));
        if (r == 0 && info.si_pid == 0) return false;
        if (r != 0 && errno == EINTR) continue;
        // Ended (ECHILD: a host waiting for every kind of child took the
        // keeper's own status; the program's is in the page all the same).
        m_keeper = -1;
        if (Stage() == kEnded) {
            Record(m_shared->status, result);
        } else if (r == 0 && (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)) {
            // The keeper itself was killed (a signal to every process of the
            // user's, say), and the program with it or on its own.
            result.termSignal = info.si_status;
        } else {
            result.statusLost = true;
        }
        return true;
    }
}

// ---- waiting ----

// Waits at most timeoutMs (-1: no limit) for the end, ignoring any break.
bool WaitEnded(Child& child, int timeoutMs, ProcessResult& result) {
    if (child.pidFd() >= 0) {
        const int r = WaitForFd(child.pidFd(), POLLIN, nullptr, timeoutMs);
        if (r == kWaitReady) return child.Reap(true, result);
        if (r == kWaitTimeout) return child.Reap(false, result);
        // the descriptor failed: wait the plain way below
    }
    const int64_t end = MonotonicMillis() + timeoutMs;
    for (;;) {
        if (child.Reap(false, result)) return true;
        if (timeoutMs >= 0 && MonotonicMillis() >= end) return false;
        SleepUnlessBroken(nullptr, 20);
    }
}

void Terminate(Child& child, ProcessResult& result) {
    child.Signal(SIGTERM);
    if (WaitEnded(child, TerminateGraceMillis(), result)) return;
    child.Signal(SIGKILL);
    WaitEnded(child, -1, result);
}

}  // namespace

ProcessResult SystemProcessRunner::StartAndWait(const std::string& program, const std::vector<std::string>& args,
                                                const BreakSignal* brk) {
    ProcessResult result;
    std::vector<std::string> argvText;
    argvText.reserve(args.size() + 1);
    argvText.push_back(program);
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argvText.size() + 1);
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The name is taken as a path: a relative name is found in the current
    // directory only, never along PATH.
    Child child;
    const int rc = child.Start(program.c_str(), argv.data());
    if (rc != 0) {
        result.startError = rc;
        return result;
    }

    bool usePidFd = child.pidFd() >= 0;
    for (;;) {
        if (usePidFd) {
            // The program's end or the break, whichever comes first (the
            // wait also copes with a break descriptor woken without a break).
            const int r = WaitForFd(child.pidFd(), POLLIN, brk, -1);
            if (r == kWaitReady) {
                child.Reap(true, result);
                result.outcome = kProcessEnded;
                break;
            }
            if (r != kWaitBroken) usePidFd = false;   // the descriptor failed: wait the plain way below
        } else {
            if (child.Reap(false, result)) {
                result.outcome = kProcessEnded;
                break;
            }
            SleepUnlessBroken(brk, 50);
        }
        if (brk && brk->IsSet()) {
            Terminate(child, result);
            result.outcome = kProcessBroken;
            break;
        }
    }
    return result;
}

}  // namespace orv::platform
