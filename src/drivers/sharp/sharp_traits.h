// What tells the Sharp register models of the block link apart, as data: one
// SharpTraits per protocol class. The emulator of sim/sharp reads the same
// structs, so the library and the simulated register agree on the layouts.
#pragma once

#include <cstdint>

// The job-code table: the first register series, or the later one with the
// "20-12" read-and-clear and the "32-31" clear.
enum class SharpJobTable : uint8_t { First, Later };

// The option flags of the device record and how a class reads them.
enum class SharpOptionKind : uint8_t {
    Sharp457,   // name mode 15 with bit 4, else bit 0; second option 1
    Sharp495,   // name mode bit 0; second option bit 7
    Sharp285,   // name mode bit 0; bit-7 option
};

// The digit before a 13-digit barcode key, by the code's length.
enum class SharpPrefixTable : uint8_t {
    First,   // 6 -> "5", 8 -> "1", 12 -> "4", other -> "0"
    Later,   // 6 -> "6", 8 -> "2", 12 -> "5", 13 -> "1", other -> "0"
};

// One 2-character pair of a goods record's field 1.
enum class SharpPair : uint8_t {
    End,         // no further pair
    Dept,        // department 1..99
    Dept2,       // second department-field number 0..99
    Tax,         // "01".."03" for tax groups 1..3, else "00"
    Flag,        // "10" when the row's flag is 1, else "00"
    EanOption,   // "01" when the row's barcode-record option is 1, else "00"
    Zero,        // "00"
    One,         // "01"
    ExtraMark,   // "04" when the row's extra field is above 0, else "00"
    Extra,       // the row's extra field 0..99
};

// Field 1 of a goods record: its length in bytes (one pair each).
struct SharpField1 {
    int bytes;
    SharpPair pairs[8];
};

inline constexpr SharpField1 kSharpNoField1{0, {}};
inline constexpr SharpField1 kSharp457PluField1{
    7, {SharpPair::Dept, SharpPair::Dept2, SharpPair::One, SharpPair::One, SharpPair::Tax, SharpPair::Zero, SharpPair::Flag}};
inline constexpr SharpField1 kSharp457EanField1{8,
                                                {SharpPair::Dept, SharpPair::Dept2, SharpPair::One, SharpPair::One,
                                                 SharpPair::EanOption, SharpPair::Zero, SharpPair::Flag, SharpPair::Zero}};
inline constexpr SharpField1 kSharp495PluField1{8,
                                                {SharpPair::Dept, SharpPair::Dept2, SharpPair::Zero, SharpPair::One,
                                                 SharpPair::Tax, SharpPair::Zero, SharpPair::Zero, SharpPair::Zero}};
inline constexpr SharpField1 kSharp495EanField1{7,
                                                {SharpPair::Dept, SharpPair::Dept2, SharpPair::Zero, SharpPair::One,
                                                 SharpPair::EanOption, SharpPair::Zero, SharpPair::Zero}};
inline constexpr SharpField1 kSharp277Field1{2, {SharpPair::Dept, SharpPair::Zero}};
inline constexpr SharpField1 kSharp285Field1{
    5, {SharpPair::Dept, SharpPair::Tax, SharpPair::Flag, SharpPair::ExtraMark, SharpPair::Extra}};

// File identifiers (h0 of the header, and the data of a read request).
enum : uint32_t {
    kSharpDeptFile = 0x01,
    kSharpPluFile = 0x11,
    kSharpEanFile = 0x31,
    kSharpVatFile = 0x21,
};

struct SharpTraits {
    const char* name;
    SharpJobTable jobTable;
    int headerFields;            // field lengths after h6: 47, 15 or 79
    bool dumpHeaderOnRead;       // a copy of each header read goes to the block dump
    SharpOptionKind options;
    int defaultNameMode;
    int pluKeyDigits;            // goods keyed by number; 0: the class keys goods by barcode only
    int deptKeyDigits;
    SharpPrefixTable prefixes;
    bool barcodeZeros;           // "00" before the prefix digit (16-character keys)
    uint32_t eanFileId;          // h0 of the barcode-keyed goods file
    SharpField1 pluField1;       // number-keyed goods
    SharpField1 eanField1;       // barcode-keyed goods
    int eanField2;               // bytes of field 2 ("0000") of barcode-keyed goods
    int nameWidths[3];           // name mode 15, 1, 0 -> name bytes
    const char* clearByNumber;   // key of ClearCounters(1)
    const char* clearOther;      // key of ClearCounters(0)
    int requestKeyChars;         // keys of whole-file and sale requests; 0: the file's own width
    const char* goodsEvent;      // event 5 of a goods read
    const char* deptEvent;       // event 5 of a department read
    bool deptNameByMode;         // department names as wide as goods names (else 16)
    char deptReadLetter;         // whole department file: this letter and zeros

    int BarcodeKeyChars() const { return barcodeZeros ? 16 : 14; }
    int NameWidth(int mode) const { return mode == 15 ? nameWidths[0] : mode == 1 ? nameWidths[1] : nameWidths[2]; }
};

inline constexpr SharpTraits kSharp457Traits{
    "CSharp457", SharpJobTable::First, 47, true, SharpOptionKind::Sharp457, 15, 6, 2, SharpPrefixTable::First,
    false, kSharpEanFile, kSharp457PluField1, kSharp457EanField1, 2, {12, 16, 8}, "0109////00/", "0120////00/", 0,
    "PLU - %i", "DEPT - %i", false, 'F'};

// The 455 registers: the 457 files with 12-digit goods keys and 4-digit
// department keys.
inline constexpr SharpTraits kSharp455Traits{
    "CSharp455", SharpJobTable::First, 47, true, SharpOptionKind::Sharp457, 15, 12, 4, SharpPrefixTable::First,
    false, kSharpEanFile, kSharp457PluField1, kSharp457EanField1, 2, {12, 16, 8}, "0109////00/", "0120////00/", 0,
    "PLU - %i", "DEPT - %i", false, 'F'};

// The 277 registers: 4-digit goods keys (barcode keys on the PS models, in
// the goods-by-number file), a 56-character header, no header dump.
inline constexpr SharpTraits kSharp277Traits{
    "CSharp277", SharpJobTable::Later, 15, false, SharpOptionKind::Sharp457, 15, 4, 2, SharpPrefixTable::Later,
    false, kSharpPluFile, kSharp277Field1, kSharp277Field1, 0, {12, 16, 8}, "0109////00/", "0120////00/", 4,
    "PLU - %i", "DEPT - %i", false, 'F'};

// The 285 registers: goods keyed by 16-character barcode keys only, a
// 184-character header, 20-character request keys.
inline constexpr SharpTraits kSharp285Traits{
    "CSharp285", SharpJobTable::Later, 79, true, SharpOptionKind::Sharp285, 0, 0, 2, SharpPrefixTable::Later,
    true, kSharpEanFile, kSharpNoField1, kSharp285Field1, 0, {24, 16, 24}, "0109////00/", "0120////00/", 20,
    "Odczytano - %i pozycji", "DEPT - %i", true, 'B'};

// The 495 registers: name mode from bit 0 (8 or 16 characters), the second
// option from bit 7 (department names of 16, else 8), field 1 of 8 bytes by
// number and 7 by barcode, short clear keys.
inline constexpr SharpTraits kSharp495Traits{
    "CSharp495", SharpJobTable::First, 47, true, SharpOptionKind::Sharp495, 1, 6, 2, SharpPrefixTable::First,
    false, kSharpEanFile, kSharp495PluField1, kSharp495EanField1, 2, {8, 16, 8}, "0109/", "0120/", 0,
    "PLU - %i", "DEPT - %i", false, 'F'};
