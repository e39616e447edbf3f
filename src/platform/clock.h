// Time for the transports: whole-second deadlines on a monotonic clock and a
// test seam that scales every wait (not reachable from the exports).
#pragma once

#include <cstdint>

namespace orv::platform {

// Scale applied to every library wait: 1.0 is real time; tests set e.g. 0.01
// so that a 5-second time-out lasts 50 ms. At 0 no wait takes real time:
// pauses end at once, whole-second deadlines count unscaled seconds on a
// clock that a test device moves on with SkipTime instead of waiting, and a
// Deadline (its length scaled to 0) has passed at once.
void SetTimeScale(double scale);
double TimeScale();
void SkipTime(int64_t ms);

int64_t MonotonicMillis();             // real milliseconds since an arbitrary start

// The end of a wait of timeoutMs real milliseconds from now in
// MonotonicMillis time (-1 without limit stays -1), and what is left of it
// for the next system wait (-1 without limit, 0 once it has passed).
int64_t WaitEnd(int timeoutMs);
int WaitLeft(int64_t end);
int64_t ScaledMillis(double seconds);  // seconds of library time as real milliseconds

// A wait of t whole seconds ends once the current (scaled) second passes the
// start second + t, so it lasts between t and t + 1 seconds. A negative t
// never ends; t = 0 has passed at once.
class SecondDeadline {
public:
    explicit SecondDeadline(int seconds);
    bool Unlimited() const { return m_unlimited; }
    bool Passed() const;
    int RemainingMillis() const;       // for poll(): -1 without limit, 0 when passed
private:
    bool m_unlimited;
    int64_t m_endMillis;               // real monotonic time at which it passes
};

// A deadline a fractional number of (scaled) seconds from now.
class Deadline {
public:
    explicit Deadline(double seconds);
    bool Passed() const;
    int RemainingMillis() const;
private:
    int64_t m_endMillis;
};

}  // namespace orv::platform
