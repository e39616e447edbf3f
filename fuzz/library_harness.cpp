#include "library_harness.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

constexpr int kJobWallMillis = 20000;
constexpr const char* kDumpDir = "/dev/shm/orvanta-fuzz";

LibraryJob g_job = LibraryJob::Count;
int g_type = 0;

void DumpRecords() {
    for (const auto& it : Host().Items())
        std::fprintf(stderr, "  item %u code '%s' name '%s' price %g vat %u\n", it.number, it.code, it.name, it.price,
                     it.vat_group);
    for (const auto& s : Host().Sales())
        std::fprintf(stderr, "  sale kind %u plu %u code '%s' name '%s' qty %g value %g\n", s.sale.kind, s.sale.plu,
                     s.sale.code, s.sale.name, s.sale.quantity, s.sale.value);
    for (const auto& c : Host().Confirmations())
        std::fprintf(stderr, "  confirmed %u code %d '%s'\n", c.number, c.code, c.text.c_str());
    std::fprintf(stderr, "  error %d '%s'\n", EcrError(), EcrErrMsg() ? EcrErrMsg() : "(null)");
}

bool ItemTerminated(const EcrItemRecord& it) {
    return Terminated(it.code) && Terminated(it.name) && Terminated(it.code2);
}

EcrItemRecord Goods(uint32_t number, const char* name, const char* code, double price) {
    return orv::test::HostItemRecord(
        {.number = number, .name = name, .code = code, .price = price, .vat = 1, .dept = 1, .unit = 1});
}

int StartJob(LibraryJob job, const EcrDeviceRecord* dev, EcrItemRecord* items) {
    switch (job) {
    case LibraryJob::ReadVat: return EcrReadVAT(dev, RecordingHost::OnVat);
    case LibraryJob::ReadStatus: return EcrReadStatus(dev, RecordingHost::OnStatus);
    case LibraryJob::ProgramGoods: return EcrPgmPLU(dev, items, kHostItems, RecordingHost::OnItemProgram);
    case LibraryJob::ReadGoodsByList: return EcrReadPLU(dev, items, kHostItems, RecordingHost::OnItemRead);
    case LibraryJob::ReadAllGoods: return EcrReadAllPLU(dev, RecordingHost::OnItemRead);
    case LibraryJob::ReadSales: return EcrReadSale(dev, RecordingHost::OnSale);
    case LibraryJob::ClearSales: return EcrClearSale(dev, RecordingHost::OnSale);
    case LibraryJob::ReadDepts: return EcrReadAllDEPT(dev, RecordingHost::OnDeptRead);
    case LibraryJob::ReadUnits: return EcrReadAllUnit(dev, RecordingHost::OnUnitRead);
    case LibraryJob::DeleteGoods: return EcrDelPLU(dev, items, kHostItems, RecordingHost::OnItemProgram);
    case LibraryJob::Count: break;
    }
    return 0;
}

void CheckPromises() {
    const int error = EcrError();
    const char* msg = EcrErrMsg();
    if (error != 0 && (msg == nullptr || msg[0] == '\0')) Broken("a failed job without a text");
    if (error == -7) Broken("a job nobody broke off ended as broken off");
    for (const auto& c : Host().Confirmations()) {
        if (c.code != 0 && c.text.empty()) Broken("a failed item without a text");
        if (!ItemTerminated(c.item)) Broken("a confirmed item with an unterminated text");
    }
    for (const auto& it : Host().Items())
        if (!ItemTerminated(it)) Broken("a read item with an unterminated text");
    for (const auto& d : Host().Depts())
        if (!Terminated(d.name)) Broken("a department with an unterminated name");
    for (const auto& u : Host().Units())
        if (!Terminated(u.name)) Broken("a unit with an unterminated name");
    for (const auto& s : Host().Sales()) {
        if (!ItemTerminated(s.item)) Broken("a sale's item with an unterminated text");
        if (!Terminated(s.sale.text) || !Terminated(s.sale.code) || !Terminated(s.sale.name))
            Broken("a sale with an unterminated text");
    }
    for (const auto& s : Host().StatusCalls()) {
        const EcrStatusRecord& r = s.status;
        if (!Terminated(r.device_text) || !Terminated(r.text2) || !Terminated(r.unique_number) ||
            !Terminated(r.date) || !Terminated(r.time) || !Terminated(r.information))
            Broken("a status with an unterminated text");
    }
    for (const auto& e : Host().EventsWithCode(ECR_EVENT_DEVICE_ERROR))
        if (e.value == 0) Broken("an error event without a code");
}

}  // namespace

std::string InputReader::Text() {
    size_t n = Byte();
    n = std::min(n, m_size - std::min(m_pos, m_size));
    std::string s(reinterpret_cast<const char*>(m_data) + m_pos, n);
    m_pos += n;
    return s;
}

const char* JobName(LibraryJob job) {
    static const char* const names[] = {"read-vat",       "read-status", "program-goods",
                                        "read-goods-by-list", "read-all-goods", "read-sales",
                                        "clear-sales",    "read-depts",  "read-units",
                                        "delete-goods"};
    auto i = static_cast<size_t>(job);
    return i < std::size(names) ? names[i] : "?";
}

LibraryJob PickJob(InputReader& in) {
    return static_cast<LibraryJob>(in.Byte() % static_cast<uint8_t>(LibraryJob::Count));
}

const EcrItemRecord& HostItem(int i) {
    static const EcrItemRecord items[kHostItems] = {Goods(1, "Chleb", "5901234123457", 3.5),
                                                    Goods(2, "Mleko 2%", "", 2.99),
                                                    Goods(3, "Kawa ziarnista Arabica 1kg", "20000", 45.0)};
    return items[i];
}

void* LoadFake(const char* variable, const char* path) {
    // The files a job leaves (the sale log) go to memory, not to the disk.
    if (::mkdir(kDumpDir, 0700) == 0 || errno == EEXIST) ::setenv("TMPDIR", kDumpDir, 1);
    ::setenv(variable, path, 1);
    EcrCreate(nullptr);
    void* handle = ::dlopen(path, RTLD_NOW);
    if (!handle) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, ::dlerror());
        std::abort();
    }
    return handle;
}

void* FakeSymbol(void* handle, const char* name) {
    void* p = ::dlsym(handle, name);
    if (!p) {
        std::fprintf(stderr, "the stand-in library has no %s\n", name);
        std::abort();
    }
    return p;
}

bool RunLibraryJob(LibraryJob job, const EcrDeviceRecord& dev) {
    g_job = job;
    g_type = dev.type;
    Host().Reset();
    orv::platform::SetTimeScale(0.0);
    EcrItemRecord items[kHostItems];
    for (int i = 0; i < kHostItems; ++i) items[i] = HostItem(i);
    const bool started = StartJob(job, &dev, items) != 0;
    if (!started) {
        // Refused (the open failed): the code and the text say why.
        const char* msg = EcrErrMsg();
        if (EcrError() == 0 || msg == nullptr || msg[0] == '\0') Broken("a refused job without a code and a text");
        return false;
    }
    if (!orv::test::WaitEcrDone(kJobWallMillis, std::chrono::microseconds(20))) Broken("the job did not end in time");
    CheckPromises();
    static const bool stats = std::getenv("ORVANTA_FUZZ_STATS") != nullptr;
    if (stats)
        std::fprintf(stderr, "stats %s type %d: %zu items, %zu sales, %zu confirmations, error %d %s\n", JobName(job),
                     dev.type, Host().Items().size(), Host().Sales().size(), Host().Confirmations().size(), EcrError(),
                     EcrError() != 0 && EcrErrMsg() ? EcrErrMsg() : "");
    return true;
}

void Broken(const char* what) {
    DumpRecords();
    std::fprintf(stderr, "broken promise (%s, type %d): %s\n", JobName(g_job), g_type, what);
    std::fflush(stderr);
    std::abort();
}

bool PrefixOf(const char* text, const std::string& given) {
    const std::string g(given.c_str());   // up to the first zero byte
    const size_t n = std::strlen(text);
    return n <= g.size() && g.compare(0, n, text) == 0;
}

}  // namespace orv::fuzz
