// Runs ecrctl, the example host, as a separate program and collects what
// it prints (shared by the tests of this folder).
#pragma once

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace orv::test::ecrctl {

inline const std::string kEcrctl = std::string(ORVANTA_BINARY_DIR) + "/tools/ecrctl";

struct Result {
    int status = -1;     // exit status, or -1 when it did not exit normally
    int signal = 0;      // the signal that ended it, else 0
    std::string out;
    std::string err;
};

// Runs ecrctl with the arguments; `whileRunning` (if any) is called with the
// child's pid while it runs.
inline Result RunEcrctl(const std::vector<std::string>& args, const std::function<void(pid_t)>& whileRunning = nullptr) {
    Result r;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&fa, outPipe[0]);
    posix_spawn_file_actions_addclose(&fa, errPipe[0]);
    std::vector<std::string> all{kEcrctl};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, kEcrctl.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return r;
    }
    std::thread reader([&] {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            if (poll(fds, 2, 60000) <= 0) break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buf[4096];
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    fds[i].fd = -1;
                    --open;
                    continue;
                }
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    });
    if (whileRunning) whileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    reader.join();
    close(outPipe[0]);
    close(errPipe[0]);
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace orv::test::ecrctl
