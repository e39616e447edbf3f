// Outside programs on Windows: placeholder until the CreateProcessW backend
// lands. No program can be started.
#include <cerrno>

#include "platform/process.h"

namespace orv::platform {

ProcessResult SystemProcessRunner::Run(const std::string&, const std::vector<std::string>&, const BreakSignal*) {
    ProcessResult r;
    r.outcome = kProcessNotStarted;
    r.startError = ENOSYS;
    return r;
}

ProcessRunner& DefaultProcessRunner() {
    static SystemProcessRunner runner;
    return runner;
}

}  // namespace orv::platform
