// What the benchmark programs share: clocks, one measured job through the
// exports, the machine's description and goods to program.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "orvanta/ecr.h"

namespace bench {

inline double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Result {
    double wall = 0;
    double libraryCpu = 0;
    int error = 0;
};

// Runs one job and measures it. The host polls EcrIsDone every 2 ms; the CPU
// of that polling is taken off the process's CPU time.
template <class Start>
Result Measure(Start start) {
    Result r;
    double cpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    double t0 = Now();
    if (start() != 1) {
        r.error = EcrError();
        return r;
    }
    double poll0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    while (!EcrIsDone()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    double poll = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - poll0;
    r.wall = Now() - t0;
    r.libraryCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0 - poll;
    r.error = EcrError();
    return r;
}

// Goods 1..n: "Towar <n>", a 13-digit code, tax groups 1-4, departments 1-16.
inline std::vector<EcrItemRecord> MakeItems(int n) {
    std::vector<EcrItemRecord> items(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        EcrItemRecord& it = items[static_cast<size_t>(i)];
        std::memset(&it, 0, sizeof it);
        it.number = static_cast<uint32_t>(i + 1);
        std::snprintf(it.name, sizeof it.name, "Towar %d", i + 1);
        std::snprintf(it.code, sizeof it.code, "590%010d", i + 1);
        it.vat_group = 1 + static_cast<uint32_t>(i % 4);
        it.department = 1 + static_cast<uint32_t>(i % 16);
        it.price = 0.01 * (i % 100000 + 1);
        it.unit = 1;
    }
    return items;
}

inline std::string Machine() {
    std::ifstream cpu("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(cpu, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " logical processors";
}

inline std::vector<int> ParseList(const char* text) {
    std::vector<int> out;
    const char* p = text;
    while (*p) {
        out.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
    }
    return out;
}

// One row: job, items, items a second, wall time, library CPU a item.
inline void Row(const char* what, int n, const Result& r) {
    std::printf("%-10s %7d %12.0f %10.3f %14.2f   %s\n", what, n, r.wall > 0 ? n / r.wall : 0.0, r.wall,
                n ? r.libraryCpu / n * 1e6 : 0.0, r.error ? "FAILED" : "ok");
}

inline void RowHeader() {
    std::printf("%-10s %7s %12s %10s %14s\n", "job", "items", "items/s", "wall s", "CPU us/item");
}

}  // namespace bench
