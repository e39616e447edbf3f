#include "drivers/dsa/cdsp800.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drivers/common/record_fields.h"
#include "util/cp1250.h"

namespace {

constexpr DsaTraits kDsp800Traits{0, false, 9600, 8, 'N', false};
constexpr int kAttempts = 3;

// A right-aligned decimal field of a reply (leading blanks allowed): its
// value, or -1 when it holds anything else.
int64_t ReplyNumber(const CChrArr& field) {
    int64_t v = 0;
    bool digit = false;
    for (int i = 0; i < field.GetLength(); ++i) {
        const uint8_t c = field[i];
        if (c == ' ' && !digit) continue;
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
        digit = true;
    }
    return digit ? v : -1;
}

std::string CutTrailingBlanks(const CChrArr& bytes) {
    std::string s = bytes.ToString();
    size_t end = s.find_last_not_of(' ');
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}


}  // namespace

const char* ErrorTableDsp800(int code) { return code == 24 ? PL("Operacja nimożliwa") : ErrorTableB(code); }

CDsp800::CDsp800() : CDsaLink(kDsp800Traits) {}

std::string CDsp800::GetErrorText(int code) {
    if (code >= 500 && !(code >= 1001 && code <= 1255) && code != 9998)
        return "Velmorandi for Windows - xxx - Olfe v1.0";
    return LookupDeviceErrorText(ErrorTable(), code);
}

// ---------------------------------------------------------------- link

int CDsp800::SendCommand(uint8_t command, const CChrArr& data) {
    if (!MaySend()) return 0;
    int d = m_pSerial->WaitOutputDrained(m_nPort, 5);
    if (d != 0) {
        m_nError = d;
        return 0;
    }
    // Whatever stands in the input belongs to no request of ours.
    if (m_pSerial->GetInputCount(m_nPort) > 0) {
        if (Pause(0.1) != 0) return 0;
        m_pSerial->FlushInput(m_nPort);
    }
    CChrArr frame;
    frame += ESC;
    frame += command;
    frame += ' ';
    frame += data;
    frame += CR;
    DumpSent(frame);
    return WriteBytes(frame);
}

int CDsp800::ReadStatusByte() {
    CChrArr b = ReadBytes(1, 5);
    DumpReceived(b);
    if (b.GetLength() != 1) {
        int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : 9999;
        return -1;
    }
    return b[0];
}

int CDsp800::ReadDataReply(uint8_t kind, CChrArr& payload) {
    payload.RemoveAll();
    if (kind != '!' && kind != '?') {
        m_nError = 9999;
        return 0;
    }
    const int length = kind == '!' ? 25 : 45;
    CChrArr reply = ReadBytes(length, 5);
    DumpReceived(reply);
    if (reply.GetLength() != length) {
        int err = m_pSerial->GetError(m_nPort);
        m_nError = err < 0 ? err : 9999;
        return 0;
    }
    if (reply[0] != kind) {
        m_nError = 9999;
        return 0;
    }
    payload = reply.Mid(2, length - 3);
    return 1;
}

// ---------------------------------------------------------------- records

int CDsp800::BuildRecord(const Dsp800Item& item, CChrArr& data) {
    data.RemoveAll();
    if (item.number < 1 || item.number > kCapacity) {
        m_nError = 105;
        return 0;
    }
    uint64_t hundredths = 0;
    if (!ToWhole(item.price, 100.0, 999999.0, hundredths)) {
        m_nError = 109;
        return 0;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%3u", static_cast<unsigned>(item.number));
    data += text;
    data += ' ';
    data += ChrPadRight(Cp1250ToDsp800(HostText(item.name, sizeof item.name)), 20, ' ');
    data += ' ';
    std::snprintf(text, sizeof text, "%06llu", static_cast<unsigned long long>(hundredths));
    data += text;
    data += ' ';
    data += static_cast<uint8_t>(item.vat == 2 ? 'B' : 'A');
    data += ' ';
    data += ChrPadRight(HostText(item.code, sizeof item.code), 7, ' ');
    return 1;
}

int CDsp800::PgmPLU(const Dsp800Item& item) {
    m_nError = 0;
    CChrArr data;
    if (!BuildRecord(item, data)) return 0;
    for (int left = kAttempts; left > 0;) {
        if (!SendCommand('%', data)) return 0;
        const int status = ReadStatusByte();
        if (status == ACK) {
            m_nError = 0;
            return 1;
        }
        if (status == NAK) {
            if (--left == 0) m_nError = 24;
            if (Pause(0.1) != 0) return 0;
            continue;
        }
        // No byte keeps the transport's code; any other byte (0x00 too) is
        // no answer the register gives.
        if (status >= 0) m_nError = 9999;
        return 0;
    }
    return 0;
}

int CDsp800::ReadPLU(Dsp800Item& item) {
    m_nError = 0;
    if (item.number < 1 || item.number > kCapacity) {
        m_nError = 105;
        return 0;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(item.number));
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0 && Pause(0.1) != 0) return 0;
        if (!SendCommand('?', CChrArr(number))) return 0;
        CChrArr p;
        if (!ReadDataReply('?', p)) {
            if (m_nError == -7) return 0;
            continue;
        }
        // The reply must be the one for this item, with numeric fields.
        const int64_t got = ReplyNumber(ChrMid(p, 1, 3));
        const int64_t price = ReplyNumber(ChrMid(p, 26, 6));
        if (got != static_cast<int64_t>(item.number) || price < 0) {
            m_nError = 9999;
            continue;
        }
        Dsp800Item r;
        r.number = item.number;
        CopyString(r.name, sizeof r.name, CutTrailingBlanks(Dsp800ToCp1250(ChrMid(p, 5, 20))));
        r.price = static_cast<double>(price) / 100.0;
        r.vat = p[32] == 'B' ? 2 : 1;
        CopyString(r.code, sizeof r.code, CutTrailingBlanks(ChrMid(p, 35, 7)));
        item = r;
        m_nError = 0;
        return 1;
    }
    return 0;
}
