// Helpers of the transport robustness tests: a seeded random source, timing
// and the CPU time of the calling thread.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

namespace robust {

using Clock = std::chrono::steady_clock;

inline long MillisSince(Clock::time_point t0) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// CPU time used by the calling thread, in milliseconds.
inline double ThreadCpuMillis() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Checks one write of `size` bytes that returned count n with error err:
// broken off (-7, counted in `broken`) only when a break was given, within
// 50 ms of it and short of the whole; otherwise complete with 0.
inline void CheckWrite(int n, int err, int size, bool breakGiven, long msSinceBreak, int& broken) {
    EXPECT_GE(n, 0);
    if (err == -7) {
        ++broken;
        EXPECT_TRUE(breakGiven);
        EXPECT_LT(msSinceBreak, 50);
        EXPECT_LT(n, size);
    } else {
        EXPECT_EQ(err, 0);
        EXPECT_EQ(n, size);
    }
}

// Waits up to ms until the counter reaches size.
inline void WaitForCount(const std::atomic<size_t>& counter, size_t size, int ms = 10000) {
    const auto t0 = Clock::now();
    while (counter.load() < size && MillisSince(t0) < ms) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Descriptors the process holds now.
inline int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

class Random {
public:
    explicit Random(uint32_t seed) : m_gen(seed) {}
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_gen); }
    bool Chance(int percent) { return Int(0, 99) < percent; }
    uint8_t Byte() { return static_cast<uint8_t>(Int(0, 255)); }

    // A stream of frames that each end with term, with stretches of garbage
    // (which may hold no terminator at all) between them.
    std::string Stream(size_t size, uint8_t term) {
        std::string s;
        while (s.size() < size) {
            const int len = Int(0, Chance(10) ? 400 : 40);
            for (int i = 0; i < len; ++i) {
                uint8_t b = Byte();
                if (b == term) b ^= 0x55;
                s.push_back(static_cast<char>(b));
            }
            if (!Chance(15)) s.push_back(static_cast<char>(term));
        }
        return s;
    }

private:
    std::mt19937 m_gen;
};

}  // namespace robust
