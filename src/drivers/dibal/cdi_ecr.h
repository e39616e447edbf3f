// CDI_ECR: job logic of the Dibal scales on a serial line. Device type 103
// takes the goods in one bulk transfer over an 8N1 line; type 104 takes
// them one at a time, to the scale address of device record word 7, over an
// 8E1 line. Both read the scale's goods back; the other jobs are not served
// by these scales (VAT, status, sales and departments fail; clearing sales
// and programming departments have nothing to do).
#pragma once

#include <string>

#include "drivers/dibal/cdibal.h"
#include "job/logic_ecr.h"

class CDI_ECR : public CLogicECR {
public:
    CDI_ECR();
    ~CDI_ECR() override;

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
    int NoAnswerCode() const override { return DIBAL_ERR_NO_ANSWER; }

    // The host's item as the scale sees it; the bulk transfer also trims
    // the name's blanks.
    static DibalItem ToDibal(const EcrItemRecord& item, bool trimName);
    // A read item as the host gets it.
    static EcrItemRecord FromDibal(const DibalItem& item);

    CDibal& Protocol() { return m_proto; }

private:
    int SendAllItems(EcrItemRecord* items, int count);
    int Failed() { return ProtocolFailed(m_proto, DIBAL_ERR_NO_ANSWER); }

    CDibal m_proto;
};
