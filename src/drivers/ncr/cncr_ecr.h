// CNCR_ECR: job logic of the NCR registers (type 8). Goods and departments
// are programmed one transfer each; the goods list and the sale counters
// are read in blocks. The register cannot read or delete single goods,
// clear its sales or report its status (code 25); the VAT rates and the one
// department it reports are fixed values, not the register's.
#pragma once

#include <string>

#include "drivers/ncr/cncr.h"
#include "job/logic_ecr.h"

class CNCR_ECR : public CLogicECR {
public:
    CNCR_ECR();
    ~CNCR_ECR() override;

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

    CNcr& Protocol() { return m_proto; }

    // Record conversions between the host's records and the protocol's.
    static NcrPlu ToDevice(const EcrItemRecord& item);
    static NcrDept ToDevice(const EcrDeptRecord& dept);
    static EcrItemRecord ToHost(const NcrPlu& plu);
    static EcrDeptRecord ToHost(const NcrDept& dept);
    static void ToHost(const NcrSale& line, EcrItemRecord& item, EcrSaleRecord& sale);

private:
    // The protocol's failure (its own "no or bad answer" code when it has none).
    int Failed() { return ProtocolFailed(m_proto, NCR_ERR_BAD_REPLY); }

    CNcr m_proto;
};
