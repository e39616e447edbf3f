#include "drivers/adax/cad_ecr.h"

#include <cmath>

#include "drivers/common/record_fields.h"
#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

// ---------------------------------------------------------------- conversions

AdaxPLURecord CAD_ECR::FromHostItem(const EcrItemRecord& item) {
    AdaxPLURecord rec{};
    const std::string code = ChrTrim(HostText(item.code, sizeof item.code), ' ').ToString();
    CopyText(rec.code, sizeof rec.code, code.c_str(), code.size(), 13);
    CopyText(rec.name, sizeof rec.name, item.name, sizeof item.name, 18);
    rec.dept = item.department;
    rec.price = item.price;
    rec.vat = item.vat_group;
    rec.word148 = item.word148;
    rec.linked = item.linked_plu;
    return rec;
}

EcrItemRecord CAD_ECR::ToHostItem(const AdaxPLURecord& rec) {
    EcrItemRecord item{};
    item.number = 0;
    CopyText(item.code, sizeof item.code, rec.code, sizeof rec.code, 31);
    CopyText(item.name, sizeof item.name, rec.name, sizeof rec.name, 47);
    item.vat_group = rec.vat;
    item.department = rec.dept;
    item.price = rec.price;
    item.word148 = rec.word148;
    item.linked_plu = rec.linked;
    item.attr1 = 0;
    item.unit = 1;
    item.attr3 = 0;
    item.attr4 = 0;
    return item;
}

EcrDeptRecord CAD_ECR::ToHostDept(const AdaxDeptRecord& rec) {
    EcrDeptRecord dept{};
    dept.number = rec.number;
    CopyText(dept.name, sizeof dept.name, rec.name, sizeof rec.name, 47);
    dept.vat_group = rec.vat;
    dept.price = rec.price;
    dept.word100 = rec.word100;
    dept.flags = rec.flags;
    return dept;
}

void CAD_ECR::ToHostSale(const AdaxSale& sale, EcrItemRecord& item, EcrSaleRecord& line) {
    item = EcrItemRecord{};
    line = EcrSaleRecord{};
    CopyText(item.code, sizeof item.code, sale.item.code, sizeof sale.item.code, 31);
    CopyText(item.name, sizeof item.name, sale.item.name, sizeof sale.item.name, 47);
    line.kind = 0;
    line.number = 0;
    line.plu = 0;
    CopyText(line.code, sizeof line.code, sale.item.code, sizeof sale.item.code, 31);
    CopyText(line.name, sizeof line.name, sale.item.name, sizeof sale.item.name, 47);
    line.quantity = sale.quantity;
    line.value = sale.value;
}

// ---------------------------------------------------------------- open / close

int CAD_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_adax, record, 0, NoRecordAnswer::SystemError,
                              [&](const EcrDeviceRecord& r) { return m_adax.Open(port, r.baud); });
}

int CAD_ECR::Close(int) {
    m_adax.Close();
    return 1;
}

int CAD_ECR::Failed() {
    TakeProtocolError(m_adax);
    return 0;
}

// ---------------------------------------------------------------- reads

int CAD_ECR::ReadVAT(int, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return NoVatRates(*this, vat);
}

int CAD_ECR::ReadStatus(int port, EcrStatusRecord*, double vat[8]) { return ReadVAT(port, vat); }

int CAD_ECR::ReadSale(int, EcrSaleCallback) {
    return BulkOperation(*this, m_adax, [this] {
        return m_adax.UploadSales([this](const AdaxSale& sale) {
            EcrItemRecord item;
            EcrSaleRecord line;
            ToHostSale(sale, item, line);
            SendSale(&item, &line);
        });
    });
}

int CAD_ECR::ClearSale(int, EcrSaleCallback) {
    return BulkOperation(*this, m_adax, [this] { return m_adax.ClearSales(); });
}

int CAD_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    return BulkOperation(*this, m_adax, [this] {
        return m_adax.UploadPLUs([this](const AdaxPLURecord& rec) {
            EcrItemRecord item = ToHostItem(rec);
            SendPLU(&item);
        });
    });
}

int CAD_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    return BulkOperation(*this, m_adax, [this] {
        return m_adax.UploadDepartments([this](const AdaxDeptRecord& rec) {
            EcrDeptRecord dept = ToHostDept(rec);
            SendDEPT(&dept);
        });
    });
}

// The register cannot read a single item: the first listed item is shown
// and the job fails without traffic.
int CAD_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) return NoArray(*this);
    if (count <= 0) count = 1;
    const int percent = static_cast<int>(std::trunc(100.0) / count);
    Notify(ECR_EVENT_ITEM, "Kod kreskowy - " + HostField(items[0].code, sizeof items[0].code), percent, 0);
    return Unavailable(*this);
}

// ---------------------------------------------------------------- programming

int CAD_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int kind) {
    if (!items) return NoArray(*this);
    const bool update = kind == 1;
    // The opening's answer does not decide (a silent register fails at
    // the first item); only a break ends the job here.
    if (update)
        m_adax.BeginUpdate();
    else
        m_adax.BeginProgram();
    if (m_adax.m_nError == -7) return Failed();
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    int r = ItemLoop<EcrItemRecord>(
        items, count,
        [update](const EcrItemRecord& it) {
            return update ? "Aktualizacja danych " + HostField(it.code, sizeof it.code)
                          : "Programowanie " + HostField(it.name, sizeof it.name);
        },
        [this, update](EcrItemRecord& it, int) {
            const AdaxPLURecord rec = FromHostItem(it);
            const int ok = m_adax.CheckItem(it.code, sizeof it.code, it.price, it.department, !update) &&
                           (update ? m_adax.UpdatePrice(rec) : m_adax.ProgramPLU(rec)) == 1;
            return ok ? 1 : Failed();
        },
        opt);
    if (m_nError == -7) return 0;
    // A register that stopped answering gets nothing more.
    if (DeviceGone()) return r;
    m_adax.EndProgramming();   // its answer does not change the job's result
    if (m_adax.m_nError == -7) return Failed();
    return r;
}

int CAD_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    if (!items) return NoArray(*this);
    if (m_adax.BeginDelete() != 1) return Failed();
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    int r = ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord& it, int) {
            if (m_adax.DeletePLU(it.code, sizeof it.code) != 1) return Failed();
            return 1;
        },
        opt);
    if (m_nError == -7 || DeviceGone()) return 0;
    m_adax.EndProgramming();
    if (m_adax.m_nError == -7) return Failed();
    return r;
}

// The register's departments cannot be programmed from the PC: every
// department is refused with 25, without traffic.
int CAD_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    ItemLoop<EcrDeptRecord>(
        depts, count, NameLabel<EcrDeptRecord>,
        [this](EcrDeptRecord&, int) { return Unavailable(*this); }, opt);
    return 0;
}
