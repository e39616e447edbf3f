// The break signal as a manual-reset event beside the flag. The flag is the
// truth; the event only wakes the waits. Set and Clear may race (the host's
// thread breaks while the job's thread clears): Clear re-signals the event
// when it finds the flag set again after the reset, and a wait that wakes on
// the event with the flag clear resets it the same way, so the event never
// stays reset under a set flag.
#include "platform/break_signal.h"

#include <windows.h>

#include "platform/clock.h"
#include "platform/win32/break_wait.h"

namespace orv::platform {

namespace {

// Resets a wake-up left behind by a Set that a Clear overtook.
void DropStaleWakeup(const BreakSignal& brk) {
    ResetEvent(static_cast<HANDLE>(brk.event()));
    if (brk.IsSet()) SetEvent(static_cast<HANDLE>(brk.event()));
}

}  // namespace

BreakSignal::BreakSignal() { m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr); }

BreakSignal::~BreakSignal() {
    if (m_event != nullptr) CloseHandle(static_cast<HANDLE>(m_event));
}

void BreakSignal::Set() {
    m_flag.store(true, std::memory_order_release);
    if (m_event != nullptr) SetEvent(static_cast<HANDLE>(m_event));
}

void BreakSignal::Clear() {
    m_flag.store(false, std::memory_order_release);
    if (m_event != nullptr) DropStaleWakeup(*this);
}

namespace win32 {

int WaitForHandles(const HANDLE* handles, int count, const BreakSignal* brk, int timeoutMs, int* which) {
    if (which != nullptr) *which = -1;
    if (brk != nullptr && brk->IsSet()) return kWaitBroken;
    HANDLE set[4];
    int n = 0;
    for (int i = 0; i < count && n < 3; ++i) set[n++] = handles[i];
    const int brkIndex = (brk != nullptr && brk->event() != nullptr) ? n : -1;
    if (brkIndex >= 0) set[n++] = static_cast<HANDLE>(brk->event());
    // Without the event the flag cannot wake the wait: look at it every
    // 50 ms instead (only when the event could not be created).
    const bool flagOnly = brk != nullptr && brkIndex < 0;
    const int64_t end = WaitEnd(timeoutMs);
    for (;;) {
        const int left = WaitLeft(end);
        int slice = left;
        if (flagOnly && (slice < 0 || slice > 50)) slice = 50;
        DWORD r = WAIT_TIMEOUT;
        if (n > 0)
            r = WaitForMultipleObjects(static_cast<DWORD>(n), set, FALSE, WaitMillis(slice));
        else
            Sleep(WaitMillis(slice));
        if (brk != nullptr && brk->IsSet()) return kWaitBroken;
        if (r == WAIT_FAILED) return kWaitLost;
        if (r == WAIT_TIMEOUT) {
            if (end >= 0 && MonotonicMillis() >= end) return kWaitTimeout;
            continue;
        }
        const int index = static_cast<int>(r - WAIT_OBJECT_0);
        if (index >= 0 && index < n) {
            if (index == brkIndex) {
                DropStaleWakeup(*brk);   // woken by the event with the flag clear
                continue;
            }
            if (which != nullptr) *which = index;
            return kWaitReady;
        }
        return kWaitLost;   // an abandoned mutex or the like: not ours
    }
}

}  // namespace win32

int WaitForSignal(const BreakSignal& done, const BreakSignal* brk, int timeoutMs) {
    const int64_t end = WaitEnd(timeoutMs);
    HANDLE h = static_cast<HANDLE>(done.event());
    // A signal whose event could not be made is only its flag: it is looked
    // at every 50 ms.
    const bool flagOnly = h == nullptr;
    for (;;) {
        if (done.IsSet()) return kWaitReady;
        int left = WaitLeft(end);
        if (flagOnly && (left < 0 || left > 50)) left = 50;
        int r = win32::WaitForHandles(&h, flagOnly ? 0 : 1, brk, left, nullptr);
        if (done.IsSet()) return kWaitReady;
        if (flagOnly && r == kWaitTimeout && (end < 0 || MonotonicMillis() < end)) continue;
        if (r == kWaitBroken || r == kWaitTimeout) return r;
        if (r == kWaitLost) return kWaitTimeout;
        DropStaleWakeup(done);   // the event without the flag: wait on
    }
}

// There are no pollable descriptors here: a wait on one can only be broken.
int WaitForFd(int, short, const BreakSignal* brk, int) {
    return brk != nullptr && brk->IsSet() ? kWaitBroken : kWaitLost;
}

int SleepUnlessBroken(const BreakSignal* brk, int timeoutMs) {
    int r = win32::WaitForHandles(nullptr, 0, brk, timeoutMs < 0 ? 0 : timeoutMs, nullptr);
    return r == kWaitBroken ? kWaitBroken : kWaitTimeout;
}

}  // namespace orv::platform
