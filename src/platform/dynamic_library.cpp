#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
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

// dlerror() is one text per process: read it under a lock.
std::mutex g_dlerrorMutex;

}  // namespace

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
    return SharedObjectName(windowsName);
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
    std::lock_guard<std::mutex> lock(g_dlerrorMutex);
    m_handle = ::dlopen(m_file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* e = ::dlerror();
        m_error = e ? e : "dlopen failed";
        return false;
    }
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!m_handle || !name) return nullptr;
    return ::dlsym(m_handle, name);
}

void DynamicLibrary::Release() {
    if (m_handle) ::dlclose(m_handle);
    m_handle = nullptr;
}

}  // namespace orv::platform
