// Small text helpers the Posnet protocol and logic classes share.
#pragma once

#include <cstdint>
#include <cstring>

#include "util/chrarr.h"

namespace posnet {

inline bool Equals(const CChrArr& a, const char* text) {
    const size_t n = std::strlen(text);
    return static_cast<size_t>(a.GetLength()) == n && std::memcmp(a.data(), text, n) == 0;
}

// A whole number field: an optional '-' and 1..18 digits, nothing else.
inline bool ParseInteger(const CChrArr& field, int64_t& value) {
    const bool negative = field.GetLength() > 0 && field[0] == '-';
    int i = negative ? 1 : 0;
    const int digits = field.GetLength() - i;
    if (digits < 1 || digits > 18) return false;
    int64_t v = 0;
    for (; i < field.GetLength(); ++i) {
        if (field[i] < '0' || field[i] > '9') return false;
        v = v * 10 + (field[i] - '0');
    }
    value = negative ? -v : v;
    return true;
}

inline bool ParseUnsigned(const CChrArr& field, uint32_t& value) {
    int64_t v = 0;
    if (!ParseInteger(field, v) || v < 0 || v > 0xFFFFFFFFll) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace posnet
