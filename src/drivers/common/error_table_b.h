// Polish error table B of the DSA/DSP registers, also used by the CAS LP
// label scales, and the lookup rule both families apply to their codes.
#pragma once

#include <string>

// A device error table: the text for a device code, or nullptr when the
// table has no entry for it.
using DeviceErrorTable = const char* (*)(int code);

// Table B: codes 1..35 without 7 (CP1250 texts).
const char* ErrorTableB(int code);

// The lookup rule: a code below 500 (negative codes included) is looked up
// directly in the table; 1001..1255 are device "ERR" answers looked up as
// code - 1000; 9998 gives "Data Nothing !?"; every other code, and every
// number missing from the table, gives "Nieokreślony błąd".
std::string LookupDeviceErrorText(DeviceErrorTable table, int code);

// The rule applied to table B.
std::string ErrorTextB(int code);
