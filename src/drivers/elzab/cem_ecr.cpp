#include "drivers/elzab/cem_ecr.h"

#include <cstring>

#include "drivers/elzab/cs6_ecr.h"
#include "util/cp1250.h"

namespace {

std::string Text(const char* prefix, uint32_t number) { return prefix + std::to_string(number); }

// "prefix number - name" with the name cut to the record's field.
std::string NamedText(const char* prefix, uint32_t number, const char* name, size_t size) {
    return prefix + std::to_string(number) + " - " + std::string(name, ::strnlen(name, size - 1));
}

}  // namespace

CEM_ECR::CEM_ECR() = default;

uint32_t CEM_ECR::ModelForType(int type) {
    switch (type) {
    case 43: return 38;
    case 84: return 35;
    case 92: return 36;
    case 93: return 37;
    case 76: case 77: case 78: return 1;
    default: return CS6_ECR::ModelForType(type);
    }
}

int CEM_ECR::LinkKindFor(int kind) {
    switch (kind) {
    case 2: case 9: return 1;
    case 8: return CElzabModem::kLinkModem;
    case 7: return 3;
    case 10: return 4;
    case 13: return CElzabModem::kLinkNetwork;
    default: return 0;
    }
}

std::string CEM_ECR::GetErrorText(int code) { return m_modem.GetErrorText(code); }

int CEM_ECR::Fail() {
    int code = m_modem.m_nError != 0 ? m_modem.m_nError : 9999;
    if (code == m_modem.m_nError)
        SetError(code, m_modem.ErrorText());
    else
        SetError(code, GetErrorText(code));
    return 0;
}

int CEM_ECR::FailWith(int code) {
    if (code == -1)
        SetError(code, PL("Niewłaściwe parametry zadania"));
    else
        SetError(code, GetErrorText(code));
    return 0;
}

// ------------------------------------------------------- open and close ----

int CEM_ECR::Open(int port, const EcrDeviceRecord* record) {
    if (!m_pSerial || !record) return 0;
    SetProtocol(&m_modem);
    m_modem.SetSerial(m_pSerial);
    uint32_t model = ModelForType(record->type);
    m_nOption = (record->flags & 2u) ? 2u : (record->flags & 1u);
    int link = LinkKindFor(record->kind);
    char address[64] = {};
    StrNCopyZ(address, record->address, 63);
    if (!m_modem.Open(link == CElzabModem::kLinkNetwork ? 1 : port, record->baud, link, record->word6, record->word3,
                      static_cast<uint32_t>(record->word7), model, address))
        return Fail();
    return 1;
}

int CEM_ECR::Close(int /*port*/) {
    m_modem.Close();
    return 1;
}

// ---------------------------------------------------------- VAT, status ----

int CEM_ECR::ReadVAT(int /*port*/, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_modem.ReadVatRates(vat)) return Fail();
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

int CEM_ECR::ReadStatus(int /*port*/, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    std::memset(status, 0, sizeof(*status));
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    uint32_t type = 0, receipt = 0;
    std::string text, date, time;
    int ok = m_modem.ReadDeviceType(type, text) && m_modem.ReadClock(date, time) &&
             m_modem.ReadReceiptNumber(receipt) && m_modem.ReadVatRates(vat);
    // A modem link is offered for closing after every status read.
    m_modem.MarkAskOnClose();
    if (!ok) return Fail();
    status->device_type = type;
    StrNCopyZ(status->unique_number, text.c_str(), 15);
    StrNCopyZ(status->date, date.c_str(), 15);
    StrNCopyZ(status->time, time.c_str(), 15);
    status->receipt_number = receipt;
    Notify(ECR_EVENT_WAIT, PL("Proszę czekać..."), 100, 0);
    return 1;
}

// --------------------------------------------------------------- sales ----

void CEM_ECR::DeliverSale(EcrSaleCallback cb, const ElzabSale& s) {
    EcrItemRecord item;
    EcrSaleRecord sale;
    CS6_ECR::SaleToHost(s, nullptr, item, sale);
    CallHost(cb, static_cast<const EcrItemRecord*>(&item), static_cast<const EcrSaleRecord*>(&sale));
}

int CEM_ECR::ReadSale(int port, EcrSaleCallback cb) {
    if (m_nOption == 1) return ClearSale(port, cb);
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    auto deliver = [&](const ElzabSale& s) { DeliverSale(cb, s); };
    if (m_nOption == 2) return m_modem.ReadPeriodSales(deliver) ? 1 : Fail();
    if (!m_modem.ReadSalesMax(deliver)) return Fail();
    return m_modem.ReadPackages(deliver) ? 1 : Fail();
}

int CEM_ECR::ClearSale(int /*port*/, EcrSaleCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_modem.ReadSales([&](const ElzabSale& s) { DeliverSale(cb, s); }) ? 1 : Fail();
}

int CEM_ECR::ReadSaleReport2(int /*port*/, EcrSaleCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_modem.ReadSales([&](const ElzabSale& s) { DeliverSale(cb, s); }) ? 1 : Fail();
}

int CEM_ECR::ReadSaleReport3(int /*port*/, EcrSaleCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_modem.ReadPackages([&](const ElzabSale& s) { DeliverSale(cb, s); }) ? 1 : Fail();
}

// ----------------------------------------------------------------- PLU ----

void CEM_ECR::DeliverPlu(EcrItemReadCallback cb, const ElzabPlu& plu, const std::string& barcode) {
    EcrItemRecord item;
    CS6_ECR::PluToItem(plu, item);
    StrNCopyZ(item.code, barcode.c_str(), sizeof(item.code) - 1);
    CallHost(cb, static_cast<const EcrItemRecord*>(&item));
}

int CEM_ECR::ReadAllPLU(int /*port*/, EcrItemReadCallback cb) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    return m_modem.ReadAllPlus([&](const ElzabPlu& plu, const std::string& barcode) { DeliverPlu(cb, plu, barcode); })
               ? 1
               : Fail();
}

int CEM_ECR::ReadPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemReadCallback cb) {
    if (!items) return FailWith(-1);
    if (count <= 0) count = 1;
    // No confirmation callback here: each failed item is an event.
    return ReadEachItem(
        count, [&](int i) { return Text("Pobieranie danych PLU - ", items[i].number); },
        [&](int i) {
            return m_modem.ReadPlu(items[i].number,
                                   [&](const ElzabPlu& plu, const std::string& barcode) { DeliverPlu(cb, plu, barcode); })
                       ? 1
                       : Fail();
        });
}

template <class Rec>
int CEM_ECR::BatchWrite(Rec* items, int count, const std::function<std::string(const Rec&)>& text,
                        const std::function<int(Rec&, std::string&)>& build,
                        const std::function<int(BatchAnswer& answer)>& send) {
    if (!items) return FailWith(-1);
    if (!m_modem.WriteInFile()) return Fail();
    if (count <= 0) count = 1;

    // The request is built item by item; refused items are confirmed at once.
    std::vector<int> sent;
    ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    int loop = ItemLoop<Rec>(
        items, count, text,
        [&](Rec& r, int index) -> int {
            std::string record;
            if (!build(r, record)) return 0;
            if (!m_modem.AddRecord(record)) return Fail();
            sent.push_back(index);
            return 1;
        },
        opt);
    const int loopError = m_nError;
    const std::string loopText = m_szError;
    if (!m_modem.CloseInFile()) return Fail();
    if (loopError == -7 || sent.empty()) return loop;

    BatchAnswer answer;
    if (!send(answer)) {
        // The register took none of them: each item of the request fails.
        Fail();
        const int code = m_nError;
        const std::string t = m_szError;
        if (code != -7)
            for (int index : sent) Confirm(&items[index], code, t);
        return 0;
    }

    bool lastOk = loop == 1;
    int lastCode = loopError;
    std::string lastText = loopText;
    // Each answer record belongs to the item of its PLU number (the first
    // such item not yet matched): the library may leave a record out or give
    // them in another order.
    std::vector<bool> matched(answer.records.size(), false);
    for (size_t k = 0; k < sent.size(); ++k) {
        Rec& r = items[sent[k]];
        int code = 0;
        if (answer.expected) {
            // An item the answer does not account for is not known to be taken.
            code = CElzabModem::kFileError;
            for (size_t a = 0; a < answer.records.size(); ++a) {
                if (matched[a] || answer.records[a].first != r.number) continue;
                matched[a] = true;
                code = answer.records[a].second;
                break;
            }
        }
        if (code != 0) Confirm(&r, code, GetErrorText(code));
        if (sent[k] == count - 1) {
            lastOk = code == 0;
            lastCode = code;
            lastText = GetErrorText(code);
        }
    }
    if (lastOk) {
        SetError(0, std::string());
        return 1;
    }
    SetError(lastCode, lastText);
    return 0;
}

// One host item as a request record (kinds 0 and 1: goods; 2: extra
// barcode); 0 with the error set when it is refused.
int CEM_ECR::ItemRecord(EcrItemRecord& item, int kind, const double rates[8], std::string& record) {
    if (kind == 2) {
        int refused = m_modem.BarcodeRecord(item.number, item.code, record);
        return refused ? FailWith(refused) : 1;
    }
    uint32_t price = 0;
    if (!CSystem600::PriceToWire(item.price, price)) return FailWith(109);
    if (item.vat_group > 9) return FailWith(103);
    if (item.vat_group == 0) {
        int group = m_modem.FindVatIndex(item.vat_rate, rates);
        if (group <= 0) return FailWith(103);
        item.vat_group = static_cast<uint32_t>(group);   // written back, as on the serial line
    }
    ElzabPlu plu;
    CS6_ECR::ItemToPlu(item, plu);
    int refused = m_modem.GoodsRecord(plu, item.code, record);
    return refused ? FailWith(refused) : 1;
}

int CEM_ECR::PgmPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/, int kind) {
    if (!items) return FailWith(-1);
    double rates[8];
    if (!m_modem.ReadVatRates(rates)) return Fail();
    const char* title = kind == 2   ? "Programowanie PLU "
                        : kind == 1 ? "Aktualizacja danych PLU "
                                    : "Programowanie danych PLU ";
    return BatchWrite<EcrItemRecord>(
        items, count, [title](const EcrItemRecord& r) { return Text(title, r.number); },
        [&](EcrItemRecord& r, std::string& record) { return ItemRecord(r, kind, rates, record); },
        [&](BatchAnswer& answer) {
            if (kind == 1) return m_modem.WritePluPrices();
            if (kind == 2) return m_modem.WriteBarcodes();
            answer.expected = !CElzabModem::UsesShortWrite(m_modem.GetModel());
            return m_modem.WritePlus([&](uint32_t number, int code) { answer.records.emplace_back(number, code); });
        });
}

int CEM_ECR::DelPLU(int /*port*/, EcrItemRecord* items, int count, EcrItemProgramCallback /*cb*/) {
    return BatchWrite<EcrItemRecord>(
        items, count, [](const EcrItemRecord& r) { return Text("Kasowanie danych PLU ", r.number); },
        [](EcrItemRecord& r, std::string& record) {
            record = CElzabModem::DeleteRecord(r.number);
            return 1;
        },
        [&](BatchAnswer&) { return m_modem.DeletePlus(); });
}

// ------------------------------------------------ departments and units ----

int CEM_ECR::ReadAllDEPT(int /*port*/, EcrDeptReadCallback cb) {
    Notify(ECR_EVENT_BULK, PL("Pobieranie danych grup towarowych"), 0, 0);
    return m_modem.ReadDepts([&](uint32_t number, const std::string& name) {
        EcrDeptRecord dept;
        std::memset(&dept, 0, sizeof(dept));
        dept.number = number;
        StrNCopyZ(dept.name, name.c_str(), sizeof(dept.name) - 1);
        CallHost(cb, static_cast<const EcrDeptRecord*>(&dept));
    })
               ? 1
               : Fail();
}

template <class Rec>
int CEM_ECR::WriteNamed(Rec* records, int count, const char* prefix, std::string (*record)(uint32_t, const char*),
                        int (CElzabModem::*write)()) {
    return BatchWrite<Rec>(
        records, count, [prefix](const Rec& r) { return NamedText(prefix, r.number, r.name, sizeof(r.name)); },
        [record](Rec& r, std::string& out) {
            char name[sizeof(r.name)] = {};
            StrNCopyZ(name, r.name, sizeof(name) - 1);
            out = record(r.number, name);
            return 1;
        },
        [this, write](BatchAnswer&) { return (m_modem.*write)(); });
}

int CEM_ECR::PgmDEPT(int /*port*/, EcrDeptRecord* depts, int count, EcrDeptProgramCallback /*cb*/) {
    return WriteNamed(depts, count, "Grupa tow. ", &CElzabModem::DeptRecord, &CElzabModem::WriteDepts);
}

int CEM_ECR::ReadAllUnit(int /*port*/, EcrUnitReadCallback cb) {
    Notify(ECR_EVENT_BULK, PL("Pobieranie danych jednostki miary"), 0, 0);
    return m_modem.ReadUnits([&](uint32_t number, const std::string& name) {
        EcrUnitRecord unit;
        std::memset(&unit, 0, sizeof(unit));
        unit.number = number;
        StrNCopyZ(unit.name, name.c_str(), sizeof(unit.name) - 1);
        CallHost(cb, static_cast<const EcrUnitRecord*>(&unit));
    })
               ? 1
               : Fail();
}

int CEM_ECR::PgmUNIT(int /*port*/, EcrUnitRecord* units, int count, EcrUnitProgramCallback /*cb*/) {
    return WriteNamed(units, count, "Jednostka m. ", &CElzabModem::UnitRecord, &CElzabModem::WriteUnits);
}
