// Writes the seed corpora of the serial fuzz targets: every job on several
// device types of each family, run against the family's emulator (with a few
// goods and sales in it, and once empty), recording the emulator's answers in
// the targets' input format.
//
//   fuzz_seeds <corpus dir> [family...]   (writes <dir>/<family> for each,
//                                          every family when none is named)
//
// Beside each recorded input it writes two spoilt ones, so that the fuzzer
// starts from the paths of a refused frame too: "-nak" (the register's first
// answer is a NAK alone) and "-badsum" (the last byte of its longest answer,
// where the frames keep their check, changed).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "drivers/elzab/cs6_ecr.h"
#include "fakes/fake_hid_device.h"
#include "serial_families.h"
#include "drivers/sharp/sharp_traits.h"
#include "sim/adax/adax_emulator.h"
#include "sim/cas_lp/cas_lp_emulator.h"
#include "sim/cr280/cr280_emulator.h"
#include "sim/dibal/dibal_emulator.h"
#include "sim/dsa/dsa_emulator.h"
#include "sim/dsp800/dsp800_emulator.h"
#include "sim/elemis/elemis_emulator.h"
#include "sim/medesa/medesa_emulator.h"
#include "sim/ncr/ncr_emulator.h"
#include "sim/posnet/perfekt_emulator.h"
#include "sim/posnet/posnet_ecr_emulator.h"
#include "sim/sharp/sharp227_emulator.h"
#include "sim/sharp/sharp_emulator.h"
#include "sim/tango/tango_emulator.h"
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

// The recorded answers spoilt: the first one a NAK, and the longest one with
// its last byte changed (a frame's check or its end).
void WriteSpoilt(const std::string& dir, const std::string& name, SerialJob job, size_t typeIndex,
                 const std::vector<Bytes>& answers) {
    auto first = std::find_if(answers.begin(), answers.end(), [](const Bytes& a) { return !a.empty(); });
    if (first == answers.end()) return;
    std::vector<Bytes> nak(answers.begin(), answers.end());
    nak[static_cast<size_t>(first - answers.begin())] = Bytes{0x15};
    Write(dir, name + "-nak", EncodeInput(job, typeIndex, nak));
    std::vector<Bytes> bad(answers.begin(), answers.end());
    auto longest = std::max_element(bad.begin(), bad.end(),
                                    [](const Bytes& a, const Bytes& b) { return a.size() < b.size(); });
    longest->back() ^= 0x01;
    Write(dir, name + "-badsum", EncodeInput(job, typeIndex, bad));
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
        WriteSpoilt(dir, name, job, typeIndex, answers);
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

void TangoRegisters(const SerialFamily& f, std::initializer_list<int> types, const std::string& dir) {
    for (int type : types) {
        orv::test::TangoEmulator emu(kEmulatorPort);
        orv::test::TangoDevice::GoodsFields g;
        g.code = "5901234123457";
        g.name = "Chleb";
        g.price = 350;
        emu.Device().PutGoods(orv::test::TangoDevice::MakeGoodsRecord(g));
        orv::test::TangoDevice::Sale s;
        s.code = "5901234123457";
        s.plu = 1;
        s.name = "Chleb";
        s.quantity = 2000;
        s.value = 700;
        emu.Device().SetSales({s});
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
}

void Tango(const std::string& dir) { TangoRegisters(TangoFamily(), {12, 57, 85}, dir); }
void NextTcp(const std::string& dir) { TangoRegisters(NextTcpFamily(), {85, 86}, dir); }

void Posnet(const std::string& dir) {
    const SerialFamily& f = PosnetFamily();
    for (auto [type, variant] : {std::pair{38, 1}, std::pair{44, 2}, std::pair{45, 3}, std::pair{54, 4}}) {
        orv::test::PerfektEmulator emu(kEmulatorPort, variant);
        orv::test::PerfektEmuPlu p;
        p.name = "CHLEB           ";
        p.code = "5901234123457";
        p.price = "350";
        emu.SetPlu(1, p);
        emu.SetSale(1, 2000, 700);
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
    orv::test::PosnetEcrEmulator emu(kEmulatorPort);
    orv::test::PosnetEcrEmuRecord r;
    r.name = "Chleb";
    r.barcode = "5901234123457";
    r.price = "3.50";
    emu.SetRecord(1, r);
    RecordAll(f, IndexOf(f, 21), emu, dir, "");
}

void Sharp(const std::string& dir) {
    const SerialFamily& f = SharpFamily();
    const std::pair<int, const SharpTraits*> types[] = {{33, &kSharp457Traits}, {18, &kSharp495Traits},
                                                        {97, &kSharp285Traits}, {47, &kSharp277Traits},
                                                        {49, &kSharp277Traits}, {25, &kSharp455Traits}};
    for (auto [type, traits] : types) {
        orv::test::SharpEmulator emu(kEmulatorPort, *traits, 1);
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
}

void Sharp227(const std::string& dir) {
    orv::test::Sharp227Emulator emu(kEmulatorPort);
    RecordAll(Sharp227Family(), 0, emu, dir, "");
}

void Adax(const std::string& dir) {
    orv::test::AdaxEmulator emu(kEmulatorPort);
    orv::test::AdaxEmuItem it;
    it.name = "CHLEB             ";
    it.price = 350;
    it.soldQuantity = 2000;
    it.soldValue = 700;
    emu.SetItem("5901234123457", it);
    RecordAll(AdaxFamily(), 0, emu, dir, "");
}

void Dsp800(const std::string& dir) {
    orv::test::Dsp800Emulator emu(kEmulatorPort);
    orv::test::Dsp800EmuItem it;
    it.name = "CHLEB               ";
    it.price = 350;
    it.code = "5901234";
    emu.SetItem(1, it);
    RecordAll(Dsp800Family(), 0, emu, dir, "");
}

void Cr280(const std::string& dir) {
    using Mode = orv::test::Cr280Emulator::Mode;
    const SerialFamily& f = Cr280Family();
    for (auto [type, mode] : {std::pair{11, Mode::Cr280}, std::pair{23, Mode::Hida}, std::pair{9, Mode::Optimus}}) {
        orv::test::Cr280Emulator emu(kEmulatorPort, mode);
        orv::test::Cr280EmuItem it;
        it.name = "CHLEB       ";
        it.price = 350;
        it.quantity = 200;
        it.value = 700;
        emu.SetItem("5901234123457", it);
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
}

void Ncr(const std::string& dir) {
    orv::test::NcrEmulator emu(kEmulatorPort);
    emu.AddPlu("5901234123457", 350, 1, "Chleb");
    emu.AddSale("5901234123457", "2.000", "7.00");
    RecordAll(NcrFamily(), 0, emu, dir, "");
}

void Elemis(const std::string& dir) {
    orv::test::ElemisEmulator emu(kEmulatorPort);
    emu.AddSale("5901234123457", 2000, 700);
    emu.SetVat(0, 2300);
    RecordAll(ElemisFamily(), 0, emu, dir, "");
}

void CasLp(const std::string& dir) {
    const SerialFamily& f = CasLpFamily();
    for (auto [type, variant] : {std::pair{105, 1}, std::pair{110, 16}}) {
        orv::test::CasLpEmulator emu(kEmulatorPort, variant);
        orv::test::CasLpEmulator::Goods g;
        g.itemCode = 12345;
        g.name1 = "Chleb";
        g.hundredths = 350;
        g.department = 1;
        emu.SetGoods(1, g);
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
}

void Medesa(const std::string& dir) {
    orv::test::MedesaEmulator emu(kEmulatorPort, 1);
    emu.SetVatRate(0, 2300);
    RecordAll(MedesaFamily(), 0, emu, dir, "");
}

void Dibal(const std::string& dir) {
    const SerialFamily& f = DibalFamily();
    for (int type : {103, 104}) {
        orv::test::DibalEmulator emu(kEmulatorPort, type == 104, 1);
        RecordAll(f, IndexOf(f, type), emu, dir, "");
    }
}

// The USB scale: the scripted bus's own scale answers each report (trailing
// zeros left out: the harness pads every answer to a whole report).
void MedesaUsb(const std::string& dir) {
    const SerialFamily& f = MedesaUsbFamily();
    for (size_t typeIndex = 0; typeIndex < f.types.size(); ++typeIndex) {
        for (uint8_t j = 0; j < static_cast<uint8_t>(SerialJob::Count); ++j) {
            const auto job = static_cast<SerialJob>(j);
            auto answers = RecordJob(f, job, typeIndex, [](const Bytes& report) {
                Bytes a = UsbBus().ScaleAnswer(report);
                while (!a.empty() && a.back() == 0) a.pop_back();
                return a;
            });
            const std::string name = std::string(JobName(job)) + "-t" + std::to_string(f.types[typeIndex]);
            Write(dir, name, EncodeInput(job, typeIndex, answers));
            WriteSpoilt(dir, name, job, typeIndex, answers);
            std::fprintf(stderr, "%s/%s: %zu answers\n", f.name, name.c_str(), answers.size());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus dir> [family...]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const std::pair<const char*, void (*)(const std::string&)> families[] = {
        {"elzab", Elzab},   {"dsa", Dsa},       {"elcom50", Elcom50}, {"tango", Tango},   {"posnet", Posnet},
        {"sharp", Sharp},   {"sharp227", Sharp227}, {"adax", Adax},   {"dsp800", Dsp800}, {"cr280", Cr280},
        {"ncr", Ncr},       {"elemis", Elemis}, {"cas_lp", CasLp},    {"medesa", Medesa}, {"dibal", Dibal},
        {"medesa_usb", MedesaUsb}, {"next_tcp", NextTcp}};
    for (auto [name, record] : families) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i) wanted = wanted || std::string(argv[i]) == name;
        if (!wanted) continue;
        mkdir((root + "/" + name).c_str(), 0755);
        record(root + "/" + name);
    }
    return 0;
}
