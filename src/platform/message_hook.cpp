// Message boxes without dialogs: a replaceable hook, and a default that
// appends each message to a log file in the temporary directory.
#include "platform/message_hook.h"

#include <ctime>
#include <mutex>
#include <utility>

#include "platform/classic_locale.h"
#include "platform/message_hook_os.h"
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

// Appends "<local time> [<kind>] <text>" to orvanta_messages.log, the text
// in UTF-8 so that a person can read it on a terminal. The file is
// never followed through a symbolic link, is created readable by the owner
// only, and must be a plain file. Failures are silent: a message that cannot
// be logged must not stop a job.
void AppendToLog(MessageKind kind, const std::string& text) {
    char stamp[32] = "";
    std::tm local{};
    if (ToLocalTime(std::time(nullptr), local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string line = std::string(stamp) + " [" + KindName(kind) + "] " + Cp1250ToUtf8(text) + "\n";
    detail::AppendToLogFile(TempDirectory() + "/orvanta_messages.log", line);
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

void LogPlatformMessage(const std::string& text) {
    try {
        AppendToLog(MessageKind::Notice, text);
    } catch (...) {
    }
}

namespace {

std::mutex g_tempMutex;
bool g_tempPinned = false;     // under g_tempMutex
std::string g_tempPinnedPath;  // under g_tempMutex

}  // namespace

std::string TempDirectory() {
    {
        std::lock_guard<std::mutex> lock(g_tempMutex);
        if (g_tempPinned) return g_tempPinnedPath;
    }
    return detail::SystemTempDirectory();
}

void PinTempDirectory() {
    std::string path = detail::SystemTempDirectory();
    std::lock_guard<std::mutex> lock(g_tempMutex);
    g_tempPinnedPath = std::move(path);
    g_tempPinned = true;
}

void UnpinTempDirectory() {
    std::lock_guard<std::mutex> lock(g_tempMutex);
    g_tempPinned = false;
}

}  // namespace orv::platform
