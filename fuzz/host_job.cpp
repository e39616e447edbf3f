#include "host_job.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "fakes/recording_host.h"
#include "fuzz_checks.h"
#include "platform/clock.h"

namespace orv::fuzz {

using orv::test::Host;
using orv::test::RecordingHost;

namespace {

EcrItemRecord Goods(uint32_t number, const char* name, const char* code, double price) {
    return orv::test::HostItemRecord(
        {.number = number, .name = name, .code = code, .price = price, .vat = 1, .dept = 1, .unit = 1});
}

EcrUnitRecord Unit(uint32_t number, const char* name) {
    EcrUnitRecord u{};
    u.number = number;
    std::snprintf(u.name, sizeof u.name, "%s", name);
    return u;
}

void Dump() {
    for (const auto& it : Host().Items())
        std::fprintf(stderr, "  item %u code '%s' name '%s' price %.17g\n", it.number, it.code, it.name, it.price);
    for (const auto& s : Host().Sales())
        std::fprintf(stderr, "  sale plu %u code '%s' name '%s' qty %g value %g\n", s.sale.plu, s.sale.code,
                     s.sale.name, s.sale.quantity, s.sale.value);
    for (const auto& d : Host().Depts()) std::fprintf(stderr, "  dept %u '%s'\n", d.number, d.name);
    for (const auto& u : Host().Units()) std::fprintf(stderr, "  unit %u '%s'\n", u.number, u.name);
    auto rates = [](const char* what, const double* r) {
        std::fprintf(stderr, "  %s", what);
        for (int i = 0; i < 8; ++i) std::fprintf(stderr, " %.17g", r[i]);
        std::fprintf(stderr, "\n");
    };
    for (const auto& v : Host().VatCalls()) rates("vat", v.data());
    for (const auto& st : Host().StatusCalls()) rates("status vat", st.vat.data());
    std::fprintf(stderr, "  error %d '%s'\n", EcrError(), EcrErrMsg() ? EcrErrMsg() : "(null)");
}

template <size_t N>
bool Ended(const char (&text)[N]) {
    return Terminated(text);
}

bool WordChar(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

template <size_t N>
bool TextFrom(const char (&text)[N], const std::string& fed) {
    return TextHeld(text, ::strnlen(text, N), fed);
}

}  // namespace

// ASCII passes every code-page conversion unchanged, and trimming or padding
// only touches spaces, so a run the bytes do not hold was made up.
bool TextHeld(const char* text, size_t n, const std::string& fed) {
    for (size_t i = 0; i < n;) {
        if (!WordChar(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < n && WordChar(static_cast<unsigned char>(text[j]))) ++j;
        if (fed.find(text + i, 0, j - i) == std::string::npos) return false;
        i = j;
    }
    return true;
}

std::string ShortestDigits(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v));
    std::string digits;
    for (const char* p = buf; p < r.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return std::string();
    digits.erase(0, first);
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

std::string DigitsOf(const std::string& bytes) {
    std::string digits;
    for (char c : bytes)
        if (c >= '0' && c <= '9') digits += c;
    return digits;
}

bool NumberHeld(double v, const std::string& digits) {
    if (!std::isfinite(v)) return false;
    // Nearer 0 than half a millionth: 0 at any precision a host keeps.
    if (std::fabs(v) < 5e-7) return true;
    for (int frac = 0; frac <= 6; ++frac) {
        const double scaled = std::fabs(v) * std::pow(10.0, frac);
        if (scaled >= 9007199254740992.0) {
            // Beyond 2^53 a double no longer holds every integer: the bytes
            // held at least as many digits.
            const auto len = static_cast<size_t>(std::floor(std::log10(scaled))) + 1;
            return digits.size() >= len;
        }
        const auto n = static_cast<int64_t>(std::llround(scaled));
        if (n == 0 || std::fabs(scaled - static_cast<double>(n)) > 1e-6 * scaled) continue;
        if (digits.find(std::to_string(n)) != std::string::npos) return true;
    }
    // A number written out with more decimals than that: the digits of its
    // shortest form (the one that reads back as the same double).
    const std::string shortest = ShortestDigits(v);
    return !shortest.empty() && digits.find(shortest) != std::string::npos;
}

[[noreturn]] void BrokenJob(const char* what, HostJob job, int type) {
    Dump();
    std::fprintf(stderr, "broken promise (%s, type %d): %s\n", HostJobName(job), type, what);
    std::fflush(stderr);
    std::abort();
}

void ReportStats(HostJob job, int type, const std::string& input) {
    static const bool stats = std::getenv("ORVANTA_FUZZ_STATS") != nullptr;
    if (!stats) return;
    const auto& h = Host();
    std::fprintf(stderr, "stats %s type %d: %s; %zu items, %zu sales, %zu depts, %zu units, %zu confirmations, error %d %s\n",
                 HostJobName(job), type, input.c_str(), h.Items().size(), h.Sales().size(), h.Depts().size(),
                 h.Units().size(), h.Confirmations().size(), EcrError(),
                 EcrError() != 0 && EcrErrMsg() ? EcrErrMsg() : "");
}

const char* HostJobName(HostJob job) {
    static const char* const names[] = {"read-vat",        "read-status",       "program-goods", "update-goods",
                                        "program-barcodes", "read-goods-by-list", "read-all-goods", "read-sales",
                                        "clear-sales",     "read-all-depts",    "program-depts", "read-all-units",
                                        "program-units",   "delete-goods"};
    const auto i = static_cast<size_t>(job);
    return i < std::size(names) ? names[i] : "?";
}

const EcrItemRecord& HostItem(int i) {
    static const EcrItemRecord items[kHostItems] = {Goods(1, "Chleb", "5901234123457", 3.5),
                                                    Goods(2, "Mleko 2%", "", 2.99),
                                                    Goods(3, "Kawa ziarnista Arabica 1kg", "20000", 45.0)};
    return items[i];
}

HostJob PickJob(uint8_t byte) { return static_cast<HostJob>(byte % static_cast<uint8_t>(HostJob::Count)); }

bool RunHostJob(HostJob job, EcrDeviceRecord dev, int wallMillis) {
    static bool created = (EcrCreate(nullptr), true);
    (void)created;
    EcrItemRecord items[kHostItems];
    for (int i = 0; i < kHostItems; ++i) items[i] = HostItem(i);
    EcrDeptRecord depts[3] = {orv::test::HostDeptRecord({.number = 1, .name = "Pieczywo", .vat = 1}),
                              orv::test::HostDeptRecord({.number = 2, .name = "Nabiał", .vat = 2}),
                              orv::test::HostDeptRecord({.number = 3, .name = "Kawa i herbata", .vat = 1})};
    EcrUnitRecord units[3] = {Unit(1, "szt"), Unit(2, "kg"), Unit(3, "l")};
    Host().Reset();
    dev.progress = RecordingHost::OnProgress;
    orv::platform::SetTimeScale(0.0);
    int started = 0;
    switch (job) {
    case HostJob::ReadVat: started = EcrReadVAT(&dev, RecordingHost::OnVat); break;
    case HostJob::ReadStatus: started = EcrReadStatus(&dev, RecordingHost::OnStatus); break;
    case HostJob::ProgramGoods: started = EcrPgmPLU(&dev, items, 3, RecordingHost::OnItemProgram); break;
    case HostJob::UpdateGoods: started = EcrUpDatePLU(&dev, items, 3, RecordingHost::OnItemProgram); break;
    case HostJob::ProgramBarcodes: started = EcrPgmExBarcode(&dev, items, 3, RecordingHost::OnItemProgram); break;
    case HostJob::ReadGoodsByList: started = EcrReadPLU(&dev, items, 3, RecordingHost::OnItemRead); break;
    case HostJob::ReadAllGoods: started = EcrReadAllPLU(&dev, RecordingHost::OnItemRead); break;
    case HostJob::ReadSales: started = EcrReadSale(&dev, RecordingHost::OnSale); break;
    case HostJob::ClearSales: started = EcrClearSale(&dev, RecordingHost::OnSale); break;
    case HostJob::ReadAllDepts: started = EcrReadAllDEPT(&dev, RecordingHost::OnDeptRead); break;
    case HostJob::ProgramDepts: started = EcrPgmDEPT(&dev, depts, 3, RecordingHost::OnDeptProgram); break;
    case HostJob::ReadAllUnits: started = EcrReadAllUnit(&dev, RecordingHost::OnUnitRead); break;
    case HostJob::ProgramUnits: started = EcrPgmUNIT(&dev, units, 3, RecordingHost::OnUnitProgram); break;
    case HostJob::DeleteGoods: started = EcrDelPLU(&dev, items, 3, RecordingHost::OnItemProgram); break;
    case HostJob::Count: break;
    }
    if (started && !orv::test::WaitEcrDone(wallMillis, std::chrono::microseconds(20)))
        BrokenJob("the job did not end in time", job, dev.type);
    return started != 0;
}

void CheckHostPromises(HostJob job, int type, bool mustFail) {
    const int error = EcrError();
    const char* msg = EcrErrMsg();
    if (error != 0 && (msg == nullptr || msg[0] == '\0')) BrokenJob("a failed job without a text", job, type);
    if (error == 0 && mustFail) BrokenJob("a job succeeded where every call failed", job, type);
    if (error == -7) BrokenJob("a job nobody broke off ended as broken off", job, type);
    for (const auto& c : Host().Confirmations()) {
        if (c.code != 0 && c.text.empty()) BrokenJob("a failed item without a text", job, type);
        if (!Ended(c.item.code) || !Ended(c.item.name) || !Ended(c.dept.name) || !Ended(c.unit.name))
            BrokenJob("a confirmed record with an unterminated text", job, type);
    }
    for (const auto& it : Host().Items())
        if (!Ended(it.code) || !Ended(it.name) || !Ended(it.code2))
            BrokenJob("a read item with an unterminated text", job, type);
    for (const auto& s : Host().Sales())
        if (!Ended(s.item.code) || !Ended(s.item.name) || !Ended(s.sale.text) || !Ended(s.sale.code) ||
            !Ended(s.sale.name))
            BrokenJob("a sale with an unterminated text", job, type);
    for (const auto& d : Host().Depts())
        if (!Ended(d.name)) BrokenJob("a department with an unterminated text", job, type);
    for (const auto& u : Host().Units())
        if (!Ended(u.name)) BrokenJob("a unit with an unterminated text", job, type);
    for (const auto& s : Host().StatusCalls()) {
        const EcrStatusRecord& r = s.status;
        if (!Ended(r.device_text) || !Ended(r.text2) || !Ended(r.unique_number) || !Ended(r.date) ||
            !Ended(r.time) || !Ended(r.information))
            BrokenJob("a status with an unterminated text", job, type);
    }
    for (const auto& e : Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR))
        if (e.value == 0) BrokenJob("an error event without a code", job, type);
}

void CheckRecordsFrom(HostJob job, int type, const std::string& fed) {
    const std::string digits = DigitsOf(fed);
    const auto items = Host().Items();
    const auto sales = Host().Sales();
    const auto depts = Host().Depts();
    const auto units = Host().Units();
    // (A source may well say that no VAT rate is defined, or leave a status
    // text empty: only records stand for something it must have handed back.)
    if (fed.empty() && (!items.empty() || !sales.empty() || !depts.empty() || !units.empty()))
        BrokenJob("a record handed on from a source that handed back nothing", job, type);
    auto text = [&](const auto& t, const char* what) {
        if (!TextFrom(t, fed)) BrokenJob(what, job, type);
    };
    // A number that is no number (NaN, infinite) only where the source
    // handed one back (written out as "nan" or "inf").
    auto number = [&](double v, const char* what) {
        const bool held = std::isfinite(v) ? NumberHeld(v, digits)
                                           : fed.find(std::isnan(v) ? "nan" : "inf") != std::string::npos;
        if (!held) BrokenJob(what, job, type);
    };
    for (const auto& it : items) {
        text(it.name, "a read item's name the source did not hand back");
        text(it.code, "a read item's code the source did not hand back");
        number(it.number, "a read item's number the source did not hand back");
        number(it.price, "a read item's price the source did not hand back");
    }
    for (const auto& s : sales) {
        text(s.item.name, "a sale's name the source did not hand back");
        text(s.sale.name, "a sale's name the source did not hand back");
        text(s.item.code, "a sale's code the source did not hand back");
        text(s.sale.code, "a sale's code the source did not hand back");
        number(s.sale.plu, "a sale's number the source did not hand back");
        number(s.sale.quantity, "a sale's quantity the source did not hand back");
        number(s.sale.value, "a sale's value the source did not hand back");
        number(s.item.price, "a sale's price the source did not hand back");
    }
    for (const auto& d : depts) {
        text(d.name, "a department's name the source did not hand back");
        number(d.number, "a department's number the source did not hand back");
    }
    for (const auto& u : units) {
        text(u.name, "a unit's name the source did not hand back");
        number(u.number, "a unit's number the source did not hand back");
    }
    auto rate = [&](double r) {
        if (r != -3.0 && r != -1.0) number(r, "a VAT rate the source did not hand back");
    };
    for (const auto& v : Host().VatCalls())
        for (double r : v) rate(r);
    for (const auto& st : Host().StatusCalls()) {
        for (double r : st.vat) rate(r);
        text(st.status.device_text, "a status text the source did not hand back");
        text(st.status.date, "a status date the source did not hand back");
        text(st.status.time, "a status time the source did not hand back");
    }
}

}  // namespace orv::fuzz
