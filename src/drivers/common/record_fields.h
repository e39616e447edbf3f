// Helpers for building device records from host records, shared by the
// register families.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/chrarr.h"

// Whole units of value * scale, 0.1 added and the fraction cut, when the
// result lies in 0..max; false for a negative, NaN, too large or infinite
// value (nothing out of range is ever converted to an integer).
bool ToWhole(double value, double scale, double max, uint64_t& out);

// A host text field (up to its terminator, at most cap bytes) as it goes
// into a device record: a control byte would break the frame, so every
// byte below 0x20 goes out as a blank.
CChrArr HostText(const char* text, size_t cap);

// Copies at most maxChars characters of a text field (up to its terminator,
// at most srcCap bytes) into dst, zero-filling the rest of dst (dstSize
// bytes, always terminated). An empty source (no bytes, or none at all)
// leaves dst zeroed.
void CopyText(char* dst, size_t dstSize, const char* src, size_t srcCap, size_t maxChars);

// Whether two goods codes are the same once the zeros and spaces a register
// pads them with (leading zeros and spaces, trailing spaces) are left out;
// a code of nothing but padding is the same as no other.
bool SamePaddedCode(const CChrArr& a, const CChrArr& b);

// The same for a text the device sent: at most maxChars of its bytes (up
// to a zero byte), at most what dst holds.
inline void CopyBytes(char* dst, size_t dstSize, const CChrArr& bytes, size_t maxChars = SIZE_MAX) {
    CopyText(dst, dstSize, reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.GetLength()),
             maxChars);
}

// The same for a text built in memory (up to a zero byte).
inline void CopyString(char* dst, size_t dstSize, const std::string& text, size_t maxChars = SIZE_MAX) {
    CopyText(dst, dstSize, text.data(), text.size(), maxChars);
}

// A host text field that may lack its terminator.
inline std::string HostField(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// The progress text of an item loop over goods or departments: the host's name.
template <class Rec>
std::string NameLabel(const Rec& rec) {
    return "Nazwa - " + HostField(rec.name, sizeof rec.name);
}

// As much of a text field as the destination holds, terminated.
template <size_t N, size_t M>
void CopyTextField(char (&dst)[N], const char (&src)[M]) {
    CopyText(dst, N, src, M, N - 1);
}
// A device's text or a built one into a host field: at most maxChars, at
// most what the field holds.
template <size_t N>
void CopyTextField(char (&dst)[N], const CChrArr& bytes, size_t maxChars = SIZE_MAX) {
    CopyBytes(dst, N, bytes, maxChars);
}
template <size_t N>
void CopyTextField(char (&dst)[N], const std::string& text, size_t maxChars = SIZE_MAX) {
    CopyString(dst, N, text, maxChars);
}

// The first sequence number of a link's session: a pseudo-random number
// 0..modulo-1 from one generator shared by the links; tests seed it for
// repeatable frames.
uint32_t DrawSequence(uint32_t modulo);
void SeedSequenceDraw(uint32_t seed);
