#include "platform/process.h"

#include <cerrno>
#include <climits>

#include "platform/clock.h"

namespace orv::platform {

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
    result = StartAndWait(program, args, brk);
    if (result.outcome == kProcessEnded && result.statusLost) result.outcome = kProcessStatusLost;
    return result;
}

int TerminateGraceMillis() {
    const int64_t grace = ScaledMillis(kTerminateGraceSeconds);
    return grace > INT_MAX ? INT_MAX : static_cast<int>(grace);
}

ProcessRunner& DefaultProcessRunner() {
    static SystemProcessRunner runner;
    return runner;
}

}  // namespace orv::platform
