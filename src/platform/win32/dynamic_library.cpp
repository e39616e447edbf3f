// Loading with LoadLibraryW: "winip.dll" is loaded as it is named, by the
// loader's search order (the program's folder, the system folders, the
// working directory, PATH), or from the path ECR_LIB_<NAME> gives.
#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/dynamic_library_os.h"
#include "platform/win32/win32_text.h"

namespace orv::platform::detail {

std::string NativeLibraryName(const std::string& windowsName) { return windowsName; }

void* OpenLibrary(const std::string& file, std::string& error) {
    // A missing library must not make the system ask the operator about it.
    DWORD oldMode = 0;
    const bool quiet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode) != 0;
    const HMODULE module = ::LoadLibraryW(win32::Widen(file).c_str());
    const DWORD code = ::GetLastError();
    if (quiet) ::SetThreadErrorMode(oldMode, nullptr);
    if (module == nullptr) error = file + ": " + win32::ErrorText(code);
    return reinterpret_cast<void*>(module);
}

void* LibrarySymbol(void* handle, const char* name) {
    const FARPROC proc = ::GetProcAddress(static_cast<HMODULE>(handle), name);
    return reinterpret_cast<void*>(reinterpret_cast<intptr_t>(proc));
}

void CloseLibrary(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace orv::platform::detail
