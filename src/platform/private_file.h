// Private files the library writes (traffic dumps, logs, job files): opened
// in place under a fixed name, never through a link planted under it.
#pragma once

#include <cstddef>
#include <string>

namespace orv::platform {

// Opens `path` for writing, emptied, as a private plain file (mode 0600) of
// this process's user. An existing plain file of ours with a single link is
// reused in place (no rename, no flush to disk); anything else standing
// under the name (a symbolic or hard link, a FIFO, a device, another user's
// file) is removed and a fresh file created exclusively, so nothing is ever
// written through it. Never blocks. Returns the descriptor (write-only,
// close-on-exec), or -1 (a directory under the name, no such folder, ...).
int OpenPrivateFile(const std::string& path);

// Writes all of `size` bytes; false on any failure.
bool WriteFully(int fd, const void* data, size_t size);

void CloseFile(int fd);

}  // namespace orv::platform
