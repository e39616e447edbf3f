#include "drivers/elcom50/cel50_ecr.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "drivers/common/host_fields.h"
#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

std::string Numbered(const char* pattern, uint32_t n, const std::string& name) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, static_cast<int>(n));
    return buf + name;
}

}  // namespace

CEL50_ECR::CEL50_ECR() = default;
CEL50_ECR::~CEL50_ECR() = default;

std::string CEL50_ECR::GetErrorText(int code) { return m_proto.GetErrorText(code); }

int CEL50_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, record, EL50_ERR_BAD_REPLY, NoRecordAnswer::OwnText,
                              [&](const EcrDeviceRecord& r) {
                                  m_proto.SetDeviceType(r.word7, r.type == 17 ? 25 : 24);
                                  return m_proto.Open(port, r.baud);
                              });
}

int CEL50_ECR::Close(int /*port*/) {
    m_proto.ClosePort();
    return 1;
}

// ---------------------------------------------------------- conversions

Elcom50Plu CEL50_ECR::ToDevice(const EcrItemRecord& item) const {
    Elcom50Plu plu;
    plu.number = item.number;
    std::string code = HostField(item.code, sizeof item.code, kEl50BarcodeWidth);
    std::memcpy(plu.barcode, code.data(), code.size());
    std::string name = HostField(item.name, sizeof item.name, static_cast<size_t>(m_proto.GetNameWidth()));
    std::memcpy(plu.name, name.data(), name.size());
    plu.taxGroup = item.vat_group;
    plu.department = item.department;
    plu.price = item.price;
    plu.unit = item.unit;
    plu.otherPrice = item.attr2;
    plu.link = item.linked_plu;
    return plu;
}

EcrItemRecord CEL50_ECR::ToHost(const Elcom50Plu& plu) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    item.number = plu.number;
    CopyTextField(item.code, HostField(plu.barcode, sizeof plu.barcode, sizeof item.code - 1));
    CopyTextField(item.name, HostField(plu.name, sizeof plu.name, sizeof item.name - 1));
    item.vat_group = plu.taxGroup;
    item.department = plu.department;
    item.price = plu.price;
    item.unit = plu.unit;
    item.attr2 = plu.otherPrice;
    item.linked_plu = plu.link;
    item.attr1 = 3;
    return item;
}

// ---------------------------------------------------------------- reads

int CEL50_ECR::ReadVAT(int /*port*/, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_proto.ReadTaxGroups(vat)) return Failed();
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

int CEL50_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    std::memset(status, 0, sizeof *status);
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::string info;
    if (!m_proto.ReadDeviceInfo(info)) return Failed();
    if (m_pSerial && m_pSerial->Delay(1.0) == -7) {
        m_proto.m_nError = -7;
        return Failed();
    }
    if (!m_proto.ReadTaxGroups(vat)) return Failed();
    CopyTextField(status->information, info);
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

int CEL50_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadSale([this](const Elcom50Plu& plu, const Elcom50Sale& sold) {
        // Every record with sales counts, a deleted PLU's included.
        if (sold.quantity == 0.0 && sold.amount == 0.0) return;
        EcrItemRecord item;
        std::memset(&item, 0, sizeof item);
        item.number = plu.number;
        CopyTextField(item.code, HostField(sold.barcode, sizeof sold.barcode, sizeof item.code - 1));
        CopyTextField(item.name, HostField(sold.name, sizeof sold.name, sizeof item.name - 1));
        EcrSaleRecord sale;
        std::memset(&sale, 0, sizeof sale);
        sale.plu = plu.number;
        CopyTextField(sale.code, HostField(sold.barcode, sizeof sold.barcode, sizeof sale.code - 1));
        CopyTextField(sale.name, HostField(sold.name, sizeof sold.name, sizeof sale.name - 1));
        sale.quantity = sold.quantity;
        sale.value = sold.amount;
        SendSale(&item, &sale);
    });
    return r ? 1 : Failed();
}

int CEL50_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_proto.ClearSale() ? 1 : Failed();
}

int CEL50_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadAllPlu([this](const Elcom50Plu& plu) {
        const EcrItemRecord item = ToHost(plu);
        SendPLU(&item);
    });
    return r ? 1 : Failed();
}

int CEL50_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback /*cb*/) {
    if (!items) {
        SetError(-1, GetErrorText(-1));
        return 0;
    }
    if (count <= 0) count = 1;
    int result = 0;
    for (int i = 0; i < count; ++i) {
        EcrItemRecord& host = items[i];
        const int percent = static_cast<int>(std::trunc((i + 1) * 100.0) / count);
        Notify(ECR_EVENT_ITEM, Numbered("PLU - %i", host.number, std::string()), percent, 0);
        SetError(0, std::string());
        Elcom50Plu plu;
        plu.number = host.number;
        std::string code = HostField(host.code, sizeof host.code, kEl50BarcodeWidth);
        std::memcpy(plu.barcode, code.data(), code.size());
        if (m_proto.ReadPlu(plu)) {
            const EcrItemRecord item = ToHost(plu);
            SendPLU(&item);
            result = 1;
            continue;
        }
        result = Failed();
        if (m_nError == -7) return 0;
        // Every item the register cannot give is an event of its own, the
        // last one too: the host learns which items are missing.
        Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
        ConfirmPLU(&host, m_nError, m_szError);
        // A PLU the register cannot give is skipped; anything else ends the job.
        if (m_nError != EL50_ERR_PLU_UNREADABLE) return 0;
    }
    return result;
}

int CEL50_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) {
    Elcom50Dept table[kEl50Departments];
    if (!m_proto.ReadDepartments(table)) return Failed();
    for (const Elcom50Dept& d : table) {
        EcrDeptRecord dept;
        std::memset(&dept, 0, sizeof dept);
        dept.number = d.number;
        CopyTextField(dept.name, HostField(d.name, sizeof d.name, static_cast<size_t>(m_proto.GetNameWidth())));
        SendDEPT(&dept);
    }
    return 1;
}

int CEL50_ECR::ReadAllUnit(int /*port*/, EcrUnitReadCallback /*cb*/) {
    Elcom50Unit table[kEl50Units];
    if (!m_proto.ReadUnits(table)) return Failed();
    for (const Elcom50Unit& u : table) {
        EcrUnitRecord unit;
        std::memset(&unit, 0, sizeof unit);
        unit.number = u.number;
        CopyTextField(unit.name, HostField(u.name, sizeof u.name, sizeof unit.name - 1));
        SendUnit(&unit);
    }
    return 1;
}

// ----------------------------------------------------- programming loops

int CEL50_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& item) { return "Nazwa - " + HostField(item.name, sizeof item.name, sizeof item.name); },
        [this](EcrItemRecord& item, int) {
            Elcom50Plu plu = ToDevice(item);
            return m_proto.WritePlu(plu) ? 1 : Failed();
        },
        opt);
}

int CEL50_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, [](const EcrItemRecord& item) { return Numbered("PLU - %i", item.number, std::string()); },
        [this](EcrItemRecord& item, int) {
            Elcom50Plu plu;
            plu.number = item.number;
            std::string code = HostField(item.code, sizeof item.code, kEl50BarcodeWidth);
            std::memcpy(plu.barcode, code.data(), code.size());
            return m_proto.DeletePlu(plu) ? 1 : Failed();
        },
        opt);
}

int CEL50_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count,
        [](const EcrDeptRecord& d) {
            return Numbered(PL("Dział towarowy %i - "), d.number, HostField(d.name, sizeof d.name, sizeof d.name));
        },
        [this](EcrDeptRecord& d, int) {
            Elcom50Dept dept;
            dept.number = d.number;
            std::string name = HostField(d.name, sizeof d.name, static_cast<size_t>(m_proto.GetNameWidth()));
            std::memcpy(dept.name, name.data(), name.size());
            return m_proto.WriteDepartments(dept) ? 1 : Failed();
        },
        opt);
}

int CEL50_ECR::PgmUNIT(int /*port*/, EcrUnitRecord* units, int count, EcrUnitProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrUnitRecord>(
        units, count,
        [](const EcrUnitRecord& u) {
            return Numbered("Jednostka m. %i - ", u.number, HostField(u.name, sizeof u.name, sizeof u.name));
        },
        [this](EcrUnitRecord& u, int) {
            Elcom50Unit unit;
            unit.number = u.number;
            std::string name = HostField(u.name, sizeof u.name, kEl50UnitNameWidth);
            std::memcpy(unit.name, name.data(), name.size());
            return m_proto.WriteUnits(unit) ? 1 : Failed();
        },
        opt);
}
