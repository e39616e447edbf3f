#include "comm/quiet_line.h"

#include <algorithm>
#include <cstdint>

#include "platform/break_signal.h"
#include "platform/clock.h"

namespace orv::comm {

QuietLine WaitForQuietLine(double quietSeconds, double limitSeconds, const std::function<void()>& drop,
                           const std::function<int(int timeoutMs)>& waitInput) {
    using namespace orv::platform;
    const int64_t quiet = ScaledMillis(quietSeconds);
    const int64_t end = MonotonicMillis() + std::max(quiet, ScaledMillis(limitSeconds));
    drop();
    int64_t silentSince = MonotonicMillis();
    for (;;) {
        const int64_t now = MonotonicMillis();
        if (now - silentSince >= quiet) return QuietLine::Quiet;
        if (now >= end) {
            drop();
            return QuietLine::StillTalking;
        }
        const int64_t wait = std::min(quiet - (now - silentSince), end - now);
        const int r = waitInput(static_cast<int>(wait));
        if (r == kWaitBroken) return QuietLine::Broken;
        if (r == kWaitLost) return QuietLine::Lost;
        if (r == kWaitReady) {
            drop();
            silentSince = MonotonicMillis();
        }
    }
}

}  // namespace orv::comm
