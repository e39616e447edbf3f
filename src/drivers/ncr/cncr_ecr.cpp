#include "drivers/ncr/cncr_ecr.h"

#include <cmath>
#include <cstring>
#include <string>

#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

CNCR_ECR::CNCR_ECR() = default;
CNCR_ECR::~CNCR_ECR() = default;

int CNCR_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, port, record, NCR_ERR_BAD_REPLY);
}

int CNCR_ECR::Close(int /*port*/) {
    m_proto.ClosePort();
    return 1;
}

// ---------------------------------------------------------- conversions

NcrPlu CNCR_ECR::ToDevice(const EcrItemRecord& item) {
    NcrPlu plu;
    CopyTextField(plu.code, item.code);
    CopyTextField(plu.name, item.name);
    plu.vatGroup = item.vat_group;
    plu.department = item.department;
    plu.price = item.price;
    plu.second = item.word148;
    plu.third = item.linked_plu;
    return plu;
}

NcrDept CNCR_ECR::ToDevice(const EcrDeptRecord& dept) {
    NcrDept d;
    d.number = dept.number;
    CopyTextField(d.name, dept.name);
    d.price = dept.price;
    return d;
}

EcrItemRecord CNCR_ECR::ToHost(const NcrPlu& plu) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    CopyTextField(item.code, plu.code);
    CopyTextField(item.name, plu.name);
    item.vat_group = 1;
    item.department = plu.department;
    item.price = plu.price;
    item.unit = 1;
    return item;
}

EcrDeptRecord CNCR_ECR::ToHost(const NcrDept& d) {
    EcrDeptRecord dept;
    std::memset(&dept, 0, sizeof dept);
    dept.number = d.number;
    CopyTextField(dept.name, d.name);
    dept.vat_group = d.vatGroup;
    dept.price = d.price;
    dept.flags = d.flag;
    dept.word100 = d.second;
    return dept;
}

void CNCR_ECR::ToHost(const NcrSale& line, EcrItemRecord& item, EcrSaleRecord& sale) {
    std::memset(&item, 0, sizeof item);
    std::memset(&sale, 0, sizeof sale);
    CopyTextField(item.code, line.code);
    CopyTextField(sale.code, line.code);
    sale.quantity = line.quantity;
    sale.value = line.value;
}

// ---------------------------------------------------------------- reads

int CNCR_ECR::ReadVAT(int /*port*/, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    m_proto.ReadVat(vat);
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return 1;
}

int CNCR_ECR::ReadStatus(int /*port*/, EcrStatusRecord* /*status*/, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    SetError(25, GetErrorText(25));
    return 0;
}

int CNCR_ECR::ReadSale(int /*port*/, EcrSaleCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadSales([this](const NcrSale& line) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        ToHost(line, item, sale);
        SendSale(&item, &sale);
    });
    return r ? 1 : Failed();
}

int CNCR_ECR::ClearSale(int /*port*/, EcrSaleCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_proto.ClearSales() ? 1 : Failed();
}

int CNCR_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadAllPlu([this](const NcrPlu& plu) {
        const EcrItemRecord item = ToHost(plu);
        SendPLU(&item);
    });
    return r ? 1 : Failed();
}

// The register cannot read single goods: the job fails at the first item.
int CNCR_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback /*cb*/) {
    if (!items) {
        SetError(-1, GetErrorText(-1));
        return 0;
    }
    if (count <= 0) count = 1;
    for (int i = 0; i < count; ++i) {
        const int percent = static_cast<int>(std::trunc((i + 1) * 100.0) / count);
        Notify(ECR_EVENT_ITEM, "Kod kreskowy - " + HostField(items[i].code, sizeof items[i].code), percent, 0);
        NcrPlu plu = ToDevice(items[i]);
        plu.code[kNcrCodeMax] = 0;
        if (!m_proto.ReadPlu(plu)) return Failed();
    }
    return 1;
}

int CNCR_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadAllDept([this](const NcrDept& d) {
        const EcrDeptRecord dept = ToHost(d);
        SendDEPT(&dept);
    });
    return r ? 1 : Failed();
}

// ----------------------------------------------------- programming loops

int CNCR_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord& item, int) { return m_proto.ProgramPlu(ToDevice(item)) ? 1 : Failed(); }, opt);
}

int CNCR_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, NameLabel<EcrItemRecord>,
        [this](EcrItemRecord& item, int) { return m_proto.DeletePlu(ToDevice(item)) ? 1 : Failed(); }, opt);
}

int CNCR_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count, NameLabel<EcrDeptRecord>,
        [this](EcrDeptRecord& d, int) { return m_proto.ProgramDept(ToDevice(d)) ? 1 : Failed(); }, opt);
}
