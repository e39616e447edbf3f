// Vendor libraries: the Windows file name -> shared object rule, the
// variable that names another file, loading, symbols and release.
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "platform/message_hook.h"

namespace {

using orv::platform::DynamicLibrary;
using orv::platform::LibraryFileFor;
using orv::platform::LibraryVariableName;
using orv::platform::SharedObjectName;

// Sets an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_had = true;
            m_old = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

TEST(DynamicLibraryName, WindowsNamesMapToSharedObjects) {
    struct Case {
        const char* windows;
        const char* file;
        const char* variable;
    } cases[] = {
        {"winip.dll", "libwinip.so", "ECR_LIB_WINIP"},
        {"LIBPOSNET.DLL", "libposnet.so", "ECR_LIB_LIBPOSNET"},
        {"LIBHLAPI.DLL", "libhlapi.so", "ECR_LIB_LIBHLAPI"},
        {"Dibalscop.dll", "libdibalscop.so", "ECR_LIB_DIBALSCOP"},
        {"MP500_DLL.dll", "libmp500_dll.so", "ECR_LIB_MP500_DLL"},
        {"xgatdll", "libxgatdll.so", "ECR_LIB_XGATDLL"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SharedObjectName(c.windows), c.file) << c.windows;
        EXPECT_EQ(LibraryVariableName(c.windows), c.variable) << c.windows;
    }
}

TEST(DynamicLibraryName, VariableNamesAnotherFileUnlessEmpty) {
    {
        EnvVar v("ECR_LIB_WINIP", nullptr);
        EXPECT_EQ(LibraryFileFor("winip.dll"), "libwinip.so");
    }
    {
        EnvVar v("ECR_LIB_WINIP", "");
        EXPECT_EQ(LibraryFileFor("winip.dll"), "libwinip.so");
    }
    {
        EnvVar v("ECR_LIB_WINIP", "/opt/elzab/winip.so");
        EXPECT_EQ(LibraryFileFor("winip.dll"), "/opt/elzab/winip.so");
    }
}

TEST(DynamicLibrary, LoadsByVariableFindsSymbolsAndReleases) {
    // The library under test is itself a shared object with known exports.
    EnvVar v("ECR_LIB_ORVANTA", ORVANTA_SHARED_LIB);
    DynamicLibrary lib;
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.Symbol("EcrIsDone"), nullptr);
    ASSERT_TRUE(lib.Load("orvanta.dll")) << lib.Error();
    EXPECT_EQ(lib.FileName(), ORVANTA_SHARED_LIB);
    using IsDone = int (*)();
    EXPECT_NE(lib.Function<IsDone>("EcrIsDone"), nullptr);
    EXPECT_EQ(lib.Symbol("NoSuchEntryPoint"), nullptr);

    DynamicLibrary moved(std::move(lib));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_TRUE(moved.IsLoaded());
    moved.Release();
    EXPECT_FALSE(moved.IsLoaded());
    EXPECT_EQ(moved.Symbol("EcrIsDone"), nullptr);
    // A released library can be loaded again.
    EXPECT_TRUE(moved.Load("orvanta.dll")) << moved.Error();
}

TEST(DynamicLibrary, MissingLibraryFailsWithItsName) {
    EnvVar v("ECR_LIB_NOSUCHVENDOR", nullptr);
    DynamicLibrary lib;
    EXPECT_FALSE(lib.Load("NoSuchVendor.dll"));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.FileName(), "libnosuchvendor.so");
    EXPECT_FALSE(lib.Error().empty());
}

// A file whose open would block (a FIFO nobody writes to) or that is no
// plain file is refused at once, with the file's name and the reason; a
// link to the library loads the library. A failed load leaves its reason
// in the message log.
TEST(DynamicLibrary, OnlyPlainFilesAreLoaded) {
    char dirTemplate[] = "/tmp/orv_dynlib_XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string fifo = dir + "/libfifo.so";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string notElf = dir + "/libtext.so";
    std::ofstream(notElf) << "no library here\n";
    const std::string link = dir + "/liblink.so";
    ASSERT_EQ(symlink(ORVANTA_SHARED_LIB, link.c_str()), 0);
    EnvVar tmp("TMPDIR", dir.c_str());
    orv::platform::SetMessageHook({});

    struct Case {
        std::string file;
        bool loads;
        const char* reason;   // part of the error text
    };
    const Case cases[] = {
        {fifo, false, "not a regular file"},
        {dir, false, "not a regular file"},
        {dir + "/missing.so", false, "No such file"},
        {notElf, false, "libtext.so"},
        {link, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EnvVar v("ECR_LIB_VENDORX", c.file.c_str());
        DynamicLibrary lib;
        const auto start = std::chrono::steady_clock::now();
        auto load = std::async(std::launch::async, [&] { return lib.Load("VendorX.dll"); });
        if (load.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            ADD_FAILURE() << "the load blocks";
            // A writer that comes and goes lets the blocked open end.
            const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (w >= 0) ::close(w);
        }
        EXPECT_EQ(load.get(), c.loads) << lib.Error();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_EQ(lib.FileName(), c.file);
        if (c.loads) {
            EXPECT_NE(lib.Symbol("EcrIsDone"), nullptr);
            continue;
        }
        EXPECT_NE(lib.Error().find(c.reason), std::string::npos) << lib.Error();
        EXPECT_EQ(lib.Error().find("/proc/"), std::string::npos) << lib.Error();
        std::ifstream log(dir + "/orvanta_messages.log");
        const std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        EXPECT_NE(logged.find(c.file + ": "), std::string::npos) << logged;
        EXPECT_NE(logged.find(c.reason), std::string::npos) << logged;
    }
    std::remove((dir + "/orvanta_messages.log").c_str());
    ::unlink(fifo.c_str());
    ::unlink(notElf.c_str());
    ::unlink(link.c_str());
    ::rmdir(dir.c_str());
}

// Libraries loaded one after the other by path stay apart even when the
// loader is handed the same descriptor number for each.
TEST(DynamicLibrary, TwoFilesByPathAreTwoLibraries) {
    DynamicLibrary first, second;
    {
        EnvVar v("ECR_LIB_VENDORA", ORVANTA_FAKES_DIR "/libdibalscop.so");
        ASSERT_TRUE(first.Load("VendorA.dll")) << first.Error();
    }
    {
        EnvVar v("ECR_LIB_VENDORB", ORVANTA_SHARED_LIB);
        ASSERT_TRUE(second.Load("VendorB.dll")) << second.Error();
    }
    EXPECT_NE(first.Symbol("ItemsSend"), nullptr);
    EXPECT_EQ(first.Symbol("EcrIsDone"), nullptr);
    EXPECT_NE(second.Symbol("EcrIsDone"), nullptr);
    EXPECT_EQ(second.Symbol("ItemsSend"), nullptr);
}

// A library the process already holds under its own path (a host, or a
// test, loaded it itself) is found again when named by path, and that
// must not make the next file loaded by path the same library.
TEST(DynamicLibrary, AFileAlreadyLoadedByItsPathIsNoOtherFile) {
    DynamicLibrary held, first, second;
    {
        EnvVar v("ECR_LIB_HELD", ORVANTA_FAKES_DIR "/libdibalscop.so");
        ASSERT_TRUE(held.Load("Held.dll")) << held.Error();
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        DynamicLibrary& lib = round == 0 ? first : second;
        const char* path = round == 0 ? ORVANTA_FAKES_DIR "/libdibalscop.so" : ORVANTA_SHARED_LIB;
        EnvVar v("ECR_LIB_BYPATH", path);
        ASSERT_TRUE(lib.Load("ByPath.dll")) << lib.Error();
    }
    EXPECT_NE(first.Symbol("ItemsSend"), nullptr);
    EXPECT_NE(second.Symbol("EcrIsDone"), nullptr);
    EXPECT_EQ(second.Symbol("ItemsSend"), nullptr);
}

}  // namespace
