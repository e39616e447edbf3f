// ecr-sim: a simulated cash register on a pseudo-terminal, for trying a host
// (or ecrctl) without hardware.
//
//   ecr-sim [--device elzab|dsa|elcom50|caslp|medesa] [--type N | --model M] [--port N]
//           [--register NN] [--goods FILE.csv] [--delay MS]
//
// The first line on standard output is the variable to give the library,
// e.g. "ECR_COM1=/dev/pts/4"; the simulator then runs until SIGINT or
// SIGTERM. Goods files hold one item per line, as ecrctl reads them:
//   number;code;name;VAT group;department;price[;unit]
// (a comma separates in a line without ';'; a line whose first field is not a number, such as a
// header, is skipped; names are UTF-8 or code page 1250; the code is the
// barcode, up to 13 digits).
//
// Devices are listed in Devices() below: each entry names the device, says
// what it is and builds its emulator from the options.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/cas_lp/cas_lp_emulator.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "sim/medesa/medesa_emulator.h"
#include "sim/dsa/dsa_emulator.h"
#include "sim/elzab/elzab_emulator.h"

namespace {

struct Options {
    std::string device = "elzab";
    int port = 1;
    int type = 27;
    int model = -1;            // from the type unless given
    int registerNumber = 0;
    int delayMs = 0;
    std::string goods;
};

[[noreturn]] void Usage(const char* why) {
    if (why) std::fprintf(stderr, "ecr-sim: %s\n", why);
    std::fprintf(stderr,
                 "usage: ecr-sim [--device elzab|dsa|elcom50|caslp|medesa] [--type N | --model M] [--port N]\n"
                 "               [--register NN] [--goods FILE.csv] [--delay MS]\n"
                 "  elzab    Elzab register (default; --type selects the model, default type 27)\n"
                 "  dsa      DSA register (--type 13, 14, 15, 36, 37 or 40)\n"
                 "  elcom50  Elcom 50 register (--type 16 or 17)\n"
                 "  caslp    CAS LP label scale (--type 105 for LP-1, 110 for LP-16)\n"
                 "  medesa   Medesa scale (type 100; --register gives its address; no --goods)\n"
                 "Prints ECR_COM<port>=<pseudo-terminal> and runs until SIGINT or SIGTERM.\n");
    std::exit(2);
}

int ToInt(const char* text, const char* what) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end) Usage((std::string("not a number for ") + what).c_str());
    return static_cast<int>(v);
}

// UTF-8 Polish letters to code page 1250; text that is not UTF-8 is taken
// as code page 1250 already.
std::string ToCp1250(const std::string& s) {
    static const std::map<unsigned, unsigned char> letters = {
        {0x0104, 0xA5}, {0x0106, 0xC6}, {0x0118, 0xCA}, {0x0141, 0xA3}, {0x0143, 0xD1}, {0x00D3, 0xD3},
        {0x015A, 0x8C}, {0x0179, 0x8F}, {0x017B, 0xAF}, {0x0105, 0xB9}, {0x0107, 0xE6}, {0x0119, 0xEA},
        {0x0142, 0xB3}, {0x0144, 0xF1}, {0x00F3, 0xF3}, {0x015B, 0x9C}, {0x017A, 0x9F}, {0x017C, 0xBF}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            auto it = letters.find(cp);
            out += it != letters.end() ? static_cast<char>(it->second) : '?';
            i += 2;
            continue;
        }
        out += static_cast<char>(c);   // already a single-byte code page
        ++i;
    }
    return out;
}

// Fields are separated by ';', or by ',' in a line without ';'.
std::vector<std::string> SplitFields(const std::string& line) {
    const char sep = line.find(';') != std::string::npos ? ';' : ',';
    std::vector<std::string> f;
    std::string cur;
    for (char ch : line) {
        if (ch == sep) {
            f.push_back(cur);
            cur.clear();
        } else if (ch != '\r') {
            cur += ch;
        }
    }
    f.push_back(cur);
    for (auto& s : f) {
        while (!s.empty() && s.front() == ' ') s.erase(s.begin());
        while (!s.empty() && s.back() == ' ') s.pop_back();
        if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    }
    return f;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Price text with a dot or a comma, independent of the locale.
bool ParsePrice(const std::string& s, double& v) {
    long long whole = 0, frac = 0, scale = 1;
    bool dot = false, any = false;
    for (char c : s) {
        if (c == '.' || (c == ',' && !dot)) {
            if (dot) return false;
            dot = true;
        } else if (c >= '0' && c <= '9') {
            any = true;
            if (dot) {
                if (scale < 1000000) {
                    frac = frac * 10 + (c - '0');
                    scale *= 10;
                }
            } else {
                if (whole > 100000000000LL) return false;   // far beyond any price
                whole = whole * 10 + (c - '0');
            }
        } else {
            return false;
        }
    }
    v = static_cast<double>(whole) + static_cast<double>(frac) / static_cast<double>(scale);
    return any;
}

// Calls fn(fields, line number) for every line of a goods file whose first
// field is a number of at most maxDigits digits and that has at least six
// fields; fn returns whether it took the line. Returns the count taken.
int ForEachGoodsLine(const std::string& path, size_t maxDigits,
                     const std::function<bool(const std::vector<std::string>&, int)>& fn) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "ecr-sim: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::string line;
    int n = 0, lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        auto f = SplitFields(line);
        if (f.size() < 6 || !AllDigits(f[0]) || f[0].size() > maxDigits) continue;
        if (fn(f, lineNo)) ++n;
    }
    return n;
}

// ---------------------------------------------------------------- Elzab ----

int ElzabModelForType(int type) {
    static const std::map<int, int> models = {
        {2, 2},   {3, 3},   {4, 8},   {77, 8},  {5, 10},  {76, 10}, {6, 5},   {20, 32},  {22, 33},  {24, 34},
        {27, 13}, {28, 14}, {29, 15}, {78, 15}, {30, 16}, {31, 17}, {32, 18}, {46, 19},  {53, 23},  {63, 24},
        {79, 25}, {80, 26}, {81, 27}, {94, 28}, {95, 29}, {98, 30}, {99, 31}, {102, 20}, {300, 20}, {700, 21},
        {701, 22}};
    auto it = models.find(type);
    return it == models.end() ? 1 : it->second;
}

int LoadElzabGoods(orv::test::ElzabEmulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 5, [&](const std::vector<std::string>& f, int lineNo) {
        double price = 0;
        const unsigned long number = std::stoul(f[0]);
        // The register keeps the group, department and unit in one byte each.
        auto byteField = [](const std::string& t) { return AllDigits(t) && t.size() <= 3 && std::atoi(t.c_str()) <= 255; };
        const bool unitGiven = f.size() > 6 && AllDigits(f[6]);
        if (number < 1 || number > reg.PluCapacity() || !byteField(f[3]) || !byteField(f[4]) ||
            (unitGiven && !byteField(f[6])) || !ParsePrice(f[5], price) || price > 21474836.47) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, VAT group, department, unit or price)\n",
                         path.c_str(), lineNo);
            return false;
        }
        uint64_t barcode = AllDigits(f[1]) && f[1].size() <= 13 ? std::stoull(f[1]) : 0;
        int unit = unitGiven ? std::atoi(f[6].c_str()) : 1;
        reg.AddPlu(static_cast<uint32_t>(number), ToCp1250(f[2]), static_cast<uint8_t>(std::atoi(f[3].c_str())),
                   static_cast<uint8_t>(std::atoi(f[4].c_str())), price, barcode, static_cast<uint8_t>(unit));
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeElzab(const Options& o) {
    int model = o.model > 0 ? o.model : ElzabModelForType(o.type);
    auto reg = std::make_unique<orv::test::ElzabEmulator>(o.port, static_cast<uint32_t>(model));
    reg->SetRecording(false);
    reg->SetRegisterNumber(static_cast<uint32_t>(o.registerNumber));
    reg->SetAnswerDelay(o.delayMs);
    reg->SetDept(1, ToCp1250("Ogólny"));
    // The register's clock shows the local time of the start.
    time_t now = time(nullptr);
    struct tm lt {};
    localtime_r(&now, &lt);
    const int parts[5] = {lt.tm_year % 100, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min};
    orv::test::Bytes digits;
    for (int v : parts) {
        digits.push_back(static_cast<uint8_t>(v / 10));
        digits.push_back(static_cast<uint8_t>(v % 10));
    }
    reg->SetStatus(0x31, "SIM00000001", digits, 1, {0, 0, 0, 0});
    int n = o.goods.empty() ? 0 : LoadElzabGoods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: Elzab register, model %d (device type %d), register number %02d, %d goods, %u PLU numbers\n",
                 model, o.model > 0 ? 0 : o.type, o.registerNumber % 100, n, reg->PluCapacity());
    return reg;
}

// ------------------------------------------------------------ Elcom 50 ----

int LoadElcom50Goods(orv::test::Elcom50Emulator& reg, const std::string& path) {
    const size_t width = reg.model() == 25 ? 42 : 24;
    return ForEachGoodsLine(path, 5, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        if (number < 1 || number > reg.maxRecord() || !AllDigits(f[3]) || !AllDigits(f[4]) || !ParsePrice(f[5], price)) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, VAT group, department or price)\n", path.c_str(), lineNo);
            return false;
        }
        // Kept as the register keeps a written PLU.
        orv::test::Elcom50Emulator::PluRow row;
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", price);
        row.price = text;
        row.name = ToCp1250(f[2]).substr(0, width);
        row.name.resize(width, ' ');
        row.tax = f[3];
        row.dpt = f[4];
        row.barcode = AllDigits(f[1]) ? f[1].substr(0, 18) : std::string();
        row.barcode.insert(0, 18 - row.barcode.size(), '0');
        row.unit = f.size() > 6 && AllDigits(f[6]) ? f[6] : "1";
        row.link = "0000";
        reg.SetPlu(static_cast<uint32_t>(number), row);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeElcom50(const Options& o) {
    const int model = o.model == 24 || o.model == 25 ? o.model : (o.type == 17 ? 25 : 24);
    auto reg = std::make_unique<orv::test::Elcom50Emulator>(o.port, model);
    reg->SetRecording(false);
    reg->SetAnswerDelay(o.delayMs);
    reg->SetDept(1, ToCp1250("Ogólny"));
    reg->SetUnit(1, "szt");
    reg->SetUnit(2, "kg");
    reg->SetTaxGroup(1, "23.00", 1);
    reg->SetTaxGroup(2, "8.00", 1);
    reg->SetTaxGroup(3, "5.00", 1);
    reg->SetTaxGroup(4, "0.00", 1);
    reg->SetTaxGroup(5, "0.00", 2);
    int n = o.goods.empty() ? 0 : LoadElcom50Goods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: Elcom 50 register, model %d (device type %d), %d goods, %d PLU numbers\n", model,
                 model == 25 ? 17 : 16, n, reg->maxRecord());
    return reg;
}

// ----------------------------------------------------------------- DSA ----

int LoadDsaGoods(orv::test::DsaEmulator& reg, const std::string& path, uint32_t capacity) {
    return ForEachGoodsLine(path, 7, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        if (number < 1 || number > static_cast<long>(capacity) || !AllDigits(f[4]) || !ParsePrice(f[5], price)) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, department or price)\n", path.c_str(), lineNo);
            return false;
        }
        orv::test::DsaEmuPlu plu;
        plu.name = orv::test::DsaEmulator::DeviceText(ToCp1250(f[2]));
        plu.price = static_cast<uint64_t>(price * 100.0 + 0.1);
        plu.dept = static_cast<uint32_t>(std::stoul(f[4]));
        plu.barcode = AllDigits(f[1]) ? f[1].substr(0, 13) : std::string();
        reg.SetPlu(static_cast<uint32_t>(number), plu);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeDsa(const Options& o) {
    using orv::test::DsaModel;
    static const std::map<int, std::pair<DsaModel, uint32_t>> models = {
        {15, {DsaModel::Dsa100M0, 2730}},  {37, {DsaModel::Dsa100M1, 4500}},  {40, {DsaModel::Dsa45B, 3000}},
        {13, {DsaModel::Dsa4000M1, 4560}}, {14, {DsaModel::Dsa4000M2, 13320}}, {36, {DsaModel::Dsa4000M3, 20000}}};
    auto it = models.find(o.type);
    if (it == models.end()) Usage("--device dsa needs --type 13, 14, 15, 36, 37 or 40");
    auto reg = std::make_unique<orv::test::DsaEmulator>(o.port, it->second.first);
    reg->SetRecordRequests(false);
    const char* names[] = {"Ogólny", "Pieczywo", "Napoje"};
    for (uint32_t d = 1; d <= 3; ++d) {
        orv::test::DsaEmuDept dept;
        dept.name = orv::test::DsaEmulator::DeviceText(ToCp1250(names[d - 1]));
        dept.name.resize(16, ' ');
        dept.tax = d;
        dept.limit = 999999999;
        reg->SetDept(d, dept);
    }
    int n = o.goods.empty() ? 0 : LoadDsaGoods(*reg, o.goods, it->second.second);
    std::fprintf(stderr, "ecr-sim: DSA register (device type %d), %d goods, %u PLU numbers\n", o.type, n,
                 it->second.second);
    return reg;
}

// -------------------------------------------------------------- CAS LP ----

// Goods lines as for the registers; the code's first 6 characters as the
// scale's item code number, the name cut to 28 letters.
int LoadCasLpGoods(orv::test::CasLpEmulator& scale, const std::string& path) {
    const long top = scale.variant() == 16 ? 4000 : 1000;
    return ForEachGoodsLine(path, 4, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        if (number < 1 || number > top || !AllDigits(f[4]) || !ParsePrice(f[5], price) || price > 9999.99) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, department or price)\n", path.c_str(), lineNo);
            return false;
        }
        orv::test::CasLpEmulator::Goods g;
        std::string code = f[1].substr(0, 6);
        code.insert(0, 6 - code.size(), '0');
        g.itemCode = AllDigits(code) ? static_cast<uint32_t>(std::stoul(code)) : 0;
        g.name1 = ToCp1250(f[2]).substr(0, 28);
        g.hundredths = static_cast<uint32_t>(price * 100.0 + 0.1);
        g.department = static_cast<uint32_t>(std::stoul(f[4]) & 0xFFFF);
        scale.SetGoods(static_cast<uint32_t>(number), g);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeCasLp(const Options& o) {
    if (o.type != 105 && o.type != 110) Usage("--device caslp needs --type 105 or 110");
    auto scale = std::make_unique<orv::test::CasLpEmulator>(o.port, o.type == 110 ? 16 : 1);
    int n = o.goods.empty() ? 0 : LoadCasLpGoods(*scale, o.goods);
    std::fprintf(stderr, "ecr-sim: CAS LP label scale, %s (device type %d), %d goods\n",
                 o.type == 110 ? "LP-16" : "LP-1", o.type, n);
    return scale;
}

// -------------------------------------------------------------- Medesa ----

std::unique_ptr<orv::test::EmulatorBase> MakeMedesa(const Options& o) {
    if (o.registerNumber < 0 || o.registerNumber > 255) Usage("--register must be 0..255 for medesa");
    auto scale = std::make_unique<orv::test::MedesaEmulator>(o.port, static_cast<uint8_t>(o.registerNumber));
    scale->SetDept(1, "Og\xCDlny");   // "Ogólny" in the scale's letters
    std::fprintf(stderr, "ecr-sim: Medesa scale (device type 100), address %d\n", o.registerNumber);
    return scale;
}

// ------------------------------------------------------------- devices ----

struct Device {
    const char* name;
    const char* what;
    std::function<std::unique_ptr<orv::test::EmulatorBase>(const Options&)> make;
};

const std::vector<Device>& Devices() {
    static const std::vector<Device> devices = {
        {"elzab", "Elzab register (binary protocol, 8E1)", MakeElzab},
        {"elcom50", "Elcom 50 register (text lines, 8N1; --type 16 or 17)", MakeElcom50},
        {"dsa", "DSA register (ASCII frames, 8N1; --type 13, 14, 15, 36, 37 or 40)", MakeDsa},
        {"caslp", "CAS LP label scale (8N1; --type 105 LP-1 at 9600 baud, 110 LP-16)", MakeCasLp},
        {"medesa", "Medesa scale (framed binary jobs, 8N1; type 100)", MakeMedesa},
    };
    return devices;
}

Options ParseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Usage(("missing value for " + a).c_str());
            return argv[++i];
        };
        if (a == "--device") o.device = value();
        else if (a == "--port") o.port = ToInt(value(), "--port");
        else if (a == "--type") o.type = ToInt(value(), "--type");
        else if (a == "--model") o.model = ToInt(value(), "--model");
        else if (a == "--register") o.registerNumber = ToInt(value(), "--register");
        else if (a == "--goods") o.goods = value();
        else if (a == "--delay") o.delayMs = ToInt(value(), "--delay");
        else if (a == "--help" || a == "-h") Usage(nullptr);
        else Usage(("unknown option " + a).c_str());
    }
    if (o.port < 1 || o.port > 16) Usage("--port must be 1..16");
    if (o.delayMs < 0) Usage("--delay must not be negative");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = ParseArgs(argc, argv);
    const Device* dev = nullptr;
    for (const Device& d : Devices())
        if (o.device == d.name) dev = &d;
    if (!dev) {
        std::fprintf(stderr, "ecr-sim: unknown device '%s'; known:", o.device.c_str());
        for (const Device& d : Devices()) std::fprintf(stderr, " %s (%s)", d.name, d.what);
        std::fprintf(stderr, "\n");
        return 2;
    }

    // The signals are taken by sigtimedwait below, never by another thread.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<orv::test::EmulatorBase> emu = dev->make(o);
    emu->Start();
    std::printf("ECR_COM%d=%s\n", o.port, emu->pty().slavePath().c_str());
    std::fflush(stdout);

    for (;;) {
        struct timespec second = {1, 0};
        int sig = sigtimedwait(&stop, nullptr, &second);
        if (sig > 0) break;
        // Nothing is kept for a later look: forget the traffic history.
        emu->ClearReceived();
        emu->ClearSent();
    }
    emu->Stop();
    std::fprintf(stderr, "ecr-sim: stopped\n");
    return 0;
}
