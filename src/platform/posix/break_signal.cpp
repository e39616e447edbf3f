#include "platform/break_signal.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/clock.h"

namespace orv::platform {

// The wait events are poll()'s own here.
static_assert(kWaitIn == POLLIN && kWaitOut == POLLOUT);

// Takes every wake-up an event descriptor holds.
static void Drain(int fd) {
    uint64_t v;
    while (read(fd, &v, sizeof v) > 0) {
    }
}

BreakSignal::BreakSignal() { m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

BreakSignal::~BreakSignal() {
    if (m_fd >= 0) close(m_fd);
}

void BreakSignal::Set() {
    m_flag.store(true, std::memory_order_release);
    if (m_fd >= 0) {
        uint64_t one = 1;
        ssize_t r = write(m_fd, &one, sizeof one);
        (void)r;
    }
}

void BreakSignal::Clear() {
    m_flag.store(false, std::memory_order_release);
    if (m_fd >= 0) Drain(m_fd);
}

static int PollOnce(int fd, short events, const BreakSignal* brk, int timeoutMs) {
    struct pollfd fds[2];
    int n = 0;
    if (fd >= 0) fds[n++] = {fd, events, 0};
    if (brk && brk->fd() >= 0) fds[n++] = {brk->fd(), POLLIN, 0};
    int r = poll(fds, static_cast<nfds_t>(n), timeoutMs);
    if (r < 0) return errno == EINTR ? 2 : kWaitLost;
    if (brk && brk->IsSet()) return kWaitBroken;
    if (r == 0) return kWaitTimeout;
    if (fd >= 0) {
        if (fds[0].revents & events) return kWaitReady;
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return kWaitLost;
    }
    // Woken by the break descriptor while the flag is clear: a wake-up left
    // over from a Set that raced a Clear. Drain it, or every later poll would
    // return at once and the wait would spin.
    if (brk && brk->fd() >= 0 && (fds[n - 1].revents & POLLIN)) Drain(brk->fd());
    return 2;  // woken without a result: look again
}

int WaitForFd(int fd, short events, const BreakSignal* brk, int timeoutMs) {
    if (brk && brk->IsSet()) return kWaitBroken;
    const int64_t end = WaitEnd(timeoutMs);
    for (;;) {
        const int left = WaitLeft(end);
        // A break that was set and drained elsewhere leaves no wake-up: cap
        // each poll at 50 ms so the flag is seen in time anyway.
        int slice = (left < 0 || left > 50) ? 50 : left;
        int r = PollOnce(fd, events, brk, slice);
        if (r != kWaitTimeout && r != 2) return r;
        if (brk && brk->IsSet()) return kWaitBroken;
        if (end >= 0 && MonotonicMillis() >= end) return kWaitTimeout;
    }
}

int WaitForSignal(const BreakSignal& done, const BreakSignal* brk, int timeoutMs) {
    const int64_t end = WaitEnd(timeoutMs);
    // A signal whose descriptor could not be made is only its flag: it is
    // looked at every 50 ms.
    const bool flagOnly = done.fd() < 0;
    for (;;) {
        if (done.IsSet()) return kWaitReady;
        int left = WaitLeft(end);
        if (flagOnly && (left < 0 || left > 50)) left = 50;
        int r = WaitForFd(done.fd(), POLLIN, brk, left);
        if (done.IsSet()) return kWaitReady;
        if (flagOnly && r == kWaitTimeout && (end < 0 || MonotonicMillis() < end)) continue;
        if (r != kWaitReady) return r == kWaitLost ? kWaitTimeout : r;
        // The descriptor woke without the flag (a Set racing a Clear): drain
        // it and wait on.
        Drain(done.fd());
    }
}

int SleepUnlessBroken(const BreakSignal* brk, int timeoutMs) {
    int r = WaitForFd(-1, 0, brk, timeoutMs < 0 ? 0 : timeoutMs);
    return r == kWaitBroken ? kWaitBroken : kWaitTimeout;
}

}  // namespace orv::platform
