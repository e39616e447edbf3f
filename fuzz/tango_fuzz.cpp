// Fuzz target: everything a Novitus register on the Tango protocol answers (see serial_harness.h).
#include "serial_families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return orv::fuzz::RunSerialInput(orv::fuzz::TangoFamily(), data, size);
}
