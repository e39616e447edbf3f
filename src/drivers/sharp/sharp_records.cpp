#include "drivers/sharp/sharp_records.h"

#include <algorithm>
#include <cstring>

#include "comm/telepathy_ecr.h"
#include "util/cp1250.h"

namespace {

// Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł ń ó ś ź ż in CP1250 and on the register.
constexpr uint8_t kCp1250Letters[18] = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF,
                                        0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
constexpr uint8_t kDeviceLetters[18] = {0xC4, 0xC5, 0xC7, 0xCA, 0xCC, 0xC6, 0xCB, 0xC9, 0xC8,
                                        0xCD, 0xCE, 0xD0, 0xD3, 0xD5, 0xCF, 0xD4, 0xD2, 0xD1};

struct LetterMap {
    uint8_t map[256];
    LetterMap(const uint8_t* from, const uint8_t* to) {
        for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
        for (int i = 0; i < 18; ++i) map[from[i]] = to[i];
    }
    CChrArr Apply(const CChrArr& text) const {
        CChrArr out = text;
        for (int i = 0; i < out.GetLength(); ++i) out[i] = map[out[i]];
        return out;
    }
};

const char* RegisterText(int n) {
    switch (n) {
    case 0: return "Normal END";
    case 101: return "Data check ERROR;Command Field ERROR";
    case 104: return "Data check ERROR;Received FDS packet size ERROR";
    case 105: return "Data check ERROR;Received data packet size ERROR";
    case 106: return "Data check ERROR;Unknown text data was received";
    case 107: return "Data check ERROR;File type ERROR";
    case 110: return "Data check ERROR;Undefined file (or RAM table No.) was received";
    case 300: return "RS232 transmission protocol ERROR";
    case 401: return "Command error";
    case 402: return "Specified file did not exist";
    case 403: return "Specified block did not exist";
    case 404: return "Specified record did not exist";
    case 405: return "File full";
    case 406: return "File type error";
    case 407: return "Area over";
    case 411: return "File creation/delete ERROR";
    case 603: return "Parameter error;The contents of parameter 3 was wrong";
    case 701: return "Condition ERROR;NON-RESET error";
    default: return nullptr;
    }
}

char PrefixDigit(const SharpTraits& traits, int length) {
    if (traits.prefixes == SharpPrefixTable::First) {
        switch (length) {
        case 6: return '5';
        case 8: return '1';
        case 12: return '4';
        default: return '0';
        }
    }
    switch (length) {
    case 6: return '6';
    case 8: return '2';
    case 12: return '5';
    case 13: return '1';
    default: return '0';
    }
}

// The length of the code behind a prefix digit (13 for any other digit).
int CodeLength(const SharpTraits& traits, uint8_t digit) {
    const int lengths[] = {6, 8, 12};
    for (int length : lengths)
        if (digit == static_cast<uint8_t>(PrefixDigit(traits, length))) return length;
    return 13;
}

}  // namespace

std::string SharpErrorText(int code) {
    switch (code) {
    case kSharpBadNumber: return PL("Błędny numer towaru");
    case kSharpBadCode: return PL("Za duży kod kreskowy");
    case kSharpBadDept: return PL("Błędny numer działu");
    default: break;
    }
    if (code == 0) return RegisterText(0);
    if (code > kSharpDeviceBase) {
        if (const char* text = RegisterText(code - kSharpDeviceBase)) return text;
    }
    CTelepathyECR common;
    return common.GetErrorText(code);
}

CChrArr SharpCp1250ToDevice(const CChrArr& text) {
    static const LetterMap map(kCp1250Letters, kDeviceLetters);
    return map.Apply(text);
}

CChrArr SharpDeviceToCp1250(const CChrArr& text) {
    static const LetterMap map(kDeviceLetters, kCp1250Letters);
    return map.Apply(text);
}

CChrArr SharpTextToHex(const CChrArr& text) {
    CChrArr out;
    for (int i = 0; i < text.GetLength(); ++i) out += NumToText(text[i], 2, '0', 16);
    return out;
}

CChrArr SharpHexToText(const CChrArr& hex) {
    const int n = hex.GetLength();
    if (n < 2 || n % 2 != 0) return CChrArr();
    CChrArr out;
    for (int i = 0; i < n; i += 2) {
        const int byte = HexByte(hex, i);
        if (byte < 0) return CChrArr();
        out += static_cast<uint8_t>(byte);
    }
    return out;
}

int SharpNormaliseBarcode(const SharpTraits& traits, const CChrArr& code, CChrArr& key, int& error) {
    const CChrArr trimmed = ChrTrim(code, ' ');
    key = trimmed;
    const int length = trimmed.GetLength();
    // Keys go out as they are on a 7-bit line: printable ASCII only.
    bool printable = true;
    for (int i = 0; i < length; ++i)
        if (trimmed[i] < 0x20 || trimmed[i] > 0x7E) printable = false;
    if (length < 1 || length > 13 || !printable) {
        error = kSharpBadCode;
        return 0;
    }
    key = CChrArr(traits.barcodeZeros ? "00" : "");
    key += static_cast<uint8_t>(PrefixDigit(traits, length));
    key += ChrPadLeft(trimmed, 13, '0');
    return 1;
}

int SharpDecodeBarcode(const SharpTraits& traits, const CChrArr& key, CChrArr& code, int& error) {
    CChrArr trimmed = ChrTrim(key, ' ');
    code.RemoveAll();
    if (trimmed.GetLength() != traits.BarcodeKeyChars()) {
        error = kSharpBadCode;
        return 0;
    }
    if (traits.barcodeZeros) trimmed = trimmed.Mid(2);
    code = trimmed.Right(CodeLength(traits, trimmed[0]));
    return 1;
}

CChrArr SharpRowText(const char* text, size_t cap) {
    return CChrArr(reinterpret_cast<const uint8_t*>(text), strnlen(text, cap));
}

