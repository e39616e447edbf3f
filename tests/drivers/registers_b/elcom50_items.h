// Host goods records for the Elcom 50 tests.
#pragma once

#include <cstring>

#include "orvanta/ecr.h"

namespace orv::test {

// A zeroed item with the fields a host fills to program a PLU.
inline EcrItemRecord HostItem(uint32_t number, const char* name, double price, uint32_t vat = 1,
                              const char* code = "5901234123457") {
    EcrItemRecord r;
    std::memset(&r, 0, sizeof r);
    r.number = number;
    std::strncpy(r.name, name, sizeof r.name - 1);
    std::strncpy(r.code, code, sizeof r.code - 1);
    r.price = price;
    r.vat_group = vat;
    r.department = 1;
    r.unit = 1;
    return r;
}

}  // namespace orv::test
