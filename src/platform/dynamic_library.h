// Vendor libraries loaded at run time. The drivers name a library by its
// Windows file name ("winip.dll", "LIBPOSNET.DLL"); here that name stands
// for a shared object:
//   - lower case, ".dll" becomes ".so", "lib" in front unless it is there:
//     "winip.dll" -> "libwinip.so", "LIBPOSNET.DLL" -> "libposnet.so";
//   - the object is looked for by the loader's normal search
//     (LD_LIBRARY_PATH, the system's library directories, ...);
//   - the environment variable ECR_LIB_ + the name without ".dll" in upper
//     case (ECR_LIB_WINIP, ECR_LIB_LIBPOSNET) names another file to load
//     instead, by path.
// A loaded library stays loaded until Release (or the object's end); a
// driver that keeps its library for the life of the process simply never
// releases it.
#pragma once

#include <string>

namespace orv::platform {

// "winip.dll" -> "libwinip.so".
std::string SharedObjectName(const std::string& windowsName);
// "winip.dll" -> "ECR_LIB_WINIP".
std::string LibraryVariableName(const std::string& windowsName);
// The file that Load would open: the variable's value when it is set and
// not empty, else SharedObjectName.
std::string LibraryFileFor(const std::string& windowsName);

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // Loads the library a Windows file name stands for (see above); a
    // library already held is released first. False when it cannot be
    // loaded (Error() then tells why).
    bool Load(const std::string& windowsName);
    bool IsLoaded() const { return m_handle != nullptr; }
    // An exported symbol, or null when it is missing or nothing is loaded.
    void* Symbol(const char* name) const;
    template <class Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }
    // Unloads the library (nothing when none is held).
    void Release();

    // The file looked for by the last Load ("libwinip.so" or the path the
    // variable gave); for messages.
    const std::string& FileName() const { return m_file; }
    // The loader's text of the last failure.
    const std::string& Error() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_file;
    std::string m_error;
};

}  // namespace orv::platform
