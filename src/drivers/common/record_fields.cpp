#include "drivers/common/record_fields.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>

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

void CopyText(char* dst, size_t dstSize, const char* src, size_t srcCap, size_t maxChars) {
    if (dstSize == 0) return;
    std::memset(dst, 0, dstSize);
    // An empty text (an empty byte string has no storage at all) copies nothing.
    if (src == nullptr || srcCap == 0) return;
    size_t n = std::min(strnlen(src, srcCap), maxChars);
    n = std::min(n, dstSize - 1);
    if (n > 0) std::memcpy(dst, src, n);
}

bool SamePaddedCode(const CChrArr& a, const CChrArr& b) {
    auto unpadded = [](const CChrArr& c) {
        int first = 0, last = c.GetLength();
        while (first < last && (c[first] == '0' || c[first] == ' ')) ++first;
        while (last > first && c[last - 1] == ' ') --last;
        return c.Mid(first, last - first);
    };
    // Byte for byte: the arrays' own comparison takes a left side that
    // begins the right one as equal.
    const CChrArr ua = unpadded(a), ub = unpadded(b);
    return !ua.IsEmpty() && ua.GetLength() == ub.GetLength() && ua.Compare(ub) == 0;
}

namespace {
std::mutex g_seqMutex;
std::mt19937& SequenceGenerator() {
    static std::mt19937 gen{std::random_device{}()};
    return gen;
}
}  // namespace

uint32_t DrawSequence(uint32_t modulo) {
    std::lock_guard<std::mutex> lock(g_seqMutex);
    return static_cast<uint32_t>(SequenceGenerator()() % modulo);
}

void SeedSequenceDraw(uint32_t seed) {
    std::lock_guard<std::mutex> lock(g_seqMutex);
    SequenceGenerator().seed(seed);
}
