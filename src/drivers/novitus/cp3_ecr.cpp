#include "drivers/novitus/cp3_ecr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "drivers/common/record_fields.h"
#include "util/chrarr.h"
#include "util/cp1250.h"

using orv::novitus::CPs3000;
using orv::novitus::Ps3000Dept;
using orv::novitus::Ps3000Plu;
using orv::novitus::Ps3000Sale;
using orv::novitus::Ps3000Unit;

namespace {

// Longer than the register's 18 characters once trailing blanks are left out.
bool TooLong(const char* text, size_t size) {
    std::string t = HostField(text, size);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t.size() > 18;
}

void ToPlu(const EcrItemRecord& item, Ps3000Plu& p) {
    std::memset(&p, 0, sizeof p);
    p.number = item.number;
    CopyTextField(p.code, HostField(item.code, sizeof item.code), 18);
    CopyTextField(p.name, HostField(item.name, sizeof item.name), 40);
    p.vat = item.vat_group;
    p.dept = item.department;
    p.price = item.price;
    p.fieldA = item.attr1;
    p.unit = item.unit;
    p.priceMode = item.attr2;
    p.option = item.word168;
    p.fieldB = item.word172;
    CopyTextField(p.text2, HostField(item.code2, sizeof item.code2), 18);
    p.weighed = item.attr4;
}

void FromPlu(const Ps3000Plu& p, EcrItemRecord& item) {
    std::memset(&item, 0, sizeof item);
    item.number = p.number;
    CopyTextField(item.code, p.code);
    CopyTextField(item.name, p.name);
    item.vat_group = p.vat;
    item.department = p.dept;
    item.price = p.price;
    item.attr1 = p.fieldA;
    item.unit = p.unit;
    item.attr2 = p.priceMode;
    item.word168 = p.option;
    item.word172 = p.fieldB;
    CopyTextField(item.code2, p.text2);
    item.attr3 = 0;
    item.attr4 = p.weighed;
}

void SendDept(void* ctx, const Ps3000Dept& d) {
    EcrDeptRecord r{};
    r.number = d.number;
    CopyTextField(r.name, d.name);
    r.vat_group = d.vat;
    r.price = d.amount;
    r.word92 = d.priceMode;
    r.word96 = d.option;
    r.word100 = d.fieldB;
    static_cast<CP3_ECR*>(ctx)->SendDEPT(&r);
}

void SendGoods(void* ctx, const Ps3000Plu& p) {
    EcrItemRecord r;
    FromPlu(p, r);
    static_cast<CP3_ECR*>(ctx)->SendPLU(&r);
}

void SendUnitRec(void* ctx, const Ps3000Unit& u) {
    EcrUnitRecord r{};
    r.number = u.index;
    CopyTextField(r.name, u.name);
    static_cast<CP3_ECR*>(ctx)->SendUnit(&r);
}

void SendSaleLine(CP3_ECR* logic, const Ps3000Sale& s, double quantity, double value) {
    EcrItemRecord item{};
    EcrSaleRecord sale{};
    CopyTextField(item.code, s.code, 31);
    CopyTextField(item.name, s.name, 47);
    CopyTextField(sale.code, s.code, 31);
    CopyTextField(sale.name, s.name, 47);
    sale.quantity = quantity;
    sale.value = value;
    if (!s.receipt.empty()) {
        CopyTextField(sale.text, s.receipt, 31);
        sale.kind = 1;
        sale.number = static_cast<uint32_t>(std::strtoul(s.receipt.substr(0, 10).c_str(), nullptr, 10));
    }
    logic->SendSale(&item, &sale);
}

// The second report: the first counter pair.
void SecondReportLine(void* ctx, const Ps3000Sale& s) {
    SendSaleLine(static_cast<CP3_ECR*>(ctx), s, s.quantity, s.value);
}

// The first report: the first pair, then the second with its quantity
// negated, each when its quantity is not 0.
void FirstReportLines(void* ctx, const Ps3000Sale& s) {
    auto* logic = static_cast<CP3_ECR*>(ctx);
    if (s.quantity != 0.0) SendSaleLine(logic, s, s.quantity, s.value);
    if (s.quantity2 != 0.0) SendSaleLine(logic, s, -s.quantity2, s.value2);
}

void ReceiptLine(void* ctx, const Ps3000Sale& s) {
    SendSaleLine(static_cast<CP3_ECR*>(ctx), s, s.quantity, s.value);
}

}  // namespace

// ---------------------------------------------------------------- open ----

int CP3_ECR::Open(int /*port*/, const EcrDeviceRecord* record) {
    if (!m_pSerial || !record) return 0;
    SetProtocol(&m_ps);
    m_ps.SetSerial(m_pSerial);
    m_saleMode = (record->flags & 2u) ? 2 : static_cast<int>(record->flags & 1u);
    m_ps.SetModel(record->type == 26 ? 13 : record->type == 85 ? 19 : 1);
    int ok;
    if (record->kind == CPs3000::kTcp)
        ok = m_ps.Connect(CPs3000::kTcp, static_cast<uint32_t>(record->port), 0, std::string());
    else if (record->kind == CPs3000::kSerialNumber)
        ok = m_ps.Connect(CPs3000::kSerialNumber, 0, 0, "SerialNumber");
    else
        ok = m_ps.Connect(CPs3000::kSerial, static_cast<uint32_t>(record->port), record->baud, std::string());
    if (ok) return 1;
    Fail();
    m_ps.Disconnect();
    return 0;
}

int CP3_ECR::Close(int /*port*/) {
    m_ps.Disconnect();
    return 1;
}

bool CP3_ECR::IsNoAnswer(int code) const {
    return CLogicECR::IsNoAnswer(code) || code == CPs3000::kTimeout || code == CPs3000::kNoDevice ||
           code == CPs3000::kConnectionLost;
}

// ---------------------------------------------------------- programming ----

bool CP3_ECR::AmountRefused(double v) {
    if (std::isfinite(v) && v >= 0.0 && v <= kMaxAmount) return false;
    SetError(109, PL("Cena towaru poza zakresem"));
    return true;
}

// A code the register could only take cut (and so as another item's).
bool CP3_ECR::CodeRefused(const char* code, size_t size) {
    if (!TooLong(code, size)) return false;
    SetError(CPs3000::kBadCodeText, GetErrorText(CPs3000::kBadCodeText));
    return true;
}

// Refuses what the register could only take cut or wrong, before any call.
bool CP3_ECR::ItemRefused(const EcrItemRecord& item, bool full) {
    if (CodeRefused(item.code, sizeof item.code) || CodeRefused(item.code2, sizeof item.code2)) return true;
    if (!full) return false;
    if (item.vat_group < 1 || item.vat_group > 7) {
        SetError(9, GetErrorText(9));
        return true;
    }
    return AmountRefused(item.price);
}

int CP3_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int kind) {
    const char* format = kind == 0 ? "Programowanie %s" : "Aktualizacja %s";
    return ItemLoop(
        items, count,
        [&](const EcrItemRecord& it) {
            char text[128];
            std::snprintf(text, sizeof text, format, HostField(it.name, sizeof it.name).c_str());
            return std::string(text);
        },
        [&](EcrItemRecord& it, int) {
            if (ItemRefused(it, kind != 2)) return 0;
            Ps3000Plu p;
            ToPlu(it, p);
            int r = kind == 0 ? m_ps.WritePlu(p) : kind == 1 ? m_ps.UpdatePlu(p) : m_ps.WriteBarcodeRecord(p);
            return r == 1 ? 1 : Fail();
        },
        {.event6OnFirstFailure = true});
}

int CP3_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return ItemLoop(
        items, count, NameLabel<EcrItemRecord>,
        [&](EcrItemRecord& it, int) {
            if (ItemRefused(it, false)) return 0;
            Ps3000Plu p;
            ToPlu(it, p);
            return m_ps.DeletePlu(p) == 1 ? 1 : Fail();
        },
        {.event6OnFirstFailure = true});
}

int CP3_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    return ItemLoop(
        depts, count, NameLabel<EcrDeptRecord>,
        [&](EcrDeptRecord& d, int) {
            if (d.vat_group < 1 || d.vat_group > 7) {
                SetError(9, GetErrorText(9));
                return 0;
            }
            if (AmountRefused(d.price)) return 0;
            Ps3000Dept r{};
            r.number = d.number;
            CopyTextField(r.name, HostField(d.name, sizeof d.name), 18);
            r.vat = d.vat_group;
            r.amount = d.price;
            r.priceMode = d.word92;
            r.option = d.word96;
            r.fieldB = d.word100;
            return m_ps.WriteDept(r) == 1 ? 1 : Fail();
        },
        {.event6OnFirstFailure = true});
}

int CP3_ECR::PgmUNIT(int, EcrUnitRecord* units, int count, EcrUnitProgramCallback) {
    auto text = [](const EcrUnitRecord& u) {
        char t[64];
        std::snprintf(t, sizeof t, "Jednostka m. %u - %s", u.number, HostField(u.name, sizeof u.name).c_str());
        return std::string(t);
    };
    auto refused = [&](const EcrUnitRecord& u) {
        if (u.number != 0) return false;
        SetError(30, GetErrorText(30));
        return true;
    };
    if (m_ps.GetModel() != 19) {
        return ItemLoop(
            units, count, text,
            [&](EcrUnitRecord& u, int) {
                if (refused(u)) return 0;
                Ps3000Unit r{};
                r.index = u.number;
                CopyTextField(r.name, HostField(u.name, sizeof u.name), 4);
                return m_ps.WriteSingleUnit(r) == 1 ? 1 : Fail();
            },
            {.event6OnFirstFailure = true});
    }
    // Model 19 takes all units in one transfer, at most 255.
    if (!units) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    count = std::min(count, 255);
    std::vector<Ps3000Unit> batch(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Notify(ECR_EVENT_ITEM, text(units[i]), ItemPercent(i, count), 0);
        if (refused(units[i])) return 0;
        batch[i].index = units[i].number;
        CopyTextField(batch[i].name, HostField(units[i].name, sizeof units[i].name), 4);
    }
    return m_ps.WriteUnit(batch.data(), count) == 1 ? 1 : Fail();
}

// ------------------------------------------------------------- reading ----

int CP3_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_ps.ReadAllPlus(SendGoods, this) == 1 ? 1 : Fail();
}

int CP3_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_ps.ReadAllDepts(SendDept, this) == 1 ? 1 : Fail();
}

int CP3_ECR::ReadAllUnit(int, EcrUnitReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_ps.ReadAllUnits(SendUnitRec, this) == 1 ? 1 : Fail();
}

int CP3_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    bool noDataReported = false;
    for (int i = 0; i < count; ++i) {
        const std::string code = HostField(items[i].code, sizeof items[i].code);
        Notify(ECR_EVENT_ITEM, "Kod kreskowy - " + code, ItemPercent(i, count), 0);
        if (CodeRefused(items[i].code, sizeof items[i].code)) {
            Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
            return 0;
        }
        Ps3000Plu p{};
        CopyTextField(p.code, code, 18);
        if (m_ps.ReadPlu(p) == 1) {
            SendGoods(this, p);
            continue;
        }
        const int err = m_ps.m_nError;
        if (err != CPs3000::kNoData) {
            Fail();
            if (err != -7) Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
            return 0;
        }
        if (!noDataReported && (i != count - 1 || count == 1)) {
            SetError(CPs3000::kNoData, GetErrorText(CPs3000::kNoData));
            Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
            noDataReported = true;
        }
        if (count < 2) return 0;
    }
    return 1;
}

// Second report, a pause, then the first report (mode 2 zeroes the counters).
int CP3_ECR::SaleReports(int mode) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (m_ps.ReadPluSales2(mode, SecondReportLine, this) != 1) return Fail();
    if (m_pSerial && m_pSerial->Delay(1.0) == -7) {
        SetError(-7, GetErrorText(-7));
        return 0;
    }
    if (m_ps.ReadPluSales(mode, FirstReportLines, this) == 1) return 1;
    if (m_ps.m_nError == CPs3000::kNotAccepted) {
        SetError(0, std::string());
        m_ps.m_nError = 0;
        return 1;
    }
    return Fail();
}

int CP3_ECR::ClearSale(int, EcrSaleCallback) { return SaleReports(2); }

int CP3_ECR::ReadSale(int, EcrSaleCallback) {
    if (m_saleMode == 2) return ReceiptLoop();
    return SaleReports(0);
}

int CP3_ECR::ReceiptLoop() {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    constexpr int kTimeoutLimit = 7;
    constexpr int kMaxReceipts = 1000000;
    int timeouts = 0;
    for (int n = 0; n < kMaxReceipts; ++n) {
        if (m_ps.ReadReceipts(ReceiptLine, this) == 1) {
            timeouts = 0;
            continue;
        }
        const int err = m_ps.m_nError;
        if (err == CPs3000::kNoData) {
            SetError(0, std::string());
            m_ps.m_nError = 0;
            return 1;
        }
        if (err == CPs3000::kTimeout && ++timeouts < kTimeoutLimit) continue;
        return Fail();
    }
    m_ps.m_nError = CPs3000::kNoData;
    return Fail();
}

int CP3_ECR::ReadVAT(int, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (m_ps.ReadVatRates(vat) != 1) return Fail();
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CP3_ECR::ReadStatus(int, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::string version[4];
    std::string info[3];
    if (m_ps.GetModel() != 19 && m_ps.ReadVersion(version) != 1) return Fail();
    if (m_ps.ReadVatRates(vat) != 1) return Fail();
    if (m_ps.ReadDeviceInfo(info) != 1) return Fail();
    CopyTextField(status->unique_number, info[0], 15);
    CopyTextField(status->device_text, "ver." + version[0] + " lib." + info[1], 31);
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}
