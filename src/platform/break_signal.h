// A break flag that also wakes a poll(): Set() from any thread ends every
// wait that includes fd() in its poll set.
#pragma once

#include <atomic>

namespace orv::platform {

class BreakSignal {
public:
    BreakSignal();
    ~BreakSignal();
    BreakSignal(const BreakSignal&) = delete;
    BreakSignal& operator=(const BreakSignal&) = delete;

    void Set();                 // flag on, wakes waiters
    void Clear();               // flag off, drains the wake-up
    bool IsSet() const { return m_flag.load(std::memory_order_acquire); }
    int fd() const { return m_fd; }

private:
    std::atomic<bool> m_flag{false};
    int m_fd = -1;
};

// Results of the waits below.
enum WaitResult { kWaitReady = 1, kWaitTimeout = 0, kWaitBroken = -7, kWaitLost = -6 };

// What a wait below waits for (either or both).
enum : short { kWaitIn = 0x001, kWaitOut = 0x004 };

// Waits until fd is ready for `events` (kWaitIn/kWaitOut), the break is set,
// or timeoutMs passes (-1 without limit). Hang-up or error on fd gives
// kWaitLost. A null break waits on fd alone.
int WaitForFd(int fd, short events, const BreakSignal* brk, int timeoutMs);

// Sleeps timeoutMs real milliseconds unless the break is set first.
// Returns kWaitTimeout when the time ran out, kWaitBroken on a break.
int SleepUnlessBroken(const BreakSignal* brk, int timeoutMs);

}  // namespace orv::platform
