#include "drivers/hida/chi_ecr.h"

#include <cstring>

#include "drivers/common/host_fields.h"
#include "drivers/common/record_fields.h"
#include "drivers/common/slot_helpers.h"

namespace {

// A host VAT group of 0 or -1 means none; any other group outside 1..8 is
// refused when the record is built (103).
int32_t HostVat(uint32_t group) { return group == 0 ? -1 : static_cast<int32_t>(group); }

}  // namespace

// ---------------------------------------------------------------- conversions

HidaPlu CHI_ECR::ToDevice(const EcrItemRecord& item) {
    HidaPlu plu;
    plu.code = ChrTrim(HostText(item.code, sizeof item.code), ' ');
    plu.name = HostText(item.name, sizeof item.name);
    plu.dept = item.department;
    plu.price = item.price;
    plu.vat = HostVat(item.vat_group);
    plu.flag = item.word148;
    plu.linked = item.linked_plu;
    return plu;
}

EcrItemRecord CHI_ECR::ToHost(const HidaPlu& plu) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    CopyBytes(item.code, sizeof item.code, plu.code);
    CopyBytes(item.name, sizeof item.name, plu.name);
    item.vat_group = static_cast<uint32_t>(plu.vat);
    item.department = plu.dept;
    item.price = plu.price;
    item.unit = 1;
    item.word148 = plu.flag;
    item.linked_plu = plu.linked;
    return item;
}

HidaDept CHI_ECR::ToDevice(const EcrDeptRecord& dept) {
    HidaDept d;
    d.number = dept.number;
    d.name = HostText(dept.name, sizeof dept.name);
    d.price = dept.price;
    d.second = dept.word100;
    d.flag = dept.flags;
    return d;
}

EcrDeptRecord CHI_ECR::ToHost(const HidaDept& d) {
    EcrDeptRecord dept;
    std::memset(&dept, 0, sizeof dept);
    dept.number = d.number;
    CopyBytes(dept.name, sizeof dept.name, d.name);
    dept.vat_group = static_cast<uint32_t>(d.vat);
    dept.price = d.price;
    dept.flags = d.flag;
    dept.word100 = d.second;
    return dept;
}

// ---------------------------------------------------------------- slots

// The line runs at 9600 baud whatever the device record says.
int CHI_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, record, 999, NoRecordAnswer::OwnText,
                              [&](const EcrDeviceRecord&) { return m_proto.Open(port, 9600); });
}

int CHI_ECR::Close(int) {
    m_proto.ClosePort();
    return 1;
}

int CHI_ECR::ReadVAT(int, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return NoVatRates(*this, vat);
}

int CHI_ECR::ReadStatus(int port, EcrStatusRecord*, double vat[8]) { return ReadVAT(port, vat); }

int CHI_ECR::ReadSale(int, EcrSaleCallback) {
    return BulkOperation(*this, m_proto, [this] {
        return m_proto.ReadSales([this](const HidaSale& line) {
            EcrItemRecord item;
            EcrSaleRecord sale;
            std::memset(&item, 0, sizeof item);
            std::memset(&sale, 0, sizeof sale);
            CopyBytes(item.code, sizeof item.code, line.code, 13);
            CopyBytes(sale.code, sizeof sale.code, line.code, 13);
            sale.quantity = line.quantity;
            sale.value = line.value;
            SendSale(&item, &sale);
        });
    });
}

int CHI_ECR::ClearSale(int, EcrSaleCallback) {
    return BulkOperation(*this, m_proto, [this] { return m_proto.ClearSales(); });
}

int CHI_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    return BulkOperation(*this, m_proto, [this] {
        return m_proto.ReadAllPlu([this](const HidaPlu& plu) {
            const EcrItemRecord item = ToHost(plu);
            SendPLU(&item);
        });
    });
}

int CHI_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    return BulkOperation(*this, m_proto, [this] {
        return m_proto.ReadAllDept([this](const HidaDept& d) {
            const EcrDeptRecord dept = ToHost(d);
            SendDEPT(&dept);
        });
    });
}

// Each listed code is asked for on its own (its first 13 characters); a
// code the register does not hold (10) is reported and the read goes on,
// any other failure ends the job.
int CHI_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    return ReadListedItems(
        *this, items, count, [](const EcrItemRecord& it) { return "Kod kreskowy - " + HostField(it.code, sizeof it.code); },
        [this](const EcrItemRecord& it) {
            HidaPlu plu;
            plu.code = HostText(it.code, sizeof it.code).Left(13);
            if (!m_proto.ReadOnePlu(plu)) return Failed();
            const EcrItemRecord item = ToHost(plu);
            SendPLU(&item);
            return 1;
        },
        [](int code) { return code == 10; });
}

int CHI_ECR::GoodsLoop(EcrItemRecord* items, int count, int (CHida::*operation)(const HidaPlu&)) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this, operation](EcrItemRecord& it, int) { return (m_proto.*operation)(ToDevice(it)) == 1 ? 1 : Failed(); },
        opt);
}

int CHI_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    return GoodsLoop(items, count, &CHida::ProgramPlu);
}

int CHI_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return GoodsLoop(items, count, &CHida::DeletePlu);
}

int CHI_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count, NameLabel<EcrDeptRecord>,
        [this](EcrDeptRecord& d, int) { return m_proto.ProgramDept(ToDevice(d)) == 1 ? 1 : Failed(); }, opt);
}
