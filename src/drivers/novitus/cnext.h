// CNext: the protocol object of the Next registers; the Tango protocol as
// CProtokolTango speaks it.
#pragma once

#include "drivers/novitus/cprotokol_tango.h"

class CNext : public CProtokolTango {};
