#include "drivers/elcom50/celcom50.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

constexpr uint8_t kTab = 0x09;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
constexpr int kIoSeconds = 5;
constexpr int kQueueSize = 2048;
constexpr int kReplyMax = 2048;
constexpr int kConnectReplyMax = 255;

struct StatusText {
    uint32_t code32;
    const char* text;
};

// Device status codes: the small code is the position (1-based), the 32-bit
// code is what newer firmware answers for the same condition.
const StatusText kStatusTexts[] = {
    {0x0006000Bu, PL("Błędna wartość parametru")},
    {0x80020005u, PL("Brakujący parametr")},
    {0x80050009u, PL("Operacja niemożliwa w tym stanie – wymagany tryb serwisowy")},
    {0x8005000Au, PL("Nie można wykonać raportu, raport już wykonany")},
    {0x8005000Bu, PL("Nie można wykonać raportu okresowego, brak raportu dziennego")},
    {0x8005000Cu, PL("Nie można wykonać raportu okresowego, raport już wykonany")},
    {0x80050010u, PL("Nieobsługiwana operacja")},
    {0x80060007u, PL("Nieznany rekord")},
    {0x80060009u, PL("Nieobsługiwana tabela")},
    {0x8006000Au, PL("Nieznany atrybut rekordu")},
    {0x8006000Cu, PL("Wartość nie może być wprowadzona (atrybut tylko do odczytu lub niespełnione wymagania do zmiany)")},
    {0x8006000Fu, PL("Zmiana waluty nie może być wykonana, parametry zmiany nie zostały ustawione (nie ustawiono znacznika lub kursu)")},
    {0x80060011u, PL("Wartość nie może być wprowadzona, wymagany raport  i miesięczny")},
    {0x80060012u, PL("Wartość nie może być wprowadzona, wymagany raport dzienny")},
    {0x80060013u, PL("Wartość nie może być wprowadzona, wymagany raport  okresowy")},
    {0x80060014u, PL("Operacja nie może być wykonana (wymagania nie są spełnione)")},
    {0x80060018u, PL("Wartość nie może być wprowadzona, duplikat kodu kreskowego")},
    {0x80060019u, PL("Nieobsługiwana lub błędna wartość rekordu")},
    {0x8006001Bu, PL("Brak nagłóweka")},
    {0x80060021u, PL("Wartość nie może być wprowadzona, duplikat nazwy PLU")},
    {0x80060024u, PL("Wartość nie może być wprowadzona, wymagany raport finansowy")},
    {0x80060130u, PL("Wartość nie może być wprowadzona, istnieją aktywne usługi")},
    {0x80070007u, PL("Nieobsługiwana operacja")},
    {0x80070009u, PL("Kasa zajęta")},
    {0x8007000Au, PL("Połączenie odrzucone")},
    {0x810100C9u, PL("Otwarta pokrywa")},
    {0x810100CAu, PL("Brak papieru - kopia")},
    {0x810100CBu, PL("Brak papieru –oryginał")},
    {0x810100E2u, PL("Kopia elektroniczna zapełniona w 80%")},
    {0x810100E3u, PL("Kopia elektroniczna zapełniona w 95%")},
    {0x810100E4u, PL("Kopia elektroniczna zapełniona (możliwość wykonania raportu)")},
    {0x810100E5u, PL("Kopia elektroniczna zapełniona")},
    {0x810100ECu, PL("Wartość nie może być wprowadzona, kasa w trybie fiskalnym")},
    {0x810100F2u, PL("Nie można wykonać raportu dziennego, raport już wykonany")},
    {0x810A0009u, PL("Pamięć podręczna pełna")},
    {0x810A0013u, PL("Pamięć podręczna zawiera 2 nieprzesłane raporty dobowe")},
};
constexpr int kStatusCount = static_cast<int>(sizeof(kStatusTexts) / sizeof(kStatusTexts[0]));

const char* const kPluWriteHead =
    "PLU\tPLU_PRICE\tPLU_NAME\tPLU_TAXRATE\tPLU_BARCODE\tPLU_DPT\tPLU_UNIT\tPLU_LINK\tPLU_OTHERPRICE";
const char* const kPluReadHead =
    "PLU\tPLU_PRICE\tPLU_NAME\tPLU_TAXRATE\tPLU_BARCODE\tPLU_DPT\tPLU_UNIT\tPLU_LINK\tPLU_OTHERPRICE"
    "\tPLU_QUANTITY\tPLU_AMOUNT";
const char* const kDeptHead = "DPT\tDPT_NAME";
const char* const kUnitHead = "MEASUREUNIT\tMEASUREUNIT_NAME";
const char* const kTaxHead = "TAXGROUP\tTAXGROUP_RATE\tTAXGROUP_TYPE";

CChrArr Num(uint32_t v) { return NumToText(v, 0, ' ', 10); }

// A host text as a field: TAB, CR and LF become blanks so that it cannot
// shift the fields after it or end the line.
CChrArr FieldText(const char* text) {
    CChrArr r(text);
    for (int i = 0; i < r.GetLength(); ++i) {
        const uint8_t b = r[i];
        if (b == kTab || b == kCr || b == kLf) r.SetAt(i, ' ');
    }
    return r;
}

bool Equals(const CChrArr& a, const char* text) {
    const size_t n = std::strlen(text);
    return static_cast<size_t>(a.GetLength()) == n && std::memcmp(a.data(), text, n) == 0;
}

// Decimal text, optionally signed, optionally with a fraction.
bool IsNumber(const CChrArr& field) {
    const std::string s = field.ToString();
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    return digits > 0 && i == s.size();
}

uint32_t ToUnsigned(const CChrArr& field) { return static_cast<uint32_t>(StrToNum(field, 10, 0)); }

int Percent(int n, int total) { return static_cast<int>(std::trunc(n * 100.0) / total) % 100; }

std::string Format(const char* pattern, int n) {
    char buf[128];
    std::snprintf(buf, sizeof buf, pattern, n);
    return buf;
}

}  // namespace

CElcom50::CElcom50() {
    m_nWait = 20;
    m_dQuietSeconds = 0.5;
    m_dQuietLimitSeconds = kIoSeconds;
}

CElcom50::~CElcom50() = default;

int CElcom50::Open(int port, int baud) {
    m_nError = 0;
    m_nPort = port;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    const int r = m_pSerial->Open(port, kQueueSize, kQueueSize, baud, 8, 'N', 1);
    if (r != 0) {
        m_nError = r < 0 ? r : -1;
        return 0;
    }
    const int fo = m_pSerial->FlushOutput(port);
    const int fi = m_pSerial->FlushInput(port);
    if (fo < 0 || fi < 0) {
        // The line is open but unusable: close it again for the next job.
        const int err = fo < 0 ? fo : fi;
        m_pSerial->Close(port, 1);
        m_nError = err;
        return 0;
    }
    return 1;
}

void CElcom50::SetDeviceType(int setting, int model) {
    m_nSetting = setting;
    m_nModel = model == 25 ? 25 : 24;
    m_nMaxRecord = GetMaxRecord();
}

int CElcom50::GetMaxRecord() const { return m_nModel == 25 ? 14980 : 1980; }

int CElcom50::GetNameWidth() const { return m_nModel == 25 ? kEl50NameWidthModel25 : kEl50NameWidthModel24; }

int CElcom50::FailIfClear(int code) {
    if (m_nError == 0) m_nError = code;
    return 0;
}

// ---------------------------------------------------------------- link

int CElcom50::SendLine(const CChrArr& line) { return SendBytes(line); }

int CElcom50::SendRequest(const CChrArr& command, const CChrArr& params) {
    m_nError = 0;
    if (!m_pSerial) return FailIfClear(-3);
    // A reply that is already there completes an exchange without any wait
    // that would notice a break: the break is looked at before each request.
    if (m_pSerial->IsAborted()) {
        m_nError = -7;
        return 0;
    }
    if (!ClearLine()) return 0;
    CChrArr line(command);
    line += kTab;
    line += "REQ";
    if (!params.IsEmpty()) {
        line += kTab;
        line += params;
    }
    line += kLf;
    return SendLine(line);
}

CChrArr CElcom50::ReadReply(int maxLength) {
    if (!m_pSerial) {
        FailIfClear(-3);
        return CChrArr();
    }
    CChrArr reply = m_pSerial->ReadUntil(m_nPort, kLf, maxLength, kIoSeconds);
    DumpReadUntil(reply);
    // A line longer than the limit is handed over whole with an overflow
    // error, and may well end with its LF: the error decides, not the byte.
    const int err = m_pSerial->GetError(m_nPort);
    if (err != 0 || reply.IsEmpty() || reply.GetLength() > maxLength || reply[reply.GetLength() - 1] != kLf) {
        m_nError = err < 0 ? err : -5;
        return CChrArr();
    }
    return reply;
}

CChrArr CElcom50::ReadBytes(int n) {
    if (!m_pSerial) {
        FailIfClear(-3);
        return CChrArr();
    }
    CChrArr bytes = m_pSerial->Read(m_nPort, n, kIoSeconds);
    if (bytes.GetLength() < n) {
        const int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : -5;
    }
    return bytes;
}

int CElcom50::CheckReply(const CChrArr& command, CChrArr& data) {
    data = CChrArr();
    const CChrArr reply = ReadReply(kReplyMax);
    if (reply.IsEmpty()) return FailIfClear(EL50_ERR_BAD_REPLY);
    CChrArr head(command);
    head += kTab;
    head += "RSP";
    const int headLength = head.GetLength();
    if (reply.GetLength() < headLength + 1 || reply.Left(headLength).bytes() != head.bytes()) {
        m_nError = EL50_ERR_BAD_REPLY;
        return 0;
    }
    const uint8_t next = reply[headLength];
    if (next == kLf) return 1;
    if (next == kTab) {
        data = reply.Mid(headLength + 1, reply.GetLength() - headLength - 2);
        return 1;
    }
    m_nError = EL50_ERR_BAD_REPLY;
    return 0;
}

int CElcom50::ConnectExchange(const char* command) {
    m_nError = 0;
    if (!m_pSerial) return FailIfClear(-3);
    if (!ClearLine()) return 0;
    CChrArr line(command);
    line += kTab;
    line += "REQ";
    line += kLf;
    // The answer is read but not judged: a register that was not connected
    // answers DISCONNECT with an error, and CONNECT may report a connection
    // that already stands.
    if (SendLine(line)) ReadReply(kConnectReplyMax);
    // A break must not be lost in the unexamined answer.
    if (m_nError == -7) return 0;
    return 1;
}

int CElcom50::Connect() {
    // No new connection after a break (closing one still goes out).
    if (m_pSerial && m_pSerial->IsAborted()) {
        m_nError = -7;
        return 0;
    }
    return ConnectExchange("CONNECT");
}

int CElcom50::Disconnect() {
    m_nError = 0;
    return ConnectExchange("DISCONNECT");
}

CChrArr CElcom50::SplitField(CChrArr& rest, uint8_t separator) {
    const int at = rest.Find(separator);
    if (at < 0) {
        CChrArr all = rest;
        rest = CChrArr();
        return all;
    }
    CChrArr field = rest.Left(at);
    rest = rest.Mid(at + 1);
    return field;
}

CChrArr CElcom50::NextField(CChrArr& rest) { return SplitField(rest, kTab); }

bool CElcom50::ParseStatus(const CChrArr& field, uint32_t& status) {
    if (!IsNumber(field)) return false;
    const std::string s = field.ToString();
    size_t i = 0;
    while (s[i] == ' ') ++i;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    // Taken as a 64-bit integer (wrapping, so absurdly long texts cannot
    // overflow); the fraction is cut off; the low 32 bits are the code.
    uint64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') v = v * 10u + static_cast<uint64_t>(s[i++] - '0');
    if (negative) v = 0u - v;
    status = static_cast<uint32_t>(v & 0xFFFFFFFFu);
    return true;
}

int CElcom50::MapErrorCode(uint32_t code) {
    for (int i = 0; i < kStatusCount; ++i) {
        if (kStatusTexts[i].code32 == code) return i + 1;
    }
    return static_cast<int>(code);
}

std::string CElcom50::GetErrorText(int code) {
    if (code >= 1 && code <= kStatusCount) return kStatusTexts[code - 1].text;
    const uint32_t code32 = static_cast<uint32_t>(code);
    for (int i = 0; i < kStatusCount; ++i) {
        if (kStatusTexts[i].code32 == code32) return kStatusTexts[i].text;
    }
    switch (code) {
    case EL50_ERR_PLU_NUMBER: return PL("Numer PLU poza zakresem");
    case EL50_ERR_PRICE: return PL("Cena towaru poza zakresem");
    case EL50_ERR_DEPT_NUMBER: return PL("Numer działu poza zakresem");
    case EL50_ERR_UNIT_NUMBER: return PL("Numer jednostki miary poza zakresem");
    case EL50_ERR_BAD_REPLY: return PL("Błędne dane lub niepełna odpowiedź kasy");
    default: break;
    }
    return CTelepathyECR::GetErrorText(code);
}

// ------------------------------------------------------------ exchanges

int CElcom50::ClearLine() {
    const int drained = m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds);
    if (drained != 0) {
        m_nError = drained < 0 ? drained : -5;
        m_pSerial->FlushOutput(m_nPort);
        return 0;
    }
    m_pSerial->FlushInput(m_nPort);
    return 1;
}

int CElcom50::Request(const char* command, const CChrArr& params, CChrArr& data) {
    const CChrArr cmd(command);
    if (!SendRequest(cmd, params)) return FailIfClear(EL50_ERR_BAD_REPLY);
    return CheckReply(cmd, data);
}

int CElcom50::RequestStatus(const char* command, const CChrArr& params, CChrArr& data) {
    if (!Request(command, params, data)) return 0;
    const CChrArr field = NextField(data);
    uint32_t status = 0;
    if (!ParseStatus(field, status)) {
        m_nError = EL50_ERR_BAD_REPLY;
        return 0;
    }
    if (status != 0) {
        // A register's code never stands for a transport failure or a user
        // break (-1 .. -10): such a status is a bad answer.
        const int code = MapErrorCode(status);
        m_nError = code <= -1 && code >= -10 ? EL50_ERR_BAD_REPLY : code;
        return 0;
    }
    return 1;
}

int CElcom50::SetHead(const CChrArr& columns) {
    CChrArr data;
    return RequestStatus("SETHEAD", columns, data);
}

int CElcom50::WriteRecord(const CChrArr& head, const CChrArr& values) {
    if (!SetHead(head)) return 0;
    CChrArr data;
    return RequestStatus("SETREC", values, data);
}

// One connection around `body`. The first error of the operation survives
// the closing exchange.
int CElcom50::ConnectionBody(const std::function<int()>& body) {
    if (!Connect()) return FailIfClear(EL50_ERR_BAD_REPLY);
    const int r = body();
    const int error = m_nError;
    Disconnect();
    if (r == 1) {
        m_nError = 0;
        return 1;
    }
    m_nError = error != 0 ? error : EL50_ERR_BAD_REPLY;
    return 0;
}

// ------------------------------------------------------------- records

CChrArr CElcom50::FormatPrice(double price) {
    if (price == 0.0) price = 0.0;   // no "-0.00"
    return ChrTrim(DoubleToText(price, Decimals{2}, Width{0}), ' ');
}

int CElcom50::CheckPlu(Elcom50Plu& record) {
    m_nError = 0;
    if (record.number < 1 || record.number > static_cast<uint32_t>(GetMaxRecord())) {
        m_nError = EL50_ERR_PLU_NUMBER;
        return 0;
    }
    if (record.taxGroup < 1 || record.taxGroup > kEl50TaxGroups) {
        m_nError = EL50_ERR_TAX_GROUP;
        return 0;
    }
    if (!std::isfinite(record.price) || record.price < 0.0 || record.price > kEl50MaxPrice) {
        m_nError = EL50_ERR_PRICE;
        return 0;
    }
    if (record.link > kEl50MaxLink) {
        m_nError = EL50_ERR_BAD_REPLY;
        return 0;
    }
    if (record.unit < 1 || record.unit > kEl50Units) record.unit = 1;
    return 1;
}

CChrArr CElcom50::BuildPluRecord(Elcom50Plu& record) const {
    if (record.unit < 1 || record.unit > kEl50Units) record.unit = 1;
    CChrArr line = FormatPrice(record.price);
    line += kTab;
    line += ChrPadRight(FieldText(record.name), GetNameWidth(), ' ');
    line += kTab;
    line += static_cast<uint8_t>('0' + (record.taxGroup % 10));
    line += kTab;
    line += ChrPadLeft(ChrTrim(FieldText(record.barcode), ' '), kEl50BarcodeWidth, '0');
    line += kTab;
    line += Num(record.department);
    line += kTab;
    line += Num(record.unit);
    line += kTab;
    line += record.link == 0 ? CChrArr("0000") : Num(record.link);
    line += kTab;
    line += record.otherPrice == 1 ? "1" : "0";
    line += kTab;
    return line;
}

int CElcom50::ReadPluFields(CChrArr& data, Elcom50Plu& plu, Elcom50Sale& sale) const {
    CChrArr f[10];
    for (CChrArr& field : f) field = NextField(data);
    // Every column must be there; the barcode alone may be empty.
    const int numeric[] = {0, 2, 4, 5, 6, 8, 9};
    for (int i : numeric) {
        if (!IsNumber(f[i])) return 0;
    }
    if (f[1].IsEmpty() || f[7].IsEmpty()) return 0;
    plu.price = TextToDouble(f[0]);
    sale.quantity = TextToDouble(f[8]);
    sale.amount = TextToDouble(f[9]);
    // Hundreds of digits still read as a number, an infinite one: no host
    // gets that as a price or a figure.
    if (!std::isfinite(plu.price) || !std::isfinite(sale.quantity) || !std::isfinite(sale.amount)) return 0;
    CopyTextField(plu.name, f[1], static_cast<size_t>(GetNameWidth()));
    plu.taxGroup = ToUnsigned(f[2]);
    CopyTextField(plu.barcode, f[3], kEl50BarcodeWidth);
    plu.department = ToUnsigned(f[4]);
    plu.unit = ToUnsigned(f[5]);
    plu.link = ToUnsigned(f[6]);
    plu.otherPrice = Equals(f[7], "1") ? 1 : 2;
    sale.number = 0;
    std::memcpy(sale.name, plu.name, sizeof sale.name);
    std::memcpy(sale.barcode, plu.barcode, sizeof sale.barcode);
    return 1;
}

// ---------------------------------------------------------- operations

int CElcom50::ClearSale() {
    return ConnectionBody([this] {
        CChrArr data;
        return RequestStatus("MAKEREPORT", CChrArr("PLU_Z\tNO"), data);
    });
}

int CElcom50::WritePlu(Elcom50Plu& record) {
    if (!CheckPlu(record)) return 0;
    CChrArr values("PLU\t");
    values += Num(record.number);
    values += kTab;
    values += BuildPluRecord(record);
    return ConnectionBody([&] { return WriteRecord(CChrArr(kPluWriteHead), values); });
}

int CElcom50::DeletePlu(const Elcom50Plu& record) {
    m_nError = 0;
    if (record.number < 1 || record.number > static_cast<uint32_t>(GetMaxRecord())) {
        m_nError = EL50_ERR_PLU_NUMBER;
        return 0;
    }
    CChrArr values("PLU\t");
    values += Num(record.number);
    values += "\t0";
    return ConnectionBody([&] { return WriteRecord(CChrArr("PLU\tPLU_TAXRATE"), values); });
}

int CElcom50::WriteDepartments(const Elcom50Dept& record) {
    m_nError = 0;
    if (record.number < 1 || record.number > kEl50Departments) {
        m_nError = EL50_ERR_DEPT_NUMBER;
        return 0;
    }
    CChrArr values("DPT\t");
    values += Num(record.number);
    values += kTab;
    values += ChrPadRight(FieldText(record.name), GetNameWidth(), ' ');
    return ConnectionBody([&] { return WriteRecord(CChrArr(kDeptHead), values); });
}

int CElcom50::WriteUnits(const Elcom50Unit& record) {
    m_nError = 0;
    if (record.number < 1 || record.number > kEl50Units) {
        m_nError = EL50_ERR_UNIT_NUMBER;
        return 0;
    }
    CChrArr values("MEASUREUNIT\t");
    values += Num(record.number);
    values += kTab;
    values += ChrPadRight(FieldText(record.name), kEl50UnitNameSent, ' ');
    return ConnectionBody([&] { return WriteRecord(CChrArr(kUnitHead), values); });
}

int CElcom50::WalkPlu(const std::function<void(const Elcom50Plu&, const Elcom50Sale&)>& each) {
    return ConnectionBody([&] {
        if (!SetHead(CChrArr(kPluReadHead))) return 0;
        const int max = GetMaxRecord();
        for (int n = 1; n <= max; ++n) {
            CChrArr params("PLU\t");
            params += Num(static_cast<uint32_t>(n));
            CChrArr data;
            if (!RequestStatus("GETREC", params, data)) return 0;
            Elcom50Plu plu;
            Elcom50Sale sale;
            if (!ReadPluFields(data, plu, sale)) {
                plu.number = 0;
                m_nError = EL50_ERR_BAD_REPLY;
                return 0;
            }
            Notify(ECR_EVENT_ITEM, Format("Pobieranie danych PLU - %i", n), Percent(n, max), 0);
            plu.number = static_cast<uint32_t>(n);
            each(plu, sale);
        }
        return 1;
    });
}

int CElcom50::ReadAllPlu(const PluSink& sink) {
    return WalkPlu([&](const Elcom50Plu& plu, const Elcom50Sale&) {
        if (plu.name[0] != 0 && plu.taxGroup != 0 && plu.department != 0 && sink) sink(plu);
    });
}

int CElcom50::ReadSale(const SaleSink& sink) {
    return WalkPlu([&](const Elcom50Plu& plu, const Elcom50Sale& sale) {
        if (sink) sink(plu, sale);
    });
}

int CElcom50::ReadPlu(Elcom50Plu& record) {
    m_nError = 0;
    if (record.number < 1 || record.number > static_cast<uint32_t>(GetMaxRecord())) {
        m_nError = EL50_ERR_PLU_NUMBER;
        return 0;
    }
    return ConnectionBody([&] {
        if (!SetHead(CChrArr(kPluReadHead))) return 0;
        CChrArr params("PLU\t");
        params += Num(record.number);
        CChrArr data;
        if (!RequestStatus("GETREC", params, data)) return 0;
        Elcom50Plu plu;
        Elcom50Sale sale;
        if (!ReadPluFields(data, plu, sale)) {
            m_nError = EL50_ERR_PLU_UNREADABLE;
            return 0;
        }
        plu.number = record.number;
        record = plu;
        return 1;
    });
}

int CElcom50::ReadNameRows(const char* head, const char* table, int count, const std::string& progressText,
                           const std::function<void(int row, const CChrArr& name)>& store) {
    return ConnectionBody([&] {
        if (!SetHead(CChrArr(head))) return 0;
        for (int n = 1; n <= count; ++n) {
            CChrArr params(table);
            params += '\t';
            params += Num(static_cast<uint32_t>(n));
            CChrArr data;
            if (!RequestStatus("GETREC", params, data)) return 0;
            CChrArr name = NextField(data);
            if (name.IsEmpty()) name = "---";
            Notify(ECR_EVENT_ITEM, Format(progressText.c_str(), n), Percent(n, count), 0);
            store(n, name);
        }
        return 1;
    });
}

int CElcom50::ReadDepartments(Elcom50Dept table[kEl50Departments]) {
    for (int i = 0; i < kEl50Departments; ++i) {
        table[i] = Elcom50Dept();
        table[i].number = static_cast<uint32_t>(i + 1);
    }
    return ReadNameRows(kDeptHead, "DPT", kEl50Departments, PL("Pobieranie danych o działach tow. - %i"),
                        [&](int n, const CChrArr& name) {
                            CopyTextField(table[n - 1].name, name, static_cast<size_t>(GetNameWidth()));
                        });
}

int CElcom50::ReadUnits(Elcom50Unit table[kEl50Units]) {
    for (int i = 0; i < kEl50Units; ++i) {
        table[i] = Elcom50Unit();
        table[i].number = static_cast<uint32_t>(i + 1);
    }
    return ReadNameRows(kUnitHead, "MEASUREUNIT", kEl50Units, "Pobieranie danych jed.miary - %i",
                        [&](int n, const CChrArr& name) { CopyTextField(table[n - 1].name, name, kEl50UnitNameWidth); });
}

int CElcom50::ReadTaxGroups(double rates[8]) {
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    return ConnectionBody([&] {
        if (!SetHead(CChrArr(kTaxHead))) return 0;
        for (int g = 1; g <= kEl50TaxGroups; ++g) {
            CChrArr params("TAXGROUP\t");
            params += static_cast<uint8_t>('0' + g);
            CChrArr data;
            if (!RequestStatus("GETREC", params, data)) return 0;
            const CChrArr rate = NextField(data);
            const CChrArr type = NextField(data);
            // The rate counts only for a group of type 1; an exempt or unused
            // group may leave it empty.
            const bool typed = IsNumber(type);
            const uint32_t kind = typed ? ToUnsigned(type) : 0;
            const double value = kind == 1 && IsNumber(rate) ? TextToDouble(rate) : 0.0;
            if (!typed || (kind == 1 && (!IsNumber(rate) || !std::isfinite(value)))) {
                m_nError = EL50_ERR_BAD_REPLY;
                return 0;
            }
            rates[g - 1] = kind == 1 ? value : kind == 2 ? -1.0 : -3.0;
        }
        return 1;
    });
}

int CElcom50::GetDevInfo(CChrArr& data) { return RequestStatus("GETDEVINFO", CChrArr(), data); }

int CElcom50::GetDevState(int& state) {
    state = 0;
    CChrArr data;
    if (!Request("GETDEVSTATE", CChrArr(), data)) return 0;
    uint32_t status = 0;
    if (!ParseStatus(NextField(data), status)) {
        m_nError = EL50_ERR_BAD_REPLY;
        return 0;
    }
    state = static_cast<int>(status);
    return 1;
}

int CElcom50::ReadDeviceInfo(std::string& text) {
    text.clear();
    return ConnectionBody([&] {
        CChrArr data;
        if (!GetDevInfo(data)) return 0;
        static const char* const kLabels[] = {
            "Typ kasy : ", "Symbol kraju : ", "Wersja software'u : ", PL("Wersja protokołu : "), "Tryb pracy : ",
        };
        for (const char* label : kLabels) {
            const CChrArr value = NextField(data);
            if (value.IsEmpty()) break;
            text += label;
            text += value.ToString();
            text += "\r\n";
        }
        return 1;
    });
}
