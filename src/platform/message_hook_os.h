// What the shared part of message_hook.cpp needs from each system
// (posix/ and win32/ define these).
#pragma once

#include <string>

namespace orv::platform::detail {

// The system's temporary directory, without a trailing separator.
std::string SystemTempDirectory();

// Appends line in one write to the log file at path: created readable by
// its owner only, never followed through a link, only a plain file.
// Failures are silent.
void AppendToLogFile(const std::string& path, const std::string& line);

}  // namespace orv::platform::detail
