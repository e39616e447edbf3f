#include "drivers/dibal/cdibal.h"

#include <cmath>
#include <cstring>

#include "drivers/common/english_errors.h"
#include "drivers/common/record_fields.h"
#include "drivers/common/scale_records.h"

namespace {

constexpr int kAttempts = 3;          // sends of a frame, reads of a record
constexpr int kEnquiries = 5;
constexpr int kPolls = 7;
constexpr double kPollPause = 3.0;    // seconds between unanswered polls

CChrArr Digits(uint32_t v, int width) { return NumToText(v, width, '0', 10); }

// A host text as it goes into a record: at most `cap` bytes up to its
// terminator, control bytes as blanks (an ETX would end the frame).
CChrArr RecordText(const char* text, size_t cap) {
    CChrArr s(reinterpret_cast<const uint8_t*>(text), strnlen(text, cap));
    for (int i = 0; i < s.GetLength(); ++i)
        if (s[i] < 0x20) s[i] = ' ';
    return s;
}

// A number field of a read record; false when it holds a negative number
// (read unsigned, "-00012" would become 4294967284, a number the scale never
// held).
bool Number(const CChrArr& record, int pos, int len, uint32_t& out) {
    const int64_t value = StrToNum(ChrMid(record, pos, len), 10, 1);
    out = static_cast<uint32_t>(value < 0 ? 0 : value);
    return value >= 0;
}

}  // namespace

CDibal::CDibal() {
    m_nWait = 20;
    m_address = 1;
    m_modeFlag = 0;
}

CDibal::~CDibal() = default;

std::string CDibal::GetErrorText(int code) {
    if (const char* text = EnglishErrorText(code)) return text;
    return CTelepathyECR::GetErrorText(code);
}

int CDibal::Open(int port, int baud, int address) {
    m_nError = 0;
    // The addressed transfer sends the address as two digits, and the poll
    // names address + 1.
    if (m_modeFlag != 1 && (address < 0 || address > 98)) {
        m_nError = DIBAL_ERR_ADDRESS;
        return 0;
    }
    if (m_pSerial == nullptr) {
        m_nError = -3;
        return 0;
    }
    m_nPort = port;
    m_address = address;
    const int r = m_pSerial->Open(port, 1024, 1024, baud, 8, m_modeFlag == 1 ? 'N' : 'E', 1);
    if (r != 0) {
        m_nError = r;
        return 0;
    }
    m_pSerial->FlushOutput(port);
    m_nError = m_pSerial->GetError(port);
    m_pSerial->FlushInput(port);
    if (m_nError != 0) {
        m_pSerial->Close(port, 0);
        return 0;
    }
    return 1;
}

// ------------------------------------------------------------------ texts

CChrArr CDibal::ToDeviceText(const CChrArr& s) { return Cp1250ToCp852(s); }
CChrArr CDibal::FromDeviceText(const CChrArr& s) { return Cp852ToCp1250(s); }

uint8_t CDibal::CalcChecksum(const CChrArr& bytes) {
    uint8_t x = 0;
    for (int i = 0; i < bytes.GetLength(); ++i) x ^= bytes[i];
    return x;
}

CChrArr CDibal::ControlRecord(const char* text) { return ChrPadRight(CChrArr(text), kDibalRecordLength, ' '); }

CChrArr CDibal::DateField(const char* date) {
    CChrArr d = RecordText(date, 15);
    if (d.GetLength() != 8) return CChrArr("000000");
    if (d[0] == ' ') d.SetAt(0, '0');
    CChrArr out = ChrMid(d, 1, 2) + ChrMid(d, 4, 2) + ChrMid(d, 7, 2);
    for (int i = 0; i < out.GetLength(); ++i)
        if (out[i] < '0' || out[i] > '9') return CChrArr("000000");
    return out;
}

CChrArr CDibal::PrepareText(const char* text) {
    const CChrArr src = RecordText(text, 48);
    CChrArr copy;
    const int len = src.GetLength();
    int pos = 0;
    while (pos < len) {
        if (src[pos] == '|') {
            copy += static_cast<uint8_t>(' ');
            if (pos + 1 < len) copy += src[pos + 1];
            pos += 2;
        } else {
            copy += src.Mid(pos, 4);
            pos += 4;
        }
    }
    return ChrPadRight(ToDeviceText(copy), 48, ' ');
}

// ---------------------------------------------------------------- records

int CDibal::BuildItemRecord(const DibalItem& item, CChrArr& out) {
    out.RemoveAll();
    if (item.plu < 1 || item.plu > GetMaxPLU()) {
        m_nError = DIBAL_ERR_PLU_RANGE;
        return 0;
    }
    uint32_t price = 0;
    if (!ScaleHundredths(item.price, price)) {
        m_nError = DIBAL_ERR_PRICE_RANGE;
        return 0;
    }
    // The amount field holds five digits of thousandths.
    const double thousandths = item.amount >= 0.0 ? std::trunc(item.amount * 1000.0 + 0.1) : -1.0;
    if (!(thousandths >= 0.0 && thousandths <= 99999.0)) {
        m_nError = DIBAL_ERR_NO_ANSWER;
        return 0;
    }
    CChrArr r("X1");
    r += "00";
    r += "M";
    r += Digits(item.plu, 6);
    r += Digits(item.code3, 3);
    r += ChrPadRight(ToDeviceText(RecordText(item.name, 24)), 24, ' ');
    r += ChrSpaces(24);
    r += Digits(price, 6);
    r += "000000000000";
    r += item.flag == 1 ? "0" : "1";
    r += DateField(item.date1);
    r += DateField(item.date2);
    r += Digits(static_cast<uint32_t>(thousandths), 5);
    r += Digits(item.code2, 2);
    r += "000000";
    r += Digits(item.department, 4);
    r += Digits(item.vatGroup, 2);
    r += "0";
    r += "0000";
    r += "00000000000";
    if (r.GetLength() != kDibalRecordLength) {
        m_nError = DIBAL_ERR_NO_ANSWER;
        return 0;
    }
    out = r;
    return 1;
}

int CDibal::BuildTextRecord(const DibalItem& item, CChrArr& out) {
    out.RemoveAll();
    if (item.plu < 1 || item.plu > GetMaxPLU()) {
        m_nError = DIBAL_ERR_PLU_RANGE;
        return 0;
    }
    CChrArr r("X2");
    r += "00";
    r += Digits(item.plu, 6);
    r += "1";
    r += PrepareText(item.text1);
    r += Digits(item.plu, 6);
    r += "2";
    r += PrepareText(item.text2);
    r = ChrPadRight(r, kDibalRecordLength, ' ');
    if (r.GetLength() != kDibalRecordLength) {
        m_nError = DIBAL_ERR_NO_ANSWER;
        return 0;
    }
    out = r;
    return 1;
}

int CDibal::ParseItemRecord(const CChrArr& record, DibalItem& out) {
    std::memset(&out, 0, sizeof out);
    if (record.GetLength() != kDibalRecordLength || record[0] != 'X' || record[1] != '1') {
        m_nError = DIBAL_ERR_NO_ANSWER;
        return 0;
    }
    uint32_t price = 0, amount = 0;
    if (!Number(record, 6, 6, out.plu) || !Number(record, 12, 3, out.code3) || !Number(record, 63, 6, price) ||
        !Number(record, 94, 5, amount) || !Number(record, 99, 2, out.code2) ||
        !Number(record, 107, 4, out.department) || !Number(record, 111, 2, out.vatGroup)) {
        std::memset(&out, 0, sizeof out);
        m_nError = DIBAL_ERR_NO_ANSWER;
        return 0;
    }
    CopyTextField(out.name, FromDeviceText(ChrMid(record, 15, 24)));
    out.price = static_cast<double>(price) / 100.0;
    out.flag = record[80] == '0' ? 1 : 2;
    auto date = [&](int pos) {
        return ChrMid(record, pos, 2) + "." + ChrMid(record, pos + 2, 2) + "." + ChrMid(record, pos + 4, 2);
    };
    CopyTextField(out.date1, date(82));
    CopyTextField(out.date2, date(88));
    out.amount = static_cast<double>(amount) / 1000.0;
    return 1;
}

// ------------------------------------------------------------------- link

int CDibal::SendBytes(const CChrArr& bytes) {
    if (bytes.IsEmpty()) return 1;
    DumpSent(bytes);
    if (SendAll(bytes)) return 1;
    if (m_nError == 999999) m_nError = DIBAL_ERR_SHORT_WRITE;
    return 0;
}

int CDibal::ReadByte() {
    const CChrArr b = m_pSerial->Read(m_nPort, 1, 5);
    if (!b.IsEmpty()) {
        DumpReceived(b);
        return b[0];
    }
    const int code = m_pSerial->GetError(m_nPort);
    if (code != 0 && code != -5) m_nError = code;
    return -1;
}

int CDibal::WaitDrained() {
    const int code = m_pSerial->WaitOutputDrained(m_nPort, 5);
    if (code != 0) {
        m_nError = code;
        m_pSerial->FlushOutput(m_nPort);
        return 0;
    }
    return 1;
}

CChrArr CDibal::PlainFrame(const CChrArr& payload) {
    const CChrArr body = payload + ETX;
    return STX + body + CalcChecksum(body);
}

CChrArr CDibal::AddressedFrame(const CChrArr& payload) const {
    return SOH + Digits(static_cast<uint32_t>(m_address), 2) + "80" + PlainFrame(payload);
}

CChrArr CDibal::PollBytes() const { return EOT + Digits(static_cast<uint32_t>(m_address + 1), 2) + BEL; }

int CDibal::SendFrame(const CChrArr& payload) {
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    const CChrArr frame = PlainFrame(payload);
    for (int send = 0; send < kAttempts; ++send) {
        if (!SendBytes(frame)) return 0;
        const int b = ReadByte();
        if (b == ACK) return 1;
        if (TransportFailed()) return 0;
        if (b != NAK) break;
    }
    m_nError = DIBAL_ERR_NO_ANSWER;
    return 0;
}

int CDibal::SendAddressedFrame(const CChrArr& payload) {
    m_pSerial->FlushOutput(m_nPort);
    m_pSerial->FlushInput(m_nPort);
    const CChrArr frame = AddressedFrame(payload);
    for (int send = 0; send < kAttempts; ++send) {
        if (!SendBytes(frame)) return 0;
        const int b = ReadByte();
        if (b == ACK) return 1;
        if (TransportFailed()) return 0;
        if (b == NAK) continue;
        if (Enquire()) return 1;
        if (TransportFailed()) return 0;
        break;
    }
    SendEot();
    if (!TransportFailed()) m_nError = DIBAL_ERR_NO_ANSWER;
    return 0;
}

int CDibal::Enquire() {
    if (!WaitDrained()) return 0;
    m_pSerial->FlushInput(m_nPort);
    for (int i = 0; i < kEnquiries; ++i) {
        if (!SendBytes(CChrArr(1, ENQ))) return 0;
        const int b = ReadByte();
        if (b == ACK) return 1;
        if (TransportFailed()) return 0;
    }
    return 0;
}

int CDibal::Poll() {
    if (!WaitDrained()) return 0;
    m_pSerial->FlushInput(m_nPort);
    const CChrArr poll = PollBytes();
    for (int i = 0; i < kPolls; ++i) {
        if (!SendBytes(poll)) return 0;
        const int b = ReadByte();
        if (b == BEL) return 1;
        if (TransportFailed()) return 0;
        if (b == ACK || b == NAK) {
            // The scale refuses the link: end it, and the item fails.
            if (!SendEot()) return 0;
            m_nError = DIBAL_ERR_NO_ANSWER;
            return 0;
        }
        if (i + 1 < kPolls && m_pSerial->Delay(kPollPause) == -7) {
            m_nError = -7;
            return 0;
        }
    }
    m_nError = DIBAL_ERR_NO_ANSWER;
    return 0;
}

int CDibal::SendEot() { return SendBytes(CChrArr(1, EOT)); }

int CDibal::ReadRecord(CChrArr& record) {
    record.RemoveAll();
    bool badFrame = false;    // a record frame came but could not be taken
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int b = ReadByte();
        if (b < 0) {
            if (!TransportFailed() && badFrame) m_nError = DIBAL_ERR_NO_ANSWER;
            return 0;
        }
        if (b == STX) {
            const CChrArr body = m_pSerial->ReadUntil(m_nPort, ETX, kDibalRecordLength + 1, 1);
            const int code = m_pSerial->GetError(m_nPort);
            if (code == -7 || code == -6) {
                m_nError = code;
                return 0;
            }
            if (!body.IsEmpty()) DumpReceived(body);
            if (body.GetLength() == kDibalRecordLength + 1 && body[kDibalRecordLength] == ETX) {
                const int check = ReadByte();
                if (TransportFailed()) return 0;
                if (check >= 0 && static_cast<uint8_t>(check) == CalcChecksum(body)) {
                    if (!SendBytes(CChrArr(1, ACK))) return 0;
                    record = body.Left(kDibalRecordLength);
                    return 1;
                }
            }
            badFrame = true;
        }
        m_pSerial->FlushInput(m_nPort);
        if (!SendBytes(CChrArr(1, NAK))) return 0;
    }
    if (badFrame) m_nError = DIBAL_ERR_NO_ANSWER;
    return 0;
}

// ------------------------------------------------------------------- jobs

int CDibal::SendItems(const std::function<int(DibalItem&)>& next, const std::function<void()>& failed) {
    m_nError = 0;
    if (!SendFrame(ControlRecord("KB000201"))) return 0;

    int lastFailure = 0;
    int sent = 0;
    int silentRun = 0;          // items in a row whose record got no answer
    bool stopped = false;       // the items end: every later one is reported
    DibalItem item;
    for (;;) {
        std::memset(&item, 0, sizeof item);
        if (next(item) != 1) break;
        if (stopped) {
            m_nError = lastFailure;
            failed();
            continue;
        }
        CChrArr x1, x2;
        if (!BuildItemRecord(item, x1)) {
            lastFailure = m_nError;
            failed();
            continue;
        }
        BuildTextRecord(item, x2);
        m_nError = 0;
        if (!SendFrame(x1)) {
            if (m_nError == -7) return 0;
            lastFailure = m_nError;
            stopped = true;
            failed();
            continue;
        }
        if (!SendFrame(x2)) {
            if (m_nError == -7) return 0;
            lastFailure = m_nError;
            failed();
            const bool silent = m_nError == DIBAL_ERR_NO_ANSWER || (m_nError <= -1 && m_nError >= -10);
            silentRun = silent ? silentRun + 1 : 0;
            // A scale that stopped answering gets nothing more.
            if (silentRun >= 3) stopped = true;
            continue;
        }
        silentRun = 0;
        ++sent;
        Notify(5, std::string(item.name), (sent / 10) % 100, 0);
    }

    m_nError = 0;
    if (!SendFrame(ControlRecord("KB000203"))) return 0;
    if (lastFailure != 0) {
        m_nError = lastFailure;
        return 0;
    }
    return 1;
}

int CDibal::SendItem(const DibalItem& item) {
    m_nError = 0;
    CChrArr x1;
    if (!BuildItemRecord(item, x1)) return 0;
    if (!Poll()) return 0;
    if (!SendAddressedFrame(x1)) return 0;
    return SendEot();
}

int CDibal::ReadRegisters(const std::function<void(const DibalItem&)>& deliver) {
    m_nError = 0;
    if (!SendFrame(ControlRecord("KB000202"))) return 0;
    int count = 0;
    CChrArr record;
    while (ReadRecord(record)) {
        if (record[0] == 'X' && record[1] == '1') {
            DibalItem item;
            if (ParseItemRecord(record, item)) {
                ++count;
                Notify(5, std::string(item.name), (count / 10) % 100, 0);
                deliver(item);
            } else {
                m_nError = 0;   // a record left out is no failure of the read
            }
        } else {
            Notify(5, "Rejestr - " + ChrMid(record, 1, 2).ToString(), 75, 0);
        }
    }
    return m_nError == 0 ? 1 : 0;
}
