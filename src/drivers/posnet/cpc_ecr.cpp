#include "drivers/posnet/cpc_ecr.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "util/chrarr.h"
#include "util/cp1250.h"

namespace {

std::string Text(const char* field, size_t size) { return std::string(field, ::strnlen(field, size - 1)); }

int Percent(int i, int count) {
    return static_cast<int>(static_cast<unsigned>(std::trunc((i + 1) * 100.0)) / static_cast<unsigned>(count));
}

}  // namespace

CPC_ECR::CPC_ECR() = default;

int CPC_ECR::ModelForType(int type) {
    switch (type) {
    case 10: case 56: case 96: return 2;
    case 90: return 1;
    default: return 0;
    }
}

std::string CPC_ECR::GetErrorText(int code) { return m_combo.GetErrorText(code); }

int CPC_ECR::Fail() {
    if (m_combo.m_nError == 0) m_combo.m_nError = CPosnetCombo::kBadAnswer;
    SetError(m_combo.m_nError, m_combo.ErrorText());
    return 0;
}

// ------------------------------------------------------------ converters ----

ComboPlu CPC_ECR::ItemToPlu(const EcrItemRecord& item, int nameLength) {
    ComboPlu p;
    p.number = item.number;
    p.code = Text(item.code, sizeof item.code);
    p.name = Text(item.name, sizeof item.name);
    if (p.name.size() > static_cast<size_t>(nameLength)) p.name.resize(static_cast<size_t>(nameLength));
    p.vat = item.vat_group;
    p.department = item.department;
    p.price = item.price;
    p.unit = item.unit;
    p.word1 = item.attr1;
    p.word2 = item.attr2;
    p.word3 = item.word168;
    p.word4 = item.word156;
    p.linked = item.linked_plu;
    p.word5 = item.word160;
    p.code2 = Text(item.code2, sizeof item.code2);
    p.pack = item.attr4;
    return p;
}

void CPC_ECR::PluToItem(const ComboPlu& p, EcrItemRecord& item) {
    std::memset(&item, 0, sizeof item);
    item.number = p.number;
    StrNCopyZ(item.code, p.code.c_str(), sizeof item.code - 1);
    StrNCopyZ(item.name, p.name.c_str(), sizeof item.name - 1);
    item.vat_group = p.vat;
    item.department = p.department;
    item.price = p.price;
    item.unit = p.unit;
    item.attr1 = p.word1;
    item.attr2 = p.word2;
    item.word168 = p.word3;
    item.word156 = p.word4;
    item.linked_plu = p.linked;
    item.word160 = p.word5;
}

void CPC_ECR::LineToHost(const ComboSaleLine& line, EcrItemRecord& item, EcrSaleRecord& sale) {
    std::memset(&item, 0, sizeof item);
    std::memset(&sale, 0, sizeof sale);
    item.number = line.plu;
    StrNCopyZ(item.code, line.code.c_str(), sizeof item.code - 1);
    StrNCopyZ(item.name, line.name.c_str(), sizeof item.name - 1);
    sale.kind = line.kind;
    sale.number = line.number;
    sale.plu = line.plu;
    StrNCopyZ(sale.code, line.code.c_str(), sizeof sale.code - 1);
    StrNCopyZ(sale.name, line.name.c_str(), sizeof sale.name - 1);
    sale.quantity = line.quantity;
    sale.value = line.value;
}

// ------------------------------------------------------- open and close ----

int CPC_ECR::Open(int port, const EcrDeviceRecord* record) {
    if (!m_pSerial || !record) return 0;
    m_combo.SetSerial(m_pSerial);
    m_nSaleMode = (record->flags & 2u) ? 2 : static_cast<int>(record->flags & 1u);
    SetProtocol(&m_combo);
    m_combo.SetModel(ModelForType(record->type));
    char address[64] = {};
    StrNCopyZ(address, record->address, 63);
    int r = 0;
    if (record->kind == kKindUsb)
        r = m_combo.OpenDevice(2, 0, address);
    else if (record->kind == kKindTcp)
        r = record->port != 0 ? m_combo.OpenDevice(3, static_cast<uint32_t>(record->port), nullptr)
                              : m_combo.OpenDevice(3, 0, address);
    else
        r = m_combo.OpenSerial(port, record->baud);
    if (r != 1) return Fail();
    return 1;
}

int CPC_ECR::Close(int /*port*/) {
    m_combo.CloseDevice();
    return 1;
}

// ------------------------------------------------------------ VAT, status ----

int CPC_ECR::ReadVAT(int /*port*/, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_combo.ReadVAT(vat)) return Fail();
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CPC_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::string text;
    if (!m_combo.ReadStatus(text) || !m_combo.ReadVAT(vat)) return Fail();
    StrNCopyZ(status->information, text.c_str(), sizeof status->information - 1);
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

// ------------------------------------------------------------------ sales ----

int CPC_ECR::ReadStats(EcrSaleCallback cb, bool clear) {
    auto deliver = [&](const ComboSaleLine& line) {
        EcrItemRecord item;
        EcrSaleRecord sale;
        LineToHost(line, item, sale);
        CallHost(cb, static_cast<const EcrItemRecord*>(&item), static_cast<const EcrSaleRecord*>(&sale));
    };
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!clear && m_nSaleMode == 2) return m_combo.ReadSaleRecords(deliver) ? 1 : Fail();
    if (!(clear ? m_combo.ClearPluStats(deliver) : m_combo.ReadPluStats(deliver))) return Fail();
    if (!(clear ? m_combo.ClearPackStats(deliver) : m_combo.ReadPackStats(deliver))) return Fail();
    return 1;
}

int CPC_ECR::ReadSale(int /*port*/, EcrSaleCallback cb) { return ReadStats(cb, false); }

int CPC_ECR::ClearSale(int /*port*/, EcrSaleCallback cb) { return ReadStats(cb, true); }

// ------------------------------------------------------------------ goods ----

int CPC_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_combo.ReadAllPlus([&](const ComboPlu& p) {
        EcrItemRecord item;
        PluToItem(p, item);
        CallHost(cb, static_cast<const EcrItemRecord*>(&item));
    })
               ? 1
               : Fail();
}

int CPC_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback cb) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    int result = 0;
    for (int i = 0; i < count; ++i) {
        const EcrItemRecord& it = items[i];
        Notify(ECR_EVENT_ITEM, "Kod kreskowy - " + Text(it.code, sizeof it.code), Percent(i, count), 0);
        ComboPlu query;
        query.number = it.number;
        query.code = Text(it.code, sizeof it.code);
        query.name = Text(it.name, sizeof it.name);
        const int by = query.number != 0 ? 0 : !query.code.empty() ? 1 : 2;
        result = m_combo.ReadPlu(query, by);
        if (result <= 0) return Fail();
        EcrItemRecord item;
        PluToItem(query, item);
        CallHost(cb, static_cast<const EcrItemRecord*>(&item));
    }
    return result;
}

template <class Rec>
int CPC_ECR::Items(Rec* items, int count, const std::function<std::string(const Rec&)>& text,
                   const std::function<int(Rec&)>& op) {
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<Rec>(
        items, count, text, [&](Rec& r, int) -> int { return op(r) == 1 ? 1 : Fail(); }, opt);
}

int CPC_ECR::PgmBarcodes(EcrItemRecord* items, int count) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    auto itemText = [&](int i) { return "Nazwa - " + Text(items[i].name, sizeof items[i].name); };
    int result = 0;
    bool failureSeen = false;
    m_bDeviceGone = false;
    NoAnswerRun silent(*this);
    std::vector<std::string> codes;
    std::vector<int> members;
    for (int i = 0; i < count; ++i) {
        EcrItemRecord& it = items[i];
        Notify(ECR_EVENT_ITEM, itemText(i), Percent(i, count), 0);
        codes.push_back(Text(it.code, sizeof it.code));
        members.push_back(i);
        if (i != count - 1 && items[i + 1].number == it.number) {
            result = 1;   // the group is sent with its last item
            continue;
        }
        SetError(0, std::string());
        if (m_combo.InsertBarcode(it.number, codes) == 1) {
            result = 1;
            silent.Gone(0);
        } else {
            Fail();
            if (m_nError == CPosnetCombo::kBreak) return 0;
            result = 0;
            if (!failureSeen && i != count - 1) Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
            failureSeen = true;
            // Every item of the group was refused with it.
            const std::string text = m_szError;
            for (int m : members) ConfirmPLU(&items[m], m_nError, text);
            if (silent.Gone(m_nError)) {
                // The register stopped answering: nothing more is sent.
                return AccountForRest(i + 1, count, itemText, [&](int j, int code, const std::string& t) {
                    ConfirmPLU(&items[j], code, t);
                });
            }
        }
        codes.clear();
        members.clear();
    }
    return result;
}

int CPC_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int kind) {
    if (kind == 2) return PgmBarcodes(items, count);
    const int update = kind == 1 ? 1 : 0;
    return Items<EcrItemRecord>(
        items, count, [](const EcrItemRecord& r) { return "Nazwa - " + Text(r.name, sizeof r.name); },
        [&](EcrItemRecord& r) { return m_combo.ProgramPLU(ItemToPlu(r, m_combo.NameLength()), update); });
}

int CPC_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    return Items<EcrItemRecord>(
        items, count, [](const EcrItemRecord& r) { return "Nazwa - " + Text(r.name, sizeof r.name); },
        [&](EcrItemRecord& r) { return m_combo.DeletePLU(ItemToPlu(r, m_combo.NameLength())); });
}

// -------------------------------------------------- departments and units ----

int CPC_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_combo.ReadAllDepts([&](const ComboGroup& g) {
        EcrDeptRecord dept;
        std::memset(&dept, 0, sizeof dept);
        dept.number = g.number;
        StrNCopyZ(dept.name, g.name.c_str(), 24);
        CallHost(cb, static_cast<const EcrDeptRecord*>(&dept));
    })
               ? 1
               : Fail();
}

int CPC_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    return Items<EcrDeptRecord>(
        depts, count, [](const EcrDeptRecord& d) { return "Nazwa - " + Text(d.name, sizeof d.name); },
        [&](EcrDeptRecord& d) {
            ComboGroup g;
            g.number = d.number;
            g.name = Text(d.name, sizeof d.name);
            return m_combo.InsertGroup(g);
        });
}

int CPC_ECR::ReadAllUnit(int /*port*/, EcrUnitReadCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_combo.ReadAllUnits([&](const ComboUnit& u) {
        EcrUnitRecord unit;
        std::memset(&unit, 0, sizeof unit);
        unit.number = u.number;
        StrNCopyZ(unit.name, u.shortName.c_str(), sizeof unit.name - 1);
        CallHost(cb, static_cast<const EcrUnitRecord*>(&unit));
    })
               ? 1
               : Fail();
}

int CPC_ECR::PgmUNIT(int /*port*/, EcrUnitRecord* units, int count, EcrUnitProgramCallback /*cb*/) {
    return Items<EcrUnitRecord>(
        units, count,
        [](const EcrUnitRecord& u) {
            return "Jednostka m. " + std::to_string(u.number) + " - " + Text(u.name, sizeof u.name);
        },
        [&](EcrUnitRecord& u) {
            ComboUnit c;
            c.number = u.number;
            c.name = Text(u.name, sizeof u.name);
            c.shortName = c.name;
            return m_combo.InsertUnit(c);
        });
}
