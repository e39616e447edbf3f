// Loading with dlopen: "winip.dll" is looked for as "libwinip.so".
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/dynamic_library_os.h"

namespace orv::platform::detail {

namespace {
// dlerror() is one text per process: read it under a lock.
std::mutex g_dlerrorMutex;

void* Dlopen(const std::string& file, const std::string& shownName, std::string& error) {
    std::lock_guard<std::mutex> lock(g_dlerrorMutex);
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        error = e ? e : "dlopen failed";
        // The loader names the descriptor's path; the person wants the file.
        if (file != shownName) {
            for (size_t at = error.find(file); at != std::string::npos; at = error.find(file, at + shownName.size()))
                error.replace(at, file.size(), shownName);
        }
    }
    return handle;
}
}  // namespace

std::string NativeLibraryName(const std::string& windowsName) { return SharedObjectName(windowsName); }

void* OpenLibrary(const std::string& file, std::string& error) {
    // A bare name goes through the loader's search.
    if (file.find('/') == std::string::npos) return Dlopen(file, file, error);

    // A path is opened here first without blocking (a FIFO or a device
    // would hold the caller for ever inside dlopen), must be a plain file,
    // and the loader is given that very file through its descriptor.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = file + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = file + ": not a regular file";
        return nullptr;
    }
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(fd);
    void* handle = ::access(byDescriptor.c_str(), F_OK) == 0 ? Dlopen(byDescriptor, file, error)
                                                              : Dlopen(file, file, error);   // no /proc
    ::close(fd);
    return handle;
}

void* LibrarySymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void CloseLibrary(void* handle) { ::dlclose(handle); }

}  // namespace orv::platform::detail
