// Waiting on a system object together with the break (Win32).
#pragma once

#include <windows.h>

#include "platform/break_signal.h"

namespace orv::platform::win32 {

// Waits until `object` is signalled, the break is set, or timeoutMs passes
// (-1 without limit): kWaitReady, kWaitBroken or kWaitTimeout (kWaitLost
// when the wait itself fails). The object wins over a break set at the same
// time. A null break waits on the object alone.
int WaitObjectOrBreak(HANDLE object, const BreakSignal* brk, int timeoutMs);

}  // namespace orv::platform::win32
