// CDS_ECR: job logic of the DSA 4000 registers over CDsa4000 (type 13:
// model 1, variant 2 when the device record's word 9 is 2, else 1; type 14:
// model 2; type 36: model 3).
#pragma once

#include "drivers/dsa/cdsa4000.h"
#include "drivers/dsa/dsa_logic.h"

class CDS_ECR : public CDsaLogic {
public:
    CDS_ECR() : CDsaLogic(m_dsa) {}
    CDsa4000& Protocol() { return m_dsa; }

protected:
    void ConfigureModel(const EcrDeviceRecord* record) override;
    // PLU numbers are sent with 4 digits.
    uint32_t ReadAllLimit() const override;

private:
    CDsa4000 m_dsa;
};
