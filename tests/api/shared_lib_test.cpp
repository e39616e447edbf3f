// liborvanta.so as a host sees it: loaded with dlopen, its dynamic symbol
// table, and jobs for families this version does not serve.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/elcom50/elcom50_emulator.h"
#include "fakes/recording_host.h"
#include "orvanta/ecr.h"
#include "util/cp1250.h"

using orv::test::DeviceRecord;
using orv::test::Host;
using orv::test::RecordingHost;

namespace {

const char* const kExports[] = {
    "EcrReadSale",    "EcrClearSale",   "EcrReadAllPLU", "EcrReadPLU",      "EcrPgmPLU",
    "EcrUpDatePLU",   "EcrDelPLU",      "EcrDelAllPLU",  "EcrReadAllDEPT",  "EcrReadDEPT",
    "EcrPgmDEPT",     "EcrReadAllUnit", "EcrPgmUNIT",    "EcrReadStatus",   "EcrReadVAT",
    "EcrReadFromPLU", "EcrDelFromPLU",  "EcrPgmExBarcode", "EcrCreate",     "EcrPreCreate",
    "EcrDelete",      "EcrIsDone",      "EcrError",      "EcrErrMsg",       "EcrBreakJob",
};

// The library's functions, looked up as a host does.
struct Library {
    void* handle = nullptr;
    decltype(&EcrCreate) Create = nullptr;
    decltype(&EcrReadVAT) ReadVAT = nullptr;
    decltype(&EcrReadAllPLU) ReadAllPLU = nullptr;
    decltype(&EcrIsDone) IsDone = nullptr;
    decltype(&EcrError) Error = nullptr;
    decltype(&EcrErrMsg) ErrMsg = nullptr;
    decltype(&EcrBreakJob) BreakJob = nullptr;
    decltype(&EcrDelete) Delete = nullptr;

    Library() {
        handle = dlopen(ORVANTA_SHARED_LIB, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        Create = reinterpret_cast<decltype(Create)>(dlsym(handle, "EcrCreate"));
        ReadVAT = reinterpret_cast<decltype(ReadVAT)>(dlsym(handle, "EcrReadVAT"));
        ReadAllPLU = reinterpret_cast<decltype(ReadAllPLU)>(dlsym(handle, "EcrReadAllPLU"));
        IsDone = reinterpret_cast<decltype(IsDone)>(dlsym(handle, "EcrIsDone"));
        Error = reinterpret_cast<decltype(Error)>(dlsym(handle, "EcrError"));
        ErrMsg = reinterpret_cast<decltype(ErrMsg)>(dlsym(handle, "EcrErrMsg"));
        BreakJob = reinterpret_cast<decltype(BreakJob)>(dlsym(handle, "EcrBreakJob"));
        Delete = reinterpret_cast<decltype(Delete)>(dlsym(handle, "EcrDelete"));
    }
    ~Library() {
        if (handle) dlclose(handle);
    }
    bool WaitDone() const {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!IsDone()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

TEST(SharedLibrary, ExportsExactlyTheTwentyFiveFunctions) {
    FILE* p = popen("nm -D --defined-only '" ORVANTA_SHARED_LIB "'", "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        char addr[64], type[8], name[256];
        if (std::sscanf(line, "%63s %7s %255s", addr, type, name) == 3) names.insert(name);
    }
    ASSERT_EQ(pclose(p), 0);
    std::set<std::string> expected(std::begin(kExports), std::end(kExports));
    EXPECT_EQ(names, expected);
}

TEST(SharedLibrary, EveryExportResolves) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    for (const char* name : kExports) EXPECT_NE(dlsym(lib.handle, name), nullptr) << name;
    EXPECT_EQ(dlsym(lib.handle, "EcrDispatch"), nullptr);
    EXPECT_EQ(dlsym(lib.handle, "g_jobBlock"), nullptr);
}

// A process that has loaded the library and called nothing yet.
TEST(SharedLibraryDeathTest, FreshLibraryBeforeCreate) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Library lib;
            if (!lib.handle) std::_Exit(10);
            // Nothing to destroy before any job; no job to break.
            if (lib.Delete() != 1) std::_Exit(11);
            if (lib.BreakJob() != 0) std::_Exit(12);
            if (lib.IsDone() != 1) std::_Exit(13);
            if (lib.Error() != 999999) std::_Exit(14);
            if (std::string(lib.ErrMsg()) != "Failed to create OLE ECR Control") std::_Exit(15);
            if (lib.Create(nullptr) != 1) std::_Exit(16);
            if (lib.Error() != 0 || std::string(lib.ErrMsg()) != "") std::_Exit(17);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// A host that skips EcrCreate still learns why its job was refused.
TEST(SharedLibraryDeathTest, RefusedJobBeforeCreateReportsItsOwnError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Library lib;
            if (!lib.handle) std::_Exit(10);
            if (lib.ReadVAT(nullptr, nullptr) != 0) std::_Exit(11);
            if (lib.Error() != -1) std::_Exit(12);
            if (std::string(lib.ErrMsg()) != PL("Niewłaściwe parametry zadania")) std::_Exit(13);
            if (lib.IsDone() != 1) std::_Exit(14);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            Library lib;
            if (!lib.handle) std::_Exit(10);
            EcrDeviceRecord dev{};
            dev.type = 51;
            if (lib.ReadVAT(&dev, nullptr) != 0) std::_Exit(11);
            if (lib.Error() != 999999) std::_Exit(12);
            if (std::string(lib.ErrMsg()) != PL("System kas fiskalnych - błąd systemu !")) std::_Exit(13);
            if (lib.IsDone() != 1) std::_Exit(14);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SharedLibrary, UnservedFamiliesAreRefusedAtStartWithAClearError) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_EQ(lib.Create(nullptr), 1);
    // Families this library does not serve: Elcom, Entry01 (two codes),
    // InnovaHit (three), Eco Label, Maxima.
    for (int type : {64, 7, 10043, 52, 55, 88, 112, 107}) {
        SCOPED_TRACE(type);
        Host().Reset();
        EcrDeviceRecord dev = DeviceRecord(type, 1);
        EXPECT_EQ(lib.ReadVAT(&dev, &RecordingHost::OnVat), 0);
        EXPECT_EQ(lib.IsDone(), 1);
        EXPECT_EQ(lib.Error(), 999999);
        EXPECT_STREQ(lib.ErrMsg(), PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki"));
        auto events = Host().Events();
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[0].code, 1);
        EXPECT_EQ(events[1].code, 6);
        EXPECT_EQ(events[1].value, 999999);
        EXPECT_EQ(events[1].text, PL("Brak obsługi urządzenia tego typu w tej wersji biblioteki"));
        EXPECT_EQ(events[2].code, 8);
    }
    Host().Reset();
}

TEST(SharedLibrary, OutOfTableTypesAndNullRecords) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_EQ(lib.Create(nullptr), 1);
    EcrDeviceRecord dev = DeviceRecord(51, 1);
    EXPECT_EQ(lib.ReadAllPLU(&dev, &RecordingHost::OnItemRead), 0);
    EXPECT_EQ(lib.Error(), 999999);
    EXPECT_STREQ(lib.ErrMsg(), PL("System kas fiskalnych - błąd systemu !"));
    EXPECT_EQ(lib.IsDone(), 1);

    EXPECT_EQ(lib.ReadVAT(nullptr, &RecordingHost::OnVat), 0);
    EXPECT_EQ(lib.Error(), -1);
    EXPECT_EQ(lib.IsDone(), 1);
    EXPECT_EQ(lib.BreakJob(), 0);
    Host().Reset();
}

TEST(SharedLibrary, ServedFamilyRunsAWholeJob) {
    constexpr int kPort = 13;
    orv::test::Elcom50Emulator reg(kPort, 24);
    reg.Start();
    reg.SetTaxGroup(1, "23.00", 1);
    reg.SetTaxGroup(2, "8.00", 1);
    Host().Reset();
    Library lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_EQ(lib.Create(nullptr), 1);
    EcrDeviceRecord dev = DeviceRecord(16, kPort);
    ASSERT_EQ(lib.ReadVAT(&dev, &RecordingHost::OnVat), 1);
    ASSERT_TRUE(lib.WaitDone());
    EXPECT_EQ(lib.Error(), 0);
    EXPECT_STREQ(lib.ErrMsg(), "");
    auto codes = Host().EventCodes();   // the driver adds its own events between
    ASSERT_GE(codes.size(), 5u);
    EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + 3), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(std::vector<int>(codes.end() - 2, codes.end()), (std::vector<int>{10, 11}));
    auto vat = Host().VatCalls();
    ASSERT_EQ(vat.size(), 1u);
    EXPECT_EQ(vat[0][0], 23.0);
    EXPECT_EQ(vat[0][1], 8.0);
    Host().Reset();
}

TEST(SharedLibrary, UnloadBreaksOffARunningJobAndJoinsItsWorker) {
    constexpr int kPort = 12;
    orv::test::Elcom50Emulator reg(kPort, 24);
    reg.Start();
    // The register goes silent once the goods are being read.
    reg.Inject({"GETREC", "", orv::test::Elcom50Emulator::Answer::Silence, "", -1});
    Host().Reset();
    auto t0 = std::chrono::steady_clock::now();
    {
        Library lib;
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        ASSERT_EQ(lib.Create(nullptr), 1);
        EcrDeviceRecord dev = DeviceRecord(16, kPort);
        ASSERT_EQ(lib.ReadAllPLU(&dev, &RecordingHost::OnItemRead), 1);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (reg.CountRequests("GETREC") == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_GT(reg.CountRequests("GETREC"), 0);
        EXPECT_EQ(lib.IsDone(), 0);
        t0 = std::chrono::steady_clock::now();
    }   // unloaded here, with the job still waiting for its answer
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    // The job ended as broken off, and closed, before its objects went away.
    auto failed = Host().EventsWithCode(ECR_EVENT_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].value, -7);
    EXPECT_EQ(Host().EventCodes().back(), ECR_EVENT_CLOSED);
    Host().Reset();
}

}  // namespace
