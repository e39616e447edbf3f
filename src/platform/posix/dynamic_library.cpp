// Loading with dlopen: "winip.dll" is looked for as "libwinip.so".
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
// The path of the descriptor for dlopen, "" without /proc. The loader
// takes a library already loaded under the same name for this one (it
// remembers every name a library was asked for by), and descriptor numbers
// come again: so each load spells the path in a way no earlier load did
// (extra slashes, counted by a process-wide number), and only the file
// itself (the same file already loaded) can then be found.
std::string DescriptorPath(int fd) {
    const std::string number = std::to_string(fd);
    if (::access(("/proc/self/fd/" + number).c_str(), F_OK) != 0) return std::string();
    static std::atomic<unsigned> loads{0};
    const unsigned k = loads.fetch_add(1);
    return "/proc" + std::string(1 + k % 64, '/') + "self" + std::string(1 + (k / 64) % 64, '/') + "fd" +
           std::string(1 + k / 4096, '/') + number;
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
    const std::string byDescriptor = DescriptorPath(fd);
    void* handle = byDescriptor.empty() ? Dlopen(file, file, error)   // no /proc
                                        : Dlopen(byDescriptor, file, error);
    ::close(fd);
    return handle;
}

void* LibrarySymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void CloseLibrary(void* handle) { ::dlclose(handle); }

}  // namespace orv::platform::detail
