// CDsp500: the DSP 500 register (9600 baud 7O1, a device number in every
// frame, 3-digit goods commands, PLU numbers up to 9999999, no departments).
#pragma once

#include "drivers/dsa/dsa_link.h"

class CDsp500 : public CDsaLink {
public:
    CDsp500();

    uint32_t Capacity() const override { return 9999999; }
    uint32_t DeptCount() const override { return 0; }
    DsaPluLayout PluLayout() const override { return {7, false, false}; }
    DsaDeptLayout DeptLayout() const override { return {0, 0, 0}; }
    DsaSaleStream SaleStream(bool clearing) const override;

    // "101": name (1-20), PLU number (21-27), price in hundredths (28-33),
    // barcode (38-44) of a 440-byte reply. Every read sets the flag to 1.
    int QueryPlu(uint32_t number, DsaPluRecord& rec) override;
    // The register has no department commands.
    int QueryDept(uint32_t number, DsaDeptRecord& rec) override;
};
