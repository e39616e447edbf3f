#include "drivers/elzab/cs6_ecr.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "util/cp1250.h"

namespace {

constexpr int kAttempts = 6;    // reads of one number before the job gives up

std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    return buf;
}

int Percent(uint32_t n, uint32_t total) {
    return total ? static_cast<int>(std::trunc(n * 100.0) / total) : 100;
}

// "%.3f" of raw / 10^decimals, from the integers (exact, locale-free).
std::string QuantityText(int32_t raw, uint8_t decimals) {
    int64_t v = raw;
    int scale = decimals == 1 ? 10 : decimals == 2 ? 100 : decimals == 3 ? 1000 : 1;
    int64_t thousandths = v * (1000 / scale);
    bool neg = thousandths < 0;
    uint64_t a = neg ? static_cast<uint64_t>(-thousandths) : static_cast<uint64_t>(thousandths);
    char buf[48];
    std::snprintf(buf, sizeof(buf), "%s%llu.%03llu", neg ? "-" : "", static_cast<unsigned long long>(a / 1000),
                  static_cast<unsigned long long>(a % 1000));
    return buf;
}

}  // namespace

CS6_ECR::CS6_ECR() = default;

uint32_t CS6_ECR::ModelForType(int type) {
    switch (type) {
    case 2: return 2;
    case 3: return 3;
    case 4: case 77: return 8;
    case 5: case 76: return 10;
    case 6: return 5;
    case 20: return 32;
    case 22: return 33;
    case 24: return 34;
    case 27: return 13;
    case 28: return 14;
    case 29: case 78: return 15;
    case 30: return 16;
    case 31: return 17;
    case 32: return 18;
    case 46: return 19;
    case 53: return 23;
    case 63: return 24;
    case 79: return 25;
    case 80: return 26;
    case 81: return 27;
    case 94: return 28;
    case 95: return 29;
    case 98: return 30;
    case 99: return 31;
    case 102: case 300: return 20;
    case 700: return 21;
    case 701: return 22;
    default: return 1;
    }
}

std::string CS6_ECR::GetErrorText(int code) { return m_sys.GetErrorText(code); }

int CS6_ECR::Fail() {
    int code = m_sys.m_nError != 0 ? m_sys.m_nError : 9999;
    SetError(code, GetErrorText(code));
    return 0;
}

int CS6_ECR::FailWith(int code) {
    if (code == -1)
        SetError(code, PL("Niewłaściwe parametry zadania"));
    else
        SetError(code, GetErrorText(code));
    return 0;
}

// One record read, tried up to six times: 1 read, 0 not defined (202),
// -1 failed (the error is set; after the last failure event 6 is sent). The
// attempts are for a register that misses an answer: one that has not
// answered kNoAnswerLimit times in a row is not asked again.
int CS6_ECR::ReadWithRetries(const std::function<int()>& read) {
    NoAnswerRun silent(*this);
    for (int attempt = 1;; ++attempt) {
        if (read()) return 1;
        int e = m_sys.m_nError;
        if (e == 202) return 0;
        if (e == -7) {
            Fail();
            return -1;
        }
        if (silent.Gone(e) || attempt >= kAttempts) {
            Fail();
            Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, m_nError);
            return -1;
        }
    }
}

bool CS6_ECR::CheckRegister() {
    if (m_sys.CheckEcrNumber()) return true;
    Fail();
    return false;
}

// ---------------------------------------------------------------- open ----

int CS6_ECR::Open(int port, const EcrDeviceRecord* record) {
    if (!m_pSerial || !record) return 0;
    SetProtocol(&m_sys);
    m_sys.SetSerial(m_pSerial);
    uint32_t model = ModelForType(record->type);
    m_nOption = (record->flags & 2u) ? 2u : (record->flags & 1u);
    if (!m_sys.Open(port, record->baud, record->word3, static_cast<uint32_t>(record->word7), model)) return Fail();

    int ok = 1;
    if (record->kind == 2)
        ok = m_sys.CTelepathyECR::SelectMuxChannel(port, 4, record->word6);
    else if (record->kind == 10)
        ok = m_sys.SelectMuxChannel(port, 8, record->word6);
    if (ok) return 1;

    int code = m_sys.m_nError != 0 ? m_sys.m_nError : 9999;
    std::string text = (code == 1 || code == 2) ? CTelepathyECR::GetMuxErrorText(code) : GetErrorText(code);
    SetError(code, text);
    m_sys.ClosePort();
    return 0;
}

int CS6_ECR::Close(int /*port*/) {
    m_sys.ClosePort();
    return 1;
}

// ----------------------------------------------------- records and VAT ----

void CS6_ECR::ItemToPlu(const EcrItemRecord& item, ElzabPlu& plu) {
    plu = ElzabPlu();
    plu.number = item.number;
    StrNCopyZ(plu.barcode, item.code, sizeof(plu.barcode) - 1);
    StrNCopyZ(plu.name, item.name, sizeof(plu.name) - 1);
    plu.vat = item.vat_group;
    plu.dept = item.department;
    plu.price = item.price;
    plu.byte21 = item.attr1;
    plu.unit = item.unit;
    plu.byte23 = item.attr3;
    plu.byte34 = item.attr4;
}

void CS6_ECR::PluToItem(const ElzabPlu& plu, EcrItemRecord& item) {
    std::memset(&item, 0, sizeof(item));
    item.number = plu.number;
    StrNCopyZ(item.code, plu.barcode, sizeof(item.code) - 1);
    StrNCopyZ(item.name, plu.name, sizeof(item.name) - 1);
    item.vat_group = plu.vat;
    item.department = plu.dept;
    item.price = plu.price;
    item.attr1 = plu.byte21;
    item.unit = plu.unit;
    item.attr3 = plu.byte23;
    item.attr4 = plu.byte34;
}

int CS6_ECR::ReadVAT(int /*port*/, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    if (!CheckRegister()) return 0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_sys.ReadVatRates(vat)) return Fail();
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

int CS6_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    std::memset(status, 0, sizeof(*status));
    if (!CheckRegister()) return 0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);

    uint32_t code = 0, receipt = 0;
    std::string unique, date, time;
    if (!m_sys.ReadStatusCode(code)) return Fail();
    if (!m_sys.ReadStatusText11(unique)) return Fail();
    if (!m_sys.ReadStatusTexts(date, time)) return Fail();
    if (!m_sys.ReadStatusWord(receipt)) return Fail();
    if (!m_sys.ReadVatRates(vat)) return Fail();
    uint32_t flags[4] = {};
    for (int i = 0; i < 4; ++i)
        if (!m_sys.ReadStatusFlag(i, flags[i])) return Fail();

    status->device_type = code;
    StrNCopyZ(status->unique_number, unique.c_str(), 15);
    StrNCopyZ(status->date, date.c_str(), 15);
    StrNCopyZ(status->time, time.c_str(), 15);
    status->receipt_number = receipt;
    for (int i = 0; i < 4; ++i) status->status[i] = flags[i];
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

// --------------------------------------------------------------- sales ----

void CS6_ECR::SaleToHost(const ElzabSale& s, const ElzabPlu* plu, EcrItemRecord& item, EcrSaleRecord& sale) {
    std::memset(&item, 0, sizeof(item));
    std::memset(&sale, 0, sizeof(sale));
    item.number = s.plu;
    if (plu) {
        StrNCopyZ(item.code, plu->barcode, sizeof(item.code) - 1);
        StrNCopyZ(item.name, plu->name, sizeof(item.name) - 1);
    }
    if (s.hasPrice) {
        item.price = s.priceRaw / 100.0;
        item.vat_group = s.vat;
    }
    sale.plu = s.plu;
    sale.quantity = s.quantity;
    sale.value = s.value;
}

void CS6_ECR::DeliverSale(EcrSaleCallback cb, const ElzabSale& s, const ElzabPlu* plu) {
    EcrItemRecord item;
    EcrSaleRecord sale;
    SaleToHost(s, plu, item, sale);
    CallHost(cb, static_cast<const EcrItemRecord*>(&item), static_cast<const EcrSaleRecord*>(&sale));
}

int CS6_ECR::WalkCapacity(uint32_t& capacity) {
    capacity = m_sys.GetPluCapacity();
    if (!CSystem600::HasLongNames(m_sys.GetModel())) return 1;
    uint32_t reported = 0;
    if (m_sys.ReadPluCapacity(reported)) {
        if (reported > 0 && reported <= capacity) capacity = reported;
    } else if (m_sys.m_nError == -7) {
        return Fail();
    }
    return 1;
}

// The sales counters of every PLU (option mode 0).
int CS6_ECR::ReadSaleCounters(EcrSaleCallback cb) {
    uint32_t capacity = 0;
    if (!WalkCapacity(capacity)) return 0;
    for (uint32_t n = 1; n <= capacity; ++n) {
        Notify(ECR_EVENT_ITEM, Format("Pobieranie danych PLU - %u", n), Percent(n, capacity), 0);
        ElzabSale sale;
        int defined = ReadWithRetries([&] { return m_sys.ReadPluSaleCounter(n, sale); });
        if (defined < 0) return 0;
        if (defined == 0 || sale.quantityRaw == 0) continue;

        ElzabPlu plu;
        int found = ReadWithRetries([&] { return m_sys.ReadPluRecord(n, plu); });
        if (found < 0) return 0;
        bool named = found == 1;
        Notify(ECR_EVENT_ITEM, named ? std::string(plu.name) : std::string(), Percent(n, capacity), 0);
        DeliverSale(cb, sale, named ? &plu : nullptr);
        std::string line = Format("\r\n$%u\t", n) + QuantityText(sale.quantityRaw, sale.decimals) +
                           Format("\t%d\t", sale.valueRaw);
        m_sys.WriteSaleLog(CChrArr(line));
    }
    return 1;
}

int CS6_ECR::ReadSale(int port, EcrSaleCallback cb) {
    if (m_nOption == 1) return ClearSale(port, cb);
    if (!CheckRegister()) return 0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    auto deliver = [&](const ElzabSale& s) { DeliverSale(cb, s, nullptr); };
    if (m_nOption == 2) return m_sys.ReadPluSales3(deliver) ? 1 : Fail();
    if (!m_sys.ReadPluSales(deliver)) return Fail();
    return ReadSaleCounters(cb);
}

int CS6_ECR::ClearSale(int /*port*/, EcrSaleCallback cb) {
    if (!CheckRegister()) return 0;
    auto deliver = [&](const ElzabSale& s) { DeliverSale(cb, s, nullptr); };
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (m_sys.ClearSaleCounters()) return 1;
    // 201: not all sales were read. Read what remains (it reaches the host:
    // the counters are cleared right after) and clear again, three times at
    // most.
    for (int round = 0; round < 3; ++round) {
        if (m_sys.m_nError != 201) return Fail();
        Notify(ECR_EVENT_BULK, std::string(), 0, 0);
        if (!m_sys.ReadPluSales2(deliver)) return Fail();
        Notify(ECR_EVENT_BULK, std::string(), 0, 0);
        if (!m_sys.ReadPluSales(deliver)) return Fail();
        Notify(ECR_EVENT_BULK, std::string(), 0, 0);
        if (m_sys.ClearSaleCounters()) return 1;
    }
    return Fail();
}

int CS6_ECR::ReadSaleReport2(int /*port*/, EcrSaleCallback cb) {
    if (!CheckRegister()) return 0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_sys.ReadPluSales2([&](const ElzabSale& s) { DeliverSale(cb, s, nullptr); }) ? 1 : Fail();
}

int CS6_ECR::ReadSaleReport3(int /*port*/, EcrSaleCallback cb) {
    if (!CheckRegister()) return 0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_sys.ReadPluSales([&](const ElzabSale& s) { DeliverSale(cb, s, nullptr); }) ? 1 : Fail();
}

// ----------------------------------------------------------------- PLU ----

int CS6_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback cb) {
    if (!CheckRegister()) return 0;
    uint32_t capacity = 0;
    if (!WalkCapacity(capacity)) return 0;
    for (uint32_t n = 1; n <= capacity; ++n) {
        Notify(ECR_EVENT_ITEM, Format("Pobieranie danych PLU - %u", n), Percent(n, capacity), 0);
        ElzabPlu plu;
        int found = ReadWithRetries([&] { return m_sys.ReadPluRecord(n, plu); });
        if (found < 0) return 0;
        if (found == 1) {
            EcrItemRecord item;
            PluToItem(plu, item);
            CallHost(cb, static_cast<const EcrItemRecord*>(&item));
        }
    }
    return 1;
}

int CS6_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback cb) {
    if (!items) return FailWith(-1);
    if (!CheckRegister()) return 0;
    if (count <= 0) count = 1;
    uint32_t capacity = m_sys.GetPluCapacity();
    // No confirmation callback here: each failed item is an event.
    return ReadEachItem(
        count, [&](int i) { return Format("Pobieranie danych PLU - %u", items[i].number); },
        [&](int i) {
            const EcrItemRecord& rec = items[i];
            ElzabPlu plu;
            if (rec.number > capacity || rec.number > 0xFFFF) {
                m_sys.m_nError = 105;
                return Fail();
            }
            if (m_sys.ReadPluRecord(rec.number, plu) == 0) return Fail();
            EcrItemRecord item;
            PluToItem(plu, item);
            CallHost(cb, static_cast<const EcrItemRecord*>(&item));
            return 1;
        });
}

// One item of PgmPLU: 1, or 0 with the logic object's error set.
int CS6_ECR::ProgramItem(EcrItemRecord& item, int kind, const double rates[8]) {
    uint32_t model = m_sys.GetModel();
    if (item.number > m_sys.GetPluCapacity() || item.number > 0xFFFF) return FailWith(105);
    if (item.department > 0xFF) return FailWith(110);
    if (item.unit > 0xFF) return FailWith(111);
    if (item.vat_group > 0xFF) return FailWith(103);
    uint32_t price = 0;
    if (!CSystem600::PriceToWire(item.price, price)) return FailWith(109);

    ElzabPlu plu;
    ItemToPlu(item, plu);
    if (model == 20 && item.number > 0 && (plu.barcode[0] == 0 || static_cast<unsigned char>(plu.barcode[0]) < '1')) {
        std::string code = Format("29%04u0000000", item.number);
        StrNCopyZ(plu.barcode, code.c_str(), sizeof(plu.barcode) - 1);
    } else {
        // More than 13 leading digits would be cut to a different barcode.
        char digits[33] = {};
        StrNCopyZ(digits, item.code, 31);
        uint64_t value = 0;
        if (!CSystem600::BarcodeToNumber(digits, value)) return FailWith(108);
    }

    bool vatMissing = false;
    if (item.vat_group == 0) {
        int group = m_sys.FindVatIndex(item.vat_rate, rates);
        if (group > 0) {
            item.vat_group = static_cast<uint32_t>(group);
            plu.vat = static_cast<uint32_t>(group);
        } else {
            vatMissing = true;
        }
    }

    auto fullWrite = [&]() -> int {
        if (vatMissing) return FailWith(103);
        if (CSystem600::UsesShortWrite(model) && plu.unit > 16) return FailWith(111);
        return m_sys.WritePlu(plu, false) ? 1 : Fail();
    };

    if (kind == 1) {
        if (m_sys.WritePlu(plu, true)) return 1;
        int e = m_sys.m_nError;
        if (e != 105 && e != 202) return Fail();
        return fullWrite();
    }
    return fullWrite();
}

int CS6_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int kind) {
    if (!items) return FailWith(-1);
    if (!CheckRegister()) return 0;
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;

    if (kind == 2) {
        return ItemLoop<EcrItemRecord>(
            items, count, [](const EcrItemRecord& r) { return Format("Programowanie PLU %u", r.number); },
            [&](EcrItemRecord& r, int) -> int {
                if (r.number > m_sys.GetPluCapacity() || r.number > 0xFFFF) return FailWith(105);
                ElzabPlu plu;
                ItemToPlu(r, plu);
                char digits[33] = {};
                StrNCopyZ(digits, r.code, 31);
                uint64_t value = 0;
                if (!CSystem600::BarcodeToNumber(digits, value)) return FailWith(108);
                return m_sys.WriteBarcode(plu) ? 1 : Fail();
            },
            opt);
    }

    double rates[8];
    if (!m_sys.ReadVatRates(rates)) return Fail();
    const char* title = kind == 1 ? "Aktualizacja danych PLU %u" : "Programowanie danych PLU %u";
    return ItemLoop<EcrItemRecord>(
        items, count, [title](const EcrItemRecord& r) { return Format(title, r.number); },
        [&](EcrItemRecord& r, int) -> int { return ProgramItem(r, kind, rates); }, opt);
}

int CS6_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    if (!items) return FailWith(-1);
    if (!CheckRegister()) return 0;
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrItemRecord>(
        items, count, [](const EcrItemRecord& r) { return Format("Kasowanie danych PLU %u", r.number); },
        [&](EcrItemRecord& r, int) -> int {
            if (r.number > m_sys.GetPluCapacity() || r.number > 0xFFFF) return FailWith(105);
            return m_sys.DeletePlu(r.number) ? 1 : Fail();
        },
        opt);
}

// ------------------------------------------------ departments and units ----

int CS6_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback cb) {
    if (!CheckRegister()) return 0;
    uint32_t capacity = m_sys.GetDeptCapacity();
    for (uint32_t n = 1; n <= capacity; ++n) {
        Notify(ECR_EVENT_ITEM, Format("Pobieranie danych grupy tow. - %u", n), Percent(n, capacity), 0);
        std::string name;
        if (!m_sys.ReadDept(n, name)) {
            if (m_sys.m_nError == 202) continue;
            return Fail();
        }
        EcrDeptRecord dept;
        std::memset(&dept, 0, sizeof(dept));
        dept.number = n;
        StrNCopyZ(dept.name, name.c_str(), sizeof(dept.name) - 1);
        CallHost(cb, static_cast<const EcrDeptRecord*>(&dept));
    }
    return 1;
}

int CS6_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    if (!depts) return FailWith(-1);
    if (!CheckRegister()) return 0;
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrDeptRecord>(
        depts, count,
        [](const EcrDeptRecord& d) {
            char name[49] = {};
            StrNCopyZ(name, d.name, 47);
            return Format("Grupa tow. %u - %s", d.number, name);
        },
        [&](EcrDeptRecord& d, int) -> int {
            if (d.number > 0xFF) return FailWith(110);
            char name[49] = {};
            StrNCopyZ(name, d.name, 47);
            return m_sys.WriteDept(d.number, name) ? 1 : Fail();
        },
        opt);
}

int CS6_ECR::ReadAllUnit(int /*port*/, EcrUnitReadCallback cb) {
    if (!CheckRegister()) return 0;
    std::string names[16];
    if (!m_sys.ReadUnits(names)) return Fail();
    for (uint32_t n = 1; n <= 16; ++n) {
        Notify(ECR_EVENT_ITEM, Format("Pobieranie danych jednostki - %u", n), Percent(n, 16), 0);
        EcrUnitRecord unit;
        std::memset(&unit, 0, sizeof(unit));
        unit.number = n;
        StrNCopyZ(unit.name, names[n - 1].c_str(), sizeof(unit.name) - 1);
        CallHost(cb, static_cast<const EcrUnitRecord*>(&unit));
    }
    return 1;
}

int CS6_ECR::PgmUNIT(int /*port*/, EcrUnitRecord* units, int count, EcrUnitProgramCallback /*cb*/) {
    if (!units) return FailWith(-1);
    if (!CheckRegister()) return 0;
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return ItemLoop<EcrUnitRecord>(
        units, count,
        [](const EcrUnitRecord& u) {
            char name[9] = {};
            StrNCopyZ(name, u.name, 7);
            return Format("Jednostka m. %u - %s", u.number, name);
        },
        [&](EcrUnitRecord& u, int) -> int {
            if (u.number > 0xFF) return FailWith(111);
            char name[9] = {};
            StrNCopyZ(name, u.name, 7);
            return m_sys.WriteUnit(u.number, name) ? 1 : Fail();
        },
        opt);
}
