#include "csv_input.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util/cp1250_unicode.h"

namespace ecrctl {

// The whole Windows-1250 page, from the library's own table (compiled into
// this program, see tools/CMakeLists.txt).
std::string ToUtf8(const char* cp1250) {
    return cp1250 ? Cp1250ToUtf8(cp1250) : std::string();
}

std::string ToCp1250(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += utf8[i++];
            continue;
        }
        size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        bool wellFormed = len > 1 && i + len <= utf8.size();
        for (size_t k = 1; wellFormed && k < len; ++k)
            wellFormed = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!wellFormed) {
            // Not UTF-8: the byte is taken as CP1250 already (a file saved
            // in the Windows code page), and the text after it is kept.
            out += utf8[i++];
            continue;
        }
        out += Utf8ToCp1250(utf8.substr(i, len));
        i += len;
    }
    return out;
}

void CopyText(char* dst, size_t size, const std::string& utf8) {
    std::string t = ToCp1250(utf8);
    std::strncpy(dst, t.c_str(), size - 1);
    dst[size - 1] = 0;
}

// ---- input ----

// Decimal (a leading zero does not make it octal), or hexadecimal with 0x;
// the whole text, and within [low, high] (by default what a record's
// unsigned 32-bit field holds), so that nothing is cut to another value.
long long ParseNumber(const std::string& s, const char* what, long long low, long long high) {
    const size_t digits = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    const bool hex = s.size() > digits + 1 && s[digits] == '0' && (s[digits + 1] == 'x' || s[digits + 1] == 'X');
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, hex ? 16 : 10);
    if (s.empty() || errno != 0 || end != s.c_str() + s.size() || v < low || v > high)
        throw UsageError{std::string("bad number for ") + what + ": '" + s + "'"};
    return v;
}

// A device record word: a signed value, or the same 32 bits written
// unsigned (an address as one number).
int32_t ParseWord(const std::string& s, const char* what) {
    return static_cast<int32_t>(static_cast<uint32_t>(ParseNumber(s, what, INT32_MIN, UINT32_MAX)));
}

double ParseDouble(const std::string& s, const char* what) {
    std::string t = s;
    for (char& c : t)
        if (c == ',') c = '.';
    std::istringstream in(t);
    in.imbue(std::locale::classic());
    double v = 0;
    // The whole text: "1,234.56" is no price of 1.234.
    if (!(in >> v) || !(in >> std::ws).eof() || !std::isfinite(v))
        throw UsageError{std::string("bad number for ") + what + ": '" + s + "'"};
    return v;
}

// "1,2,5-7" -> 1 2 5 6 7
std::vector<long long> ParseNumbers(const std::string& list) {
    std::vector<long long> out;
    std::stringstream in(list);
    std::string part;
    while (std::getline(in, part, ',')) {
        if (part.empty()) continue;
        size_t dash = part.find('-', 1);
        if (dash == std::string::npos) {
            out.push_back(ParseNumber(part, "--numbers"));
            continue;
        }
        long long a = ParseNumber(part.substr(0, dash), "--numbers");
        long long b = ParseNumber(part.substr(dash + 1), "--numbers");
        if (b < a || b - a > 100000) throw UsageError{"bad range in --numbers: '" + part + "'"};
        for (long long v = a; v <= b; ++v) out.push_back(v);
    }
    if (out.empty()) throw UsageError{"--numbers needs at least one number"};
    return out;
}

// Reads a CSV file (separator ';', or ',' when a line has no ';'); a first
// line whose first field is not a number is a header and is skipped.
std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
    // A plain file only: a directory or a device (/dev/zero) is no table.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) throw UsageError{"cannot read " + path + " (no plain file)"};
    std::ifstream in(path);
    if (!in) throw UsageError{"cannot read " + path};
    return ReadCsv(in, path);
}

std::vector<std::vector<std::string>> ReadCsv(std::istream& in, const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::string lineText;
    bool first = true;
    while (std::getline(in, lineText)) {
        // A byte-order mark (spreadsheets write one) is no part of the text.
        if (first && lineText.compare(0, 3, "\xEF\xBB\xBF") == 0) lineText.erase(0, 3);
        if (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
        if (lineText.empty() || lineText[0] == '#') continue;
        // ';' when the line has one outside quotes, else ','.
        char sep = ',';
        bool inQuotes = false;
        for (char c : lineText) {
            if (c == '"') inQuotes = !inQuotes;
            if (c == ';' && !inQuotes) {
                sep = ';';
                break;
            }
        }
        std::vector<std::string> fields;
        std::string field;
        bool quoted = false;
        for (size_t i = 0; i < lineText.size(); ++i) {
            char c = lineText[i];
            if (quoted) {
                if (c == '"' && i + 1 < lineText.size() && lineText[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (c == '"') {
                    quoted = false;
                } else {
                    field += c;
                }
            } else if (c == '"') {
                quoted = true;
            } else if (c == sep) {
                fields.push_back(field);
                field.clear();
            } else {
                field += c;
            }
        }
        // A quote left open would swallow the fields after it.
        if (quoted) throw UsageError{"a quote is not closed in " + path + ": '" + lineText + "'"};
        fields.push_back(field);
        if (first) {
            first = false;
            char* end = nullptr;
            std::strtoll(fields[0].c_str(), &end, 10);
            if (fields[0].empty() || *end != 0) continue;
        }
        rows.push_back(fields);
    }
    return rows;
}

std::string Field(const std::vector<std::string>& r, size_t i) { return i < r.size() ? r[i] : std::string(); }

// number;code;name;vat group;department;price;unit[;vat rate]
std::vector<EcrItemRecord> ItemsFromCsv(const std::string& path) { return ItemsFromRows(ReadCsv(path)); }

std::vector<EcrItemRecord> ItemsFromRows(const std::vector<std::vector<std::string>>& rows) {
    std::vector<EcrItemRecord> items;
    for (const auto& r : rows) {
        EcrItemRecord it{};
        it.number = static_cast<uint32_t>(ParseNumber(Field(r, 0), "item number"));
        CopyText(it.code, sizeof it.code, Field(r, 1));
        CopyText(it.name, sizeof it.name, Field(r, 2));
        if (!Field(r, 3).empty()) it.vat_group = static_cast<uint32_t>(ParseNumber(Field(r, 3), "VAT group"));
        if (!Field(r, 4).empty()) it.department = static_cast<uint32_t>(ParseNumber(Field(r, 4), "department"));
        if (!Field(r, 5).empty()) it.price = ParseDouble(Field(r, 5), "price");
        it.unit = Field(r, 6).empty() ? 1 : static_cast<uint32_t>(ParseNumber(Field(r, 6), "unit"));
        if (!Field(r, 7).empty()) it.vat_rate = ParseDouble(Field(r, 7), "VAT rate");
        items.push_back(it);
    }
    return items;
}

// number;name;vat group;price
std::vector<EcrDeptRecord> DeptsFromCsv(const std::string& path) { return DeptsFromRows(ReadCsv(path)); }

std::vector<EcrDeptRecord> DeptsFromRows(const std::vector<std::vector<std::string>>& rows) {
    std::vector<EcrDeptRecord> depts;
    for (const auto& r : rows) {
        EcrDeptRecord d{};
        d.number = static_cast<uint32_t>(ParseNumber(Field(r, 0), "department number"));
        CopyText(d.name, sizeof d.name, Field(r, 1));
        if (!Field(r, 2).empty()) d.vat_group = static_cast<uint32_t>(ParseNumber(Field(r, 2), "VAT group"));
        if (!Field(r, 3).empty()) d.price = ParseDouble(Field(r, 3), "price");
        depts.push_back(d);
    }
    return depts;
}

// number;name
std::vector<EcrUnitRecord> UnitsFromCsv(const std::string& path) { return UnitsFromRows(ReadCsv(path)); }

std::vector<EcrUnitRecord> UnitsFromRows(const std::vector<std::vector<std::string>>& rows) {
    std::vector<EcrUnitRecord> units;
    for (const auto& r : rows) {
        EcrUnitRecord u{};
        u.number = static_cast<uint32_t>(ParseNumber(Field(r, 0), "unit number"));
        CopyText(u.name, sizeof u.name, Field(r, 1));
        units.push_back(u);
    }
    return units;
}

}  // namespace ecrctl
