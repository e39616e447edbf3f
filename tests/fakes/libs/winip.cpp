// A stand-in for the Elzab communication library (libwinip.so). It exports
// the library's 30 entry points (each takes the request file name and, for
// reads, the answer file name, and returns a byte: 0 success) and keeps a
// small register in memory: goods, departments, units, VAT rates, clock,
// receipt number, device type fields, sales and packages, in the record
// layouts the driver writes:
//   goods       number, name, VAT digit, department, attribute, unit, flag,
//               barcode, price in hundredths, extra digit[, model fields]
//               (stored and answered as the request line gave them)
//   department  number, name          unit  number, name
//   sales, packages  number, quantity, value in hundredths
//   __OTowar    request lines "$number"; answers the goods it holds
//   __ZBPTowar  answers "number, code" per request record (code 0 accepted)
// The answer header is "#" + the register number read from konfig.txt in
// the working directory at each call, "#", "#".
//
// Tests steer it through WinipFakeControl (command, entry name, argument):
//   reset                         forget everything (register and script)
//   result   NAME "v[,n]"         NAME returns v for the next n calls (all
//                                 further calls without n); queued
//   answer   NAME none|empty|normal   no answer file at all / an empty one
//   raw      NAME text            the answer file is exactly text
//   header   NAME text            the three header lines replaced by text
//   line     NAME text            one more line appended to the answer
//   delay    NAME ms              the call sleeps first
//   lf       -    1|0             lines end with LF alone
//   register -    n               header number instead of konfig.txt's
//   goods/dept/unit/sale/package - line   add a record (fields by TAB)
//   vat/clock/receipt/type  - line        set the single-record answers
//   next     -    "r" | "r:HEX"   queues one call, whatever its entry: it
//                                 returns r and leaves no answer file ("r")
//                                 or one of exactly the bytes HEX encodes
//                                 (two hexadecimal digits a byte, any bytes)
//   drained  -    r               once the queue is used up, every call
//                                 returns r and leaves no answer file
//   refuse   -    "number\tcode"  __ZBPTowar refuses that number
//   omit     -    number          __ZBPTowar stores that number but leaves
//                                 its record out of the answer
// and reads its log through WinipFakeCallCount / WinipFakeCallField (name,
// in, out, request: the request bytes as they were at the call, konfig:
// konfig.txt at the call, answer: what it wrote) and its register through
// WinipFakeQuery(goods|depts|units|barcodes|sales|packages).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/call_convention.h"

#define WINIP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Script {
    std::deque<std::pair<int, int>> results;   // value, calls left (-1: all)
    std::string answerMode = "normal";
    bool hasRaw = false;
    std::string raw;
    bool hasHeader = false;
    std::string header;
    std::vector<std::string> extraLines;
    int delayMs = 0;
};

struct Call {
    std::string name, in, out, request, konfig, answer;
};

struct Queued {
    int result = 0;
    bool hasFile = false;
    std::string bytes;
};

struct Fake {
    std::mutex mutex;
    std::map<std::string, Script> scripts;
    bool lfOnly = false;
    int registerOverride = -1;
    std::map<uint32_t, std::string> goods;
    std::map<uint32_t, std::string> depts;
    std::map<uint32_t, std::string> units;
    std::map<uint32_t, std::string> barcodes;
    std::map<uint32_t, int> refusals;
    std::set<uint32_t> omitted;
    std::vector<std::string> sales;
    std::vector<std::string> packages;
    std::string vat = "23.00\t8.00\t5.00\t0.00\tREZERWA\tREZERWA\tZWOLNIONA";
    std::string clock = "10-12-26\t12:30";
    std::string receipt = "123";
    std::string type = "ALFA\t1.00\t14";
    std::deque<Queued> queue;
    int drained = -1;   // the result once the queue is used up (-1: the register answers)
    std::vector<Call> calls;
    std::string queryBuffer;
    std::string fieldBuffer;

    void Reset() {
        scripts.clear();
        lfOnly = false;
        registerOverride = -1;
        goods.clear();
        depts.clear();
        units.clear();
        barcodes.clear();
        refusals.clear();
        omitted.clear();
        sales.clear();
        packages.clear();
        vat = "23.00\t8.00\t5.00\t0.00\tREZERWA\tREZERWA\tZWOLNIONA";
        clock = "10-12-26\t12:30";
        receipt = "123";
        type = "ALFA\t1.00\t14";
        queue.clear();
        drained = -1;
        calls.clear();
    }
};

Fake& TheFake() {
    static Fake* fake = new Fake;
    return *fake;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

uint32_t Number(const std::string& line) { return static_cast<uint32_t>(std::strtoul(line.c_str(), nullptr, 10)); }

// Data lines of a request, without their "$".
std::vector<std::string> RequestRecords(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : bytes) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur += c;
        }
    }
    lines.push_back(cur);
    std::vector<std::string> records;
    for (size_t i = 3; i < lines.size(); ++i)
        if (!lines[i].empty() && lines[i][0] == '$') records.push_back(lines[i].substr(1));
    return records;
}

void Apply(Fake& f, const std::string& name, const std::vector<std::string>& req, std::vector<std::string>& out) {
    auto all = [&](const std::map<uint32_t, std::string>& m) {
        for (const auto& [n, line] : m) out.push_back(line);
    };
    if (name == "__OZegar") {
        out.push_back(f.clock);
    } else if (name == "__OTypUrz") {
        out.push_back(f.type);
    } else if (name == "__ONrParag") {
        out.push_back(f.receipt);
    } else if (name == "__OPodatek") {
        out.push_back(f.vat);
    } else if (name == "__TowarMax" || name == "__OSTowMax") {
        all(f.goods);
    } else if (name == "__OTowar" || name == "__OSTowar") {
        for (const std::string& r : req) {
            auto it = f.goods.find(Number(r));
            if (it != f.goods.end()) out.push_back(it->second);
        }
    } else if (name == "__OGrupa") {
        all(f.depts);
    } else if (name == "__OJednost" || name == "__OSJednos") {
        all(f.units);
    } else if (name == "__OSprzed" || name == "__OPSprzed" || name == "__OTSpMax") {
        out = f.sales;
    } else if (name == "__OOpak") {
        out = f.packages;
    } else if (name == "__KSprOp") {
        f.sales.clear();
        f.packages.clear();
    } else if (name == "__ZBPTowar" || name == "__ZSTowar" || name == "__ZCTowar") {
        for (const std::string& r : req) {
            uint32_t n = Number(r);
            auto refused = f.refusals.find(n);
            int code = refused == f.refusals.end() ? 0 : refused->second;
            if (code == 0) f.goods[n] = r;
            if (f.omitted.count(n) == 0) out.push_back(std::to_string(n) + "\t" + std::to_string(code));
        }
        if (name != "__ZBPTowar") out.clear();
    } else if (name == "__ZDBarkod") {
        for (const std::string& r : req) f.barcodes[Number(r)] = r;
    } else if (name == "__ZGrupa") {
        for (const std::string& r : req) f.depts[Number(r)] = r;
    } else if (name == "__ZJednost" || name == "__ZSJednos") {
        for (const std::string& r : req) f.units[Number(r)] = r;
    } else if (name == "__KTowar" || name == "__KSTowar") {
        for (const std::string& r : req) f.goods.erase(Number(r));
    }
}

unsigned char Serve(const char* name, const char* in, const char* out) {
    Fake& f = TheFake();
    int delay = 0;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        delay = f.scripts[name].delayMs;
    }
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));

    std::lock_guard<std::mutex> lock(f.mutex);
    Script& s = f.scripts[name];
    Call call;
    call.name = name;
    call.in = in ? in : "";
    call.out = out ? out : "";
    ReadFile(call.in, call.request);
    ReadFile("konfig.txt", call.konfig);

    if (!f.queue.empty() || f.drained >= 0) {
        Queued q;
        if (!f.queue.empty()) {
            q = std::move(f.queue.front());
            f.queue.pop_front();
        } else {
            q.result = f.drained;
        }
        if (out && !q.hasFile) ::unlink(out);
        if (out && q.hasFile) {
            std::ofstream file(out, std::ios::binary | std::ios::trunc);
            file.write(q.bytes.data(), static_cast<std::streamsize>(q.bytes.size()));
            call.answer = q.bytes;
        }
        f.calls.push_back(std::move(call));
        return static_cast<unsigned char>(q.result);
    }
    int result = 0;
    if (!s.results.empty()) {
        auto& front = s.results.front();
        result = front.first;
        if (front.second > 0 && --front.second == 0) s.results.pop_front();
    }
    if (result == 0) {
        std::vector<std::string> lines;
        Apply(f, name, RequestRecords(call.request), lines);
        if (out) {
            const char* eol = f.lfOnly ? "\n" : "\r\n";
            int reg = f.registerOverride;
            if (reg < 0 && call.konfig.size() > 1 && call.konfig[0] == '$')
                reg = static_cast<int>(Number(call.konfig.substr(1)));
            std::string text = s.hasHeader ? s.header : "#" + std::to_string(reg) + eol + "#" + eol + "#";
            for (const std::string& l : lines) text += eol + ("$" + l);
            for (const std::string& l : s.extraLines) text += eol + l;
            if (s.hasRaw) text = s.raw;
            if (s.answerMode == "empty") text.clear();
            if (s.answerMode == "none") {
                ::unlink(out);
            } else {
                std::ofstream file(out, std::ios::binary | std::ios::trunc);
                file.write(text.data(), static_cast<std::streamsize>(text.size()));
                call.answer = text;
            }
        }
    }
    f.calls.push_back(std::move(call));
    return static_cast<unsigned char>(result);
}

}  // namespace

WINIP_EXPORT int WinipFakeControl(const char* command, const char* name, const char* arg) {
    Fake& f = TheFake();
    std::lock_guard<std::mutex> lock(f.mutex);
    const std::string cmd = command ? command : "";
    const std::string n = name ? name : "";
    const std::string a = arg ? arg : "";
    if (cmd == "reset") {
        f.Reset();
    } else if (cmd == "result") {
        int value = std::atoi(a.c_str());
        size_t comma = a.find(',');
        int count = comma == std::string::npos ? -1 : std::atoi(a.c_str() + comma + 1);
        f.scripts[n].results.emplace_back(value, count);
    } else if (cmd == "next") {
        Queued q;
        q.result = std::atoi(a.c_str());
        const size_t colon = a.find(':');
        q.hasFile = colon != std::string::npos;
        auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        if (q.hasFile)
            for (size_t i = colon + 1; i + 1 < a.size(); i += 2)
                q.bytes += static_cast<char>(nibble(a[i]) * 16 + nibble(a[i + 1]));
        f.queue.push_back(std::move(q));
    } else if (cmd == "drained") {
        f.drained = std::atoi(a.c_str());
    } else if (cmd == "answer") {
        f.scripts[n].answerMode = a;
    } else if (cmd == "raw") {
        f.scripts[n].hasRaw = true;
        f.scripts[n].raw = a;
    } else if (cmd == "header") {
        f.scripts[n].hasHeader = true;
        f.scripts[n].header = a;
    } else if (cmd == "line") {
        f.scripts[n].extraLines.push_back(a);
    } else if (cmd == "delay") {
        f.scripts[n].delayMs = std::atoi(a.c_str());
    } else if (cmd == "lf") {
        f.lfOnly = a == "1";
    } else if (cmd == "register") {
        f.registerOverride = std::atoi(a.c_str());
    } else if (cmd == "goods") {
        f.goods[Number(a)] = a;
    } else if (cmd == "dept") {
        f.depts[Number(a)] = a;
    } else if (cmd == "unit") {
        f.units[Number(a)] = a;
    } else if (cmd == "sale") {
        f.sales.push_back(a);
    } else if (cmd == "package") {
        f.packages.push_back(a);
    } else if (cmd == "refuse") {
        size_t tab = a.find('\t');
        f.refusals[Number(a)] = tab == std::string::npos ? 0 : std::atoi(a.c_str() + tab + 1);
    } else if (cmd == "omit") {
        f.omitted.insert(Number(a));
    } else if (cmd == "vat") {
        f.vat = a;
    } else if (cmd == "clock") {
        f.clock = a;
    } else if (cmd == "receipt") {
        f.receipt = a;
    } else if (cmd == "type") {
        f.type = a;
    } else {
        return 0;
    }
    return 1;
}

WINIP_EXPORT int WinipFakeCallCount() {
    Fake& f = TheFake();
    std::lock_guard<std::mutex> lock(f.mutex);
    return static_cast<int>(f.calls.size());
}

// A field of call i; *size gets its length (the bytes may hold zeros). The
// pointer is valid until the next call of this function.
WINIP_EXPORT const char* WinipFakeCallField(int i, const char* field, int* size) {
    Fake& f = TheFake();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.fieldBuffer.clear();
    if (i >= 0 && i < static_cast<int>(f.calls.size()) && field) {
        const Call& c = f.calls[static_cast<size_t>(i)];
        const std::string k = field;
        f.fieldBuffer = k == "name" ? c.name : k == "in" ? c.in : k == "out" ? c.out : k == "request" ? c.request
                      : k == "konfig" ? c.konfig : k == "answer" ? c.answer : std::string();
    }
    if (size) *size = static_cast<int>(f.fieldBuffer.size());
    return f.fieldBuffer.c_str();
}

// The register's records of one kind, one per line ("\n").
WINIP_EXPORT const char* WinipFakeQuery(const char* what) {
    Fake& f = TheFake();
    std::lock_guard<std::mutex> lock(f.mutex);
    const std::string w = what ? what : "";
    f.queryBuffer.clear();
    auto add = [&](const std::string& line) { f.queryBuffer += line + "\n"; };
    const std::map<uint32_t, std::string>* m = w == "goods" ? &f.goods : w == "depts" ? &f.depts
                                             : w == "units" ? &f.units : w == "barcodes" ? &f.barcodes : nullptr;
    if (m)
        for (const auto& [n, line] : *m) add(line);
    if (w == "sales")
        for (const std::string& l : f.sales) add(l);
    if (w == "packages")
        for (const std::string& l : f.packages) add(l);
    return f.queryBuffer.c_str();
}

// The entry points (their names begin with "__", so they get asm labels).
#define WINIP_ENTRY1(fn, label)                                                                    \
    WINIP_EXPORT unsigned char ORV_CALLER_CLEANS fn(const char* in) __asm__(label);                \
    WINIP_EXPORT unsigned char ORV_CALLER_CLEANS fn(const char* in) { return Serve(label, in, nullptr); }
#define WINIP_ENTRY2(fn, label)                                                                    \
    WINIP_EXPORT unsigned char ORV_CALLER_CLEANS fn(const char* in, const char* out) __asm__(label); \
    WINIP_EXPORT unsigned char ORV_CALLER_CLEANS fn(const char* in, const char* out) { return Serve(label, in, out); }

WINIP_ENTRY1(FakeModStart, "__ModStart")
WINIP_ENTRY1(FakeModStop, "__ModStop")
WINIP_ENTRY2(FakeOZegar, "__OZegar")
WINIP_ENTRY2(FakeTowarMax, "__TowarMax")
#ifndef WINIP_FAKE_WITHOUT_OTOWAR
WINIP_ENTRY2(FakeOTowar, "__OTowar")
#endif
WINIP_ENTRY2(FakeODBarkod, "__ODBarkod")
WINIP_ENTRY2(FakeOGrupa, "__OGrupa")
WINIP_ENTRY2(FakeOJednost, "__OJednost")
WINIP_ENTRY2(FakeOPodatek, "__OPodatek")
WINIP_ENTRY1(FakeZTowar, "__ZTowar")
WINIP_ENTRY2(FakeZBPTowar, "__ZBPTowar")
WINIP_ENTRY1(FakeZCTowar, "__ZCTowar")
WINIP_ENTRY1(FakeZDBarkod, "__ZDBarkod")
WINIP_ENTRY1(FakeZGrupa, "__ZGrupa")
WINIP_ENTRY1(FakeZJednost, "__ZJednost")
WINIP_ENTRY1(FakeKTowar, "__KTowar")
WINIP_ENTRY1(FakeKDBarkod, "__KDBarkod")
WINIP_ENTRY2(FakeOSprzed, "__OSprzed")
WINIP_ENTRY2(FakeOPSprzed, "__OPSprzed")
WINIP_ENTRY2(FakeOTSpMax, "__OTSpMax")
WINIP_ENTRY2(FakeOOpak, "__OOpak")
WINIP_ENTRY1(FakeKSprOp, "__KSprOp")
WINIP_ENTRY2(FakeOSTowMax, "__OSTowMax")
WINIP_ENTRY2(FakeOSTowar, "__OSTowar")
WINIP_ENTRY1(FakeZSTowar, "__ZSTowar")
WINIP_ENTRY1(FakeKSTowar, "__KSTowar")
WINIP_ENTRY2(FakeOSJednos, "__OSJednos")
WINIP_ENTRY1(FakeZSJednos, "__ZSJednos")
WINIP_ENTRY2(FakeOTypUrz, "__OTypUrz")
WINIP_ENTRY2(FakeONrParag, "__ONrParag")
