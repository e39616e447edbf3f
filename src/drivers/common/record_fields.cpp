#include "drivers/common/record_fields.h"

#include <cmath>
#include <cstring>

bool ToWhole(double value, double scale, double max, uint64_t& out) {
    if (!(value >= 0.0)) return false;   // negative or NaN
    double whole = std::floor(value * scale + 0.1);
    if (!(whole <= max)) return false;   // too large or infinite
    out = static_cast<uint64_t>(whole);
    return true;
}

CChrArr HostText(const char* text, size_t cap) {
    CChrArr bytes(reinterpret_cast<const uint8_t*>(text), strnlen(text, cap));
    for (int i = 0; i < bytes.GetLength(); ++i)
        if (bytes[i] < 0x20) bytes[i] = ' ';
    return bytes;
}
