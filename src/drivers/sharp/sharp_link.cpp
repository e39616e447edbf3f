#include "drivers/sharp/sharp_link.h"

#include <cmath>
#include <cstdio>

#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

// An operation without a serial service to work with.
constexpr int kNoTransport = 999999;
// Bytes of line noise skipped before a reply block's STX.
constexpr int kMaxNoise = 64;

// The number in text[pos, pos + len) (0-based) in base 10 or 16; false when
// a character is not a digit of the base or the text is too short.
bool ParseNumber(const CChrArr& text, int pos, int len, int base, uint64_t& value) {
    value = 0;
    if (len <= 0 || pos < 0 || pos + len > text.GetLength()) return false;
    for (int i = pos; i < pos + len; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || d >= base) return false;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    return true;
}

bool ParseDigits(const CChrArr& text, uint64_t& value) { return ParseNumber(text, 0, text.GetLength(), 10, value); }

CChrArr Hex(uint32_t value, int width) { return NumToText(value, width, '0', 16); }

uint64_t PowerOfTen(int digits) {
    uint64_t v = 1;
    for (int i = 0; i < digits; ++i) v *= 10;
    return v;
}

std::string Format(const char* format, int value) {
    char buf[128];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

CChrArr TrimTrailingBlanks(const CChrArr& text) {
    int n = text.GetLength();
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == 0)) --n;
    return text.Left(n);
}

}  // namespace

CSharpLink::CSharpLink(const SharpTraits& traits) : m_nNameMode(traits.defaultNameMode), m_traits(traits) {
    if (traits.options == SharpOptionKind::Sharp285) m_nSecondOption = 0;
}

CSharpLink::~CSharpLink() = default;

// ---------------------------------------------------------------- options

int CSharpLink::ApplyOptions(int machineNo, int flags) {
    switch (m_traits.options) {
    case SharpOptionKind::Sharp457:
        m_nNameMode = (flags & 0x10) ? 15 : (flags & 1);
        m_nSecondOption = 1;
        break;
    case SharpOptionKind::Sharp495:
    case SharpOptionKind::Sharp285:
        m_nNameMode = flags & 1;
        m_nSecondOption = (flags >> 7) & 1;
        break;
    }
    m_nBarcodeOption = (flags >> 1) & 1;
    m_nThirdOption = (flags >> 2) & 1;
    m_nFifthOption = 1;
    m_nMachine = machineNo;
    return m_nMachine;
}

int CSharpLink::DeptNameWidth() const {
    if (m_traits.deptNameByMode) return NameWidth();
    return m_nSecondOption == 1 ? 16 : 8;
}

// ---------------------------------------------------------------- handshakes

int CSharpLink::AnswerENQ() {
    const CChrArr b = ReadBytes(1);
    if (b.GetLength() != 1) return Failed();
    if (b[0] != ENQ) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    return SendByte(ACK);
}

int CSharpLink::ExpectEOT() {
    const CChrArr b = ReadBytes(1);
    if (b.GetLength() != 1) return Failed();
    if (b[0] != EOT) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- blocks

CChrArr CSharpLink::SelectionBytes() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%i", m_nMachine);
    CChrArr number = ChrTrim(CChrArr(buf), ' ');
    CChrArr out(3, EOT);
    out += ChrPadLeft(number, 6, '0');
    out += ENQ;
    return out;
}

int CSharpLink::Select() {
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return 0;
    }
    const CChrArr sequence = SelectionBytes();
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const int drained = m_pSerial->WaitOutputDrained(m_nPort, 5);
        if (drained != 0) {
            m_nError = drained;
            NoteTransport(drained);
            m_pSerial->FlushOutput(m_nPort);
            return 0;
        }
        m_pSerial->FlushInput(m_nPort);
        if (!SendBytes(sequence)) return 0;
        const CChrArr b = ReadBytes(1);
        if (b.GetLength() == 1 && b[0] == ACK) {
            m_nError = 0;
            return 1;
        }
        if (m_nError == -7) return 0;
        if (b.GetLength() == 1) m_nError = kSharpNoAnswer;   // some other answer
        if (attempt < 3 && !Pause(0.5)) return 0;
    }
    return Failed();
}

int CSharpLink::SendBlock(int number, const CChrArr& data) {
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return 0;
    }
    CChrArr body(1, static_cast<uint8_t>('0' + (number % 10 + 10) % 10));
    body += data;
    if (body.GetLength() >= 252) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    CChrArr frame(1, STX);
    frame += body;
    frame += Hex(Checksum(body), 2);
    frame += CR;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (!SendBytes(frame)) return 0;
        const CChrArr b = ReadBytes(1);
        if (b.GetLength() != 1) return Failed();
        if (b[0] == ACK) return 1;
        if (b[0] == EOT) {
            // The register ends the transfer: its result record tells why.
            if (m_bInResult) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
            if (!Pause(0.5)) return 0;
            CChrArr record;
            if (!ReadDeviceError(record)) return Failed();
            const int code = ParseErrorReply(record);
            m_nError = code != 0 ? code : kSharpNoAnswer;
            return 0;
        }
        if (b[0] != NAK) {
            m_nError = kSharpNoAnswer;
            return 0;
        }
    }
    m_nError = kSharpNoAnswer;   // three NAKs
    return 0;
}

CSharpLink::BlockResult CSharpLink::ReadReplyBlock(int number, int fixedLength, bool allowEot, CChrArr& data) {
    data.RemoveAll();
    if (!m_pSerial) {
        m_nError = kNoTransport;
        return BlockResult::Failed;
    }
    const uint8_t digit = static_cast<uint8_t>('0' + (number % 10 + 10) % 10);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        CChrArr b = ReadBytes(1);
        if (b.GetLength() != 1) {
            Failed();
            return BlockResult::Failed;
        }
        // Line noise before the block is skipped (within bounds).
        uint8_t first = b[0];
        bool heard = true;
        for (int noise = 0; first != STX && !(allowEot && first == EOT) && noise < kMaxNoise; ++noise) {
            b = ReadBytes(1);
            if (b.GetLength() != 1) {
                heard = false;
                break;
            }
            first = b[0];
        }
        if (m_nError == -7) return BlockResult::Failed;
        if (heard && allowEot && first == EOT) return BlockResult::Eot;
        if (heard && first == STX) {
            const CChrArr rest = fixedLength >= 0 ? ReadBytes(fixedLength + 4) : ReadUntilCR(1024);
            if (m_nError == -7) return BlockResult::Failed;
            const int n = rest.GetLength();
            const bool sized = fixedLength >= 0 ? n == fixedLength + 4 : n > 4;
            if (sized && rest[n - 1] == CR && rest[0] == digit) {
                const int sum = HexByte(rest, n - 3);
                if (sum >= 0 && sum == Checksum(rest.Left(n - 3))) {
                    if (!SendByte(ACK)) return BlockResult::Failed;
                    m_nError = 0;
                    data = rest.Mid(1, n - 4);
                    return BlockResult::Data;
                }
            }
        }
        // A bad block: what is left of it is dropped and the register asked
        // for it again, twice; the third bad copy is dropped unanswered.
        if (attempt < 3) {
            m_pSerial->FlushInput(m_nPort);
            if (!SendByte(NAK)) return BlockResult::Failed;
        }
    }
    m_nError = kSharpNoAnswer;
    return BlockResult::Failed;
}

CChrArr CSharpLink::ReadBlock(int number) {
    CChrArr data;
    ReadReplyBlock(number, -1, false, data);
    return data;
}

CChrArr CSharpLink::ReadFixedBlock(int number, int length) {
    CChrArr data;
    ReadReplyBlock(number, length, false, data);
    return data;
}

int CSharpLink::ReadDeviceError(CChrArr& record) {
    record.RemoveAll();
    const bool outer = !m_bInResult;
    m_bInResult = true;
    int ok = Select() && SendJobCode(0, 99, 0, "") && SendEOT() && AnswerENQ() && Pause(0.3);
    if (ok) {
        record = ReadFixedBlock(0, 40);
        ok = !record.IsEmpty() && ExpectEOT();
    }
    if (outer) m_bInResult = false;
    return ok ? 1 : 0;
}

int CSharpLink::ParseErrorReply(const CChrArr& record) {
    if (record.GetLength() < 8) return 0;
    uint64_t code = 0;
    if (!ParseNumber(record, 0, 4, 10, code)) return kSharpNoAnswer;
    return code == 0 ? 0 : static_cast<int>(code) + kSharpDeviceBase;
}

int CSharpLink::CheckResult() {
    m_nError = 0;
    CChrArr record;
    if (!ReadDeviceError(record)) return Failed();
    m_nError = ParseErrorReply(record);
    return m_nError == 0 ? 1 : 0;
}

// ---------------------------------------------------------------- job codes

std::string CSharpLink::JobCodeText(int job, int subCode) const {
    const bool later = m_traits.jobTable == SharpJobTable::Later;
    std::string sub;
    switch (job) {
    case 10: sub = subCode == 2 ? "02" : "00"; break;
    case 20:
    case 21:
        sub = subCode == 2 ? "02" : subCode == 1 ? "01" : (later && subCode == 3) ? "12" : "00";
        break;
    case 30:
    case 90:
    case 91:
    case 93:
    case 99: sub = "00"; break;
    case 32:
        switch (subCode) {
        case 0: sub = "x0"; break;
        case 1: sub = later ? "31" : "01"; break;
        case 9: sub = "0x"; break;
        case 10: sub = "1x"; break;
        case 20: sub = "2x"; break;
        default: sub = later ? "3x" : "31"; break;
        }
        break;
    case 92: sub = subCode == 20 ? "20" : subCode == 10 ? "10" : subCode == 0 ? "00" : "x0"; break;
    default: return std::string();
    }
    return std::to_string(job) + "-" + sub;
}

int CSharpLink::SendJobCode(int number, int job, int subCode, const std::string& argument) {
    const std::string code = JobCodeText(job, subCode);
    if (code.size() != 5) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    CChrArr data("/" + code + "/");
    data += CChrArr(argument);
    return SendBlock(number, data);
}

// ---------------------------------------------------------------- header

CChrArr CSharpLink::FormatHeader(const SharpHeader& header) const {
    CChrArr text("/HDR1/");
    text += Hex(header[0], 2);
    text += Hex(header[1], 2);
    text += Hex(header[2], 4);
    text += "00";
    text += Hex(header[3], 4);
    for (int i = 4; i < 7 + m_traits.headerFields; ++i) text += Hex(header[i], 2);
    return text;
}

int CSharpLink::SendHeader(int number, const SharpHeader& header) {
    const CChrArr text = FormatHeader(header);
    if (text.GetLength() != HeaderLength()) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    return SendBlock(number, text);
}

int CSharpLink::ParseHeader(const CChrArr& text, SharpHeader& header) const {
    header = SharpHeader{};
    if (text.GetLength() != HeaderLength() || text.Left(6) != CChrArr("/HDR1/")) return 0;
    // h0, h1 hexadecimal; h2 and h3 five decimal characters from positions
    // 11 and 16; h4..h6 two decimal characters; then the hexadecimal pairs.
    struct Field {
        int pos, len, base;
    };
    const Field fields[7] = {{6, 2, 16}, {8, 2, 16}, {10, 5, 10}, {15, 5, 10}, {20, 2, 10}, {22, 2, 10}, {24, 2, 10}};
    uint64_t v = 0;
    for (int i = 0; i < 7; ++i) {
        if (!ParseNumber(text, fields[i].pos, fields[i].len, fields[i].base, v)) return 0;
        header[i] = static_cast<uint32_t>(v);
    }
    for (int i = 0; i < m_traits.headerFields; ++i) {
        if (!ParseNumber(text, 26 + 2 * i, 2, 16, v)) return 0;
        header[7 + i] = static_cast<uint32_t>(v);
    }
    return 1;
}

int CSharpLink::ReadHeader(SharpHeader& header) {
    const CChrArr text = ReadFixedBlock(0, HeaderLength());
    if (text.IsEmpty()) return Failed();
    if (m_traits.dumpHeaderOnRead) DumpBlock(text);
    if (!ParseHeader(text, header)) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- data blocks

int CSharpLink::SendDataBlocks(int number, uint32_t first, uint32_t second, bool last, const CChrArr& record) {
    if (record.IsEmpty()) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    CChrArr data = Hex(first, 4);
    data += Hex(second, 2);
    data += last ? "01" : "00";
    data += record;
    return SendBlock(number, data);
}

bool CSharpLink::ParseDataBlock(const CChrArr& text, uint32_t& first, uint32_t& second, CChrArr& rest) {
    first = second = 0;
    rest.RemoveAll();
    if (text.GetLength() < 8) return true;
    uint64_t v = 0;
    if (ParseNumber(text, 0, 4, 16, v)) first = static_cast<uint32_t>(v);
    if (ParseNumber(text, 4, 2, 16, v)) second = static_cast<uint32_t>(v);
    const bool last = ParseNumber(text, 6, 2, 10, v) && v == 1;
    rest = text.Mid(8);
    return last;
}

int CSharpLink::SplitRecord(const CChrArr& record, const SharpHeader& header, CChrArr& key,
                            std::vector<CChrArr>& fields) const {
    key.RemoveAll();
    fields.assign(static_cast<size_t>(m_traits.headerFields), CChrArr());
    uint64_t total = header[6];
    for (int i = 0; i < m_traits.headerFields; ++i) total += header[7 + i];
    if (static_cast<uint64_t>(record.GetLength()) < 2 * total) return 0;
    int pos = 2 * static_cast<int>(header[6]);
    key = record.Left(pos);
    for (int i = 0; i < m_traits.headerFields; ++i) {
        const int len = 2 * static_cast<int>(header[7 + i]);
        if (len == 0) continue;
        fields[static_cast<size_t>(i)] = record.Mid(pos, len);
        pos += len;
    }
    return 1;
}

// ---------------------------------------------------------------- file headers

SharpHeader CSharpLink::DeleteHeader(Keying keying) const {
    SharpHeader h;
    h[0] = keying == Keying::ByNumber ? kSharpPluFile : m_traits.eanFileId;
    h[4] = 1;
    h[5] = 1;
    h[6] = static_cast<uint32_t>(keying == Keying::ByNumber ? m_traits.pluKeyDigits / 2 : m_traits.BarcodeKeyChars() / 2);
    return h;
}

SharpHeader CSharpLink::GoodsHeader(Keying keying, bool withNames) const {
    SharpHeader h = DeleteHeader(keying);
    const SharpField1& field1 = keying == Keying::ByNumber ? m_traits.pluField1 : m_traits.eanField1;
    h[7] = static_cast<uint32_t>(field1.bytes);
    h[8] = static_cast<uint32_t>(keying == Keying::ByBarcode ? m_traits.eanField2 : 0);
    h[9] = 4;
    h[10] = withNames ? static_cast<uint32_t>(NameWidth()) : 0;
    return h;
}

SharpHeader CSharpLink::PricesHeader(Keying keying) const {
    SharpHeader h = DeleteHeader(keying);
    h[9] = 4;
    return h;
}

SharpHeader CSharpLink::DeptHeader() const {
    SharpHeader h;
    h[0] = kSharpDeptFile;
    h[2] = 1;
    h[4] = 1;
    h[5] = 1;
    h[6] = static_cast<uint32_t>(m_traits.deptKeyDigits / 2);
    h[7] = 7;
    h[9] = 4;
    h[10] = static_cast<uint32_t>(DeptNameWidth());
    return h;
}

// ---------------------------------------------------------------- builders

int CSharpLink::NumberKey(uint32_t number, CChrArr& key) {
    key.RemoveAll();
    const int digits = m_traits.pluKeyDigits;
    if (digits <= 0 || number < 1 || number >= PowerOfTen(digits)) {
        m_nError = kSharpBadNumber;
        return 0;
    }
    key = ZeroPadded(number, digits);
    return 1;
}

int CSharpLink::BarcodeKey(const char* code, CChrArr& key) {
    return SharpNormaliseBarcode(m_traits, SharpRowText(code, 13), key, m_nError);
}

int CSharpLink::PriceField(double price, CChrArr& out) {
    out.RemoveAll();
    // Hundredths: x 100, + 0.1, the fraction cut; never a negative, NaN or
    // out-of-range value converted.
    const double whole = std::floor(price * 100.0 + 0.1);
    if (!(price >= 0.0) || !(whole <= 99999999.0)) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    out = ZeroPadded(static_cast<uint64_t>(whole), 8);
    return 1;
}

CChrArr CSharpLink::NameField(const char* name, int width) const {
    const CChrArr text = ChrPadRight(SharpRowText(name, 24), width, ' ');
    return SharpTextToHex(SharpCp1250ToDevice(text));
}

namespace {

// Appends the pairs of field 1; 0 (error 9999) for a value out of range.
bool AppendField1(const SharpField1& layout, const SharpPluRow& row, CChrArr& out) {
    for (int i = 0; i < layout.bytes; ++i) {
        switch (layout.pairs[i]) {
        case SharpPair::Dept:
            if (row.dept < 1 || row.dept > 99) return false;
            out += ZeroPadded(row.dept, 2);
            break;
        case SharpPair::Dept2:
            if (row.dept2 > 99) return false;
            out += ZeroPadded(row.dept2, 2);
            break;
        case SharpPair::Tax: out += (row.tax >= 1 && row.tax <= 3) ? ZeroPadded(row.tax, 2) : CChrArr("00"); break;
        case SharpPair::Flag: out += row.flag == 1 ? "10" : "00"; break;
        case SharpPair::EanOption: out += row.eanOption == 1 ? "01" : "00"; break;
        case SharpPair::ExtraMark: out += row.extra > 0 ? "04" : "00"; break;
        case SharpPair::Extra:
            if (row.extra > 99) return false;
            out += ZeroPadded(row.extra, 2);
            break;
        case SharpPair::One: out += "01"; break;
        case SharpPair::Zero:
        case SharpPair::End: out += "00"; break;
        }
    }
    return true;
}

bool ReadField1(const SharpField1& layout, const CChrArr& field, SharpPluRow& row) {
    if (field.GetLength() != 2 * layout.bytes) return field.IsEmpty();
    for (int i = 0; i < layout.bytes; ++i) {
        uint64_t v = 0;
        const CChrArr pair = field.Mid(2 * i, 2);
        const bool number = ParseDigits(pair, v);
        switch (layout.pairs[i]) {
        case SharpPair::Dept:
            if (!number) return false;
            row.dept = static_cast<uint32_t>(v);
            break;
        case SharpPair::Dept2:
            if (!number) return false;
            row.dept2 = static_cast<uint32_t>(v);
            break;
        case SharpPair::Tax: row.tax = number && v >= 1 && v <= 3 ? static_cast<uint32_t>(v) : 0; break;
        case SharpPair::Flag: row.flag = pair == CChrArr("10") ? 1 : 0; break;
        case SharpPair::EanOption: row.eanOption = pair == CChrArr("01") ? 1 : 0; break;
        case SharpPair::Extra:
            if (!number) return false;
            row.extra = static_cast<uint32_t>(v);
            break;
        default: break;
        }
    }
    return true;
}

}  // namespace

int CSharpLink::BuildGoodsRecord(const SharpHeader& header, const SharpPluRow& row, Keying keying, CChrArr& out) {
    out.RemoveAll();
    CChrArr record;
    if (keying == Keying::ByNumber ? !NumberKey(row.number, record) : !BarcodeKey(row.code, record)) return 0;
    const SharpField1& field1 = keying == Keying::ByNumber ? m_traits.pluField1 : m_traits.eanField1;
    if (field1.bytes > 0 && header[7] == static_cast<uint32_t>(field1.bytes) && !AppendField1(field1, row, record)) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    if (keying == Keying::ByBarcode && m_traits.eanField2 == 2 && header[8] == 2) record += "0000";
    if (header[9] == 4 || header[9] == 8) {
        CChrArr price;
        if (!PriceField(row.price, price)) return 0;
        record += price;
        if (header[9] == 8) record += price;
    }
    for (int width : m_traits.nameWidths) {
        if (width > 0 && header[10] == static_cast<uint32_t>(width)) {
            record += NameField(row.name, width);
            break;
        }
    }
    out = record;
    return 1;
}

int CSharpLink::BuildDeptRecord(const SharpHeader& header, const SharpDeptRow& row, CChrArr& out) {
    out.RemoveAll();
    const int digits = m_traits.deptKeyDigits;
    if (row.number < 1 || row.number >= PowerOfTen(digits)) {
        m_nError = kSharpBadDept;
        return 0;
    }
    CChrArr record = ZeroPadded(row.number, digits);
    if (header[7] == 7) {
        for (uint32_t word : {row.word1, row.word2, row.word3, row.word4, row.word5, row.word6}) {
            if (word > 99) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
            record += ZeroPadded(word, 2);
        }
        record += "00";
    }
    if (header[9] == 4) {
        CChrArr amount;
        if (!PriceField(row.amount, amount)) return 0;
        record += amount;
    }
    if (header[10] > 0 && header[10] <= 24) record += NameField(row.name, static_cast<int>(header[10]));
    out = record;
    return 1;
}

// ---------------------------------------------------------------- parsers

namespace {

// A hex-coded name in the register's letters as CP1250, trailing blanks cut.
CChrArr NameText(const CChrArr& field) { return TrimTrailingBlanks(SharpDeviceToCp1250(SharpHexToText(field))); }

}  // namespace

int CSharpLink::ParseKey(const CChrArr& key, uint32_t& number, char* code, size_t codeSize) {
    uint64_t value = 0;
    if (key.GetLength() == m_traits.BarcodeKeyChars()) {
        CChrArr text;
        int error = 0;
        if (!SharpDecodeBarcode(m_traits, key, text, error)) return Failed();
        CopyBytes(code, codeSize, text);
        return 1;
    }
    if (!ParseDigits(key, value) || value > 0xFFFFFFFFu) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    number = static_cast<uint32_t>(value);
    return 1;
}

int CSharpLink::ParseGoodsRecord(const SharpHeader& header, const CChrArr& record, SharpPluRow& row) {
    row = SharpPluRow{};
    CChrArr key;
    std::vector<CChrArr> fields;
    if (!SplitRecord(record, header, key, fields)) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    const bool byBarcode = key.GetLength() == m_traits.BarcodeKeyChars();
    if (!ParseKey(key, row.number, row.code, sizeof row.code)) return 0;
    uint64_t price = 0;
    const CChrArr& priceField = fields.size() > 2 ? fields[2] : CChrArr();
    if (!ReadField1(byBarcode ? m_traits.eanField1 : m_traits.pluField1, fields[0], row) ||
        (!priceField.IsEmpty() && !ParseNumber(priceField, 0, 8, 10, price))) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    row.price = static_cast<double>(price) / 100.0;
    if (fields.size() > 3) CopyBytes(row.name, sizeof row.name, NameText(fields[3]));
    return 1;
}

int CSharpLink::ParseDeptRecord(const SharpHeader& header, const CChrArr& record, SharpDeptRow& row) {
    row = SharpDeptRow{};
    CChrArr key;
    std::vector<CChrArr> fields;
    uint64_t v = 0;
    if (!SplitRecord(record, header, key, fields) || !ParseDigits(key, v) || v > 0xFFFFFFFFu) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    row.number = static_cast<uint32_t>(v);
    if (fields[0].GetLength() == 14) {
        uint32_t* words[6] = {&row.word1, &row.word2, &row.word3, &row.word4, &row.word5, &row.word6};
        for (int i = 0; i < 6; ++i) {
            if (!ParseNumber(fields[0], 2 * i, 2, 10, v)) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
            *words[i] = static_cast<uint32_t>(v);
        }
    }
    if (fields.size() > 2 && !fields[2].IsEmpty()) {
        if (!ParseNumber(fields[2], 0, 8, 10, v)) {
            m_nError = kSharpNoAnswer;
            return 0;
        }
        row.amount = static_cast<double>(v) / 100.0;
    }
    if (fields.size() > 3) CopyBytes(row.name, sizeof row.name, NameText(fields[3]));
    return 1;
}

int CSharpLink::ParseSaleRecord(const SharpHeader& header, const CChrArr& record, SharpSaleRow& row) {
    row = SharpSaleRow{};
    CChrArr key;
    std::vector<CChrArr> fields;
    uint64_t quantity = 0, value = 0;
    if (!SplitRecord(record, header, key, fields) || fields.size() < 2 || !ParseNumber(fields[0], 0, 8, 10, quantity) ||
        !ParseNumber(fields[1], 0, 8, 10, value)) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    if (!ParseKey(key, row.number, row.code, sizeof row.code)) return 0;
    row.quantity = static_cast<double>(quantity) / 1000.0;
    row.value = static_cast<double>(value) / 100.0;
    return 1;
}

int CSharpLink::ParseVatRecord(const SharpHeader& header, const CChrArr& record, double vat[8]) {
    CChrArr key;
    std::vector<CChrArr> fields;
    if (!SplitRecord(record, header, key, fields) || fields[0].GetLength() < 28) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    double rates[8];
    for (int i = 0; i < 7; ++i) {
        const CChrArr group = fields[0].Mid(4 * i, 4);
        if (group == CChrArr("B000")) {
            rates[i] = -1.0;
        } else if (group == CChrArr("00A0")) {
            rates[i] = -3.0;
        } else {
            int digits = 0, points = 0;
            for (int k = 0; k < 4; ++k) {
                if (group[k] >= '0' && group[k] <= '9') ++digits;
                else if (group[k] == '.') ++points;
            }
            if (digits == 0 || digits + points != 4 || points > 1) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
            rates[i] = TextToDouble(group);
            // A percentage: anything else is a misread group, not a rate.
            if (!(rates[i] >= 0.0 && rates[i] <= 100.0)) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
        }
    }
    rates[7] = -3.0;
    for (int i = 0; i < 8; ++i) vat[i] = rates[i];
    return 1;
}

// ---------------------------------------------------------------- transfers

int CSharpLink::WriteFile(int subCode, const SharpHeader& header, const std::vector<CChrArr>& records,
                          const std::vector<std::string>& texts, bool itemPercent) {
    if (records.empty()) return 1;
    const int count = static_cast<int>(records.size());
    auto fail = [this]() {
        Failed();
        if (m_nError != -7) Notify(6, GetErrorText(m_nError), 0, m_nError);
        return 0;
    };
    if (!Select()) {
        // A register that did not answer is 9999; a line that went away
        // and a break keep their own codes.
        if (m_nError != ECR_ERR_BROKEN_OFF && m_nError != ECR_ERR_LINE_LOST) m_nError = kSharpNoAnswer;
        return fail();
    }
    if (!SendJobCode(0, 10, subCode, "") || !SendHeader(1, header)) return fail();
    for (int i = 0; i < count; ++i) {
        const int percent = itemPercent ? static_cast<int>(std::trunc((i + 1) * 100.0) / count) : i % 100;
        Notify(5, i < static_cast<int>(texts.size()) ? texts[static_cast<size_t>(i)] : std::string(), percent, 0);
        if (!Pause(0.3)) return fail();
        if (!SendDataBlocks((2 + i) % 10, 0, 1, i == count - 1, records[static_cast<size_t>(i)])) return fail();
    }
    if (!Pause(0.6) || !SendEOT() || !Pause(0.6) || !CheckResult()) return fail();
    return 1;
}

int CSharpLink::EndByRegister() {
    // An EOT in place of the ENQ or a block: the result record says
    // whether the file was empty (0000) or why the register stopped.
    if (!Pause(0.5)) return 0;
    CChrArr record;
    if (!ReadDeviceError(record)) return Failed();
    const int code = ParseErrorReply(record);
    if (code != 0) {
        m_nError = code;
        return 0;
    }
    m_nError = 0;
    return 1;
}

int CSharpLink::ReadFile(int subCode, const std::string& argument, const RecordFn& fn, const char* event,
                         int* records) {
    BeginTransfer();
    int count = 0;
    if (records) *records = 0;
    if (!Select() || !SendJobCode(0, 20, subCode, argument) || !SendEOT()) return Failed();
    const CChrArr b = ReadBytes(1);
    if (b.GetLength() != 1) return Failed();
    if (b[0] == EOT) return EndByRegister();
    if (b[0] != ENQ) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    if (!SendByte(ACK) || !Pause(0.3)) return Failed();
    CChrArr text;
    switch (ReadReplyBlock(0, HeaderLength(), true, text)) {
    case BlockResult::Eot: return EndByRegister();
    case BlockResult::Failed: return Failed();
    case BlockResult::Data: break;
    }
    if (m_traits.dumpHeaderOnRead) DumpBlock(text);
    SharpHeader header;
    if (!ParseHeader(text, header)) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    for (int block = 1, blocks = 1;; block = (block + 1) % 10, ++blocks) {
        if (!Pause(0.3)) return 0;
        CChrArr data;
        const BlockResult r = ReadReplyBlock(block, -1, true, data);
        if (r == BlockResult::Eot) return EndByRegister();
        if (r == BlockResult::Failed) return Failed();
        uint32_t first = 0, second = 0;
        CChrArr rest;
        const bool last = ParseDataBlock(data, first, second, rest);
        if (!rest.IsEmpty()) {
            ++count;
            if (records) *records = count;
            if (event) Notify(5, Format(event, count), count % 100, 0);
            if (!fn(header, rest)) return Failed();
        }
        if (last) return ExpectEOT() ? 1 : Failed();
        // Empty blocks count too: a register that never flags the last
        // block is given up.
        if (blocks >= m_nMaxFileBlocks) {
            m_nError = kSharpNoAnswer;
            return 0;
        }
    }
}

// ---------------------------------------------------------------- operations

std::string CSharpLink::FileData(uint32_t fileId) { return Hex(fileId, 2).ToString() + "/"; }

std::string CSharpLink::RequestKey(const std::string& head, int fileKeyChars) const {
    const int width = m_traits.requestKeyChars > 0 ? m_traits.requestKeyChars : fileKeyChars;
    return ChrPadRight(CChrArr(head), width, '0').ToString();
}

int CSharpLink::SendGoods(const SharpPluRow* rows, int count, Keying keying, bool withNames, bool pricesOnly) {
    const SharpHeader header = pricesOnly ? PricesHeader(keying) : GoodsHeader(keying, withNames);
    BeginTransfer();
    std::vector<CChrArr> records;
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        CChrArr record;
        if (!BuildGoodsRecord(header, rows[i], keying, record)) {
            Notify(6, GetErrorText(m_nError), 0, m_nError);
            return 0;
        }
        records.push_back(record);
        texts.push_back(SharpRowText(rows[i].name, 24).ToString());
    }
    return WriteFile(0, header, records, texts);
}

int CSharpLink::DeleteGoods(const SharpPluRow* rows, int count, Keying keying, const char* event) {
    const SharpHeader header = DeleteHeader(keying);
    BeginTransfer();
    std::vector<CChrArr> records;
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        CChrArr record;
        if (!BuildGoodsRecord(header, rows[i], keying, record)) {
            Notify(6, GetErrorText(m_nError), 0, m_nError);
            return 0;
        }
        records.push_back(record);
        texts.push_back(event ? Format(event, static_cast<int>(rows[i].number))
                              : SharpRowText(rows[i].name, 24).ToString());
    }
    return WriteFile(2, header, records, texts, event != nullptr);
}

int CSharpLink::SendDepts(const SharpDeptRow* rows, int count) {
    const SharpHeader header = DeptHeader();
    BeginTransfer();
    std::vector<CChrArr> records;
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        CChrArr record;
        if (!BuildDeptRecord(header, rows[i], record)) {
            Notify(6, GetErrorText(m_nError), 0, m_nError);
            return 0;
        }
        records.push_back(record);
        texts.push_back(SharpRowText(rows[i].name, 24).ToString());
    }
    return WriteFile(0, header, records, texts);
}

int CSharpLink::ClearCounters(int byNumber) {
    BeginTransfer();
    const std::string key = byNumber == 1 ? m_traits.clearByNumber : m_traits.clearOther;
    if (!Select() || !SendJobCode(0, 32, 1, key) || !SendEOT()) return Failed();
    return 1;
}

int CSharpLink::ReadGoods(Keying keying, const SharpPluFn& fn) {
    const bool byNumber = keying == Keying::ByNumber;
    const std::string argument = FileData(byNumber ? kSharpPluFile : m_traits.eanFileId) +
                                 RequestKey("B", byNumber ? m_traits.pluKeyDigits : m_traits.BarcodeKeyChars()) + "/";
    return ReadFile(
        0, argument,
        [&](const SharpHeader& header, const CChrArr& record) {
            SharpPluRow row;
            if (!ParseGoodsRecord(header, record, row)) return 0;
            if (fn) fn(row);
            return 1;
        },
        m_traits.goodsEvent);
}

namespace {
constexpr int kRecordMissing = kSharpDeviceBase + 404;
}

int CSharpLink::ReadOneGoods(uint32_t file, const CChrArr& key, const SharpPluFn& fn) {
    int records = 0;
    const int r = ReadFile(
        0, FileData(file) + key.ToString() + "/",
        [&](const SharpHeader& header, const CChrArr& record) {
            // Only the record of the key asked answers the read: one of
            // another item (a register that lost track of the request) is
            // passed over.
            if (2 * static_cast<uint64_t>(header[6]) != static_cast<uint64_t>(key.GetLength()) ||
                record.GetLength() < key.GetLength() || record.Left(key.GetLength()).Compare(key) != 0)
                return 1;
            SharpPluRow row;
            if (!ParseGoodsRecord(header, record, row)) return 0;
            ++records;
            if (fn) fn(row);
            return 1;
        },
        nullptr);
    if (r == 1 && records == 0) {
        m_nError = kRecordMissing;
        return 0;
    }
    return r;
}

int CSharpLink::ReadGoodsByNumber(const SharpPluRow& request, const SharpPluFn& fn) {
    BeginTransfer();
    CChrArr key;
    if (!NumberKey(request.number, key)) return 0;
    return ReadOneGoods(kSharpPluFile, key, fn);
}

int CSharpLink::ReadGoodsByBarcode(const SharpPluRow& request, const SharpPluFn& fn) {
    BeginTransfer();
    CChrArr key;
    if (!BarcodeKey(request.code, key)) return 0;
    return ReadOneGoods(m_traits.eanFileId, key, fn);
}

int CSharpLink::ReadDepts(const SharpDeptFn& fn) {
    const std::string argument =
        FileData(kSharpDeptFile) + RequestKey(std::string(1, m_traits.deptReadLetter), m_traits.deptKeyDigits) + "/";
    return ReadFile(
        0, argument,
        [&](const SharpHeader& header, const CChrArr& record) {
            SharpDeptRow row;
            if (!ParseDeptRecord(header, record, row)) return 0;
            if (fn) fn(row);
            return 1;
        },
        m_traits.deptEvent);
}

int CSharpLink::ReadSaleFile(int subCode, Keying keying, const SharpSaleFn& fn) {
    const bool byNumber = keying == Keying::ByNumber;
    const uint32_t file = byNumber ? kSharpPluFile : m_traits.eanFileId;
    const int keyChars = byNumber ? m_traits.pluKeyDigits : m_traits.BarcodeKeyChars();
    const std::string argument =
        FileData(file) + "//" + RequestKey("11", keyChars) + "/" + RequestKey("01", keyChars) + "/";
    return ReadFile(
        subCode, argument,
        [&](const SharpHeader& header, const CChrArr& record) {
            if (header[0] != file || header[1] != 0) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
            SharpSaleRow row;
            if (!ParseSaleRecord(header, record, row)) return 0;
            if (fn) fn(row);
            return 1;
        },
        "PLU - %i");
}

int CSharpLink::ReadVATRates(double vat[8]) {
    int records = 0;
    double rates[8] = {};
    const std::string argument = FileData(kSharpVatFile) + RequestKey("T", m_traits.deptKeyDigits) + "/";
    const int r = ReadFile(
        0, argument,
        [&](const SharpHeader& header, const CChrArr& record) { return ParseVatRecord(header, record, rates); },
        nullptr, &records);
    if (r != 1) return 0;
    if (records != 1) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    for (int i = 0; i < 8; ++i) vat[i] = rates[i];
    return 1;
}
