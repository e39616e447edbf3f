#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

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

int OpenPlainFileForWriting(const std::string& path, unsigned mode) {
    const int fd = OpenPlain(path, O_WRONLY | O_CREAT, static_cast<mode_t>(mode), true);
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

int CreateNewFile(const std::string& path, bool privateFile) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, privateFile ? 0600 : 0644);
}

int CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     std::string& name) {
    const std::string tmpl = dir + "/" + prefix + "XXXXXX" + suffix;
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    const int fd = ::mkostemps(buf.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd >= 0) name = buf.data();
    return fd;
}

bool ReadToEnd(int fd, std::string& out, size_t maxSize) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) > maxSize)) return false;
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > maxSize) return false;
    }
}

bool ReadFileContents(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ReadToEnd(fd, out);
    ::close(fd);
    return ok;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

}  // namespace orv::platform
