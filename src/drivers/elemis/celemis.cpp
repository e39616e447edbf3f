#include "drivers/elemis/celemis.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drivers/common/record_fields.h"

namespace {

constexpr int kIoSeconds = 10;
constexpr uint8_t kStart = 0x03;
constexpr uint8_t kEnd = 0x04;
constexpr uint8_t kAccepted = 2;
constexpr uint8_t kData = 3;

uint32_t BigEndian(const CChrArr& b, int at, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | b[at + i];
    return v;
}

void PutBigEndian(CChrArr& b, int at, uint32_t v) {
    for (int i = 3; i >= 0; --i) {
        b[at + i] = static_cast<uint8_t>(v & 0xFF);
        v >>= 8;
    }
}

// Up to `width` bytes of a fixed field as text, trailing blanks and zero
// bytes cut.
std::string FixedText(const CChrArr& b, int at, int width) {
    std::string s(reinterpret_cast<const char*>(b.data()) + at, static_cast<size_t>(width));
    const size_t end = s.find_last_not_of(std::string(" \0", 2));
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}

std::string Trimmed(const char* text, size_t cap) {
    std::string s(text, strnlen(text, cap));
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool AllDigits(const std::string& s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

CElemis::CElemis() { m_nWait = 20; }

CElemis::~CElemis() = default;

int CElemis::Fail(int code) {
    if (m_nError == 0) m_nError = code;
    return 0;
}

bool CElemis::Broken() {
    if (m_pSerial && m_pSerial->IsAborted()) {
        m_nError = -7;
        return true;
    }
    return false;
}

std::string CElemis::LinkConstant() {
    const char* env = std::getenv("ECR_ELEMIS_LINK");
    if (env && *env) return env;
    return "000000000000";
}

int CElemis::Open(int port, int baud) {
    // The link constant is checked before anything is opened.
    const std::string link = LinkConstant();
    if (link.size() != 12 || !AllDigits(link)) {
        m_nError = EMS_ERR_CODE;
        m_nPort = port;
        return 0;
    }
    if (!CTelepathyECR::Open(port, baud)) return 0;
    CChrArr payload;
    payload += static_cast<uint8_t>(0x34);
    payload += static_cast<uint8_t>(0x12);
    payload += static_cast<uint8_t>(0x00);
    payload += static_cast<uint8_t>(0x00);
    payload += PackBcd(link);
    if (Command(14, 1, 0, payload)) return 1;
    // The register did not take the link: the line is given back.
    const int error = m_nError;
    ClosePort();
    m_nError = error != 0 ? error : EMS_ERR_BAD_ANSWER;
    return 0;
}

int CElemis::Close() {
    m_nError = 0;
    CChrArr payload;
    payload += static_cast<uint8_t>(0x34);
    payload += static_cast<uint8_t>(0x12);
    // The link is closed after a break too: no break check here.
    if (!SendRecord(14, 2, 0, payload)) return 0;
    return ExpectAccepted();
}

int CElemis::CloseAfterBreak() {
    m_nError = 0;
    if (!m_pSerial || m_timedOut) return 0;
    CChrArr payload;
    payload += static_cast<uint8_t>(0x34);
    payload += static_cast<uint8_t>(0x12);
    const CChrArr frame = Encode(14, 2, 0, payload);
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    DumpSent(frame);
    // Written while the break is still set, the request does not first wait
    // for the line to go quiet after the exchange the break cut off.
    const int written = m_pSerial->Write(m_nPort, frame, kIoSeconds);
    m_pSerial->ClearBreak();
    int accepted = 0;
    if (written == frame.GetLength() && m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds) == 0) {
        // The user is waiting: the answer gets a short look only.
        constexpr int kLooks = 5;   // of 10 ms
        for (int i = 0; i < kLooks && m_pSerial->GetInputCount(m_nPort) < 1; ++i) m_pSerial->Delay(0.01);
        const CChrArr status = m_pSerial->Read(m_nPort, 1, 0);
        DumpReceived(status);
        if (status.IsEmpty())
            m_pSerial->MarkUnsettled(m_nPort);   // the answer may still come
        else
            accepted = status[0] == kAccepted ? 1 : 0;
    }
    m_pSerial->Break();
    return accepted;
}

// ---------------------------------------------------------- line coding

CChrArr CElemis::Encode(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload) {
    CChrArr record;
    record += type;
    record += addr0;
    record += addr1;
    record += payload.Left(kEmsPayloadSize);
    while (record.GetLength() < kEmsRecordSize) record += static_cast<uint8_t>(0);
    uint32_t sum = 0;
    for (int i = 0; i < kEmsRecordSize; ++i) sum += record[i];
    sum &= 0xFFFF;
    CChrArr coded;
    for (int g = 0; g < kEmsRecordSize / 7; ++g) {
        uint8_t high = 0;
        for (int i = 0; i < 7; ++i) {
            const uint8_t b = record[g * 7 + i];
            coded += b;
            if (b & 0x80) high |= static_cast<uint8_t>(1u << i);
        }
        coded += high;
    }
    const uint8_t lo = static_cast<uint8_t>(sum & 0xFF), hi = static_cast<uint8_t>(sum >> 8);
    coded += lo;
    coded += hi;
    coded += static_cast<uint8_t>(((lo & 0x80) ? 1 : 0) | ((hi & 0x80) ? 2 : 0));
    CChrArr frame;
    frame += kStart;
    for (int i = 0; i < coded.GetLength(); ++i) frame += static_cast<uint8_t>(coded[i] | 0x80);
    frame += kEnd;
    frame += static_cast<uint8_t>(0xFF);
    return frame;
}

CChrArr CElemis::Decode(const CChrArr& coded) {
    if (coded.GetLength() != kEmsCodedSize) return CChrArr();
    CChrArr record;
    for (int g = 0; g < kEmsRecordSize / 7; ++g) {
        const uint8_t high = coded[g * 8 + 7] & 0x7F;
        for (int i = 0; i < 7; ++i) {
            uint8_t b = coded[g * 8 + i] & 0x7F;
            if (high & (1u << i)) b |= 0x80;
            record += b;
        }
    }
    return record;
}

bool CElemis::SumMatches(const CChrArr& coded, const CChrArr& record) {
    if (coded.GetLength() != kEmsCodedSize || record.GetLength() != kEmsRecordSize) return false;
    uint32_t sum = 0;
    for (int i = 0; i < kEmsRecordSize; ++i) sum += record[i];
    const int at = kEmsCodedSize - 3;
    const uint8_t high = coded[at + 2];
    const uint32_t lo = static_cast<uint32_t>((coded[at] & 0x7F) | ((high & 0x01) ? 0x80 : 0));
    const uint32_t hi = static_cast<uint32_t>((coded[at + 1] & 0x7F) | ((high & 0x02) ? 0x80 : 0));
    return (sum & 0xFFFF) == (lo | (hi << 8));
}

CChrArr CElemis::PackBcd(const std::string& digits) {
    CChrArr out;
    if (!AllDigits(digits)) return out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const uint8_t hi = static_cast<uint8_t>(digits[i] - '0');
        const uint8_t lo = i + 1 < digits.size() ? static_cast<uint8_t>(digits[i + 1] - '0') : 0;
        out += static_cast<uint8_t>((hi << 4) | lo);
    }
    return out;
}

std::string CElemis::UnpackBcd(const CChrArr& bytes) {
    std::string s;
    for (int i = 0; i < bytes.GetLength(); ++i) {
        for (int nibble : {bytes[i] >> 4, bytes[i] & 0x0F}) s += nibble > 9 ? '-' : static_cast<char>('0' + nibble);
    }
    return s;
}

// ------------------------------------------------------------ exchanges

CChrArr CElemis::ReadBytes(int n) {
    CChrArr bytes = m_pSerial->Read(m_nPort, n, kIoSeconds);
    DumpReceived(bytes);
    m_timedOut = false;
    if (bytes.GetLength() < n) {
        const int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : -5;
        m_timedOut = m_nError == -5;
    }
    return bytes;
}

void CElemis::GiveUpAnswer(int code) {
    m_pSerial->MarkUnsettled(m_nPort);
    Fail(code);
}

int CElemis::SendRecord(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload) {
    if (!m_pSerial) return Fail(-3);
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    return SendBytes(Encode(type, addr0, addr1, payload));
}

int CElemis::ExpectAccepted() {
    const CChrArr status = ReadBytes(1);
    if (status.IsEmpty()) return 0;
    if (status[0] != kAccepted) {
        GiveUpAnswer(EMS_ERR_BAD_ANSWER);
        return 0;
    }
    return 1;
}

CChrArr CElemis::ReadDataFrame() {
    const CChrArr status = ReadBytes(1);
    if (status.IsEmpty()) return CChrArr();
    if (status[0] != kData) {
        GiveUpAnswer(EMS_ERR_BAD_ANSWER);
        return CChrArr();
    }
    const CChrArr frame = ReadBytes(kEmsCodedSize + 1);
    if (frame.GetLength() != kEmsCodedSize + 1) return CChrArr();
    const CChrArr coded = frame.Left(kEmsCodedSize);
    const CChrArr record = Decode(coded);
    if (record.GetLength() != kEmsRecordSize) {
        Fail(EMS_ERR_RECORD);
        return CChrArr();
    }
    if (!SumMatches(coded, record)) {
        m_badSum = true;
        Fail(EMS_ERR_BAD_ANSWER);
        return CChrArr();
    }
    return record.Mid(3);
}

CChrArr CElemis::Query(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload) {
    for (int attempt = 1; attempt <= kSumTries; ++attempt) {
        // A break is looked at before each request.
        if (Broken()) return CChrArr();
        if (!SendRecord(type, addr0, addr1, payload)) return CChrArr();
        m_badSum = false;
        const CChrArr answer = ReadDataFrame();
        // A reply spoilt on the line is asked for again.
        if (!answer.IsEmpty() || !m_badSum) return answer;
        if (attempt < kSumTries) m_nError = 0;
    }
    return CChrArr();
}

int CElemis::Command(uint8_t type, uint8_t addr0, uint8_t addr1, const CChrArr& payload) {
    if (Broken()) return 0;
    if (!SendRecord(type, addr0, addr1, payload)) return 0;
    return ExpectAccepted();
}

int CElemis::Poll() { return Query(0, 0, 0).IsEmpty() ? 0 : 1; }

// -------------------------------------------------------------- records

CChrArr CElemis::PluMask() {
    CChrArr one;
    for (int i = 0; i < 45; ++i) one += static_cast<uint8_t>(0xFF);
    for (int i = 0; i < 4; ++i) one += static_cast<uint8_t>(0x00);
    for (int i = 0; i < 15; ++i) one += static_cast<uint8_t>(0xFF);
    return ChrRepeat(one, 4);
}

int CElemis::BuildPluRecord(const ElemisPlu& plu, CChrArr& out) {
    out.RemoveAll();
    m_nError = 0;
    if (plu.number < 1 || plu.number > kEmsPluCount) return Fail(EMS_ERR_PLU_NUMBER);
    if (plu.vatGroup < 1 || plu.vatGroup > 8) return Fail(EMS_ERR_RANGE);
    std::string code = Trimmed(plu.code, sizeof plu.code);
    // A longer code cut down would be another barcode.
    if (code.size() > 13) return Fail(EMS_ERR_CODE);
    if (code.empty()) code = std::to_string(plu.number);
    code.insert(0, 13 - code.size(), '0');
    const CChrArr bcd = PackBcd("0" + code);
    if (bcd.GetLength() != 7) return Fail(EMS_ERR_CODE);
    uint64_t hundredths = 0;
    if (!ToWhole(plu.price, 100.0, 4294967295.0, hundredths)) return Fail(EMS_ERR_PRICE);
    if (plu.attribute > 255) return Fail(EMS_ERR_RECORD);
    out = CChrArr(kEmsPluSize, 0);
    out[0] = 1;
    const uint32_t index = plu.number - 1;
    for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(index >> (8 * i));
    for (int i = 0; i < 7; ++i) out[5 + i] = bcd[i];
    const CChrArr name = ChrPadRight(CChrArr(std::string(plu.name, strnlen(plu.name, sizeof plu.name))), kEmsNameWidth, ' ');
    for (int i = 0; i < kEmsNameWidth; ++i) out[12 + i] = name[i];
    PutBigEndian(out, 30, static_cast<uint32_t>(hundredths));
    out[49] = static_cast<uint8_t>(plu.vatGroup - 1);
    out[54] = static_cast<uint8_t>(plu.attribute);
    return 1;
}

int CElemis::ToPlu(const CChrArr& record, uint32_t number, ElemisPlu& out) {
    out = ElemisPlu();
    if (record.GetLength() != kEmsPluSize) return Fail(EMS_ERR_RECORD);
    out.number = number;
    CopyTextField(out.code, UnpackBcd(record.Mid(0, 7)).substr(1));
    CopyTextField(out.name, FixedText(record, 7, kEmsNameWidth));
    out.price = BigEndian(record, 25, 4) / 100.0;
    out.vatGroup = record[44] == 0xFF ? kEmsEmptyVat : record[44] + 1u;
    out.attribute = record[49];
    return 1;
}

// ----------------------------------------------------------- operations

int CElemis::ReadVatRates(double rates[8]) {
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    m_nError = 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    const CChrArr payload = Query(5, 1, 0);
    if (payload.IsEmpty()) return Fail(EMS_ERR_BAD_ANSWER);
    for (int i = 0; i < 8; ++i) {
        const uint32_t v = BigEndian(payload, 197 + 2 * i, 2);
        rates[i] = v == 10000 ? -1.0 : v / 100.0;
    }
    return 1;
}

int CElemis::ReadIdentification(std::string& first, std::string& id, std::string& third) {
    m_nError = 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    const CChrArr payload = Query(5, 0, 0);
    if (payload.IsEmpty()) return Fail(EMS_ERR_BAD_ANSWER);
    first.clear();
    third.clear();
    id = (payload.Mid(3, 3) + payload.Mid(7, 8)).ToString();
    const size_t zero = id.find('\0');
    if (zero != std::string::npos) id.erase(zero);
    return 1;
}

int CElemis::ClearSales() {
    m_nError = 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    return Command(6, 0, 0, CChrArr()) ? 1 : Fail(EMS_ERR_BAD_ANSWER);
}

int CElemis::ReadAllPlu(const PluSink& sink) {
    m_nError = 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    for (int b = 0; b < kEmsBlocks; ++b) {
        const uint32_t first = static_cast<uint32_t>(b) * 4 + 1;
        char text[32];
        std::snprintf(text, sizeof text, "PLU - %u", first);
        Notify(ECR_EVENT_ITEM, text, static_cast<int>(std::trunc(b / 25.0)), 0);
        const CChrArr payload = Query(11, static_cast<uint8_t>(b & 0xFF), static_cast<uint8_t>(b >> 8));
        if (payload.IsEmpty()) return Fail(EMS_ERR_BAD_ANSWER);
        for (int k = 0; k < 4; ++k) {
            ElemisPlu plu;
            if (!ToPlu(payload.Mid(k * kEmsPluSize, kEmsPluSize), first + static_cast<uint32_t>(k), plu)) return 0;
            if (plu.vatGroup != kEmsEmptyVat && sink) sink(plu);
        }
    }
    return 1;
}

int CElemis::ReadPlu(ElemisPlu& plu) {
    m_nError = 0;
    const uint32_t n = plu.number;
    if (n < 1 || n > kEmsPluCount) return Fail(EMS_ERR_PLU_NUMBER);
    char text[32];
    std::snprintf(text, sizeof text, "PLU - %u", n);
    Notify(ECR_EVENT_ITEM, text, 50, 0);
    const uint32_t block = (n - 1) / 4;
    const CChrArr payload = Query(11, static_cast<uint8_t>(block & 0xFF), static_cast<uint8_t>(block >> 8), PluMask());
    if (payload.IsEmpty()) return Fail(EMS_ERR_BAD_ANSWER);
    ElemisPlu got;
    if (!ToPlu(payload.Mid(static_cast<int>((n - 1) % 4) * kEmsPluSize, kEmsPluSize), n, got)) return 0;
    if (got.vatGroup == kEmsEmptyVat) return Fail(EMS_ERR_EMPTY_SLOT);
    plu = got;
    Notify(ECR_EVENT_ITEM, text, 100, 0);
    return 1;
}

int CElemis::WritePlu(const ElemisPlu& plu) {
    CChrArr record;
    if (!BuildPluRecord(plu, record)) return 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    return Command(13, 0, 0, record) ? 1 : Fail(EMS_ERR_BAD_ANSWER);
}

namespace {
ElemisDept ToDept(const CChrArr& table, int n) {
    ElemisDept d;
    const int at = (n - 1) * kEmsSlotSize;
    d.number = static_cast<uint32_t>(n);
    CopyTextField(d.name, FixedText(table, at, kEmsNameWidth));
    d.vatGroup = table[at + 18] + 1u;
    d.price = BigEndian(table, at + 19, 4) / 100.0;
    return d;
}
}  // namespace

int CElemis::ReadAllDept(const DeptSink& sink) {
    m_nError = 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    const CChrArr table = Query(10, 0, 0);
    if (table.GetLength() != kEmsPayloadSize) return Fail(EMS_ERR_BAD_ANSWER);
    for (int n = 1; n <= kEmsDepts; ++n)
        if (sink) sink(ToDept(table, n));
    return 1;
}

int CElemis::WriteDept(const ElemisDept& dept) {
    m_nError = 0;
    if (dept.number < 1 || dept.number > kEmsDepts) return Fail(EMS_ERR_RANGE);
    if (dept.vatGroup < 1 || dept.vatGroup > 8) return Fail(EMS_ERR_DEPT_VAT);
    uint64_t hundredths = 0;
    if (!ToWhole(dept.price, 100.0, 4294967295.0, hundredths)) return Fail(EMS_ERR_PRICE);
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    CChrArr table = Query(10, 0, 0);
    if (table.GetLength() != kEmsPayloadSize) return Fail(EMS_ERR_BAD_ANSWER);
    const int at = static_cast<int>(dept.number - 1) * kEmsSlotSize;
    const CChrArr name = ChrPadRight(CChrArr(std::string(dept.name, strnlen(dept.name, sizeof dept.name))), kEmsNameWidth, ' ');
    for (int i = 0; i < kEmsSlotSize; ++i) table[at + i] = 0;
    for (int i = 0; i < kEmsNameWidth; ++i) table[at + i] = name[i];
    table[at + 18] = static_cast<uint8_t>(dept.vatGroup - 1);
    PutBigEndian(table, at + 19, static_cast<uint32_t>(hundredths));
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    return Command(12, 0, 0, table) ? 1 : Fail(EMS_ERR_BAD_ANSWER);
}

int CElemis::ReadSales(const SaleSink& sink) {
    m_nError = 0;
    if (!Poll()) return Fail(EMS_ERR_BAD_ANSWER);
    for (int b = 0; b < kEmsSaleBlocks; ++b) {
        const CChrArr payload = Query(8, static_cast<uint8_t>(b & 0xFF), static_cast<uint8_t>(b >> 8));
        if (payload.IsEmpty()) return Fail(EMS_ERR_BAD_ANSWER);
        for (int at = 0; at + kEmsSaleSize <= payload.GetLength(); at += kEmsSaleSize) {
            const std::string code = UnpackBcd(payload.Mid(at, 7)).substr(1);
            if (code == "0000000000000") return 1;
            Notify(ECR_EVENT_ITEM, "PLU - " + code, 0, 0);
            ElemisSale sale;
            CopyTextField(sale.code, code);
            sale.quantity = BigEndian(payload, at + 7, 4) / 1000.0;
            sale.value = BigEndian(payload, at + 13, 4) / 100.0;
            if (sale.quantity != 0.0 && sink) sink(sale);
        }
    }
    return 1;
}
