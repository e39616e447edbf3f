// CEMS_ECR: job logic of the Elemis registers (type 75). The device's VAT
// group travels in goods item byte 96 and its one-byte attribute in byte
// 176. The register has no command to delete goods (code 25).
#pragma once

#include <string>

#include "drivers/elemis/celemis.h"
#include "job/logic_ecr.h"

class CEMS_ECR : public CLogicECR {
public:
    CEMS_ECR();
    ~CEMS_ECR() override;

    std::string GetErrorText(int code) override { return m_proto.GetErrorText(code); }
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

    CElemis& Protocol() { return m_proto; }

    static ElemisPlu ToDevice(const EcrItemRecord& item);
    static EcrItemRecord ToHost(const ElemisPlu& plu);

private:
    // The protocol's failure (its own "no or bad answer" code when it has none).
    int Failed() { return ProtocolFailed(m_proto, EMS_ERR_BAD_ANSWER); }

    CElemis m_proto;
};
