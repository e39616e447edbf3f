// CDsa45B: the DSA 45B register (3000 PLUs addressed with 5 digits, error
// table B, closing commands "4061" and "4062" after every programming job).
#pragma once

#include "drivers/dsa/dsa_link.h"

class CDsa45B : public CDsaLink {
public:
    CDsa45B();

    uint32_t Capacity() const override { return 3000; }
    uint32_t DeptCount() const override { return 20; }
    // Records are sent in the layout of the PLU query reply: number (5),
    // name, price, department, barcode; the register keeps no flag or stock.
    DsaPluLayout PluLayout() const override { return {5, false, true}; }
    DsaDeptLayout DeptLayout() const override { return {43, 28, 29}; }
    DsaSaleStream SaleStream(bool clearing) const override;
    std::string CloseDeptCommand() const override { return "4061"; }
    std::string CloseGoodsCommand() const override { return "4062"; }
};
