// Break signal and waits on Windows: placeholder until the Win32 event
// backend lands. The flag works; waits on a descriptor report a lost
// device at once, sleeps sleep in slices and notice a break.
#include "platform/break_signal.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace orv::platform {

BreakSignal::BreakSignal() = default;
BreakSignal::~BreakSignal() = default;

void BreakSignal::Set() { m_flag.store(true, std::memory_order_release); }
void BreakSignal::Clear() { m_flag.store(false, std::memory_order_release); }

int WaitForFd(int, short, const BreakSignal* brk, int) {
    return brk != nullptr && brk->IsSet() ? kWaitBroken : kWaitLost;
}

int SleepUnlessBroken(const BreakSignal* brk, int timeoutMs) {
    const int64_t end = MonotonicMillis() + (timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (brk != nullptr && brk->IsSet()) return kWaitBroken;
        const int64_t left = end - MonotonicMillis();
        if (left <= 0) return kWaitTimeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 10 ? left : 10));
    }
}

}  // namespace orv::platform
