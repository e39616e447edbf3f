#include "drivers/cas/ccaslp1_16.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr int kAnswerMax = 64;

CChrArr Hex4(uint32_t plu) { return NumToText(plu, 4, '0', 16); }

bool Present(uint8_t b) { return b == 1 || b == 3; }

}  // namespace

int CCasLP1_16::Open(int port, int baud) { return CTelepathyECR::Open(port, baud); }

uint8_t CCasLP1_16::CalcChecksum(const CChrArr& record) {
    uint8_t x = 0;
    for (int i = 0; i < record.GetLength(); ++i) x ^= record[i];
    return x;
}

int CCasLP1_16::BuildRecord(const CasLpPluRecord& r, CChrArr& out, int& error) {
    CasLpFields f;
    error = CheckFields(r, 24, f);
    if (error != 0) return 0;
    out = LittleEndian(f.itemCode, 4);
    out += NameField(r.name1);
    out += NameField(r.name2);
    out += BigEndian(r.code, 2);
    out += LittleEndian(f.hundredths, 4);
    out += BigEndian(r.sellDate, 2);
    out += BigEndian(f.thousandths, 2);
    out += BigEndian(r.department, 3);
    if (out.GetLength() != kRecordSize) {
        DumpBlock(out);
        error = CASLP_ERR_BAD_ANSWER;
        return 0;
    }
    return 1;
}

CasLpPluRecord CCasLP1_16::ParseRecord(const CChrArr& b, uint32_t plu) {
    CasLpPluRecord r;
    r.plu = plu;
    r.itemCode = ItemCodeText(ReadLittleEndian(b, 0, 4));
    r.name1 = ReadName(b, 4);
    r.name2 = ReadName(b, 32);
    r.code = ReadBigEndian(b, 60, 2);
    r.price = ReadLittleEndian(b, 62, 4) / 100.0;
    r.sellDate = ReadBigEndian(b, 66, 2);
    r.amount = ReadBigEndian(b, 68, 2) / 1000.0;
    r.department = ReadBigEndian(b, 70, 3);
    return r;
}

CChrArr CCasLP1_16::MapRequest(int block) {
    return "r" + NumToText(kMapBase + static_cast<uint32_t>(kBlock * block), 6, '0', 16) + ",32" + kCr;
}

int CCasLP1_16::SendRequest(const CChrArr& line) {
    m_pSerial->FlushInput(m_nPort);
    return Send(line);
}

// A 6-byte answer line: `first`, the PLU's 4 digits, CR.
int CCasLP1_16::ExpectLine(uint8_t first, const CChrArr& digits) {
    CChrArr line;
    if (!ReadLine(kAnswerMax, line)) return 0;
    if (line.GetLength() != 6 || line[0] != first || ChrMid(line, 2, 4) != digits) {
        return WrongAnswer();
    }
    return 1;
}

int CCasLP1_16::WritePlu(const CasLpPluRecord& record) {
    m_nError = 0;
    if (record.plu < 1 || record.plu > kWriteLimit) {
        m_nError = CASLP_ERR_PLU_RANGE;
        return 0;
    }
    CChrArr bytes;
    int error = 0;
    if (!BuildRecord(record, bytes, error)) {
        m_nError = error;
        return 0;
    }
    const CChrArr digits = Hex4(record.plu);
    if (!NotBroken() || !SendRequest("p" + digits + ",49" + kCr)) return 0;
    // The scale now waits for the record: the command is carried to its end.
    return RestOfCommand([&] {
        if (!ExpectLine('n', digits)) return 0;
        return Send(bytes + CalcChecksum(bytes)) && ExpectLine('o', digits) ? 1 : 0;
    });
}

int CCasLP1_16::DeletePlu(const CasLpPluRecord& record) {
    m_nError = 0;
    if (record.plu < 1 || record.plu > kWriteLimit) {
        m_nError = CASLP_ERR_PLU_RANGE;
        return 0;
    }
    if (!SendRequest("P" + Hex4(record.plu) + ",1" + kCr)) return 0;
    CChrArr line;
    if (!ReadLine(kAnswerMax, line)) return 0;
    if (line.GetLength() != 6 || line[0] != 'O') {
        return WrongAnswer();
    }
    return 1;
}

int CCasLP1_16::ReadMap(int block, CChrArr& presence) {
    if (!SendRequest(MapRequest(block))) return 0;
    CChrArr line;
    if (!ReadLine(kMapLineMax, line)) return 0;
    if (line.GetLength() != kMapLineMax || ChrMid(line, 1, 4) != "#32:") {
        return WrongAnswer();
    }
    presence = ChrMid(line, 5, kBlock);
    return 1;
}

int CCasLP1_16::ReadRecord(uint32_t plu, CasLpPluRecord& record) {
    if (!SendRequest("q" + Hex4(plu) + "," + kCr)) return 0;
    CChrArr bytes;
    if (!ReadCount(kReadSize, bytes)) return 0;
    record = ParseRecord(bytes.Mid(kRecordOffset, kRecordSize), plu);
    return 1;
}

int CCasLP1_16::ReadPlu(CasLpPluRecord& record) {
    m_nError = 0;
    if (record.plu < 1 || record.plu > kReadLimit) {
        m_nError = CASLP_ERR_PLU_RANGE;
        return 0;
    }
    const int block = static_cast<int>((record.plu - 1) / kBlock);
    CChrArr presence;
    if (!ReadMap(block, presence)) return 0;
    if (!Present(presence[static_cast<int>(record.plu - 1) - kBlock * block])) {
        m_nError = CASLP_ERR_NO_PLU;
        return 0;
    }
    return ReadRecord(record.plu, record);
}

int CCasLP1_16::ReadAllPlu(const Converter& converter) {
    m_nError = 0;
    for (int k = 0; k < kBlocks; ++k) {
        const uint32_t offset = static_cast<uint32_t>(kBlock * k);
        char text[64];
        std::snprintf(text, sizeof text, "Numer rekordu - %u", offset);
        Notify(5, text, static_cast<int>(std::trunc(offset * 100.0) / kReadLimit), static_cast<int>(offset));
        CChrArr presence;
        if (!ReadMap(k, presence)) {
            // A map block the scale refuses after the first is the end of its
            // memory. A read cut short (no answer, a lost line, a break)
            // fails with the line's code after what it read was handed on.
            if (k == 0 || m_nError != CASLP_ERR_BAD_ANSWER) return 0;
            m_nError = 0;
            return 1;
        }
        for (int i = 0; i < kBlock; ++i) {
            if (!Present(presence[i])) continue;
            CasLpPluRecord record;
            if (!ReadRecord(offset + static_cast<uint32_t>(i) + 1, record)) return 0;
            converter(record);
        }
    }
    return 1;
}
