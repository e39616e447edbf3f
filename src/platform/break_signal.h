// A break flag that also wakes the waits: Set() from any thread ends every
// wait that includes it (on POSIX its eventfd, fd(), is in the poll set; on
// Windows its manual-reset event, event(), is among the waited handles).
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
    int fd() const { return m_fd; }           // -1 where the system has no descriptors
    void* event() const { return m_event; }   // null where the system has no event objects

private:
    std::atomic<bool> m_flag{false};
    int m_fd = -1;
    void* m_event = nullptr;
};

// Results of the waits below.
enum WaitResult { kWaitReady = 1, kWaitTimeout = 0, kWaitBroken = -7, kWaitLost = -6 };

// What a wait below waits for (either or both).
enum : short { kWaitIn = 0x001, kWaitOut = 0x004 };

// Waits until fd is ready for `events` (kWaitIn/kWaitOut), the break is set,
// or timeoutMs passes (-1 without limit). Hang-up or error on fd gives
// kWaitLost. A null break waits on fd alone.
int WaitForFd(int fd, short events, const BreakSignal* brk, int timeoutMs);

// Waits until `done` is set, the break is set, or timeoutMs passes (-1
// without limit): kWaitReady, kWaitBroken or kWaitTimeout. `done` set wins
// over the break.
int WaitForSignal(const BreakSignal& done, const BreakSignal* brk, int timeoutMs);

// Sleeps timeoutMs real milliseconds unless the break is set first.
// Returns kWaitTimeout when the time ran out, kWaitBroken on a break.
int SleepUnlessBroken(const BreakSignal* brk, int timeoutMs);

}  // namespace orv::platform
