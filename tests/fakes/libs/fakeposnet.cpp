// A stand-in for the two Posnet libraries (LIBPOSNET.DLL and LIBHLAPI.DLL):
// one shared library, libfakeposnet.so, that exports all 54 entry points
// with the shapes of drivers/posnet/combo_entry_points.h; the tests point
// both ECR_LIB_LIBPOSNET and ECR_LIB_LIBHLAPI at it.
//
// It keeps handles (parameter handles, devices, requests: created,
// destroyed, closed are counted) and a small register: goods, barcodes,
// groups, units, packs, goods and pack statistics, sale records, VAT rates
// and status. Arguments are read the way the driver's adapter
// (drivers/posnet/combo_library.cpp) passes them:
//   POSS_PLUIns     number, code, name, VAT (0-based), price (hundredths
//                   as text), unit, word1, department, word2, word3,
//                   word4, linked, word5, second code, 0, 0, 0
//   POSG_PLURead    number, code, name, VAT, price text, unit, word1,
//                   department, word2..word4, linked, word5, two unused
//   POSS_PackIns    number, code, name, VAT, price text, 0, 0, 0, 0
//   POSS_...Stat... the flag first; POSG_PackStatRead number, code, name,
//                   sold, returned, value
//   sale records    POSS_SaleRecGet per record; types 1 PLU set, 2 pack,
//                   3 finished; 0x430321 when none is left
// A builder computes the answer when it is called; the wait returns 0, the
// status and the getters give what the builder found.
//
// Tests steer it through PosnetFakeControl(command, name, argument):
//   reset                     forget everything
//   result NAME "v[,n]"       NAME returns v (a handle function: the handle)
//                             for the next n calls (all calls without n)
//   at     NAME "k,v"         the k-th call of NAME (from 1) returns v
//   delay  NAME "ms"          NAME sleeps first
//   zero   NAME "k"           the k-th call of getter NAME writes number 0
//   goods  - "number|code|name|vat0|price|unit|w1|dept|w2|w3|w4|linked|w5"
//   group  - "number|name"     unit - "number|name|short"
//   plustat - "number|code|name|quantity|value"
//   packstat - "number|code|name|sold|returned|value"
//   sale   - "type|number|code|name|quantity|value"
//   vat    - "v1,...,v7"       status - "type|mode|totalizers|unique|software"
// PosnetFakeRecord(command, fields, count) takes the same records with each
// field a text of its own (any bytes but zero, any length: a getter writes
// a text of 64 bytes or more as the whole 64-byte buffer, unterminated).
// A builder that is made to fail still writes a request handle, so a
// driver that does not destroy it is caught. The log (PosnetFakeCallCount,
// PosnetFakeCall) holds one line per call: the name and the arguments
// separated by "|" (texts as given, result pointers as "&").
// PosnetFakeQuery(counts|goods|barcodes|groups|units|packs) reads state;
// PosnetFakeQuery(injected) the calls a script answered ("NAME|value").
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "drivers/posnet/combo_entry_points.h"

using namespace orv::posnet;

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#define FP_PARAMS_1 PosArg a0
#define FP_PARAMS_2 PosArg a0, PosArg a1
#define FP_PARAMS_3 PosArg a0, PosArg a1, PosArg a2
#define FP_PARAMS_4 PosArg a0, PosArg a1, PosArg a2, PosArg a3
#define FP_PARAMS_5 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4
#define FP_PARAMS_6 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5
#define FP_PARAMS_7 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6
#define FP_PARAMS_8 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7
#define FP_PARAMS_9 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8
#define FP_PARAMS_10 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9
#define FP_PARAMS_11 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10
#define FP_PARAMS_12 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11
#define FP_PARAMS_13 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12
#define FP_PARAMS_14 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12, PosArg a13
#define FP_PARAMS_15 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12, PosArg a13, PosArg a14
#define FP_PARAMS_16 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12, PosArg a13, PosArg a14, PosArg a15
#define FP_PARAMS_17 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12, PosArg a13, PosArg a14, PosArg a15, PosArg a16
#define FP_PARAMS_18 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12, PosArg a13, PosArg a14, PosArg a15, PosArg a16, PosArg a17
#define FP_PARAMS_19 PosArg a0, PosArg a1, PosArg a2, PosArg a3, PosArg a4, PosArg a5, PosArg a6, PosArg a7, PosArg a8, PosArg a9, PosArg a10, PosArg a11, PosArg a12, PosArg a13, PosArg a14, PosArg a15, PosArg a16, PosArg a17, PosArg a18
#define FP_LIST_1 a0
#define FP_LIST_2 a0, a1
#define FP_LIST_3 a0, a1, a2
#define FP_LIST_4 a0, a1, a2, a3
#define FP_LIST_5 a0, a1, a2, a3, a4
#define FP_LIST_6 a0, a1, a2, a3, a4, a5
#define FP_LIST_7 a0, a1, a2, a3, a4, a5, a6
#define FP_LIST_8 a0, a1, a2, a3, a4, a5, a6, a7
#define FP_LIST_9 a0, a1, a2, a3, a4, a5, a6, a7, a8
#define FP_LIST_10 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9
#define FP_LIST_11 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10
#define FP_LIST_12 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11
#define FP_LIST_13 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12
#define FP_LIST_14 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13
#define FP_LIST_15 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14
#define FP_LIST_16 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15
#define FP_LIST_17 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16
#define FP_LIST_18 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17
#define FP_LIST_19 a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15, a16, a17, a18

namespace {

constexpr PosCode kEndOfList = 0x4303CF;
constexpr PosCode kNoRecord = 0x430387;      // "Rekord nie istnieje"
constexpr PosCode kNoSaleRecords = 0x430321;

struct Goods {
    uint32_t number = 0;
    std::string code, name;
    uint32_t vat = 0;
    std::string price;
    uint32_t unit = 0, word1 = 0, dept = 0, word2 = 0, word3 = 0, word4 = 0, linked = 0, word5 = 0;
    std::string code2;
};

struct Stat {
    uint32_t number = 0;
    std::string code, name, quantity, returned, value;
};

struct Sale {
    uint32_t type = 0, number = 0;
    std::string code, name, quantity, value;
};

struct Request {
    PosCode status = 0;       // POS_GetRequestStatus
    PosCode getter = 0;       // the getters' code
    Goods goods;
    uint32_t number = 0;
    std::string name, shortName;
    Stat stat;
    Sale sale;
};

struct Script {
    std::deque<std::pair<int64_t, int>> results;   // value, calls left (-1 all)
    std::map<int, int64_t> at;                      // call number -> value
    std::set<int> zero;
    int delayMs = 0;
    int calls = 0;
};

struct Fake {
    std::mutex mutex;
    PosHandle next = 0x1000;
    std::set<PosHandle> params, devices, requests_live;
    std::map<PosHandle, Request> requests;
    int paramsCreated = 0, devicesOpened = 0, devicesClosed = 0, requestsCreated = 0, requestsDestroyed = 0;
    std::vector<std::string> log;
    std::vector<std::string> injected;   // "NAME|value" of every call a script answered
    std::map<std::string, Script> scripts;

    std::map<uint32_t, Goods> goods;
    std::map<uint32_t, std::vector<std::string>> barcodes;
    std::map<uint32_t, std::string> groups;
    std::map<uint32_t, std::pair<std::string, std::string>> units;
    std::map<uint32_t, Goods> packs;
    std::vector<Stat> pluStats, packStats, pluCleared, packCleared;
    std::vector<Sale> sales;
    uint16_t vat[7] = {2300, 800, 500, 0, 65534, 65535, 65535};
    uint32_t stType = 1, stMode = 1, stTotal = 0;
    std::string stUnique = "ABC12345678", stSoftware = "1.01";

    size_t goodsCursor = 0, groupCursor = 0, unitCursor = 0, pluStatCursor = 0, packStatCursor = 0,
           saleCursor = 0;

    void Reset() {
        Fake fresh;
        // Handles keep growing across resets, so a stale one is never valid.
        PosHandle keep = next;
        params = fresh.params;
        devices = fresh.devices;
        requests_live = fresh.requests_live;
        requests = fresh.requests;
        paramsCreated = devicesOpened = devicesClosed = requestsCreated = requestsDestroyed = 0;
        log.clear();
        injected.clear();
        scripts.clear();
        goods.clear();
        barcodes.clear();
        groups.clear();
        units.clear();
        packs.clear();
        pluStats.clear();
        packStats.clear();
        pluCleared.clear();
        packCleared.clear();
        sales.clear();
        std::memcpy(vat, fresh.vat, sizeof vat);
        stType = fresh.stType;
        stMode = fresh.stMode;
        stTotal = fresh.stTotal;
        stUnique = fresh.stUnique;
        stSoftware = fresh.stSoftware;
        goodsCursor = groupCursor = unitCursor = pluStatCursor = packStatCursor = saleCursor = 0;
        next = keep;
    }
};

Fake& F() {
    static Fake* fake = new Fake;
    return *fake;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

uint32_t U(const std::vector<std::string>& f, size_t i) {
    return i < f.size() ? static_cast<uint32_t>(std::strtoul(f[i].c_str(), nullptr, 0)) : 0;
}
std::string S(const std::vector<std::string>& f, size_t i) { return i < f.size() ? f[i] : std::string(); }

const char* Txt(PosArg a) { return a ? reinterpret_cast<const char*>(a) : ""; }

// A text of up to 63 bytes is written with its terminator; a longer one
// fills the whole result buffer and has none (what a library that does not
// cut its texts leaves there).
void PutText(PosArg p, const std::string& s) {
    if (!p) return;
    char* d = reinterpret_cast<char*>(p);
    size_t n = s.size() < kResultTextSize ? s.size() : kResultTextSize;
    std::memcpy(d, s.data(), n);
    if (n < kResultTextSize) d[n] = 0;
}
void PutU32(PosArg p, uint32_t v) {
    if (p) std::memcpy(reinterpret_cast<void*>(p), &v, sizeof v);
}

// Argument kinds for the log: h handle or number, p result pointer, t text.
const char* Kinds(int e) {
    switch (e) {
    case k_POS_SetDeviceParam: return "hht";
    case k_POS_PopResponseValueByte: return "hp";
    case k_POSS_PLUReadByBarcode: return "hptnn";
    case k_POSS_PLUGetByBarcode: case k_POSS_PLUGetByName: return "hptn";
    case k_POSS_PLUIns: return "hpnttnthhhhhhhhtnnn";
    case k_POSS_PluPriceUpdate: case k_POSS_PackPriceUpdate: return "hpntn";
    case k_POSS_PluPriceUpdateByBarcode: case k_POSS_PackPriceUpdateByBarcode: return "hpttn";
    case k_POSS_PackIns: return "hpnttntnnnn";
    case k_POSS_PLUDelByBarcode: return "hptnnn";
    case k_POSS_BarcodeIns: return "hpntn";
    case k_POSS_GroupIns: return "hpntnnn";
    case k_POSS_MUIns: return "hpnttnn";
    default: break;
    }
    if (e >= kLibHlapiFirst) return "hpnnnnnnnnnnnnnnnnnnn";   // builders: device, &request, numbers
    return "hhhh";
}

bool IsGetter(const std::string& name) { return name.rfind("POSG_", 0) == 0; }

// Requests -------------------------------------------------------------

PosHandle NewRequest(Fake& f, const Request& r) {
    PosHandle h = ++f.next;
    f.requests[h] = r;
    f.requests_live.insert(h);
    ++f.requestsCreated;
    return h;
}

Request* Find(Fake& f, PosArg h) {
    auto it = f.requests.find(h);
    return it == f.requests.end() ? nullptr : &it->second;
}

Request GoodsAnswer(const Goods* g) {
    Request r;
    if (g)
        r.goods = *g;
    else
        r.getter = kNoRecord;
    return r;
}

const Goods* GoodsByCode(Fake& f, const std::string& code) {
    for (auto& [n, g] : f.goods) {
        if (g.code == code && !code.empty()) return &g;
        auto b = f.barcodes.find(n);
        if (b != f.barcodes.end())
            for (const std::string& c : b->second)
                if (c == code) return &g;
    }
    return nullptr;
}

Request StatAnswer(const std::vector<Stat>& list, size_t& cursor) {
    Request r;
    if (cursor < list.size())
        r.stat = list[cursor++];
    else
        r.getter = kEndOfList;
    return r;
}

// The fields PLUIns and PackIns begin with.
Goods Head(const PosArg* a) {
    Goods g;
    g.number = static_cast<uint32_t>(a[2]);
    g.code = Txt(a[3]);
    g.name = Txt(a[4]);
    g.vat = static_cast<uint32_t>(a[5]);
    g.price = Txt(a[6]);
    return g;
}

// The answer a builder prepares.
Request Build(Fake& f, int e, const PosArg* a) {
    Request r;
    switch (e) {
    case k_POSS_CntxPLUInit: f.goodsCursor = 0; f.pluStatCursor = 0; break;
    case k_POSS_CntxGroupInit: f.groupCursor = 0; break;
    case k_POSS_CntxMUInit: f.unitCursor = 0; break;
    case k_POSS_CntxPackInit: f.packStatCursor = 0; break;
    case k_POSS_PLURead: {
        uint32_t n = static_cast<uint32_t>(a[2]);
        if (n != 0) return GoodsAnswer(f.goods.count(n) ? &f.goods[n] : nullptr);
        if (f.goodsCursor >= f.goods.size()) {
            r.getter = kEndOfList;
            break;
        }
        auto it = f.goods.begin();
        std::advance(it, static_cast<long>(f.goodsCursor++));
        return GoodsAnswer(&it->second);
    }
    case k_POSS_PLUReadByBarcode: return GoodsAnswer(GoodsByCode(f, Txt(a[2])));
    case k_POSS_PLUGetByBarcode: {
        const Goods* g = GoodsByCode(f, Txt(a[2]));
        if (g) r.number = g->number; else r.getter = kNoRecord;
        break;
    }
    case k_POSS_PLUGetByName: {
        r.getter = kNoRecord;
        for (auto& [n, g] : f.goods)
            if (g.name == Txt(a[2])) {
                r.number = n;
                r.getter = 0;
                break;
            }
        break;
    }
    case k_POSS_PLUIns: {
        Goods g = Head(a);
        g.unit = static_cast<uint32_t>(a[7]);
        g.word1 = static_cast<uint32_t>(a[8]);
        g.dept = static_cast<uint32_t>(a[9]);
        g.word2 = static_cast<uint32_t>(a[10]);
        g.word3 = static_cast<uint32_t>(a[11]);
        g.word4 = static_cast<uint32_t>(a[12]);
        g.linked = static_cast<uint32_t>(a[13]);
        g.word5 = static_cast<uint32_t>(a[14]);
        g.code2 = Txt(a[15]);
        f.goods[g.number] = g;
        break;
    }
    case k_POSS_PluPriceUpdate: {
        auto it = f.goods.find(static_cast<uint32_t>(a[2]));
        if (it == f.goods.end()) r.status = kNoRecord; else it->second.price = Txt(a[3]);
        break;
    }
    case k_POSS_PluPriceUpdateByBarcode: {
        Goods* g = const_cast<Goods*>(GoodsByCode(f, Txt(a[2])));
        if (!g) r.status = kNoRecord; else g->price = Txt(a[3]);
        break;
    }
    case k_POSS_PackIns: {
        Goods g = Head(a);
        f.packs[g.number] = g;
        break;
    }
    case k_POSS_PackPriceUpdate: {
        auto it = f.packs.find(static_cast<uint32_t>(a[2]));
        if (it == f.packs.end()) r.status = kNoRecord; else it->second.price = Txt(a[3]);
        break;
    }
    case k_POSS_PackPriceUpdateByBarcode: {
        r.status = kNoRecord;
        for (auto& [n, g] : f.packs)
            if (g.code == Txt(a[2])) {
                g.price = Txt(a[3]);
                r.status = 0;
            }
        break;
    }
    case k_POSS_PLUDel:
        if (!f.goods.erase(static_cast<uint32_t>(a[2]))) r.status = kNoRecord;
        break;
    case k_POSS_PLUDelByBarcode: {
        const Goods* g = GoodsByCode(f, Txt(a[2]));
        if (!g) r.status = kNoRecord; else f.goods.erase(g->number);
        break;
    }
    case k_POSS_BarcodeIns: {
        uint32_t n = static_cast<uint32_t>(a[2]);
        if (!f.goods.count(n)) {
            r.status = kNoRecord;
            break;
        }
        for (const std::string& c : Split(Txt(a[3]), '\n')) f.barcodes[n].push_back(c);
        break;
    }
    case k_POSS_GroupIns: f.groups[static_cast<uint32_t>(a[2])] = Txt(a[3]); break;
    case k_POSS_MUIns: f.units[static_cast<uint32_t>(a[2])] = {Txt(a[3]), Txt(a[4])}; break;
    case k_POSS_GroupRead: {
        if (f.groupCursor >= f.groups.size()) {
            r.getter = kEndOfList;
            break;
        }
        auto it = f.groups.begin();
        std::advance(it, static_cast<long>(f.groupCursor++));
        r.number = it->first;
        r.name = it->second;
        break;
    }
    case k_POSS_MURead: {
        if (f.unitCursor >= f.units.size()) {
            r.getter = kEndOfList;
            break;
        }
        auto it = f.units.begin();
        std::advance(it, static_cast<long>(f.unitCursor++));
        r.number = it->first;
        r.name = it->second.first;
        r.shortName = it->second.second;
        break;
    }
    case k_POSS_PLUStatRead: return StatAnswer(a[2] == 1 ? f.pluCleared : f.pluStats, f.pluStatCursor);
    case k_POSS_PackStatRead: return StatAnswer(a[2] == 1 ? f.packCleared : f.packStats, f.packStatCursor);
    case k_POSS_PLUStatClearAll: f.pluCleared = f.pluStats; f.pluStats.clear(); break;
    case k_POSS_PackStatClearAll: f.packCleared = f.packStats; f.packStats.clear(); break;
    case k_POSS_SaleRecGet:
        if (f.saleCursor < f.sales.size())
            r.sale = f.sales[f.saleCursor++];
        else
            r.getter = kNoSaleRecords;
        break;
    default: break;
    }
    return r;
}

// Getters --------------------------------------------------------------

PosCode Get(Fake& f, int e, const PosArg* a, bool zero) {
    Request* r = Find(f, a[0]);
    if (!r) return 0x010006;
    if (r->getter) return r->getter;
    switch (e) {
    case k_POSG_VATGet:
        for (int i = 0; i < 7; ++i)
            if (a[1 + i]) std::memcpy(reinterpret_cast<void*>(a[1 + i]), &f.vat[i], sizeof(uint16_t));
        break;
    case k_POSG_CashRegStatusGet:
        PutU32(a[1], f.stType);
        PutU32(a[2], f.stMode);
        PutU32(a[3], f.stTotal);
        PutText(a[4], f.stUnique);
        PutText(a[5], f.stSoftware);
        for (int i = 6; i <= 12; ++i) PutU32(a[i], 0xEEEE);
        break;
    case k_POSG_PLURead:
    case k_POSG_PLUReadByBarcode: {
        const Goods& g = r->goods;
        PutU32(a[1], zero ? 0 : g.number);
        PutText(a[2], g.code);
        PutText(a[3], g.name);
        PutU32(a[4], g.vat);
        PutText(a[5], g.price);
        PutU32(a[6], g.unit);
        PutU32(a[7], g.word1);
        PutU32(a[8], g.dept);
        PutU32(a[9], g.word2);
        PutU32(a[10], g.word3);
        PutU32(a[11], g.word4);
        PutU32(a[12], g.linked);
        PutU32(a[13], g.word5);
        PutU32(a[14], 0xEEEE);
        PutU32(a[15], 0xEEEE);
        break;
    }
    case k_POSG_PLUGetByBarcode:
    case k_POSG_PLUGetByName: PutU32(a[1], zero ? 0 : r->number); break;
    case k_POSG_GroupRead:
        PutU32(a[1], zero ? 0 : r->number);
        PutText(a[2], r->name);
        break;
    case k_POSG_MURead:
        PutU32(a[1], zero ? 0 : r->number);
        PutText(a[2], r->name);
        PutText(a[3], r->shortName);
        break;
    case k_POSG_PLUStatRead:
        PutU32(a[1], zero ? 0 : r->stat.number);
        PutText(a[2], r->stat.code);
        PutText(a[3], r->stat.name);
        PutText(a[4], r->stat.quantity);
        PutText(a[5], r->stat.value);
        break;
    case k_POSG_PackStatRead:
        PutU32(a[1], zero ? 0 : r->stat.number);
        PutText(a[2], r->stat.code);
        PutText(a[3], r->stat.name);
        PutText(a[4], r->stat.quantity);
        PutText(a[5], r->stat.returned);
        PutText(a[6], r->stat.value);
        break;
    case k_POSG_SaleRecGetType:
        PutU32(a[1], r->sale.type);
        PutU32(a[2], 0xEEEE);
        PutU32(a[3], 0xEEEE);
        break;
    case k_POSG_SaleRecGetPLUSet:
        PutU32(a[1], r->sale.number);
        PutText(a[2], r->sale.code);
        PutText(a[3], r->sale.name);
        PutText(a[4], r->sale.quantity);
        PutText(a[5], r->sale.value);
        PutU32(a[6], 0xEEEE);
        break;
    case k_POSG_SaleRecGetPack:
        PutU32(a[1], r->sale.number);
        PutText(a[2], r->sale.name);
        PutText(a[3], r->sale.quantity);
        PutText(a[4], r->sale.value);
        break;
    case k_POSG_SaleRecGetFinished:
        PutU32(a[1], r->sale.number);
        PutText(a[2], r->sale.value);
        for (int i = 3; i <= 7; ++i) PutU32(a[i], 0xEEEE);
        break;
    default: break;
    }
    return 0;
}

// One call of any entry point.
uint64_t Dispatch(int e, const char* name, const PosArg* a, int n) {
    Fake& f = F();
    int delay = 0;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        delay = f.scripts[name].delayMs;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));

    std::lock_guard<std::mutex> lock(f.mutex);
    Script& s = f.scripts[name];
    const int call = ++s.calls;
    std::string line = name;
    const char* kinds = Kinds(e);
    for (int i = 0; i < n; ++i) {
        char k = IsGetter(name) && i > 0 ? 'p' : kinds[i];
        line += '|';
        if (k == 't')
            line += Txt(a[i]);
        else if (k == 'p')
            line += '&';
        else
            line += std::to_string(a[i]);
    }
    f.log.push_back(line);

    bool injected = false;
    int64_t value = 0;
    auto at = s.at.find(call);
    if (at != s.at.end()) {
        injected = true;
        value = at->second;
    } else if (!s.results.empty()) {
        injected = true;
        value = s.results.front().first;
        if (s.results.front().second > 0 && --s.results.front().second == 0) s.results.pop_front();
    }
    const bool zero = s.zero.count(call) != 0;
    if (injected) f.injected.push_back(std::string(name) + '|' + std::to_string(value));

    switch (e) {
    case k_POS_CreateDeviceHandle: {
        if (injected) return static_cast<uint64_t>(value);
        PosHandle h = ++f.next;
        f.params.insert(h);
        ++f.paramsCreated;
        return h;
    }
    case k_POS_SetDeviceParam: return injected ? static_cast<uint64_t>(value) : 0;
    case k_POS_OpenDevice: {
        if (injected) return static_cast<uint64_t>(value);
        if (!f.params.count(a[0])) return 0;
        PosHandle h = ++f.next;
        f.devices.insert(h);
        ++f.devicesOpened;
        return h;
    }
    case k_POS_GetError: return injected ? static_cast<uint64_t>(value) : 0;
    case k_POS_CloseDevice:
        if (f.devices.erase(a[0])) ++f.devicesClosed;
        return injected ? static_cast<uint64_t>(value) : 0;
    case k_POS_CreateRequest: {
        if (injected) return static_cast<uint64_t>(value);
        if (!f.devices.count(a[0])) return 0;
        return NewRequest(f, Request{});
    }
    case k_POS_PushRequestParamByte:
    case k_POS_PostRequest: return 0;
    case k_POS_WaitForRequestCompleted:
        if (injected) return static_cast<uint64_t>(value);
        return Find(f, a[0]) ? 0 : 0x010006;
    case k_POS_GetRequestStatus: {
        if (injected) return static_cast<uint64_t>(value);
        Request* r = Find(f, a[0]);
        return r ? r->status : 0x010006;
    }
    case k_POS_PopResponseValueByte:
        if (a[1]) *reinterpret_cast<uint8_t*>(a[1]) = 0x5A;
        return 0;
    case k_POS_DestroyRequest:
        if (f.requests.erase(a[0])) {
            f.requests_live.erase(a[0]);
            ++f.requestsDestroyed;
        }
        return 0;
    default: break;
    }

    if (IsGetter(name)) {
        if (injected) return static_cast<uint64_t>(value);
        return Get(f, e, a, zero);
    }
    // A builder: the device must be open; the request is written even when
    // the builder is made to fail.
    if (!f.devices.count(a[0])) return 0x010006;
    Request r = injected ? Request{} : Build(f, e, a);
    PosHandle h = NewRequest(f, r);
    if (a[1]) *reinterpret_cast<PosHandle*>(a[1]) = h;
    return injected ? static_cast<uint64_t>(value) : 0;
}

std::string g_answer;

// One record of the register, from its fields (the record commands of
// PosnetFakeControl and PosnetFakeRecord). False for an unknown command.
bool AddRecord(Fake& f, const std::string& c, const std::vector<std::string>& p) {
    if (c == "goods") {
        Goods g;
        g.number = U(p, 0);
        g.code = S(p, 1);
        g.name = S(p, 2);
        g.vat = U(p, 3);
        g.price = S(p, 4);
        g.unit = U(p, 5);
        g.word1 = U(p, 6);
        g.dept = U(p, 7);
        g.word2 = U(p, 8);
        g.word3 = U(p, 9);
        g.word4 = U(p, 10);
        g.linked = U(p, 11);
        g.word5 = U(p, 12);
        f.goods[g.number] = g;
    } else if (c == "group") {
        f.groups[U(p, 0)] = S(p, 1);
    } else if (c == "unit") {
        f.units[U(p, 0)] = {S(p, 1), S(p, 2)};
    } else if (c == "plustat" || c == "packstat") {
        Stat s;
        s.number = U(p, 0);
        s.code = S(p, 1);
        s.name = S(p, 2);
        s.quantity = S(p, 3);
        if (c == "plustat") {
            s.value = S(p, 4);
            f.pluStats.push_back(s);
        } else {
            s.returned = S(p, 4);
            s.value = S(p, 5);
            f.packStats.push_back(s);
        }
    } else if (c == "sale") {
        Sale s;
        s.type = U(p, 0);
        s.number = U(p, 1);
        s.code = S(p, 2);
        s.name = S(p, 3);
        s.quantity = S(p, 4);
        s.value = S(p, 5);
        f.sales.push_back(s);
    } else if (c == "vat") {
        for (size_t i = 0; i < 7; ++i) f.vat[i] = static_cast<uint16_t>(U(p, i));
    } else if (c == "status") {
        f.stType = U(p, 0);
        f.stMode = U(p, 1);
        f.stTotal = U(p, 2);
        f.stUnique = S(p, 3);
        f.stSoftware = S(p, 4);
    } else {
        return false;
    }
    return true;
}

}  // namespace

#define ORV_FAKE_DEFINE(name, n, r)                                              \
    FAKE_EXPORT r ORV_CALLEE_CLEANS name(FP_PARAMS_##n) {                                          \
        const PosArg a[] = {FP_LIST_##n};                                        \
        return static_cast<r>(Dispatch(k_##name, #name, a, n));                  \
    }                                                                            \
    static_assert(std::is_same_v<decltype(&name), name##_fn>, #name " shape");
ORV_LIBPOSNET_ENTRIES(ORV_FAKE_DEFINE)
ORV_LIBHLAPI_ENTRIES(ORV_FAKE_DEFINE)
#undef ORV_FAKE_DEFINE

FAKE_EXPORT int PosnetFakeControl(const char* command, const char* name, const char* arg) {
    Fake& f = F();
    std::lock_guard<std::mutex> lock(f.mutex);
    const std::string c = command ? command : "", nm = name ? name : "", v = arg ? arg : "";
    const std::vector<std::string> p = Split(v, '|');
    if (c == "reset") {
        f.Reset();
    } else if (c == "result") {
        std::vector<std::string> q = Split(v, ',');
        int64_t value = std::strtoll(q[0].c_str(), nullptr, 0);
        int count = q.size() > 1 ? std::atoi(q[1].c_str()) : -1;
        f.scripts[nm].results.emplace_back(value, count);
    } else if (c == "at") {
        std::vector<std::string> q = Split(v, ',');
        if (q.size() != 2) return 0;
        f.scripts[nm].at[std::atoi(q[0].c_str())] = std::strtoll(q[1].c_str(), nullptr, 0);
    } else if (c == "delay") {
        f.scripts[nm].delayMs = std::atoi(v.c_str());
    } else if (c == "zero") {
        f.scripts[nm].zero.insert(std::atoi(v.c_str()));
    } else if (!AddRecord(f, c, c == "vat" ? Split(v, ',') : p)) {
        return 0;
    }
    return 1;
}

// The record commands with each field a text of its own, so that a text may
// hold "|" or "," and be of any length (bytes up to the first zero).
FAKE_EXPORT int PosnetFakeRecord(const char* command, const char* const* fields, int count) {
    Fake& f = F();
    std::lock_guard<std::mutex> lock(f.mutex);
    std::vector<std::string> p;
    for (int i = 0; i < count; ++i) p.emplace_back(fields[i] ? fields[i] : "");
    return AddRecord(f, command ? command : "", p) ? 1 : 0;
}

FAKE_EXPORT int PosnetFakeCallCount() {
    Fake& f = F();
    std::lock_guard<std::mutex> lock(f.mutex);
    return static_cast<int>(f.log.size());
}

FAKE_EXPORT const char* PosnetFakeCall(int i) {
    Fake& f = F();
    std::lock_guard<std::mutex> lock(f.mutex);
    g_answer = i >= 0 && i < static_cast<int>(f.log.size()) ? f.log[static_cast<size_t>(i)] : std::string();
    return g_answer.c_str();
}

FAKE_EXPORT const char* PosnetFakeQuery(const char* what) {
    Fake& f = F();
    std::lock_guard<std::mutex> lock(f.mutex);
    const std::string w = what ? what : "";
    std::ostringstream o;
    if (w == "counts") {
        o << "params=" << f.paramsCreated << " opened=" << f.devicesOpened << " closed=" << f.devicesClosed
          << " open=" << f.devices.size() << " requests=" << f.requestsCreated
          << " destroyed=" << f.requestsDestroyed << " live=" << f.requests_live.size();
    } else if (w == "goods") {
        for (auto& [n, g] : f.goods)
            o << n << '|' << g.code << '|' << g.name << '|' << g.vat << '|' << g.price << '|' << g.unit << '|'
              << g.word1 << '|' << g.dept << '|' << g.word2 << '|' << g.word3 << '|' << g.word4 << '|' << g.linked
              << '|' << g.word5 << '|' << g.code2 << '\n';
    } else if (w == "barcodes") {
        for (auto& [n, list] : f.barcodes) {
            o << n;
            for (const std::string& c : list) o << '|' << c;
            o << '\n';
        }
    } else if (w == "groups") {
        for (auto& [n, name] : f.groups) o << n << '|' << name << '\n';
    } else if (w == "units") {
        for (auto& [n, u] : f.units) o << n << '|' << u.first << '|' << u.second << '\n';
    } else if (w == "injected") {
        for (const std::string& line : f.injected) o << line << '\n';
    } else if (w == "packs") {
        for (auto& [n, g] : f.packs) o << n << '|' << g.code << '|' << g.name << '|' << g.vat << '|' << g.price << '\n';
    }
    g_answer = o.str();
    return g_answer.c_str();
}
