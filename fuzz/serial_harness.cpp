#include "serial_harness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>


#include "fakes/fake_hid_device.h"
#include "fakes/fake_serial_device.h"
#include "fuzz_checks.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "platform/clock.h"
#include "sim/emulator_base.h"
#include "tcp_peer.h"

namespace orv::fuzz {

using orv::test::FakeSerialLine;
using orv::test::Host;
using orv::test::RecordingHost;

namespace {

// Waits for input the library may make once the answers are used up before
// the job counts as hung (the item loop gives up after three silent items).
constexpr int kWaitsAfterAnswers = 400;
constexpr int kJobWallMillis = 20000;
// TCP: the answers come from another thread over a real socket, so the
// library's waits must last long enough to see them: a 10-second wait takes
// 5 ms.
constexpr double kTcpTimeScale = 0.0005;

// What the job handed the host, for a look at a failing input.
void DumpRecords() {
    for (const auto& it : Host().Items())
        std::fprintf(stderr, "  item %u code '%s' name '%s' price %.17g vat %g/%u\n", it.number, it.code, it.name,
                     it.price, it.vat_rate, it.vat_group);
    for (const auto& s : Host().Sales())
        std::fprintf(stderr, "  sale plu %u code '%s' name '%s' qty %.17g value %.17g (item %u '%s' '%s')\n", s.sale.plu,
                     s.sale.code, s.sale.name, s.sale.quantity, s.sale.value, s.item.number, s.item.code, s.item.name);
}

[[noreturn]] void Broken(const char* what, SerialJob job, int type) {
    DumpRecords();
    std::fprintf(stderr, "broken promise (%s, type %d): %s\n", JobName(job), type, what);
    std::fflush(stderr);
    std::abort();
}

bool ItemTerminated(const EcrItemRecord& it) {
    return Terminated(it.code) && Terminated(it.name) && Terminated(it.code2);
}

std::shared_ptr<FakeSerialLine>& Line() {
    static std::shared_ptr<FakeSerialLine> line = [] {
        KeepJobFilesInMemory();
        EcrCreate(nullptr);
        return FakeSerialLine::Create();
    }();
    return line;
}

// The scripted HID bus with the Medesa bus controller on it, for the USB
// families.
orv::test::FakeHidBus& HidBus() {
    static orv::test::FakeHidBus* bus = [] {
        auto* b = new orv::test::FakeHidBus;
        b->AddDevice("/dev/hidraw0", "US-BUS CONTROLLER");
        return b;
    }();
    return *bus;
}

// The register's end of the TCP families' connections (the port the
// library connects to).
LoopbackPeer& TcpPeer() {
    static LoopbackPeer* peer = [] {
        auto* p = new LoopbackPeer(5001);
        if (!p->Start()) {
            std::fprintf(stderr, "cannot listen on the loopback address\n");
            std::abort();
        }
        return p;
    }();
    return *peer;
}

// Every byte the library sent the device during the job.
Bytes Written(const SerialFamily& family) {
    if (family.usb) {
        Bytes all;
        for (const Bytes& r : HidBus().Reports()) all.insert(all.end(), r.begin(), r.end());
        return all;
    }
    return family.tcp ? TcpPeer().Written() : Line()->Written();
}

}  // namespace

orv::test::FakeHidBus& UsbBus() { return HidBus(); }

namespace {

// Whether the job asked the device anything.
bool Asked(const SerialFamily& family) {
    return !Written(family).empty();
}

EcrItemRecord Goods(uint32_t number, const char* name, const char* code, double price, uint32_t days = 0) {
    EcrItemRecord item = orv::test::HostItemRecord(
        {.number = number, .name = name, .code = code, .price = price, .vat = 1, .dept = 1, .unit = 1});
    item.word152 = days;
    return item;
}

// The host's goods every job that takes items is given.
// The last one has a shelf life in days (scales refuse goods with neither a
// day count nor a date).
const EcrItemRecord (&HostItems())[3] {
    static const EcrItemRecord items[3] = {Goods(1, "Chleb", "5901234123457", 3.5), Goods(2, "Mleko 2%", "", 2.99),
                                           Goods(3, "Kawa ziarnista Arabica 1kg", "20000", 45.0, 10)};
    return items;
}

// Starts the job through the exports; 0 when the library refused it.
int StartJob(SerialJob job, const EcrDeviceRecord* dev, EcrItemRecord* items) {
    switch (job) {
    case SerialJob::ReadVat: return EcrReadVAT(dev, RecordingHost::OnVat);
    case SerialJob::ReadStatus: return EcrReadStatus(dev, RecordingHost::OnStatus);
    case SerialJob::ProgramGoods: return EcrPgmPLU(dev, items, 3, RecordingHost::OnItemProgram);
    case SerialJob::ReadGoodsByList: return EcrReadPLU(dev, items, 3, RecordingHost::OnItemRead);
    case SerialJob::ReadAllGoods: return EcrReadAllPLU(dev, RecordingHost::OnItemRead);
    case SerialJob::ReadSales: return EcrReadSale(dev, RecordingHost::OnSale);
    case SerialJob::ClearSales: return EcrClearSale(dev, RecordingHost::OnSale);
    case SerialJob::Count: break;
    }
    return 0;
}

// Runs the job with the line answered by `feeder`; returns whether it started.
bool RunJob(const SerialFamily& family, SerialJob job, int type, double timeScale, int wallMillis,
            const FakeSerialLine::Feeder& feeder) {
    auto& line = Line();
    line->Install();
    line->ClearRecords();
    if (family.usb) {
        HidBus().ClearReports();
        // A report is always whole: an answer is padded with zeros to its 255 bytes.
        HidBus().SetFeeder([&feeder](const Bytes& report) {
            Bytes a = feeder(report);
            if (!a.empty() && a.size() < 255) a.resize(255, 0);
            return a;
        });
    } else if (family.tcp) {
        TcpPeer().ClearRecords();
        TcpPeer().SetFeeder(feeder);
    } else {
        line->SetFeeder(feeder);
    }
    Host().Reset();
    orv::platform::SetTimeScale(timeScale);

    EcrItemRecord items[3];
    std::copy(std::begin(HostItems()), std::end(HostItems()), items);
    EcrDeviceRecord dev = orv::test::DeviceRecord(type, 1, family.baud, family.kind);
    dev.word7 = family.word7;
    dev.word6 = family.word6;
    if (family.tcp) dev.port = static_cast<int32_t>(TcpPeer().Address());
    const bool started = StartJob(job, &dev, items) != 0;
    if (started && !orv::test::WaitEcrDone(wallMillis, std::chrono::microseconds(20)))
        Broken("the job did not end in time", job, type);
    line->SetFeeder(nullptr);
    if (family.usb) HidBus().SetFeeder(nullptr);
    if (family.tcp) TcpPeer().SetFeeder(nullptr);
    return started;
}

// What the answers fed can give a record: their bytes in one stream (and
// that stream in the register's character set mapped to host text), how many
// pieces a text may join, and the widths of binary numbers.
struct Sources {
    std::vector<Bytes> streams;
    int pieces = 1;
    std::vector<int> widths;
    Bytes digits;   // the ASCII digits of the answers, in order
    std::vector<double> texts;   // every number written out in the answers, as strtod reads it
    std::vector<int64_t> hostNumbers;   // echoing families: the host's item numbers and numeric codes
};

Sources MakeSources(const SerialFamily& family, SerialJob job, const Bytes& fed) {
    Sources src{{fed}, family.textPieces, family.binaryWidths, {}};
    if (family.textMap) src.streams.push_back(family.textMap(fed));
    if (family.echoesRequest && job == SerialJob::ReadGoodsByList) {
        src.streams.push_back(Written(family));
        Bytes host;
        for (const EcrItemRecord& it : HostItems()) {
            for (const char* t : {it.name, it.code}) {
                host.insert(host.end(), t, t + std::strlen(t));
                host.push_back(0);
            }
        }
        src.streams.push_back(host);
        for (const EcrItemRecord& it : HostItems()) {
            const double price = it.price;   // the record is packed
            src.texts.push_back(price);
            // A code written out from the item's number or code, padded
            // with zeros.
            src.hostNumbers.push_back(it.number);
            src.hostNumbers.push_back(std::strtoll(it.code, nullptr, 10));
        }
    }
    for (const Bytes& stream : src.streams)
        for (uint8_t b : stream)
            if (b >= '0' && b <= '9') src.digits.push_back(b);
    // Text protocols write a number out with as many decimals as they like;
    // the library reads it whole, so its value need not round to any digits
    // the answer holds (3.6666...6650 is read as 3.666...67).
    auto numeric = [](uint8_t b) { return (b >= '0' && b <= '9') || b == '.'; };
    for (size_t i = 0; i < fed.size(); ++i) {
        if (!numeric(fed[i]) || (i > 0 && numeric(fed[i - 1]))) continue;
        size_t j = i;
        while (j < fed.size() && numeric(fed[j])) ++j;
        const std::string run(fed.begin() + static_cast<long>(i), fed.begin() + static_cast<long>(j));
        const double v = std::strtod(run.c_str(), nullptr);
        src.texts.push_back(v);
        src.texts.push_back(-v);
    }
    return src;
}

bool Occurs(const Sources& src, const uint8_t* begin, const uint8_t* end) {
    for (const Bytes& s : src.streams)
        if (std::search(s.begin(), s.end(), begin, end) != s.end()) return true;
    return false;
}

// The run is the join of at most `pieces` pieces that occur in the answers
// (the longest piece first: any split's first piece is a prefix of it).
bool Joined(const Sources& src, const uint8_t* begin, const uint8_t* end, int pieces) {
    if (begin == end) return true;
    if (pieces == 0) return false;
    const uint8_t* cut = end;
    while (cut > begin && !Occurs(src, begin, cut)) --cut;
    return cut > begin && Joined(src, cut, end, pieces - 1);
}

// A number the register sent in binary of one of the widths, either byte
// order (two's complement when negative).
bool SentBinary(const Sources& src, int64_t value) {
    for (int w : src.widths) {
        const int64_t lo = w < 8 ? -(int64_t{1} << (8 * w - 1)) : INT64_MIN;
        const uint64_t hi = w < 8 ? (uint64_t{1} << (8 * w)) - 1 : UINT64_MAX;
        if (value < lo || (value > 0 && static_cast<uint64_t>(value) > hi)) continue;
        uint8_t le[8], be[8];
        for (int i = 0; i < w; ++i) le[i] = be[w - 1 - i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
        if (Occurs(src, le, le + w) || Occurs(src, be, be + w)) return true;
    }
    return false;
}

bool AsciiWordChar(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Every run of ASCII letters and digits in the text comes from the answers:
// it occurs there (in one piece or, for families that send a text in parts,
// a few), or, all digits, it is a number sent in binary. Code-page conversion
// leaves ASCII alone and trimming or padding touches only spaces, so a run
// that the answers cannot give was made up or read from the wrong place.
template <size_t N>
bool FromAnswers(const char (&text)[N], const Sources& src) {
    const auto* t = reinterpret_cast<const uint8_t*>(text);
    const size_t n = ::strnlen(text, N);
    for (size_t i = 0; i < n;) {
        if (!AsciiWordChar(t[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        bool digits = true;
        int64_t value = 0;
        for (; j < n && AsciiWordChar(t[j]); ++j) {
            digits = digits && t[j] <= '9' && j - i < 18;   // 18 digits fit in 64 bits
            if (digits) value = value * 10 + (t[j] - '0');
        }
        const bool hostNumber =
            digits && std::find(src.hostNumbers.begin(), src.hostNumbers.end(), value) != src.hostNumbers.end();
        if (!Joined(src, t + i, t + j, src.pieces) && !(digits && SentBinary(src, value)) && !hostNumber) return false;
        i = j;
    }
    return true;
}

// A price, quantity, value or rate the register sent: 0, or a number whose
// digits (in units or down to millionths, without leading zeros) occur among
// the digits of the answers (every other byte left out: the text protocols
// write numbers with a point, padding or spaces among the digits), or that
// occurs in binary of one of the family's widths (in units down to
// thousandths).
bool NumberFromAnswers(double v, const Sources& src) {
    if (!std::isfinite(v)) return false;
    if (v == 0) return true;
    for (double t : src.texts)
        if (std::fabs(t - v) <= 1e-9 * std::max(1.0, std::fabs(v))) return true;
    for (int frac = 0; frac <= 6; ++frac) {
        const double scaled = std::fabs(v * std::pow(10.0, frac));
        if (scaled >= 9007199254740992.0) {
            // Beyond 2^53 a double no longer holds every integer (and the
            // division by a power of ten rounds once more): any run of as
            // many digits that reads as nearly the same double will do.
            const auto len = static_cast<size_t>(std::floor(std::log10(scaled))) + 1;
            for (size_t i = 0; i + len <= src.digits.size(); ++i) {
                const std::string run(src.digits.begin() + static_cast<long>(i),
                                      src.digits.begin() + static_cast<long>(i + len));
                if (std::fabs(std::strtod(run.c_str(), nullptr) - scaled) <= 1e-12 * scaled) return true;
            }
            break;
        }
        const int64_t n = std::llround(scaled);
        if (n == 0 || std::fabs(scaled - static_cast<double>(n)) > 1e-6 * scaled) continue;
        if (frac <= 3 && (SentBinary(src, n) || SentBinary(src, -n))) return true;
        const std::string digits = std::to_string(n);
        const auto* d = reinterpret_cast<const uint8_t*>(digits.data());
        if (std::search(src.digits.begin(), src.digits.end(), d, d + digits.size()) != src.digits.end()) return true;
    }
    return false;
}

// Records read from the register hold what its answers held; a register
// that sent nothing gave no record at all.
void CheckContents(SerialJob job, int type, const Sources& src, bool asked) {
    const bool silent = src.streams.front().empty();
    const auto items = Host().Items();
    const auto sales = Host().Sales();
    if (silent && (!items.empty() || !sales.empty() || !Host().StatusCalls().empty()))
        Broken("a record handed on from a register that sent nothing", job, type);
    for (const auto& it : items) {
        // Registers that key goods by code hand an item back without its
        // number, its code padded with zeros (none: all zeros).
        auto askedCode = [&] {
            auto unpadded = [](const char* c) {
                while (*c == '0') ++c;
                return std::string(c);
            };
            for (const EcrItemRecord& h : HostItems())
                if (unpadded(h.code) == unpadded(it.code)) return true;
            return false;
        };
        if (job == SerialJob::ReadGoodsByList && (it.number < 1 || it.number > 3) && !(it.number == 0 && askedCode()))
            Broken("a read item the host did not ask for", job, type);
        if (!FromAnswers(it.name, src)) Broken("a read item's name the answers did not hold", job, type);
        if (!FromAnswers(it.code, src)) Broken("a read item's code the answers did not hold", job, type);
        if (!NumberFromAnswers(it.price, src)) Broken("a read item's price the answers did not hold", job, type);
    }
    for (const auto& s : sales) {
        if (!FromAnswers(s.sale.name, src) || !FromAnswers(s.item.name, src))
            Broken("a sale's name the answers did not hold", job, type);
        if (!FromAnswers(s.sale.code, src) || !FromAnswers(s.item.code, src))
            Broken("a sale's code the answers did not hold", job, type);
        // Some registers send no sales value: it is the quantity times a
        // price, both of which the answers must hold.
        const bool valueFromPrice = s.sale.quantity != 0 && NumberFromAnswers(s.sale.value / s.sale.quantity, src);
        if (!NumberFromAnswers(s.sale.quantity, src) || !(NumberFromAnswers(s.sale.value, src) || valueFromPrice))
            Broken("a sale's quantity or value the answers did not hold", job, type);
    }
    // VAT rates: undefined (-3), exempt (-1) or a rate the answers held; a
    // register the job does not ask has the rates the library knows for it.
    if (!asked) return;
    auto rateFromAnswers = [&](double r) { return r == -3.0 || r == -1.0 || NumberFromAnswers(r, src); };
    for (const auto& v : Host().VatCalls())
        for (double r : v)
            if (!rateFromAnswers(r)) Broken("a VAT rate the answers did not hold", job, type);
    for (const auto& st : Host().StatusCalls())
        for (double r : st.vat)
            if (!rateFromAnswers(r)) Broken("a status's VAT rate the answers did not hold", job, type);
}

void CheckPromises(SerialJob job, int type, bool answered) {
    const int error = EcrError();
    const char* msg = EcrErrMsg();
    if (error != 0 && (msg == nullptr || msg[0] == '\0')) Broken("a failed job without a text", job, type);
    if (error == 0 && !answered) Broken("a job succeeded with a silent register", job, type);
    if (error == -7) Broken("a job nobody broke off ended as broken off", job, type);
    for (const auto& c : Host().Confirmations()) {
        if (c.code != 0 && c.text.empty()) Broken("a failed item without a text", job, type);
        if (!ItemTerminated(c.item)) Broken("a confirmed item with an unterminated text", job, type);
    }
    for (const auto& it : Host().Items())
        if (!ItemTerminated(it)) Broken("a read item with an unterminated text", job, type);
    for (const auto& s : Host().Sales()) {
        if (!ItemTerminated(s.item)) Broken("a sale's item with an unterminated text", job, type);
        if (!Terminated(s.sale.text)) Broken("a sale with an unterminated text", job, type);
    }
    for (const auto& s : Host().StatusCalls()) {
        const EcrStatusRecord& r = s.status;
        if (!Terminated(r.device_text) || !Terminated(r.text2) || !Terminated(r.unique_number) ||
            !Terminated(r.date) || !Terminated(r.time) || !Terminated(r.information))
            Broken("a status with an unterminated text", job, type);
    }
    for (const auto& e : Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR))
        if (e.value == 0) Broken("an error event without a code", job, type);
}

}  // namespace

Bytes HexPairs(const Bytes& bytes) {
    auto nibble = [](uint8_t c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    Bytes out;
    for (size_t start = 0; start < 2; ++start) {
        if (start) out.push_back(0);
        for (size_t i = start; i + 1 < bytes.size(); i += 2) {
            const int hi = nibble(bytes[i]), lo = nibble(bytes[i + 1]);
            out.push_back(hi < 0 || lo < 0 ? 0 : static_cast<uint8_t>(hi * 16 + lo));
        }
    }
    return out;
}

Bytes SevenBitGroups(const Bytes& bytes) {
    Bytes out;
    for (size_t start = 0; start < 8; ++start) {
        if (start) out.push_back(0);
        for (size_t g = start; g + 8 <= bytes.size(); g += 8) {
            const uint8_t high = bytes[g + 7];
            for (size_t i = 0; i < 7; ++i)
                out.push_back(static_cast<uint8_t>((bytes[g + i] & 0x7F) | ((high >> i) & 1 ? 0x80 : 0)));
        }
    }
    return out;
}

Bytes BcdDigits(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    Bytes out;
    for (uint8_t b : bytes) {
        out.push_back(static_cast<uint8_t>(digits[b >> 4]));
        out.push_back(static_cast<uint8_t>(digits[b & 0x0F]));
    }
    return out;
}

const char* JobName(SerialJob job) {
    static const char* const names[] = {"read-vat", "read-status", "program-goods", "read-goods-by-list",
                                        "read-all-goods", "read-sales", "clear-sales"};
    auto i = static_cast<size_t>(job);
    return i < sizeof names / sizeof names[0] ? names[i] : "?";
}

int RunSerialInput(const SerialFamily& family, const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const auto job = static_cast<SerialJob>(data[0] % static_cast<uint8_t>(SerialJob::Count));
    const int type = family.types[data[1] % family.types.size()];

    // The answers, in order.
    std::vector<Bytes> answers;
    for (size_t pos = 2; pos < size;) {
        size_t n = data[pos++];
        n = std::min(n, size - pos);
        answers.emplace_back(data + pos, data + pos + n);
        pos += n;
    }
    size_t next = 0;
    int waitsAfter = 0;
    Bytes fed;   // every byte the register said
    static const bool trace = std::getenv("ORVANTA_FUZZ_TRACE") != nullptr;
    auto feeder = [&](const Bytes& written) -> Bytes {
        if (trace)
            std::fprintf(stderr, "  %s -> %s\n", orv::test::Hex(written).c_str(),
                         next < answers.size() ? orv::test::Hex(answers[next]).c_str() : "(none)");
        if (next < answers.size()) {
            const Bytes& a = answers[next++];
            fed.insert(fed.end(), a.begin(), a.end());
            return a;
        }
        if (++waitsAfter > kWaitsAfterAnswers) Broken("the job keeps waiting for a silent register", job, type);
        return {};
    };
    const auto began = std::chrono::steady_clock::now();
    if (RunJob(family, job, type, family.tcp ? kTcpTimeScale : 0.0, kJobWallMillis, feeder)) {
        // A job that asks the register nothing (one the model does without)
        // may succeed without an answer.
        const bool asked = Asked(family);
        CheckPromises(job, type, !fed.empty() || !asked);
        CheckContents(job, type, MakeSources(family, job, fed), asked);
        static const bool stats = std::getenv("ORVANTA_FUZZ_STATS") != nullptr;
        if (stats)
            std::fprintf(stderr, "stats %s type %d: %lld us, %zu answers, %d waits after them, %zu bytes written, error %d %s\n",
                         JobName(job), type,
                         static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - began).count()),
                         answers.size(), waitsAfter,
                         Written(family).size(), EcrError(),
                         EcrError() != 0 && EcrErrMsg() ? EcrErrMsg() : "");
    }
    return 0;
}

Bytes EncodeInput(SerialJob job, size_t typeIndex, const std::vector<Bytes>& answers) {
    Bytes out{static_cast<uint8_t>(job), static_cast<uint8_t>(typeIndex)};
    for (const Bytes& a : answers) {
        size_t pos = 0;
        do {
            size_t n = std::min<size_t>(255, a.size() - pos);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), a.begin() + static_cast<long>(pos), a.begin() + static_cast<long>(pos + n));
            pos += n;
        } while (pos < a.size());
    }
    return out;
}

std::vector<Bytes> RecordJob(const SerialFamily& family, SerialJob job, size_t typeIndex,
                             const std::function<Bytes(const Bytes&)>& answer) {
    std::vector<Bytes> answers;
    std::mutex m;
    auto feeder = [&](const Bytes& written) -> Bytes {
        Bytes a = answer(written);
        std::lock_guard<std::mutex> lk(m);
        answers.push_back(a);
        return a;
    };
    // On the clock of the fuzzing runs, so that the library asks for its
    // answers at the same points when the seed is replayed.
    RunJob(family, job, family.types[typeIndex], family.tcp ? kTcpTimeScale : 0.0, 120000, feeder);
    std::lock_guard<std::mutex> lk(m);
    return answers;
}

}  // namespace orv::fuzz
