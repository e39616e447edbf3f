// The device simulator ecr-sim as a child process, for tests that use it as
// a person integrating a host would: start it, read its first line, stop it
// with a signal.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace orv::test {

inline std::string SimulatorPath() { return std::string(ORVANTA_BINARY_DIR) + "/tools/ecr-sim"; }

// Starts the simulator with its output on a pipe; returns the first line.
struct Simulator {
    pid_t pid = -1;
    FILE* out = nullptr;

    std::string Start(const std::vector<std::string>& args) {
        // Everything the child needs is made before the fork.
        std::string path = SimulatorPath();
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        argv.push_back(path.data());
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return {};
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fdopen(fds[0], "r");
        char line[256] = {};
        if (!out || !fgets(line, sizeof line, out)) return {};
        std::string s = line;
        if (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
    }
    int Stop(int sig) {
        if (pid <= 0) return -1;
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        if (out) fclose(out);
        out = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Simulator() { Stop(SIGKILL); }
};

}  // namespace orv::test
