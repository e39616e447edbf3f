// Host goods records for the Elcom 50 tests.
#pragma once

#include <cstdint>
#include <cstring>

#include "fakes/recording_host.h"
#include "orvanta/ecr.h"

namespace orv::test {

// Job codes of the job block, as the dispatcher hands them to the logic class.
enum Elcom50Job : uint32_t {
    kReadSale = 1, kClearSale = 2, kReadAllPlu = 3, kReadPlu = 4, kPgmPlu = 5, kDelPlu = 7,
    kReadAllDept = 9, kPgmDept = 11, kReadAllUnit = 12, kPgmUnit = 13, kReadStatus = 14, kReadVat = 15,
};

// A zeroed item with the fields a host fills to program a PLU.
inline EcrItemRecord HostItem(uint32_t number, const char* name, double price, uint32_t vat = 1,
                              const char* code = "5901234123457") {
    return HostItemRecord({.number = number, .name = name, .code = code, .price = price, .vat = vat, .dept = 1, .unit = 1});
}

}  // namespace orv::test
