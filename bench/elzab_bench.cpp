// Programs and reads back N goods through the library's exports against an
// emulated Elzab register on a pseudo-terminal, and measures what the
// library costs: items per second, its CPU time per item, its pace against
// a register paced to a real line (the job's wall time over the time the
// bytes need on the wire), and the CPU time it uses while waiting for a
// slow register.
//
//   elzab_bench [--items 1000,10000] [--paced-items N] [--bauds 9600,115200]
//               [--slow-delay MS] [--slow-items N]
//
// The register runs in a child process, so the CPU time of this process is
// the library's (its worker thread and its export calls); the host's own
// polling of EcrIsDone is measured on its thread and taken off.
#include <poll.h>
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
#include "bench_util.h"

namespace {

using bench::Measure;
using bench::Result;
using bench::MakeItems;
using bench::Row;

constexpr int kType = 27;      // Elzab model 13: 10239 PLU numbers
constexpr uint32_t kModel = 13;

// A register in a child process; the path of its line comes back as the
// child's first line, and "?" asks it for the bytes it has received and sent.
struct Register {
    bench::Child child;
    std::string path;

    // preload: goods 1..preload as MakeItems() makes them; baud > 0 paces
    // the register to a line of that speed with 11 bits a byte (8E1).
    bool Start(int port, int delayMs, int preload = 0, int baud = 0, bool silent = false) {
        const bool started = child.Start([=](int in, int out) {
            orv::test::ElzabEmulator reg(port, kModel);
            reg.SetAnswerDelay(delayMs);
            reg.SetLineSpeed(baud, 11);
            reg.SetSilent(silent);
            for (int i = 1; i <= preload; ++i)
                reg.AddPlu(static_cast<uint32_t>(i), "Towar " + std::to_string(i), 1, 1, 0.01 * i);
            reg.Start();
            std::string p = reg.pty().slavePath() + "\n";
            if (write(out, p.data(), p.size()) != static_cast<ssize_t>(p.size())) _exit(1);
            unsigned long long received = 0, sent = 0;
            for (;;) {
                // Recorded bytes are counted and dropped now and then,
                // so that a long run keeps its memory small.
                pollfd pf{in, POLLIN, 0};
                const int r = poll(&pf, 1, 200);
                received += reg.ReceivedCount();
                sent += reg.Sent().size();
                reg.ClearReceived();
                reg.ClearSent();
                if (r > 0) {
                    char cmd;
                    if (read(in, &cmd, 1) != 1 || cmd == 'q') break;   // stop
                    const std::string a = std::to_string(received) + " " + std::to_string(sent) + "\n";
                    if (write(out, a.data(), a.size()) != static_cast<ssize_t>(a.size())) break;
                }
            }
            reg.Stop();
        });
        if (!started) return false;
        path = child.ReadLine();
        return !path.empty();
    }
    // Bytes the register has received and sent so far.
    unsigned long long Bytes() const {
        if (!child.Ask('?')) return 0;
        unsigned long long received = 0, sent = 0;
        std::sscanf(child.ReadLine().c_str(), "%llu %llu", &received, &sent);
        return received + sent;
    }
    void Stop() { child.Stop(); }
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

// The wall time of a job against a paced register over the time its bytes
// (both ways, 11 bits each for 8E1) need on the wire; the Elzab protocol
// mandates no pauses of its own in these jobs.
void PacedRow(const char* what, int n, int baud, const Result& r, unsigned long long bytes) {
    const double wire = static_cast<double>(bytes) * 11.0 / baud;
    std::printf("%-10s %7d %8d %10llu %10.3f %10.3f %8.3f %14.2f   %s\n", what, n, baud, bytes, wire, r.wall,
                wire > 0 ? r.wall / wire : 0.0, n ? r.libraryCpu / n * 1e6 : 0.0, r.error ? "FAILED" : "ok");
}

int g_failures = 0;

// Programs the items and reads them back; checks that every item came back.
void ProgramAndRead(EcrDeviceRecord& dev, std::vector<EcrItemRecord>& items, Result& pgm, Result& rd) {
    const int n = static_cast<int>(items.size());
    pgm = Measure([&] { return EcrPgmPLU(&dev, items.data(), n, OnConfirm); });
    g_readBack = 0;
    g_wrongName = 0;
    g_expected = &items;
    rd = Measure([&] { return EcrReadPLU(&dev, items.data(), n, OnItemRead); });
    g_expected = nullptr;
    if (pgm.error || rd.error || g_readBack != n || g_wrongName != 0) {
        std::printf("  errors: program %d, read %d (%s), %d read back, %d with another name\n", pgm.error, rd.error,
                    EcrErrMsg(), g_readBack.load(), g_wrongName.load());
        ++g_failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {1000, 10000};
    std::vector<int> bauds = {9600, 115200};
    int pacedItems = 200, slowDelay = 20, slowItems = 100;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--items" && i + 1 < argc) sizes = bench::ParseList(argv[++i]);
        else if (a == "--paced-items" && i + 1 < argc) pacedItems = std::atoi(argv[++i]);
        else if (a == "--bauds" && i + 1 < argc) bauds = bench::ParseList(argv[++i]);
        else if (a == "--slow-delay" && i + 1 < argc) slowDelay = std::atoi(argv[++i]);
        else if (a == "--slow-items" && i + 1 < argc) slowItems = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: elzab_bench [--items 1000,10000] [--paced-items N] [--bauds 9600,115200]\n"
                         "                   [--slow-delay MS] [--slow-items N]\n");
            return 2;
        }
    }
    for (int n : sizes)
        if (n < 1 || n > 10239) {
            std::fprintf(stderr, "elzab_bench: item counts must be 1..10239 (model 13)\n");
            return 2;
        }
    if (pacedItems < 1 || pacedItems > 10239 || slowItems < 1 || slowItems > 10239) {
        std::fprintf(stderr, "elzab_bench: item counts must be 1..10239 (model 13)\n");
        return 2;
    }
    for (int b : bauds)
        if (b < 300) {
            std::fprintf(stderr, "elzab_bench: line speeds must be at least 300 baud\n");
            return 2;
        }

    // Every register starts before this process makes any thread: port 1
    // answers at once, port 2 late, port 3 never, ports 4.. are paced to the
    // line speeds.
    Register fast, slow, silent;
    std::vector<Register> paced(bauds.size());
    bool started = fast.Start(1, 0, slowItems) && slow.Start(2, slowDelay, slowItems) && silent.Start(3, 0, 0, 0, true);
    for (size_t i = 0; started && i < bauds.size(); ++i) started = paced[i].Start(4 + static_cast<int>(i), 0, 0, bauds[i]);
    if (!started) {
        std::fprintf(stderr, "elzab_bench: cannot start the emulated registers\n");
        return 1;
    }
    setenv("ECR_COM1", fast.path.c_str(), 1);
    setenv("ECR_COM2", slow.path.c_str(), 1);
    setenv("ECR_COM3", silent.path.c_str(), 1);
    for (size_t i = 0; i < bauds.size(); ++i)
        setenv(("ECR_COM" + std::to_string(4 + i)).c_str(), paced[i].path.c_str(), 1);
    EcrCreate(nullptr);

    EcrDeviceRecord dev;
    std::memset(&dev, 0, sizeof dev);
    dev.type = kType;
    dev.port = 1;
    dev.baud = 115200;

    std::printf("Elzab benchmark: device type %d (model %u) on a pseudo-terminal\n", kType, kModel);
    std::printf("machine: %s\n\n", bench::Machine().c_str());
    std::printf("register answering at once:\n");
    bench::RowHeader();
    for (int n : sizes) {
        std::vector<EcrItemRecord> items = MakeItems(n);
        Result pgm, rd;
        ProgramAndRead(dev, items, pgm, rd);
        Row("program", n, pgm);
        Row("read back", n, rd);
    }

    std::printf("\nregister paced to the line (8E1, 11 bits a byte):\n");
    std::printf("%-10s %7s %8s %10s %10s %10s %8s %14s\n", "job", "items", "baud", "bytes", "wire s", "wall s",
                "ratio", "CPU us/item");
    for (size_t i = 0; i < bauds.size(); ++i) {
        dev.port = 4 + static_cast<uint32_t>(i);
        dev.baud = static_cast<uint32_t>(bauds[i]);
        std::vector<EcrItemRecord> items = MakeItems(pacedItems);
        const unsigned long long before = paced[i].Bytes();
        Result pgm = Measure([&] { return EcrPgmPLU(&dev, items.data(), pacedItems, OnConfirm); });
        const unsigned long long mid = paced[i].Bytes();
        g_readBack = 0;
        Result rd = Measure([&] { return EcrReadPLU(&dev, items.data(), pacedItems, OnItemRead); });
        const unsigned long long after = paced[i].Bytes();
        PacedRow("program", pacedItems, bauds[i], pgm, mid - before);
        PacedRow("read back", pacedItems, bauds[i], rd, after - mid);
        if (pgm.error || rd.error || g_readBack != pacedItems) {
            std::printf("  errors: program %d, read %d, %d read back\n", pgm.error, rd.error, g_readBack.load());
            ++g_failures;
        }
    }
    dev.baud = 115200;

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
    std::printf("  waiting: %.2f s more wall time cost %.2f ms more CPU (%.3f %% of one core while waiting)\n",
                extraWait, extraCpu * 1e3, extraWait > 0 ? 100.0 * extraCpu / extraWait : 0.0);
    if (fastRead.error || slowRead.error || fastCount != slowItems || slowCount != slowItems) {
        std::printf("  errors: fast %d, slow %d, read back %d and %d\n", fastRead.error, slowRead.error, fastCount,
                    slowCount);
        ++g_failures;
    }

    // A silent register: the VAT read waits out its time-outs; the library
    // blocks in poll() meanwhile.
    dev.port = 3;
    Result mute = Measure([&] { return EcrReadVAT(&dev, [](const double*) {}); });
    std::printf("\nwaiting for a silent register: read VAT ends with %d after %.2f s, library CPU %.2f ms (%.3f %% of one core)\n",
                mute.error, mute.wall, mute.libraryCpu * 1e3, mute.wall > 0 ? 100.0 * mute.libraryCpu / mute.wall : 0.0);
    if (mute.error == 0) ++g_failures;

    fast.Stop();
    slow.Stop();
    silent.Stop();
    for (Register& r : paced) r.Stop();
    return g_failures ? 1 : 0;
}
