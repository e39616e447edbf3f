// Files a job writes for a vendor's program or reads back from it, in
// places other processes can reach (the working directory, the temporary
// directory): whatever stands under the name, opening never blocks and
// never follows a symbolic link. Descriptors are the C runtime's (on
// Windows over a handle of the file); write them with WriteFully and close
// them with CloseFile (platform/private_file.h).
#pragma once

#include <cstddef>
#include <string>

namespace orv::platform {

// Opens `path` for writing, creating it with `mode` when it is missing and
// emptying it otherwise, only when the name holds a plain file of its own:
// a symbolic link is never followed, a FIFO or a device is never waited on,
// and a file with further hard links (someone else's file under this name)
// is left alone. The descriptor is blocking and close-on-exec; -1 (errno
// set) when the file is refused or cannot be opened. (Windows has no mode
// bits: a new file gets its folder's permissions.)
int OpenPlainFileForWriting(const std::string& path, unsigned mode = 0644);

// Opens an existing plain file for reading the same way; -1 otherwise.
int OpenPlainFileForReading(const std::string& path);

// Creates `path` only when nothing stands under the name (not even a
// dangling link) and opens it for writing; private (0600, else 0644) keeps
// it to this user. -1 (errno set) otherwise.
int CreateNewFile(const std::string& path, bool privateFile);

// Creates a fresh file `dir`/`prefix` + unique part + `suffix` exclusively
// (0600) and opens it for writing; its path goes to `name`. -1 otherwise.
int CreateUniqueFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                     std::string& name);

// Reads the rest of the file to `out`: false on a read failure or when it
// holds more than maxSize bytes.
bool ReadToEnd(int fd, std::string& out, size_t maxSize = static_cast<size_t>(-1));
// Reads the whole file at `path` (false when it cannot be opened or read).
bool ReadFileContents(const std::string& path, std::string& out);

// Whether anything that can be opened stands under the name.
bool PathExists(const std::string& path);

// Removes the name: 0, or the errno of the failure (ENOENT: there was none).
int RemoveFile(const std::string& path);

}  // namespace orv::platform
