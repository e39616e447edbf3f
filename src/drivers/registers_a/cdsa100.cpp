#include "drivers/registers_a/cdsa100.h"

namespace {
constexpr DsaTraits kDsa100Traits{7, false, 0, 8, 'N', false};
}

CDsa100::CDsa100() : CDsaLink(kDsa100Traits) {}

DsaStreamSpec CDsa100::SaleStream(bool clearing) const {
    DsaStreamSpec s;
    s.command = clearing ? "3055" : "2051";
    s.request = "010001";
    s.lineLength = 24;
    s.pluPos = 3;
    s.pluDigits = 4;
    s.endMarker = 9999;
    s.quantityPos = 7;
    s.valuePos = 16;
    s.confirm = clearing ? "3056" : "";
    s.firstPercent = 0;
    s.percentDivisor = 2730;
    return s;
}
