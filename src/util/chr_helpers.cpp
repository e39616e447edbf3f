// Free helpers over CChrArr: slices, padding, numbers and message boxes.
// Number formatting and parsing never depend on the process locale: a host
// may well run with a Polish LC_NUMERIC (decimal comma).
#include "util/chrarr.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/classic_locale.h"
#include "platform/message_hook.h"

namespace {

// pad bytes in front of text up to width; never cuts.
CChrArr PadFront(const std::string& text, int width, uint8_t pad) {
    const int missing = width - static_cast<int>(text.size());
    CChrArr r;
    if (missing > 0) r = CChrArr(missing, pad);
    r.Append(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return r;
}

bool IsSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Value of one digit in any base up to 36, or 99.
int DigitValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// v rounded to `decimals` places, ties away from zero, judged on the exact
// binary value. The exact decimal expansion of a double is finite, so the
// first dropped digit decides alone: 5 or more rounds the magnitude up.
std::string FixedExact(double v, int decimals) {
    if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";

    // 309 integer digits, 1074 fraction digits and a sign at most.
    static constexpr int kFractionDigits = 1074;
    std::array<char, 1500> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed,
                                   kFractionDigits);
    std::string exact(buf.data(), res.ptr);

    const bool negative = !exact.empty() && exact[0] == '-';
    std::string digits = negative ? exact.substr(1) : exact;
    const size_t point = digits.find('.');
    std::string intPart = digits.substr(0, point);
    std::string frac = point == std::string::npos ? std::string() : digits.substr(point + 1);
    if (frac.size() < static_cast<size_t>(decimals) + 1) frac.resize(static_cast<size_t>(decimals) + 1, '0');

    const bool roundUp = frac[static_cast<size_t>(decimals)] >= '5';
    std::string kept = intPart + frac.substr(0, static_cast<size_t>(decimals));
    if (roundUp) {
        size_t i = kept.size();
        while (i > 0) {
            --i;
            if (kept[i] == '9') {
                kept[i] = '0';
            } else {
                ++kept[i];
                break;
            }
            if (i == 0) kept.insert(kept.begin(), '1');
        }
    }
    const size_t intLen = kept.size() - static_cast<size_t>(decimals);
    std::string out = negative ? "-" : "";
    out += kept.substr(0, intLen);
    if (decimals > 0) {
        out += '.';
        out += kept.substr(intLen);
    }
    return out;
}

}  // namespace

CChrArr ChrMid(const CChrArr& s, int pos, int len) {
    if (pos < 1 || pos > s.GetLength() || len < 0) return CChrArr();
    return len == 0 ? s.Mid(pos - 1) : s.Mid(pos - 1, len);
}

CChrArr ChrRight(const CChrArr& s, int n) { return s.Right(n); }

CChrArr ChrPadLeft(const CChrArr& s, int width, uint8_t pad) {
    if (width <= 0) return CChrArr();
    if (s.GetLength() >= width) return s.Left(width);
    CChrArr r(width - s.GetLength(), pad);
    r += s;
    return r;
}

CChrArr ChrPadRight(const CChrArr& s, int width, uint8_t pad) {
    if (width <= 0) return CChrArr();
    if (s.GetLength() >= width) return s.Left(width);
    CChrArr r(s);
    r += CChrArr(width - s.GetLength(), pad);
    return r;
}

CChrArr ChrTrim(const CChrArr& s, uint8_t ch) {
    int first = 0;
    int last = s.GetLength();
    while (first < last && s[first] == ch) ++first;
    while (last > first && s[last - 1] == ch) --last;
    return s.Mid(first, last - first);
}

CChrArr ChrTrimLeft(const CChrArr& s) {
    int first = 0;
    while (first < s.GetLength() && s[first] == ' ') ++first;
    return s.Mid(first);
}

CChrArr ChrFill(uint8_t ch, int n) { return CChrArr(n, ch); }

CChrArr ChrSpaces(int n) { return CChrArr(n, ' '); }

CChrArr ChrRepeat(const CChrArr& s, int n) {
    CChrArr r;
    if (s.IsEmpty()) return r;
    for (int i = 0; i < n; ++i) r.Append(s.data(), s.bytes().size());
    return r;
}

CChrArr ChrReplace(const CChrArr& s, uint8_t from, uint8_t to) {
    CChrArr r(s);
    for (int i = 0; i < r.GetLength(); ++i) {
        if (r[i] == from) r[i] = to;
    }
    return r;
}

CChrArr ChrSetAt(const CChrArr& s, int pos, uint8_t ch) {
    CChrArr r(s);
    if (pos >= 1 && pos <= r.GetLength()) r[pos - 1] = ch;
    return r;
}

CChrArr ChrReverse(const CChrArr& s) {
    CChrArr r(s);
    r.Reverse();
    return r;
}

CChrArr ChrUpper(const CChrArr& s) {
    CChrArr r(s);
    for (int i = 0; i < r.GetLength(); ++i) {
        if (r[i] >= 'a' && r[i] <= 'z') r[i] = static_cast<uint8_t>(r[i] - 'a' + 'A');
    }
    return r;
}

int ChrIndexOf(const CChrArr& what, const CChrArr& s) {
    if (what.IsEmpty()) return 0;
    return s.Find(what[0]) + 1;
}

bool ChrIsAlpha(const CChrArr& s) {
    if (s.IsEmpty()) return false;
    const uint8_t c = s[0];
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool ChrIsDigit(const CChrArr& s) { return !s.IsEmpty() && s[0] >= '0' && s[0] <= '9'; }

CChrArr WordToChr(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
    return CChrArr(b, 2);
}

CChrArr DWordToChr(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>((v >> 8) & 0xFF),
                          static_cast<uint8_t>((v >> 16) & 0xFF), static_cast<uint8_t>(v >> 24)};
    return CChrArr(b, 4);
}

uint16_t ChrToWord(const CChrArr& s) {
    if (s.GetLength() != 2) return 0;
    return static_cast<uint16_t>(s[0] | (s[1] << 8));
}

uint32_t ChrToDWord(const CChrArr& s) {
    if (s.GetLength() != 4) return 0;
    return static_cast<uint32_t>(s[0]) | (static_cast<uint32_t>(s[1]) << 8) |
           (static_cast<uint32_t>(s[2]) << 16) | (static_cast<uint32_t>(s[3]) << 24);
}

CChrArr NumToText(uint32_t v, int width, uint8_t pad, int base) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, base == 16 ? 16 : 10);
    std::string text(buf, res.ptr);
    if (base == 16) {
        for (char& c : text) {
            if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return PadFront(text, width, pad);
}

CChrArr ZeroPadded(uint64_t v, int width) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return PadFront(std::string(buf, res.ptr), width, '0');
}

CChrArr IntToText(int32_t v, int width) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return PadFront(std::string(buf, res.ptr), width, ' ');
}

CChrArr DoubleToText(double v, Decimals decimals, Width width) {
    // 0..4 decimals are written at least 11 wide; any other count gets the
    // plain six-decimal form without a minimum width.
    const bool usual = decimals.value >= 0 && decimals.value <= 4;
    std::string text = FixedExact(v, usual ? decimals.value : 6);
    if (usual && text.size() < 11) text.insert(0, 11 - text.size(), ' ');
    return PadFront(text, width.value, ' ');
}

CChrArr DoubleToText(double v, Width width, Decimals decimals) { return DoubleToText(v, decimals, width); }

int64_t StrToNum(const CChrArr& s, int base, int isSigned) {
    // The text ends at its first zero byte, as a C string would.
    const std::string text = s.ToString();
    const char* p = text.c_str();
    if (base < 0 || base == 1 || base > 36) return 0;

    while (IsSpace(static_cast<uint8_t>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(static_cast<uint8_t>(p[2])) < 16;
    if ((base == 0 || base == 16) && hexPrefix) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = p[0] == '0' ? 8 : 10;
    }

    // Accumulate with saturation well above the 32-bit range.
    constexpr uint64_t kCap = 0x1'0000'0000ULL;
    uint64_t value = 0;
    bool overflow = false;
    for (int d; (d = DigitValue(static_cast<uint8_t>(*p))) < base; ++p) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (value >= kCap * 2) {
            overflow = true;
            value = kCap * 2;
        }
    }

    if (isSigned == 1) {
        if (negative) return value > 0x8000'0000ULL ? INT32_MIN : -static_cast<int64_t>(value);
        return value > 0x7FFF'FFFFULL ? INT32_MAX : static_cast<int64_t>(value);
    }
    if (overflow || value >= kCap) return 0xFFFF'FFFFLL;
    const uint32_t u = static_cast<uint32_t>(value);
    return negative ? static_cast<int64_t>(static_cast<uint32_t>(0U - u)) : static_cast<int64_t>(u);
}

int HexDigit(uint8_t c) {
    const int d = DigitValue(c);
    return d < 16 ? d : -1;
}

bool HexValue(const CChrArr& digits, uint32_t& value) {
    if (digits.IsEmpty()) return false;
    value = 0;
    for (int i = 0; i < digits.GetLength(); ++i) {
        const int d = HexDigit(digits[i]);
        if (d < 0) return false;
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return true;
}

int HexByte(const CChrArr& s, int at) {
    if (at < 0 || at + 1 >= s.GetLength()) return -1;
    const int hi = HexDigit(s[at]), lo = HexDigit(s[at + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

double TextToDouble(const CChrArr& s) {
    const std::string text = s.ToString();
    double parsed = 0.0;
    if (orv::platform::ClassicStrtod(text.c_str(), parsed)) return parsed;

    // Without a locale object, parse the plain decimal form ourselves.
    const char* p = text.c_str();
    while (IsSpace(static_cast<uint8_t>(*p))) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    double v = 0.0;
    std::from_chars(p, text.c_str() + text.size(), v);
    return negative ? -v : v;
}

int ShowMessage(const char* text) {
    orv::platform::ShowPlatformMessage(orv::platform::MessageKind::Notice, text != nullptr ? text : "");
    return 0;
}

int ShowMessageText(const std::string& text) {
    orv::platform::ShowPlatformMessage(orv::platform::MessageKind::Notice, text);
    return 0;
}

int ShowMessageChr(const CChrArr& text) { return ShowMessageText(text.ToString()); }
