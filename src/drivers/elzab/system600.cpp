#include "drivers/elzab/system600.h"

#include <cmath>
#include <cstring>

#include "util/cp1250.h"

namespace {

constexpr int kIoTimeout = 5;   // seconds for every read, write and drain

uint32_t Le32(const CChrArr& s, int pos) {
    return static_cast<uint32_t>(s[pos]) | (static_cast<uint32_t>(s[pos + 1]) << 8) |
           (static_cast<uint32_t>(s[pos + 2]) << 16) | (static_cast<uint32_t>(s[pos + 3]) << 24);
}

CChrArr Le32Bytes(uint32_t v) {
    CChrArr out;
    for (int i = 0; i < 4; ++i) out.Add(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

bool InList(uint32_t model, std::initializer_list<uint32_t> list) {
    for (uint32_t m : list)
        if (m == model) return true;
    return false;
}

}  // namespace

CChrArr ElzabWord(uint32_t v) {
    CChrArr out;
    out.Add(static_cast<uint8_t>(v & 0xFF));
    out.Add(static_cast<uint8_t>((v >> 8) & 0xFF));
    return out;
}

CSystem600::CSystem600() {
    m_nWait = 20;
    // A register answers within milliseconds; half a second of silence
    // means an answer given up on has come or will not come.
    m_dQuietSeconds = 0.5;
    m_dQuietLimitSeconds = kIoTimeout;
    m_nModel = 1;
    m_nMuxFlag = 0;
    m_nMuxChannel = 1;
}

// ---------------------------------------------------------------- link ----

int CSystem600::Open(int port, int baud, int waitTime, uint32_t registerNumber, uint32_t modelCode) {
    m_nPort = port;
    m_nWait = waitTime;
    m_nRegister = registerNumber;
    m_nModel = modelCode;
    m_nError = 0;
    return OpenPort(port, baud);
}

int CSystem600::OpenPort(int port, int baud) {
    m_nError = 0;
    m_nPort = port;
    m_bAnswerOverdue = false;
    m_bSilent = false;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    int r = m_pSerial->Open(port, 1024, 1024, baud, 8, 'E', 1);
    if (r != 0) {
        m_nError = r;
        return 0;
    }
    // A failure after the line was opened closes it again, so that the
    // next job can open it.
    auto closeWith = [&](int code) {
        m_pSerial->Close(port, 0);
        m_nError = code;
        return 0;
    };
    m_pSerial->SetCtsWait(port, 1);
    if ((r = m_pSerial->GetError()) != 0) return closeWith(r);
    m_pSerial->FlushOutput(port);
    if ((r = m_pSerial->GetError()) != 0) return closeWith(r);
    m_pSerial->FlushInput(port);
    return 1;
}

int CSystem600::SendCommand(uint8_t command) {
    m_nError = 0;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    if (!DropStaleInput()) return 0;
    CChrArr cmd;
    cmd.Add(kEsc);
    cmd.Add(command);
    return WriteBytes(cmd);
}

// Before a command: bytes the register sent after its last answer would be
// taken for the answer to the next one. Let the rest arrive, then drop them.
// After a time-out the answer may still be on its way (a register answers in
// order, so it would come before the answer to the next command): wait up to
// one time-out for it first. Called right before a command leaves, so a
// break already asked for sends nothing more to the register.
int CSystem600::DropStaleInput() {
    if (m_pSerial->IsAborted()) {
        m_nError = -7;
        return 0;
    }
    m_nError = m_pSerial->WaitOutputDrained(m_nPort, kIoTimeout);
    if (m_nError != 0) return 0;
    bool stale = false;
    if (m_bAnswerOverdue) {
        m_bAnswerOverdue = false;
        stale = !m_pSerial->Read(m_nPort, 0, kIoTimeout).IsEmpty();
        m_bSilent = !stale;
        int e = m_pSerial->GetError();
        if (e != 0 && e != -5) {
            m_nError = e;
            return 0;
        }
    }
    if (stale || m_pSerial->GetInputCount(m_nPort) > 0) {
        m_pSerial->Delay(0.1);
        if (m_pSerial->IsAborted()) {
            m_nError = -7;
            return 0;
        }
        m_pSerial->FlushInput(m_nPort);
    }
    return 1;
}

int CSystem600::WriteBytes(const CChrArr& bytes) {
    DumpSent(bytes);
    if (bytes.IsEmpty()) return 1;
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    int written = m_pSerial->Write(m_nPort, bytes, kIoTimeout);
    int e = m_pSerial->GetError();
    if (e != 0) {
        m_nError = e;
        return 0;
    }
    if (written < bytes.GetLength()) {
        m_nError = 999;
        return 0;
    }
    e = m_pSerial->WaitOutputDrained(m_nPort, kIoTimeout);
    if (e != 0) {
        m_nError = e;
        return 0;
    }
    return 1;
}

CChrArr CSystem600::ReadBytes(int n) {
    CChrArr got;
    if (!m_pSerial) {
        m_nError = -3;
    } else {
        got = m_pSerial->Read(m_nPort, n, kIoTimeout);
        int e = m_pSerial->GetError();
        if (!got.IsEmpty()) m_bSilent = false;
        // The register may still answer after the time-out (unless it has
        // stayed silent through such a wait already).
        if (e == -5 && !m_bSilent) m_bAnswerOverdue = true;
        if (e != 0) {
            m_nError = e;
            got.RemoveAll();
        }
    }
    DumpReceived(got);
    return got;
}

int CSystem600::ReadAnswerByte() {
    CChrArr b = ReadBytes(1);
    if (b.GetLength() < 1) {
        // A silent register is 0 + 100; a transport failure keeps its code.
        if (m_nError == 0 || m_nError == -5) m_nError = kNoAnswer;
        return -1;
    }
    return b[0];
}

int CSystem600::ExpectAck() {
    int b = ReadAnswerByte();
    if (b < 0) return 0;
    if (!IsAck(b)) {
        m_nError = b + 100;
        return 0;
    }
    return 1;
}

// Status byte after a write or a read by number: 0 accepted, v -> v + 100.
// The department read and the sales counter may report "not defined" as the
// byte 102 or as 202; both give 202.
int CSystem600::ReadStatusByte(bool raw) {
    CChrArr b = ReadBytes(1);
    if (b.GetLength() < 1) {
        if (m_nError == 0) m_nError = 9999;
        return 0;
    }
    int v = b[0];
    if (v == 0) return 1;
    if (raw && (v == 102 || v == 202))
        m_nError = 202;
    else
        m_nError = v + 100;
    return 0;
}

int CSystem600::ReadReply(int n, CChrArr& reply) {
    reply = ReadBytes(n);
    if (reply.GetLength() < n) {
        if (m_nError == 0) m_nError = 9999;
        return 0;
    }
    return 1;
}

// command, data, ACK, [status], [reply]; replyLen < 0 reads no reply.
int CSystem600::Exchange(uint8_t command, const CChrArr& data, CChrArr* reply, int replyLen) {
    if (!SendCommand(command)) return 0;
    if (!data.IsEmpty() && !WriteBytes(data)) return 0;
    if (!ExpectAck()) return 0;
    if (reply && replyLen > 0) return ReadReply(replyLen, *reply);
    return 1;
}

std::string CSystem600::GetErrorText(int code) {
    if (const char* t = ElzabErrorText(code)) return t;
    return CTelepathyECR::GetErrorText(code);
}

const char* CSystem600::ElzabErrorText(int code) {
    switch (code) {
    case 101: return PL("Pamięć CMOS została skasowana (wezwij serwis)");
    case 102: return PL("Błąd w nazwie towaru");
    case 103: return PL("Błąd w stawce podatkowej towaru");
    case 104: return PL("Brak miejsca na opakowanie (maks. 64 opakowań)");
    case 105: return PL("Błędny numer towaru");
    case 107: return PL("Brak miejsca w buforze na towary wiązane (maks. 256 wiązań)");
    case 108: return PL("Za duży kod kreskowy");
    case 109: return PL("Za duża cena");
    case 110: return PL("Numer grupy towarowej poza dozwolonym zakresem");
    case 111: return PL("Numer jednostki miary poza dozwolonym zakresem");
    case 112: return PL("Błędna ilość miejsc po przecinku");
    case 113: return PL("Błąd w informacji o blokadzie towaru (nie 0 lub 1)");
    case 114: return PL("Błąd w informacji o opakowaniu (nie 0 lub 1)");
    case 115: return PL("Numer płatności poza dozwolonym zakresem");
    case 200: return PL("Pod podanym numerem towaru jest nowa nazwa lub stawka");
    case 201: return PL("Nie możliwe do wykonania ponieważ nie wszytkie dane zostały przeczytane");
    case 202: return PL("Pod podanym numerem towar nie zdefiniowany");
    case 203: return PL("Numer kasjera poza dozwolonym zakresem");
    case 204: return PL("Pod podanym numerem kasjer nie zdefiniowany");
    case 205: return PL("Kasjer do skasowania ma otwartą zmianę");
    case 206: return PL("W ciągu który ma być znakami tekstu jest kod mniejszy od 20 HEX");
    case 207: return PL("Zbyt duży rabat");
    case 208: return PL("Parametr N poza zakresem");
    case 209: return PL("Towar do skasowania lub zastąpienia ma niezerowe obroty lub zwroty");
    case 210: return PL("Liczba wierszy do wysunięcia jest poza dozwolonym zakresem");
    case 211: return PL("Brak miejsca na barkod");
    case 212: return PL("Kasjer pracuje");
    case 215: return PL("Numer pojemnika poza dozwolonym zakresem");
    case 217: return PL("Waga pojemnika poza dozwolonym zakresem");
    case 220: return PL("W nazwie towaru występują same spacje lub znaki nieważne");
    case 221: return PL("Numer PLU zajęty przez inny towar");
    case 222: return PL("Wprowadzana nazwa istnieje już w bazie");
    case 223: return PL("Niezerowy licznik paragonów");
    case 224: return PL("Towar oznaczony jako nowo zdefiniowany");
    case 225: return PL("Towar oznaczony jako skasowany");
    case 226: return PL("Towar ma już raz zmienioną stawkę");
    default: return nullptr;
    }
}

int CSystem600::SelectMuxChannel(int port, int lineFlag, int channel) {
    m_nError = 0;
    m_nMuxFlag = lineFlag;
    m_nMuxChannel = channel;
    if (channel < 0 || channel > 255) {
        m_nError = 1;   // the multiplexer's "bad channel"
        return 0;
    }
    if (!m_pSerial) {
        m_nError = -3;
        return 0;
    }
    CChrArr sel;
    sel.Add(0xFE);
    sel.Add(static_cast<uint8_t>(channel));
    if (!WriteBytes(sel)) return 0;
    m_pSerial->SetDtrMode(port, 0);
    m_pSerial->SetRtsMode(port, 0);
    int e = m_pSerial->GetError();
    if (e != 0) {
        m_nError = e;
        return 0;
    }
    return 1;
}

// ------------------------------------------------------------ commands ----

int CSystem600::ReadEcrNumber(uint32_t& number) {
    number = 0;
    CChrArr reply;
    if (!Exchange(kReadEcrNumber, CChrArr(), &reply, 2)) return 0;
    DumpBlock(reply);
    for (int i = 0; i < 2; ++i) {
        if (reply[i] < '0' || reply[i] > '9') {
            m_nError = 23;   // not two decimal digits
            return 0;
        }
        number = number * 10 + (reply[i] - '0');
    }
    return 1;
}

int CSystem600::CheckEcrNumber() {
    uint32_t number = 0;
    if (!ReadEcrNumber(number)) return 0;
    if (number != m_nRegister) {
        m_nError = 22;
        return 0;
    }
    return 1;
}

int CSystem600::ReadStatusCode(uint32_t& code) {
    CChrArr reply;
    if (!Exchange(kReadStatusCode, CChrArr(), &reply, 1)) return 0;
    code = reply[0];
    return 1;
}

int CSystem600::ReadStatusText11(std::string& text) {
    CChrArr reply;
    if (!Exchange(kReadUniqueNumber, CChrArr(), &reply, 11)) return 0;
    text = reply.ToString();
    return 1;
}

int CSystem600::ReadStatusTexts(std::string& date, std::string& time) {
    CChrArr reply;
    if (!Exchange(kReadDateTime, CChrArr(), &reply, 10)) return 0;
    auto two = [&](int i) {
        std::string s;
        for (int k = i; k < i + 2; ++k) s += reply[k] <= 9 ? static_cast<char>('0' + reply[k]) : '?';
        return s;
    };
    date = two(4) + "." + two(2) + "." + two(0);
    time = two(6) + ":" + two(8);
    return 1;
}

int CSystem600::ReadStatusWord(uint32_t& value) {
    CChrArr reply;
    if (!Exchange(kReadReceiptNumber, CChrArr(), &reply, 2)) return 0;
    value = ChrToWord(reply);
    return 1;
}

int CSystem600::ReadStatusFlag(int index, uint32_t& value) {
    if (index < 0 || index > 3) {
        m_nError = -1;
        return 0;
    }
    CChrArr reply;
    if (!Exchange(kStatusFlagCommands[index], CChrArr(), &reply, 1)) return 0;
    value = reply[0];
    return 1;
}

int CSystem600::ReadVatRates(double rates[8]) {
    m_nError = 0;
    for (int i = 0; i < 8; ++i) rates[i] = -3.0;
    if (m_nModel == 20) return 1;
    bool shortForm = HasShortVatReply(m_nModel);
    CChrArr reply;
    if (!Exchange(kReadVatRates, CChrArr(), &reply, shortForm ? 12 : 14)) return 0;
    if (shortForm) {
        rates[6] = -1.0;
        for (int i = 0; i < 6; ++i) {
            uint8_t hi = reply[2 * i], lo = reply[2 * i + 1];
            if (hi != 0xFF) rates[i] = (hi * 256 + lo) / 100.0;
        }
    } else {
        for (int i = 0; i < 7; ++i) {
            uint8_t hi = reply[2 * i], lo = reply[2 * i + 1];
            if (hi == 0x80)
                rates[i] = -3.0;
            else if (hi == 0x40)
                rates[i] = -1.0;
            else
                rates[i] = (hi * 256 + lo) / 100.0;
        }
    }
    return 1;
}

int CSystem600::ReadPluCapacity(uint32_t& capacity) {
    CChrArr reply;
    if (!Exchange(kReadPluCapacity, CChrArr(), &reply, 2)) return 0;
    capacity = ChrToWord(reply);
    return 1;
}

int CSystem600::ReadPluRecord(uint32_t number, ElzabPlu& plu) {
    plu = ElzabPlu();
    if (!Exchange(kReadPlu, ElzabWord(number), nullptr, -1)) return 0;
    if (!ReadStatusByte(false)) return 0;
    CChrArr r;
    if (!ReadReply(kPluReplyLen, r)) return 0;
    plu.number = number;
    std::string name = NameFromWire(r.Left(kNameLen));
    plu.vat = r[19];
    plu.dept = r[20];
    plu.byte21 = r[21];
    plu.unit = r[22];
    plu.byte23 = r[23];
    std::string code = BarcodeText(r.Mid(24, 6));
    StrNCopyZ(plu.barcode, code.c_str(), sizeof(plu.barcode) - 1);
    plu.price = Le32(r, 30) / 100.0;
    plu.byte34 = r[34];
    if (HasLongNames(m_nModel)) {
        CChrArr data;
        data.Add(0x02);
        data += ElzabWord(number);
        if (!Exchange(kLongName, data, nullptr, -1)) return 0;
        if (!ReadStatusByte(false)) return 0;
        CChrArr second;
        if (!ReadReply(kLongNamePart, second)) return 0;
        CChrArr first = ChrPadRight(CChrArr(name), kLongNamePart, ' ');
        name = first.ToString() + NameFromWire(second);
    }
    StrNCopyZ(plu.name, name.c_str(), sizeof(plu.name) - 1);
    return 1;
}

// PLU number, name 19, VAT group, department, byte 21, unit, byte 23,
// barcode 6, price 4, byte 34.
CChrArr CSystem600::PluData(const ElzabPlu& plu) const {
    uint64_t code = 0;
    BarcodeToNumber(plu.barcode, code);
    uint32_t price = 0;
    PriceToWire(plu.price, price);
    CChrArr d = ElzabWord(plu.number);
    d += NameField(plu.name, kNameLen);
    d.Add(static_cast<uint8_t>(plu.vat));
    d.Add(static_cast<uint8_t>(plu.dept));
    d.Add(static_cast<uint8_t>(plu.byte21));
    d.Add(static_cast<uint8_t>(plu.unit));
    d.Add(static_cast<uint8_t>(plu.byte23));
    d += BarcodeBytes(code);
    d += Le32Bytes(price);
    d.Add(static_cast<uint8_t>(plu.byte34));
    return d;
}

int CSystem600::WritePlu(const ElzabPlu& plu, bool updateMode) {
    m_nError = 0;
    uint64_t code = 0;
    BarcodeToNumber(plu.barcode, code);
    uint32_t price = 0;
    PriceToWire(plu.price, price);

    if (updateMode) {
        CChrArr d = ElzabWord(plu.number);
        d.Add(static_cast<uint8_t>(plu.dept));
        d.Add(static_cast<uint8_t>(plu.unit));
        d += BarcodeBytes(code);
        d += Le32Bytes(price);
        if (!Exchange(kUpdatePlu, d, nullptr, -1)) return 0;
        return ReadStatusByte(false);
    }

    if (UsesBlockWrite(m_nModel)) {
        // ESC, the command and the data leave as one block.
        CChrArr block;
        block.Add(kEsc);
        block.Add(kWritePluBlock);
        block += PluData(plu);
        if (!m_pSerial) {
            m_nError = -3;
            return 0;
        }
        if (!DropStaleInput() || !WriteBytes(block)) return 0;
        if (!ExpectAck()) return 0;
        if (!ReadStatusByte(false)) return 0;
        if (!HasLongNames(m_nModel)) return 1;
        CChrArr name = NameField(plu.name, 2 * kLongNamePart);
        CChrArr second;
        second.Add(kEsc);
        second.Add(kLongName);
        second.Add(0x01);
        second += ElzabWord(plu.number);
        second += name.Mid(kLongNamePart, kLongNamePart);
        if (!DropStaleInput() || !WriteBytes(second)) return 0;
        if (!ExpectAck()) return 0;
        return ReadStatusByte(false);
    }

    if (UsesShortWrite(m_nModel)) {
        CChrArr pre;
        if (!Exchange(kPreShortWrite, CChrArr(), &pre, 3)) return 0;
        uint32_t unit = plu.unit == 0 ? 1 : plu.unit;
        CChrArr d = ElzabWord(plu.number);
        d += NameField(plu.name, kShortWriteNameLen);
        CChrArr bc = BarcodeBytes(code);
        d += bc.Left(5);
        d.Add(static_cast<uint8_t>((((unit - 1) & 0x0F) << 4) | ((code >> 40) & 0x0F)));
        d += Le32Bytes(price);
        if (!SendCommand(kWritePluShort)) return 0;
        if (!WriteBytes(d)) return 0;
        // No ACK here: the status byte follows the data directly.
        return ReadStatusByte(false);
    }

    if (!Exchange(kWritePlu, PluData(plu), nullptr, -1)) return 0;
    return ReadStatusByte(false);
}

int CSystem600::WriteBarcode(const ElzabPlu& plu) {
    uint64_t code = 0;
    BarcodeToNumber(plu.barcode, code);
    CChrArr d;
    d.Add(static_cast<uint8_t>((plu.number >> 8) & 0xFF));
    d.Add(static_cast<uint8_t>(plu.number & 0xFF));
    d += BarcodeBytes(code);
    if (!Exchange(kWriteBarcode, d, nullptr, -1)) return 0;
    return ReadStatusByte(false);
}

int CSystem600::DeletePlu(uint32_t number) {
    if (!Exchange(kDeletePlu, ElzabWord(number), nullptr, -1)) return 0;
    return ReadStatusByte(false);
}

int CSystem600::WriteDept(uint32_t number, const char* name) {
    CChrArr d;
    d.Add(static_cast<uint8_t>(number));
    d += NameField(name, kNameLen);
    if (!Exchange(kWriteDept, d, nullptr, -1)) return 0;
    return ReadStatusByte(false);
}

int CSystem600::ReadDept(uint32_t number, std::string& name) {
    name.clear();
    CChrArr d;
    d.Add(static_cast<uint8_t>(number));
    if (!Exchange(kReadDept, d, nullptr, -1)) return 0;
    if (!ReadStatusByte(true)) return 0;
    CChrArr r;
    if (!ReadReply(kNameLen, r)) return 0;
    name = NameFromWire(r);
    return 1;
}

int CSystem600::WriteUnit(uint32_t number, const char* name) {
    CChrArr d;
    d.Add(static_cast<uint8_t>(number));
    d += NameField(name, kUnitNameLen);
    if (!Exchange(kWriteUnit, d, nullptr, -1)) return 0;
    return ReadStatusByte(false);
}

int CSystem600::ReadUnits(std::string names[16]) {
    CChrArr r;
    if (!Exchange(kReadUnits, CChrArr(), &r, 16 * kUnitNameLen)) return 0;
    for (int i = 0; i < 16; ++i) names[i] = NameFromWire(r.Mid(i * kUnitNameLen, kUnitNameLen));
    return 1;
}

int CSystem600::ReadPluSaleCounter(uint32_t number, ElzabSale& sale) {
    sale = ElzabSale();
    if (!Exchange(kReadSaleCounter, ElzabWord(number), nullptr, -1)) return 0;
    if (!ReadStatusByte(true)) return 0;
    CChrArr r;
    if (!ReadReply(9, r)) return 0;
    sale.plu = number;
    sale.quantityRaw = static_cast<int32_t>(Le32(r, 0));
    sale.decimals = r[4];
    sale.valueRaw = static_cast<int32_t>(Le32(r, 5));
    sale.quantity = QuantityFromWire(sale.quantityRaw, sale.decimals);
    sale.value = sale.valueRaw / 100.0;
    return 1;
}

// PLU number 2 bytes high byte first, quantity 4, decimals 1, value 4;
// the long records add the unit price 4 and the VAT group 1.
ElzabSale CSystem600::ParseSale(const CChrArr& rec) {
    ElzabSale s;
    s.plu = (static_cast<uint32_t>(rec[0]) << 8) | rec[1];
    s.quantityRaw = static_cast<int32_t>(Le32(rec, 2));
    s.decimals = rec[6];
    s.valueRaw = static_cast<int32_t>(Le32(rec, 7));
    s.quantity = QuantityFromWire(s.quantityRaw, s.decimals);
    s.value = s.valueRaw / 100.0;
    if (rec.GetLength() >= kSale3RecordLen) {
        s.hasPrice = true;
        s.priceRaw = Le32(rec, 11);
        s.vat = rec[15];
    }
    return s;
}

int CSystem600::ReadStream(int recordLen, const SaleFn& fn) {
    for (int n = 0; n < kMaxStreamRecords; ++n) {
        CChrArr first;
        if (!ReadReply(1, first)) return 0;
        if (first[0] == 0xFF) return 1;
        CChrArr rest;
        if (!ReadReply(recordLen - 1, rest)) return 0;
        if (fn) fn(ParseSale(first + rest));
    }
    m_nError = 9999;   // a stream without end
    return 0;
}

int CSystem600::ReadPluSales(const SaleFn& fn) {
    for (uint8_t pass = 0; pass < 4; ++pass) {
        CChrArr d;
        d.Add(pass);
        if (!Exchange(kReadSales, d, nullptr, -1)) return 0;
        if (!ReadStatusByte(false)) return 0;
        if (!ReadStream(kSaleRecordLen, fn)) return 0;
    }
    return 1;
}

int CSystem600::ReadPluSales2(const SaleFn& fn) {
    for (uint8_t cmd : {kReadSales2a, kReadSales2b}) {
        if (!Exchange(cmd, CChrArr(), nullptr, -1)) return 0;
        if (!ReadStream(kSaleRecordLen, fn)) return 0;
    }
    return 1;
}

int CSystem600::ReadPluSales3(const SaleFn& fn) {
    for (uint8_t cmd : {kReadSales3a, kReadSales3b}) {
        if (!Exchange(cmd, CChrArr(), nullptr, -1)) return 0;
        if (!ReadStream(kSale3RecordLen, fn)) return 0;
    }
    return 1;
}

int CSystem600::ClearSaleCounters() {
    if (!Exchange(kClearSales, CChrArr(), nullptr, -1)) return 0;
    CChrArr confirm;
    confirm.Add(kAck);
    return WriteBytes(confirm);
}

// -------------------------------------------------------------- tables ----

uint32_t CSystem600::PluCapacity(uint32_t model) {
    if (InList(model, {2, 7, 10, 17, 19, 32})) return 2047;
    if (InList(model, {3, 6, 9})) return 1279;
    if (InList(model, {4, 12, 20})) return 9983;
    if (InList(model, {5, 14, 16, 25, 34})) return 20479;
    if (InList(model, {8, 11, 18, 30})) return 4095;
    if (InList(model, {13, 15})) return 10239;
    if (model == 21) return 28671;
    if (InList(model, {22, 27})) return 61439;
    if (model == 23) return 511;
    if (model == 26) return 40959;
    if (model == 28) return 16383;
    if (model == 29) return 8191;
    if (model == 33) return 3017;
    if (model == 35) return 3000;
    return 6143;
}

uint32_t CSystem600::DeptCapacity(uint32_t model) {
    if ((model >= 13 && model <= 16) || (model >= 24 && model <= 31) || model == 33 || model == 34) return 99;
    return 16;
}

bool CSystem600::HasLongNames(uint32_t model) { return model == 28 || (model >= 30 && model <= 34); }
bool CSystem600::UsesBlockWrite(uint32_t model) { return model == 17 || model == 18 || HasLongNames(model); }
bool CSystem600::UsesShortWrite(uint32_t model) { return model == 21 || model == 22; }
bool CSystem600::HasShortVatReply(uint32_t model) { return InList(model, {1, 2, 3, 4, 5, 8, 10, 13}); }

// --------------------------------------------------------- conversions ----

bool CSystem600::BarcodeToNumber(const char* text, uint64_t& value) {
    value = 0;
    if (!text) return true;
    int digits = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 13) return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    return true;
}

CChrArr CSystem600::BarcodeBytes(uint64_t value) {
    CChrArr out;
    for (int i = 0; i < 6; ++i) out.Add(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

std::string CSystem600::BarcodeText(const CChrArr& six) {
    uint64_t v = 0;
    for (int i = six.GetLength() - 1; i >= 0; --i) v = (v << 8) | six[i];
    if (v == 0) return std::string();
    return std::to_string(v);
}

bool CSystem600::PriceToWire(double price, uint32_t& value) {
    value = 0;
    if (!std::isfinite(price) || price < 0.0) return false;
    double v = std::trunc(price * 100.0 + 0.1);
    if (v > 2147483647.0) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

CChrArr CSystem600::NameField(const char* name, int width) {
    return ChrPadRight(Cp1250ToCp852(CChrArr(name)), width, ' ');
}

std::string CSystem600::NameFromWire(const CChrArr& bytes) {
    CChrArr t = Cp852ToCp1250(bytes);
    int n = t.Find(0);
    if (n >= 0) t = t.Left(n);
    return t.ToString();
}

double CSystem600::QuantityFromWire(int32_t raw, uint8_t decimals) {
    switch (decimals) {
    case 1: return raw / 10.0;
    case 2: return raw / 100.0;
    case 3: return raw / 1000.0;
    default: return raw;
    }
}
