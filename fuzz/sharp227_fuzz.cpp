// Fuzz target: everything a Sharp 227 register answers (see serial_harness.h).
#include "serial_families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return orv::fuzz::RunSerialInput(orv::fuzz::Sharp227Family(), data, size);
}
