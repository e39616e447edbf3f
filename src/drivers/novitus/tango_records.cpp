#include "drivers/novitus/tango_records.h"

#include <cmath>

namespace tango {

namespace {

constexpr double kMaxHundredths = 9999999999.0;   // 10 digits

// Whole hundredths of an amount (x 100 + 0.1, fraction cut) when they fit
// 10 digits; never converts an out-of-range double.
bool Hundredths(double amount, uint64_t& out) {
    if (std::isnan(amount) || amount < 0.0) return false;
    const double scaled = std::trunc(amount * 100.0 + 0.1);
    if (!(scaled <= kMaxHundredths)) return false;
    out = static_cast<uint64_t>(scaled);
    return true;
}

// Value of a 1-based field of decimal digits; false when any byte is not one.
bool FieldNumber(const CChrArr& body, int pos, int width, uint64_t& value) {
    if (pos < 1 || pos - 1 + width > body.GetLength()) return false;
    value = 0;
    for (int i = 0; i < width; ++i) {
        const uint8_t c = body[pos - 1 + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Reads the numeric fields of one record the register sent. A field that is
// not all digits (blank-padded, signed) spoils the whole record: it must not
// reach the host as a 0.
class NumberFields {
public:
    explicit NumberFields(const CChrArr& body) : m_body(body) {}
    uint32_t Number(int pos, int width) {
        uint64_t v = 0;
        if (!FieldNumber(m_body, pos, width, v)) m_ok = false;
        return static_cast<uint32_t>(v);
    }
    double Scaled(int pos, int width, double divisor) {
        uint64_t v = 0;
        if (!FieldNumber(m_body, pos, width, v)) m_ok = false;
        return static_cast<double>(v) / divisor;
    }
    // A field of hexadecimal digits (either case).
    uint32_t Hex(int pos, int width) {
        uint32_t v = 0;
        if (pos < 1 || pos - 1 + width > m_body.GetLength() || !HexValue(ChrMid(m_body, pos, width), v)) m_ok = false;
        return v;
    }
    bool Ok() const { return m_ok; }

private:
    const CChrArr& m_body;
    bool m_ok = true;
};

// A code field: blanks around it cut.
std::string CodeText(const CChrArr& field) { return ChrTrim(field, ' ').ToString(); }

// A code trimmed of blanks, left-padded with blanks to 18; false when longer.
bool CodeField(const std::string& code, CChrArr& field) {
    const CChrArr trimmed = ChrTrim(CChrArr(code), ' ');
    if (trimmed.GetLength() > kKeyWidth) return false;
    field = ChrPadLeft(trimmed, kKeyWidth, ' ');
    return true;
}

bool SmallField(uint32_t value, int width, CChrArr& out) {
    const uint64_t limit = width == 1 ? 9 : 99;
    if (value > limit) return false;
    out += ZeroPadded(value, width);
    return true;
}

}  // namespace

uint16_t Checksum(const CChrArr& bytes) {
    uint32_t sum = 0;
    for (int i = 0; i < bytes.GetLength(); ++i) sum ^= static_cast<uint32_t>(bytes[i]) << (i % 9);
    return static_cast<uint16_t>(sum & 0xFFFF);
}

CChrArr SimpleRequest(char code, char sub, const CChrArr& key1, const CChrArr& key2) {
    CChrArr body;
    body += static_cast<uint8_t>(code);
    body += static_cast<uint8_t>(sub);
    body += ChrPadLeft(key1, kKeyWidth, '0');
    body += ChrPadLeft(key2, kKeyWidth, '0');
    return body;
}

CChrArr TableRequest(char code, const char* table, char sub, const CChrArr& key1, const CChrArr& key2) {
    CChrArr body;
    body += static_cast<uint8_t>(code);
    body += "#";
    body += ChrPadLeft(CChrArr(table), 2, '0');
    body += static_cast<uint8_t>(sub);
    body += ChrPadLeft(key1, kKeyWidth, '0');
    body += ChrPadLeft(key2, kKeyWidth, '0');
    return body;
}

CChrArr PrefixedRecord(char code, const CChrArr& text) {
    CChrArr body;
    body += static_cast<uint8_t>(code);
    body += "#";
    body += text;
    return body;
}

uint8_t TaxLetter(uint32_t group) {
    static const char kLetters[] = "ABCDEFZ";
    return group >= 1 && group <= 7 ? static_cast<uint8_t>(kLetters[group - 1]) : static_cast<uint8_t>(' ');
}

uint32_t DecodeTaxLetter(const CChrArr& field) {
    if (field.GetLength() != 1) return 0;
    switch (field[0]) {
    case 'A': return 1;
    case 'B': return 2;
    case 'C': return 3;
    case 'D': return 4;
    case 'E': return 5;
    case 'F': return 6;
    case 'Z': return 7;
    default: return 0;
    }
}

int GoodsKey(const std::string& code, uint32_t number, CChrArr& key) {
    if (!ChrTrim(CChrArr(code), ' ').IsEmpty()) return CodeField(code, key) ? 0 : kErrCode;
    if (number < 1 || number > 99998) return kErrCode;
    key = ChrPadLeft(ZeroPadded(number, 5), kKeyWidth, ' ');
    return 0;
}

int PriceField(double price, CChrArr& field) {
    uint64_t hundredths = 0;
    if (!Hundredths(price, hundredths)) return kErrPrice;
    field = ZeroPadded(hundredths, 10);
    return 0;
}

int GoodsFlags(uint32_t precision, uint32_t package, uint32_t tandem, uint16_t& word) {
    if (precision > 3 || package > 2 || tandem > 1) return kErrFlags;
    word = 0;
    if (precision == 1) word |= 0x10;
    if (precision == 2) word |= 0x08;
    if (precision == 3) word |= 0x18;
    if (package == 1) word |= 0x04;
    if (package == 2) word |= 0x01;
    if (tandem == 1) word |= 0x02;
    return 0;
}

void DecodeGoodsFlags(uint16_t word, uint32_t& precision, uint32_t& package, uint32_t& tandem) {
    const uint16_t p = word & 0x18;
    precision = p == 0x18 ? 3 : p == 0x10 ? 1 : p == 0x08 ? 2 : 0;
    package = (word & 0x04) ? 1 : (word & 0x01) ? 2 : 0;
    tandem = (word & 0x02) ? 1 : 0;
}

// ---------------------------------------------------------------- goods

int BuildGoodsRecord(const Goods& g, CChrArr& out) {
    out.RemoveAll();
    CChrArr code, code2, price;
    uint16_t flags = 0;
    if (int e = GoodsKey(g.code, g.number, code)) return e;
    if (!CodeField(g.code2, code2)) return kErrCode;
    if (g.taxGroup < 1 || g.taxGroup > 7) return kErrTaxGroup;
    if (int e = PriceField(g.price, price)) return e;
    if (int e = GoodsFlags(g.precision, g.package, g.tandem, flags)) return e;
    if (g.dept > 99) return kErrDepartment;
    if (g.unit > 99) return kErrUnit;   // 0: the item has no unit

    out += code;
    out += "00000";
    out += ToDeviceText(g.name, 40);
    out += price;
    out += TaxLetter(g.taxGroup);
    if (!SmallField(g.digit, 1, out)) return kErrFlags;
    out += NumToText(flags, 4, '0', 16);
    out += ZeroPadded(g.dept, 2);
    if (!SmallField(g.number2, 2, out)) return kErrFlags;
    out += code2;
    out += ZeroPadded(g.unit, 2);
    out += ChrSpaces(20);
    out += "000";
    return out.GetLength() == kGoodsRecordLength ? 0 : kErrBadRecord;
}

int BuildShortGoodsRecord(const Goods& g, CChrArr& out) {
    out.RemoveAll();
    CChrArr code, code2, price;
    if (ChrTrim(CChrArr(g.code), ' ').IsEmpty() || !CodeField(g.code, code)) return kErrCode;
    if (!CodeField(g.code2, code2)) return kErrCode;
    if (g.taxGroup < 1 || g.taxGroup > 7) return kErrTaxGroup;
    if (int e = PriceField(g.price, price)) return e;
    if (g.precision > 3 || g.package > 2 || g.tandem > 1) return kErrFlags;
    if (g.dept > 99) return kErrDepartment;

    out += code;
    out += ToDeviceText(g.name, 18);
    out += price;
    out += TaxLetter(g.taxGroup);
    if (!SmallField(g.digit, 1, out)) return kErrFlags;
    auto bit = [](bool on) { return static_cast<uint8_t>(on ? '1' : '0'); };
    out += bit(g.precision == 1 || g.precision == 3);
    out += bit(g.precision == 2 || g.precision == 3);
    out += bit(g.package == 1);
    out += bit(g.tandem == 1);
    out += bit(g.package == 2);
    out += ZeroPadded(g.dept, 2);
    if (!SmallField(g.number2, 2, out)) return kErrFlags;
    out += code2;
    return out.GetLength() == kShortGoodsRecordLength ? 0 : kErrBadRecord;
}

bool ParseGoodsReply(const CChrArr& r, Goods& g) {
    if (r.GetLength() != kGoodsReplyLength) return false;
    g = Goods{};
    NumberFields n(r);
    g.code = CodeText(ChrMid(r, 6, 18));
    g.number = n.Number(24, 5);
    g.name = FromDeviceText(ChrMid(r, 29, 40));
    g.price = n.Scaled(69, 10, 100.0);
    g.taxGroup = DecodeTaxLetter(ChrMid(r, 79, 1));
    g.digit = n.Number(80, 1);
    const uint16_t flags = static_cast<uint16_t>(n.Hex(81, 4));
    DecodeGoodsFlags(flags, g.precision, g.package, g.tandem);
    g.dept = n.Number(85, 2);
    g.number2 = n.Number(87, 2);
    g.code2 = CodeText(ChrMid(r, 89, 18));
    g.unit = n.Number(107, 2);
    return n.Ok();
}

// ---------------------------------------------------------------- departments

int BuildDeptRecord(const Dept& d, CChrArr& out) {
    out.RemoveAll();
    CChrArr price;
    if (d.number < 1 || d.number > 99) return kErrDepartment;
    if (d.taxGroup < 1 || d.taxGroup > 7) return kErrTaxGroup;
    if (int e = PriceField(d.price, price)) return e;
    if (d.kind > 3 || d.kind2 > 2) return kErrFlags;

    out += "H1";
    out += ZeroPadded(d.number, 2);
    out += ToDeviceText(d.name, 18);
    out += price;
    out += TaxLetter(d.taxGroup);
    auto bit = [](bool on) { return static_cast<uint8_t>(on ? '1' : '0'); };
    out += bit(d.kind == 1 || d.kind == 3);
    out += bit(d.kind == 2 || d.kind == 3);
    out += bit(d.kind2 == 1);
    out += bit(d.kind2 == 2);
    if (!SmallField(d.number2, 2, out)) return kErrFlags;
    return out.GetLength() == kDeptRecordLength ? 0 : kErrBadRecord;
}

bool ParseDeptRecord(const CChrArr& b, Dept& d) {
    if (b.GetLength() != kDeptRecordLength) return false;
    d = Dept{};
    NumberFields n(b);
    d.number = n.Number(3, 2);
    d.name = FromDeviceText(ChrMid(b, 5, 18));
    d.price = n.Scaled(23, 10, 100.0);
    d.taxGroup = DecodeTaxLetter(ChrMid(b, 33, 1));
    const bool k1 = b[33] == '1', k2 = b[34] == '1';
    d.kind = k1 && k2 ? 3 : k1 ? 1 : k2 ? 2 : 0;
    d.kind2 = b[35] == '1' ? 1 : b[36] == '1' ? 2 : 0;
    d.number2 = n.Number(38, 2);
    return n.Ok();
}

// ---------------------------------------------------------------- units

int BuildUnitRecord(const Unit& u, CChrArr& out) {
    out.RemoveAll();
    if (u.number < 1 || u.number > 99) return kErrUnit;
    out += ZeroPadded(u.number, 2);
    out += ToDeviceText(u.name, 14);
    return out.GetLength() == kUnitRecordLength ? 0 : kErrBadRecord;
}

bool ParseUnitRecord(const CChrArr& b, Unit& u) {
    if (b.GetLength() != kUnitRecordLength) return false;
    u = Unit{};
    NumberFields n(b);
    u.number = n.Number(1, 2);
    u.name = FromDeviceText(ChrMid(b, 3, 14));
    return n.Ok();
}

// ---------------------------------------------------------------- sales

bool ParseReportLine(const CChrArr& b, SaleLine& line) {
    if (b.GetLength() != kPluReportLength && b.GetLength() != kSecondReportLength) return false;
    line = SaleLine{};
    NumberFields n(b);
    line.code = CodeText(ChrMid(b, 2, 18));
    line.plu = n.Number(20, 5);
    line.name = FromDeviceText(ChrMid(b, 25, 40));
    line.quantity = n.Scaled(65, 14, 1000.0);
    line.value = n.Scaled(79, 14, 100.0);
    return n.Ok();
}

bool ParsePosition(const CChrArr& b, SaleLine& line) {
    if (b.GetLength() != kPositionLength && b.GetLength() != kPositionLongLength) return false;
    line = SaleLine{};
    if (!PositionNumberInRange(b)) return false;
    NumberFields n(b);
    line.position = n.Number(1, 6);
    line.plu = n.Number(7, 5);
    line.code = CodeText(ChrMid(b, 12, 18));
    line.name = FromDeviceText(ChrMid(b, 30, 20));
    line.quantity = n.Scaled(50, 11, 1000.0);
    line.value = n.Scaled(61, 10, 100.0);
    if (b.GetLength() == kPositionLongLength) line.text = FromDeviceText(ChrMid(b, 71, 32));
    return n.Ok();
}

bool PositionNumberInRange(const CChrArr& b) {
    uint64_t position = 0;
    return FieldNumber(b, 1, 6, position) && position >= 1;
}

// ---------------------------------------------------------------- status

bool ParseTaxTable(const CChrArr& b, double rates[8]) {
    if (b.GetLength() != kTaxTableLength) return false;
    for (int i = 0; i < 7; ++i) {
        const CChrArr entry = ChrMid(b, 2 + 4 * i, 4);
        // "FFFF": a rate never programmed; 9999: the exempt rate.
        if (entry.ToString() == "FFFF") {
            rates[i] = -3.0;
            continue;
        }
        const double v = std::trunc(TextToDouble(entry));
        if (v == 0.0) rates[i] = 0.0;
        else if (v == 9999.0) rates[i] = -1.0;
        else rates[i] = v / 100.0;
    }
    return true;
}

bool ParseMoreStatus(const CChrArr& b, std::string pieces[3]) {
    if (b.GetLength() != kMoreStatusLength) return false;
    pieces[0] = ChrMid(b, 2, 4).ToString();
    pieces[1] = ChrMid(b, 6, 4).ToString();
    pieces[2] = ChrMid(b, 10, 5).ToString();
    return true;
}

// ---------------------------------------------------------------- texts

std::string FromDeviceText(const CChrArr& field) {
    CChrArr text = Cp852ToCp1250(ChrReplace(field, 0xFF, ' '));
    int n = text.GetLength();
    while (n > 0 && text[n - 1] == ' ') --n;
    return text.Left(n).ToString();
}

CChrArr ToDeviceText(const std::string& text, int width) {
    return ChrPadRight(Cp1250ToCp852(CChrArr(text)), width, ' ');
}

}  // namespace tango
