#include "drivers/medesa/cmd_ecr.h"

#include <cstdio>
#include <cstring>

#include "drivers/common/host_fields.h"
#include "util/cp1250.h"

namespace {

constexpr uint32_t kPluCount = 10000;
constexpr uint32_t kDeptCount = 39;

}  // namespace

int CMD_ECR::FailedWithEvent() {
    Failed();
    Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
    return 0;
}

int CMD_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, record, MDS_ERR_BAD_FRAME, NoRecordAnswer::OwnText,
                              [&](const EcrDeviceRecord& r) { return OpenScale(port, r); });
}

int CMD_ECR::OpenScale(int port, const EcrDeviceRecord& record) {
    return m_proto.OpenScale(port, static_cast<int>(record.baud), static_cast<uint8_t>(record.word7));
}

int CMD_ECR::Close(int /*port*/) { return m_proto.CloseScale(); }

MedesaPlu CMD_ECR::ToDevice(const EcrItemRecord& item) {
    MedesaPlu p;
    p.plu = item.number;
    p.code = HostField(item.code, sizeof item.code, 13);
    p.name = HostField(item.name, sizeof item.name, 24);
    p.labelType = item.word156;
    p.price = item.price;
    p.price2 = item.price2;
    p.vatGroup = item.vat_group;
    p.department = item.department;
    p.flags = item.attr2;
    p.dateText = HostField(item.text236, sizeof item.text236, 15);
    p.dayCount = item.word152;
    p.marker = item.word148;
    for (int i = 0; i < 8; ++i) p.lines[i] = HostField(item.scale_text[i], sizeof item.scale_text[i], 24);
    return p;
}

EcrItemRecord CMD_ECR::ToHost(const MedesaPlu& p) {
    EcrItemRecord item;
    std::memset(&item, 0, sizeof item);
    item.number = p.plu;
    StrNCopyZ(item.code, p.code.c_str(), 13);
    StrNCopyZ(item.name, p.name.c_str(), 24);
    item.word156 = p.labelType;
    item.price = p.price;
    item.price2 = p.price2;
    item.vat_group = p.vatGroup;
    item.department = p.department;
    item.attr2 = p.flags;
    StrNCopyZ(item.text236, p.dateText.c_str(), 15);
    item.word152 = p.dayCount;
    item.word148 = p.marker;
    for (int i = 0; i < 8; ++i) StrNCopyZ(item.scale_text[i], p.lines[i].c_str(), 24);
    item.attr1 = 0;
    item.unit = 1;
    return item;
}

int CMD_ECR::ReadVAT(int /*port*/, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_proto.ReadVatRates(vat, VatAttempts())) return FailedWithEvent();
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CMD_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_proto.ReadVatRates(vat, VatAttempts())) return Failed();
    std::memset(status->information, 0, sizeof status->information);
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CMD_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback /*cb*/) {
    int read = 0;
    NoAnswerRun silent(*this);
    for (uint32_t n = 1; n <= kDeptCount; ++n) {
        char text[64];
        std::snprintf(text, sizeof text, "Pobieranie danych grupy tow. - %u", n);
        Notify(ECR_EVENT_ITEM, text, static_cast<int>(n * 100 / kDeptCount), 0);
        MedesaDept d;
        d.number = n;
        if (!m_proto.ReadDept(d, JobAttempts())) {
            // Over USB a department that fails is skipped, unless the job
            // was broken off, the controller went away or the scale has
            // stopped answering.
            const int e = m_proto.m_nError;
            if (!m_usb) return FailedWithEvent();
            if (e == -7 || e == -6 || silent.Gone(e)) return Failed();
            continue;
        }
        silent.Gone(0);
        ++read;
        EcrDeptRecord rec;
        std::memset(&rec, 0, sizeof rec);
        rec.number = d.number;
        StrNCopyZ(rec.name, d.name.c_str(), 47);
        SendDEPT(&rec);
    }
    if (read == 0 && m_usb) return Failed();   // the last department's code
    return 1;
}

int CMD_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback /*cb*/) {
    for (uint32_t n = 1; n <= kPluCount; ++n) {
        char text[64];
        std::snprintf(text, sizeof text, "PLU - %u", n);
        Notify(ECR_EVENT_ITEM, text, static_cast<int>(n * 100 / kPluCount), 0);
        MedesaPlu p;
        p.plu = n;
        if (!m_proto.ReadPlu(p, JobAttempts())) return m_usb ? Failed() : FailedWithEvent();
        const EcrItemRecord item = ToHost(p);
        SendPLU(&item);
    }
    return 1;
}

int CMD_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback /*cb*/) {
    if (!items) {
        SetError(-1, GetErrorText(-1));
        return 0;
    }
    if (count <= 0) count = 1;
    // An item the scale does not give is told of by event 6 and skipped.
    return ReadEachItem(
        count,
        [&](int i) {
            char text[64];
            std::snprintf(text, sizeof text, "PLU - %u", items[i].number);
            return std::string(text);
        },
        [&](int i) {
            MedesaPlu p;
            p.plu = items[i].number;
            if (!m_proto.ReadPlu(p, JobAttempts())) return Failed();
            const EcrItemRecord item = ToHost(p);
            SendPLU(&item);
            return 1;
        });
}

int CMD_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int /*kind*/) {
    return ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& item) { return "Nazwa - " + HostField(item.name, sizeof item.name, sizeof item.name); },
        [this](EcrItemRecord& item, int) { return m_proto.WritePlu(ToDevice(item), JobAttempts()) ? 1 : Failed(); });
}

int CMD_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count,
        [](const EcrDeptRecord& d) { return "Nazwa - " + HostField(d.name, sizeof d.name, sizeof d.name); },
        [this](EcrDeptRecord& d, int) {
            MedesaDept md;
            md.number = d.number;
            md.name = HostField(d.name, sizeof d.name, 24);
            return m_proto.WriteDept(md, JobAttempts()) ? 1 : Failed();
        },
        opt);
}
