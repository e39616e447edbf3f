// File handles of the Win32 file backends (files.cpp, private_file.cpp,
// message_log.cpp): opened without following a link or waiting on a device,
// checked for a plain file, and handed on as C runtime descriptors.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace orv::platform::win32 {

// CreateFileW with the link itself opened rather than followed. Others may
// read and remove the file meanwhile, and write it too unless it is opened
// for writing (appending shares writing: every write goes to the end).
// INVALID_HANDLE_VALUE on failure (GetLastError set).
HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD disposition);

// 0 when the handle is a plain file on a disk (no directory, link, device
// or pipe) with no further names when singleLink is asked for; else the
// errno value of the refusal. Its size goes to *size.
int PlainFileRefusal(HANDLE h, bool singleLink, uint64_t* size = nullptr);

// A C runtime descriptor owning the handle (the handle is closed when none
// can be had): -1 then, errno set.
int DescriptorFor(HANDLE h, bool forWriting);

}  // namespace orv::platform::win32
