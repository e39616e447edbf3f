// Fuzz target: everything a CR-280, Hida or Optimus register answers (see serial_harness.h).
#include "serial_families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return orv::fuzz::RunSerialInput(orv::fuzz::Cr280Family(), data, size);
}
