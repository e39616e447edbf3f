// Fuzz target: everything a Medesa scale answers on a serial line (see serial_harness.h).
#include "serial_families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return orv::fuzz::RunSerialInput(orv::fuzz::MedesaFamily(), data, size);
}
