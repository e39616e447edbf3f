// Private files the library writes (traffic dumps, logs, job files): opened
// in place under a fixed name, never through a link planted under it.
#pragma once

#include <cstddef>
#include <string>

namespace orv::platform {

// Opens `path` for writing as a private plain file (mode 0600) of this
// process's user holding exactly the `size` bytes of `content`, and leaves
// the descriptor (write-only, close-on-exec) positioned after them. An
// existing plain file of ours with a single link is rewritten in place: the
// new bytes over the old ones, then cut to length only when the old file was
// longer. That keeps the file system from flushing the file to disk, as it
// does for a file renamed over another or emptied and written again.
// Anything else standing under the name (a symbolic or hard link, a FIFO, a
// device, another user's file) is removed and a fresh file created
// exclusively, so nothing is ever written through it. Never blocks. Returns
// -1 when no such file can be had (a directory under the name, no such
// folder, a failed write, ...).
int OpenPrivateFile(const std::string& path, const void* content = nullptr, size_t size = 0);

// Writes all of `size` bytes; false on any failure.
bool WriteFully(int fd, const void* data, size_t size);

// Closes the descriptor (nothing for -1); false when the close failed.
bool CloseFile(int fd);

}  // namespace orv::platform
