#include "drivers/registers_a/cdsa4000.h"
#include <cstdio>

namespace {
constexpr DsaTraits kDsa4000Traits{7, false, 0, 8, 'N', true};
}

CDsa4000::CDsa4000() : CDsaLink(kDsa4000Traits) {
    m_nVariant = 1;
    m_nModel = 2;
}

uint32_t CDsa4000::Capacity() const {
    if (m_nModel == 2) return 13320;
    if (m_nModel == 3) return 20000;
    return m_nVariant == 2 ? 4180 : 4560;
}

DsaDeptLayout CDsa4000::DeptLayout() const {
    if (m_nModel == 1) return {54, 37, 38};
    return {43, 28, 29};
}

// The sale read "2051" uses the layout of the clearing stream of the same
// model and ends at its end marker without a confirmation.
DsaStreamSpec CDsa4000::SaleStream(bool clearing) const {
    DsaStreamSpec s;
    const uint32_t capacity = Capacity();
    if (m_nModel == 1) {
        s.command = clearing ? "3060" : "2051";
        s.request = "010001";
        s.lineLength = 24;
        s.pluPos = 3;
        s.pluDigits = 4;
        s.endMarker = 9999;
        s.quantityPos = 7;
        s.valuePos = 16;
    } else {
        s.command = clearing ? (m_nModel == 2 ? "3060" : "3055") : "2051";
        char req[32];
        std::snprintf(req, sizeof req, "0100001%05u", capacity);
        s.request = req;
        s.lineLength = 25;
        s.pluPos = 3;
        s.pluDigits = 5;
        s.endMarker = m_nModel == 2 ? 32767 : 99999;
        s.quantityPos = 8;
        s.valuePos = 17;
    }
    s.confirm = (clearing && m_nModel != 3) ? "3061" : "";
    s.firstPercent = static_cast<int>(100u / capacity);
    s.percentDivisor = static_cast<int>(capacity);
    s.unsignedPercent = true;
    return s;
}
