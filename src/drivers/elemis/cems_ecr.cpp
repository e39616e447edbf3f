#include "drivers/elemis/cems_ecr.h"

#include <cmath>
#include <cstring>
#include <string>

#include "drivers/common/record_fields.h"
#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

CEMS_ECR::CEMS_ECR() = default;
CEMS_ECR::~CEMS_ECR() = default;

int CEMS_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, port, record, EMS_ERR_BAD_ANSWER);
}

// The link is closed, after a break too (unless the register had stopped
// answering), so the register is not left linked; then the line.
int CEMS_ECR::Close(int /*port*/) {
    if (m_pSerial) {
        if (m_pSerial->IsAborted())
            m_proto.CloseAfterBreak();
        else
            m_proto.Close();
    }
    m_proto.ClosePort();
    return 1;
}

// ---------------------------------------------------------- conversions

ElemisPlu CEMS_ECR::ToDevice(const EcrItemRecord& item) {
    ElemisPlu plu;
    plu.number = item.number;
    CopyTextField(plu.code, item.code);
    CopyTextField(plu.name, item.name);
    plu.vatGroup = item.department;
    plu.price = item.price;
    plu.attribute = item.linked_plu;
    return plu;
}

EcrItemRecord CEMS_ECR::ToHost(const ElemisPlu& plu) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    item.number = plu.number;
    CopyTextField(item.code, plu.code);
    CopyTextField(item.name, plu.name);
    item.department = plu.vatGroup;
    item.price = plu.price;
    item.linked_plu = plu.attribute;
    item.unit = 1;
    return item;
}

// ---------------------------------------------------------------- reads

int CEMS_ECR::ReadVAT(int /*port*/, double vat[8]) {
    return m_proto.ReadVatRates(vat) ? 1 : Failed();
}

int CEMS_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::string first, id, third;
    if (!m_proto.ReadIdentification(first, id, third)) return Failed();
    double rates[8];
    if (!m_proto.ReadVatRates(rates)) return Failed();
    std::memset(status, 0, sizeof *status);
    StrNCopyZ(status->device_text, first.c_str(), sizeof status->device_text - 1);
    StrNCopyZ(status->text2, third.c_str(), sizeof status->text2 - 1);
    StrNCopyZ(status->unique_number, id.c_str(), sizeof status->unique_number - 1);
    for (int i = 0; i < 8; ++i) vat[i] = rates[i];
    return 1;
}

int CEMS_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadSales([this](const ElemisSale& line) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        std::memset(&item, 0, sizeof item);
        std::memset(&sale, 0, sizeof sale);
        CopyTextField(item.code, line.code);
        CopyTextField(sale.code, line.code);
        sale.quantity = line.quantity;
        sale.value = line.value;
        SendSale(&item, &sale);
    });
    return r ? 1 : Failed();
}

int CEMS_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_proto.ClearSales() ? 1 : Failed();
}

int CEMS_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    const int r = m_proto.ReadAllPlu([this](const ElemisPlu& plu) {
        const EcrItemRecord item = ToHost(plu);
        SendPLU(&item);
    });
    return r ? 1 : Failed();
}

int CEMS_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback /*cb*/) {
    return ReadListedItems(
        *this, items, count, [](const EcrItemRecord& item) { return "Kod kreskowy - " + HostField(item.code, sizeof item.code); },
        [this](const EcrItemRecord& wanted) {
            ElemisPlu plu;
            plu.number = wanted.number;
            if (!m_proto.ReadPlu(plu)) return Failed();
            const EcrItemRecord item = ToHost(plu);
            SendPLU(&item);
            return 1;
        },
        [](int code) { return code == EMS_ERR_EMPTY_SLOT; });
}

int CEMS_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) {
    const int r = m_proto.ReadAllDept([this](const ElemisDept& d) {
        EcrDeptRecord dept;
        std::memset(&dept, 0, sizeof dept);
        dept.number = d.number;
        CopyTextField(dept.name, d.name);
        dept.vat_group = d.vatGroup;
        dept.price = d.price;
        SendDEPT(&dept);
    });
    return r ? 1 : Failed();
}

// ----------------------------------------------------- programming loops

int CEMS_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord& item, int) { return m_proto.WritePlu(ToDevice(item)) ? 1 : Failed(); }, opt);
}

// The register has no command to delete goods.
int CEMS_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord&, int) {
            SetError(25, GetErrorText(25));
            return 0;
        },
        opt);
}

int CEMS_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count, NameLabel<EcrDeptRecord>,
        [this](EcrDeptRecord& d, int) {
            ElemisDept dept;
            dept.number = d.number;
            CopyTextField(dept.name, d.name);
            dept.vatGroup = d.vat_group;
            dept.price = d.price;
            return m_proto.WriteDept(dept) ? 1 : Failed();
        },
        opt);
}
