#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orv::platform {

namespace {

// Opens without blocking (a FIFO without a reader fails at once instead of
// holding the caller) and without following a link, then checks that a
// plain file came out and makes the descriptor blocking again.
int OpenPlain(const std::string& path, int flags, mode_t mode, bool ownFile) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat st {};
    int refusal = 0;
    if (::fstat(fd, &st) != 0)
        refusal = errno;
    else if (!S_ISREG(st.st_mode))
        refusal = EINVAL;
    else if (ownFile && st.st_nlink > 1)
        refusal = EMLINK;
    if (refusal == 0) {
        const int fl = ::fcntl(fd, F_GETFL);
        if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) refusal = errno;
    }
    if (refusal != 0) {
        ::close(fd);
        errno = refusal;
        return -1;
    }
    return fd;
}

}  // namespace

int OpenPlainFileForWriting(const std::string& path, mode_t mode) {
    const int fd = OpenPlain(path, O_WRONLY | O_CREAT, mode, true);
    // Emptied only once it is known to be a plain file of its own.
    if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int OpenPlainFileForReading(const std::string& path) { return OpenPlain(path, O_RDONLY, 0, false); }

}  // namespace orv::platform
