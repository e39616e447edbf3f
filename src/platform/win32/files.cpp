// Files of the jobs on Windows: CreateFileW handles as C runtime descriptors.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <random>

#include "platform/private_file.h"
#include "platform/win32/file_handles.h"
#include "platform/win32/win32_text.h"

namespace orv::platform {

namespace win32 {

HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD disposition) {
    const std::wstring wide = Widen(path);
    if (wide.empty()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    // Not inheritable (no security attributes): the close-on-exec of the
    // POSIX descriptors.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    if ((access & GENERIC_WRITE) == 0) share |= FILE_SHARE_WRITE;
    return ::CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

int PlainFileRefusal(HANDLE h, bool singleLink, uint64_t* size) {
    if (::GetFileType(h) != FILE_TYPE_DISK) return EINVAL;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return ErrnoFromError(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ELOOP;
    if (singleLink && info.nNumberOfLinks > 1) return EMLINK;
    if (size != nullptr) *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return 0;
}

int DescriptorFor(HANDLE h, bool forWriting) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), (forWriting ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

}  // namespace win32

namespace {

// A handle of a plain file, or -1 with errno set (the handle closed).
int CheckedDescriptor(HANDLE h, bool forWriting, bool singleLink) {
    if (h == INVALID_HANDLE_VALUE) {
        errno = win32::ErrnoFromError(::GetLastError());
        return -1;
    }
    const int refusal = win32::PlainFileRefusal(h, singleLink);
    if (refusal != 0) {
        ::CloseHandle(h);
        errno = refusal;
        return -1;
    }
    return win32::DescriptorFor(h, forWriting);
}

}  // namespace

int OpenPlainFileForWriting(const std::string& path, unsigned) {
    const HANDLE h = win32::OpenNoFollow(path, GENERIC_WRITE, OPEN_ALWAYS);
    const int fd = CheckedDescriptor(h, true, true);
    // Emptied only once it is known to be a plain file of its own.
    if (fd >= 0 && ::_chsize_s(fd, 0) != 0) {
        const int e = errno;
        ::_close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int OpenPlainFileForReading(const std::string& path) {
    return CheckedDescriptor(win32::OpenNoFollow(path, GENERIC_READ, OPEN_EXISTING), false, false);
}

int CreateNewFile(const std::string& path, bool) {
    // CREATE_NEW fails for any name already taken, a dangling link too.
    const HANDLE h = win32::OpenNoFollow(path, GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
        errno = win32::ErrnoFromError(::GetLastError());
        return -1;
    }
    return win32::DescriptorFor(h, true);
}

int CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     std::string& name) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string unique;
        for (int i = 0; i < 6; ++i) unique += kLetters[random() % (sizeof kLetters - 1)];
        const std::string path = dir + "\\" + prefix + unique + suffix;
        const int fd = CreateNewFile(path, true);
        if (fd >= 0) {
            name = path;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

bool ReadToEnd(int fd, std::string& out, size_t maxSize) {
    const __int64 size = ::_filelengthi64(fd);
    if (size < 0 || static_cast<uint64_t>(size) > maxSize) return false;
    out.clear();
    char buf[65536];
    for (;;) {
        const int n = ::_read(fd, buf, sizeof buf);
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > maxSize) return false;
    }
}

bool ReadFileContents(const std::string& path, std::string& out) {
    const std::wstring wide = win32::Widen(path);
    const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const int fd = win32::DescriptorFor(h, false);
    if (fd < 0) return false;
    const bool ok = ReadToEnd(fd, out);
    ::_close(fd);
    return ok;
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(win32::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int RemoveFile(const std::string& path) {
    if (::DeleteFileW(win32::Widen(path).c_str())) return 0;
    return win32::ErrnoFromError(::GetLastError());
}

}  // namespace orv::platform
