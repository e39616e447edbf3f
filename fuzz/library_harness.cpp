#include "library_harness.h"

#include <dlfcn.h>

#include <algorithm>
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

LibraryJob g_job = LibraryJob::Count;
int g_type = 0;

// The host job each of these targets' jobs is.
HostJob AsHostJob(LibraryJob job) {
    switch (job) {
    case LibraryJob::ReadVat: return HostJob::ReadVat;
    case LibraryJob::ReadStatus: return HostJob::ReadStatus;
    case LibraryJob::ProgramGoods: return HostJob::ProgramGoods;
    case LibraryJob::ReadGoodsByList: return HostJob::ReadGoodsByList;
    case LibraryJob::ReadAllGoods: return HostJob::ReadAllGoods;
    case LibraryJob::ReadSales: return HostJob::ReadSales;
    case LibraryJob::ClearSales: return HostJob::ClearSales;
    case LibraryJob::ReadDepts: return HostJob::ReadAllDepts;
    case LibraryJob::ReadUnits: return HostJob::ReadAllUnits;
    case LibraryJob::DeleteGoods: return HostJob::DeleteGoods;
    case LibraryJob::Count: break;
    }
    return HostJob::Count;
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

void* LoadFake(const char* variable, const char* path) {
    KeepJobFilesInMemory();
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
    if (!RunHostJob(AsHostJob(job), dev)) {
        // Refused (the open failed): the code and the text say why.
        const char* msg = EcrErrMsg();
        if (EcrError() == 0 || msg == nullptr || msg[0] == '\0') Broken("a refused job without a code and a text");
        return false;
    }
    CheckHostPromises(AsHostJob(job), dev.type, false);
    ReportStats(AsHostJob(job), dev.type, std::string());
    return true;
}

void Broken(const char* what) { BrokenJob(what, AsHostJob(g_job), g_type); }

bool PrefixOf(const char* text, const std::string& given) {
    const std::string g(given.c_str());   // up to the first zero byte
    const size_t n = std::strlen(text);
    return n <= g.size() && g.compare(0, n, text) == 0;
}

}  // namespace orv::fuzz
