// Fuzz target: what the Datecs MP500 library hands its driver (types 39, 41,
// 42). The input steers the stand-in library of the tests
// (tests/fakes/libs/mp500_dll.cpp): byte 0 picks the job, byte 1 the type;
// the rest is a list of commands, each an opcode byte and its operands:
//   article <48 bytes>          one more article on the scale, any bytes
//   result entry code           the entry point fails before any transfer
//   after entry count code      it transfers at most count articles, then
//                               returns code
// (codes: a table of the library's results 0..9 and the extremes, or any 32
// bits). Checked beyond the common promises: the goods and sales handed to
// the host are the articles the library pushed, in order (texts cut from
// the article's, price, quantity, value and VAT group as given; sales only
// for articles sold), no more of them, and all of them when the job
// succeeds; a job whose library call returned a failure does not succeed.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/mp500/mp500_dll.h"
#include "fakes/recording_host.h"
#include "library_harness.h"

namespace {

using namespace orv::fuzz;
using orv::test::Host;

struct Fake {
    void (*reset)();
    void (*result)(const char*, int);
    void (*after)(const char*, int, int);
    void (*add)(const MP500Article*);
};

const Fake& TheFake() {
    static const Fake fake = [] {
        void* h = LoadFake("ECR_LIB_MP500_DLL", ORVANTA_FAKE_MP500_DLL);
        return Fake{reinterpret_cast<void (*)()>(FakeSymbol(h, "Mp500FakeReset")),
                    reinterpret_cast<void (*)(const char*, int)>(FakeSymbol(h, "Mp500FakeResult")),
                    reinterpret_cast<void (*)(const char*, int, int)>(FakeSymbol(h, "Mp500FakeResultAfter")),
                    reinterpret_cast<void (*)(const MP500Article*)>(FakeSymbol(h, "Mp500FakeAdd"))};
    }();
    return fake;
}

const char* const kEntries[] = {"MP500SendArticles", "MP500DeleteArticles", "MP500ReceiveArticles",
                                "MP500ZeroPLUCounters"};
const int kCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, 255, INT_MIN, INT_MAX};
const int kTypes[] = {39, 41, 42};

// What the entry point the job calls was made to do.
struct Outcome {
    int before = 0;   // returned at once
    int limit = -1;   // articles transferred (-1: all)
    int after = 0;    // returned after them
};

int Code(InputReader& in) {
    const uint8_t pick = in.Byte();
    return pick < 0x80 ? kCodes[pick % std::size(kCodes)] : static_cast<int>(in.U32());
}

const char* EntryOf(LibraryJob job) {
    switch (job) {
    case LibraryJob::ProgramGoods: return kEntries[0];
    case LibraryJob::DeleteGoods: return kEntries[1];
    case LibraryJob::ReadAllGoods:
    case LibraryJob::ReadSales: return kEntries[2];
    case LibraryJob::ClearSales: return kEntries[3];
    default: return "";
    }
}

// A text field of the article: up to its first zero byte.
std::string Field(const char* field, size_t size) { return std::string(field, ::strnlen(field, size)); }

void CheckReceived(LibraryJob job, const std::vector<MP500Article>& articles, const Outcome& o) {
    std::vector<MP500Article> pushed = articles;
    if (o.limit >= 0 && pushed.size() > static_cast<size_t>(o.limit)) pushed.resize(static_cast<size_t>(o.limit));
    if (o.before != 0) pushed.clear();
    if (job == LibraryJob::ReadAllGoods) {
        const auto items = Host().Items();
        if (items.size() > pushed.size()) Broken("more goods than the library pushed");
        if (EcrError() == 0 && items.size() != pushed.size()) Broken("goods the library pushed were lost");
        for (size_t i = 0; i < items.size(); ++i) {
            const MP500Article& a = pushed[i];
            const EcrItemRecord& it = items[i];
            if (!PrefixOf(it.code, Field(a.code, sizeof a.code)) || !PrefixOf(it.name, Field(a.name, sizeof a.name)) ||
                it.price != a.price / 100.0 || it.vat_group != a.vat + 1u)
                Broken("a read item the library did not push");
        }
    }
    if (job == LibraryJob::ReadSales) {
        std::vector<MP500Article> sold;
        for (const MP500Article& a : pushed)
            if (a.quantity != 0) sold.push_back(a);
        const auto sales = Host().Sales();
        if (sales.size() > sold.size()) Broken("more sales than the library pushed");
        if (EcrError() == 0 && sales.size() != sold.size()) Broken("sales the library pushed were lost");
        for (size_t i = 0; i < sales.size(); ++i) {
            const MP500Article& a = sold[i];
            const auto& s = sales[i];
            if (!PrefixOf(s.sale.code, Field(a.code, sizeof a.code)) ||
                !PrefixOf(s.sale.name, Field(a.name, sizeof a.name)) || s.sale.quantity != a.quantity / 1000.0 ||
                s.sale.value != a.value / 100.0 || !PrefixOf(s.item.code, Field(a.code, sizeof a.code)) ||
                !PrefixOf(s.item.name, Field(a.name, sizeof a.name)))
                Broken("a sale the library did not push");
        }
    }
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
    EcrDeviceRecord dev = orv::test::DeviceRecord(kTypes[in.Byte() % std::size(kTypes)], 1, 9600);
    dev.word7 = 1;

    const Fake& fake = TheFake();
    fake.reset();
    std::vector<MP500Article> articles;
    Outcome outcome;
    const std::string entry = EntryOf(job);
    while (!in.AtEnd()) {
        switch (in.Byte() % 3) {
        case 0: {
            MP500Article a;
            auto* bytes = reinterpret_cast<uint8_t*>(&a);
            for (size_t i = 0; i < sizeof a; ++i) bytes[i] = in.Byte();
            fake.add(&a);
            articles.push_back(a);
            break;
        }
        case 1: {
            const char* e = kEntries[in.Byte() % std::size(kEntries)];
            const int code = Code(in);
            fake.result(e, code);
            if (entry == e) outcome.before = code;
            break;
        }
        default: {
            const char* e = kEntries[in.Byte() % std::size(kEntries)];
            const int count = in.Byte() % 8;
            const int code = Code(in);
            fake.after(e, count, code);
            if (entry == e) {
                outcome.limit = count;
                outcome.after = code;
            }
            break;
        }
        }
    }

    if (!RunLibraryJob(job, dev)) return 0;
    CheckReceived(job, articles, outcome);
    if (!entry.empty() && (outcome.before != 0 || outcome.after != 0) && EcrError() == 0)
        Broken("a job succeeded where the library reported a failure");
    return 0;
}
