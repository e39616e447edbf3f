// Files a job writes for a vendor's program or reads back from it, in
// places other processes can reach (the working directory, the temporary
// directory): whatever stands under the name, opening never blocks and
// never follows a symbolic link.
#pragma once

#include <sys/types.h>

#include <string>

namespace orv::platform {

// Opens `path` for writing, creating it with `mode` when it is missing and
// emptying it otherwise, only when the name holds a plain file of its own:
// a symbolic link is never followed, a FIFO or a device is never waited on,
// and a file with further hard links (someone else's file under this name)
// is left alone. The descriptor is blocking and close-on-exec; -1 (errno
// set) when the file is refused or cannot be opened.
int OpenPlainFileForWriting(const std::string& path, mode_t mode = 0644);

// Opens an existing plain file for reading the same way; -1 otherwise.
int OpenPlainFileForReading(const std::string& path);

}  // namespace orv::platform
