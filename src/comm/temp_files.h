// Files of the traffic dumps and logs in the temporary directory.
#pragma once

#include <cstddef>
#include <string>

namespace orv::comm {

// Creates (or replaces) the file `name` in the temporary directory without
// ever following a link planted under that name: a fresh private file
// (mode 0600) is made next to it and renamed over the name. `content` of
// `size` bytes is written before the rename, so a reader never sees a half
// file. Returns the open descriptor (write-only, close-on-exec), or -1.
int CreateTempFile(const std::string& name, const void* content = nullptr, size_t size = 0);
// The same for a file at `path` (relative to the working directory or
// absolute).
int CreateFileReplacing(const std::string& path, const void* content = nullptr, size_t size = 0);

// Writes all of `size` bytes; false on any failure.
bool WriteFully(int fd, const void* data, size_t size);

}  // namespace orv::comm
