// Fuzz target: the number parsers of the byte strings (what drivers use on
// the numbers in device answers). The first byte picks the base and
// signedness; the parsers must stay within their documented ranges, and a
// number they read must survive the way back to text and in again.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fuzz_checks.h"
#include "util/chrarr.h"

using orv::fuzz::BrokenPromise;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const int kBases[] = {10, 16, 8, 2, 0, 36};
    const int base = kBases[(data[0] & 0x7F) % (sizeof kBases / sizeof kBases[0])];
    const int isSigned = data[0] >> 7;
    const CChrArr s(data + 1, size - 1);

    const int64_t v = StrToNum(s, base, isSigned);
    if (isSigned ? (v < INT32_MIN || v > INT32_MAX) : (v < 0 || v > UINT32_MAX)) BrokenPromise("StrToNum out of range");
    if (!isSigned && StrToNum(NumToText(static_cast<uint32_t>(v), 0, ' ', 10), 10, 0) != v)
        BrokenPromise("an unsigned number does not read back");
    if (isSigned && StrToNum(IntToText(static_cast<int32_t>(v), 0), 10, 1) != v)
        BrokenPromise("a signed number does not read back");

    const double d = TextToDouble(s);
    const int decimals = data[0] & 7;
    CChrArr t = DoubleToText(d, Decimals{decimals}, Width{static_cast<int>(data[0] >> 3) & 15});
    if (std::isfinite(d) && std::fabs(d) < 1e12) {
        const double back = TextToDouble(DoubleToText(d, Decimals{decimals}, Width{0}));
        const int written = decimals <= 4 ? decimals : 6;   // other counts: six decimals
        if (std::fabs(back - d) > std::pow(10.0, -written) * 0.5 + std::fabs(d) * 1e-12)
            BrokenPromise("a number does not read back within its decimals");
    }
    if (s.GetLength() == 2) (void)ChrToWord(s);
    if (s.GetLength() == 4) (void)ChrToDWord(s);
    return 0;
}
