// Message boxes without dialogs: a replaceable hook, and a default that
// appends each message to a log file in the temporary directory.
#include "platform/message_hook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <utility>

#include "util/cp1250_unicode.h"

namespace orv::platform {
namespace {

std::mutex g_hookMutex;
MessageHook g_hook;  // empty: the default hook

const char* KindName(MessageKind kind) {
    switch (kind) {
    case MessageKind::Question: return "question";
    case MessageKind::Prompt: return "prompt";
    case MessageKind::Notice: break;
    }
    return "notice";
}

void WriteAll(int fd, const std::string& line) {
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// Appends "<local time> [<kind>] <text>" to orvanta_messages.log, the text
// in UTF-8 so that a person can read it on a terminal. The file is
// never followed through a symbolic link, is created readable by the owner
// only, and must be a plain file. Failures are silent: a message that cannot
// be logged must not stop a job.
void AppendToLog(MessageKind kind, const std::string& text) {
    const std::string path = TempDirectory() + "/orvanta_messages.log";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char stamp[32] = "";
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (::localtime_r(&now, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        std::string line = std::string(stamp) + " [" + KindName(kind) + "] " + Cp1250ToUtf8(text) + "\n";
        WriteAll(fd, line);  // one write with O_APPEND keeps concurrent lines whole
    }
    ::close(fd);
}

}  // namespace

void SetMessageHook(MessageHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_hook = std::move(hook);
}

int ShowPlatformMessage(MessageKind kind, const std::string& text, int defaultAnswer) {
    MessageHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) {
        try {
            return hook(kind, text, defaultAnswer);
        } catch (...) {
            // A failing hook answers like the default one.
            return defaultAnswer;
        }
    }
    try {
        AppendToLog(kind, text);
    } catch (...) {
        // Out of memory while formatting: the message is lost, the job goes on.
    }
    return defaultAnswer;
}

namespace {

std::string LookUpTempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir != nullptr && dir[0] != '\0') ? dir : "/tmp";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::mutex g_tempMutex;
bool g_tempPinned = false;     // under g_tempMutex
std::string g_tempPinnedPath;  // under g_tempMutex

}  // namespace

std::string TempDirectory() {
    {
        std::lock_guard<std::mutex> lock(g_tempMutex);
        if (g_tempPinned) return g_tempPinnedPath;
    }
    return LookUpTempDirectory();
}

void PinTempDirectory() {
    std::string path = LookUpTempDirectory();
    std::lock_guard<std::mutex> lock(g_tempMutex);
    g_tempPinnedPath = std::move(path);
    g_tempPinned = true;
}

void UnpinTempDirectory() {
    std::lock_guard<std::mutex> lock(g_tempMutex);
    g_tempPinned = false;
}

}  // namespace orv::platform
