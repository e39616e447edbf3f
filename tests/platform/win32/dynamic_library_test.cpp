// Vendor libraries on Windows: loaded by their own name, or from the path
// the ECR_LIB_ variable gives, through LoadLibraryW.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/dynamic_library.h"

namespace {

using orv::platform::DynamicLibrary;
using orv::platform::LibraryFileFor;

// Sets a variable of the C runtime's environment for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::_putenv_s(name, value ? value : "");
    }
    ~EnvVar() { ::_putenv_s(m_name.c_str(), m_old.c_str()); }

private:
    std::string m_name, m_old;
};

TEST(Win32DynamicLibrary, WindowsNamesAreLoadedAsTheyAre) {
    EnvVar v("ECR_LIB_WINIP", nullptr);
    EXPECT_EQ(LibraryFileFor("winip.dll"), "winip.dll");
    EXPECT_EQ(LibraryFileFor("LIBPOSNET.DLL"), "LIBPOSNET.DLL");
}

TEST(Win32DynamicLibrary, LoadsByVariableFindsUndecoratedExportsAndReleases) {
    // The library itself: its exports are the undecorated Ecr* names.
    EnvVar v("ECR_LIB_ORVANTA", ORVANTA_SHARED_LIB);
    DynamicLibrary lib;
    ASSERT_TRUE(lib.Load("orvanta.dll")) << lib.Error();
    EXPECT_EQ(lib.FileName(), ORVANTA_SHARED_LIB);
    using IsDone = int (*)();
    const auto isDone = lib.Function<IsDone>("EcrIsDone");
    ASSERT_NE(isDone, nullptr);
    EXPECT_EQ(isDone(), 1);   // no job has run in that copy
    EXPECT_EQ(lib.Symbol("_EcrIsDone"), nullptr);
    EXPECT_EQ(lib.Symbol("NoSuchEntryPoint"), nullptr);
    lib.Release();
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_TRUE(lib.Load("orvanta.dll")) << lib.Error();
}

TEST(Win32DynamicLibrary, FakeVendorLibraryByVariable) {
    const std::string path = std::string(ORVANTA_FAKES_DIR) + "/winip.dll";
    EnvVar v("ECR_LIB_WINIP", path.c_str());
    DynamicLibrary lib;
    ASSERT_TRUE(lib.Load("winip.dll")) << lib.Error();
    EXPECT_NE(lib.Symbol("__ModStart"), nullptr);
}

TEST(Win32DynamicLibrary, MissingLibraryFailsWithItsNameAndTheSystemsText) {
    EnvVar v("ECR_LIB_NOSUCHVENDOR", nullptr);
    DynamicLibrary lib;
    EXPECT_FALSE(lib.Load("NoSuchVendor.dll"));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_EQ(lib.FileName(), "NoSuchVendor.dll");
    EXPECT_EQ(lib.Error().rfind("NoSuchVendor.dll: ", 0), 0u) << lib.Error();
    EXPECT_GT(lib.Error().size(), std::string("NoSuchVendor.dll: ").size());
}

}  // namespace
