#include "drivers/dsa/cdsa100.h"

namespace {
constexpr DsaTraits kDsa100Traits{7, false, 0, 8, 'N', false};
}

CDsa100::CDsa100() : CDsaLink(kDsa100Traits) {}

DsaSaleStream CDsa100::SaleStream(bool clearing) const {
    DsaSaleStream s = SaleLines(clearing ? "3055" : "2051", "010001", 4, 9999, 2730);
    if (clearing) s.confirm = "3056";
    return s;
}
