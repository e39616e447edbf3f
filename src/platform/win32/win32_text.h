// Helpers of the Win32 backends: names between the library's narrow
// strings (the ANSI code page, as the C runtime's getenv gives them) and the
// wide API, and Win32 error codes as errno values.
#pragma once

#include <windows.h>

#include <string>

namespace orv::platform::win32 {

std::wstring Widen(const std::string& text);
// Narrow text of a wide one; for a path whose characters the code page
// lacks, its short (8.3) form, which has none of them.
std::string NarrowPath(const std::wstring& path);
// The system's text of a Win32 error code, without the line end.
std::string ErrorText(DWORD code);
// The errno value nearest to a Win32 error code.
int ErrnoFromError(DWORD code);

}  // namespace orv::platform::win32
