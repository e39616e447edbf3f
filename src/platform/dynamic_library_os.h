// What the shared part of dynamic_library.cpp needs from each system's
// loader (posix/ and win32/ define these).
#pragma once

#include <string>

namespace orv::platform::detail {

// The file a Windows library name is loaded from when no variable names
// another one: "libwinip.so" with dlopen, the name itself on Windows.
std::string NativeLibraryName(const std::string& windowsName);

// Loads the file (a bare name by the loader's search, else the path):
// the handle, or null with the loader's text in error.
void* OpenLibrary(const std::string& file, std::string& error);
void* LibrarySymbol(void* handle, const char* name);
void CloseLibrary(void* handle);

}  // namespace orv::platform::detail
