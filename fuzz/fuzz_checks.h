// Checks the fuzz targets share: a broken promise aborts, so that libFuzzer
// keeps the input.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace orv::fuzz {

[[noreturn]] inline void BrokenPromise(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// The files a job leaves (traffic dumps, sale logs) go to memory, not to
// the disk.
inline void KeepJobFilesInMemory() {
    constexpr const char* kDir = "/dev/shm/orvanta-fuzz";
    if (::mkdir(kDir, 0700) == 0 || errno == EEXIST) ::setenv("TMPDIR", kDir, 1);
}

// A fixed text field ends within its size.
template <size_t N>
bool Terminated(const char (&text)[N]) {
    return std::memchr(text, 0, N) != nullptr;
}

template <size_t N>
void CheckText(const char (&text)[N]) {
    if (!Terminated(text)) BrokenPromise("a record text without its end");
}

}  // namespace orv::fuzz
