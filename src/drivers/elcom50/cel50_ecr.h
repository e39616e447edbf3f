// CEL50_ECR: job logic of the Elcom 50 registers (type 16: model 24 with
// 24-character names and PLUs 1..1980; type 17: model 25 with 42-character
// names and PLUs 1..14980). Every slot is one or more whole connections of
// the embedded CElcom50 protocol object.
#pragma once

#include <string>

#include "drivers/elcom50/celcom50.h"
#include "job/logic_ecr.h"

class CEL50_ECR : public CLogicECR {
public:
    CEL50_ECR();
    ~CEL50_ECR() override;

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
    int ReadAllUnit(int port, EcrUnitReadCallback cb) override;
    int PgmUNIT(int port, EcrUnitRecord* units, int count, EcrUnitProgramCallback cb) override;

    CElcom50& Protocol() { return m_proto; }

    // Record conversions between the host's records and the protocol's.
    Elcom50Plu ToDevice(const EcrItemRecord& item) const;
    static EcrItemRecord ToHost(const Elcom50Plu& plu);

private:
    int Failed() { return ProtocolFailed(m_proto, EL50_ERR_BAD_REPLY); }

    CElcom50 m_proto;
};
