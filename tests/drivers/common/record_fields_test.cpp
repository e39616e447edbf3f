// Copies of texts into the host's fixed, zero-terminated fields: one helper
// serves every family; the width a family cuts its texts to is the one thing
// that differs, and it is passed in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "drivers/common/record_fields.h"

namespace {

// A field of 8 bytes, filled with a mark before each copy so that the
// zero fill behind the text shows.
struct Field {
    char bytes[8];
    Field() { std::memset(bytes, '#', sizeof bytes); }
    std::string All() const { return std::string(bytes, sizeof bytes); }
};

std::string Zeros(size_t n) { return std::string(n, '\0'); }

TEST(RecordFields, CopyTextCutsAtTheFirstBoundAndZeroFillsTheRest) {
    const char unterminated[5] = {'A', 'B', 'C', 'D', 'E'};
    const struct {
        const char* what;
        const char* src;
        size_t srcCap;
        size_t maxChars;
        std::string expected;  // all 8 bytes of the field
    } cases[] = {
        {"to the terminator", "ABC", 10, 47, "ABC" + Zeros(5)},
        {"to the width", "ABCDEF", 10, 4, "ABCD" + Zeros(4)},
        {"width 0", "ABC", 10, 0, Zeros(8)},
        {"to the field's last byte", "ABCDEFGHIJ", 11, 47, "ABCDEFG" + Zeros(1)},
        {"to the source's size", unterminated, sizeof unterminated, 47, "ABCDE" + Zeros(3)},
        {"the source's size before the width", unterminated, 2, 4, "AB" + Zeros(6)},
        {"an empty text", "", 10, 47, Zeros(8)},
        {"a source of no bytes", "ABC", 0, 47, Zeros(8)},
        {"no source at all", nullptr, 10, 47, Zeros(8)},
    };
    for (const auto& c : cases) {
        Field f;
        CopyText(f.bytes, sizeof f.bytes, c.src, c.srcCap, c.maxChars);
        EXPECT_EQ(f.All(), c.expected) << c.what;
    }
    // A field of no bytes is left alone.
    Field f;
    CopyText(f.bytes, 0, "ABC", 3, 47);
    EXPECT_EQ(f.All(), std::string(8, '#'));
}

TEST(RecordFields, DeviceBytesAndBuiltTextsEndAtAZeroByte) {
    const struct {
        const char* what;
        void (*copy)(Field&);
        std::string expected;
    } cases[] = {
        {"bytes to a zero byte", [](Field& f) { CopyBytes(f.bytes, sizeof f.bytes, CChrArr(std::string("AB\0CD", 5))); },
         "AB" + Zeros(6)},
        {"bytes cut to a width", [](Field& f) { CopyBytes(f.bytes, sizeof f.bytes, CChrArr("ABCDEF"), 4); },
         "ABCD" + Zeros(4)},
        {"bytes cut to the field", [](Field& f) { CopyBytes(f.bytes, sizeof f.bytes, CChrArr("ABCDEFGHIJ")); },
         "ABCDEFG" + Zeros(1)},
        {"no bytes", [](Field& f) { CopyBytes(f.bytes, sizeof f.bytes, CChrArr()); }, Zeros(8)},
        {"a string to a zero byte", [](Field& f) { CopyString(f.bytes, sizeof f.bytes, std::string("AB\0CD", 5)); },
         "AB" + Zeros(6)},
        {"a string cut to a width", [](Field& f) { CopyString(f.bytes, sizeof f.bytes, "ABCDEF", 3); },
         "ABC" + Zeros(5)},
        {"an empty string", [](Field& f) { CopyString(f.bytes, sizeof f.bytes, std::string()); }, Zeros(8)},
        {"a field from a field", [](Field& f) { CopyTextField(f.bytes, "ABCDEFGHIJKL"); }, "ABCDEFG" + Zeros(1)},
        {"a field from bytes", [](Field& f) { CopyTextField(f.bytes, CChrArr("ABCDEFGHIJ")); }, "ABCDEFG" + Zeros(1)},
        {"a field from a string", [](Field& f) { CopyTextField(f.bytes, std::string("XY")); }, "XY" + Zeros(6)},
    };
    for (const auto& c : cases) {
        Field f;
        c.copy(f);
        EXPECT_EQ(f.All(), c.expected) << c.what;
    }
}

}  // namespace
