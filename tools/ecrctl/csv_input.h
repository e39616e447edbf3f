// ecrctl's input: CP1250 texts, numbers and number lists from the command
// line, and goods, departments and units from CSV files. Bad input throws
// UsageError with a text for the user.
#pragma once

#include <orvanta/ecr.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace ecrctl {

struct UsageError {
    std::string text;
};

// The library speaks CP1250, the terminal UTF-8: every character of the
// page is mapped; what the page lacks, and the five bytes it leaves
// undefined, become '?'.
std::string ToUtf8(const char* cp1250);
std::string ToCp1250(const std::string& utf8);
// The text in CP1250 into a zero-terminated field of `size` bytes (cut).
void CopyText(char* dst, size_t size, const std::string& utf8);

long long ParseNumber(const std::string& s, const char* what, long long low = 0, long long high = UINT32_MAX);
int32_t ParseWord(const std::string& s, const char* what);
double ParseDouble(const std::string& s, const char* what);
std::vector<long long> ParseNumbers(const std::string& list);

using CsvRows = std::vector<std::vector<std::string>>;
CsvRows ReadCsv(const std::string& path);
CsvRows ReadCsv(std::istream& in, const std::string& path);   // path only names it in errors
std::string Field(const std::vector<std::string>& r, size_t i);

std::vector<EcrItemRecord> ItemsFromCsv(const std::string& path);
std::vector<EcrDeptRecord> DeptsFromCsv(const std::string& path);
std::vector<EcrUnitRecord> UnitsFromCsv(const std::string& path);
std::vector<EcrItemRecord> ItemsFromRows(const CsvRows& rows);
std::vector<EcrDeptRecord> DeptsFromRows(const CsvRows& rows);
std::vector<EcrUnitRecord> UnitsFromRows(const CsvRows& rows);

}  // namespace ecrctl
