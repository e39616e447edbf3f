// CDI500_ECR: job logic of the Dibal 500-series scales (device type 114),
// served through Dibal's library (see CDibal_500). Only goods programming
// does work; reading goods and the other jobs without device work succeed
// with nothing, VAT, status, sales, deleting and departments fail.
#pragma once

#include <string>

#include "drivers/dibal/cdibal_500.h"
#include "job/logic_ecr.h"

class CDI500_ECR : public CLogicECR {
public:
    CDI500_ECR();
    ~CDI500_ECR() override;

    std::string GetErrorText(int code) override;
    int Open(int port, const EcrDeviceRecord* record) override;
    int Close(int port) override;
    int ReadVAT(int port, double vat[8]) override;
    int ReadStatus(int port, EcrStatusRecord* status, double vat[8]) override;
    int ReadSale(int port, EcrSaleCallback cb) override;
    int ClearSale(int port, EcrSaleCallback cb) override;
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;
    int DelPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb) override;
    int ReadAllDEPT(int port, EcrDeptReadCallback cb) override;
    int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb) override;

    CDibal_500& Protocol() { return m_proto; }

private:
    CDibal_500 m_proto;
};
