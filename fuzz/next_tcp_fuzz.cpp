// Fuzz target: everything a Novitus Next answers over TCP, on a loopback
// connection (see serial_harness.h).
#include "serial_families.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return orv::fuzz::RunSerialInput(orv::fuzz::NextTcpFamily(), data, size);
}
