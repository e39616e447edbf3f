// The termios flags of a line setting (used by the termios devices; tests
// check the flags here because a pseudo-terminal forces 8 bits, no parity).
#pragma once

#include <termios.h>

#include "platform/serial_device.h"

namespace orv::platform {

// Fills tio for raw use with the settings; the speed is left to the caller.
void MakeSerialTermios(const SerialLineSettings& settings, struct termios* tio);

// The termios speed constant of a baud rate, B0 when there is none.
speed_t SerialSpeedConstant(int baud);

}  // namespace orv::platform
