// Programs and reads back N goods through the library's exports against an
// emulated Elzab register on a pseudo-terminal, and measures what the
// library costs: items per second, its CPU time per item, and the CPU time it
// uses while waiting for a slow register.
//
//   elzab_bench [--items 1000,10000] [--slow-delay MS] [--slow-items N]
//
// The register runs in a child process, so the CPU time of this process is
// the library's (its worker thread and its export calls); the host's own
// polling of EcrIsDone is measured on its thread and taken off.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/elzab/elzab_emulator.h"
#include "orvanta/ecr.h"

namespace {

constexpr int kType = 27;      // Elzab model 13: 10239 PLU numbers
constexpr uint32_t kModel = 13;

double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A register in a child process; the path of its line comes back through a pipe.
struct Register {
    pid_t pid = -1;
    std::string path;

    // preload: goods 1..preload as MakeItems() makes them.
    bool Start(int port, int delayMs, int preload = 0) {
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            close(fds[0]);
            sigset_t stop;
            sigemptyset(&stop);
            sigaddset(&stop, SIGTERM);
            pthread_sigmask(SIG_BLOCK, &stop, nullptr);
            {
                orv::test::ElzabEmulator reg(port, kModel);
                reg.SetAnswerDelay(delayMs);
                reg.SetRecording(false);
                for (int i = 1; i <= preload; ++i)
                    reg.AddPlu(static_cast<uint32_t>(i), "Towar " + std::to_string(i), 1, 1, 0.01 * i);
                reg.Start();
                std::string p = reg.pty().slavePath() + "\n";
                if (write(fds[1], p.data(), p.size()) != static_cast<ssize_t>(p.size())) _exit(1);
                close(fds[1]);
                for (;;) {
                    timespec second{1, 0};
                    if (sigtimedwait(&stop, nullptr, &second) > 0) break;
                    reg.ClearReceived();
                    reg.ClearSent();
                }
                reg.Stop();
            }
            _exit(0);
        }
        close(fds[1]);
        char buf[256] = {};
        ssize_t n = 0, got;
        while (n < static_cast<ssize_t>(sizeof buf) - 1 && (got = read(fds[0], buf + n, 1)) == 1 && buf[n] != '\n') ++n;
        close(fds[0]);
        buf[n] = 0;
        path = buf;
        return !path.empty();
    }
    void Stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
};

std::atomic<int> g_readBack{0};
std::atomic<int> g_wrongName{0};
std::vector<EcrItemRecord>* g_expected = nullptr;

void ECR_CALL OnItemRead(const EcrItemRecord* item) {
    ++g_readBack;
    if (g_expected && item->number >= 1 && item->number <= g_expected->size()) {
        const EcrItemRecord& want = (*g_expected)[item->number - 1];
        if (std::strncmp(item->name, want.name, std::strlen(want.name)) != 0) ++g_wrongName;
    }
}

void ECR_CALL OnConfirm(const EcrItemRecord* item, int code, const char text[64]) {
    std::fprintf(stderr, "  item %u refused: %d %s\n", item->number, code, text);
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

std::vector<EcrItemRecord> MakeItems(int n) {
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

std::string Machine() {
    std::ifstream cpu("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(cpu, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " logical processors";
}

std::vector<int> ParseList(const char* text) {
    std::vector<int> out;
    const char* p = text;
    while (*p) {
        out.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
    }
    return out;
}

void Row(const char* what, int n, const Result& r) {
    std::printf("%-10s %7d %12.0f %10.3f %14.2f   %s\n", what, n, r.wall > 0 ? n / r.wall : 0.0, r.wall,
                n ? r.libraryCpu / n * 1e6 : 0.0, r.error ? "FAILED" : "ok");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {1000, 10000};
    int slowDelay = 20, slowItems = 100;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--items" && i + 1 < argc) sizes = ParseList(argv[++i]);
        else if (a == "--slow-delay" && i + 1 < argc) slowDelay = std::atoi(argv[++i]);
        else if (a == "--slow-items" && i + 1 < argc) slowItems = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: elzab_bench [--items 1000,10000] [--slow-delay MS] [--slow-items N]\n");
            return 2;
        }
    }
    for (int n : sizes)
        if (n < 1 || n > 10239) {
            std::fprintf(stderr, "elzab_bench: item counts must be 1..10239 (model 13)\n");
            return 2;
        }

    // Both registers start before this process makes any thread.
    Register fast, slow;
    if (!fast.Start(1, 0, slowItems) || !slow.Start(2, slowDelay, slowItems)) {
        std::fprintf(stderr, "elzab_bench: cannot start the emulated registers\n");
        return 1;
    }
    setenv("ECR_COM1", fast.path.c_str(), 1);
    setenv("ECR_COM2", slow.path.c_str(), 1);
    EcrCreate(nullptr);

    EcrDeviceRecord dev;
    std::memset(&dev, 0, sizeof dev);
    dev.type = kType;
    dev.port = 1;
    dev.baud = 115200;

    std::printf("Elzab benchmark: device type %d (model %u) on a pseudo-terminal\n", kType, kModel);
    std::printf("machine: %s\n\n", Machine().c_str());
    std::printf("%-10s %7s %12s %10s %14s\n", "job", "items", "items/s", "wall s", "CPU us/item");
    int failures = 0;
    for (int n : sizes) {
        std::vector<EcrItemRecord> items = MakeItems(n);
        Result pgm = Measure([&] { return EcrPgmPLU(&dev, items.data(), n, OnConfirm); });
        Row("program", n, pgm);
        g_readBack = 0;
        g_wrongName = 0;
        g_expected = &items;
        Result rd = Measure([&] { return EcrReadPLU(&dev, items.data(), n, OnItemRead); });
        g_expected = nullptr;
        Row("read back", n, rd);
        if (pgm.error || rd.error || g_readBack != n || g_wrongName != 0) {
            std::printf("  errors: program %d, read %d (%s), %d read back, %d with another name\n", pgm.error, rd.error,
                        EcrErrMsg(), g_readBack.load(), g_wrongName.load());
            ++failures;
        }
    }

    // A slow register: every answer comes slowDelay ms late. The same
    // read-back runs against the fast and the slow register; the library
    // waits in poll(), so the slow run may cost only a little more CPU.
    std::vector<EcrItemRecord> items = MakeItems(slowItems);
    dev.port = 1;
    g_readBack = 0;
    Result fastRead = Measure([&] { return EcrReadPLU(&dev, items.data(), slowItems, OnItemRead); });
    int fastCount = g_readBack;
    dev.port = 2;
    g_readBack = 0;
    Result slowRead = Measure([&] { return EcrReadPLU(&dev, items.data(), slowItems, OnItemRead); });
    int slowCount = g_readBack;
    double extraWait = slowRead.wall - fastRead.wall;
    double extraCpu = slowRead.libraryCpu - fastRead.libraryCpu;
    std::printf("\nwaiting for a slow register: read back %d goods, each answer %d ms late\n", slowItems, slowDelay);
    std::printf("  fast register: wall %7.3f s, library CPU %8.2f ms\n", fastRead.wall, fastRead.libraryCpu * 1e3);
    std::printf("  slow register: wall %7.3f s, library CPU %8.2f ms (%.2f %% of the wall time)\n", slowRead.wall,
                slowRead.libraryCpu * 1e3, slowRead.wall > 0 ? 100.0 * slowRead.libraryCpu / slowRead.wall : 0.0);
    std::printf("  waiting: %.2f s more wall time cost %.2f ms more CPU (%.3f ms of CPU per second of waiting)\n",
                extraWait, extraCpu * 1e3, extraWait > 0 ? extraCpu * 1e3 / extraWait : 0.0);
    if (fastRead.error || slowRead.error || fastCount != slowItems || slowCount != slowItems) {
        std::printf("  errors: fast %d, slow %d, read back %d and %d\n", fastRead.error, slowRead.error, fastCount,
                    slowCount);
        ++failures;
    }

    fast.Stop();
    slow.Stop();
    return failures ? 1 : 0;
}
