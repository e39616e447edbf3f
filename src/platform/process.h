// Starting an outside program and waiting for it to end.
//
// The program is named as a path ("./CASCale.exe"): a relative name is
// resolved against the current directory, never searched along PATH, and no
// shell ever sees the arguments. The program gets the caller's environment
// and working directory and runs in a process group of its own, so that a
// break reaches whatever it started in turn.
//
// The wait has no time limit; a break (BreakSignal set) terminates the
// program: SIGTERM to its group, then SIGKILL after a grace period, and the
// program is reaped before the call returns.
//
// The program's end and status reach the runner whatever the host does with
// SIGCHLD (ignores it, or reaps children in a handler of its own): the
// program is started and waited for by a keeper process whose own end
// raises no SIGCHLD, and which hands the program's status back.
#pragma once

#include <string>
#include <vector>

#include "platform/break_signal.h"

namespace orv::platform {

enum ProcessOutcome {
    kProcessEnded = 1,        // the program ran and ended (by itself)
    kProcessNotStarted = 0,   // it could not be started (errno in startError)
    kProcessBroken = -7,      // a break ended the wait; the program was terminated
    kProcessStatusLost = 2,   // it ended, but its status could not be learnt
};

struct ProcessResult {
    ProcessOutcome outcome = kProcessNotStarted;
    int startError = 0;       // errno of a failed start
    int exitCode = -1;        // exit code when it ended normally, else -1
    int termSignal = 0;       // the signal that ended it, else 0
    bool statusLost = false;  // the end was seen but not the status
};

// Seconds (library time, see clock.h) between SIGTERM and SIGKILL.
constexpr double kTerminateGraceSeconds = 3.0;
// The same in milliseconds of a wait (at most the largest int).
int TerminateGraceMillis();

// The seam between the drivers and the system: drivers call Run on the
// runner they were given; tests hand them a recorder instead.
class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;
    // argv[0] is `program`, then `args`. A null break waits without one.
    virtual ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                              const BreakSignal* brk) = 0;
};

// The system's own runner: a break given before the start starts nothing
// and an empty name is not found; the rest is the system's part.
class SystemProcessRunner final : public ProcessRunner {
public:
    ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                      const BreakSignal* brk) override;

private:
    // Starts the (named) program and waits for its end or the break: a
    // keeper process and a breakable wait on POSIX systems, a job object on
    // Windows.
    static ProcessResult StartAndWait(const std::string& program, const std::vector<std::string>& args,
                                      const BreakSignal* brk);
};

// The process-wide system runner.
ProcessRunner& DefaultProcessRunner();

}  // namespace orv::platform
