#include "platform/process.h"

#include <cerrno>

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
    return StartAndWait(program, args, brk);
}

ProcessRunner& DefaultProcessRunner() {
    static SystemProcessRunner runner;
    return runner;
}

}  // namespace orv::platform
