#include "drivers/dsa/cdsa45b.h"

namespace {
// A body must be longer than 7 bytes (the closing commands are let through).
constexpr DsaTraits kDsa45BTraits{8, false, 0, 8, 'N', false};
}

CDsa45B::CDsa45B() : CDsaLink(kDsa45BTraits) {}

// The clearing ends at the end marker without a confirmation.
DsaSaleStream CDsa45B::SaleStream(bool clearing) const {
    return SaleLines(clearing ? "3055" : "2051", "010000103000", 5, 99999, 3000);
}
