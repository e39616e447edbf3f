// Message boxes: there are no dialogs here, so every message goes through a
// hook. The default hook appends the text (in UTF-8) to "orvanta_messages.log" in the
// temporary directory and answers with the default button at once.
#pragma once

#include <functional>
#include <string>

namespace orv::platform {

enum class MessageKind {
    Notice,    // information, no answer
    Question,  // yes/no; the answer is 1 for yes, 0 for no
    Prompt     // the operator must act, then confirm
};

// text is CP1250. Returns the answer (the default button for the default hook).
using MessageHook = std::function<int(MessageKind kind, const std::string& text, int defaultAnswer)>;

void SetMessageHook(MessageHook hook);   // empty hook restores the default
int ShowPlatformMessage(MessageKind kind, const std::string& text, int defaultAnswer = 0);
// A line for the log file alone (no hook, no answer): what a person looking
// into a failure needs beyond the job's error text. text is CP1250.
void LogPlatformMessage(const std::string& text);

// The temporary directory (no trailing separator): $TMPDIR when set, else
// /tmp; on Windows the system's (GetTempPathW: %TMP%, %TEMP%, ...).
// While a job runs it is the one looked up when the job started, so that the
// files written per frame do not look it up again.
std::string TempDirectory();
void PinTempDirectory();     // a job starts: look it up once and keep it
void UnpinTempDirectory();   // the job has ended

}  // namespace orv::platform
