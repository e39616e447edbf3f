// CChrArr: construction, assignment, appending, comparison and slicing.
#include "util/chrarr.h"

#include <algorithm>
#include <cstring>

namespace {

// Orders two byte runs as unsigned values; a (length la) is the left side.
int CompareOverLeft(const uint8_t* a, size_t la, const uint8_t* b, size_t lb) {
    if (la == 0 || lb == 0) {
        // An empty side is never equal: the shorter one orders first,
        // equal lengths put the left one after.
        return la < lb ? -1 : 1;
    }
    const size_t n = std::min(la, lb);
    const int c = std::memcmp(a, b, n);
    if (c != 0) return c < 0 ? -1 : 1;
    // The right side matched as far as it goes; it is equal only when it
    // covers the whole left side.
    return lb < la ? 1 : 0;
}

}  // namespace

CChrArr::CChrArr(int count, uint8_t byte) {
    if (count > 0) m_bytes.assign(static_cast<size_t>(count), byte);
}

CChrArr::CChrArr(const char* text) {
    if (text != nullptr) {
        const auto* p = reinterpret_cast<const uint8_t*>(text);
        m_bytes.assign(p, p + std::strlen(text));
    }
}

CChrArr::CChrArr(const uint8_t* data, size_t size) {
    if (data != nullptr && size > 0) m_bytes.assign(data, data + size);
}

CChrArr::CChrArr(const std::string& text)
    : m_bytes(reinterpret_cast<const uint8_t*>(text.data()),
              reinterpret_cast<const uint8_t*>(text.data()) + text.size()) {}

CChrArr& CChrArr::operator=(const std::string& text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    m_bytes.assign(p, p + text.size());
    return *this;
}

CChrArr& CChrArr::operator=(const char* text) {
    if (text == nullptr) {
        m_bytes.clear();
    } else {
        const auto* p = reinterpret_cast<const uint8_t*>(text);
        m_bytes.assign(p, p + std::strlen(text));
    }
    return *this;
}

CChrArr& CChrArr::operator=(uint8_t byte) {
    m_bytes.assign(1, byte);
    return *this;
}

CChrArr& CChrArr::operator+=(const CChrArr& other) {
    // Appending an array to itself is a no-op by contract.
    if (&other == this) return *this;
    m_bytes.insert(m_bytes.end(), other.m_bytes.begin(), other.m_bytes.end());
    return *this;
}

CChrArr& CChrArr::operator+=(uint8_t byte) {
    m_bytes.push_back(byte);
    return *this;
}

CChrArr& CChrArr::operator+=(const char* text) {
    if (text != nullptr) {
        const auto* p = reinterpret_cast<const uint8_t*>(text);
        m_bytes.insert(m_bytes.end(), p, p + std::strlen(text));
    }
    return *this;
}

int CChrArr::Compare(const CChrArr& other) const {
    return CompareOverLeft(m_bytes.data(), m_bytes.size(), other.m_bytes.data(), other.m_bytes.size());
}

int CChrArr::Compare(const char* text) const {
    if (text == nullptr) return 1;
    // Only as much of the text as the array is long is ever looked at; a
    // terminator before that makes the text the shorter side.
    const size_t len = strnlen(text, m_bytes.size() + 1);
    return CompareOverLeft(m_bytes.data(), m_bytes.size(), reinterpret_cast<const uint8_t*>(text), len);
}

int CChrArr::Find(uint8_t ch, int start) const {
    if (start < 0) start = 0;
    for (size_t i = static_cast<size_t>(start); i < m_bytes.size(); ++i) {
        if (m_bytes[i] == ch) return static_cast<int>(i);
    }
    return -1;
}

CChrArr CChrArr::Left(int n) const {
    const size_t k = std::min(static_cast<size_t>(std::max(n, 0)), m_bytes.size());
    return CChrArr(m_bytes.data(), k);
}

CChrArr CChrArr::Right(int n) const {
    const size_t k = std::min(static_cast<size_t>(std::max(n, 0)), m_bytes.size());
    return CChrArr(m_bytes.data() + (m_bytes.size() - k), k);
}

CChrArr CChrArr::Mid(int start, int count) const {
    const size_t s = static_cast<size_t>(std::max(start, 0));
    if (s >= m_bytes.size()) return CChrArr();
    const size_t k = std::min(static_cast<size_t>(std::max(count, 0)), m_bytes.size() - s);
    return CChrArr(m_bytes.data() + s, k);
}

CChrArr CChrArr::Mid(int start) const {
    const size_t s = static_cast<size_t>(std::max(start, 0));
    if (s >= m_bytes.size()) return CChrArr();
    return CChrArr(m_bytes.data() + s, m_bytes.size() - s);
}

void CChrArr::Reverse() { std::reverse(m_bytes.begin(), m_bytes.end()); }

std::string CChrArr::ToString() const {
    return std::string(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size());
}

void CChrArr::RemoveAt(int index, int count) {
    if (index < 0 || count <= 0 || static_cast<size_t>(index) >= m_bytes.size()) return;
    const size_t end = std::min(m_bytes.size(), static_cast<size_t>(index) + static_cast<size_t>(count));
    m_bytes.erase(m_bytes.begin() + index, m_bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

CChrArr operator+(const CChrArr& a, const CChrArr& b) {
    CChrArr r(a);
    r.Append(b.data(), b.bytes().size());
    return r;
}

CChrArr operator+(const CChrArr& a, const char* b) {
    CChrArr r(a);
    r += b;
    return r;
}

CChrArr operator+(const char* a, const CChrArr& b) {
    CChrArr r(a);
    r.Append(b.data(), b.bytes().size());
    return r;
}

CChrArr operator+(uint8_t a, const CChrArr& b) {
    CChrArr r(1, a);
    r.Append(b.data(), b.bytes().size());
    return r;
}

CChrArr operator+(const CChrArr& a, uint8_t b) {
    CChrArr r(a);
    r += b;
    return r;
}

bool operator==(const CChrArr& a, const CChrArr& b) { return a.Compare(b) == 0; }
bool operator!=(const CChrArr& a, const CChrArr& b) { return a.Compare(b) != 0; }
bool operator==(const CChrArr& a, const char* b) { return a.Compare(b) == 0; }
bool operator!=(const CChrArr& a, const char* b) { return a.Compare(b) != 0; }
bool operator==(const char* a, const CChrArr& b) { return b.Compare(a) == 0; }
bool operator!=(const char* a, const CChrArr& b) { return b.Compare(a) != 0; }

CChrArr CStringToChrArr(const std::string& s) { return CChrArr(s); }

char* ChrArrToBuffer(char* dst, const CChrArr& src, int n) {
    if (dst == nullptr || n < 0) return dst;
    const size_t count = static_cast<size_t>(n);
    const size_t k = std::min(count, src.bytes().size());
    if (k > 0) std::memcpy(dst, src.data(), k);
    std::memset(dst + k, 0, count - k + 1);
    return dst;
}

char* StrNCopyZ(char* dst, const char* src, int n) {
    if (dst == nullptr || n < 0) return dst;
    const size_t count = static_cast<size_t>(n);
    const size_t k = src == nullptr ? 0 : strnlen(src, count);
    if (k > 0) std::memmove(dst, src, k);
    std::memset(dst + k, 0, count - k + 1);
    return dst;
}
