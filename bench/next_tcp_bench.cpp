// Programs and reads back goods through the library's exports against an
// emulated Next register, once over TCP on a loopback address (port 5001)
// and once over a pseudo-terminal, and compares the two: items per second,
// the library's CPU time per item, and the TCP job's wall time over the
// pseudo-terminal's. A turn of the Tango protocol is a few small writes
// each way (ENQ, a frame, EOT), so a connection that holds small writes
// back shows here as tens of milliseconds per item.
//
//   next_tcp_bench [--items 200,1000] [--address 127.0.0.1]
//
// The register runs in a child process, so the CPU time of this process is
// the library's; the host's polling of EcrIsDone is taken off.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "orvanta/ecr.h"
#include "sim/tango/tango_emulator.h"

namespace {

constexpr int kType = 86;          // Next
constexpr int kNetwork = 11;       // connection kind: TCP, the address in the port word
constexpr int kSerialPort = 1;

// The register on both lines in a child process; the pseudo-terminal's path
// and the loopback address (0 when it cannot listen there) come back as its
// first two lines.
struct Register {
    bench::Child child;
    std::string path;
    uint32_t address = 0;

    bool Start(const std::string& addressText) {
        const bool started = child.Start([&](int in, int out) {
            orv::test::TangoEmulator line(kSerialPort);
            orv::test::TangoTcpEmulator net(addressText);
            line.Start();
            const bool listening = net.Start();
            const std::string reply =
                line.pty().slavePath() + "\n" + (listening ? std::to_string(net.Address()) : "0") + "\n";
            if (write(out, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) _exit(1);
            char c;
            while (read(in, &c, 1) == 1 && c != 'q') {}
            net.Stop();
            line.Stop();
        });
        if (!started) return false;
        path = child.ReadLine();
        address = static_cast<uint32_t>(std::strtoul(child.ReadLine().c_str(), nullptr, 10));
        return !path.empty() && address != 0;
    }
    void Stop() { child.Stop(); }
};

std::atomic<int> g_readBack{0};

void ECR_CALL OnItemRead(const EcrItemRecord*) { ++g_readBack; }

void ECR_CALL OnConfirm(const EcrItemRecord* item, int code, const char text[64]) {
    std::fprintf(stderr, "  item %u refused: %d %s\n", item->number, code, text);
}

struct Pair {
    bench::Result program, read;
    bool ok = true;
};

Pair ProgramAndRead(EcrDeviceRecord& dev, std::vector<EcrItemRecord>& items) {
    const int n = static_cast<int>(items.size());
    Pair p;
    p.program = bench::Measure([&] { return EcrPgmPLU(&dev, items.data(), n, OnConfirm); });
    g_readBack = 0;
    p.read = bench::Measure([&] { return EcrReadPLU(&dev, items.data(), n, OnItemRead); });
    if (p.program.error || p.read.error || g_readBack != n) {
        std::printf("  errors: program %d, read %d (%s), %d read back\n", p.program.error, p.read.error, EcrErrMsg(),
                    g_readBack.load());
        p.ok = false;
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {200, 1000};
    std::string addressText = "127.0.0.1";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--items" && i + 1 < argc) sizes = bench::ParseList(argv[++i]);
        else if (a == "--address" && i + 1 < argc) addressText = argv[++i];
        else {
            std::fprintf(stderr, "usage: next_tcp_bench [--items 200,1000] [--address 127.0.0.1]\n");
            return 2;
        }
    }
    for (int n : sizes)
        if (n < 1 || n > 99999) {
            std::fprintf(stderr, "next_tcp_bench: item counts must be 1..99999\n");
            return 2;
        }

    // The register starts before this process makes any thread.
    Register reg;
    if (!reg.Start(addressText)) {
        std::fprintf(stderr, "next_tcp_bench: cannot start the emulated register (is %s:5001 taken?)\n",
                     addressText.c_str());
        reg.Stop();
        return 1;
    }
    setenv(("ECR_COM" + std::to_string(kSerialPort)).c_str(), reg.path.c_str(), 1);
    EcrCreate(nullptr);

    EcrDeviceRecord tcp;
    std::memset(&tcp, 0, sizeof tcp);
    tcp.type = kType;
    tcp.port = reg.address;
    tcp.kind = kNetwork;
    EcrDeviceRecord pty;
    std::memset(&pty, 0, sizeof pty);
    pty.type = kType;
    pty.port = kSerialPort;
    pty.baud = 115200;

    std::printf("Next benchmark: device type %d over TCP (%s:5001) and over a pseudo-terminal\n", kType,
                addressText.c_str());
    std::printf("machine: %s\n\n", bench::Machine().c_str());
    std::printf("%-6s ", "line");
    bench::RowHeader();
    int failures = 0;
    std::vector<double> ratios;
    for (int n : sizes) {
        std::vector<EcrItemRecord> items = bench::MakeItems(n);
        const Pair overTcp = ProgramAndRead(tcp, items);
        const Pair overPty = ProgramAndRead(pty, items);
        failures += !overTcp.ok + !overPty.ok;
        std::printf("%-6s ", "tcp");
        bench::Row("program", n, overTcp.program);
        std::printf("%-6s ", "tcp");
        bench::Row("read back", n, overTcp.read);
        std::printf("%-6s ", "pty");
        bench::Row("program", n, overPty.program);
        std::printf("%-6s ", "pty");
        bench::Row("read back", n, overPty.read);
        std::printf("       TCP over pseudo-terminal, wall time: program %.2f, read back %.2f\n\n",
                    overPty.program.wall > 0 ? overTcp.program.wall / overPty.program.wall : 0.0,
                    overPty.read.wall > 0 ? overTcp.read.wall / overPty.read.wall : 0.0);
    }
    reg.Stop();
    return failures ? 1 : 0;
}
