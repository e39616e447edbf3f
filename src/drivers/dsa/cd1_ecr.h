// CD1_ECR: job logic of the DSA 100 registers (type 15: model 0, type 37:
// model 1) over CDsa100.
#pragma once

#include "drivers/dsa/cdsa100.h"
#include "drivers/dsa/dsa_logic.h"

class CD1_ECR : public CDsaLogic {
public:
    CD1_ECR() : CDsaLogic(m_dsa) {}
    CDsa100& Protocol() { return m_dsa; }

protected:
    void ConfigureModel(const EcrDeviceRecord* record) override;

private:
    CDsa100 m_dsa;
};
