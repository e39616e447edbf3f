// A fresh temporary directory per test, handed to the library as $TMPDIR.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orv::test {

class ScopedTempDir {
public:
    ScopedTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orv_protocol_XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (::mkdtemp(buf.data()) != nullptr) m_path = buf.data();
        if (const char* old = std::getenv("TMPDIR")) m_previous = old;
        ::setenv("TMPDIR", m_path.c_str(), 1);
    }
    ~ScopedTempDir() {
        if (m_previous) ::setenv("TMPDIR", m_previous->c_str(), 1);
        else ::unsetenv("TMPDIR");
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

    // Names of the regular files and links in the directory, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_path)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
    std::optional<std::string> m_previous;
};

}  // namespace orv::test
