// Fuzz target: what the two Posnet libraries hand the Combo driver (types
// 10, 56, 61, 73, 89, 90, 91, 96). The input steers the stand-in library of
// the tests (tests/fakes/libs/fakeposnet.cpp): byte 0 picks the job, byte 1
// the type, the connection kind and the sale mode; the rest is a list of
// commands, each an opcode byte and its operands (numbers little-endian,
// texts a length byte and that many bytes of any value):
//   goods number code name vat price unit dept   the register's goods
//   group number name          unit number name short
//   plustat number code name quantity value
//   packstat number code name sold returned value
//   sale type number code name quantity value     a sale record of any type
//   vat r1..r7 (16 bits)       status type mode totalizers unique software
//   at entry call code         the call-th call of an entry point returns
//                              code (a table of the libraries' codes, or
//                              any 32 bits)
//   zero getter call           that getter call writes number 0
// Checked beyond the common promises: a record handed to the host is one of
// those given (number, texts cut from the given texts, the price, quantity
// and value the given texts hold, the VAT group), the VAT rates are those
// given, the status texts are cut from those given, a job whose library
// call reported a failure does not succeed (a failed item at least is
// confirmed with its code), and every device and request handle the
// library gave is given back.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/posnet/combo_entry_points.h"
#include "fakes/recording_host.h"
#include "library_harness.h"

namespace {

using namespace orv::fuzz;
using orv::test::Host;

using ControlFn = int (*)(const char*, const char*, const char*);
using RecordFn = int (*)(const char*, const char* const*, int);
using QueryFn = const char* (*)(const char*);

struct Fake {
    ControlFn control;
    RecordFn record;
    QueryFn query;
};

const Fake& TheFake() {
    static const Fake fake = [] {
        ::setenv("ECR_LIB_LIBHLAPI", ORVANTA_FAKE_FAKEPOSNET, 1);
        void* h = LoadFake("ECR_LIB_LIBPOSNET", ORVANTA_FAKE_FAKEPOSNET);
        return Fake{reinterpret_cast<ControlFn>(FakeSymbol(h, "PosnetFakeControl")),
                    reinterpret_cast<RecordFn>(FakeSymbol(h, "PosnetFakeRecord")),
                    reinterpret_cast<QueryFn>(FakeSymbol(h, "PosnetFakeQuery"))};
    }();
    return fake;
}

const char* const kEntries[] = {
#define ORV_NAME(name, n, r) #name,
    ORV_LIBPOSNET_ENTRIES(ORV_NAME) ORV_LIBHLAPI_ENTRIES(ORV_NAME)
#undef ORV_NAME
};

// Codes the libraries and the register give: done, the time-out, the ends
// of a list and of the sale records, no record, a bad handle, a
// communication error, a bad parameter, a register code, and the extremes.
const uint32_t kCodes[] = {0,        0x010003, 0x4303CF, 0x430321, 0x430387, 0x010006, 0x000008,
                           0x010105, 0x440001, 0x000001, 0x7FFFFFFF, 0xFFFFFFFF};

const int kTypes[] = {10, 56, 61, 73, 89, 90, 91, 96};
const int kKinds[] = {0, 12, 11};

struct Fed {
    struct Goods {
        uint32_t number, vat;
        std::string code, name, price;
    };
    struct Named {
        uint32_t number;
        std::string name, shortName;
    };
    struct Line {   // a statistics or sale record: what the host may get
        uint32_t kind, plu, number;
        std::string code, name;
        double quantity, value;
    };
    std::vector<Goods> goods;
    std::vector<Named> groups, units;
    std::vector<Line> lines;
    uint16_t vat[7] = {65535, 65535, 65535, 65535, 65535, 65535, 65535};
    std::string unique, software;
};

// The whole number a library's number text holds (as strtoll reads it).
double Whole(const std::string& text) { return static_cast<double>(std::strtoll(text.c_str(), nullptr, 10)); }

void Record(const char* command, const std::vector<std::string>& fields) {
    std::vector<const char*> p;
    for (const std::string& f : fields) p.push_back(f.c_str());
    TheFake().record(command, p.data(), static_cast<int>(p.size()));
}

std::string Num(uint32_t v) { return std::to_string(v); }

// Applies the commands to the stand-in and keeps what it was given.
Fed Steer(InputReader& in) {
    Fed fed;
    while (!in.AtEnd()) {
        switch (in.Byte() % 10) {
        case 0: {
            Fed::Goods g;
            g.number = in.U32();
            g.code = in.Text();
            g.name = in.Text();
            g.vat = in.Byte();
            g.price = in.Text();
            const uint32_t unit = in.Byte(), dept = in.Byte();
            Record("goods", {Num(g.number), g.code, g.name, Num(g.vat), g.price, Num(unit), "0", Num(dept)});
            fed.goods.push_back(g);
            break;
        }
        case 1:
        case 2: {
            const bool group = in.Byte() & 1;
            Fed::Named n;
            n.number = in.U32();
            n.name = in.Text();
            if (!group) n.shortName = in.Text();
            Record(group ? "group" : "unit", {Num(n.number), n.name, n.shortName});
            (group ? fed.groups : fed.units).push_back(n);
            break;
        }
        case 3: {
            const uint32_t number = in.U32();
            const std::string code = in.Text(), name = in.Text(), quantity = in.Text(), value = in.Text();
            Record("plustat", {Num(number), code, name, quantity, value});
            fed.lines.push_back({0, number, 0, code, name, Whole(quantity) / 1000.0, Whole(value) / 100.0});
            break;
        }
        case 4: {
            const uint32_t number = in.U32();
            const std::string code = in.Text(), name = in.Text(), sold = in.Text(), returned = in.Text(),
                              value = in.Text();
            Record("packstat", {Num(number), code, name, sold, returned, value});
            fed.lines.push_back({0, number, 0, code, name, Whole(sold) / 1000.0, Whole(value) / 100.0});
            fed.lines.push_back({0, number, 0, code, name, -Whole(returned) / 1000.0, 0.0});
            break;
        }
        case 5: {
            const uint32_t type = in.Byte() % 5, number = in.U32();
            const std::string code = in.Text(), name = in.Text(), quantity = in.Text(), value = in.Text();
            Record("sale", {Num(type), Num(number), code, name, quantity, value});
            const double v = Whole(value) / 100.0;
            if (type == 1) fed.lines.push_back({0, number, 0, code, name, Whole(quantity) / 1000.0, v});
            if (type == 2) fed.lines.push_back({1, number, 0, "", name, Whole(quantity) / 1000.0, v});
            if (type == 3) fed.lines.push_back({2, 0, number, "", "", 0.0, v});
            break;
        }
        case 6: {
            std::vector<std::string> rates;
            for (uint16_t& r : fed.vat) {
                r = in.U16();
                rates.push_back(Num(r));
            }
            Record("vat", rates);
            break;
        }
        case 7: {
            const uint32_t type = in.Byte(), mode = in.Byte(), total = in.Byte();
            fed.unique = in.Text();
            fed.software = in.Text();
            Record("status", {Num(type), Num(mode), Num(total), fed.unique, fed.software});
            break;
        }
        case 8: {
            const char* entry = kEntries[in.Byte() % std::size(kEntries)];
            const int call = 1 + in.Byte() % 16;
            const uint8_t pick = in.Byte();
            const uint32_t code = pick < 0x80 ? kCodes[pick % std::size(kCodes)] : in.U32();
            // A getter that reports success has written its results: a
            // script's 0 would leave them unwritten, which no library does.
            if (code == 0 && std::strncmp(entry, "POSG_", 5) == 0) break;
            TheFake().control("at", entry, (std::to_string(call) + "," + std::to_string(code)).c_str());
            break;
        }
        default: {
            const char* entry = kEntries[in.Byte() % std::size(kEntries)];
            TheFake().control("zero", entry, std::to_string(1 + in.Byte() % 16).c_str());
            break;
        }
        }
    }
    return fed;
}

bool Same(double a, double b) { return a == b || std::fabs(a - b) <= 1e-9 * std::fmax(1.0, std::fabs(b)); }

void CheckItems(const Fed& fed) {
    for (const EcrItemRecord& it : Host().Items()) {
        bool found = false;
        for (const Fed::Goods& g : fed.goods)
            found = found || (it.number == g.number && PrefixOf(it.name, g.name) && PrefixOf(it.code, g.code) &&
                              it.vat_group == g.vat + 1 && Same(it.price, Whole(g.price) / 100.0));
        if (!found) Broken("a read item the library did not give");
    }
}

void CheckSales(const Fed& fed) {
    for (const auto& s : Host().Sales()) {
        bool found = false;
        for (const Fed::Line& l : fed.lines)
            found = found || (s.sale.kind == l.kind && s.sale.plu == l.plu && s.sale.number == l.number &&
                              PrefixOf(s.sale.code, l.code) && PrefixOf(s.sale.name, l.name) &&
                              Same(s.sale.quantity, l.quantity) && Same(s.sale.value, l.value) &&
                              s.item.number == l.plu && PrefixOf(s.item.code, l.code) && PrefixOf(s.item.name, l.name));
        if (!found) Broken("a sale line the library did not give");
    }
}

void CheckNamed(const Fed& fed) {
    for (const EcrDeptRecord& d : Host().Depts()) {
        bool found = false;
        for (const Fed::Named& g : fed.groups) found = found || (d.number == g.number && PrefixOf(d.name, g.name));
        if (!found) Broken("a department the library did not give");
    }
    for (const EcrUnitRecord& u : Host().Units()) {
        bool found = false;
        for (const Fed::Named& g : fed.units) found = found || (u.number == g.number && PrefixOf(u.name, g.shortName));
        if (!found) Broken("a unit the library did not give");
    }
}

// Rates 1-7 as given (65534 exempt, 65535 undefined; hundredths of a per
// cent, whole per cents allowed), rate 8 undefined.
void CheckRates(const Fed& fed, const orv::test::VatRates& rates) {
    for (int i = 0; i < 7; ++i) {
        const uint16_t r = fed.vat[i];
        const bool ok = r == 65534 ? rates[i] == -1.0
                        : r == 65535 ? rates[i] == -3.0
                                     : Same(rates[i], r / 100.0) || rates[i] == static_cast<double>(r / 100);
        if (!ok) Broken("a VAT rate the library did not give");
    }
    if (rates[7] != -3.0) Broken("a VAT rate the library has no field for");
}

// A text as the library writes it: up to its first zero byte, at most 63
// bytes.
std::string Given(const std::string& text) {
    const std::string t(text.c_str());
    return t.substr(0, orv::posnet::kResultTextSize - 1);
}

void CheckStatus(const Fed& fed) {
    for (const auto& s : Host().StatusCalls()) {
        CheckRates(fed, s.vat);
        const std::string info(s.status.information);
        const std::string tail =
            "Numer unikatowy : " + Given(fed.unique) + "\r\nWersja software'u : " + Given(fed.software) + "\r\n";
        if (info.size() < sizeof s.status.information - 1 && info.find(tail) == std::string::npos)
            Broken("a status text the library did not give");
    }
    for (const auto& v : Host().VatCalls()) CheckRates(fed, v);
}

// Whether a code the stand-in was made to return reports a failure the job
// must not swallow: results the driver does not use and handles aside (a
// bogus handle fails the next call), and the codes that end a list or the
// sale records where they do.
bool Fails(LibraryJob job, bool saleRecords, const std::string& entry, int64_t code) {
    static const char* const ignored[] = {"POS_SetDeviceParam",       "POS_GetError",    "POS_CloseDevice",
                                          "POS_PushRequestParamByte", "POS_PostRequest", "POS_PopResponseValueByte",
                                          "POS_DestroyRequest"};
    for (const char* n : ignored)
        if (entry == n) return false;
    if (entry == "POS_CreateDeviceHandle" || entry == "POS_OpenDevice" || entry == "POS_CreateRequest")
        return code == 0;
    if (code == 0) return false;
    const bool sales = job == LibraryJob::ReadSales || job == LibraryJob::ClearSales;
    const bool list = job == LibraryJob::ReadAllGoods || job == LibraryJob::ReadDepts ||
                      job == LibraryJob::ReadUnits || (sales && !saleRecords);
    if (code == 0x4303CF && list && entry.rfind("POSG_", 0) == 0) return false;
    if (code == 0x430321 && saleRecords && job == LibraryJob::ReadSales) return false;
    return true;
}

void CheckFailure(LibraryJob job, bool saleRecords) {
    std::istringstream lines(TheFake().query("injected"));
    std::string line;
    bool failed = false;
    while (std::getline(lines, line)) {
        const size_t bar = line.find('|');
        failed = failed || Fails(job, saleRecords, line.substr(0, bar), std::strtoll(line.c_str() + bar + 1, nullptr, 10));
    }
    if (!failed || EcrError() != 0) return;
    if (job == LibraryJob::ProgramGoods || job == LibraryJob::DeleteGoods)
        for (const auto& c : Host().Confirmations())
            if (c.code != 0) return;
    Broken("a job succeeded where the library reported a failure");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TheFake();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    InputReader in(data, size);
    const LibraryJob job = PickJob(in);
    const uint8_t setup = in.Byte();
    EcrDeviceRecord dev = orv::test::DeviceRecord(kTypes[setup % 8], 2, 9600, kKinds[(setup >> 3) % 3]);
    dev.flags = (setup >> 5) & 3u;
    if (dev.kind == 11) dev.port = (192 << 24) | (168 << 16) | (1 << 8) | 20;
    const bool saleRecords = (dev.flags & 2u) != 0;

    const Fake& fake = TheFake();
    fake.control("reset", "", "");
    // Nothing the register holds but what the input gives.
    fake.control("vat", "", "65535,65535,65535,65535,65535,65535,65535");
    fake.control("status", "", "0|0|0||");
    const Fed fed = Steer(in);

    if (RunLibraryJob(job, dev)) {
        CheckItems(fed);
        CheckSales(fed);
        CheckNamed(fed);
        CheckStatus(fed);
        CheckFailure(job, saleRecords);
    }
    // Every device opened is closed and every request made is destroyed.
    const std::string counts = fake.query("counts");
    if (counts.find(" open=0 ") == std::string::npos || counts.find(" live=0") == std::string::npos)
        Broken("a device or request of the library left held");
    return 0;
}
