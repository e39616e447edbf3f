// CMD_ECR: job logic of the Medesa scales on a serial line (type 100 with a
// connection kind other than 5): goods, departments and VAT rates.
#pragma once

#include <string>

#include "drivers/medesa/cmedesa.h"
#include "job/logic_ecr.h"

class CMD_ECR : public CLogicECR {
public:
    CMD_ECR() : m_proto(m_serial), m_usb(false) {}

    static constexpr int kJobAttempts = 15;   // goods and departments
    static constexpr int kVatAttempts = 50;

    std::string GetErrorText(int code) override { return m_proto.GetErrorText(code); }
    int Open(int port, const EcrDeviceRecord* record) override;
    int Close(int port) override;
    int ReadVAT(int port, double vat[8]) override;
    int ReadStatus(int port, EcrStatusRecord* status, double vat[8]) override;
    int ReadSale(int, EcrSaleCallback) override { return 0; }
    int ClearSale(int, EcrSaleCallback) override { return 1; }
    int ReadAllPLU(int port, EcrItemReadCallback cb) override;
    int ReadPLU(int port, EcrItemRecord* items, int count, EcrItemReadCallback cb) override;
    int PgmPLU(int port, EcrItemRecord* items, int count, EcrItemProgramCallback cb, int kind) override;
    int DelPLU(int, EcrItemRecord*, int, EcrItemProgramCallback) override { return 0; }
    int ReadAllDEPT(int port, EcrDeptReadCallback cb) override;
    int PgmDEPT(int port, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb) override;

    CMedesa& Protocol() { return m_proto; }

    static MedesaPlu ToDevice(const EcrItemRecord& item);
    static EcrItemRecord ToHost(const MedesaPlu& plu);

protected:
    // The USB class: its own protocol object, one attempt a job, departments
    // that fail skipped, no line of its own.
    CMD_ECR(CMedesa& proto, bool usb) : m_proto(proto), m_usb(usb) {}
    virtual int OpenScale(int port, const EcrDeviceRecord& record);
    int JobAttempts() const { return m_usb ? 1 : kJobAttempts; }
    int VatAttempts() const { return m_usb ? 1 : kVatAttempts; }
    int Failed() { return ProtocolFailed(m_proto, MDS_ERR_BAD_FRAME); }
    int FailedWithEvent();

private:
    CMedesa m_serial;
    CMedesa& m_proto;
    const bool m_usb;
};
