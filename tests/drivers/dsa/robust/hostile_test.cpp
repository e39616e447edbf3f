// Robustness of the DSA/DSP registers, driven through the exports as a host
// drives them: a device on a hostile line (garbage, cut, oversized and
// chunked frames, late or missing ACKs, false refusals, a device that falls
// silent or hangs up), a host that breaks off at random moments, and odd
// host values. Every job must end within its bound, report a failure with a
// nonzero code, hand over only well-formed records, and a job that reports
// success must have handed over exactly what the device holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <thread>

#include "drivers/dsa/dsa_fixture.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

namespace orv::test {
namespace {

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------- the host

std::atomic<int> g_malformed{0};
std::atomic<bool> g_breakInCallback{false};

bool Terminated(const char* s, size_t n) { return std::memchr(s, 0, n) != nullptr; }

void CheckItem(const EcrItemRecord* r) {
    if (!r) {
        ++g_malformed;
        return;
    }
    bool ok = Terminated(r->code, sizeof r->code) && Terminated(r->name, sizeof r->name) &&
              Terminated(r->code2, sizeof r->code2) && Terminated(r->text236, sizeof r->text236) &&
              Terminated(r->text252, sizeof r->text252);
    for (const auto& t : r->scale_text) ok = ok && Terminated(t, sizeof t);
    if (!ok) ++g_malformed;
}

void MaybeBreak() {
    if (g_breakInCallback.exchange(false)) EcrBreakJob();
}

void ECR_CALL OnProgress(int event, const char* text, int percent, int value) {
    if (text && strnlen(text, 256) > 255) ++g_malformed;
    if (event == ECR_EVENT_ITEM && (percent < 0 || percent > 100)) ++g_malformed;
    RecordingHost::OnProgress(event, text, percent, value);
}
void ECR_CALL OnItemRead(const EcrItemRecord* item) {
    CheckItem(item);
    RecordingHost::OnItemRead(item);
    MaybeBreak();
}
void ECR_CALL OnSale(const EcrItemRecord* item, const EcrSaleRecord* sale) {
    CheckItem(item);
    if (!sale || !Terminated(sale->text, sizeof sale->text) || !Terminated(sale->code, sizeof sale->code) ||
        !Terminated(sale->name, sizeof sale->name))
        ++g_malformed;
    RecordingHost::OnSale(item, sale);
    MaybeBreak();
}
// A confirmation hands back the host's own record: only its text is checked.
void ECR_CALL OnItemProgram(const EcrItemRecord* item, int code, const char text[64]) {
    if (!item || !text || !Terminated(text, 64)) ++g_malformed;
    RecordingHost::OnItemProgram(item, code, text);
    MaybeBreak();
}
void ECR_CALL OnDeptRead(const EcrDeptRecord* dept) {
    if (!dept || !Terminated(dept->name, sizeof dept->name)) ++g_malformed;
    RecordingHost::OnDeptRead(dept);
    MaybeBreak();
}
void ECR_CALL OnDeptProgram(const EcrDeptRecord* dept, int code, const char text[64]) {
    if (!dept || !text || !Terminated(text, 64)) ++g_malformed;
    RecordingHost::OnDeptProgram(dept, code, text);
    MaybeBreak();
}

// ---------------------------------------------------------------- the registers

struct TypeInfo {
    int type;
    DsaModel model;
    uint32_t capacity;   // highest PLU in sale lines
    uint32_t pluMax;     // highest PLU the records carry
    uint32_t depts;
    int barcode;         // barcode length in the records (0: none)
    int nameLength;
    bool dsp;
};

const TypeInfo kTypes[] = {
    {15, DsaModel::Dsa100M0, 2730, 2730, 20, 0, 16, false},
    {37, DsaModel::Dsa100M1, 4500, 4500, 20, 13, 16, false},
    {40, DsaModel::Dsa45B, 3000, 3000, 20, 13, 16, false},
    {13, DsaModel::Dsa4000M1, 4560, 4560, 40, 0, 16, false},
    {14, DsaModel::Dsa4000M2, 13320, 9999, 40, 0, 16, false},
    {36, DsaModel::Dsa4000M3, 20000, 9999, 40, 0, 16, false},
    {109, DsaModel::Dsp500, 9999999, 9999999, 0, 7, 20, true},
};

// A goods item as the test made it (name in CP1250).
struct GenPlu {
    uint32_t number = 0;
    std::string name;
    uint64_t price = 0;
    uint32_t dept = 1;
    char flag = '0';
    uint64_t quantity = 0;
    std::string barcode;
};

struct GenDept {
    uint32_t number = 0;
    std::string name;
    uint64_t amount = 0;
    char flag = '0';
    uint32_t tax = 0;
};

using Rng = std::mt19937;

uint64_t Uniform(Rng& rng, uint64_t lo, uint64_t hi) { return std::uniform_int_distribution<uint64_t>(lo, hi)(rng); }

std::string RandomName(Rng& rng, size_t maxLen) {
    static const std::string letters = std::string("ABCXYZabcxyz0189 .,-/%") + PL("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
    size_t n = Uniform(rng, 0, maxLen);
    std::string s;
    for (size_t i = 0; i < n; ++i) s += letters[Uniform(rng, 0, letters.size() - 1)];
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string RandomDigits(Rng& rng, size_t maxLen) {
    std::string s;
    size_t n = Uniform(rng, 0, maxLen);
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + Uniform(rng, 0, 9));
    return s;
}

// What a register holds at the start of one run.
struct DeviceState {
    std::vector<GenPlu> plus;
    std::vector<GenDept> depts;
    std::vector<DsaEmuSale> sales;

    const GenPlu* Find(uint32_t number) const {
        for (const GenPlu& p : plus)
            if (p.number == number) return &p;
        return nullptr;
    }
};

uint32_t RandomPluNumber(Rng& rng, const TypeInfo& t) {
    switch (Uniform(rng, 0, 5)) {
    case 0: return 1;
    case 1: return t.pluMax;
    case 2: return static_cast<uint32_t>(Uniform(rng, 1, std::min<uint32_t>(t.pluMax, 20)));
    default: return static_cast<uint32_t>(Uniform(rng, 1, t.pluMax));
    }
}

GenPlu RandomPlu(Rng& rng, const TypeInfo& t, uint32_t number) {
    GenPlu p;
    p.number = number;
    p.name = RandomName(rng, static_cast<size_t>(t.nameLength));
    if (t.dsp && p.name.empty()) p.name = "X";   // an empty name is a free PLU
    p.price = Uniform(rng, 0, t.dsp ? 999999 : 999999999);
    p.dept = t.dsp ? 0 : static_cast<uint32_t>(Uniform(rng, 1, t.depts));
    p.flag = Uniform(rng, 0, 1) ? '1' : '0';
    p.quantity = Uniform(rng, 0, 9999999);
    p.barcode = RandomDigits(rng, static_cast<size_t>(t.barcode));
    return p;
}

DeviceState RandomState(Rng& rng, const TypeInfo& t, bool contiguous) {
    DeviceState s;
    const size_t n = Uniform(rng, 1, 8);
    for (size_t i = 0; i < n; ++i) {
        uint32_t number = contiguous ? static_cast<uint32_t>(i + 1) : RandomPluNumber(rng, t);
        if (s.Find(number)) continue;
        s.plus.push_back(RandomPlu(rng, t, number));
    }
    for (uint32_t d = 1; d <= t.depts; ++d) {
        if (Uniform(rng, 0, 2) == 0) continue;
        GenDept g;
        g.number = d;
        g.name = RandomName(rng, 16);
        g.amount = Uniform(rng, 0, 999999999);
        g.flag = Uniform(rng, 0, 1) ? '1' : '0';
        g.tax = static_cast<uint32_t>(Uniform(rng, 0, 7));
        s.depts.push_back(g);
    }
    const size_t lines = Uniform(rng, 0, 8);
    for (size_t i = 0; i < lines; ++i) {
        DsaEmuSale sale;
        sale.plu = static_cast<uint32_t>(Uniform(rng, 1, t.capacity));
        sale.quantity = Uniform(rng, 0, 999999999);
        sale.value = Uniform(rng, 0, 999999999);
        s.sales.push_back(sale);
    }
    return s;
}

void Load(DsaEmulator& emu, const DeviceState& s) {
    for (const GenPlu& g : s.plus) {
        DsaEmuPlu p;
        p.name = DsaEmulator::DeviceText(g.name);
        p.price = g.price;
        p.dept = g.dept;
        p.flag = g.flag;
        p.quantity = g.quantity;
        p.barcode = g.barcode;
        emu.SetPlu(g.number, p);
    }
    for (const GenDept& g : s.depts) {
        DsaEmuDept d;
        d.name = DsaEmulator::DeviceText(g.name);
        d.amount = g.amount;
        d.flag = g.flag;
        d.tax = g.tax;
        emu.SetDept(g.number, d);
    }
    emu.SetSales(s.sales);
}

// ---------------------------------------------------------------- the line

using Piece = DsaEmulator::Piece;

Bytes Junk(Rng& rng, size_t maxLen) {
    Bytes b(Uniform(rng, 1, maxLen));
    for (auto& c : b) c = static_cast<uint8_t>(Uniform(rng, 0, 255));
    return b;
}

// Spoils a share of the device's bytes. Runs on the emulator thread only.
class HostileLine {
public:
    HostileLine(uint32_t seed, int percent) : m_rng(seed), m_percent(percent) {}

    std::vector<Piece> Mangle(char kind, const Bytes& b) {
        if (m_gone) return {};
        if (static_cast<int>(Uniform(m_rng, 0, 99)) >= m_percent) return {{0, b}};
        return kind == 'A' ? MangleAck(b) : MangleFrame(b);
    }

private:
    std::vector<Piece> MangleAck(const Bytes& b) {
        switch (Uniform(m_rng, 0, 6)) {
        case 0: return {};                                                         // lost
        case 1: return {{0, Bytes{0x15}}};                                         // NAK
        case 2: return {{0, Junk(m_rng, 6)}, {0, b}};                              // junk first
        case 3: return {{static_cast<int>(Uniform(m_rng, 5, 70)), b}};             // late
        case 4: return {{0, b}, {0, b}};                                           // twice
        case 5: return {{0, b}, {0, Junk(m_rng, 6)}};                              // junk after
        default: m_gone = true; return {};                                         // device gone
        }
    }

    std::vector<Piece> MangleFrame(const Bytes& f) {
        const int seq = (f[1] - '0') * 10 + (f[2] - '0');
        const std::string data(f.begin() + 4, f.end() - 3);
        const size_t n = f.size();
        switch (Uniform(m_rng, 0, 15)) {
        case 0: {   // wrong checksum digit
            Bytes g = f;
            g[n - 2] = static_cast<uint8_t>(g[n - 2] == '9' ? '0' : g[n - 2] + 1);
            return {{0, g}};
        }
        case 1: {   // one byte of the body off by one
            Bytes g = f;
            size_t i = Uniform(m_rng, 1, n - 4);
            g[i] = static_cast<uint8_t>(g[i] + 1);
            return {{0, g}};
        }
        case 2: return {{0, Bytes(f.begin(), f.begin() + static_cast<long>(Uniform(m_rng, 1, n - 1)))}};
        case 3: return {{0, Junk(m_rng, 12)}, {0, f}};
        case 4: return {{0, f}, {0, Junk(m_rng, 12)}};
        case 5: {   // chunks with pauses
            std::vector<Piece> out;
            size_t pos = 0;
            while (pos < n) {
                size_t len = std::min(n - pos, static_cast<size_t>(Uniform(m_rng, 1, n)));
                out.push_back({static_cast<int>(Uniform(m_rng, 0, 6)),
                               Bytes(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + len))});
                pos += len;
            }
            return out;
        }
        case 6: return {{0, DsaEmulator::Frame(seq, data + RandomDigitsOf(1, 5))}};   // too long
        case 7: return {{0, DsaEmulator::Frame(seq, data.substr(0, data.size() - Uniform(m_rng, 1, data.size())))}};
        case 8: return {};   // silence
        case 9: {   // a refusal; not "already there" (it steers the programming machine), nor
                    // "no such data" / "not programmed" (the DSP 500's end of goods)
            uint64_t code = Uniform(m_rng, 0, 95);
            for (uint64_t skip : {18, 22, 23, 27})
                if (code >= skip) ++code;
            return {{0, DsaEmulator::Frame(seq, "ERR00" + DsaEmulator::Num(code, 2))}};
        }
        case 10: return {{0, f}, {static_cast<int>(Uniform(m_rng, 0, 3)), f}};
        case 11: m_gone = true; return {{0, Bytes(f.begin(), f.begin() + static_cast<long>(Uniform(m_rng, 0, n - 1)))}};
        case 12: return {{static_cast<int>(Uniform(m_rng, 20, 90)), f}};
        case 13: return {{0, Junk(m_rng, 400)}, {0, f}};   // a burst of noise
        case 14: {   // a good frame answering another command
            std::string other = data;
            other[0] = static_cast<char>(other[0] == '9' ? '0' : other[0] + 1);
            return {{0, DsaEmulator::Frame(seq, other)}};
        }
        default: {   // checksum not digits
            Bytes g = f;
            g[n - 3] = 'A';
            return {{0, g}};
        }
        }
    }

    std::string RandomDigitsOf(size_t lo, size_t hi) {
        std::string s;
        size_t k = Uniform(m_rng, lo, hi);
        for (size_t i = 0; i < k; ++i) s += static_cast<char>('0' + Uniform(m_rng, 0, 9));
        return s;
    }

    Rng m_rng;
    int m_percent;
    bool m_gone = false;
};

// ---------------------------------------------------------------- jobs

enum class Job { ReadPlu, ReadAllPlu, ReadAllDept, ReadSale, ClearSale, PgmPlu, UpdatePlu, DelPlu, PgmDept };

const char* JobName(Job j) {
    switch (j) {
    case Job::ReadPlu: return "ReadPLU";
    case Job::ReadAllPlu: return "ReadAllPLU";
    case Job::ReadAllDept: return "ReadAllDEPT";
    case Job::ReadSale: return "ReadSale";
    case Job::ClearSale: return "ClearSale";
    case Job::PgmPlu: return "PgmPLU";
    case Job::UpdatePlu: return "UpDatePLU";
    case Job::DelPlu: return "DelPLU";
    default: return "PgmDEPT";
    }
}

// Whether the register serves the job with traffic.
bool Served(const TypeInfo& t, Job j) {
    if (t.dsp) return j == Job::ReadPlu || j == Job::ReadAllPlu;
    return j != Job::ReadAllPlu;   // a walk over thousands of numbers: too long here
}

struct Outcome {
    bool done = false;
    int64_t ms = 0;
    int error = 0;
    int succeeded = 0;   // event 10
    int failed = 0;      // event 7
};

// The host's arrays of one job (kept alive until the job ends).
struct HostArrays {
    std::vector<EcrItemRecord> items;
    std::vector<EcrDeptRecord> depts;
};

EcrItemRecord HostItem(const GenPlu& g) {
    return HostItemRecord({.number = g.number,
                           .name = g.name.c_str(),
                           .code = g.barcode.c_str(),
                           .price = static_cast<double>(g.price) / 100.0,
                           .dept = g.dept});
}

// A host text as the register receives it (before the device code): cut to
// the field, control bytes as blanks, optionally trimmed, padded.
std::string SentText(const char* text, size_t cap, size_t width, bool trim) {
    std::string s(text, std::min(strnlen(text, cap), width));
    for (char& c : s)
        if (static_cast<uint8_t>(c) < 0x20) c = ' ';
    if (trim) {
        size_t b = s.find_first_not_of(' ');
        s = b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
    }
    s.resize(width, ' ');
    return s;
}

// The number of records to compare: the host gets all of them when the job
// succeeded, a leading part when it failed, never more.
size_t Handed(size_t got, size_t want, bool ok) {
    EXPECT_LE(got, want);
    if (ok) {
        EXPECT_EQ(got, want);
    }
    return std::min(got, want);
}

class DsaRobust : public DsaTest {
protected:
    void SetUp() override {
        DsaTest::SetUp();
        g_malformed = 0;
        g_breakInCallback = false;
        ASSERT_EQ(EcrCreate(nullptr), 1);
    }
    void TearDown() override {
        EcrBreakJob();
        WaitEcrDone(10000);
        DsaTest::TearDown();
    }

    // The emulator of the type, loaded with a random state.
    DeviceState StartLoaded(Rng& rng, const TypeInfo& t, bool contiguous) {
        DsaEmulator& emu = StartDevice(t.model);
        DeviceState state = RandomState(rng, t, contiguous);
        Load(emu, state);
        return state;
    }

    // One seeded run: a register of the DSA types (not the DSP 500), loaded,
    // and a job of the list.
    struct Run {
        const TypeInfo& t;
        Job j;
        DeviceState state;
        std::string trace;
    };
    template <size_t N>
    Run NewRun(Rng& rng, const Job (&jobs)[N], uint32_t seed) {
        const TypeInfo& t = kTypes[Uniform(rng, 0, 5)];
        const Job j = jobs[Uniform(rng, 0, N - 1)];
        DeviceState state = StartLoaded(rng, t, false);
        return {t, j, state, std::string(JobName(j)) + " type " + std::to_string(t.type) + " seed " + std::to_string(seed)};
    }

    EcrDeviceRecord Device(const TypeInfo& t) {
        EcrDeviceRecord dev = DeviceRecord(t.type, kDsaPort, 9600);
        dev.progress = &OnProgress;
        return dev;
    }

    // Starts the job; the arrays must live until it ends.
    int Start(Job j, const EcrDeviceRecord& dev, HostArrays& a) {
        const int count = static_cast<int>(j == Job::PgmDept ? a.depts.size() : a.items.size());
        EcrItemRecord* items = a.items.empty() ? nullptr : a.items.data();
        switch (j) {
        case Job::ReadPlu: return EcrReadPLU(&dev, items, count, &OnItemRead);
        case Job::ReadAllPlu: return EcrReadAllPLU(&dev, &OnItemRead);
        case Job::ReadAllDept: return EcrReadAllDEPT(&dev, &OnDeptRead);
        case Job::ReadSale: return EcrReadSale(&dev, &OnSale);
        case Job::ClearSale: return EcrClearSale(&dev, &OnSale);
        case Job::PgmPlu: return EcrPgmPLU(&dev, items, count, &OnItemProgram);
        case Job::UpdatePlu: return EcrUpDatePLU(&dev, items, count, &OnItemProgram);
        case Job::DelPlu: return EcrDelPLU(&dev, items, count, &OnItemProgram);
        default: return EcrPgmDEPT(&dev, a.depts.data(), count, &OnDeptProgram);
        }
    }

    Outcome Await(int boundMs) {
        Outcome o;
        const int64_t start = NowMs();
        o.done = WaitEcrDone(boundMs);
        o.ms = NowMs() - start;
        if (!o.done) {   // never leave a job running behind the test
            EcrBreakJob();
            WaitEcrDone(10000);
        }
        o.error = EcrError();
        o.succeeded = Host().CountEvents(ECR_EVENT_SUCCEEDED);
        o.failed = Host().CountEvents(ECR_EVENT_FAILED);
        return o;
    }

    // The job ended, and it reported either success or a failure with a code.
    void ExpectHonestEnd(const Outcome& o) {
        EXPECT_TRUE(o.done) << "the job did not end";
        EXPECT_EQ(o.succeeded + o.failed, 1);
        if (o.failed) {
            EXPECT_NE(o.error, 0);
        }
        EXPECT_EQ(Host().CountEvents(ECR_EVENT_CLOSED), 1);
        EXPECT_EQ(g_malformed.load(), 0);
        for (const HostConfirm& c : Host().Confirmations()) {
            EXPECT_NE(c.code, 0);
            EXPECT_FALSE(c.text.empty());
            EXPECT_NE(c.code, -7);   // a break confirms nothing
        }
    }

    // What the host was handed matches the device: all of it when the job
    // succeeded, a leading part when it failed; programmed items that were
    // not refused are on the device as sent.
    void ExpectTruth(const TypeInfo& t, Job j, const DeviceState& s, const HostArrays& a, bool ok) {
        switch (j) {
        case Job::ReadPlu:
        case Job::ReadAllPlu: {
            std::vector<GenPlu> want;
            if (j == Job::ReadPlu) {
                for (const EcrItemRecord& it : a.items)
                    if (const GenPlu* g = s.Find(it.number)) want.push_back(*g);
            } else {
                want = s.plus;   // numbered from 1 without a gap
            }
            auto got = Host().Items();
            for (size_t i = 0; i < Handed(got.size(), want.size(), ok); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(got[i].number, want[i].number);
                EXPECT_EQ(std::string(got[i].name), want[i].name);
                EXPECT_EQ(std::string(got[i].code), t.barcode ? want[i].barcode : std::string());
                const double price = got[i].price;   // packed field: copied first
                EXPECT_EQ(price, static_cast<double>(want[i].price) / 100.0);
                EXPECT_EQ(got[i].department, want[i].dept);
            }
            break;
        }
        case Job::ReadAllDept: {
            std::vector<GenDept> want;
            for (uint32_t d = 1; d <= t.depts; ++d) {
                GenDept g;
                g.number = d;
                for (const GenDept& x : s.depts)
                    if (x.number == d) g = x;
                if (g.tax != 0 || t.type == 40) want.push_back(g);
            }
            auto got = Host().Depts();
            for (size_t i = 0; i < Handed(got.size(), want.size(), ok); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(got[i].number, want[i].number);
                EXPECT_EQ(std::string(got[i].name), want[i].name);
                EXPECT_EQ(got[i].vat_group, want[i].tax);
                const double amount = got[i].price;
                EXPECT_EQ(amount, static_cast<double>(want[i].amount) / 100.0);
                EXPECT_EQ(got[i].flags, want[i].flag == '1' ? 1u : 0u);
            }
            break;
        }
        case Job::ReadSale:
        case Job::ClearSale: {
            auto got = Host().Sales();
            for (size_t i = 0; i < Handed(got.size(), s.sales.size(), ok); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(got[i].sale.plu, s.sales[i].plu);
                EXPECT_EQ(got[i].item.number, s.sales[i].plu);
                const double quantity = got[i].sale.quantity, value = got[i].sale.value;
                EXPECT_EQ(quantity, static_cast<double>(s.sales[i].quantity) / 1000.0);
                EXPECT_EQ(value, static_cast<double>(s.sales[i].value) / 100.0);
            }
            break;
        }
        case Job::PgmPlu:
        case Job::UpdatePlu:
        case Job::DelPlu: {
            auto conf = Host().Confirmations();
            const size_t handled = Host().EventsWithCode(ECR_EVENT_ITEM).size();
            for (size_t i = 0; i < a.items.size() && i < handled; ++i) {
                const EcrItemRecord& it = a.items[i];
                bool refused = std::any_of(conf.begin(), conf.end(), [&](const HostConfirm& c) {
                    return std::memcmp(&c.item, &it, sizeof it) == 0;
                });
                if (refused) continue;
                if (!ok && i + 1 == handled) continue;   // the item the failure ended on
                SCOPED_TRACE(it.number);
                if (j == Job::DelPlu) {
                    EXPECT_FALSE(m_emu->HasPlu(it.number));
                    continue;
                }
                ASSERT_TRUE(m_emu->HasPlu(it.number));
                DsaEmuPlu p = m_emu->Plu(it.number);
                EXPECT_EQ(p.name, DsaEmulator::DeviceText(SentText(it.name, sizeof it.name, 16, false)));
                EXPECT_EQ(p.price, static_cast<uint64_t>(std::floor(it.price * 100.0 + 0.1)));
                EXPECT_EQ(p.dept, it.department);
                if (t.barcode) {
                    EXPECT_EQ(p.barcode, SentText(it.code, sizeof it.code, 13, true));
                }
            }
            break;
        }
        case Job::PgmDept: {
            auto conf = Host().Confirmations();
            const size_t handled = Host().EventsWithCode(ECR_EVENT_ITEM).size();
            for (size_t i = 0; i < a.depts.size() && i < handled; ++i) {
                const EcrDeptRecord& d = a.depts[i];
                bool refused = std::any_of(conf.begin(), conf.end(), [&](const HostConfirm& c) {
                    return c.number == d.number;
                });
                if (refused || (!ok && i + 1 == handled)) continue;
                SCOPED_TRACE(d.number);
                DsaEmuDept e = m_emu->Dept(d.number);
                EXPECT_EQ(e.name, DsaEmulator::DeviceText(SentText(d.name, sizeof d.name, 16, false)));
                EXPECT_EQ(e.amount, static_cast<uint64_t>(std::floor(d.price * 100.0 + 0.1)));
                EXPECT_EQ(e.tax, d.vat_group);
                EXPECT_EQ(e.flag, d.flags == 1 ? '1' : '0');
            }
            break;
        }
        }
    }

    // The host's arrays for a job on this state.
    HostArrays Arrays(Rng& rng, const TypeInfo& t, Job j, const DeviceState& s) {
        HostArrays a;
        const size_t n = Uniform(rng, 1, 6);
        for (size_t i = 0; i < n; ++i) {
            uint32_t number = RandomPluNumber(rng, t);
            const bool taken = std::any_of(a.items.begin(), a.items.end(),
                                           [&](const EcrItemRecord& it) { return it.number == number; });
            if (taken && j != Job::ReadPlu && j != Job::DelPlu) continue;
            if (j == Job::ReadPlu || j == Job::DelPlu) {
                if (!s.plus.empty() && Uniform(rng, 0, 2)) number = s.plus[Uniform(rng, 0, s.plus.size() - 1)].number;
                a.items.push_back(HostItemRecord({.number = number}));
            } else {
                a.items.push_back(HostItem(RandomPlu(rng, t, number)));
            }
            EcrDeptRecord d{};
            d.number = static_cast<uint32_t>(Uniform(rng, 1, std::max<uint32_t>(t.depts, 1)));
            if (std::any_of(a.depts.begin(), a.depts.end(), [&](const EcrDeptRecord& x) { return x.number == d.number; }))
                d.number = 0;   // programmed once only; 0 is refused without traffic
            std::string name = RandomName(rng, 16);
            std::memcpy(d.name, name.data(), name.size());
            d.vat_group = static_cast<uint32_t>(Uniform(rng, 1, 7));
            d.price = static_cast<double>(Uniform(rng, 0, 999999999)) / 100.0;
            d.flags = static_cast<uint32_t>(Uniform(rng, 0, 1));
            a.depts.push_back(d);
        }
        return a;
    }

    // Upper bound of a job's run time: each exchange, however spoilt, is
    // bounded by its time-outs and retries (about 1.4 s at this time scale
    // when every attempt is spent); programming adds its pauses.
    static int BoundMs(Job j, const DeviceState& s, const HostArrays& a) {
        int exchanges = 2;
        switch (j) {
        case Job::ReadPlu: exchanges += static_cast<int>(a.items.size()); break;
        case Job::ReadAllPlu: exchanges += static_cast<int>(s.plus.size()); break;
        case Job::ReadAllDept: exchanges += 40; break;
        case Job::ReadSale:
        case Job::ClearSale: exchanges += static_cast<int>(s.sales.size()) + 2; break;
        case Job::PgmPlu:
        case Job::UpdatePlu: exchanges += 4 * static_cast<int>(a.items.size()); break;
        default: exchanges += static_cast<int>(std::max(a.items.size(), a.depts.size())); break;
        }
        return 3000 + 1500 * exchanges;
    }
};

// ---------------------------------------------------------------- tests

TEST_F(DsaRobust, HostileLineNeverLiesAndNeverHangs) {
    const Job jobs[] = {Job::ReadPlu, Job::ReadAllPlu, Job::ReadAllDept, Job::ReadSale, Job::ClearSale,
                        Job::PgmPlu,  Job::UpdatePlu,  Job::DelPlu,      Job::PgmDept};
    int runs = 0, successes = 0;
    int64_t slowest = 0;
    for (const TypeInfo& t : kTypes) {
        for (Job j : jobs) {
            if (!Served(t, j)) continue;
            for (uint32_t seed = 1; seed <= 3; ++seed) {
                const uint32_t s0 = static_cast<uint32_t>(t.type) * 1000u + static_cast<uint32_t>(j) * 10u + seed;
                SCOPED_TRACE(std::string(JobName(j)) + " type " + std::to_string(t.type) + " seed " +
                             std::to_string(s0));
                Rng rng(s0);
                DeviceState state = StartLoaded(rng, t, j == Job::ReadAllPlu);
                DsaEmulator& emu = *m_emu;
                auto line = std::make_shared<HostileLine>(s0, seed == 1 ? 8 : (seed % 3 == 2 ? 50 : 25));
                emu.SetMangler([line](char kind, const Bytes& b) { return line->Mangle(kind, b); });
                HostArrays arrays = Arrays(rng, t, j, state);
                const EcrDeviceRecord dev = Device(t);
                ASSERT_EQ(Start(j, dev, arrays), 1);
                Outcome o = Await(BoundMs(j, state, arrays));
                ExpectHonestEnd(o);
                const bool ok = o.succeeded == 1;
                ExpectTruth(t, j, state, arrays, ok);
                EXPECT_EQ(emu.NaksSent(), 0);   // every request frame was well-formed
                ++runs;
                successes += ok;
                slowest = std::max(slowest, o.ms);
                StopDevice();
            }
        }
    }
    // The line spoils enough to fail some jobs but not all of them.
    EXPECT_GT(successes, runs / 5);
    EXPECT_LT(successes, runs);
    std::printf("hostile line: %d runs, %d succeeded, slowest %lld ms\n", runs, successes,
                static_cast<long long>(slowest));
}


// A device that hangs up at a random moment: the job ends with a failure
// (or had already succeeded), and what it handed over is true.
TEST_F(DsaRobust, DeviceHangingUpEndsTheJob) {
    const Job jobs[] = {Job::ReadPlu, Job::ReadAllDept, Job::ClearSale, Job::PgmPlu, Job::DelPlu, Job::PgmDept};
    int failures = 0;
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        Rng rng(seed * 7919u);
        Run run = NewRun(rng, jobs, seed);
        SCOPED_TRACE(run.trace);
        const TypeInfo& t = run.t;
        const Job j = run.j;
        DeviceState& state = run.state;
        DsaEmulator& emu = *m_emu;
        emu.SetMangler([](char kind, const Bytes& b) {
            // Chunked frames keep the job running long enough to be cut.
            if (kind == 'A') return std::vector<Piece>{{0, b}};
            const size_t half = b.size() / 2;
            return std::vector<Piece>{{1, Bytes(b.begin(), b.begin() + static_cast<long>(half))},
                                      {1, Bytes(b.begin() + static_cast<long>(half), b.end())}};
        });
        HostArrays arrays = Arrays(rng, t, j, state);
        const EcrDeviceRecord dev = Device(t);
        ASSERT_EQ(Start(j, dev, arrays), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(Uniform(rng, 0, 40)));
        emu.Disconnect();
        Outcome o = Await(BoundMs(j, state, arrays));
        ExpectHonestEnd(o);
        ExpectTruth(t, j, state, arrays, o.succeeded == 1);
        failures += o.failed;
        StopDevice();
    }
    EXPECT_GT(failures, 0);
}

// A host breaking off at a random moment: every wait ends within 50 ms, the
// job reports -7, and no item is confirmed for the break.
TEST_F(DsaRobust, BreakAtRandomMomentsEndsTheJobAtOnce) {
    const Job jobs[] = {Job::ReadPlu, Job::ReadAllDept, Job::ReadSale, Job::ClearSale,
                        Job::PgmPlu,  Job::UpdatePlu,   Job::DelPlu,   Job::PgmDept};
    int broken = 0;
    int64_t slowest = 0;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Rng rng(seed * 104729u);
        Run run = NewRun(rng, jobs, seed);
        SCOPED_TRACE(run.trace);
        // Long jobs that cannot end before the break: many sale lines, items
        // and departments, every reply late, now and then none at all (a
        // long wait) or one in pieces.
        for (uint32_t i = 0; i < 40; ++i) run.state.sales.push_back({i + 1, 1000, 100});
        m_emu->SetSales(run.state.sales);
        auto slow = std::make_shared<Rng>(seed);
        m_emu->SetMangler([slow](char kind, const Bytes& b) {
            if (kind == 'A') return std::vector<Piece>{{0, b}};
            switch (Uniform(*slow, 0, 9)) {
            case 0: return std::vector<Piece>{};
            case 1: {
                const long half = static_cast<long>(b.size() / 2);
                return std::vector<Piece>{{4, Bytes(b.begin(), b.begin() + half)}, {4, Bytes(b.begin() + half, b.end())}};
            }
            default: return std::vector<Piece>{{8, b}};
            }
        });
        HostArrays arrays = Arrays(rng, run.t, run.j, run.state);
        const size_t given = arrays.items.size();
        while (arrays.items.size() < 40) {
            const EcrItemRecord copy = arrays.items[arrays.items.size() % given];
            arrays.items.push_back(copy);
        }
        while (arrays.depts.size() < 40) {
            EcrDeptRecord d = arrays.depts[0];
            d.number = static_cast<uint32_t>(arrays.depts.size() % run.t.depts + 1);
            arrays.depts.push_back(d);
        }
        const EcrDeviceRecord dev = Device(run.t);
        ASSERT_EQ(Start(run.j, dev, arrays), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(Uniform(rng, 0, 60)));
        if (EcrIsDone()) {
            Await(1000);
            StopDevice();
            continue;
        }
        const int64_t at = NowMs();
        EcrBreakJob();
        Outcome o = Await(5000);
        const int64_t took = NowMs() - at;
        slowest = std::max(slowest, took);
        EXPECT_LE(took, 50 + 100) << "the break took " << took << " ms";   // 100 ms for a loaded machine
        ExpectHonestEnd(o);
        EXPECT_EQ(o.error, -7);
        EXPECT_EQ(o.failed, 1);
        ++broken;
        StopDevice();
    }
    EXPECT_GT(broken, 30);
    std::printf("random breaks: %d broken, slowest %lld ms\n", broken, static_cast<long long>(slowest));
}

// A host that breaks off inside one of its callbacks: nothing more goes to
// the register, not even the next item's request.
TEST_F(DsaRobust, BreakInsideAHostCallbackSendsNothingMore) {
    struct Case {
        const char* what;
        int type;
        Job job;
        bool inProgress;   // break at the second item's progress event instead
        size_t requests;   // requests the device sees in all
    };
    const Case cases[] = {
        {"item read", 37, Job::ReadPlu, false, 1},
        {"department read", 15, Job::ReadAllDept, false, 1},
        {"sale line", 14, Job::ReadSale, false, 1},
        {"confirmation of a refused item", 37, Job::PgmPlu, false, 0},
        {"confirmation of a refused department", 40, Job::PgmDept, false, 0},
        {"progress of the second item", 40, Job::DelPlu, true, 1},
        {"progress of the second department", 13, Job::PgmDept, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TypeInfo& t = *std::find_if(std::begin(kTypes), std::end(kTypes),
                                          [&](const TypeInfo& x) { return x.type == c.type; });
        DsaEmulator& emu = StartDevice(t.model);
        DeviceState state;
        for (uint32_t p = 1; p <= 3; ++p) state.plus.push_back({p, "Towar", 100 * p, 1, '0', 0, ""});
        for (uint32_t d = 1; d <= 3; ++d) state.depts.push_back({d, "Dzial", 0, '0', 1});
        state.sales = {{1, 1000, 100}, {2, 1000, 100}, {3, 1000, 100}};
        Load(emu, state);
        HostArrays a;
        for (uint32_t p = 1; p <= 3; ++p) a.items.push_back(HostItem(state.plus[p - 1]));
        for (uint32_t d = 1; d <= 3; ++d) {
            EcrDeptRecord r{};
            r.number = d;
            r.vat_group = 1;
            a.depts.push_back(r);
        }
        if (!c.inProgress) {
            a.items[0].price = -1.0;   // refused before its traffic
            a.depts[0].vat_group = 0;
            g_breakInCallback = true;
        } else {
            auto seen = std::make_shared<int>(0);
            Host().SetEventHook([seen](const HostEvent& e) {
                if (e.code == ECR_EVENT_ITEM && ++*seen == 2) EcrBreakJob();
            });
        }
        const EcrDeviceRecord dev = Device(t);
        ASSERT_EQ(Start(c.job, dev, a), 1);
        Outcome o = Await(10000);
        ExpectHonestEnd(o);
        EXPECT_EQ(o.error, -7);
        EXPECT_EQ(emu.Requests().size(), c.requests);
        StopDevice();
    }
}

// Odd host values: each item is refused with its range code before any
// traffic, or it reaches the register whole, in well-formed frames (texts
// cut to their fields, control bytes sent as blanks, nothing unterminated
// read past its array).
TEST_F(DsaRobust, OddHostValuesAreRefusedOrSentWhole) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct ItemCase {
        uint32_t number;
        const char* name;   // null: 48 bytes without a terminator
        const char* code;   // null: 32 bytes without a terminator
        double price;
        uint32_t dept;
        int expect37;       // code on type 37; 0 accepted
    };
    const ItemCase items[] = {
        {1, nullptr, nullptr, 1.0, 1, 0},
        {2, "\x02" "01V4066" "\x03" "x\x06\x15\x7F\xFF", "12\x03" "45", 1.0, 1, 0},
        {3, "NaN", "", nan, 1, 109},
        {4, "inf", "", inf, 1, 109},
        {5, "-inf", "", -inf, 1, 109},
        {6, "-0", "", -0.0, 1, 0},
        {7, "huge", "", 1e300, 1, 109},
        {8, "top", "", 9999999.99, 1, 0},
        {9, "over", "", 10000000.0, 1, 109},
        {10, "tiny", "", std::numeric_limits<double>::denorm_min(), 1, 0},
        {11, "-tiny", "", -1e-300, 1, 109},
        {0, "zero", "", 1.0, 1, 105},
        {0xFFFFFFFFu, "max", "", 1.0, 1, 105},
        {4500, "last", "", 1.0, 1, 0},
        {4501, "past", "", 1.0, 1, 105},
        {12, "dept 0", "", 1.0, 0, 110},
        {13, "dept max", "", 1.0, 0xFFFFFFFFu, 110},
        {14, "dept 20", "", 1.0, 20, 0},
        {15, "dept 21", "", 1.0, 21, 110},
        {16, "spaces", " 123 ", 1.0, 1, 0},
    };
    struct DeptCase {
        uint32_t number;
        const char* name;
        uint32_t tax;
        double amount;
        uint32_t flags;
        int expect;
    };
    const DeptCase depts[] = {
        {1, nullptr, 1, 0.0, 0, 0},
        {2, "\x02" "01V4065" "\x03\x06\x7F", 1, 0.0, 1, 0},
        {3, "NaN", 1, nan, 0, 109},
        {4, "-0", 1, -0.0, 0, 0},
        {5, "inf", 1, inf, 0, 109},
        {6, "top", 1, 9999999.99, 0, 0},
        {7, "over", 1, 1e7, 0, 109},
        {8, "tax 0", 0, 0.0, 0, 103},
        {9, "tax 8", 8, 0.0, 0, 103},
        {10, "tax max", 0xFFFFFFFFu, 0.0, 0, 103},
        {0, "zero", 1, 0.0, 0, 110},
        {21, "21", 1, 0.0, 0, 110},
        {0xFFFFFFFFu, "max", 1, 0.0, 0, 110},
        {11, "-1", 1, -1.0, 0, 109},
        {12, "flags", 1, 0.0, 0xFFFFFFFFu, 0},
        {20, "tiny", 1, 1e-320, 0, 0},
    };
    for (int type : {37, 15, 40, 14, 109}) {
        SCOPED_TRACE(type);
        const TypeInfo& t = *std::find_if(std::begin(kTypes), std::end(kTypes),
                                          [&](const TypeInfo& x) { return x.type == type; });
        DsaEmulator& emu = StartDevice(t.model);
        HostArrays a;
        for (const ItemCase& c : items) {
            EcrItemRecord it = HostItemRecord({.number = c.number, .price = c.price, .dept = c.dept});
            if (c.name) std::strncpy(it.name, c.name, sizeof it.name - 1);
            else std::memset(it.name, 'A', sizeof it.name);
            if (c.code) std::strncpy(it.code, c.code, sizeof it.code - 1);
            else std::memset(it.code, '1', sizeof it.code);
            a.items.push_back(it);
        }
        for (const DeptCase& c : depts) {
            EcrDeptRecord d{};
            d.number = c.number;
            if (c.name) std::strncpy(d.name, c.name, sizeof d.name - 1);
            else std::memset(d.name, 'B', sizeof d.name);
            d.vat_group = c.tax;
            d.price = c.amount;
            d.flags = c.flags;
            a.depts.push_back(d);
        }
        const EcrDeviceRecord dev = Device(t);
        for (Job j : {Job::PgmPlu, Job::PgmDept}) {
            SCOPED_TRACE(JobName(j));
            Host().Reset();
            emu.ClearLog();
            g_malformed = 0;
            ASSERT_EQ(Start(j, dev, a), 1);
            Outcome o = Await(20000);
            ExpectHonestEnd(o);
            EXPECT_EQ(emu.NaksSent(), 0);
            for (const DsaRequest& r : emu.Requests()) {
                for (char ch : r.data) EXPECT_GE(static_cast<uint8_t>(ch), 0x20) << r.command << " " << r.data;
            }
            auto conf = Host().Confirmations();
            if (t.dsp) {   // nothing is programmed on the DSP 500
                EXPECT_EQ(conf.size(), j == Job::PgmPlu ? a.items.size() : 0u);
                EXPECT_TRUE(emu.Requests().empty());
                continue;
            }
            if (type == 37) {
                std::vector<int> want, got;
                if (j == Job::PgmPlu) {
                    for (const ItemCase& c : items)
                        if (c.expect37) want.push_back(c.expect37);
                } else {
                    for (const DeptCase& c : depts)
                        if (c.expect) want.push_back(c.expect);
                }
                for (const HostConfirm& c : conf) got.push_back(c.code);
                EXPECT_EQ(got, want);
            }
            ExpectTruth(t, j, DeviceState{}, a, o.succeeded == 1);
        }
        // Odd line speeds and ports: the job opens or fails with a code.
        for (int baud : {0, -1, 7, 2147483647}) {
            SCOPED_TRACE(baud);
            Host().Reset();
            EcrDeviceRecord odd = dev;
            odd.baud = baud;
            if (EcrReadSale(&odd, &OnSale) == 1) {
                ExpectHonestEnd(Await(20000));
            } else {
                EXPECT_NE(EcrError(), 0);
            }
        }
        for (int port : {0, -1, 17, 1 << 30}) {
            SCOPED_TRACE(port);
            Host().Reset();
            EcrDeviceRecord odd = dev;
            odd.port = port;
            if (EcrReadSale(&odd, &OnSale) == 1) {
                ExpectHonestEnd(Await(20000));
            }
            EXPECT_NE(EcrError(), 0);
        }
        // A negative count fails the job before anything is read or sent.
        Host().Reset();
        emu.ClearLog();
        ASSERT_EQ(EcrPgmPLU(&dev, a.items.data(), -1, &OnItemProgram), 1);
        Outcome o = Await(5000);
        ExpectHonestEnd(o);
        EXPECT_EQ(o.error, -1);
        EXPECT_TRUE(emu.Requests().empty());
        StopDevice();
    }
}

// Line noise in front of a reply, a start byte (STX) among it, is dropped:
// the frame after it is read; a spoilt frame ends with its own code.
TEST_F(DsaRobust, NoiseBeforeAReplyIsDroppedAndSpoiltFramesKeepTheirCode) {
    struct Case {
        const char* what;
        int type;
        Job job;
        int frame;        // the reply frame (from 1) that is spoilt
        std::string noise;  // sent just before it
        bool cut;         // its ETX replaced (the frame runs on)
        bool badSum;      // its checksum wrong
        int error;        // 0: the job succeeds
        bool split = false;   // the frame comes in two halves, a little later
    };
    const Case cases[] = {
        {"sale line after a start byte", 15, Job::ReadSale, 2, "\x02", false, false, 0},
        {"sale line after a false frame start", 15, Job::ReadSale, 2, "\x02" "07V20", false, false, 0},
        {"sale line after two start bytes", 40, Job::ClearSale, 3, "\x02\x02" "ab", false, false, 0},
        {"PLU reply after a start byte", 37, Job::ReadPlu, 1, "\x02" "x", false, false, 0},
        {"DSP 500 PLU reply after a start byte", 109, Job::ReadPlu, 2, "\x02" "0", false, false, 0},
        {"sale line with a bad checksum", 15, Job::ReadSale, 2, "", false, true, 10000},
        {"sale line without its ETX", 14, Job::ReadSale, 2, "", true, false, 10001},
        {"sale line in pieces after noise", 37, Job::ReadSale, 2, "\x02" "a", false, false, 0, true},
        {"PLU reply in pieces after noise", 13, Job::ReadPlu, 3, "\x02\x02", false, false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TypeInfo& t = *std::find_if(std::begin(kTypes), std::end(kTypes),
                                          [&](const TypeInfo& x) { return x.type == c.type; });
        DsaEmulator& emu = StartDevice(t.model);
        DeviceState state;
        for (uint32_t p = 1; p <= 3; ++p) state.plus.push_back({p, "Towar", 100 * p, t.dsp ? 0u : 1u, '0', 0, ""});
        state.sales = {{1, 1000, 100}, {2, 2000, 200}, {3, 3000, 300}};
        Load(emu, state);
        auto frames = std::make_shared<int>(0);
        emu.SetMangler([c, frames](char kind, const Bytes& b) {
            if (kind != 'F' || ++*frames != c.frame) return std::vector<Piece>{{0, b}};
            Bytes f = b;
            if (c.badSum) f[f.size() - 2] = static_cast<uint8_t>(f[f.size() - 2] == '9' ? '0' : f[f.size() - 2] + 1);
            if (c.cut) f.back() = 'X';
            Bytes noise(c.noise.begin(), c.noise.end());
            if (!c.split) return std::vector<Piece>{{0, noise}, {0, f}};
            const long half = static_cast<long>(f.size() / 2);
            return std::vector<Piece>{{0, noise}, {2, Bytes(f.begin(), f.begin() + half)}, {2, Bytes(f.begin() + half, f.end())}};
        });
        HostArrays a;
        for (uint32_t p = 1; p <= 3; ++p) a.items.push_back(HostItemRecord({.number = p}));
        const EcrDeviceRecord dev = Device(t);
        ASSERT_EQ(Start(c.job, dev, a), 1);
        Outcome o = Await(20000);
        ExpectHonestEnd(o);
        EXPECT_EQ(o.succeeded, c.error == 0 ? 1 : 0);
        if (c.error) {
            EXPECT_EQ(o.error, c.error);
        }
        ExpectTruth(t, c.job, state, a, o.succeeded == 1);
        StopDevice();
    }
}

// The DSP 500's goods end at a record it does not hold ("no such data" or
// "not programmed"); any other refusal fails the read instead of passing
// for the end of the goods.
TEST_F(DsaRobust, Dsp500ReadAllEndsOnlyAtAMissingRecord) {
    struct Case {
        int err;      // the register's answer to the second query
        int error;    // 0: the job succeeds
    };
    const Case cases[] = {{18, 0}, {27, 0}, {23, 1023}, {1, 1001}, {33, 1033}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const TypeInfo& t = kTypes[6];
        DsaEmulator& emu = StartDevice(t.model);
        DeviceState state;
        for (uint32_t p = 1; p <= 3; ++p) state.plus.push_back({p, "Towar", 100 * p, 0, '0', 0, ""});
        Load(emu, state);
        auto frames = std::make_shared<int>(0);
        emu.SetMangler([c, frames](char kind, const Bytes& b) {
            if (kind != 'F' || ++*frames != 2) return std::vector<Piece>{{0, b}};
            return std::vector<Piece>{{0, DsaEmulator::Frame(b[1] - '0' + 10 * (b[2] - '0'), "ERR00" + DsaEmulator::Num(static_cast<uint64_t>(c.err), 2))}};
        });
        HostArrays a;
        const EcrDeviceRecord dev = Device(t);
        ASSERT_EQ(Start(Job::ReadAllPlu, dev, a), 1);
        Outcome o = Await(10000);
        ExpectHonestEnd(o);
        EXPECT_EQ(o.succeeded, c.error == 0 ? 1 : 0);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(Host().Items().size(), 1u);
        StopDevice();
    }
}

}  // namespace
}  // namespace orv::test
