// Every call into the host goes through CallHost, so that a thunk that saves
// and restores registers around foreign callbacks can be added in one place
// on platforms that need it.
#pragma once

// Calls a host callback; a null callback is the empty function.
template <class Fn, class... Args>
inline void CallHost(Fn fn, Args... args) {
    if (fn) fn(args...);
}
