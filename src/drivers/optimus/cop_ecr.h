// COP_ECR: the Optimus registers (type 9) over COptimus. The line is opened
// and closed as the register wants it; no job has device work, since the
// register's records and command sequences are not known: every data job
// fails with 25 without traffic.
#pragma once

#include "drivers/optimus/coptimus.h"
#include "job/logic_ecr.h"

class COP_ECR : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_optimus.GetErrorText(code); }
    int Open(int port, const EcrDeviceRecord* record) override;
    int Close(int port) override;
    int ReadVAT(int, double vat[8]) override;
    int ReadStatus(int, EcrStatusRecord*, double vat[8]) override;
    int ReadSale(int, EcrSaleCallback) override { return Unavailable(); }
    int ClearSale(int, EcrSaleCallback) override { return Unavailable(); }
    int ReadAllPLU(int, EcrItemReadCallback) override { return Unavailable(); }
    int ReadPLU(int, EcrItemRecord*, int, EcrItemReadCallback) override { return Unavailable(); }
    int PgmPLU(int, EcrItemRecord*, int, EcrItemProgramCallback, int) override { return Unavailable(); }
    int DelPLU(int, EcrItemRecord*, int, EcrItemProgramCallback) override { return Unavailable(); }
    int ReadAllDEPT(int, EcrDeptReadCallback) override { return Unavailable(); }
    int PgmDEPT(int, EcrDeptRecord*, int, EcrDeptProgramCallback) override { return Unavailable(); }

    COptimus& Protocol() { return m_optimus; }

private:
    int Unavailable();

    COptimus m_optimus;
};
