#include "drivers/registers_a/cdsa45b.h"

namespace {
// A body must be longer than 7 bytes (the closing commands are let through).
constexpr DsaTraits kDsa45BTraits{8, false, 0, 8, 'N', false};
}

CDsa45B::CDsa45B() : CDsaLink(kDsa45BTraits) {}

DsaStreamSpec CDsa45B::SaleStream(bool clearing) const {
    DsaStreamSpec s;
    s.command = clearing ? "3055" : "2051";
    s.request = "010000103000";
    s.lineLength = 25;
    s.pluPos = 3;
    s.pluDigits = 5;
    s.endMarker = 99999;
    s.quantityPos = 8;
    s.valuePos = 17;
    s.firstPercent = 0;
    s.percentDivisor = 3000;
    return s;
}
