#include "platform/dynamic_library.h"

#include "platform/dynamic_library_os.h"
#include "platform/message_hook.h"
#include "util/cp1250.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace orv::platform {

namespace {

std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The name without its directory and without a ".dll" ending.
std::string Stem(const std::string& windowsName) {
    std::string name = windowsName;
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".dll") name.resize(name.size() - 4);
    return name;
}

std::atomic<int> g_loads{0};
std::atomic<int> g_unloads{0};

}  // namespace

int DynamicLibraryLoads() { return g_loads.load(); }
int DynamicLibraryUnloads() { return g_unloads.load(); }

std::string SharedObjectName(const std::string& windowsName) {
    std::string stem = Lower(Stem(windowsName));
    if (stem.rfind("lib", 0) != 0) stem = "lib" + stem;
    return stem + ".so";
}

std::string LibraryVariableName(const std::string& windowsName) {
    std::string var = "ECR_LIB_";
    for (char c : Stem(windowsName)) {
        unsigned char u = static_cast<unsigned char>(c);
        var += std::isalnum(u) ? static_cast<char>(std::toupper(u)) : '_';
    }
    return var;
}

std::string LibraryFileFor(const std::string& windowsName) {
    const char* path = std::getenv(LibraryVariableName(windowsName).c_str());
    if (path && *path) return path;
    return detail::NativeLibraryName(windowsName);
}

DynamicLibrary::~DynamicLibrary() { Release(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)),
      m_file(std::move(other.m_file)),
      m_error(std::move(other.m_error)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Release();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_file = std::move(other.m_file);
        m_error = std::move(other.m_error);
    }
    return *this;
}

bool DynamicLibrary::Load(const std::string& windowsName) {
    Release();
    m_file = LibraryFileFor(windowsName);
    m_error.clear();
    m_handle = detail::OpenLibrary(m_file, m_error);
    if (!m_handle) {
        // The job's error names the file; the log keeps why it failed.
        const std::string why = m_error.rfind(m_file, 0) == 0 ? m_error : m_file + ": " + m_error;
        LogPlatformMessage(PL("Nie można załadować biblioteki ") + why);
        return false;
    }
    g_loads.fetch_add(1);
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle || !name) return nullptr;
    return detail::LibrarySymbol(m_handle, name);
}

void DynamicLibrary::Release() {
    if (m_handle) {
        detail::CloseLibrary(m_handle);
        g_unloads.fetch_add(1);
    }
    m_handle = nullptr;
}

}  // namespace orv::platform
