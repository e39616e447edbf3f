// Code page 1250 <-> Unicode (UTF-8), the whole page: for reading files
// that vendors' programs write in either encoding.
#pragma once

#include <string>


// Each byte once; the five bytes the page leaves undefined become '?'.
std::string Cp1250ToUtf8(const std::string& cp1250);

// Characters outside the page, and malformed UTF-8, become '?'.
std::string Utf8ToCp1250(const std::string& utf8);
// Each byte once, as UTF-16 (for vendor libraries taking wide strings);
// the five undefined bytes become '?'.
std::u16string Cp1250ToUtf16(const std::string& cp1250);

