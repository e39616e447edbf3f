// Files of the traffic dumps and logs in the temporary directory.
#pragma once

#include <cstddef>
#include <string>

#include "platform/private_file.h"

namespace orv::comm {

// Creates (or empties) the private file `name` in the temporary directory
// without ever writing through a link planted under that name (see
// OpenPrivateFile) and writes `content` of `size` bytes into it. Returns the
// open descriptor (write-only, close-on-exec), or -1.
int CreateTempFile(const std::string& name, const void* content = nullptr, size_t size = 0);
// The same for a file at `path` (relative to the working directory or
// absolute).
int CreateFileReplacing(const std::string& path, const void* content = nullptr, size_t size = 0);

using orv::platform::WriteFully;

}  // namespace orv::comm
