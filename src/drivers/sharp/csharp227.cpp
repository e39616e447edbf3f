#include "drivers/sharp/csharp227.h"

#include <cmath>

#include "drivers/common/record_fields.h"

namespace {

// A repeated data block is answered but not passed on; more repeats than
// this in a row end the read.
constexpr int kMaxRepeats = 7;
constexpr uint8_t kQuote = '"';

CChrArr Hex2(uint8_t value) { return NumToText(value, 2, '0', 16); }

// Hundredths of an amount (x 100, + 0.1, the fraction cut) up to 8 digits.
bool Hundredths(double value, uint64_t& out) {
    const double whole = std::floor(value * 100.0 + 0.1);
    if (!(value >= 0.0) || !(whole <= 99999999.0)) return false;
    out = static_cast<uint64_t>(whole);
    return true;
}

// A host text as it goes into a record: control bytes become blanks (a CR
// would end the block); padded with blanks or cut to the width.
CChrArr TextField(const char* text, size_t cap, int width) {
    CChrArr bytes = SharpRowText(text, cap);
    for (int i = 0; i < bytes.GetLength(); ++i)
        if (bytes[i] < 0x20) bytes[i] = ' ';
    return ChrPadRight(bytes, width, ' ');
}

bool ParseDigits(const CChrArr& text, uint64_t& value) {
    value = 0;
    if (text.IsEmpty() || text.GetLength() > 19) return false;
    for (int i = 0; i < text.GetLength(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return true;
}

// The fields of a record: split by the widths when the record has them
// and commas at their borders (a comma in a name stays), else at commas.
std::vector<CChrArr> Fields(const CChrArr& record, std::initializer_list<int> widths) {
    std::vector<CChrArr> out;
    int total = -1;
    for (int w : widths) total += w + 1;
    if (record.GetLength() == total) {
        int pos = 0;
        bool borders = true;
        for (int w : widths) {
            if (pos + w < total && record[pos + w] != ',') borders = false;
            pos += w + 1;
        }
        if (borders) {
            pos = 0;
            for (int w : widths) {
                out.push_back(record.Mid(pos, w));
                pos += w + 1;
            }
            return out;
        }
    }
    int start = 0;
    for (;;) {
        const int comma = record.Find(',', start);
        if (comma < 0) {
            out.push_back(record.Mid(start));
            return out;
        }
        out.push_back(record.Mid(start, comma - start));
        start = comma + 1;
    }
}

CChrArr TrimRight(const CChrArr& text) {
    int n = text.GetLength();
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == 0)) --n;
    return text.Left(n);
}

}  // namespace

int CSharp227::Open(int port, int) { return OpenLine(port, 9600, 8, 'O'); }

int CSharp227::SetOptions(int, int) { return 1; }

int CSharp227::NotSupported() {
    m_nError = kSharpNoAnswer;
    return 0;
}

// ---------------------------------------------------------------- frames

CChrArr CSharp227::CommandFrame(uint8_t letter) {
    CChrArr body(1, STX);
    body += letter;
    return body + Hex2(Checksum(body)) + ETX;
}

CChrArr CSharp227::DataFrame(const CChrArr& record) { return record + Hex2(Checksum(record)) + CR; }

CChrArr CSharp227::EndFrame(const CChrArr& allRecords) { return Hex2(Checksum(allRecords)) + SUB; }

int CSharp227::SendFrame(const CChrArr& frame) {
    if (!m_pSerial) return Failed(999999);
    const int drained = m_pSerial->WaitOutputDrained(m_nPort, 5);
    if (drained != 0) {
        m_nError = drained;
        NoteTransport(drained);
        m_pSerial->FlushOutput(m_nPort);
        return 0;
    }
    m_pSerial->FlushInput(m_nPort);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (!SendBytes(frame)) return 0;
        const CChrArr b = ReadBytes(1);
        if (b.GetLength() != 1) return Failed();
        if (b[0] == ACK) return 1;
        if (b[0] != NAK) break;
    }
    m_nError = kSharpNoAnswer;   // refused: another byte, or three NAKs
    return 0;
}

CChrArr CSharp227::AnswerFrame(bool& end) {
    end = false;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        CChrArr frame = ReadBytes(3);
        if (frame.GetLength() != 3) {
            Failed();
            return CChrArr();
        }
        if (frame[2] == SUB) {
            // The register ends the transfer.
            if (!SendByte(ACK)) return CChrArr();
            end = true;
            return CChrArr();
        }
        if (frame[2] != CR) frame += ReadUntilCR(256);
        if (m_nError == -7) return CChrArr();
        const int n = frame.GetLength();
        if (n > 4 && frame[n - 1] == CR) {
            const int sum = HexByte(frame, n - 3);
            const CChrArr text = frame.Left(n - 3);
            if (sum >= 0 && sum == Checksum(text)) {
                if (!SendByte(ACK)) return CChrArr();
                m_nError = 0;
                return text;
            }
        }
        if (attempt < 3) {
            m_pSerial->FlushInput(m_nPort);
            if (!SendByte(NAK)) return CChrArr();
        }
    }
    m_nError = kSharpNoAnswer;
    return CChrArr();
}

// ---------------------------------------------------------------- records

int CSharp227::Key(const SharpPluRow& row, CChrArr& key) {
    if (row.number != 0) {
        key = CChrArr("0") + ZeroPadded(row.number, 13);
        return 1;
    }
    const CChrArr code = ChrTrim(SharpRowText(row.code, sizeof row.code), ' ');
    bool printable = true;
    for (int i = 0; i < code.GetLength(); ++i)
        if (code[i] < 0x20) printable = false;   // a CR would end the block
    if (code.IsEmpty() || code.GetLength() > 13 || !printable) {
        m_nError = kSharpBadCode;
        return 0;
    }
    key = CChrArr("1") + ChrPadLeft(code, 13, '0');
    return 1;
}

int CSharp227::BuildPLURecord(const SharpPluRow& row, int mode, CChrArr& out) {
    out.RemoveAll();
    CChrArr key;
    if (!Key(row, key)) return 0;
    CChrArr r = key + ",";
    if (mode == 1) {
        r += "00000000,";
        r += CChrArr("-") + key + "-,";
        r += "\"00\",\"0\"";
        out = r;
        return 1;
    }
    uint64_t price = 0;
    if (!Hundredths(row.price, price) || row.dept < 1 || row.dept > 99) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    r += ZeroPadded(price, 8) + ",";
    r += TextField(row.name, sizeof row.name, 16) + ",";
    r += CChrArr(1, kQuote) + ZeroPadded(row.dept, 2) + CChrArr(1, kQuote) + ",";
    r += "\"0\"";
    out = r;
    return 1;
}

int CSharp227::BuildDeptRecord(const SharpDeptRow& row, CChrArr& out) {
    out.RemoveAll();
    if (row.number < 1 || row.number > 99) {
        m_nError = kSharpBadDept;
        return 0;
    }
    uint64_t amount = 0;
    if (!Hundredths(row.amount, amount) || row.word5 > 99 || row.word1 > 99) {
        m_nError = kSharpNoAnswer;
        return 0;
    }
    CChrArr r = ZeroPadded(row.number, 2) + ",";
    r += ZeroPadded(amount, 8) + ",";
    r += TextField(row.name, sizeof row.name, 16) + ",";
    r += CChrArr("\"") + (row.word3 == 1 ? "1" : "0") + ZeroPadded(row.word5, 2) + "\",";
    r += CChrArr("\"") + ZeroPadded(row.word1, 2) + "\"";
    out = r;
    return 1;
}

int CSharp227::ParsePLURecord(const CChrArr& record, SharpPluRow& row) {
    row = SharpPluRow{};
    const std::vector<CChrArr> f = Fields(record, {14, 8, 16, 4, 3});
    uint64_t v = 0;
    if (f.size() < 3 || !ParseDigits(f[1], v)) return Failed();
    row.price = static_cast<double>(v) / 100.0;
    if (f[0].GetLength() == 14) {
        if (f[0][0] == '1') {
            CopyBytes(row.code, sizeof row.code, f[0].Mid(1, 13));
        } else {
            if (!ParseDigits(f[0].Mid(1, 13), v) || v > 0xFFFFFFFFu) return Failed();
            row.number = static_cast<uint32_t>(v);
        }
    }
    CopyBytes(row.name, sizeof row.name, TrimRight(f[2].Left(16)));
    row.dept = 1;
    if (f.size() > 3 && f[3].GetLength() == 4) {
        if (!ParseDigits(f[3].Mid(1, 2), v)) return Failed();
        row.dept = static_cast<uint32_t>(v);
    }
    return 1;
}

int CSharp227::ParseDeptRecord(const CChrArr& record, SharpDeptRow& row) {
    row = SharpDeptRow{};
    const std::vector<CChrArr> f = Fields(record, {2, 8, 16, 5, 4});
    uint64_t number = 0, amount = 0, v = 0;
    if (f.size() < 3 || !ParseDigits(f[0], number) || number > 0xFFFFFFFFu || !ParseDigits(f[1], amount))
        return Failed();
    row.number = static_cast<uint32_t>(number);
    row.amount = static_cast<double>(amount) / 100.0;
    CopyBytes(row.name, sizeof row.name, TrimRight(f[2].Left(16)));
    if (f.size() > 3 && f[3].GetLength() == 5) {
        if (!ParseDigits(f[3].Mid(1, 1), v)) return Failed();
        row.word3 = static_cast<uint32_t>(v);
        if (!ParseDigits(f[3].Mid(2, 2), v)) return Failed();
        row.word5 = static_cast<uint32_t>(v);
    }
    if (f.size() > 4 && f[4].GetLength() == 4) {
        if (!ParseDigits(f[4].Mid(1, 2), v)) return Failed();
        row.word1 = static_cast<uint32_t>(v);
    }
    return 1;
}

int CSharp227::ParseSaleRecord(const CChrArr& record, SharpSaleRow& row) {
    row = SharpSaleRow{};
    const std::vector<CChrArr> f = Fields(record, {});
    uint64_t value = 0, v = 0;
    if (f.size() < 3 || !ParseDigits(f[1], value)) return Failed();
    if (f[0].GetLength() == 14) {
        if (f[0][0] == '1') {
            CopyBytes(row.code, sizeof row.code, f[0].Mid(1, 13));
        } else {
            if (!ParseDigits(f[0].Mid(1, 13), v) || v > 0xFFFFFFFFu) return Failed();
            row.number = static_cast<uint32_t>(v);
        }
    }
    // The quantity as a decimal number (digits and at most one point).
    int points = 0;
    bool digits = false;
    for (int i = 0; i < f[2].GetLength(); ++i) {
        const uint8_t c = f[2][i];
        if (c == '.') ++points;
        else if (c >= '0' && c <= '9') digits = true;
        else return Failed();
    }
    if (!digits || points > 1) return Failed();
    row.value = static_cast<double>(value) / 100.0;
    row.quantity = TextToDouble(f[2]);
    return 1;
}

// ---------------------------------------------------------------- transfers

int CSharp227::Write(uint8_t command, const std::vector<CChrArr>& records) {
    if (!SendCommand(command)) return Failed();
    CChrArr all;
    for (const CChrArr& r : records) {
        if (!SendDataBlock(r)) return Failed();
        all += r;
    }
    return SendEndBlock(all) ? 1 : Failed();
}

template <class Row, class Build>
int CSharp227::WriteRows(uint8_t command, const Row* rows, int count, Build build) {
    BeginTransfer();
    if (count <= 0 || !rows) return Failed();
    // Every record is built before the command: a refused row sends nothing.
    std::vector<CChrArr> records;
    for (int i = 0; i < count; ++i) {
        CChrArr r;
        if (!build(rows[i], r)) return 0;
        records.push_back(r);
    }
    return Write(command, records);
}

int CSharp227::SendPLUs(const SharpPluRow* rows, int count) {
    return WriteRows('Q', rows, count, [this](const SharpPluRow& row, CChrArr& r) { return BuildPLURecord(row, 0, r); });
}

int CSharp227::DeletePLUs(const SharpPluRow* rows, int count) {
    return WriteRows('Q', rows, count, [this](const SharpPluRow& row, CChrArr& r) { return BuildPLURecord(row, 1, r); });
}

int CSharp227::SendDepartments(const SharpDeptRow* rows, int count) {
    return WriteRows('p', rows, count, [this](const SharpDeptRow& row, CChrArr& r) { return BuildDeptRecord(row, r); });
}

int CSharp227::ClearSales() {
    BeginTransfer();
    return SendCommand('P') ? 1 : Failed();
}

int CSharp227::Read(uint8_t command, const std::function<int(const CChrArr&, const Announce& announce)>& fn) {
    BeginTransfer();
    if (!SendCommand(command)) return Failed();
    CChrArr previous;
    int count = 0, repeats = 0;
    bool end = false;
    CChrArr frame = AnswerFrame(end);
    while (!end) {
        ++count;
        if (frame.IsEmpty()) return Failed();
        if (!previous.IsEmpty() && frame == previous) {
            if (++repeats > kMaxRepeats) {
                m_nError = kSharpNoAnswer;
                return 0;
            }
        } else {
            repeats = 0;
            previous = frame;
            const Announce announce = [&](const std::string& text) { Notify(5, text, count % 100, 0); };
            if (!fn(frame, announce)) return Failed();
        }
        frame = AnswerFrame(end);
    }
    return 1;
}

int CSharp227::ReadAllPLUs(const SharpPluFn& fn) {
    return Read('S', [&](const CChrArr& record, const Announce& announce) {
        SharpPluRow row;
        if (!ParsePLURecord(record, row)) return 0;
        announce(row.name);
        if (fn) fn(row);
        return 1;
    });
}

int CSharp227::ReadDepartments(const SharpDeptFn& fn) {
    return Read('q', [&](const CChrArr& record, const Announce& announce) {
        SharpDeptRow row;
        if (!ParseDeptRecord(record, row)) return 0;
        announce(row.name);
        if (fn) fn(row);
        return 1;
    });
}

int CSharp227::ReadSales(const SharpSaleFn& fn) {
    return Read('T', [&](const CChrArr& record, const Announce& announce) {
        SharpSaleRow row;
        if (!ParseSaleRecord(record, row)) return 0;
        announce(std::string());
        if (fn) fn(row);
        return 1;
    });
}
