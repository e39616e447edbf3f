// Fuzz target: ecrctl's input readers: a CSV file as goods, departments and
// units, and the command line's number, price and number-list parsers. Bad
// input may only end in UsageError with a text; records come out with
// zero-terminated texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "fuzz_checks.h"

#include "csv_input.h"

namespace {

using orv::fuzz::BrokenPromise;
using orv::fuzz::CheckText;

template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const ecrctl::UsageError& e) {
        if (e.text.empty()) BrokenPromise("a usage error without a text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Guarded([&] {
        std::istringstream in(text);
        const ecrctl::CsvRows rows = ecrctl::ReadCsv(in, "fuzz.csv");
        Guarded([&] {
            for (const auto& it : ecrctl::ItemsFromRows(rows)) {
                CheckText(it.code);
                CheckText(it.name);
            }
        });
        Guarded([&] {
            for (const auto& d : ecrctl::DeptsFromRows(rows)) CheckText(d.name);
        });
        Guarded([&] {
            for (const auto& u : ecrctl::UnitsFromRows(rows)) CheckText(u.name);
        });
    });
    // The same bytes as one command-line value (up to the first line end).
    const std::string arg = text.substr(0, text.find('\n'));
    Guarded([&] { ecrctl::ParseNumber(arg, "fuzz"); });
    Guarded([&] { ecrctl::ParseWord(arg, "fuzz"); });
    Guarded([&] { ecrctl::ParseDouble(arg, "fuzz"); });
    Guarded([&] { ecrctl::ParseNumbers(arg); });
    std::string utf8 = ecrctl::ToUtf8(arg.c_str());
    char field[48];
    ecrctl::CopyText(field, sizeof field, arg);
    CheckText(field);
    return 0;
}
