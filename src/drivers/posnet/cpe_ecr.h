// CPE_ECR: job logic of the Posnet ECR register (device type 21) over the
// embedded CPosnetECR protocol object. The register is read (goods, sales,
// status, VAT rates); programming, deleting, reading goods by number,
// clearing sales and departments are not available (code 25).
#pragma once

#include <string>

#include "drivers/posnet/posnet_ecr.h"
#include "job/logic_ecr.h"

class CPE_ECR : public CLogicECR {
public:
    CPE_ECR();
    ~CPE_ECR() override;

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

    CPosnetECR& Protocol() { return m_proto; }

    static EcrItemRecord ToHost(const PosnetEcrPlu& plu);
    static void ToHostSale(const PosnetEcrSale& sale, EcrItemRecord& item, EcrSaleRecord& out);

private:
    int Failed() { return ProtocolFailed(m_proto, POSNET_ERR_BAD_REPLY); }
    // A slot the register cannot serve: every record is confirmed with 25.
    template <class Rec>
    int RefuseRecords(Rec* records, int count);

    CPosnetECR m_proto;
};
