// What the job logic of the two CAS LP label scales shares: the scale holds
// goods only, so every slot but the goods ones is refused or has nothing to
// do; goods are programmed item by item and read back through one
// converter to the host's record.
#pragma once

#include <string>

#include "drivers/cas/cas_lp_link.h"
#include "job/logic_ecr.h"

class CCasLpLogic : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return Link().GetErrorText(code); }
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

    // The device record of a host item: code at most 13 characters, first
    // name at most 20, second name (the first scale text) at most 24.
    static CasLpPluRecord ToDevice(const EcrItemRecord& item);
    // A fresh host record of a record read back.
    static EcrItemRecord ToHost(const CasLpPluRecord& record);

protected:
    virtual CCasLpLink& Link() = 0;
    virtual int OpenLink(int port, const EcrDeviceRecord& record) = 0;
    virtual int WriteRecord(const CasLpPluRecord& record) = 0;
    virtual int ReadAllRecords(const std::function<void(const CasLpPluRecord&)>& converter) = 0;
    // The protocol's code and text, 0 returned.
    int LinkFailed() { return ProtocolFailed(Link(), CASLP_ERR_BAD_ANSWER); }
    // Hands one record read to the host.
    void Convert(const CasLpPluRecord& record);
    // Program or delete every item through fn.
    int EachItem(EcrItemRecord* items, int count, const std::function<int(const CasLpPluRecord&)>& fn);
};
