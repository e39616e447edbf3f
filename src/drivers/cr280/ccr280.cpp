#include "drivers/cr280/ccr280.h"

#include <cstdio>
#include <cstring>

#include "drivers/common/english_errors.h"
#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

constexpr RecordLinkTraits kCr280Traits{8, 'E', false, false, 5, false};
constexpr int kGoodsLength = 55;
constexpr int kDeptLength = 31;
constexpr int kDepartments = 20;
// An upload longer than this is no register's goods list.
constexpr int kMaxRecords = 100000;

}  // namespace

CCr280::CCr280() : CRecordLink(kCr280Traits) {}

std::string CCr280::GetErrorText(int code) {
    if (const char* text = EnglishErrorText(code)) return text;
    if (code == 108) return PL("Brak kodu towaru");
    if (code == 109) return PL("Cena towaru poza zakresem");
    return CTelepathyECR::GetErrorText(code);
}

// ---------------------------------------------------------------- records

CChrArr CCr280::BuildRequest(uint8_t kind, uint8_t flag, const CChrArr& from, const CChrArr& to) {
    CChrArr r(1, kind);
    r += flag;
    r += ChrPadLeft(ChrTrim(from, ' '), 13, ' ');
    r += ChrPadLeft(ChrTrim(to, ' '), 13, ' ');
    return r;
}

int CCr280::ParseVatFlag(const CChrArr& field, int32_t& vat, uint32_t& flag) {
    if (field.GetLength() != 4 || field[0] < '0' || field[0] > '8') {
        m_nError = 103;
        return 0;
    }
    vat = field[0] == '0' ? -1 : field[0] - '0';
    flag = field[2] == '1' ? 1 : 0;
    return 1;
}

int CCr280::BuildPLURecord(const Cr280PLURecord& rec, CChrArr& body) {
    body.RemoveAll();
    CChrArr code = ChrTrim(HostText(rec.code, sizeof rec.code), ' ');
    if (code.GetLength() > 13) {
        m_nError = 999;
        return 0;
    }
    CChrArr dept, vatFlag, price;
    if (!FormatDeptField(rec.dept, dept) || !FormatVatFlag(rec.vat, rec.flag, vatFlag) ||
        !FormatPrice(rec.price, price))
        return 0;
    body = ChrPadLeft(code, 13, '0');
    body += dept;
    body += vatFlag;
    body += price;
    body += ChrPadRight(Cp1250ToDevice(HostText(rec.name, sizeof rec.name)), 12, ' ');
    if (body.GetLength() != 39) {
        m_nError = 999;
        return 0;
    }
    return 1;
}

int CCr280::ParsePLURecord(const CChrArr& text, Cr280PLURecord& rec) {
    if (text.GetLength() != kGoodsLength) {
        m_nError = 999;
        return 0;
    }
    Cr280PLURecord r{};
    CopyBytes(r.code, sizeof r.code, ChrMid(text, 3, 13));
    uint32_t dept = 0;   // the packed record's fields are not bound to references
    if (!ParseDeptField(ChrMid(text, 16, 2), dept)) return 0;
    r.dept = dept;
    int64_t v = 0;
    int32_t vat = 0;
    uint32_t flag = 0;
    if (!ParseVatFlag(ChrMid(text, 18, 4), vat, flag)) return 0;
    r.vat = vat;
    r.flag = flag;
    if (!DecimalField(ChrMid(text, 22, 8), v)) {
        m_nError = 999;
        return 0;
    }
    r.price = static_cast<double>(v) / 100.0;
    CopyBytes(r.name, sizeof r.name, DeviceToCp1250(ChrMid(text, 30, 12)));
    rec = r;
    return 1;
}

// ---------------------------------------------------------------- commands

int CCr280::ReadDeviceError(int& code) {
    // "S", a character, the code digit, four more characters; then EOT.
    CChrArr rec = ReadBody(7);
    if (rec.GetLength() != 7 || rec[0] != 'S') return 0;
    code = rec[2] >= '1' && rec[2] <= '9' ? rec[2] - '0' : 999;
    const int ended = ReadEOT();
    m_nError = code;
    return ended;
}

int CCr280::Recover(const CChrArr&) { return DrainAndFlush(); }

int CCr280::ClearSales() {
    m_nError = 0;
    return CommandSequence(CChrArr(), CChrArr("Zp"));
}

int CCr280::SendPLU(const Cr280PLURecord& rec) {
    m_nError = 0;
    CChrArr body;
    if (!BuildPLURecord(rec, body)) return 0;
    CChrArr text = CChrArr("P0") + body;
    if (text.GetLength() != 41) {
        m_nError = 999;
        return 0;
    }
    return CommandSequence(CChrArr(), text);
}

int CCr280::ReadOnePLU(Cr280PLURecord& rec) {
    m_nError = 0;
    const CChrArr code = ChrTrim(HostText(rec.code, sizeof rec.code), ' ');
    if (!CommandSequence(CChrArr(), BuildRequest('p', '0', code, code)) || !AnswerENQ()) return 0;
    bool found = false;
    Cr280PLURecord got{};
    for (int n = 0; n < kMaxRecords; ++n) {
        CChrArr text = PollRecord(kGoodsLength);
        if (text.GetLength() != kGoodsLength) break;
        Cr280PLURecord r{};
        if (!ParsePLURecord(text, r)) return 0;
        // Only a record of the code asked for is that item: the register
        // pads codes with zeros, and a record of another code is none of it.
        if (!found && SamePaddedCode(CChrArr(r.code), code)) {
            got = r;
            found = true;
        }
    }
    if (m_nError != 998 && m_nError != 0) return 0;
    if (!found) {
        m_nError = 10;
        return 0;
    }
    got.extra = rec.extra;
    rec = got;
    m_nError = 0;
    return 1;
}

// ---------------------------------------------------------------- uploads

int CCr280::UploadDepartments(const DeptFn& fn) {
    m_nError = 0;
    if (!CommandSequence(CChrArr(), CChrArr("d")) || !AnswerENQ()) return 0;
    for (int i = 1; i <= kDepartments; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "DEPT - %i", i);
        Notify(5, text, i * 100 / kDepartments, 0);
        CChrArr rec = PollRecord(kDeptLength);
        if (rec.GetLength() != kDeptLength) {
            if (m_nError == 998) {
                m_nError = 0;
                return 1;
            }
            if (m_nError == 0) break;
            return 0;
        }
        int64_t number = 0;
        if (!DecimalField(ChrMid(rec, 4, 2), number) || number < 1 || number > kDepartments) {
            m_nError = 999;
            return 0;
        }
        Cr280DeptRecord d{};
        d.number = static_cast<uint32_t>(number);
        CopyBytes(d.name, sizeof d.name, DeviceToCp1250(ChrMid(rec, 6, 12)));
        int64_t value = 0, field = 0;
        DecimalField(ChrMid(rec, 18, 8), value);
        DecimalField(ChrMid(rec, 26, 2), field);
        d.value = static_cast<double>(value) / 100.0;
        d.field = static_cast<uint32_t>(field);
        int32_t vat = 0;
        uint32_t flag = 0;
        if (!ParseVatFlag(ChrMid(rec, 28, 4), vat, flag)) {
            m_nError = 0;   // the department is passed over
            continue;
        }
        d.vat = vat;
        d.flag = flag;
        if (fn) fn(d);
    }
    ReadEOT();   // the register's end of its turn does not change the result
    m_nError = 0;
    return 1;
}

int CCr280::UploadPLUs(const PluFn& fn) { return RunGoodsUpload('0', fn, {}); }

int CCr280::UploadSales(const SaleFn& fn) { return RunGoodsUpload('1', {}, fn); }

int CCr280::RunGoodsUpload(uint8_t flag, const PluFn& goods, const SaleFn& sales) {
    m_nError = 0;
    if (!CommandSequence(CChrArr(), BuildRequest('p', flag, CChrArr("1"), CChrArr("9999999999999"))) ||
        !AnswerENQ())
        return 0;
    int passed = 0;
    for (;;) {
        CChrArr text = PollRecord(kGoodsLength);
        if (text.GetLength() != kGoodsLength) break;
        if (passed >= kMaxRecords) {
            m_nError = 999;
            return 0;
        }
        if (flag == '0') {
            Cr280PLURecord rec{};
            if (!ParsePLURecord(text, rec)) return 0;
            if (goods) goods(rec);
        } else {
            Cr280SaleItem item{};
            Cr280SaleRecord sale{};
            CopyBytes(item.code, sizeof item.code, ChrMid(text, 3, 13));
            CopyBytes(item.name, sizeof item.name, DeviceToCp1250(ChrMid(text, 30, 12)));
            std::memcpy(sale.code, item.code, sizeof sale.code);
            std::memcpy(sale.name, item.name, sizeof sale.name);
            int64_t quantity = 0, value = 0;
            DecimalField(ChrMid(text, 42, 4), quantity);
            DecimalField(ChrMid(text, 46, 10), value);
            sale.quantity = static_cast<double>(quantity) / 100.0;
            sale.value = static_cast<double>(value) / 100.0;
            if (sales) sales(item, sale);
        }
        ++passed;
    }
    if (m_nError == 998 || (m_nError == 0 && ReadEOT())) {
        Notify(5, "100 %", 100, 0);
        m_nError = 0;
        return 1;
    }
    if (m_nError == 0) {
        if (passed > 0) return 1;
        m_nError = 999;
    }
    return 0;
}
