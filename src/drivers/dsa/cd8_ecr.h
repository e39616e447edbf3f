// CD8_ECR: job logic of the DSP 800 register (type 101) over CDsp800. It
// programs goods and reads them back one at a time; clearing sales and
// programming departments need no work; every other job is refused (25).
#pragma once

#include "drivers/dsa/cdsp800.h"
#include "drivers/dsa/dsa_logic.h"

class CD8_ECR : public CDsaLogic {
public:
    CD8_ECR() : CDsaLogic(m_dsp) {}
    CDsp800& Protocol() { return m_dsp; }

    int ReadSale(int port, EcrSaleCallback cb) override;
    int ClearSale(int port, EcrSaleCallback cb) override;
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;
    int ReadAllDEPT(int port, EcrDeptReadCallback cb) override;
    int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb) override;

    // The host record of an item read back: VAT group, department and unit
    // 1; the rate letter goes to byte 156 (2 for B, else 1), which
    // programming reads, so an item read and written back keeps its rate.
    static EcrItemRecord ToHostItem(const Dsp800Item& item);
    static Dsp800Item FromHostItem(const EcrItemRecord& item);

private:
    CDsp800 m_dsp;
};
