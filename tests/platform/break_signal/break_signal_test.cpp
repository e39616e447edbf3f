// The break signal's waits on Linux when the system gives it no event
// descriptor (the process has run out of them): the signal is then only its
// flag, and a wait for it must still see it.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/break_signal.h"
#include "platform/clock.h"

namespace {

using namespace orv::platform;

// Fills the process's descriptor table, so that the next signal gets none;
// the descriptors it opened, last first.
std::vector<int> UseUpDescriptors() {
    rlimit lim{64, 64};
    setrlimit(RLIMIT_NOFILE, &lim);
    std::vector<int> fds;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) fds.insert(fds.begin(), fd);
    return fds;
}

// In a child process: 0 when the wait saw the signal set 100 ms after it
// began, in time; 2 when the signal had a descriptor after all.
int WaitForASignalWithoutDescriptor(const BreakSignal* brk) {
    const std::vector<int> fds = UseUpDescriptors();
    BreakSignal done;
    if (done.fd() >= 0) return 2;
    // Room again for what the runtime (and a sanitizer's) may open.
    for (size_t i = 0; i < fds.size() && i < 8; ++i) close(fds[i]);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        done.Set();
    });
    const int64_t t0 = MonotonicMillis();
    const int r = WaitForSignal(done, brk, 3000);
    const int64_t took = MonotonicMillis() - t0;
    setter.join();
    return r == kWaitReady && took < 1000 ? 0 : 1;
}

TEST(BreakSignalWithoutDescriptor, AWaitForItSeesItsFlag) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(_exit(WaitForASignalWithoutDescriptor(nullptr)), testing::ExitedWithCode(0), "");
    BreakSignal brk;   // made before the table is full: it has its descriptor
    EXPECT_EXIT(_exit(WaitForASignalWithoutDescriptor(&brk)), testing::ExitedWithCode(0), "");
}

}  // namespace
