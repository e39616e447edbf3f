// Private files on Windows: rewritten in place when a plain file of a
// single name stands there, else made anew.
#include "platform/private_file.h"

#include <io.h>

#include <cerrno>
#include <cstdint>

#include "platform/win32/file_handles.h"
#include "platform/win32/win32_text.h"

namespace orv::platform {
namespace {

// The descriptor and the size the file had; -1 when there is none.
int OpenInPlace(const std::string& path, uint64_t& oldSize) {
    oldSize = 0;
    HANDLE h = win32::OpenNoFollow(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (h != INVALID_HANDLE_VALUE) {
        if (win32::PlainFileRefusal(h, true, &oldSize) == 0) return win32::DescriptorFor(h, true);
        ::CloseHandle(h);
    } else {
        const DWORD e = ::GetLastError();
        if (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) return -1;   // no such folder and the like
    }
    // Something else stands under the name (a link, a read-only or foreign
    // file, one with further names): take the name away and make our own.
    // A directory cannot be removed, and then there is no file.
    if (!::DeleteFileW(win32::Widen(path).c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return -1;
    h = win32::OpenNoFollow(path, GENERIC_WRITE, CREATE_NEW);
    return h == INVALID_HANDLE_VALUE ? -1 : win32::DescriptorFor(h, true);
}

}  // namespace

int OpenPrivateFile(const std::string& path, const void* content, size_t size) {
    uint64_t oldSize = 0;
    const int fd = OpenInPlace(path, oldSize);
    if (fd < 0) return -1;
    bool ok = WriteFully(fd, content, size);
    if (ok && oldSize > size) ok = ::_chsize_s(fd, static_cast<__int64>(size)) == 0;
    if (!ok) {
        ::_close(fd);
        return -1;
    }
    return fd;
}

bool WriteFully(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const unsigned chunk = size > 0x40000000 ? 0x40000000u : static_cast<unsigned>(size);
        const int n = ::_write(fd, p, chunk);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CloseFile(int fd) { return fd < 0 || ::_close(fd) == 0; }

}  // namespace orv::platform
