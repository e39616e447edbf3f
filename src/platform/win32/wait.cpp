#include "platform/win32/wait.h"

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"

namespace orv::platform::win32 {

namespace {

constexpr DWORD kSliceMs = 50;

// The break's event, where the break has one; without it the wait looks at
// the flag every slice.
template <class B>
HANDLE EventOf(const B* brk) {
    if constexpr (requires { brk->event(); }) {
        return brk ? static_cast<HANDLE>(brk->event()) : nullptr;
    } else {
        return nullptr;
    }
}

DWORD Remaining(int64_t end, int timeoutMs) {
    if (timeoutMs < 0) return INFINITE;
    const int64_t left = end - MonotonicMillis();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

}  // namespace

int WaitObjectOrBreak(HANDLE object, const BreakSignal* brk, int timeoutMs) {
    const int64_t end = MonotonicMillis() + (timeoutMs > 0 ? timeoutMs : 0);
    HANDLE wake = EventOf(brk);
    for (;;) {
        if (brk && brk->IsSet()) {
            return ::WaitForSingleObject(object, 0) == WAIT_OBJECT_0 ? kWaitReady : kWaitBroken;
        }
        const DWORD left = Remaining(end, timeoutMs);
        DWORD r;
        if (wake) {
            const HANDLE both[2] = {object, wake};
            r = ::WaitForMultipleObjects(2, both, FALSE, left);
            if (r == WAIT_OBJECT_0 + 1 && !brk->IsSet()) {
                // Woken with no break set (a break given and cleared again
                // can leave the event so): wait on the object alone for a
                // while, still looking at the flag, rather than spin.
                r = ::WaitForSingleObject(object, std::min(left, kSliceMs));
                if (r == WAIT_TIMEOUT && left > kSliceMs) continue;
            }
        } else {
            r = ::WaitForSingleObject(object, brk ? std::min(left, kSliceMs) : left);
            if (r == WAIT_TIMEOUT && brk && left > kSliceMs) continue;
        }
        if (r == WAIT_OBJECT_0) return kWaitReady;
        if (r == WAIT_TIMEOUT) return kWaitTimeout;
        if (r == WAIT_FAILED) return kWaitLost;
        // the break's event: looked at again above
    }
}

}  // namespace orv::platform::win32
