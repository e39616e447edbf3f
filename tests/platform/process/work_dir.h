// A private working directory for one test: created under /tmp, made the
// current directory and the temporary directory (TMPDIR) for the test's
// duration, removed afterwards. The fake transfer program can be placed in
// it under any name.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

class WorkDir : public FakeFolder {
public:
    WorkDir() {
        char pattern[] = "/tmp/orvanta_scales_XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_path = made ? made : "/tmp";
        m_root = m_path;
        m_oldCwd = std::filesystem::current_path();
        std::filesystem::current_path(m_path);
        const char* tmp = std::getenv("TMPDIR");
        if (tmp) m_oldTmp = tmp;
        ::setenv("TMPDIR", m_path.c_str(), 1);
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::current_path(m_oldCwd, ec);
        if (m_oldTmp)
            ::setenv("TMPDIR", m_oldTmp->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        std::filesystem::remove_all(m_path, ec);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

    // The fake transfer program, linked in under `name`.
    void InstallFake(const std::string& name) const {
        std::filesystem::create_symlink(std::string(ORVANTA_FAKES_DIR) + "/fake_transfer", File(name));
    }

    // Waits (at most 10 s) until the fake has written its process id.
    int WaitForPid() const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            const std::string text = Read("fake_pid").value_or("");
            if (!text.empty()) return std::atoi(text.c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }

private:
    std::string m_path;
    std::filesystem::path m_oldCwd;
    std::optional<std::string> m_oldTmp;
};

// True when no process with that id exists any more (it was reaped).
inline bool ProcessGone(int pid) { return pid > 0 && ::kill(pid, 0) != 0; }

// A host's SIGCHLD handler that reaps every child it can, as many do.
inline void ReapEveryChild(int) {
    const int saved = errno;
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
    errno = saved;
}

// What the host does with SIGCHLD, for the lifetime of the object.
class HostSigchld {
public:
    HostSigchld(void (*handler)(int), int flags) {
        struct sigaction host {};
        host.sa_handler = handler;
        host.sa_flags = flags;
        sigemptyset(&host.sa_mask);
        ::sigaction(SIGCHLD, &host, &m_old);
    }
    ~HostSigchld() { ::sigaction(SIGCHLD, &m_old, nullptr); }
    HostSigchld(const HostSigchld&) = delete;
    HostSigchld& operator=(const HostSigchld&) = delete;

private:
    struct sigaction m_old {};
};

}  // namespace orv::test
