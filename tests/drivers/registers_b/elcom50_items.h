// Host goods records for the Elcom 50 tests.
#pragma once

#include <cstring>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"

namespace orv::test {

// A zeroed item with the fields a host fills to program a PLU.
inline EcrItemRecord HostItem(uint32_t number, const char* name, double price, uint32_t vat = 1,
                              const char* code = "5901234123457") {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = vat, .dept = 1, .unit = 1});
}

}  // namespace orv::test
