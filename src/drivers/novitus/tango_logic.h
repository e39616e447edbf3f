// CTangoLogic: the job logic shared by the two Tango register classes
// (CTA_ECR with CTango, CTN_ECR with CNext): opening with the multiplexer,
// the status, VAT and sale reads, the goods and department loops and the
// record conversions. Each class names its protocol object and says where it
// differs.
#pragma once

#include <cstdint>
#include <string>

#include "drivers/novitus/tango_link.h"
#include "job/logic_ecr.h"

class CTangoLogic : public CLogicECR {
public:
    std::string GetErrorText(int code) override { return m_link.GetErrorText(code); }
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

    // Record conversions. unitFromDevice: the unit of the record, else 1.
    static EcrItemRecord ToHostItem(const tango::Goods& goods, bool unitFromDevice);
    static tango::Goods FromHostItem(const EcrItemRecord& item);
    static EcrDeptRecord ToHostDept(const tango::Dept& dept);
    static tango::Dept FromHostDept(const EcrDeptRecord& dept);
    static EcrUnitRecord ToHostUnit(const tango::Unit& unit);
    static tango::Unit FromHostUnit(const EcrUnitRecord& unit);
    // kind: 0 a PLU report line ("d"), 1 a second report line ("U"), 2 a
    // sale position ("O").
    static void ToHostSale(const tango::SaleLine& line, uint32_t kind, EcrItemRecord& item, EcrSaleRecord& sale);

    // A request turn that ended with 9999 is Tango's "no answer"; a record
    // refused before any traffic, or an error status without a code, is not.
    int NoAnswerCode() const override { return m_link.FailedForWantOfAnswer() ? CTangoLink::kNoAnswer : 0; }

    CTangoLink& Link() { return m_link; }
    // 2 when bit 1 of the record's flag word is set, else bit 0.
    uint32_t SaleReadMode() const { return m_nSaleMode; }

protected:
    CTangoLogic(CTangoLink& link, bool unitsFromDevice) : m_link(link), m_bUnitsFromDevice(unitsFromDevice) {}

    // What the class adds before the line is opened (the model code).
    virtual void Configure(const EcrDeviceRecord* record) { (void)record; }
    // Opens the line: 1, or 0 with the link's error set.
    virtual int OpenLine(int port, const EcrDeviceRecord* record) = 0;
    // The further status pieces ("e") for the status text, or none.
    virtual bool ReadsMoreStatus() const = 0;
    // Events 9 and 4 around a VAT read.
    virtual bool VatEvents() const = 0;

    // Copies the link's code and text into the job; returns 0.
    int TakeLinkError();
    // One item's request: 1, or 0 with the link's code and text taken.
    int ItemRequest(const std::function<int()>& request) { return request() == 1 ? 1 : TakeLinkError(); }

    CTangoLink& m_link;
    const bool m_bUnitsFromDevice;
    uint32_t m_nSaleMode = 0;

private:
    int ReadReports(char sub);
};
