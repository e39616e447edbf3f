// CDsa4000: the DSA 4000 registers, models 1 to 3 (40 departments, error
// table B, traffic also written to the data log, which Open opens and Close
// closes).
#pragma once

#include "drivers/dsa/dsa_link.h"

class CDsa4000 : public CDsaLink {
public:
    CDsa4000();

    uint32_t Capacity() const override;
    uint32_t DeptCount() const override { return 40; }
    // PLU records and queries in the DSA 100 layout (4-digit numbers).
    DsaPluLayout PluLayout() const override { return {4, true, false}; }
    DsaDeptLayout DeptLayout() const override;
    DsaSaleStream SaleStream(bool clearing) const override;
    std::string CloseDeptCommand() const override { return m_nModel == 1 ? "4065" : ""; }
    std::string CloseGoodsCommand() const override { return m_nModel == 1 ? "4066" : ""; }
};
