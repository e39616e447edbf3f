// Error texts of the fiscal control and of the registers behind it (CP1250).
#pragma once

namespace orv::novitus {

// Codes 3001..3070 (3000 + the control's own code); null when not listed.
const char* Ps3000ControlText(int code);
// Register codes 1..255; null when not listed.
const char* Ps3000DeviceText(int code);

}  // namespace orv::novitus
