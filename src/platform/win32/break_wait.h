// Waits on Win32 handles together with a break signal (Win32 only).
#pragma once

#include <windows.h>

#include "platform/break_signal.h"

namespace orv::platform::win32 {

// Waits until one of `count` handles (at most 3) is signalled, the break is
// set, or timeoutMs passes (-1 without limit). kWaitReady with the index of
// the handle in *which, kWaitBroken, kWaitTimeout, or kWaitLost when the
// wait itself failed. A set break wins over a signalled handle.
int WaitForHandles(const HANDLE* handles, int count, const BreakSignal* brk, int timeoutMs, int* which);

// The Win32 time-out of a wait: INFINITE for -1.
inline DWORD WaitMillis(int timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

}  // namespace orv::platform::win32
