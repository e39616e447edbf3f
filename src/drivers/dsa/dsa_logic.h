// CDsaLogic: the job logic shared by the DSA register classes (CD1_ECR,
// CD5_ECR, CDS_ECR, CDSP_ECR): opening, the programming loops with the
// new/change machine and the closing commands, the read loops, the sale
// streams and the record conversions. Each class names its protocol object
// and says where it differs.
#pragma once

#include <cstdint>
#include <string>

#include "drivers/dsa/dsa_link.h"
#include "job/logic_ecr.h"

class CDsaLogic : public CLogicECR {
public:
    // A number the register holds no item under (a read of listed goods).
    static constexpr int kNotProgrammed = 202;

    // The register's texts; an item it does not hold has the common one.
    std::string GetErrorText(int code) override {
        return code == kNotProgrammed ? m_link.CTelepathyECR::GetErrorText(code) : m_link.GetErrorText(code);
    }
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

    // Record conversions from the device to the host.
    static EcrDeptRecord ToHostDept(const DsaDeptRecord& rec);
    static EcrItemRecord ToHostItem(const DsaPluRecord& rec);
    static void ToHostSale(const DsaSaleLine& line, EcrItemRecord& item, EcrSaleRecord& sale);
    // The device record of a host item: number, barcode, name, department,
    // price; flag and quantity 0.
    static DsaPluRecord FromHostItem(const EcrItemRecord& item);
    static DsaDeptRecord FromHostDept(const EcrDeptRecord& dept);

    CDsaLink& Link() { return m_link; }

protected:
    explicit CDsaLogic(CDsaLink& link) : m_link(link) {}

    // Sets the model and variant words from the device record.
    virtual void ConfigureModel(const EcrDeviceRecord* record) { (void)record; }
    // Departments with tax group 0 are not handed to the host.
    virtual bool SkipTaxGroupZero() const { return true; }
    // Highest PLU number the read-all loop asks for.
    virtual uint32_t ReadAllLimit() const { return m_link.Capacity(); }
    // Whether an item is one the register holds (it has a department).
    virtual bool IsProgrammed(const DsaPluRecord& rec) const { return rec.dept != 0; }

    // A slot this register cannot serve: fails with 25.
    int Unsupported();
    // Copies the protocol's code and text into the logic object.
    void TakeLinkError() { TakeProtocolError(m_link); }
    // Event 9, then the sale read or clearing stream to the host.
    int RunSaleStream(bool clearing);
    // One item of the programming machine (kind of job in try4059).
    int ProgramItem(DsaPluRecord& rec, bool& try4059);
    // The closing command after a programming loop whose result is r.
    int RunClosing(int r, bool goods);
    // "Nazwa - %s" with at most `width` characters of the name.
    static std::string NameText(const char* name, size_t cap);

    CDsaLink& m_link;
};
