// Loading with dlopen: "winip.dll" is looked for as "libwinip.so".
#include <dlfcn.h>

#include <mutex>

#include "platform/dynamic_library.h"
#include "platform/dynamic_library_os.h"

namespace orv::platform::detail {

namespace {
// dlerror() is one text per process: read it under a lock.
std::mutex g_dlerrorMutex;
}  // namespace

std::string NativeLibraryName(const std::string& windowsName) { return SharedObjectName(windowsName); }

void* OpenLibrary(const std::string& file, std::string& error) {
    std::lock_guard<std::mutex> lock(g_dlerrorMutex);
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        error = e ? e : "dlopen failed";
    }
    return handle;
}

void* LibrarySymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void CloseLibrary(void* handle) { ::dlclose(handle); }

}  // namespace orv::platform::detail
