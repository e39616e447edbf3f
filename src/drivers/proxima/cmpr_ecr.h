// CMPR_ECR: job logic of the Proxima scales (device type 113). Only goods
// programming does work: the goods go into MEDESA.EXP and the transfer
// program wmplw.exe takes them to the scale (see CProximaTxt).
#pragma once

#include <string>

#include "drivers/proxima/cproxima_txt.h"
#include "job/logic_ecr.h"

class CMPR_ECR : public CLogicECR {
public:
    CMPR_ECR();
    ~CMPR_ECR() override;

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

    CProximaTxt& Protocol() { return m_proto; }

private:
    CProximaTxt m_proto;
};
