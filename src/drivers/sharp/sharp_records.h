// The records the Sharp drivers and protocol classes exchange, the file
// header, and the record helpers every Sharp model shares: the Polish letter
// maps, the hex coding of names, barcode keys and the error texts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "drivers/sharp/sharp_traits.h"
#include "util/chrarr.h"

// One goods item as the logic hands it to the protocol object and gets it
// back from a read. The comments give the host item record's field each
// one carries.
struct SharpPluRow {
    uint32_t number = 0;      // goods (PLU) number; 0 in a barcode-keyed row
    char code[14] = {};       // code or barcode, at most 13 characters
    char name[25] = {};       // at most 24 characters (16 on most models), CP1250
    uint32_t dept = 0;        // department number
    double price = 0.0;       // unit price
    uint32_t tax = 0;         // tax group 1..3, anything else none (item +164)
    uint32_t dept2 = 0;       // second department-field number 0..99 (item +152)
    uint32_t flag = 0;        // 1 sets the status pair "10" (item +156)
    uint32_t extra = 0;       // the field after the flag, 0..99
    uint32_t linked = 0;      // linked goods number (item +176)
    uint32_t eanOption = 0;   // 1 gives "01" in a barcode record (item +160)
    char tail[5] = {};        // "0000" in rows the logic builds
};

// One department. word1..word6 carry the host department record's fields
// at +60, +92, +96, +104, +100 and +112 (in that order).
struct SharpDeptRow {
    uint32_t number = 0;
    char name[25] = {};       // at most 24 characters, CP1250
    uint32_t word1 = 0;
    double amount = 0.0;      // department record +64
    uint32_t word2 = 0;
    uint32_t word3 = 0;
    uint32_t word4 = 0;
    uint32_t word5 = 0;
    uint32_t word6 = 0;
};

// One line of the sale counters: the goods it counts and the totals.
struct SharpSaleRow {
    uint32_t number = 0;
    char code[14] = {};
    char name[25] = {};
    double quantity = 0.0;
    double value = 0.0;
};

using SharpPluFn = std::function<void(const SharpPluRow&)>;
using SharpDeptFn = std::function<void(const SharpDeptRow&)>;
using SharpSaleFn = std::function<void(const SharpSaleRow&)>;

// The "/HDR1/" file header: h0..h6 and up to 79 field lengths h7...
struct SharpHeader {
    static constexpr int kMaxFields = 79;
    std::array<uint32_t, 7 + kMaxFields> h{};
    uint32_t& operator[](int i) { return h[static_cast<size_t>(i)]; }
    uint32_t operator[](int i) const { return h[static_cast<size_t>(i)]; }
};

// Error codes the protocol classes set themselves.
enum : int {
    kSharpShortWrite = 10,
    kSharpBadNumber = 105,    // goods number out of range
    kSharpBadCode = 108,      // barcode that cannot be keyed
    kSharpBadDept = 110,      // department number out of range
    kSharpNoAnswer = 9999,    // no or bad answer, value out of range
    kSharpDeviceBase = 1000,  // the register's result n arrives as 1000 + n
};

// The text of a code: the register's results (1000 + n) from its table,
// 105, 108 and 110 of the classes, everything else the common texts.
std::string SharpErrorText(int code);

// The 18 Polish letters of CP1250 to the register's bytes and back
// (one pass; other bytes unchanged).
CChrArr SharpCp1250ToDevice(const CChrArr& text);
CChrArr SharpDeviceToCp1250(const CChrArr& text);

// Each byte as 2 upper-case hexadecimal digits, and back (empty for an odd
// or too short text, or one that is not hexadecimal).
CChrArr SharpTextToHex(const CChrArr& text);
CChrArr SharpHexToText(const CChrArr& hex);

// The barcode key of a code: trimmed of spaces, 1..13 printable ASCII
// characters, padded with "0" to 13 and prefixed by its length's digit
// (and "00" on the models with 16-character keys). 0 with error 108 when
// the code cannot be keyed.
int SharpNormaliseBarcode(const SharpTraits& traits, const CChrArr& code, CChrArr& key, int& error);
// The code of a barcode key, 0 with error 108 for a key of the wrong width.
int SharpDecodeBarcode(const SharpTraits& traits, const CChrArr& key, CChrArr& code, int& error);

// A host text of at most `cap` bytes from a zero-terminated field.
CChrArr SharpRowText(const char* text, size_t cap);
