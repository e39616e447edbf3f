#include "platform/win32/wait.h"

#include "platform/win32/break_wait.h"

namespace orv::platform::win32 {

// The break's own wait, except that an object already signalled when the
// break comes still counts as ready (a program that has just ended has
// ended, whatever the host asks now).
int WaitObjectOrBreak(HANDLE object, const BreakSignal* brk, int timeoutMs) {
    const int r = WaitForHandles(&object, 1, brk, timeoutMs, nullptr);
    if (r == kWaitBroken && ::WaitForSingleObject(object, 0) == WAIT_OBJECT_0) return kWaitReady;
    return r;
}

}  // namespace orv::platform::win32
