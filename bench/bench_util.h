// What the benchmark programs share: clocks, one measured job through the
// exports, the machine's description and goods to program.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

// A simulated device in a child process, so that this process's CPU time is
// the library's. The child's body gets the descriptor it reads commands from
// and the one it writes lines to; "q" (or the end of the command pipe) asks
// it to stop.
class Child {
public:
    template <class Body>
    bool Start(Body body) {
        int up[2], down[2];
        if (pipe(up) != 0) return false;
        if (pipe(down) != 0) {
            close(up[0]);
            close(up[1]);
            return false;
        }
        m_pid = fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            close(up[0]);
            close(down[1]);
            body(down[0], up[1]);
            _exit(0);
        }
        close(up[1]);
        close(down[0]);
        m_ask = down[1];
        m_answer = up[0];
        return true;
    }
    // One line the child wrote, without its newline.
    std::string ReadLine() const {
        char buf[256] = {};
        ssize_t n = 0;
        while (n < static_cast<ssize_t>(sizeof buf) - 1 && read(m_answer, buf + n, 1) == 1 && buf[n] != '\n') ++n;
        buf[n] = 0;
        return buf;
    }
    bool Ask(char command) const { return write(m_ask, &command, 1) == 1; }
    void Stop() {
        if (m_pid > 0) {
            if (!Ask('q')) kill(m_pid, SIGKILL);
            close(m_ask);
            close(m_answer);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_ask = -1;
    int m_answer = -1;
};

}  // namespace bench
