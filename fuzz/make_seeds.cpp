// Writes the seed corpora of the serial fuzz targets: every job on several
// device types of each family, run against the family's emulator (with a few
// goods and sales in it, and once empty), recording the emulator's answers in
// the targets' input format.
//
//   fuzz_seeds <corpus dir>      (writes <dir>/elzab, <dir>/dsa, <dir>/elcom50)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "drivers/elzab/cs6_ecr.h"
#include "serial_families.h"
#include "sim/dsa/dsa_emulator.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "sim/elzab/elzab_emulator.h"

namespace {

using namespace orv::fuzz;
using orv::test::EmulatorBase;

constexpr int kEmulatorPort = 9;
constexpr int kMaxAnswers = 40;

// The library's side of the emulator's pseudo-terminal.
class Bridge {
public:
    explicit Bridge(EmulatorBase& emu) {
        m_fd = open(emu.pty().slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Bridge() {
        if (m_fd >= 0) close(m_fd);
    }
    // Sends what the library wrote, returns the emulator's answer (all that
    // comes until the line is quiet).
    Bytes Exchange(const Bytes& written) {
        for (size_t done = 0; done < written.size();) {
            ssize_t n = write(m_fd, written.data() + done, written.size() - done);
            if (n > 0) done += static_cast<size_t>(n);
            else {
                pollfd p{m_fd, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
        Bytes out;
        int waitMs = written.empty() ? 30 : 500;
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, waitMs) <= 0) break;
            uint8_t buf[512];
            ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
            waitMs = 5;
        }
        return out;
    }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

void Write(const std::string& dir, const std::string& name, const Bytes& input) {
    std::ofstream f(dir + "/" + name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
}

// Every job on one emulated register; files named <job>-t<type><suffix>.
void RecordAll(const SerialFamily& family, size_t typeIndex, EmulatorBase& emu, const std::string& dir,
               const std::string& suffix) {
    emu.Start();
    Bridge bridge(emu);
    if (!bridge.ok()) {
        std::fprintf(stderr, "cannot open the emulator's line\n");
        std::exit(1);
    }
    for (uint8_t j = 0; j < static_cast<uint8_t>(SerialJob::Count); ++j) {
        const auto job = static_cast<SerialJob>(j);
        if (const char* only = std::getenv("FUZZ_SEEDS_JOB"); only && std::string(only) != JobName(job)) continue;
        const bool trace = std::getenv("FUZZ_SEEDS_TRACE") != nullptr;
        // A seed keeps to the first answers: after them the register falls
        // silent (a read of every goods number would otherwise ask for all).
        int exchanges = 0;
        auto answers = RecordJob(family, job, typeIndex, [&](const Bytes& w) {
            Bytes a = ++exchanges <= kMaxAnswers ? bridge.Exchange(w) : Bytes{};
            if (trace) std::fprintf(stderr, "  %s -> %s\n", orv::test::Hex(w).c_str(), orv::test::Hex(a).c_str());
            return a;
        });
        const std::string name =
            std::string(JobName(job)) + "-t" + std::to_string(family.types[typeIndex]) + suffix;
        Write(dir, name, EncodeInput(job, typeIndex, answers));
        std::fprintf(stderr, "%s/%s: %zu answers\n", family.name, name.c_str(), answers.size());
    }
    emu.Stop();
}

size_t IndexOf(const SerialFamily& f, int type) {
    for (size_t i = 0; i < f.types.size(); ++i)
        if (f.types[i] == type) return i;
    std::abort();
}

void Elzab(const std::string& dir) {
    const SerialFamily& f = ElzabFamily();
    for (int type : {27, 1, 53, 94}) {
        for (bool filled : {true, false}) {
            orv::test::ElzabEmulator emu(kEmulatorPort, CS6_ECR::ModelForType(type));
            emu.SetCapacityReply(4);
            if (filled) {
                emu.AddPlu(1, "Chleb", 1, 1, 3.5, 5901234123457ull);
                emu.AddPlu(2, "Mleko 2%", 2, 1, 2.99);
                emu.AddPlu(3, "Kawa ziarnista Arabica 1kg", 1, 2, 45.0);
                emu.SetCounter(1, {2000, 3, 700});
                emu.SetCounter(3, {1, 0, 4500});
                for (int s = 0; s < orv::test::ElzabEmulator::kStreamCount; ++s)
                    emu.AddStreamRecord(static_cast<orv::test::ElzabEmulator::Stream>(s), {1, 2000, 3, 700, 350, 1});
            }
            RecordAll(f, IndexOf(f, type), emu, dir, filled ? "" : "-empty");
        }
    }
}

void Dsa(const std::string& dir) {
    using orv::test::DsaModel;
    const SerialFamily& f = DsaFamily();
    const std::pair<int, DsaModel> models[] = {{15, DsaModel::Dsa100M0}, {37, DsaModel::Dsa100M1},
                                               {40, DsaModel::Dsa45B},   {13, DsaModel::Dsa4000M1},
                                               {14, DsaModel::Dsa4000M2}, {36, DsaModel::Dsa4000M3},
                                               {109, DsaModel::Dsp500}};
    for (auto [type, model] : models) {
        orv::test::DsaEmulator emu(kEmulatorPort, model);
        orv::test::DsaEmuPlu p;
        p.name = "CHLEB           ";
        p.price = 350;
        p.quantity = 2000;
        p.barcode = model == DsaModel::Dsp500 ? "5901234" : "5901234123457";
        emu.SetPlu(1, p);
        p.name = "MLEKO 2%        ";
        p.price = 299;
        p.barcode.clear();
        emu.SetPlu(3, p);
        emu.SetDept(1, {"PIECZYWO        ", 1000, '0', 1, 0});
        emu.SetSales({{1, 2000, 700}, {3, 1000, 299}});
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
}

void Elcom50(const std::string& dir) {
    const SerialFamily& f = Elcom50Family();
    for (int type : {16, 17}) {
        for (bool filled : {true, false}) {
            orv::test::Elcom50Emulator emu(kEmulatorPort, type == 17 ? 25 : 24);
            if (filled) {
                orv::test::Elcom50Emulator::PluRow r;
                r.price = "3.50";
                r.name = "Chleb";
                r.tax = "1";
                r.barcode = "5901234123457";
                r.dpt = "1";
                emu.SetPlu(1, r);
                r.price = "2.99";
                r.name = "Mleko 2%";
                r.barcode.clear();
                emu.SetPlu(2, r);
                emu.SetSale(1, "2.000", "7.00");
                emu.SetTaxGroup(1, "23.00", 1);
                emu.SetTaxGroup(2, "8.00", 1);
            }
            RecordAll(f, IndexOf(f, type), emu, dir, filled ? "" : "-empty");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    for (const char* fam : {"elzab", "dsa", "elcom50"}) mkdir((root + "/" + fam).c_str(), 0755);
    Elzab(root + "/elzab");
    Dsa(root + "/dsa");
    Elcom50(root + "/elcom50");
    return 0;
}
