// A private working directory for one test of the Windows build: created in
// the temporary directory, made the current directory for the test's
// duration, removed afterwards. The fake transfer program of the build's
// fakes folder can be copied into it under any name.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/transfer_files.h"

namespace orv::test {

inline std::string Utf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The build's fakes folder, as a full path: the build names it from the
// folder the tests start in, which a WorkDir then leaves.
inline const std::filesystem::path& FakesDir() {
    static const std::filesystem::path dir = std::filesystem::absolute(ORVANTA_FAKES_DIR);
    return dir;
}

class WorkDir : public FakeFolder {
public:
    WorkDir() {
        FakesDir();
        m_old = std::filesystem::current_path();
        const auto base = std::filesystem::temp_directory_path();
        for (int i = 0;; ++i) {
            m_root = base / ("orvanta_win_" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(i));
            std::error_code ec;
            if (std::filesystem::create_directory(m_root, ec)) break;
        }
        std::filesystem::current_path(m_root);
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
        // A program just ended may hold its file a moment longer.
        for (int i = 0; i < 50; ++i) {
            std::filesystem::remove_all(m_root, ec);
            if (!ec) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    // The current directory as the system reports it (UTF-8).
    std::string Path() const {
        wchar_t cwd[MAX_PATH];
        const DWORD n = ::GetCurrentDirectoryW(MAX_PATH, cwd);
        return Utf8(std::wstring(cwd, n));
    }
    std::filesystem::path File(const std::string& name) const { return m_root / name; }

    void InstallFake(const std::string& name) const {
        std::filesystem::copy_file(FakesDir() / "fake_transfer.exe", File(name),
                                   std::filesystem::copy_options::overwrite_existing);
    }

    void Remove(const std::string& name) const {
        std::error_code ec;
        std::filesystem::remove(File(name), ec);
    }

    // Waits (at most 20 s) until the file holds a process id.
    DWORD WaitForPid(const std::string& name = "fake_pid") const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            const std::string text = Read(name).value_or("");
            if (!text.empty()) return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }

private:
    std::filesystem::path m_old;
};

// True when no process with that id runs any more.
inline bool ProcessGone(DWORD pid) {
    if (pid == 0) return false;
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return true;
    const bool gone = ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    ::CloseHandle(h);
    return gone;
}

}  // namespace orv::test
