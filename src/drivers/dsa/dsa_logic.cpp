#include "drivers/dsa/dsa_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "drivers/common/slot_helpers.h"
#include "util/cp1250.h"

namespace {

std::string Numbered(const char* fmt, long value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------- conversions

EcrDeptRecord CDsaLogic::ToHostDept(const DsaDeptRecord& rec) {
    EcrDeptRecord d{};
    d.number = rec.number;
    CopyText(d.name, sizeof d.name, rec.name, sizeof rec.name, 47);
    d.vat_group = rec.taxGroup;
    d.price = rec.amount;
    d.flags = rec.flag;
    d.word100 = 0;
    return d;
}

EcrItemRecord CDsaLogic::ToHostItem(const DsaPluRecord& rec) {
    EcrItemRecord item{};
    item.number = rec.number;
    CopyText(item.code, sizeof item.code, rec.barcode, sizeof rec.barcode, 31);
    CopyText(item.name, sizeof item.name, rec.name, sizeof rec.name, 47);
    item.vat_group = 1;
    item.department = rec.dept;
    item.price = rec.price;
    item.attr1 = 0;
    item.unit = 1;
    item.attr3 = 0;
    item.attr4 = 0;
    return item;
}

void CDsaLogic::ToHostSale(const DsaSaleLine& line, EcrItemRecord& item, EcrSaleRecord& sale) {
    item = EcrItemRecord{};
    sale = EcrSaleRecord{};
    item.number = line.plu;
    sale.kind = 0;
    sale.number = 0;
    sale.plu = line.plu;
    sale.quantity = line.quantity;
    sale.value = line.value;
}

DsaPluRecord CDsaLogic::FromHostItem(const EcrItemRecord& item) {
    DsaPluRecord rec;
    rec.number = item.number;
    CopyText(rec.barcode, sizeof rec.barcode, item.code, sizeof item.code, 13);
    CopyText(rec.name, sizeof rec.name, item.name, sizeof item.name, 16);
    rec.dept = item.department;
    rec.price = item.price;
    rec.flag = 0;
    rec.quantity = 0.0;
    return rec;
}

DsaDeptRecord CDsaLogic::FromHostDept(const EcrDeptRecord& dept) {
    DsaDeptRecord rec;
    rec.number = dept.number;
    CopyText(rec.name, sizeof rec.name, dept.name, sizeof dept.name, 16);
    rec.taxGroup = dept.vat_group;
    rec.amount = dept.price;
    rec.flag = dept.flags;
    rec.limit = 9999999.99;
    return rec;
}

std::string CDsaLogic::NameText(const char* name, size_t cap) {
    return "Nazwa - " + std::string(name, strnlen(name, cap));
}

// ---------------------------------------------------------------- open / close

int CDsaLogic::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_link, record, 0, NoRecordAnswer::SystemError, [&](const EcrDeviceRecord& r) {
        ConfigureModel(&r);
        return m_link.Open(port, r.baud);
    });
}

int CDsaLogic::Close(int port) {
    (void)port;
    m_link.Close();
    return 1;
}

int CDsaLogic::Unsupported() {
    SetError(25, m_link.CTelepathyECR::GetErrorText(25));
    return 0;
}

int CDsaLogic::ReadVAT(int, double*) { return Unsupported(); }

int CDsaLogic::ReadStatus(int, EcrStatusRecord*, double*) { return Unsupported(); }

// ---------------------------------------------------------------- sale streams

int CDsaLogic::RunSaleStream(bool clearing) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    auto toHost = [this](const DsaPluRecord&, const DsaSaleLine& line) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        ToHostSale(line, item, sale);
        SendSale(&item, &sale);
    };
    int r = clearing ? m_link.ClearSales(toHost) : m_link.ReadSales(toHost);
    if (r != 1) TakeLinkError();
    return r;
}

int CDsaLogic::ReadSale(int, EcrSaleCallback) { return RunSaleStream(false); }

int CDsaLogic::ClearSale(int, EcrSaleCallback) { return RunSaleStream(true); }

// ---------------------------------------------------------------- reads

int CDsaLogic::ReadAllDEPT(int, EcrDeptReadCallback) {
    const int count = static_cast<int>(m_link.DeptCount());
    if (count < 1) return Unsupported();
    int result = 0;
    for (int d = 1; d <= count; ++d) {
        Notify(ECR_EVENT_ITEM, Numbered("DEPT - %li", d), static_cast<int>(std::trunc(d * 100.0)) / count, 0);
        DsaDeptRecord rec;
        rec.number = static_cast<uint32_t>(d);
        result = m_link.ReadDeptRecord(rec);
        if (result != 1) {
            TakeLinkError();
            return 0;
        }
        if (SkipTaxGroupZero() && rec.taxGroup == 0) continue;
        EcrDeptRecord host = ToHostDept(rec);
        SendDEPT(&host);
    }
    return result;
}

int CDsaLogic::ReadAllPLU(int, EcrItemReadCallback) {
    // The progress runs over the numbers asked for, so it ends at 100 also
    // where the loop stops below the capacity.
    const uint32_t limit = ReadAllLimit();
    int result = 0;
    for (uint32_t p = 1; p <= limit; ++p) {
        int percent = static_cast<int>(std::trunc(p * 100.0)) / static_cast<int>(limit);
        Notify(ECR_EVENT_ITEM, Numbered("PLU - %li", static_cast<long>(p)), percent, 0);
        DsaPluRecord rec;
        rec.number = p;
        result = m_link.ReadPLURecord(rec);
        if (result != 1) {
            TakeLinkError();
            return 0;
        }
        if (!IsProgrammed(rec)) continue;
        EcrItemRecord item = ToHostItem(rec);
        SendPLU(&item);
    }
    return result;
}

int CDsaLogic::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    return ReadListedItems(
        *this, items, count, [](const EcrItemRecord& it) { return Numbered("PLU - %li", static_cast<long>(it.number)); },
        [this](const EcrItemRecord& it) {
            DsaPluRecord rec;
            rec.number = it.number;
            if (m_link.ReadPLURecord(rec) != 1) return ProtocolFailed(m_link, 9999);
            if (!IsProgrammed(rec)) {
                m_link.m_nError = kNotProgrammed;
                return ProtocolFailed(m_link, 9999);
            }
            EcrItemRecord item = ToHostItem(rec);
            SendPLU(&item);
            return 1;
        },
        [](int code) { return code == kNotProgrammed; });
}

// ---------------------------------------------------------------- programming

int CDsaLogic::RunClosing(int r, bool goods) {
    if (m_nError == -7) return 0;   // broken off: no closing command
    if (DeviceGone()) return 0;     // the register stopped answering: nothing more is sent
    const std::string cmd = goods ? m_link.CloseGoodsCommand() : m_link.CloseDeptCommand();
    if (cmd.empty()) return r;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_link.Pause(3.0) != 0) {
            TakeLinkError();
            return 0;
        }
        if ((goods ? m_link.CloseGoods() : m_link.CloseDepts()) == 1) return 1;
        if (m_link.m_nError == -7) break;
    }
    TakeLinkError();
    return 0;
}

int CDsaLogic::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    int r = ItemLoop<EcrDeptRecord>(
        depts, count,
        [](const EcrDeptRecord& d) { return NameText(d.name, 16); },
        [this](EcrDeptRecord& d, int) {
            int ok = m_link.ProgramDept(FromHostDept(d));
            if (ok != 1) TakeLinkError();
            return ok;
        },
        opt);
    if (!depts) return 0;
    return RunClosing(r, false);
}

int CDsaLogic::ProgramItem(DsaPluRecord& rec, bool& try4059) {
    const int exists = m_link.ExistsError();
    // A record the register would refuse is refused before any traffic.
    CChrArr check;
    if (!m_link.BuildPluRecord(rec, check)) return 0;

    if (try4059) {
        if (m_link.ProgramPlu(rec, true)) return 1;
        try4059 = false;
        if (m_link.m_nError != exists) return 0;
        DsaPluRecord back;
        back.number = rec.number;
        if (!m_link.ReadPLURecord(back)) return 0;
        // A changed item keeps the flag and stock the register holds.
        rec.flag = back.flag;
        rec.quantity = back.quantity;
        if (m_link.ProgramPlu(rec, false)) return 1;
        if (m_link.m_nError != exists || back.dept != rec.dept) return 0;
        return m_link.ChangePrice(rec);
    }

    // Change first: keep the flag and stock of the register's record; only
    // when it cannot be read are 0 and 0 sent.
    DsaPluRecord back;
    back.number = rec.number;
    if (m_link.ReadPLURecord(back)) {
        rec.flag = back.flag;
        rec.quantity = back.quantity;
    } else if (m_link.m_nError == -7) {
        return 0;
    }
    if (m_link.ProgramPlu(rec, false)) return 1;
    try4059 = true;
    if (m_link.m_nError != exists) return 0;
    if (m_link.ChangePrice(rec)) return 1;
    if (m_link.m_nError != exists) return 0;
    if (m_link.Pause(5.0) != 0) return 0;
    rec.flag = 0;
    rec.quantity = 0.0;
    return m_link.ProgramPlu(rec, true);
}

int CDsaLogic::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int kind) {
    // New items first, except for update jobs on the first DSA 100 series.
    bool try4059 = !(m_link.m_nModel == 0 && m_link.ErrorTable() != ErrorTableB && kind == 1);
    int r = ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& it) { return NameText(it.name, 16); },
        [this, &try4059](EcrItemRecord& it, int) {
            DsaPluRecord rec = FromHostItem(it);
            int ok = ProgramItem(rec, try4059);
            if (ok != 1) TakeLinkError();
            return ok;
        });
    if (!items) return 0;
    return RunClosing(r, true);
}

int CDsaLogic::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    int r = ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& it) { return NameText(it.name, sizeof it.name); },
        [this](EcrItemRecord& it, int) {
            int ok = m_link.DeletePlu(it.number);
            if (ok != 1) TakeLinkError();
            return ok;
        },
        opt);
    if (!items) return 0;
    return RunClosing(r, true);
}
