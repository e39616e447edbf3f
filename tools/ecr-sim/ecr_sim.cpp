// ecr-sim: a simulated cash register on a pseudo-terminal, for trying a host
// (or ecrctl) without hardware.
//
//   ecr-sim [--device NAME] [--type N | --model M] [--port N]
//           [--register NN] [--goods FILE.csv] [--delay MS]      (ecr-sim --help)
//
// The first line on standard output is the variable to give the library,
// e.g. "ECR_COM1=/dev/pts/4"; the simulator then runs until SIGINT or
// SIGTERM. A Next register (--device next) listens on 127.0.0.1:5001
// instead (--serial: a pseudo-terminal); the first line is then the number
// to give as the port with connection kind 11, e.g. "PORT=2130706433".
// Goods files hold one item per line, as ecrctl reads them:
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
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/adax/adax_emulator.h"
#include "sim/cr280/cr280_emulator.h"
#include "sim/dsp800/dsp800_emulator.h"
#include "sim/dibal/dibal_emulator.h"
#include "sim/cas_lp/cas_lp_emulator.h"
#include "sim/elcom50/elcom50_emulator.h"
#include "sim/medesa/medesa_emulator.h"
#include "sim/dsa/dsa_emulator.h"
#include "sim/elemis/elemis_emulator.h"
#include "sim/ncr/ncr_emulator.h"
#include "util/chrarr.h"
#include "sim/elzab/elzab_emulator.h"
#include "sim/posnet/perfekt_emulator.h"
#include "sim/posnet/posnet_ecr_emulator.h"
#include "util/chrarr.h"
#include "sim/sharp/sharp227_emulator.h"
#include "sim/sharp/sharp_emulator.h"
#include "sim/tango/tango_emulator.h"

namespace {

struct Options {
    std::string device = "elzab";
    int port = 1;
    int type = 0;              // 0: the device's own default
    int model = -1;            // from the type unless given
    int registerNumber = 0;
    int delayMs = 0;
    std::string goods;
    bool serial = false;       // a Next register on a pseudo-terminal instead of TCP
};

[[noreturn]] void Usage(const char* why);

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

// ------------------------------------------------------ Posnet Perfekt ----

int LoadPerfektGoods(orv::test::PerfektEmulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 6, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        if (number < 1 || !AllDigits(f[3]) || f[3].size() != 1 || f[3][0] < '1' || f[3][0] > '7' ||
            !ParsePrice(f[5], price) || price > 21474836.47) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, VAT group 1..7 or price)\n", path.c_str(), lineNo);
            return false;
        }
        // Kept as the register keeps a written PLU.
        orv::test::PerfektEmuPlu plu;
        plu.name = Cp1250ToMazovia(CChrArr(ToCp1250(f[2]))).ToString().substr(0, 16);
        plu.name.resize(16, ' ');
        const std::string code = AllDigits(f[1]) && f[1].size() <= 13 ? f[1] : std::string();
        plu.code = std::string(13 - code.size(), '0') + code;
        plu.price = std::to_string(static_cast<long long>(price * 100.0 + 0.5));
        plu.vat = std::string(1, static_cast<char>(f[3][0] - 1));
        reg.SetPlu(static_cast<uint32_t>(number), plu);
        return true;
    });
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

// ----------------------------------------------------------------- NCR ----

int LoadNcrGoods(orv::test::NcrEmulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 9, [&](const std::vector<std::string>& f, int lineNo) {
        double price = 0;
        const std::string code = f[1].substr(0, 12);
        if (code.empty() || code.find(':') != std::string::npos || !AllDigits(f[4]) || f[4].size() > 2 ||
            std::atoi(f[4].c_str()) < 1 || !ParsePrice(f[5], price) || price > 9999999.99) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (code, department or price)\n", path.c_str(), lineNo);
            return false;
        }
        // Kept as the register keeps a programmed item: the name in CP852.
        const CChrArr name = Cp1250ToCp852(CChrArr(ToCp1250(f[2]).substr(0, 12)));
        reg.AddPlu(code, static_cast<uint32_t>(price * 100.0 + 0.1), static_cast<uint32_t>(std::atoi(f[4].c_str())),
                   std::string(name.ToString()));
        return true;
    });
}

// ---------------------------------------------------------------- Adax ----

// Goods are kept by code; the register reports only codes and sold figures.
int LoadAdaxGoods(orv::test::AdaxEmulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 9, [&](const std::vector<std::string>& f, int lineNo) {
        double price = 0;
        const bool deptOk = AllDigits(f[4]) && f[4].size() <= 3 && std::atoi(f[4].c_str()) <= 191;
        if (!AllDigits(f[1]) || f[1].size() > 13 || !deptOk || !ParsePrice(f[5], price) || price > 99999999.99) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (code, department or price)\n", path.c_str(), lineNo);
            return false;
        }
        orv::test::AdaxEmuItem item;
        item.name = ToCp1250(f[2]).substr(0, 18);
        item.name.resize(18, ' ');
        item.dept = static_cast<uint8_t>(0x40 + std::atoi(f[4].c_str()));
        item.price = static_cast<uint64_t>(price * 100.0 + 0.1);
        reg.SetItem(f[1], item);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeNcr(const Options& o) {
    auto reg = std::make_unique<orv::test::NcrEmulator>(o.port);
    reg->SetRecording(false);
    int n = o.goods.empty() ? 0 : LoadNcrGoods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: NCR register (device type 8), %d goods\n", n);
    return reg;
}

// -------------------------------------------------------------- Elemis ----

int LoadElemisGoods(orv::test::ElemisEmulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 5, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        const bool codeOk = f[1].empty() || (AllDigits(f[1]) && f[1].size() <= 13);
        if (number < 1 || number > 10000 || !codeOk || !AllDigits(f[3]) || f[3].size() > 1 || f[3] == "0" ||
            f[3] == "9" || !ParsePrice(f[5], price) || price > 42949672.95) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, code, VAT group or price)\n", path.c_str(), lineNo);
            return false;
        }
        const std::string code = f[1].empty() ? f[0] : f[1];
        reg.SetPlu(static_cast<uint32_t>(number), std::string(13 - code.size(), '0') + code, ToCp1250(f[2]),
                   static_cast<uint32_t>(price * 100.0 + 0.1), static_cast<uint8_t>(std::atoi(f[3].c_str()) - 1), 0);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeAdax(const Options& o) {
    auto reg = std::make_unique<orv::test::AdaxEmulator>(o.port);
    int n = o.goods.empty() ? 0 : LoadAdaxGoods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: Adax register (device type 19), %d goods; the ready frame every 0.5 s\n", n);
    return reg;
}

// ------------------------------------------------------------- DSP 800 ----

int LoadDsp800Goods(orv::test::Dsp800Emulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 3, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        if (number < 1 || number > 500 || !ParsePrice(f[5], price) || price > 9999.99) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number or price)\n", path.c_str(), lineNo);
            return false;
        }
        orv::test::Dsp800EmuItem item;
        item.name = Cp1250ToDsp800(CChrArr(ToCp1250(f[2]))).ToString().substr(0, 20);
        item.price = static_cast<uint32_t>(price * 100.0 + 0.1);
        item.vat = f[3] == "2" ? 'B' : 'A';
        item.code = f[1].substr(0, 7);
        reg.SetItem(static_cast<uint32_t>(number), item);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakePerfekt(const Options& o) {
    static const std::map<int, int> variants = {{38, 1}, {44, 2}, {45, 3}, {54, 4}, {62, 4}};
    auto it = variants.find(o.type);
    if (it == variants.end()) Usage("--device perfekt needs --type 38, 44, 45, 54 or 62");
    auto reg = std::make_unique<orv::test::PerfektEmulator>(o.port, it->second);
    reg->SetRecording(false);
    reg->SetAnswerDelay(o.delayMs);
    if (it->second == 4) reg->SetDept(1, Cp1250ToMazovia(CChrArr(ToCp1250("Ogólny          "))).ToString());
    int n = o.goods.empty() ? 0 : LoadPerfektGoods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: Posnet Perfekt/Bingo register (device type %d, layout %d), %d goods\n", o.type,
                 it->second, n);
    return reg;
}

// ---------------------------------------------------------- Posnet ECR ----

int LoadPosnetEcrGoods(orv::test::PosnetEcrEmulator& reg, const std::string& path) {
    return ForEachGoodsLine(path, 6, [&](const std::vector<std::string>& f, int lineNo) {
        double price = 0;
        if (!AllDigits(f[3]) || f[3].size() != 1 || !AllDigits(f[4]) || f[4].size() > 3 || !ParsePrice(f[5], price)) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (VAT group, department or price)\n", path.c_str(), lineNo);
            return false;
        }
        orv::test::PosnetEcrEmuRecord r;
        r.name = ToCp1250(f[2]).substr(0, 24);
        r.vat = f[3];
        r.dept = f[4];
        const std::string code = AllDigits(f[1]) && f[1].size() <= 13 ? f[1] : std::string();
        r.barcode = std::string(13 - code.size(), '0') + code;
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", price);
        r.price = text;
        reg.SetRecord(static_cast<uint32_t>(std::stoul(f[0])), r);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakeDsp800(const Options& o) {
    auto reg = std::make_unique<orv::test::Dsp800Emulator>(o.port);
    int n = o.goods.empty() ? 0 : LoadDsp800Goods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: DSP 800 register (device type 101), %d goods, 500 PLU numbers\n", n);
    return reg;
}

// -------------------------------------------------------------- CR-280 ----

// The CR-280 keeps the VAT group as "V000", the Hida as "0V00".
int LoadCr280Goods(orv::test::Cr280Emulator& reg, const std::string& path, bool hida = false) {
    return ForEachGoodsLine(path, 9, [&](const std::vector<std::string>& f, int lineNo) {
        double price = 0;
        const bool vatOk = AllDigits(f[3]) && f[3].size() == 1 && f[3][0] <= '8';
        const bool deptOk = AllDigits(f[4]) && (f[4] == "255" || f[4].size() <= 2);
        if (!AllDigits(f[1]) || f[1].size() > 13 || !vatOk || !deptOk || !ParsePrice(f[5], price) ||
            price > 999999.99) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (code, VAT group, department or price)\n", path.c_str(),
                         lineNo);
            return false;
        }
        orv::test::Cr280EmuItem item;
        item.dept = f[4] == "255" ? "FF" : std::string(2 - f[4].size(), '0') + f[4];
        item.vatFlag = hida ? "0" + f[3] + "00" : f[3] + "000";
        item.price = static_cast<uint64_t>(price * 100.0 + 0.1);
        item.name = Cp1250ToDsp800(CChrArr(ToCp1250(f[2]))).ToString().substr(0, 12);
        item.name.resize(12, ' ');
        reg.SetItem(std::string(13 - f[1].size(), '0') + f[1], item);
        return true;
    });
}

std::unique_ptr<orv::test::EmulatorBase> MakePosnetEcr(const Options& o) {
    auto reg = std::make_unique<orv::test::PosnetEcrEmulator>(o.port);
    reg->SetRecording(false);
    reg->SetAnswerDelay(o.delayMs);
    int n = o.goods.empty() ? 0 : LoadPosnetEcrGoods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: Posnet ECR register (device type 21), %d goods\n", n);
    return reg;
}

std::unique_ptr<orv::test::EmulatorBase> MakeSharp(const Options& o) {
    static const std::map<int, const SharpTraits*> models = {
        {33, &kSharp457Traits}, {18, &kSharp495Traits}, {97, &kSharp285Traits}, {47, &kSharp277Traits},
        {48, &kSharp277Traits}, {49, &kSharp277Traits}, {50, &kSharp277Traits}, {25, &kSharp455Traits}};
    if (o.type == 74) {
        // The 227: the command link (8O1); it keeps no machine number.
        auto reg = std::make_unique<orv::test::Sharp227Emulator>(o.port);
        reg->SetReplyDelay(o.delayMs);
        std::fprintf(stderr, "ecr-sim: Sharp 227 register (device type 74)\n");
        return reg;
    }
    auto it = models.find(o.type);
    if (it == models.end()) Usage("--device sharp needs --type 18, 25, 33, 47, 48, 49, 50, 74 or 97");
    const int machine = o.registerNumber > 0 ? o.registerNumber : 1;
    auto reg = std::make_unique<orv::test::SharpEmulator>(o.port, *it->second, machine);
    reg->SetRecordBlocks(false);
    reg->SetReplyDelay(o.delayMs);
    if (!o.goods.empty()) std::fprintf(stderr, "ecr-sim: --goods is not read for the Sharp registers\n");
    std::fprintf(stderr, "ecr-sim: Sharp register (device type %d, %s), machine number %d\n", o.type,
                 it->second->name, machine);
    return reg;
}

std::unique_ptr<orv::test::EmulatorBase> MakeElemis(const Options& o) {
    auto reg = std::make_unique<orv::test::ElemisEmulator>(o.port);
    reg->SetRecording(false);
    const char* link = std::getenv("ECR_ELEMIS_LINK");
    if (link && *link) reg->SetLinkConstant(link);
    int n = o.goods.empty() ? 0 : LoadElemisGoods(*reg, o.goods);
    std::fprintf(stderr, "ecr-sim: Elemis register (device type 75), %d goods, 10000 PLU numbers\n", n);
    return reg;
}

// The CR-280 and the Hida: one emulator, three departments.
std::unique_ptr<orv::test::EmulatorBase> MakeRecordRegister(const Options& o, orv::test::Cr280Emulator::Mode mode) {
    const bool hida = mode == orv::test::Cr280Emulator::Mode::Hida;
    auto reg = std::make_unique<orv::test::Cr280Emulator>(o.port, mode);
    const char* names[] = {"OGOLNY", "PIECZYWO", "NABIAL"};
    for (uint32_t d = 1; d <= 3; ++d) {
        orv::test::Cr280EmuDept dept;
        dept.name = names[d - 1];
        dept.name.resize(12, ' ');
        dept.vatFlag = hida ? "0" + std::to_string(d) + "00" : std::to_string(d) + "000";
        reg->SetDept(d, dept);
    }
    int n = o.goods.empty() ? 0 : LoadCr280Goods(*reg, o.goods, hida);
    std::fprintf(stderr, "ecr-sim: %s, %d goods, 3 departments\n",
                 hida ? "Hida register (device type 23, 9600 baud)" : "CR-280 register (device type 11)", n);
    return reg;
}

std::unique_ptr<orv::test::EmulatorBase> MakeCr280(const Options& o) {
    return MakeRecordRegister(o, orv::test::Cr280Emulator::Mode::Cr280);
}

std::unique_ptr<orv::test::EmulatorBase> MakeHida(const Options& o) {
    return MakeRecordRegister(o, orv::test::Cr280Emulator::Mode::Hida);
}

// --------------------------------------------------------------- Dibal ----

std::unique_ptr<orv::test::EmulatorBase> MakeDibal(const Options& o) {
    if (o.type != 103 && o.type != 104) Usage("--device dibal needs --type 103 or 104");
    const bool addressed = o.type == 104;
    const int address = addressed ? (o.registerNumber > 0 ? o.registerNumber : 1) : 1;
    auto scale = std::make_unique<orv::test::DibalEmulator>(o.port, addressed, address);
    scale->SetRecording(false);
    if (!o.goods.empty()) std::fprintf(stderr, "ecr-sim: --goods is not read for Dibal scales\n");
    if (addressed)
        std::fprintf(stderr, "ecr-sim: Dibal scale (device type 104, 8E1), address %d\n", address);
    else
        std::fprintf(stderr, "ecr-sim: Dibal scale (device type 103, 8N1)\n");
    return scale;
}

// ------------------------------------------------------------- Novitus ----

int LoadTangoGoods(orv::test::TangoDevice& reg, const std::string& path) {
    return ForEachGoodsLine(path, 5, [&](const std::vector<std::string>& f, int lineNo) {
        const long number = std::stol(f[0]);
        double price = 0;
        const int group = AllDigits(f[3]) && f[3].size() == 1 ? f[3][0] - '0' : 0;
        const std::string code = f[1].empty() ? std::to_string(100000 + number).substr(1) : f[1];
        if (number < 1 || number > 99998 || group < 1 || group > 7 || !AllDigits(f[4]) || f[4].size() > 2 ||
            !ParsePrice(f[5], price) || price > 99999999.99 || code.size() > 18) {
            std::fprintf(stderr, "ecr-sim: %s:%d: skipped (number, code, VAT group, department or price)\n",
                         path.c_str(), lineNo);
            return false;
        }
        orv::test::TangoDevice::GoodsFields g;
        g.code = code;
        g.name = Cp1250ToCp852(CChrArr(ToCp1250(f[2]))).ToString().substr(0, 40);
        g.price = static_cast<uint64_t>(price * 100.0 + 0.1);
        g.tax = "ABCDEFZ"[group - 1];
        g.dept = std::atoi(f[4].c_str());
        g.unit = f.size() > 6 && AllDigits(f[6]) && f[6].size() <= 2 ? std::atoi(f[6].c_str()) : 1;
        reg.PutGoods(orv::test::TangoDevice::MakeGoodsRecord(g));
        return true;
    });
}

// The register as delivered: the usual rates, one department, two units.
int PresetTango(orv::test::TangoDevice& reg, const Options& o) {
    reg.SetRecording(false);
    reg.SetTaxTable({"2300", "0800", "0500", "0000", "9999", "FFFF", "FFFF"});
    reg.SetStatusText("SIM0000001");
    reg.PutDept("H101" + Cp1250ToCp852(CChrArr(ToCp1250("Ogólny"))).ToString() + std::string(12, ' ') +
                "0000000000A000000");
    reg.PutUnit(1, "szt");
    reg.PutUnit(2, "kg");
    return o.goods.empty() ? 0 : LoadTangoGoods(reg, o.goods);
}

std::unique_ptr<orv::test::EmulatorBase> MakeTango(const Options& o) {
    auto reg = std::make_unique<orv::test::TangoEmulator>(o.port);
    const int n = PresetTango(reg->Device(), o);
    std::fprintf(stderr, "ecr-sim: Novitus register on the Tango protocol (8N1), %d goods\n", n);
    return reg;
}

// The Next register over TCP: runs until stopped. 0, or 1 when it cannot listen.
int RunNextOverTcp(const Options& o, sigset_t& stop) {
    orv::test::TangoTcpEmulator net("127.0.0.1");
    const int n = PresetTango(net.Device(), o);
    if (o.delayMs > 0)   // every reply frame late
        net.Device().QueueFault(orv::test::TangoDevice::Fault::ReplyLate, std::numeric_limits<int>::max(), o.delayMs);
    if (!net.Start()) {
        std::fprintf(stderr, "ecr-sim: cannot listen on 127.0.0.1:5001 (in use?)\n");
        return 1;
    }
    std::printf("PORT=%u\n", static_cast<unsigned>(net.Address()));
    std::fflush(stdout);
    std::fprintf(stderr, "ecr-sim: Novitus Next register on 127.0.0.1:5001, %d goods; give the port above "
                 "with connection kind 11 (types 85, 86)\n", n);
    for (;;) {
        struct timespec second = {1, 0};
        if (sigtimedwait(&stop, nullptr, &second) > 0) break;
        net.ClearLog();
    }
    net.Stop();
    std::fprintf(stderr, "ecr-sim: stopped\n");
    return 0;
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
    std::vector<int> types = {};   // the device type codes it serves (empty: not checked)
    int defaultType = 0;           // --type when none is given (0: none)
};

const std::vector<Device>& Devices() {
    static const std::vector<Device> devices = {
        {"elzab", "Elzab register (binary protocol, 8E1)", MakeElzab,
         {1, 2, 3, 4, 5, 6, 22, 27, 28, 29, 30, 31, 32, 46, 53, 63, 76, 77, 78, 79, 80, 81, 94, 95, 98, 102, 700, 701},
         27},
        {"elcom50", "Elcom 50 register (text lines, 8N1)", MakeElcom50, {16, 17}, 16},
        {"dsa", "DSA register (ASCII frames, 8N1)", MakeDsa, {13, 14, 15, 36, 37, 40}},
        {"perfekt", "Posnet Perfekt or Bingo register (ESC frames, 8N1)", MakePerfekt, {38, 44, 45, 54, 62}},
        {"posnet-ecr", "Posnet ECR register (sequenced ESC frames, 9600 8N1; goods are read, not programmed)",
         MakePosnetEcr, {21}, 21},
        {"sharp", "Sharp register (block link, 7O1; type 74: command link, 8O1; --register: machine number)",
         MakeSharp, {18, 25, 33, 47, 48, 49, 50, 74, 97}},
        {"ncr", "NCR register (check-character frames, 8N1)", MakeNcr, {8}, 8},
        {"elemis", "Elemis register (7-bit coded records, 8N1; link number from ECR_ELEMIS_LINK)", MakeElemis,
         {75}, 75},
        {"adax", "Adax register (framed commands, 8N1)", MakeAdax, {19}, 19},
        {"dsp800", "DSP 800 register (ESC commands, 8N1)", MakeDsp800, {101}, 101},
        {"cr280", "CR-280 register (records with XOR check, 8E1)", MakeCr280, {11}, 11},
        {"hida", "Hida register (ENQ link, blocks with XOR check, 9600 8N1)", MakeHida, {23}, 23},
        {"dibal", "Dibal scale (128-character records; 103: 8N1, 104: 8E1 addressed, --register: address)",
         MakeDibal, {103, 104}, 103},
        {"tango", "Novitus register (Tango protocol, 8N1)", MakeTango, {12, 34, 35, 57, 58, 59, 65, 66, 67, 68, 69, 70},
         12},
        {"next", "Novitus Next register (Tango protocol) on 127.0.0.1:5001: prints PORT=<number> to give as the "
                 "port with connection kind 11 (--serial: on a pseudo-terminal instead)",
         MakeTango, {85, 86}, 85},
        {"caslp", "CAS LP label scale (8N1; 105: LP-1 at 9600 baud, 110: LP-16)", MakeCasLp, {105, 110}, 105},
        {"medesa", "Medesa scale (framed binary jobs, 8N1; --register: address)", MakeMedesa, {100}, 100},
    };
    return devices;
}

std::string TypeList(const Device& d) {
    std::string out;
    for (int t : d.types) out += (out.empty() ? "" : ", ") + std::to_string(t);
    return out;
}

// --help: the text on standard output and exit 0; a usage error: the reason
// and the text on standard error and exit 2.
[[noreturn]] void Usage(const char* why) {
    FILE* out = why ? stderr : stdout;
    if (why) std::fprintf(stderr, "ecr-sim: %s\n", why);
    std::fprintf(out,
                 "usage: ecr-sim [--device NAME] [--type N | --model M] [--port N] [--register NN]\n"
                 "               [--goods FILE.csv] [--delay MS] [--serial]\n"
                 "\n"
                 "Simulates a cash register on a pseudo-terminal. The first line on standard\n"
                 "output names the port for the library, e.g. ECR_COM1=/dev/pts/4; export it\n"
                 "and run the host (or ecrctl) with --port 1. Runs until SIGINT or SIGTERM.\n"
                 "\n"
                 "  --device NAME   the register to simulate (default elzab):\n");
    for (const Device& d : Devices()) {
        std::fprintf(out, "                    %-9s %s", d.name, d.what);
        if (!d.types.empty()) std::fprintf(out, "; types %s", TypeList(d).c_str());
        if (d.defaultType) std::fprintf(out, " (default %d)", d.defaultType);
        std::fprintf(out, "\n");
    }
    std::fprintf(out,
                 "  --type N        the device type code the host will use; selects the model\n"
                 "                  (a type the device does not serve is refused)\n"
                 "  --model M       Elzab and Elcom 50: the model code itself instead of --type\n"
                 "  --port N        the port number 1..16 the host will open (default 1)\n"
                 "  --register NN   Elzab: the register number it reports (default 0)\n"
                 "  --goods FILE    goods to hold from the start, one per line:\n"
                 "                  number;code;name;VAT group;department;price[;unit]\n"
                 "                  (UTF-8 or CP1250; a line not starting with a number is skipped)\n"
                 "  --delay MS      answer every command MS milliseconds late (default 0)\n"
                 "  --serial        next: on a pseudo-terminal instead of TCP\n"
                 "  --help          this text\n");
    std::exit(why ? 2 : 0);
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
        else if (a == "--serial") o.serial = true;
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
    if (o.type == 0) o.type = dev->defaultType;
    if (!dev->types.empty()) {
        bool served = false;
        for (int t : dev->types) served = served || t == o.type;
        if (!served) {
            if (o.type == 0)
                std::fprintf(stderr, "ecr-sim: --device %s needs --type, one of: %s\n", dev->name, TypeList(*dev).c_str());
            else
                std::fprintf(stderr, "ecr-sim: --device %s does not serve type %d; it serves types %s\n", dev->name,
                             o.type, TypeList(*dev).c_str());
            return 2;
        }
    }

    // The signals are taken by sigtimedwait below, never by another thread.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (o.device == "next" && !o.serial) return RunNextOverTcp(o, stop);

    std::unique_ptr<orv::test::EmulatorBase> emu = dev->make(o);
    // These registers pace their own late answers; every other device sends
    // everything --delay late.
    static const std::set<std::string> ownDelay = {"elzab", "elcom50", "perfekt", "posnet-ecr", "sharp"};
    if (!ownDelay.count(o.device)) emu->SetLateness(o.delayMs);
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
