// CCAS_XML_ECR: job logic of the CAS label scales served through XML job
// files and the CAS transfer program (device type 111). It converts between
// the host's records and the scale records of CCas_XML, sends the progress
// events, reports refused items and hands read records to the host. The
// CCL5000 object of its base is not used.
#pragma once

#include <string>

#include "drivers/cas/ccas_ecr.h"
#include "drivers/cas/ccas_xml.h"

class CCAS_XML_ECR : public CCAS_ECR {
public:
    CCAS_XML_ECR();
    ~CCAS_XML_ECR() override;

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

    CCas_XML& Protocol() { return m_xml; }

    static EcrItemRecord ToHost(const CasPluRecord& rec);
    static EcrDeptRecord ToHost(const CasDeptRecord& rec);

private:
    bool HandOverBroken();        // true once a break was seen during a hand-over
    int HandOverResult(int read); // the read slot's result: 1, or 0 (-7 after a break)

    CCas_XML m_xml;
    bool m_handOverBroken = false;
};
