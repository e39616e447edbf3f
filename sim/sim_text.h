// Small text helpers the emulators share.
#pragma once

#include <string>
#include <vector>

namespace orv::test {

// The pieces of a text between the separators (n separators give n + 1
// pieces, empty ones included).
inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        if (at == std::string::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, at - start));
        start = at + 1;
    }
}

}  // namespace orv::test
