// Every call into the host goes through CallHost, so that a thunk that saves
// and restores registers around foreign callbacks can be added in one place
// on platforms that need it, and so that an exception a host's callback
// throws (a C++ host) never unwinds through the library: it is caught at
// once and ends the job (see HostCallbackThrew).
#pragma once

#include <cxxabi.h>

// Called when a host callback has thrown: the job running on this thread
// ends as failed (defined with the job engine).
void HostCallbackThrew() noexcept;

// Calls a host callback; a null callback is the empty function.
template <class Fn, class... Args>
inline void CallHost(Fn fn, Args... args) {
    if (!fn) return;
    try {
        fn(args...);
    } catch (abi::__forced_unwind&) {
        throw;   // the thread is being cancelled: that must go on
    } catch (...) {
        HostCallbackThrew();
    }
}
