// CDSP_ECR: job logic of the DSP 500 register (type 109) over CDsp500. It
// reads goods; programming goods is not available (the record layout of the
// register is not known), clearing sales and programming departments need no
// work, every other job is refused.
#pragma once

#include "drivers/dsa/cdsp500.h"
#include "drivers/dsa/dsa_logic.h"

class CDSP_ECR : public CDsaLogic {
public:
    CDSP_ECR() : CDsaLogic(m_dsp) {}
    CDsp500& Protocol() { return m_dsp; }

    int ReadSale(int port, EcrSaleCallback cb) override;
    int ClearSale(int port, EcrSaleCallback cb) override;
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;
    int ReadAllDEPT(int port, EcrDeptReadCallback cb) override;
    int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb) override;

protected:
    // A record with an empty name is a PLU the register does not hold.
    bool IsProgrammed(const DsaPluRecord& rec) const override { return rec.name[0] != 0; }

private:
    CDsp500 m_dsp;
};
