#include "drivers/dsa/cdsa4000.h"
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
DsaSaleStream CDsa4000::SaleStream(bool clearing) const {
    const uint32_t capacity = Capacity();
    DsaSaleStream s;
    if (m_nModel == 1) {
        s = SaleLines(clearing ? "3060" : "2051", "010001", 4, 9999, static_cast<int>(capacity));
    } else {
        char request[32];
        std::snprintf(request, sizeof request, "0100001%05u", capacity);
        const char* clear = m_nModel == 2 ? "3060" : "3055";
        s = SaleLines(clearing ? clear : "2051", request, 5, m_nModel == 2 ? 32767 : 99999,
                      static_cast<int>(capacity));
    }
    if (clearing && m_nModel != 3) s.confirm = "3061";
    s.firstPercent = static_cast<int>(100u / capacity);
    s.unsignedPercent = true;
    return s;
}
