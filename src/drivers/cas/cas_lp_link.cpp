#include "drivers/cas/cas_lp_link.h"

#include <cmath>
#include <cstring>

#include "drivers/common/error_table_b.h"
#include "drivers/common/scale_records.h"

namespace {

constexpr int kIoSeconds = 5;
constexpr int kNameWidth = 28;
constexpr uint8_t kCr = 0x0D;

}  // namespace

CCasLpLink::CCasLpLink() {
    m_nWait = 1;
    m_nRetry = 5;
}

std::string CCasLpLink::GetErrorText(int code) { return ErrorTextB(code); }

CChrArr CCasLpLink::MapPolishLetters(const CChrArr& text) { return Cp1250ToAscii(text); }

CChrArr CCasLpLink::NameField(const std::string& name) {
    return ChrPadRight(MapPolishLetters(CChrArr(name)), kNameWidth, ' ');
}

uint32_t CCasLpLink::ItemCodeNumber(const std::string& code) {
    const CChrArr padded = ChrPadLeft(CChrArr(code), 6, '0');
    uint32_t n = 0;
    for (int i = 0; i < padded.GetLength(); ++i) {
        const uint8_t c = padded[i];
        if (c < '0' || c > '9') break;
        n = n * 10 + static_cast<uint32_t>(c - '0');
    }
    return n;
}

std::string CCasLpLink::ItemCodeText(uint32_t number) { return NumToText(number, 6, '0', 10).ToString(); }

int CCasLpLink::CheckFields(const CasLpPluRecord& r, int departmentBits, CasLpFields& out) {
    if (!ScaleHundredths(r.price, out.hundredths)) return CASLP_ERR_PRICE_RANGE;
    const double amount = r.amount >= 0.0 ? std::trunc(r.amount * 1000.0 + 0.1) : -1.0;   // NaN fails too
    if (!(amount >= 0.0 && amount <= 65535.0)) return CASLP_ERR_PRICE_RANGE;
    out.thousandths = static_cast<uint32_t>(amount);
    if (r.sellDate > 0xFFFFu || r.code > 0xFFFFu) return CASLP_ERR_BAD_ANSWER;
    if (r.department > (uint32_t{1} << departmentBits) - 1) return CASLP_ERR_BAD_ANSWER;
    out.itemCode = ItemCodeNumber(r.itemCode);
    return 0;
}

CChrArr CCasLpLink::BigEndian(uint32_t value, int bytes) {
    CChrArr out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<uint8_t>(value >> (8 * i));
    return out;
}

CChrArr CCasLpLink::LittleEndian(uint32_t value, int bytes) {
    CChrArr out;
    for (int i = 0; i < bytes; ++i) out += static_cast<uint8_t>(value >> (8 * i));
    return out;
}

uint32_t CCasLpLink::ReadBigEndian(const CChrArr& bytes, int at, int count) {
    uint32_t v = 0;
    for (int i = 0; i < count; ++i) v = (v << 8) | bytes[at + i];
    return v;
}

uint32_t CCasLpLink::ReadLittleEndian(const CChrArr& bytes, int at, int count) {
    uint32_t v = 0;
    for (int i = count - 1; i >= 0; --i) v = (v << 8) | bytes[at + i];
    return v;
}

std::string CCasLpLink::ReadName(const CChrArr& bytes, int at) {
    const std::string field(reinterpret_cast<const char*>(bytes.data()) + at, kNameWidth);
    return field.substr(0, strnlen(field.c_str(), field.size()));
}

int CCasLpLink::LineFailed() {
    const int code = m_pSerial ? m_pSerial->GetError(m_nPort) : 0;
    m_nError = code != 0 ? code : CASLP_ERR_BAD_ANSWER;
    return 0;
}

int CCasLpLink::WrongAnswer() {
    m_pSerial->MarkUnsettled(m_nPort);
    m_nError = CASLP_ERR_BAD_ANSWER;
    return 0;
}

int CCasLpLink::NotBroken() {
    if (!m_pSerial->IsAborted()) return 1;
    m_nError = -7;
    return 0;
}

void CCasLpLink::TakeBreak() {
    if (!m_holding || !m_pSerial->IsAborted()) return;
    m_breakCame = true;
    m_pSerial->ClearBreak();
}

int CCasLpLink::IoSeconds() const { return m_breakCame ? 1 : kIoSeconds; }

int CCasLpLink::RestOfCommand(const std::function<int()>& rest) {
    m_holding = true;
    m_breakCame = false;
    TakeBreak();
    const int r = rest();
    TakeBreak();
    m_holding = false;
    if (!m_breakCame) return r;
    m_breakCame = false;
    m_pSerial->Break();
    m_nError = -7;
    return 0;
}

int CCasLpLink::Send(const CChrArr& bytes) {
    DumpSent(bytes);
    TakeBreak();
    if (SendAll(bytes)) return 1;
    if (m_nError == -7 && m_holding) {
        // The break came while the bytes were leaving: they are let go.
        TakeBreak();
        m_nError = m_pSerial->WaitOutputDrained(m_nPort, kIoSeconds);
        if (m_nError == 0) return 1;
    }
    if (m_nError == 999999) m_nError = CASLP_ERR_BAD_ANSWER;   // fewer bytes written than asked
    return 0;
}

int CCasLpLink::ReadCount(int n, CChrArr& out) {
    TakeBreak();
    out = m_pSerial->Read(m_nPort, n, IoSeconds());
    if (m_holding && out.GetLength() < n && m_pSerial->GetError(m_nPort) == -7) {
        TakeBreak();   // a break in the middle of the answer: the rest is read all the same
        out += m_pSerial->Read(m_nPort, n - out.GetLength(), IoSeconds());
    }
    if (!out.IsEmpty()) DumpReceived(out);
    if (out.GetLength() != n) return LineFailed();
    return 1;
}

int CCasLpLink::ReadLine(int max, CChrArr& out) {
    TakeBreak();
    out = m_pSerial->ReadUntil(m_nPort, kCr, max, IoSeconds());
    if (m_holding && out.IsEmpty() && m_pSerial->GetError(m_nPort) == -7) {
        TakeBreak();
        out = m_pSerial->ReadUntil(m_nPort, kCr, max, IoSeconds());
    }
    if (!out.IsEmpty()) DumpReadUntil(out);
    if (out.IsEmpty() || out[out.GetLength() - 1] != kCr) return LineFailed();
    return 1;
}
