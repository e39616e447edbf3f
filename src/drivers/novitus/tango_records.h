// The fixed-width text records of the Tango protocol and the request bodies
// that carry them: goods (the 126-byte record and the Tango register's
// 75-byte one), departments, units, the two PLU sale reports, the sale
// positions, the tax-rate table and the tax letters. Numbers are decimal
// text left-padded with "0"; names travel in CP852. Building a record checks
// it first and returns the code that refuses it (0 when it is good).
#pragma once

#include <cstdint>
#include <string>

#include "util/chrarr.h"

namespace tango {

constexpr int kKeyWidth = 18;
constexpr int kGoodsRecordLength = 126;
constexpr int kGoodsReplyLength = 131;       // a 5-byte header, then the goods record
constexpr int kShortGoodsRecordLength = 75;  // the Tango register's goods write
constexpr int kDeptRecordLength = 39;
constexpr int kUnitRecordLength = 16;
constexpr int kPluReportLength = 117;        // "d"
constexpr int kSecondReportLength = 92;      // "U"
constexpr int kPositionLength = 70;          // "O", short form
constexpr int kPositionLongLength = 119;     // "O", with a line text
constexpr int kStatusLength = 11;            // "M"
constexpr int kTaxTableLength = 29;          // "0"
constexpr int kMoreStatusLength = 14;        // "e"
constexpr int kErrorStatusLength = 40;

// Codes the records refuse with.
constexpr int kErrTaxGroup = 9;      // tax group outside 1..7
constexpr int kErrFlags = 10;        // a flag kind or small field out of range
constexpr int kErrDepartment = 7;    // department number outside 0..99
constexpr int kErrCode = 260;        // no usable code or number
constexpr int kErrPrice = 109;       // price negative or too long
constexpr int kErrBadRecord = 9999;  // a record of the wrong length
constexpr int kErrUnit = 9999;       // a unit number outside 1..99 (the register names no code)

// The protocol's goods record. Texts are code page 1250.
struct Goods {
    uint32_t number = 0;     // keys the item when the code is empty (1..99998)
    std::string code;        // barcode, at most 18 characters once trimmed
    std::string name;        // cut to the record's width
    double price = 0.0;
    uint32_t taxGroup = 0;   // 1..7
    uint32_t digit = 0;      // the one-digit field
    uint32_t precision = 0;  // 0..3
    uint32_t package = 0;    // 0..2
    uint32_t tandem = 0;     // 0/1
    uint32_t dept = 0;       // 0..99
    uint32_t number2 = 0;    // the two-digit number
    std::string code2;       // second barcode
    uint32_t unit = 0;       // unit-of-measure number, 1..99 (0: none)
};

struct Dept {
    uint32_t number = 0;     // 1..99
    std::string name;
    double price = 0.0;
    uint32_t taxGroup = 0;
    uint32_t kind = 0;       // first flag kind 0..3
    uint32_t kind2 = 0;      // second flag kind 0..2
    uint32_t number2 = 0;    // the two-digit number
};

struct Unit {
    uint32_t number = 0;     // 1..99
    std::string name;        // at most 14 characters
};

// One line of a sale report ("d", "U") or one sale position ("O").
struct SaleLine {
    uint32_t position = 0;   // positions only
    uint32_t plu = 0;
    std::string code;
    std::string name;
    std::string text;        // long positions only
    double quantity = 0.0;
    double value = 0.0;
};

// ---- checksum and request bodies ----
uint16_t Checksum(const CChrArr& bytes);
// code, sub-code digit, key 1 and key 2 (each left-padded with "0" to 18).
CChrArr SimpleRequest(char code, char sub, const CChrArr& key1, const CChrArr& key2);
// code, "#", the 2-byte table, sub-code digit, key 1, key 2.
CChrArr TableRequest(char code, const char* table, char sub, const CChrArr& key1, const CChrArr& key2);
// code, "#", the text.
CChrArr PrefixedRecord(char code, const CChrArr& text);

// ---- fields ----
// "A".."F", "Z" for 1..7; a blank for anything else.
uint8_t TaxLetter(uint32_t group);
// 1..7, or 0 for any other letter or a field that is not one byte.
uint32_t DecodeTaxLetter(const CChrArr& field);
// The 18-byte key of a goods item: its code trimmed of blanks, or when
// empty its number as 5 digits, left-padded with blanks. 0 or kErrCode.
int GoodsKey(const std::string& code, uint32_t number, CChrArr& key);
// price x 100 + 0.1, fraction cut, as 10 digits; 0 or kErrPrice.
int PriceField(double price, CChrArr& field);
// Flag word of the goods record; 0 or kErrFlags.
int GoodsFlags(uint32_t precision, uint32_t package, uint32_t tandem, uint16_t& word);
void DecodeGoodsFlags(uint16_t word, uint32_t& precision, uint32_t& package, uint32_t& tandem);

// ---- records ----
// The parsers refuse a record (false) whose numeric fields are not all
// digits (the goods flag word: not all hexadecimal digits): a blank-padded
// or signed number is no number the register writes, and must not reach the
// host as 0.
int BuildGoodsRecord(const Goods& goods, CChrArr& out);        // 126 bytes
int BuildShortGoodsRecord(const Goods& goods, CChrArr& out);   // 75 bytes
// A 131-byte read reply; false when it is not 131 bytes.
bool ParseGoodsReply(const CChrArr& reply, Goods& goods);
int BuildDeptRecord(const Dept& dept, CChrArr& out);           // 39 bytes
bool ParseDeptRecord(const CChrArr& body, Dept& dept);
int BuildUnitRecord(const Unit& unit, CChrArr& out);           // 16 bytes
bool ParseUnitRecord(const CChrArr& body, Unit& unit);
bool ParseReportLine(const CChrArr& body, SaleLine& line);     // 117 or 92 bytes
// 70 or 119 bytes; false also when the position number is no number in
// 1..999999.
bool ParsePosition(const CChrArr& body, SaleLine& line);
bool PositionNumberInRange(const CChrArr& body);
// Rates A..G from the 29-byte reply into rates[0..6].
bool ParseTaxTable(const CChrArr& body, double rates[8]);
// The three pieces of the further status reply.
bool ParseMoreStatus(const CChrArr& body, std::string pieces[3]);

// Device text (CP852, 0xFF as a blank, trailing blanks cut) as code page 1250.
std::string FromDeviceText(const CChrArr& field);
// Code page 1250 text as CP852, cut to width and padded with blanks.
CChrArr ToDeviceText(const std::string& text, int width);

}  // namespace tango
