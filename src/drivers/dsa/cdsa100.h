// CDsa100: the DSA 100 registers. Model 0 is the first series (error table
// A, 2730 PLUs); model 1 the later one (table B, 4500 PLUs with barcodes,
// closing commands after programming).
#pragma once

#include "drivers/dsa/dsa_link.h"

class CDsa100 : public CDsaLink {
public:
    CDsa100();

    uint32_t Capacity() const override { return m_nModel == 1 ? 4500 : 2730; }
    uint32_t DeptCount() const override { return 20; }
    DsaPluLayout PluLayout() const override { return {4, true, m_nModel == 1}; }
    DsaDeptLayout DeptLayout() const override { return {39, 28, 29}; }
    DsaSaleStream SaleStream(bool clearing) const override;
    std::string CloseDeptCommand() const override { return m_nModel == 1 ? "4065" : ""; }
    std::string CloseGoodsCommand() const override { return m_nModel == 1 ? "4066" : ""; }
    DeviceErrorTable ErrorTable() const override { return m_nModel == 1 ? ErrorTableB : ErrorTableA; }
};
