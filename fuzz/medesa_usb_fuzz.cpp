// Fuzz target: every report the USB bus controller of a Medesa scale answers (see serial_harness.h).
#include "serial_families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return orv::fuzz::RunSerialInput(orv::fuzz::MedesaUsbFamily(), data, size);
}
