// Fuzz target: what the Elzab communication library hands back. The fake
// library (tests/fakes/libs/winip.cpp, loaded by the driver as it loads the
// real one) answers each call, whatever its entry point, from the input:
//   byte 0   the job (host_job.h)
//   byte 1   the device type among the library's types
//   byte 2   bits 0-2 the connection kind (7, 8, 9, 10, 13), bits 3-4 the
//            sale-read option bits, bit 5 the operator's answer to closing
//            the modem link
//   then one entry per library call, in order: the byte the entry point
//   returns, a flag byte (bit 0: no answer file at all; bit 1: the file
//   begins with the register's own header "#5", "#", "#" and a line end;
//   bit 2: that header's lines end with LF alone), two bytes of length
//   (low first) and that many bytes of the answer file.
// Once the entries are used up every call returns 1 and leaves no file.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fakes/recording_host.h"
#include "fuzz_checks.h"
#include "host_job.h"
#include "platform/message_hook.h"

namespace {

using orv::fuzz::HostJob;

constexpr int kRegister = 5;
// Calls the library may get after the entries ran out before the job counts
// as hung (a list read gives up after three failed items).
constexpr int kCallsAfterEntries = 200;

const int kTypes[] = {20, 24, 43, 84, 92, 93, 99, 1, 2, 3, 4, 5, 6, 22, 27, 28, 29, 30, 31, 32,
                      46, 53, 63, 76, 77, 78, 79, 80, 81, 94, 95, 98, 102, 700, 701};
const int kKinds[] = {7, 8, 9, 10, 13};

struct Winip {
    int (*control)(const char*, const char*, const char*) = nullptr;
    int (*count)() = nullptr;
    const char* (*field)(int, const char*, int*) = nullptr;
};

Winip& Fake() {
    static Winip w = [] {
        Winip f;
        void* h = dlopen(ORVANTA_FUZZ_WINIP, RTLD_NOW);
        if (!h) {
            std::fprintf(stderr, "cannot load the fake library: %s\n", dlerror());
            std::abort();
        }
        f.control = reinterpret_cast<int (*)(const char*, const char*, const char*)>(dlsym(h, "WinipFakeControl"));
        f.count = reinterpret_cast<int (*)()>(dlsym(h, "WinipFakeCallCount"));
        f.field = reinterpret_cast<const char* (*)(int, const char*, int*)>(dlsym(h, "WinipFakeCallField"));
        if (!f.control || !f.count || !f.field) std::abort();
        return f;
    }();
    return w;
}

int g_closeAnswer = 0;

// The library writes konfig.txt and modkonf.txt into the working directory
// and its exchange files into the temporary one: both a folder in memory.
// The job runs in it; the fuzzer's own paths stay as given.
const std::string& WorkDir() {
    // Never freed: the clean-up at exit still needs it.
    static const std::string* dir = [] {
        auto* d = new std::string("/dev/shm/orvanta-fuzz-elzab-lib-" + std::to_string(::getpid()));
        ::mkdir(d->c_str(), 0700);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(WorkDir(), ignored);
        });
        return d;
    }();
    return *dir;
}

class InWorkDir {
public:
    InWorkDir() {
        if (!::getcwd(m_old, sizeof m_old) || ::chdir(WorkDir().c_str()) != 0) std::abort();
    }
    ~InWorkDir() {
        if (::chdir(m_old) != 0) std::abort();
    }

private:
    char m_old[4096];
};

struct Entry {
    int result = 0;
    bool hasFile = false;
    std::string bytes;
};

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("TMPDIR", WorkDir().c_str(), 1);
    ::setenv("ECR_LIB_WINIP", ORVANTA_FUZZ_WINIP, 1);
    Fake();
    orv::platform::SetMessageHook([](orv::platform::MessageKind, const std::string&, int) { return g_closeAnswer; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const HostJob job = orv::fuzz::PickJob(data[0]);
    const int type = kTypes[data[1] % std::size(kTypes)];
    EcrDeviceRecord dev = orv::test::DeviceRecord(type, 3, 9600, kKinds[(data[2] & 7) % std::size(kKinds)]);
    dev.flags = (data[2] >> 3) & 3u;
    dev.word6 = 1;
    dev.word7 = kRegister;
    g_closeAnswer = (data[2] >> 5) & 1;

    std::vector<Entry> entries;
    for (size_t pos = 3; pos + 2 <= size;) {
        Entry e;
        e.result = data[pos];
        const uint8_t flags = data[pos + 1];
        pos += 2;
        size_t n = 0;
        if (pos + 2 <= size) n = data[pos] | (size_t{data[pos + 1]} << 8);
        pos = std::min(size, pos + 2);
        n = std::min(n, size - pos);
        e.hasFile = (flags & 1) == 0;
        if (e.hasFile && (flags & 2)) {
            const char* eol = (flags & 4) ? "\n" : "\r\n";
            e.bytes = "#" + std::to_string(kRegister) + eol + "#" + eol + "#" + eol;
        }
        e.bytes.append(reinterpret_cast<const char*>(data + pos), n);
        pos += n;
        entries.push_back(std::move(e));
    }

    Winip& w = Fake();
    w.control("reset", "", "");
    for (const Entry& e : entries) {
        const std::string arg = std::to_string(e.result) + (e.hasFile ? ":" + Hex(e.bytes) : "");
        w.control("next", "", arg.c_str());
    }
    w.control("drained", "", "1");

    bool started = false;
    {
        InWorkDir in;
        started = orv::fuzz::RunHostJob(job, dev);
    }
    if (!started) return 0;
    const auto calls = static_cast<size_t>(w.count());
    if (calls > entries.size() + kCallsAfterEntries)
        orv::fuzz::BrokenJob("the job keeps calling a library that fails", job, type);
    std::string fed;
    bool everyCallFailed = calls > 0;
    for (size_t i = 0; i < std::min(calls, entries.size()); ++i) {
        fed += entries[i].bytes;
        if (entries[i].result == 0) everyCallFailed = false;
    }
    // A job ends with the call its result rests on, save closing a modem
    // link (whose result the job does not wait for): when that call failed,
    // so did the job.
    bool lastCallFailed = false;
    if (calls > 0) {
        const int last = static_cast<int>(calls) - 1;
        const bool stop = std::strcmp(w.field(last, "name", nullptr), "__ModStop") == 0;
        lastCallFailed = !stop && (calls > entries.size() || entries[calls - 1].result != 0);
    }
    orv::fuzz::CheckHostPromises(job, type, everyCallFailed || lastCallFailed);
    // The library's files are read with every CR dropped, wherever it stands.
    std::string withoutCr;
    for (char c : fed)
        if (c != '\r') withoutCr += c;
    orv::fuzz::CheckRecordsFrom(job, type, fed.empty() ? fed : fed + '\0' + withoutCr);
    orv::fuzz::ReportStats(job, type, std::to_string(entries.size()) + " entries, " + std::to_string(calls) + " calls");
    return 0;
}
