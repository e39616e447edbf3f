// CSH227_ECR: job logic of the Sharp 227 registers (type 74) over CSharp227:
// goods and departments in batches, reads of goods, departments and sales,
// sale clearing; no VAT, status or single-goods reads.
#pragma once

#include "drivers/sharp/csharp227.h"
#include "job/logic_ecr.h"

class CSH227_ECR : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_protocol.GetErrorText(code); }
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

    CSharp227& Protocol() { return m_protocol; }

private:
    int TakeLinkError(int r);
    int Goods(EcrItemRecord* items, int count, int mode);

    CSharp227 m_protocol;
};
