// The public header as a C host compiles it gives the same layouts as in C++
// and the sizes the host records are documented with.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "orvanta/ecr.h"

extern "C" int OrvantaHeaderLayoutC(size_t* out, int capacity);

namespace {

TEST(HeaderC, LayoutsMatchBetweenCAndCpp) {
    const std::vector<size_t> expected = {
        112 + sizeof(void*),  // device record: one pointer at the end
        20,
        48,
        112,
        472,  // item record
        36,
        84,
        100,
        116,
        228,
        468,
        224,  // sale record
        136,
        164,
        116,  // department record
        64,
        12,   // unit record
        64,   // VAT record
        2220, // status record
        172,
        268,  // event block
        260,
        ECR_EVENT_CLOSED,
        sizeof(void*),
    };
    std::vector<size_t> fromC(expected.size() + 4, 0);
    const int n = OrvantaHeaderLayoutC(fromC.data(), static_cast<int>(fromC.size()));
    ASSERT_EQ(n, static_cast<int>(expected.size()));
    fromC.resize(static_cast<size_t>(n));
    EXPECT_EQ(fromC, expected);

    // The C++ view of the same records.
    EXPECT_EQ(sizeof(EcrDeviceRecord), expected[0]);
    EXPECT_EQ(sizeof(EcrItemRecord), 472u);
    EXPECT_EQ(offsetof(EcrItemRecord, amount), 228u);
    EXPECT_EQ(offsetof(EcrSaleRecord, value), 164u);
}

// Arrays of item records are handed over with a stride of 472 bytes.
TEST(HeaderC, ItemArrayStride) {
    EcrItemRecord items[2];
    EXPECT_EQ(reinterpret_cast<const char*>(&items[1]) - reinterpret_cast<const char*>(&items[0]), 472);
}

}  // namespace
