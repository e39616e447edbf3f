// Fuzz target: what Dibal's scale library answers the Dibal 500 driver
// (type 114). The input steers the stand-in library of the tests
// (tests/fakes/libs/dibalscop.cpp): byte 0 picks the job; byte 1 the scale's
// address (bits 0-1: one of three; a new address makes the driver load the
// library afresh) and the file the library is loaded from (bits 2-3: the
// stand-in, one without RegistersSend, none at that path); the rest is a
// list of answers, each a byte (bit 0: ItemsSend or RegistersSend; bit 1:
// no answer at all, a null text) and, unless null, a text (a length byte and
// that many bytes); an entry point without a queued answer answers "OK".
// Checked beyond the common promises: every item whose call the library
// answered with anything but "OK" is confirmed to the host with a nonzero
// code and a text, and no item both its calls were answered "OK" is.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "fakes/recording_host.h"
#include "library_harness.h"

namespace {

using namespace orv::fuzz;
using orv::test::Host;

struct Fake {
    void (*reset)();
    void (*answer)(const char*, const char*);
    int (*calls)();
    const char* (*entry)(int);
    int (*number)(int, const char*);
};

const Fake& TheFake() {
    static const Fake fake = [] {
        void* h = LoadFake("ECR_LIB_DIBALSCOP", ORVANTA_FAKE_DIBALSCOP);
        return Fake{reinterpret_cast<void (*)()>(FakeSymbol(h, "DibalscopFakeReset")),
                    reinterpret_cast<void (*)(const char*, const char*)>(FakeSymbol(h, "DibalscopFakeAnswer")),
                    reinterpret_cast<int (*)()>(FakeSymbol(h, "DibalscopFakeCalls")),
                    reinterpret_cast<const char* (*)(int)>(FakeSymbol(h, "DibalscopFakeEntry")),
                    reinterpret_cast<int (*)(int, const char*)>(FakeSymbol(h, "DibalscopFakeInt"))};
    }();
    return fake;
}

const uint32_t kAddresses[] = {(10u << 24) | 5u, (10u << 24) | 6u, (192u << 24) | (168u << 16) | (1u << 8) | 7u};
const char* const kFiles[] = {ORVANTA_FAKE_DIBALSCOP, ORVANTA_FAKE_DIBALSCOP_PARTIAL, "/nonexistent/libdibalscop.so",
                              ORVANTA_FAKE_DIBALSCOP};

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
    EcrDeviceRecord dev = orv::test::DeviceRecord(114, static_cast<int>(kAddresses[setup % 4 % 3]));
    ::setenv("ECR_LIB_DIBALSCOP", kFiles[(setup >> 2) % 4], 1);

    const Fake& fake = TheFake();
    fake.reset();
    std::map<std::string, std::deque<std::optional<std::string>>> answers;
    while (!in.AtEnd()) {
        const uint8_t b = in.Byte();
        const char* entry = b & 1 ? "RegistersSend" : "ItemsSend";
        std::optional<std::string> text;
        if (!(b & 2)) text = in.Text();
        fake.answer(entry, text ? text->c_str() : nullptr);
        answers[entry].push_back(text ? std::optional<std::string>(text->c_str()) : std::nullopt);
    }

    if (!RunLibraryJob(job, dev)) return 0;

    // The items whose calls were not answered "OK", by the calls made in
    // order (a RegistersSend belongs to the ItemsSend before it).
    std::set<int> failed, taken;
    int plu = -1;
    for (int i = 0, n = fake.calls(); i < n; ++i) {
        const std::string entry = fake.entry(i);
        if (entry == "ItemsSend") plu = fake.number(i, "plu");
        auto& q = answers[entry];
        std::optional<std::string> a = std::string("OK");
        if (!q.empty()) {
            a = q.front();
            q.pop_front();
        }
        if (!a || *a != "OK")
            failed.insert(plu);
        else if (entry == "RegistersSend")
            taken.insert(plu);
    }
    for (int number : failed) {
        bool confirmed = false;
        for (const auto& c : Host().Confirmations())
            confirmed = confirmed || (static_cast<int>(c.item.number) == number && c.code != 0);
        if (!confirmed) Broken("an item the library refused was not confirmed as failed");
    }
    for (const auto& c : Host().Confirmations())
        if (c.code != 0 && taken.count(static_cast<int>(c.item.number)) && !failed.count(static_cast<int>(c.item.number)))
            Broken("an item the library took was confirmed as failed");
    return 0;
}
