// Text conversions in the "C" locale whatever locale the host set.
#pragma once

#include <ctime>

namespace orv::platform {

// strtod in the "C" locale (decimal point, never a comma). False when the
// system cannot give that locale; out is untouched then.
bool ClassicStrtod(const char* text, double& out);

// The local calendar time of t, thread-safe; false when it cannot be had.
bool ToLocalTime(std::time_t t, std::tm& out);

}  // namespace orv::platform
