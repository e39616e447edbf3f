#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orv::platform {
namespace {

constexpr int kOpenFlags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;

// A file we may write over in place: a plain file of ours that no other
// name shares.
bool OwnPlainFile(int fd, struct stat& st) {
    static const uid_t self = ::geteuid();
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == self && st.st_nlink == 1;
}

// The descriptor and the size the file had; -1 when there is none.
int OpenInPlace(const std::string& path, off_t& oldSize) {
    oldSize = 0;
    // Without O_TRUNC: a hard link's other name must keep its content, so the
    // file is cut only once it is known to be ours alone.
    int fd = ::open(path.c_str(), kOpenFlags | O_CREAT, kPrivateMode);
    if (fd >= 0) {
        struct stat st {};
        if (OwnPlainFile(fd, st)) {
            if ((st.st_mode & 07777) != kPrivateMode) ::fchmod(fd, kPrivateMode);
            oldSize = st.st_size;
            return fd;
        }
        ::close(fd);
    } else if (errno != ELOOP && errno != ENXIO && errno != EISDIR && errno != EACCES && errno != EPERM &&
               errno != ETXTBSY) {
        return -1;   // no such folder and the like: nothing to replace
    }
    // Something else stands under the name (a link, a FIFO without a reader,
    // a device, another user's file): take the name away and make our own.
    // A directory cannot be unlinked, and then there is no file.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return -1;
    return ::open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, kPrivateMode);
}

}  // namespace

int OpenPrivateFile(const std::string& path, const void* content, size_t size) {
    off_t oldSize = 0;
    const int fd = OpenInPlace(path, oldSize);
    if (fd < 0) return -1;
    bool ok = WriteFully(fd, content, size);
    if (ok && oldSize > static_cast<off_t>(size)) ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool WriteFully(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CloseFile(int fd) { return fd < 0 || ::close(fd) == 0; }

}  // namespace orv::platform
