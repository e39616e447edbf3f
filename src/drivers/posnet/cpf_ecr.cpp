#include "drivers/posnet/cpf_ecr.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "drivers/posnet/posnet_text.h"
#include "util/cp1250.h"

namespace {


std::string Numbered(const char* format, unsigned number) {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

}  // namespace

CPF_ECR::CPF_ECR() = default;
CPF_ECR::~CPF_ECR() = default;

int CPF_ECR::VariantOfType(int type) {
    switch (type) {
    case 44: return 2;
    case 45: return 3;
    case 54:
    case 62: return 4;
    default: return 1;
    }
}

// ---------------------------------------------------------------- conversions

int CPF_ECR::CheckNumber(uint32_t number) {
    if (number >= 1 && number <= kPerfektMaxPlu) return 1;
    SetError(PERFEKT_ERR_PLU_NUMBER, PL("Numer PLU poza zakresem"));
    return 0;
}

int CPF_ECR::ToDevice(const EcrItemRecord& item, PerfektPlu& plu) {
    plu = PerfektPlu();
    plu.number = item.number;
    if (!CheckNumber(plu.number)) return 0;
    // Blanks go before the 13-character cut: a longer code would be cut into
    // another barcode.
    const CChrArr code = CPosnetPerfekt::WireText(item.code, sizeof item.code);
    CChrArr digits;
    for (int i = 0; i < code.GetLength(); ++i)
        if (code[i] != ' ') digits += code[i];
    if (digits.GetLength() > kPerfektCodeWidth) {
        SetError(PERFEKT_ERR_BARCODE, PL("Za duży kod kreskowy"));
        return 0;
    }
    int64_t hundredths = 0;
    if (!CPosnetPerfekt::PriceToWire(item.price, hundredths)) {
        SetError(PERFEKT_ERR_PRICE, GetErrorText(PERFEKT_ERR_PRICE));
        return 0;
    }
    const std::string digitsText = digits.ToString();
    CopyText(plu.code, sizeof plu.code, digitsText.c_str(), digitsText.size(), kPerfektCodeWidth);
    CopyText(plu.name, sizeof plu.name, item.name, sizeof item.name, 24);
    plu.vatGroup = item.vat_group;
    plu.price = item.price;
    plu.flagA = item.attr2;
    plu.flagB = item.attr1;
    plu.link = item.linked_plu;
    return 1;
}

EcrItemRecord CPF_ECR::ToHost(const PerfektPlu& plu) {
    EcrItemRecord item{};
    item.number = plu.number;
    CopyText(item.code, sizeof item.code, plu.code, sizeof plu.code, 31);
    CopyText(item.name, sizeof item.name, plu.name, sizeof plu.name, 47);
    item.vat_group = plu.vatGroup;
    item.department = 0;
    item.price = plu.price;
    item.attr1 = plu.flagB;
    item.unit = 1;
    item.attr2 = plu.flagA;
    item.linked_plu = plu.link;
    item.attr3 = 0;
    return item;
}

void CPF_ECR::ToHostSale(const PerfektPlu& plu, const PerfektSale& sale, EcrItemRecord& item, EcrSaleRecord& out) {
    item = EcrItemRecord{};
    out = EcrSaleRecord{};
    item.number = plu.number;
    CopyText(item.code, sizeof item.code, sale.code, sizeof sale.code, 31);
    CopyText(item.name, sizeof item.name, sale.name, sizeof sale.name, 47);
    out.kind = 0;
    out.number = 0;
    out.plu = sale.number;
    CopyText(out.code, sizeof out.code, plu.code, sizeof plu.code, 31);
    CopyText(out.name, sizeof out.name, plu.name, sizeof plu.name, 47);
    out.quantity = sale.quantity;
    out.value = sale.value;
}

// ---------------------------------------------------------------- open / close

int CPF_ECR::Open(int port, const EcrDeviceRecord* record) {
    return OpenSerialProtocol(m_proto, record, 0, NoRecordAnswer::SystemError, [&](const EcrDeviceRecord& r) {
        m_proto.SetVariant(VariantOfType(r.type));
        return m_proto.Open(port, r.baud);
    });
}

int CPF_ECR::Close(int) {
    m_proto.ClosePort();
    return 1;
}

bool CPF_ECR::BrokenOff() {
    // A break asked for in the host's callback ends the read, also after
    // the last record.
    if (!m_pSerial || !m_pSerial->IsAborted()) return false;
    SetError(-7, GetErrorText(-7));
    return true;
}

// ---------------------------------------------------------------- reads

int CPF_ECR::ReadVAT(int, double vat[8]) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    if (!m_proto.ReadVAT(vat)) return Failed();
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CPF_ECR::ReadStatus(int, EcrStatusRecord* status, double vat[8]) {
    for (int i = 0; i < 8; ++i) vat[i] = -3.0;
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    std::string text;
    // The VAT rates are asked for only after the status was read.
    if (!m_proto.ReadStatus(text) || !m_proto.ReadVAT(vat)) return Failed();
    StrNCopyZ(status->information, text.c_str(), static_cast<int>(sizeof status->information) - 1);
    Notify(ECR_EVENT_WAIT, std::string(), 100, 0);
    return 1;
}

int CPF_ECR::SaleWalk(bool clearing) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    auto toHost = [this](const PerfektPlu& plu, const PerfektSale& sale) {
        EcrItemRecord item;
        EcrSaleRecord record;
        ToHostSale(plu, sale, item, record);
        SendSale(&item, &record);
    };
    const int r = clearing ? m_proto.ClearPluSales(toHost) : m_proto.ReadPluSales(toHost);
    return r == 1 ? 1 : Failed();
}

int CPF_ECR::ReadSale(int, EcrSaleCallback) { return SaleWalk(false); }

int CPF_ECR::ClearSale(int, EcrSaleCallback) { return SaleWalk(true); }

int CPF_ECR::ReadAllPLU(int, EcrItemReadCallback) {
    Notify(ECR_EVENT_BULK, std::string(), 0, 0);
    const int r = m_proto.ReadAllPlus([this](const PerfektPlu& plu) {
        const EcrItemRecord item = ToHost(plu);
        SendPLU(&item);
    });
    return r == 1 ? 1 : Failed();
}

int CPF_ECR::ReadPLU(int, EcrItemRecord* items, int count, EcrItemReadCallback) {
    if (!items) {
        SetError(-1, PL("Niewłaściwe parametry zadania"));
        return 0;
    }
    if (count <= 0) count = 1;
    int result = 0;
    bool reported = false;
    for (int i = 0; i < count; ++i) {
        const unsigned percent =
            static_cast<unsigned>(std::trunc((i + 1) * 100.0)) / static_cast<unsigned>(count);
        Notify(ECR_EVENT_ITEM, Numbered("PLU - %u", items[i].number), static_cast<int>(percent), 0);
        PerfektPlu plu;
        PerfektSale sale;
        plu.number = items[i].number;
        if (!CheckNumber(plu.number)) return 0;
        if (m_proto.ReadPlu(plu, sale)) {
            const EcrItemRecord item = ToHost(plu);
            SendPLU(&item);
            result = 1;
            if (BrokenOff()) return 0;
            continue;
        }
        // The register's 20 is a missing item: the loop goes on. Any other
        // code (a break too) ends it with that code.
        if (m_proto.m_nError != 20) return Failed();
        result = 1;
        if (!reported && i != count - 1) {
            reported = true;
            SetError(20, GetErrorText(20));
            Notify(ECR_EVENT_DEVICE_ERROR, m_szError, 0, 20);
        }
    }
    return result;
}

// ---------------------------------------------------------------- programming

namespace {
CLogicECR::ItemLoopOptions ProgramLoopOptions() {
    CLogicECR::ItemLoopOptions opt;
    opt.event6OnFirstFailure = true;
    return opt;
}
}  // namespace

int CPF_ECR::PgmPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback, int) {
    // Update and extra-barcode jobs program the item the same way.
    return ItemLoop<EcrItemRecord>(
        items, count,
        [](const EcrItemRecord& it) { return "Nazwa - " + std::string(it.name, strnlen(it.name, sizeof it.name)); },
        [this](EcrItemRecord& it, int) {
            PerfektPlu plu;
            if (!ToDevice(it, plu)) return 0;
            return m_proto.WritePlu(plu, 1) == 1 ? 1 : Failed();
        },
        ProgramLoopOptions());
}

int CPF_ECR::DelPLU(int, EcrItemRecord* items, int count, EcrItemProgramCallback) {
    return ItemLoop<EcrItemRecord>(
        items, count, [](const EcrItemRecord& it) { return Numbered("PLU - %u", it.number); },
        [this](EcrItemRecord& it, int) {
            if (!CheckNumber(it.number)) return 0;
            return m_proto.DeletePlu(static_cast<int>(it.number)) == 1 ? 1 : Failed();
        },
        ProgramLoopOptions());
}

int CPF_ECR::ReadAllDEPT(int, EcrDeptReadCallback) {
    if (m_proto.GetVariant() != 4) return 0;   // no departments: fails with 25
    int result = 0;
    int read = 0;
    for (uint32_t number = 1; number <= kPerfektDepartments; ++number) {
        Notify(ECR_EVENT_ITEM, Numbered("Pobieranie danych grupy tow. - %u", number),
               static_cast<int>(std::trunc(number * 100.0)) / static_cast<int>(kPerfektDepartments), 0);
        PerfektDept dept;
        dept.number = number;
        result = m_proto.ReadDept(dept);
        if (result != 1) {
            // The first undefined department ends the list.
            if (m_proto.m_nError == PERFEKT_ERR_DEPT_NUMBER && read > 0) return 1;
            return Failed();
        }
        ++read;
        EcrDeptRecord host{};
        host.number = dept.number;
        CopyText(host.name, sizeof host.name, dept.name, sizeof dept.name, 47);
        SendDEPT(&host);
        if (BrokenOff()) return 0;
    }
    return result;
}

int CPF_ECR::PgmDEPT(int, EcrDeptRecord* depts, int count, EcrDeptProgramCallback) {
    if (m_proto.GetVariant() != 4) return 0;   // no departments: fails with 25
    return ItemLoop<EcrDeptRecord>(
        depts, count,
        [](const EcrDeptRecord& d) {
            char text[96];
            std::snprintf(text, sizeof text, "Grupa tow. %u - %s", d.number,
                          std::string(d.name, strnlen(d.name, sizeof d.name)).c_str());
            return std::string(text);
        },
        [this](EcrDeptRecord& d, int) {
            PerfektDept dept;
            dept.number = d.number;
            CopyText(dept.name, sizeof dept.name, d.name, sizeof d.name, kPerfektNameWidth);
            return m_proto.WriteDept(dept, 1) == 1 ? 1 : Failed();
        },
        ProgramLoopOptions());
}
