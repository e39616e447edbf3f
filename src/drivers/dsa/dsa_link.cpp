#include "drivers/dsa/dsa_link.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "comm/frame_reader.h"
#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

// The device code: the k-th byte of this sequence (CP1250) is written as
// 0x42 + k; every other byte stays as it is.
struct DsaCharset {
    uint8_t encode[256];
    uint8_t decode[256];
    DsaCharset() {
        const char* letters =
            PL("ĄBCĆDEĘFGHIJKLŁMNŃOÓPRSŚTUWXYZŹŻQV[\\]^_`aąbcćdeęfghijklłmnńoóprsśtuwxyzźżqv{|}~");
        for (int i = 0; i < 256; ++i) encode[i] = decode[i] = static_cast<uint8_t>(i);
        int k = 0;
        for (const char* p = letters; *p; ++p, ++k) {
            uint8_t c = static_cast<uint8_t>(*p);
            encode[c] = static_cast<uint8_t>(0x42 + k);
            decode[0x42 + k] = c;
        }
        encode[0x7F] = static_cast<uint8_t>(0x42 + k);
        decode[0x42 + k] = 0x7F;
    }
};

const DsaCharset& Charset() {
    static const DsaCharset charset;
    return charset;
}

CChrArr Checksum(const CChrArr& body) {
    unsigned sum = 0;
    for (int i = 0; i < body.GetLength(); ++i) sum += body[i];
    return NumToText(sum % 100u, 2, '0', 10);
}

std::string Format(const char* fmt, long value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

}  // namespace

const char* ErrorTableA(int code) {
    switch (code) {
    case 1: return PL("Brak taśmy kontrolnej");
    case 2: return PL("Brak taśmy paragonowej");
    case 3: return PL("Podniesienie dźwigni głowicy drukarki");
    case 4: return PL("Odłączenie drukarki");
    case 5: return PL("Przegrzanie głowicy drukarki");
    case 7: return PL("Odłączona pamięć fiskalna");
    case 8: return PL("Błędne dane w pamięci fiskalnej");
    case 9: return PL("Przepełnienie liczników w pamięci fiskalnej");
    case 10: return PL("Ostatni zapis do pamięci fiskalnej");
    case 11: return PL("Zapełnienie pamięci fiskalnej");
    case 12: return PL("Zapis do pamięci fiskalnej niemożliwy");
    case 13: return PL("Naciśnięcie niewłaściwego klawisza");
    case 14: return PL("Wcześniejsza data");
    case 15: return PL("Błędny format daty");
    case 16: return PL("Błędna sekwencja klawiszy");
    case 17: return PL("Dana nie istnieje");
    case 18: return PL("Błędna wartość");
    case 19: return PL("Brak numeru unikatowego");
    case 20: return PL("Wprowadzenia już istniejącej danej");
    case 21: return PL("Niedozwolona operacja");
    case 22: return PL("Teraz niemożliwe");
    case 23: return PL("Niewykonalne");
    case 24: return PL("Zbyt duża kwota");
    case 25: return PL("Kwota powyżej limitu");
    case 26: return PL("Bez programu");
    case 31: return PL("Odłączony PC");
    case 32: return PL("Brak kasjera");
    case 33: return PL("Nie wpisano stóp PTU");
    default: return nullptr;
    }
}

DsaSaleStream SaleLines(const std::string& command, const std::string& request, int pluDigits, uint32_t endMarker,
                        int percentDivisor) {
    DsaSaleStream s;
    s.command = command;
    s.request = request;
    s.pluPos = 3;
    s.pluDigits = pluDigits;
    s.lineLength = 20 + pluDigits;
    s.quantityPos = 3 + pluDigits;
    s.valuePos = 12 + pluDigits;
    s.endMarker = endMarker;
    s.percentDivisor = percentDivisor;
    return s;
}

CDsaLink::CDsaLink(const DsaTraits& traits) : m_traits(traits) {
    m_nWait = 1;
    m_nRetry = 5;
}

CDsaLink::~CDsaLink() = default;

void CDsaLink::SeedSequence(uint32_t seed) { SeedSequenceDraw(seed); }

std::string CDsaLink::GetErrorText(int code) { return LookupDeviceErrorText(ErrorTable(), code); }

int CDsaLink::Open(int port, int baud) {
    m_nError = 0;
    m_nPort = port;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    if (m_traits.fixedBaud) baud = m_traits.fixedBaud;
    int r = m_pSerial->Open(port, 1024, 1024, baud, m_traits.dataBits, m_traits.parity, 1);
    if (r != 0) {
        m_nError = r;
        return 0;
    }
    m_pSerial->SetCtsWait(port, 1);
    int err = m_pSerial->GetError(port);
    if (err < 0) {
        // The line was opened but could not be set up: give it back.
        m_pSerial->Close(port, 1);
        m_nError = err;
        return 0;
    }
    m_nSeq = DrawSequence(100);
    m_pSerial->FlushOutput(port);
    m_pSerial->FlushInput(port);
    if (m_traits.dataLog) OpenDataLog();
    return 1;
}

void CDsaLink::Close() {
    if (m_pSerial) ClosePort();
    m_nError = 0;
    if (m_traits.dataLog) CloseDataLog();
}

// ---------------------------------------------------------------- link

void CDsaLink::LogSent(const CChrArr& bytes) {
    if (m_traits.dataLog && IsDataLogOpen()) WriteDataLog(bytes, 'S');
}

void CDsaLink::LogReceived(const CChrArr& bytes) {
    if (m_traits.dataLog && IsDataLogOpen() && !bytes.IsEmpty()) WriteDataLog(bytes, 'R');
}

int CDsaLink::WriteBytes(const CChrArr& bytes) {
    LogSent(bytes);
    return SendAll(bytes, 9999);
}

CChrArr CDsaLink::ReadBytes(int n, int seconds) {
    CChrArr bytes = m_pSerial->Read(m_nPort, n, seconds);
    LogReceived(bytes);
    return bytes;
}

int CDsaLink::Pause(double seconds) {
    if (!m_pSerial) return 0;
    int r = m_pSerial->Delay(seconds);
    if (r == -7 || m_pSerial->IsAborted()) {
        m_nError = -7;
        return -7;
    }
    return 0;
}

int CDsaLink::MaySend() {
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    // Once the user has broken the job off, no further request goes to the
    // register (a break in a host callback must not let the next item's
    // command through).
    if (m_pSerial->IsAborted()) {
        m_nError = -7;
        return 0;
    }
    return 1;
}

int CDsaLink::SendFrame(const CChrArr& command, const CChrArr& data, bool anyLength) {
    if (!MaySend()) return 0;
    m_nSeq = (m_nSeq + 1) % 100;
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);

    CChrArr body = Number(m_nSeq, 2);
    body += 'V';
    if (m_traits.deviceNumber) body += Number(m_nDevice % 100, 2);
    body += command;
    body += data;
    if (!anyLength && body.GetLength() < m_traits.minBody) {
        m_nError = 9999;
        return 0;
    }
    CChrArr frame;
    frame += STX;
    frame += body;
    frame += Checksum(body);
    frame += ETX;
    DumpSent(frame);
    if (!WriteBytes(frame)) return 0;

    CChrArr ack = ReadBytes(1, 5);
    if (ack.GetLength() != 1) {
        int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : 9999;
        return 0;
    }
    if (ack[0] != ACK) {
        m_nError = 9999;
        m_pSerial->MarkUnsettled(m_nPort);   // its reply may follow all the same
        return 0;
    }
    return 1;
}

int CDsaLink::SendAck() {
    CChrArr ack(1, ACK);
    return WriteBytes(ack);
}

CChrArr CDsaLink::ReadFrame(int length) {
    const FrameReaderSpec spec{STX, ETX, static_cast<double>(m_nWait), std::max(length, 7) + 6, 6, 10003, 10001, 10000};
    CChrArr rest = ReadStartEndFrame(
        *this, spec,
        [this](const CChrArr& r) {
            const int n = r.GetLength();
            unsigned sum = 0;
            for (int i = 0; i < n - 3; ++i) sum += r[i];
            bool digits = r[n - 3] >= '0' && r[n - 3] <= '9' && r[n - 2] >= '0' && r[n - 2] <= '9';
            unsigned cc = digits ? (r[n - 3] - '0') * 10u + (r[n - 2] - '0') : 100u;
            if (cc != sum % 100u) return false;
            m_nSeq = Digits(r, 1, 2) % 100;
            return true;
        },
        [this](const CChrArr& bytes) { LogReceived(bytes); });
    if (rest.IsEmpty()) return rest;
    return rest.Mid(3, rest.GetLength() - 6);
}

CChrArr CDsaLink::CheckReply(const CChrArr& command, int n) {
    const int cl = command.GetLength();
    CChrArr data = ReadFrame(n + cl);
    if (data.GetLength() == 7 && data[0] == 'E' && data[1] == 'R' && data[2] == 'R') {
        SendAck();
        int code = static_cast<int>(Digits(data, 6, 2)) + 1000;
        m_nError = code;
        Notify(1, GetErrorText(code), 0, code);
        Pause(2.0);
        return CChrArr();
    }
    if (data.GetLength() == n + cl && data.Left(cl).bytes() == command.bytes()) {
        SendAck();
        m_nError = 0;
        return data.Mid(cl);
    }
    // Not acknowledged: the register may send it again.
    if (m_pSerial) m_pSerial->MarkUnsettled(m_nPort);
    if (m_nError == 0) m_nError = 9999;
    return CChrArr();
}

int CDsaLink::Exchange(const std::string& command, const CChrArr& data, bool anyLength) {
    CChrArr cmd(command);
    if (!SendFrame(cmd, data, anyLength)) return 0;
    CChrArr r = CheckReply(cmd, 2);
    if (r.GetLength() == 2) return 1;
    if (m_nError == 0) m_nError = 9999;
    return 0;
}

// ---------------------------------------------------------------- helpers

CChrArr CDsaLink::Encode(const CChrArr& text) {
    CChrArr out = text;
    for (int i = 0; i < out.GetLength(); ++i) out[i] = Charset().encode[out[i]];
    return out;
}

CChrArr CDsaLink::Decode(const CChrArr& text) {
    CChrArr out = text;
    for (int i = 0; i < out.GetLength(); ++i) out[i] = Charset().decode[out[i]];
    return out;
}

uint32_t CDsaLink::Digits(const CChrArr& data, int pos, int len) {
    uint32_t v = 0;
    for (int i = pos - 1; i < pos - 1 + len && i < data.GetLength(); ++i) {
        uint8_t c = data[i];
        if (c < '0' || c > '9') continue;   // leading spaces and the like
        v = v * 10u + (c - '0');
    }
    return v;
}

CChrArr CDsaLink::Number(uint64_t value, int digits) { return ZeroPadded(value, digits); }

std::string CDsaLink::FieldText(const CChrArr& bytes) {
    std::string s = bytes.ToString();
    size_t end = s.find_last_not_of(std::string(" \0", 2));
    s.erase(end == std::string::npos ? 0 : end + 1);
    size_t zero = s.find('\0');
    if (zero != std::string::npos) s.erase(zero);
    return s;
}

namespace {
CChrArr TextField(const char* text, size_t cap, int width) { return ChrPadRight(HostText(text, cap), width, ' '); }
}  // namespace

// ---------------------------------------------------------------- builders

int CDsaLink::CheckPrice(double price, uint64_t& hundredths) {
    if (ToWhole(price, 100.0, 999999999.0, hundredths)) return 1;
    m_nError = 109;
    return 0;
}

int CDsaLink::CheckPluNumber(uint32_t number) {
    // 1..capacity, and it must fit the number field of the records.
    uint64_t fieldMax = 1;
    for (int i = 0; i < PluLayout().numberDigits; ++i) fieldMax *= 10;
    if (number < 1 || number > Capacity() || number > fieldMax - 1) {
        m_nError = 105;
        return 0;
    }
    return 1;
}

int CDsaLink::BuildDeptRecord(const DsaDeptRecord& rec, CChrArr& out) {
    out.RemoveAll();
    if (rec.number < 1 || rec.number > DeptCount()) {
        m_nError = 110;
        return 0;
    }
    // Amounts are checked as amount x 100 <= 999999999.
    if (!(rec.amount >= 0.0) || !(rec.amount * 100.0 <= 999999999.0) || !(rec.limit >= 0.0) ||
        !(rec.limit * 100.0 <= 999999999.0)) {
        m_nError = 109;
        return 0;
    }
    if (rec.taxGroup < 1 || rec.taxGroup > 7) {
        m_nError = 103;
        return 0;
    }
    uint64_t amount = 0, limit = 0;
    ToWhole(rec.amount, 100.0, 999999999.0, amount);
    ToWhole(rec.limit, 100.0, 999999999.0, limit);
    CChrArr r = Number(rec.number, 2);
    r += Encode(TextField(rec.name, sizeof rec.name, 16));
    r += Number(amount, 9);
    r += static_cast<uint8_t>(rec.flag == 1 ? '1' : '0');
    r += Number(rec.taxGroup, 2);
    r += Number(limit, 9);
    if (r.GetLength() != 39) {
        m_nError = 9999;
        return 0;
    }
    out = r;
    return 1;
}

int CDsaLink::BuildPluRecord(const DsaPluRecord& rec, CChrArr& out) {
    out.RemoveAll();
    const DsaPluLayout layout = PluLayout();
    if (!CheckPluNumber(rec.number)) return 0;
    uint64_t price = 0;
    if (!CheckPrice(rec.price, price)) return 0;
    if (rec.dept < 1 || rec.dept > DeptCount()) {
        m_nError = 110;
        return 0;
    }
    uint64_t quantity = 0;
    if (layout.flagAndQuantity && !ToWhole(rec.quantity, 1000.0, 9999999.0, quantity)) {
        m_nError = 9999;
        return 0;
    }
    CChrArr r = Number(rec.number, layout.numberDigits);
    r += Encode(TextField(rec.name, 16, 16));
    r += Number(price, 9);
    r += Number(rec.dept, 2);
    if (layout.flagAndQuantity) {
        r += static_cast<uint8_t>(rec.flag == 1 ? '1' : '0');
        r += Number(quantity, 7);
    }
    if (layout.barcode) {
        CChrArr code = ChrTrim(HostText(rec.barcode, sizeof rec.barcode), ' ');
        r += ChrPadRight(code, 13, ' ');
    }
    if (r.GetLength() != layout.Length()) {
        m_nError = 9999;
        return 0;
    }
    out = r;
    return 1;
}

int CDsaLink::BuildDeleteRecord(uint32_t number, CChrArr& out) {
    out.RemoveAll();
    const DsaPluLayout layout = PluLayout();
    if (!CheckPluNumber(number)) return 0;
    CChrArr r = Number(number, layout.numberDigits);
    r += ChrSpaces(16);
    r += "000000000";
    r += "00";
    if (layout.flagAndQuantity) r += "00000000";
    if (layout.barcode) r += "0000000000000";
    out = r;
    return 1;
}

int CDsaLink::BuildPriceChange(DsaPluRecord& rec, CChrArr& out) {
    out.RemoveAll();
    const DsaPluLayout layout = PluLayout();
    if (!CheckPluNumber(rec.number)) return 0;
    uint64_t price = 0;
    if (!CheckPrice(rec.price, price)) return 0;
    out = Number(rec.number, layout.numberDigits) + Number(price, 9);
    rec.price = static_cast<double>(price) / 100.0;
    return 1;
}

// ---------------------------------------------------------------- records

int CDsaLink::ProgramDept(const DsaDeptRecord& rec) {
    m_nError = 0;
    CChrArr data;
    if (!BuildDeptRecord(rec, data)) return 0;
    return Exchange("4001", data);
}

int CDsaLink::ProgramPlu(const DsaPluRecord& rec, bool asNew) {
    m_nError = 0;
    CChrArr data;
    if (!BuildPluRecord(rec, data)) return 0;
    return Exchange(asNew ? "4059" : "4002", data);
}

int CDsaLink::ChangePrice(DsaPluRecord& rec) {
    m_nError = 0;
    CChrArr data;
    if (!BuildPriceChange(rec, data)) return 0;
    return Exchange("4060", data);
}

int CDsaLink::DeletePlu(uint32_t number) {
    m_nError = 0;
    CChrArr data;
    if (!BuildDeleteRecord(number, data)) return 0;
    return Exchange("4002", data);
}

int CDsaLink::CloseDepts() {
    m_nError = 0;
    std::string cmd = CloseDeptCommand();
    if (cmd.empty()) return 1;
    return Exchange(cmd, CChrArr(), true);
}

int CDsaLink::CloseGoods() {
    m_nError = 0;
    std::string cmd = CloseGoodsCommand();
    if (cmd.empty()) return 1;
    return Exchange(cmd, CChrArr(), true);
}

// ---------------------------------------------------------------- reads

int CDsaLink::QueryDept(uint32_t number, DsaDeptRecord& rec) {
    m_nError = 0;
    if (number < 1 || number > DeptCount()) {
        m_nError = 110;
        return 0;
    }
    const DsaDeptLayout layout = DeptLayout();
    CChrArr cmd("4201");
    if (!SendFrame(cmd, Number(number, 2))) return 0;
    CChrArr data = CheckReply(cmd, layout.replyLength);
    if (data.GetLength() != layout.replyLength || Digits(data, 1, 2) != number) {
        if (m_nError == 0) m_nError = 9999;
        return 0;
    }
    std::string name = FieldText(Decode(ChrMid(data, 3, 16)));
    std::memset(rec.name, 0, sizeof rec.name);
    std::memcpy(rec.name, name.data(), std::min(name.size(), sizeof rec.name - 1));
    rec.amount = Digits(data, 19, 9) / 100.0;
    rec.flag = data[layout.flagPos - 1] == '1' ? 1 : 0;
    rec.taxGroup = Digits(data, layout.taxPos, 2);
    return 1;
}

int CDsaLink::ReadDeptRecord(DsaDeptRecord& rec) {
    DsaDeptRecord r;
    r.number = rec.number;
    if (!QueryDept(rec.number, r)) return 0;
    r.limit = 9999999.99;
    rec = r;
    return 1;
}

int CDsaLink::QueryPlu(uint32_t number, DsaPluRecord& rec) {
    m_nError = 0;
    const DsaPluLayout layout = PluLayout();
    if (!CheckPluNumber(number)) return 0;
    const int len = layout.Length();
    CChrArr cmd("4202");
    if (!SendFrame(cmd, Number(number, layout.numberDigits))) return 0;
    CChrArr data = CheckReply(cmd, len);
    if (data.GetLength() != len || Digits(data, 1, layout.numberDigits) != number) {
        if (m_nError == 0) m_nError = 9999;
        return 0;
    }
    const int d = layout.numberDigits;
    std::string name = FieldText(Decode(ChrMid(data, d + 1, 16)));
    std::memset(rec.name, 0, sizeof rec.name);
    std::memcpy(rec.name, name.data(), std::min<size_t>(name.size(), 16));
    rec.price = Digits(data, d + 17, 9) / 100.0;
    rec.dept = Digits(data, d + 26, 2);
    int pos = d + 28;
    if (layout.flagAndQuantity) {
        rec.flag = data[pos - 1] == '1' ? 1 : 0;
        rec.quantity = Digits(data, pos + 1, 7) / 1000.0;
        pos += 8;
    }
    std::memset(rec.barcode, 0, sizeof rec.barcode);
    if (layout.barcode) {
        std::string code = FieldText(ChrTrim(ChrMid(data, pos, 13), ' '));
        std::memcpy(rec.barcode, code.data(), std::min<size_t>(code.size(), 13));
    }
    return 1;
}

int CDsaLink::ReadPLURecord(DsaPluRecord& rec) {
    DsaPluRecord r = rec;
    if (!QueryPlu(rec.number, r)) return 0;
    rec = r;
    return 1;
}

int CDsaLink::ReadSales(const DsaSaleLineFn& fn) { return RunSaleStream(SaleStream(false), fn); }

int CDsaLink::ClearSales(const DsaSaleLineFn& fn) { return RunSaleStream(SaleStream(true), fn); }

int CDsaLink::RunSaleStream(const DsaSaleStream& stream, const DsaSaleLineFn& fn) {
    m_nError = 0;
    CChrArr cmd(stream.command);
    if (!SendFrame(cmd, CChrArr(stream.request))) return 0;
    Notify(5, Format("PLU - %li", 1), stream.firstPercent, 0);
    CChrArr data = CheckReply(cmd, stream.lineLength);
    uint32_t k = 1;
    const uint32_t capacity = Capacity();
    for (;;) {
        if (data.GetLength() != stream.lineLength) {
            if (m_nError == 0) m_nError = 9999;
            return 0;
        }
        const uint32_t noted = m_nSeq;
        const uint32_t plu = Digits(data, stream.pluPos, stream.pluDigits);
        if (plu == stream.endMarker) {
            Notify(5, "100 %", 100, 0);
            if (stream.confirm.empty()) return 1;
            CChrArr reply = CheckReply(CChrArr(stream.confirm), 2);
            if (reply.GetLength() == 2) return 1;
            if (m_nError == 0) m_nError = 9999;
            return 0;
        }
        if (plu == 0 || plu > capacity) {
            m_nError = 105;
            return 0;
        }
        DsaPluRecord rec;
        rec.number = plu;
        DsaSaleLine line;
        line.plu = plu;
        line.quantity = Digits(data, stream.quantityPos, 9) / 1000.0;
        line.value = Digits(data, stream.valuePos, 9) / 100.0;
        if (fn) fn(rec, line);

        ++k;
        if (k > capacity + 1) {   // more lines than the register has PLUs
            m_nError = 9999;
            return 0;
        }
        const double scaled = std::trunc(static_cast<double>(k % 75) * 100.0);
        const int divisor = stream.percentDivisor > 0 ? stream.percentDivisor : 1;
        int percent = stream.unsignedPercent
                          ? static_cast<int>(static_cast<uint32_t>(scaled) / static_cast<uint32_t>(divisor))
                          : static_cast<int>(scaled) / divisor;
        Notify(5, Format("PLU - %li", static_cast<long>(k)), percent, 0);
        data = CheckReply(cmd, stream.lineLength);
        if (m_nError == -7) return 0;
        // A frame that was read but carries the last line's number is no
        // new line; a frame that could not be read keeps its own code.
        if (!data.IsEmpty() && m_nSeq == noted) {
            m_nError = 9999;
            return 0;
        }
    }
}
