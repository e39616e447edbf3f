#include "drivers/optimus/coptimus.h"

#include "drivers/common/english_errors.h"

namespace {
constexpr RecordLinkTraits kOptimusTraits{7, 'E', true, true, 10, true};
}

COptimus::COptimus() : CRecordLink(kOptimusTraits) {}

std::string COptimus::GetErrorText(int code) {
    switch (code) {
    case 16: return "<Be issuing X-report>!?";
    case 1010: return "<Not found the PLU> !?";
    case 21: return "<SLAVE ECR> error !?";
    case 31: return "<PRINTER is busy> !?";
    case 32: return "<PRINTER is error> !?";
    default: break;
    }
    if (const char* text = EnglishErrorText(code)) return std::string(text) + " !?";
    return CTelepathyECR::GetErrorText(code);
}

int COptimus::ParseVatFlags(const CChrArr& field, int32_t& vat, uint32_t flags[6]) {
    auto two = [&](int pos, int& v) {
        const uint8_t a = field[pos], b = field[pos + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9') return false;
        v = (a - '0') * 10 + (b - '0');
        return true;
    };
    int v = 0, a = 0, b = 0;
    if (field.GetLength() != 6 || !two(0, v) || !two(2, a) || !two(4, b) || v > 8) {
        m_nError = 103;
        return 0;
    }
    if (m_nVariant == 1) {
        // The value is one bit per group, group 1 the highest.
        switch (v) {
        case 0: vat = -1; break;
        case 1: vat = 4; break;
        case 2: vat = 3; break;
        case 4: vat = 2; break;
        case 8: vat = 1; break;
        default: m_nError = 103; return 0;
        }
    } else {
        vat = v == 0 ? -1 : v;
    }
    flags[0] = (a >> 3) & 1;
    flags[1] = (a & 1) == 0 ? 1 : 0;
    flags[2] = (b >> 3) & 1;
    flags[3] = (b >> 2) & 1;
    flags[4] = (b & 2) == 0 ? 1 : 0;
    flags[5] = b & 1;
    return 1;
}

int COptimus::ReadDeviceError(int& code) { return ReadStatusFrame(code); }

int COptimus::Recover(const CChrArr&) {
    if (!DrainAndFlush()) return 0;
    for (int round = 0; round < kReadyRounds; ++round) {
        if (Aborted() || !SendByte(ENQ)) return 0;
        const int b = ReadByte();
        if (m_nError == -7) return 0;
        if (b == ACK) return 1;   // the frame goes again
        if (b == DLE) return HandleDle() ? 2 : 0;
        const int code = m_nError != 0 ? m_nError : 999;
        Notify(6, GetErrorText(code), 0, code);
    }
    if (Aborted()) return 0;
    if (SendEOT() && ReadEOT()) m_nError = 999;
    if (m_nError == 0) m_nError = 999;
    return 0;
}
