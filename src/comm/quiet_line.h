// The quiet line: an answer the library no longer waits for (the exchange
// was broken off, or timed out while the device may still be sending) must
// never be read as the answer to a later command, in the same job or the
// next. After such an exchange the transports mark the line unsettled, and
// the next request on it first waits until the line has been silent for a
// while the device family sets, dropping whatever arrives meanwhile.
#pragma once

#include <functional>

namespace orv::comm {

enum class QuietLine {
    Quiet,          // silent for the quiet time
    StillTalking,   // input kept coming until the limit
    Broken,         // a break ended the wait
    Lost            // the device went away
};

// Drops input until the line has been silent for quietSeconds, for at most
// limitSeconds in all (library seconds, scaled like every wait). `drop`
// discards whatever input is held; `waitInput` waits up to the given real
// milliseconds for input and returns an orv::platform wait result
// (kWaitReady when input came).
QuietLine WaitForQuietLine(double quietSeconds, double limitSeconds, const std::function<void()>& drop,
                           const std::function<int(int timeoutMs)>& waitInput);

}  // namespace orv::comm
