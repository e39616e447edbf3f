// Vendor libraries: the Windows file name -> shared object rule, the
// variable that names another file, loading, symbols and release.
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

}  // namespace
