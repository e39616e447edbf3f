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
bool OwnPlainFile(int fd, mode_t& mode) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    mode = st.st_mode;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

int OpenFresh(const std::string& path) {
    return ::open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, kPrivateMode);
}

}  // namespace

int OpenPrivateFile(const std::string& path) {
    // Without O_TRUNC: a hard link's other name must keep its content, so the
    // file is emptied only once it is known to be ours alone.
    int fd = ::open(path.c_str(), kOpenFlags | O_CREAT, kPrivateMode);
    if (fd >= 0) {
        mode_t mode = 0;
        if (OwnPlainFile(fd, mode)) {
            if (::ftruncate(fd, 0) != 0) {
                ::close(fd);
                return -1;
            }
            if ((mode & 07777) != kPrivateMode) ::fchmod(fd, kPrivateMode);
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
    return OpenFresh(path);
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

void CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace orv::platform
