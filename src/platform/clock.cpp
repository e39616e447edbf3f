#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace orv::platform {

namespace {
std::atomic<double> g_scale{1.0};
std::atomic<int64_t> g_skipped{0};

// The clock of the deadlines: real time plus what test devices skipped.
int64_t DeadlineMillis() { return MonotonicMillis() + g_skipped.load(); }

// Milliseconds left before end as a wait takes them: 0 once passed, at most
// the largest int.
int MillisLeft(int64_t end, int64_t now) {
    const int64_t left = end - now;
    if (left <= 0) return 0;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}
}  // namespace

void SetTimeScale(double scale) { g_scale.store(scale >= 0 ? scale : 1.0); }
double TimeScale() { return g_scale.load(); }
void SkipTime(int64_t ms) { g_skipped.fetch_add(ms > 0 ? ms : 0); }

int64_t MonotonicMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t WaitEnd(int timeoutMs) { return timeoutMs < 0 ? -1 : MonotonicMillis() + timeoutMs; }

int WaitLeft(int64_t end) {
    return end < 0 ? -1 : MillisLeft(end, MonotonicMillis());
}

int64_t ScaledMillis(double seconds) {
    double ms = seconds * 1000.0 * TimeScale();
    if (!(ms > 0)) return 0;   // NaN too: converting it to an integer is undefined
    if (ms > 1e15) return static_cast<int64_t>(1e15);
    return static_cast<int64_t>(std::ceil(ms));
}

SecondDeadline::SecondDeadline(int seconds) : m_unlimited(seconds < 0), m_endMillis(0) {
    if (m_unlimited) return;
    const double scale = TimeScale();
    const double unit = 1000.0 * (scale > 0 ? scale : 1.0);   // one library second in ms
    const int64_t now = DeadlineMillis();
    const double nowUnits = static_cast<double>(now) / unit;
    if (seconds == 0) {
        m_endMillis = now;
        return;
    }
    // End when the second count exceeds start + t, i.e. at floor(now) + t + 1.
    const double endUnits = std::floor(nowUnits) + seconds + 1;
    m_endMillis = static_cast<int64_t>(std::ceil(endUnits * unit));
}

bool SecondDeadline::Passed() const {
    return !m_unlimited && DeadlineMillis() >= m_endMillis;
}

int SecondDeadline::RemainingMillis() const {
    return m_unlimited ? -1 : MillisLeft(m_endMillis, DeadlineMillis());
}

Deadline::Deadline(double seconds) : m_endMillis(DeadlineMillis() + ScaledMillis(seconds)) {}

bool Deadline::Passed() const { return DeadlineMillis() >= m_endMillis; }

int Deadline::RemainingMillis() const { return MillisLeft(m_endMillis, DeadlineMillis()); }

}  // namespace orv::platform
