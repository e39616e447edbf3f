#include "drivers/hida/chida.h"

#include <cmath>
#include <cstdio>

#include "drivers/common/english_errors.h"
#include "drivers/common/record_fields.h"

namespace {

// 9600 8N1 whatever the device record says, CTS waited for, reads of 5 s,
// blocks carry their transfer type letter.
constexpr RecordLinkTraits kHidaTraits{8, 'N', false, true, 5, true};

// The register number, sent twice in every header and once in every data text.
const char kRegister[] = "01";
// The date field of every header: characters 7-8, 5-6 and 3-4 of "01.11.01".
const char kDateField[] = "011..1";

constexpr uint8_t kComma = 0x2C;

// A key of the header: blanks trimmed, '0' on the left, the leftmost 13.
CChrArr Key(const CChrArr& key) { return ChrPadLeft(ChrTrim(key, ' '), 13, '0'); }

}  // namespace

CHida::CHida() : CRecordLink(kHidaTraits) {}

std::string CHida::GetErrorText(int code) {
    if (const char* text = EnglishErrorText(code)) return text;
    return CTelepathyECR::GetErrorText(code);
}

// ---------------------------------------------------------------- texts

CChrArr CHida::BuildJobHeader(uint8_t job, uint8_t kind, const CChrArr& from, const CChrArr& to, uint8_t flag) {
    CChrArr h(kRegister);
    h += kRegister;
    h += job;
    h += kind;
    h += Key(from);
    h += Key(to);
    h += flag;
    h += kDateField;
    return h;
}

int CHida::BuildPluText(const HidaPlu& plu, uint8_t operation, CChrArr& out) {
    out.RemoveAll();
    const CChrArr code = ChrTrim(plu.code, ' ');
    if (code.GetLength() > 13 || plu.linked > 9999) {
        m_nError = 999;   // a cut code would name another item
        return 0;
    }
    CChrArr dept, vat, price;
    if (!FormatDeptField(plu.dept, dept) || !FormatVatFlag(plu.vat, plu.flag, vat) || !FormatPrice(plu.price, price))
        return 0;
    out = CChrArr(kRegister);
    out += 'U';
    out += operation;
    out += ChrPadLeft(code, 13, '0');
    out += ChrPadRight(Cp1250ToDevice(plu.name), 12, ' ');
    out += dept;
    out += price;
    out += vat;
    out += ZeroPadded(plu.linked, 4);
    if (out.GetLength() != kPluLength) {
        m_nError = 999;
        return 0;
    }
    return 1;
}

int CHida::BuildDeptText(const HidaDept& dept, CChrArr& out) {
    out.RemoveAll();
    if (dept.number > 99 || dept.second > 99) {
        m_nError = 999;
        return 0;
    }
    CChrArr price, vat;
    if (!FormatPrice(dept.price, price)) return 0;
    FormatVatFlag(-1, dept.flag, vat);   // the department's group is not sent
    out = CChrArr(kRegister);
    out += 'T';
    out += ZeroPadded(dept.number, 2);
    out += ChrPadRight(Cp1250ToDevice(dept.name), 12, ' ');
    out += price;
    out += ZeroPadded(dept.second, 2);
    out += vat;
    if (out.GetLength() != kDeptLength) {
        m_nError = 999;
        return 0;
    }
    return 1;
}

int CHida::ParseVatField(const CChrArr& field, int32_t& vat, uint32_t& flag) {
    int64_t group = 0, second = 0;
    if (field.GetLength() != 4 || !DecimalField(field.Left(2), group) || !DecimalField(field.Mid(2, 2), second)) {
        m_nError = 999;
        return 0;
    }
    if (group > 8) {
        m_nError = 103;
        return 0;
    }
    vat = group == 0 ? -1 : static_cast<int32_t>(group);
    flag = second == 1 ? 1 : 0;
    return 1;
}

int CHida::ParsePluText(const CChrArr& text, HidaPlu& plu) {
    HidaPlu p;
    int64_t price = 0, linked = 0;
    if (text.GetLength() != kPluLength || !DecimalField(ChrMid(text, 32, 8), price) ||
        !DecimalField(ChrMid(text, 44, 4), linked)) {
        m_nError = 999;
        return 0;
    }
    if (!ParseDeptField(ChrMid(text, 30, 2), p.dept) || !ParseVatField(ChrMid(text, 40, 4), p.vat, p.flag)) return 0;
    p.code = ChrMid(text, 5, 13);
    p.name = DeviceToCp1250(ChrMid(text, 18, 12));
    p.price = static_cast<double>(price) / 100.0;
    p.linked = static_cast<uint32_t>(linked);
    plu = p;
    return 1;
}

int CHida::ParseDeptText(const CChrArr& text, HidaDept& dept) {
    HidaDept d;
    int64_t number = 0, price = 0, second = 0;
    if (text.GetLength() != kDeptLength || !DecimalField(ChrMid(text, 4, 2), number) ||
        !DecimalField(ChrMid(text, 18, 8), price) || !DecimalField(ChrMid(text, 26, 2), second)) {
        m_nError = 999;
        return 0;
    }
    if (!ParseVatField(ChrMid(text, 28, 4), d.vat, d.flag)) return 0;
    d.number = static_cast<uint32_t>(number);
    d.name = DeviceToCp1250(ChrMid(text, 6, 12));
    d.price = static_cast<double>(price) / 100.0;
    d.second = static_cast<uint32_t>(second);
    dept = d;
    return 1;
}

int CHida::ParseSaleText(const CChrArr& text, int valueDigits, HidaSale& sale) {
    int64_t quantity = 0, value = 0;
    if (text.GetLength() != 25 + valueDigits || !DecimalField(ChrMid(text, 18, 7), quantity) ||
        !DecimalField(ChrMid(text, 26, valueDigits), value)) {
        m_nError = 999;
        return 0;
    }
    sale.code = ChrMid(text, 4, 13);
    sale.quantity = static_cast<double>(quantity) / 100.0;
    sale.value = static_cast<double>(value) / 100.0;
    if (text[16] == 'F') sale.quantity = -sale.quantity;
    if (text[24] == 'F') sale.value = -sale.value;
    return 1;
}

// ---------------------------------------------------------------- link

int CHida::Link() {
    if (!DrainAndFlush()) return 0;
    for (int attempt = 1; attempt <= kLinkAttempts; ++attempt) {
        if (Aborted() || !SendByte(ENQ)) return 0;
        const int b = ReadByte();
        if (m_nError == -7) return 0;
        if (b == ACK) {
            m_nError = 0;
            return 1;
        }
        if (b == DLE) {
            const int second = ReadByte();
            if (second == kComma) {
                if (attempt < kLinkAttempts) continue;
                // Asked for a new link every time: the PC gives up.
                if (SendEOT()) ReadEOT();
                if (m_nError != -7) m_nError = 999;
                return 0;
            }
            if (m_nError == -7) return 0;
            return EndTurnFailing(second < 0 ? m_nError : 999);   // silence keeps its code
        }
        if (attempt == kLinkAttempts) return EndTurnFailing(b < 0 ? m_nError : 999);
    }
    return 0;
}

int CHida::EndTurnFailing(int code) {
    SendEOT();
    if (m_nError != -7) m_nError = code;
    return 0;
}

// ---------------------------------------------------------------- jobs

int CHida::StartJob(const CChrArr& header) {
    m_nError = 0;
    if (Aborted()) return 0;
    EndRegistersTurn();
    return Link() && SendRecord(CChrArr("S"), header);
}

int CHida::SendJob(const CChrArr& header, const CChrArr& data) {
    return StartJob(header) && SendRecord(CChrArr("D"), data) && SendEOT() && ExpectEOT();
}

int CHida::StartRead(const CChrArr& header) { return StartJob(header) && SendEOT() && AnswerENQ(); }

int CHida::ProgramPlu(const HidaPlu& plu) {
    m_nError = 0;
    CChrArr data;
    if (!BuildPluText(plu, '0', data)) return 0;
    return SendJob(BuildJobHeader('U', '1', CChrArr(), CChrArr(), '0'), data);
}

int CHida::DeletePlu(const HidaPlu& plu) {
    m_nError = 0;
    CChrArr data;
    if (!BuildPluText(plu, '2', data)) return 0;
    return SendJob(BuildJobHeader('U', '1', CChrArr(), CChrArr(), '0'), data);
}

int CHida::ProgramDept(const HidaDept& dept) {
    m_nError = 0;
    CChrArr data;
    if (!BuildDeptText(dept, data)) return 0;
    const CChrArr number = ZeroPadded(dept.number, 13);
    return SendJob(BuildJobHeader('T', '1', number, number, '0'), data);
}

int CHida::ClearSales() {
    return StartJob(BuildJobHeader('c', '2', CChrArr("0"), CChrArr("0"), '1')) && SendEOT() && ExpectEOT();
}

int CHida::ReadOnePlu(HidaPlu& plu) {
    const CChrArr code = plu.code.Left(13);
    if (!StartRead(BuildJobHeader('U', '0', code, code, '0'))) return 0;
    const CChrArr text = PollRecord(kPluLength);
    if (text.GetLength() != kPluLength) {
        if (m_nError == 998) m_nError = 10;
        return 0;
    }
    HidaPlu got;
    if (!ParsePluText(text, got)) {
        // The register's turn is ended before the failure is reported.
        return EndTurnFailing(m_nError);
    }
    if (!ExpectEOT() || !SendEOT()) return 0;
    // A record of another code is not the item asked for.
    if (!SamePaddedCode(got.code, code)) {
        m_nError = 10;
        return 0;
    }
    plu = got;
    return 1;
}

int CHida::ReadList(const CChrArr& header, int length, const std::function<void(const CChrArr&)>& fn) {
    if (!StartRead(header)) return 0;
    for (int blocks = 0;; ++blocks) {
        const CChrArr text = PollRecord(length);
        if (text.GetLength() != length) break;
        if (blocks >= kMaxBlocks) return EndTurnFailing(999);
        fn(text);
        m_nError = 0;   // a block the parser refused is passed over
    }
    if (m_nError == 0 && (!ExpectEOT() || !SendEOT())) return 0;
    if (m_nError != 0 && m_nError != 998) return 0;
    Notify(5, "100 %", 100, 0);
    m_nError = 0;
    return 1;
}

int CHida::ReadAllPlu(const std::function<void(const HidaPlu&)>& fn) {
    return ReadList(BuildJobHeader('U', '0', CChrArr("0"), CChrArr("0"), '1'), kPluLength, [&](const CChrArr& text) {
        HidaPlu plu;
        if (ParsePluText(text, plu) && fn) fn(plu);
    });
}

int CHida::ReadSalePass(uint8_t job, int length, int valueDigits, bool withQuantityOnly,
                        const std::function<void(const HidaSale&)>& fn) {
    return ReadList(BuildJobHeader(job, '0', CChrArr("0"), CChrArr("0"), '1'), length, [&](const CChrArr& text) {
        HidaSale sale;
        if (!ParseSaleText(text, valueDigits, sale)) return;
        if (withQuantityOnly && sale.quantity == 0.0) return;
        if (fn) fn(sale);
    });
}

int CHida::ReadSales(const std::function<void(const HidaSale&)>& fn) {
    if (!ReadSalePass('c', kFirstSaleLength, 9, false, fn)) return 0;
    return ReadSalePass('d', kSecondSaleLength, 7, true, fn);
}

int CHida::ReadAllDept(const std::function<void(const HidaDept&)>& fn) {
    if (!StartRead(BuildJobHeader('T', '0', CChrArr("0"), CChrArr("0"), '1'))) return 0;
    for (int d = 1; d <= kDepartments; ++d) {
        char text[32];
        std::snprintf(text, sizeof text, "DEPT - %i", d);
        Notify(5, text, static_cast<int>(std::trunc(d * 100.0) / kDepartments), 0);
        const CChrArr block = PollRecord(kDeptLength);
        if (block.GetLength() != kDeptLength) break;
        int64_t number = 0;
        if (!DecimalField(ChrMid(block, 4, 2), number) || number < 1 || number > kDepartments) break;
        HidaDept dept;
        if (!ParseDeptText(block, dept)) {
            m_nError = 0;   // passed over
            continue;
        }
        if (fn) fn(dept);
    }
    if (m_nError == 998) {
        m_nError = 0;
        return 1;
    }
    if (m_nError != 0) return 0;
    // The departments are read: the register's end of its turn (or a block
    // beyond the twentieth) is answered with EOT and does not change that.
    ReadByte();
    if (m_nError == -7) return 0;
    SendEOT();
    if (m_nError == -7) return 0;
    m_nError = 0;
    return 1;
}
