// The message log's file and the temporary directory on Windows.
#include <windows.h>

#include <vector>

#include "platform/message_hook_os.h"
#include "platform/win32/file_handles.h"
#include "platform/win32/win32_text.h"

namespace orv::platform::detail {

std::string SystemTempDirectory() {
    std::vector<wchar_t> buf(MAX_PATH + 2);
    DWORD n = ::GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = ::GetTempPathW(static_cast<DWORD>(buf.size()), buf.data());
    }
    if (n == 0 || n >= buf.size()) return ".";
    std::wstring path(buf.data(), n);
    // "C:\" keeps its separator; "C:\Temp\" loses it.
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return win32::NarrowPath(path);
}

void AppendToLogFile(const std::string& path, const std::string& line) {
    // Appending access alone: every write goes to the end, so the lines of
    // concurrent writers stay whole.
    const HANDLE h = win32::OpenNoFollow(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return;
    if (win32::PlainFileRefusal(h, false) == 0) {
        DWORD written = 0;
        ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    ::CloseHandle(h);
}

}  // namespace orv::platform::detail
