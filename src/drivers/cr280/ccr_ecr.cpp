#include "drivers/cr280/ccr_ecr.h"

#include <cmath>

#include "drivers/common/record_fields.h"
#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

// ---------------------------------------------------------------- conversions

int CCR_ECR::CodeFromHostItem(const EcrItemRecord& item, Cr280PLURecord& rec) {
    rec = Cr280PLURecord{};
    const CChrArr code = ChrTrim(HostText(item.code, sizeof item.code), ' ');
    if (code.GetLength() > 13) {
        m_cr.m_nError = 999;   // cut, it would name another item
        return 0;
    }
    CopyBytes(rec.code, sizeof rec.code, code, 13);
    return 1;
}

int CCR_ECR::FromHostItem(const EcrItemRecord& item, Cr280PLURecord& rec) {
    if (!CodeFromHostItem(item, rec)) return 0;
    CopyText(rec.name, sizeof rec.name, item.name, sizeof item.name, 12);
    rec.dept = item.department;
    rec.price = item.price;
    if (item.vat_group == 0)
        rec.vat = -1;
    else if (item.vat_group <= 8)
        rec.vat = static_cast<int32_t>(item.vat_group);
    else {
        m_cr.m_nError = 103;
        return 0;
    }
    rec.flag = item.word148;
    return 1;
}

EcrItemRecord CCR_ECR::ToHostItem(const Cr280PLURecord& rec) {
    EcrItemRecord item{};
    item.number = 0;
    CopyText(item.code, sizeof item.code, rec.code, sizeof rec.code, 13);
    CopyText(item.name, sizeof item.name, rec.name, sizeof rec.name, 12);
    item.department = rec.dept;
    item.vat_group = rec.vat < 0 ? 0u : static_cast<uint32_t>(rec.vat);
    item.price = rec.price;
    item.word148 = rec.flag;
    item.unit = 1;
    return item;
}

EcrDeptRecord CCR_ECR::ToHostDept(const Cr280DeptRecord& rec) {
    EcrDeptRecord dept{};
    dept.number = rec.number;
    CopyText(dept.name, sizeof dept.name, rec.name, sizeof rec.name, 12);
    dept.vat_group = rec.vat < 0 ? 0u : static_cast<uint32_t>(rec.vat);
    dept.price = rec.value;
    dept.word100 = rec.field;
    dept.flags = rec.flag;
    return dept;
}

// ---------------------------------------------------------------- slots

int CCR_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_cr, record, 0, NoRecordAnswer::SystemError,
                              [&](const EcrDeviceRecord& r) { return m_cr.Open(port, r.baud); });
}

int CCR_ECR::Close(int) {
    m_cr.Close();
    return 1;
}

int CCR_ECR::Result(int r) {
    if (r == 1) return 1;
    TakeProtocolError(m_cr);
    return 0;
}

int CCR_ECR::ReadVAT(int, double vat[8]) { return NoVatRates(*this, vat); }

int CCR_ECR::ReadStatus(int port, EcrStatusRecord*, double vat[8]) { return ReadVAT(port, vat); }

int CCR_ECR::ReadSale(int, EcrSaleCallback) {
    return BulkOperation(*this, m_cr, [this] {
        return m_cr.UploadSales([this](const Cr280SaleItem& it, const Cr280SaleRecord& s) {
            EcrItemRecord item{};
            EcrSaleRecord sale{};
            CopyText(item.code, sizeof item.code, it.code, sizeof it.code, 13);
            CopyText(item.name, sizeof item.name, it.name, sizeof it.name, 12);
            CopyText(sale.code, sizeof sale.code, s.code, sizeof s.code, 13);
            CopyText(sale.name, sizeof sale.name, s.name, sizeof s.name, 12);
            sale.quantity = s.quantity;
            sale.value = s.value;
            SendSale(&item, &sale);
        });
    });
}

int CCR_ECR::ClearSale(int, EcrSaleCallback) {
    return BulkOperation(*this, m_cr, [this] { return m_cr.ClearSales(); });
}

int CCR_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    return BulkOperation(*this, m_cr, [this] {
        return m_cr.UploadPLUs([this](const Cr280PLURecord& rec) {
            EcrItemRecord item = ToHostItem(rec);
            SendPLU(&item);
        });
    });
}

int CCR_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    return BulkOperation(*this, m_cr, [this] {
        return m_cr.UploadDepartments([this](const Cr280DeptRecord& rec) {
            EcrDeptRecord dept = ToHostDept(rec);
            SendDEPT(&dept);
        });
    });
}

// Each listed code is asked for on its own (a read sends the code alone,
// so nothing else of the host's item is checked). An item without a code
// is refused before it is asked for (108); a code the register does not
// hold gives 10. Either is reported with event 6 and the read goes on; the
// job ends as its last item did. Any other failure ends the job.
int CCR_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    return ReadListedItems(
        *this, items, count, [](const EcrItemRecord& it) { return "Kod kreskowy - " + HostField(it.code, sizeof it.code); },
        [this](const EcrItemRecord& it) {
            Cr280PLURecord rec{};
            if (!CodeFromHostItem(it, rec)) return ProtocolFailed(m_cr, 9999);
            if (rec.code[0] == '\0') {
                m_cr.m_nError = kNoCode;
                return ProtocolFailed(m_cr, 9999);
            }
            if (m_cr.ReadOnePLU(rec) != 1) return ProtocolFailed(m_cr, 9999);
            EcrItemRecord item = ToHostItem(rec);
            SendPLU(&item);
            return 1;
        },
        [](int code) { return code == 10 || code == kNoCode; });
}

int CCR_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord& it, int) {
            Cr280PLURecord rec{};
            if (FromHostItem(it, rec) && m_cr.SendPLU(rec) == 1) return 1;
            return Result(0);
        },
        opt);
}

// The register's delete record is not known: every item is refused.
int CCR_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord&, int) { return Unavailable(*this); });
}

// The register's department record is not known: every one is refused.
int CCR_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    return ItemLoop<EcrDeptRecord>(
        depts, count, NameLabel<EcrDeptRecord>,
        [this](EcrDeptRecord&, int) { return Unavailable(*this); });
}
