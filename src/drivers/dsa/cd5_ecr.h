// CD5_ECR: job logic of the DSA 45B register (type 40) over CDsa45B. It
// follows CD1_ECR with the later series' rules and hands every department
// to the host, whatever its tax group.
#pragma once

#include "drivers/dsa/cdsa45b.h"
#include "drivers/dsa/dsa_logic.h"

class CD5_ECR : public CDsaLogic {
public:
    CD5_ECR() : CDsaLogic(m_dsa) {}
    CDsa45B& Protocol() { return m_dsa; }

protected:
    bool SkipTaxGroupZero() const override { return false; }

private:
    CDsa45B m_dsa;
};
