#include "drivers/posnet/perfekt.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "orvanta/ecr.h"
#include "drivers/common/record_fields.h"
#include "drivers/posnet/posnet_text.h"
#include "util/cp1250.h"

namespace {

using posnet::Equals;
using posnet::ParseInteger;
using posnet::ParseUnsigned;

constexpr uint8_t kTab = 0x09;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kFe = 0xFE;

CChrArr Num(uint32_t v) { return NumToText(v, 0, ' ', 10); }

// Takes the field up to the terminator off `rest` (the terminator goes
// with it); without one the whole rest is the field.
CChrArr Field(CChrArr& rest, uint8_t terminator) {
    const int at = rest.Find(terminator);
    if (at < 0) {
        CChrArr all = rest;
        rest.RemoveAll();
        return all;
    }
    CChrArr field = rest.Left(at);
    rest = rest.Mid(at + 1);
    return field;
}

// The head of a record command's body: the record kind ("5" goods, "7"
// departments), the option when given, the record's number.
CChrArr RecordHead(const char* kind, uint32_t number, int option = -1) {
    CChrArr body(kind);
    body += kFe;
    if (option >= 0) {
        body += option == 1 ? "1" : "0";
        body += kFe;
    }
    body += Num(number);
    body += kTab;
    return body;
}

// A name as it travels: 16 characters, blank-padded, in Mazovia.
CChrArr NameField(const char* name, size_t cap) {
    return Cp1250ToMazovia(ChrPadRight(CPosnetPerfekt::WireText(name, cap).Left(kPerfektNameWidth), kPerfektNameWidth, ' '));
}

}  // namespace

CPosnetPerfekt::CPosnetPerfekt() : CPosnetFrameLink(Traits{'R', 6, false}) {}

CPosnetPerfekt::~CPosnetPerfekt() = default;

CChrArr CPosnetPerfekt::WireText(const char* text, size_t cap) {
    CChrArr bytes(reinterpret_cast<const uint8_t*>(text), strnlen(text, cap));
    for (int i = 0; i < bytes.GetLength(); ++i)
        if (bytes[i] < 0x20 || bytes[i] == kFe) bytes[i] = ' ';
    return bytes;
}

bool CPosnetPerfekt::PriceToWire(double price, int64_t& hundredths) {
    hundredths = 0;
    if (!(price >= 0.0) || !(price <= kPerfektMaxPrice)) return false;   // negative, NaN, too large
    // The product is exact in long double, so a tie is judged on the
    // price's own binary value.
    hundredths = static_cast<int64_t>(std::roundl(static_cast<long double>(price) * 100.0L));
    return true;
}

std::string CPosnetPerfekt::GetErrorText(int code) {
    if (const char* text = RegisterText(code, true)) return text;
    if (code == PERFEKT_ERR_DEPT_NUMBER) return PL("Błędny numer rekordu");
    if (code == PERFEKT_ERR_PRICE) return PL("Cena towaru poza zakresem");
    if (code == PERFEKT_ERR_WALK_OFFSET) return PL("Brak wskazanego PLU, lub pusta baza PLU");
    return CTelepathyECR::GetErrorText(code);
}

int CPosnetPerfekt::CheckErrorReply(const CChrArr& text) {
    // The refused command's name, then the code as an unsigned decimal. The
    // register may end the code as it ends any other field (TAB, LF or
    // 0xFE); nothing may follow that one terminator.
    const int length = text.GetLength();
    int code = 0;
    int i = 2;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        code = code * 10 + (text[i] - '0');
        if (code > 999) return POSNET_ERR_BAD_REPLY;
    }
    if (i == 2) return POSNET_ERR_BAD_REPLY;   // no digit (or no name)
    if (i < length && (text[i] == kTab || text[i] == kLf || text[i] == kFe)) ++i;
    if (i != length) return POSNET_ERR_BAD_REPLY;
    if (text[0] == '$' && text[1] == 'b') code += PERFEKT_ERR_WALK_OFFSET;
    return code;
}

// ---------------------------------------------------------------- exchange

int CPosnetPerfekt::Transact(const CChrArr& prefix, CChrArr& command, CChrArr& body, int tries) {
    CChrArr payload = prefix;
    payload += command;
    payload += body;
    if (tries < 1) tries = 1;
    if (tries > 10) tries = 10;
    for (;;) {
        if (SendFrame(payload)) {
            CChrArr reply = ReceiveFrame();
            if (!reply.IsEmpty()) {
                body = reply;
                command.RemoveAll();
                return 1;
            }
        }
        if (m_nError == -7) return 0;
        if (tries < 3 && m_pSerial && m_pSerial->Delay(0.2) != 0) {
            m_nError = -7;
            return 0;
        }
        if (--tries <= 0) return 0;
    }
}

int CPosnetPerfekt::Command(const char* command, const CChrArr& body, const char* answer, CChrArr& fields) {
    m_nError = 0;
    fields.RemoveAll();
    CChrArr cmd(command);
    CChrArr reply = body;
    if (!Transact(CChrArr(), cmd, reply, 1)) {
        if (m_nError == 0) m_nError = POSNET_ERR_BAD_REPLY;
        return 0;
    }
    // Answer code, fields, two checksum digits (not checked).
    const int length = reply.GetLength();
    if (length < 4) return Fail(POSNET_ERR_BAD_REPLY);
    const CChrArr code = reply.Left(2);
    const CChrArr rest = reply.Mid(2, length - 4);
    const bool expectAccepted = std::strcmp(answer, "#Z") == 0;
    if (Equals(code, "#Z")) {
        const int refused = CheckErrorReply(rest);
        if (refused != 0) return Fail(refused);
        // Accepted: right only for a write or delete, and for this command.
        if (expectAccepted && Equals(rest.Left(2), command)) return 1;
        return Fail(POSNET_ERR_BAD_REPLY);
    }
    if (expectAccepted || !Equals(code, answer)) return Fail(POSNET_ERR_BAD_REPLY);
    fields = rest;
    return 1;
}

// ---------------------------------------------------------------- records

int CPosnetPerfekt::BuildPluRecord(const PerfektPlu& plu, CChrArr& record) {
    record.RemoveAll();
    if (plu.number < 1 || plu.number > kPerfektMaxPlu) return Fail(PERFEKT_ERR_PLU_NUMBER);
    int64_t price = 0;
    if (!PriceToWire(plu.price, price)) return Fail(PERFEKT_ERR_PRICE);
    CChrArr code;
    const CChrArr given = WireText(plu.code, sizeof plu.code);
    for (int i = 0; i < given.GetLength(); ++i)
        if (given[i] != ' ') code += given[i];
    if (code.GetLength() > kPerfektCodeWidth) return Fail(PERFEKT_ERR_BARCODE);

    record = NameField(plu.name, sizeof plu.name);
    record += kLf;
    record += ChrPadLeft(code, kPerfektCodeWidth, '0');
    record += kLf;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(price));
    record += digits;
    record += kTab;
    if (LongLayout()) {
        record += "0\t0\t";
        record += plu.flagA == 1 ? "1" : "0";
        record += kFe;
        record += plu.flagB != 0 ? "1" : "0";
        record += kFe;
        if (m_nVariant == 4) {
            const uint8_t fixed[] = {'1', kFe, '0', kFe, '1', kFe, '1', kFe};
            record.Append(fixed, sizeof fixed);
        }
    } else {
        record += "0\t";
    }
    record += plu.link == 0 ? CChrArr("0") : Num(plu.link);
    record += kFe;
    if (plu.rawVat[0] != 0) {
        record += WireText(plu.rawVat, sizeof plu.rawVat);
    } else if (plu.vatGroup >= 1 && plu.vatGroup <= 7) {
        record += static_cast<uint8_t>('0' + plu.vatGroup - 1);
    }
    record += kFe;
    return 1;
}

bool CPosnetPerfekt::ParsePlu(CChrArr fields, bool walk, PerfektPlu& plu, PerfektSale& sale, uint32_t* next) const {
    const uint32_t number = walk ? 0 : plu.number;
    plu = PerfektPlu();
    sale = PerfektSale();
    plu.number = number;
    sale.number = number;
    if (next) *next = 0;

    const CChrArr name = Field(fields, kLf);
    const CChrArr code = Field(fields, kLf);
    if (name.IsEmpty() || code.IsEmpty()) return false;
    const CChrArr text = MazoviaToCp1250(name);
    CopyBytes(plu.name, sizeof plu.name, text, kPerfektNameWidth);
    CopyBytes(sale.name, sizeof sale.name, text, kPerfektNameWidth);
    if (!Equals(code, "0000000000000")) {
        CopyBytes(plu.code, sizeof plu.code, code, kPerfektCodeWidth);
        CopyBytes(sale.code, sizeof sale.code, code, kPerfektCodeWidth);
    }

    int64_t price = 0, quantity = 0, value = 0;
    if (!ParseInteger(Field(fields, kTab), price) || !ParseInteger(Field(fields, kTab), quantity)) return false;
    plu.price = static_cast<double>(price) / 100.0;
    sale.quantity = static_cast<double>(quantity) / 1000.0;
    if (LongLayout()) {
        if (!ParseInteger(Field(fields, kTab), value)) return false;
        sale.value = static_cast<double>(value) / 100.0;
        const CChrArr flagA = Field(fields, kFe);
        const CChrArr flagB = Field(fields, kFe);
        if (flagA.IsEmpty() || flagB.IsEmpty()) return false;
        plu.flagA = Equals(flagA, "1") ? 1 : 0;
        plu.flagB = Equals(flagB, "1") ? 3 : 0;
        if (m_nVariant == 4) {
            for (int i = 0; i < 4 && !fields.IsEmpty(); ++i) Field(fields, kFe);
        }
    } else {
        sale.value = sale.quantity * plu.price;
    }

    const CChrArr vatField = [&] {
        if (!ParseUnsigned(Field(fields, kFe), plu.link)) return CChrArr();
        return Field(fields, kFe);
    }();
    int64_t vat = 0;
    if (!ParseInteger(vatField, vat) || vat < 0) return false;
    if (vat <= 6) {
        plu.vatGroup = static_cast<uint32_t>(vat + 1);
    } else if (walk && LongLayout() && vat <= 0xFFFFFFFFll) {
        plu.vatGroup = static_cast<uint32_t>(vat);   // kept as the register sent it
    } else {
        return false;
    }
    CopyBytes(plu.rawVat, sizeof plu.rawVat, vatField, sizeof plu.rawVat - 1);
    if (!walk) plu.rawVat[0] = 0;

    if (walk) {
        uint32_t following = 0;
        if (!ParseUnsigned(Field(fields, kTab), plu.number) || !ParseUnsigned(Field(fields, kTab), following))
            return false;
        sale.number = plu.number;
        if (next) *next = following;
    }
    return true;
}

// ---------------------------------------------------------------- commands

int CPosnetPerfekt::ReadStatus(std::string& text) {
    text.clear();
    m_statusReply.RemoveAll();
    CChrArr fields;
    if (!Command("$z", CChrArr(), "$Z", fields)) return 0;
    if (fields.IsEmpty()) return Fail(POSNET_ERR_BAD_REPLY);
    CChrArr rest = fields;
    auto line = [&](const std::string& s) {
        text += s;
        text += "\r\n";
    };
    auto numberOf = [](const CChrArr& f) {
        int64_t v = -1;
        return ParseInteger(f, v) ? v : -1;
    };
    // Each field in turn; the text keeps the lines built before a missing one.
    CChrArr f = Field(rest, kFe);
    if (f.IsEmpty()) return 1;
    const int64_t type = numberOf(f);
    const char* model = type == 0                                  ? "ECR Perfekt"
                        : type == 1                                ? "Bingo Standard"
                        : type == 2 || type == 10 || type == 11    ? "Bingo Plus"
                                                                   : "?";
    line(std::string("Typ kasy : ") + model);
    if ((f = Field(rest, kFe)).IsEmpty()) return 1;
    line(numberOf(f) == 1 ? "Tryb pracy fiskalny" : "Tryb pracy niefiskalny");
    if ((f = Field(rest, kFe)).IsEmpty()) return 1;
    line(numberOf(f) == 1 ? "Totalizery zerowe" : "Totalizery niezerowe");
    for (int i = 0; i < 3; ++i)
        if (Field(rest, kFe).IsEmpty()) return 1;
    if (Field(rest, kLf).IsEmpty()) return 1;
    if ((f = Field(rest, kLf)).IsEmpty()) return 1;
    line("Numer unikatowy : " + f.ToString());
    if (Field(rest, kLf).IsEmpty()) return 1;
    if ((f = Field(rest, kLf)).IsEmpty()) return 1;
    line("Wersja software'u : " + f.ToString());
    for (int i = 0; i < 7; ++i)
        if (Field(rest, kTab).IsEmpty()) return 1;
    m_statusReply = fields;
    return 1;
}

int CPosnetPerfekt::ReadVAT(double rates[8]) {
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    CChrArr fields;
    if (!Command("$s", CChrArr(), "$S", fields)) return 0;
    int n = 0;
    while (n < 7 && !fields.IsEmpty()) {
        const CChrArr f = Field(fields, kTab);
        int64_t v = 0;
        if (!ParseInteger(f, v)) return Fail(POSNET_ERR_BAD_REPLY);
        rates[n++] = v == 10100 ? -3.0 : v == 10000 ? -1.0 : static_cast<double>(v) / 100.0;
    }
    if (n < 7) return Fail(POSNET_ERR_BAD_REPLY);
    return 1;
}

int CPosnetPerfekt::ReadPlu(PerfektPlu& plu, PerfektSale& sale) {
    m_nError = 0;
    if (plu.number < 1 || plu.number > kPerfektMaxPlu) return Fail(PERFEKT_ERR_PLU_NUMBER);
    CChrArr fields;
    if (!Command("$r", RecordHead("5", plu.number), "$R", fields)) return 0;
    if (!ParsePlu(fields, false, plu, sale, nullptr)) return Fail(POSNET_ERR_BAD_REPLY);
    return 1;
}

int CPosnetPerfekt::WritePlu(const PerfektPlu& plu, int option) {
    m_nError = 0;
    CChrArr record;
    if (!BuildPluRecord(plu, record)) return 0;
    CChrArr body = RecordHead("5", plu.number, option);
    body += record;
    CChrArr fields;
    return Command("#p", body, "#Z", fields);
}

int CPosnetPerfekt::DeletePlu(int number) {
    m_nError = 0;
    if (number < 1 || number > static_cast<int>(kPerfektMaxPlu)) return Fail(PERFEKT_ERR_PLU_NUMBER);
    CChrArr fields;
    return Command("#d", RecordHead("5", static_cast<uint32_t>(number)), "#Z", fields);
}

int CPosnetPerfekt::WriteDept(const PerfektDept& dept, int option) {
    m_nError = 0;
    if (dept.number < 1 || dept.number > kPerfektDepartments) return Fail(PERFEKT_ERR_DEPT_NUMBER);
    CChrArr body = RecordHead("7", dept.number, option);
    body += NameField(dept.name, sizeof dept.name);
    body += kLf;
    body += "0";
    body += kTab;
    CChrArr fields;
    return Command("#p", body, "#Z", fields);
}

int CPosnetPerfekt::ReadDept(PerfektDept& dept) {
    m_nError = 0;
    if (dept.number < 1 || dept.number > kPerfektDepartments) return Fail(PERFEKT_ERR_DEPT_NUMBER);
    CChrArr fields;
    if (!Command("$r", RecordHead("7", dept.number), "$R", fields)) return 0;
    const CChrArr name = Field(fields, kLf);
    if (name.IsEmpty() || Field(fields, kTab).IsEmpty()) return Fail(POSNET_ERR_BAD_REPLY);
    CopyBytes(dept.name, sizeof dept.name, MazoviaToCp1250(name), kPerfektNameWidth);
    return 1;
}

// ---------------------------------------------------------------- walks

int CPosnetPerfekt::RunWalk(Walk kind, const SaleCallback& callback) {
    m_nError = 0;
    int percent = 0;
    uint32_t next = 0;
    for (uint32_t records = 0;;) {
        // The first step asks for "0"; the sales clearing sends the next
        // number right-aligned in six characters.
        CChrArr body = records == 0 ? CChrArr("0") : NumToText(next, kind == Walk::Clear ? 6 : 0, ' ', 10);
        body += kTab;
        CChrArr fields;
        if (!Command("$b", body, "$B", fields)) return 0;
        PerfektPlu plu;
        PerfektSale sale;
        uint32_t following = 0;
        if (fields.IsEmpty() || !ParsePlu(fields, true, plu, sale, &following)) return Fail(POSNET_ERR_BAD_REPLY);
        ++records;

        char text[32];
        std::snprintf(text, sizeof text, "PLU - %u", plu.number);
        Notify(ECR_EVENT_ITEM, text, percent, 0);
        if (percent < 90) percent = (percent + 1) % 100;

        if (kind == Walk::All) {
            if (callback) callback(plu, sale);
        } else if (sale.quantity != 0.0) {
            if (callback) callback(plu, sale);
            // A break asked for in the callback stops the rewrite at its
            // send step.
            if (kind == Walk::Clear && !WritePlu(plu, 1)) return 0;
        }
        if (IsAborted()) return Fail(-7);
        if (following == 0) return 1;
        // A register that keeps naming the same record, or more records
        // than there are PLU numbers, would never end the walk.
        if (following == plu.number || records >= kPerfektMaxPlu) return Fail(POSNET_ERR_BAD_REPLY);
        next = following;
    }
}

int CPosnetPerfekt::ReadAllPlus(const PluCallback& callback) {
    return RunWalk(Walk::All, [&](const PerfektPlu& plu, const PerfektSale&) {
        if (callback) callback(plu);
    });
}

int CPosnetPerfekt::ReadPluSales(const SaleCallback& callback) { return RunWalk(Walk::Sales, callback); }

int CPosnetPerfekt::ClearPluSales(const SaleCallback& callback) { return RunWalk(Walk::Clear, callback); }
