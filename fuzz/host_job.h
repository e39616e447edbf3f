// What the fuzz targets of the vendor libraries, the fiscal control and the
// transfer programs share: a host job run through the exports with the
// recording host at time scale 0, and the checks of the library's promises
// after it (see README, "The vendor, control and file targets").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "orvanta/ecr.h"

namespace orv::fuzz {

// The jobs a host may start (each export that reaches a device slot).
enum class HostJob : uint8_t {
    ReadVat, ReadStatus, ProgramGoods, UpdateGoods, ProgramBarcodes, ReadGoodsByList, ReadAllGoods, ReadSales,
    ClearSales, ReadAllDepts, ProgramDepts, ReadAllUnits, ProgramUnits, DeleteGoods, Count
};
const char* HostJobName(HostJob job);
// The job an input byte picks.
HostJob PickJob(uint8_t byte);

// The goods the host hands every job that takes items (numbers 1..3).
constexpr int kHostItems = 3;
const EcrItemRecord& HostItem(int i);

// Runs the job through the exports on `dev` (its progress callback becomes
// the recorder's) with the host's three goods, departments or units, at time
// scale 0, and waits for its end: aborts when it does not end within
// `wallMillis`. Returns whether the export started it.
bool RunHostJob(HostJob job, EcrDeviceRecord dev, int wallMillis = 20000);

// After the job: a failed job or item has a nonzero code and a text, error
// events carry a code, texts handed to the host are zero-terminated, and no
// job nobody broke off ends as broken off. `mustFail`: the source (library,
// control or program) failed every call it was asked, so the job may not
// succeed.
void CheckHostPromises(HostJob job, int type, bool mustFail);

// Every record handed to the host holds only what `fed` (every byte the
// source handed back) held: each run of ASCII letters and digits of its
// texts occurs in `fed`, each number is 0 or its digits (in units down to
// millionths) occur among the digits of `fed` (VAT rates also -3 and -1);
// a source that handed back nothing gave no goods, sale, department or unit.
void CheckRecordsFrom(HostJob job, int type, const std::string& fed);

// The content check's two tests. Every run of ASCII letters and digits of
// the text (n bytes) occurs in `fed`:
bool TextHeld(const char* text, size_t n, const std::string& fed);
// `digits` (DigitsOf the bytes fed) give the number: it is 0 (or nearer 0
// than half a millionth), or its digits in units down to millionths, without
// leading zeros, occur among them (every other byte left out: points, signs,
// padding and exponents lie among the digits of a number written out), or
// the digits of its shortest form (ShortestDigits) occur among them (a
// number written out with more decimals).
std::string DigitsOf(const std::string& bytes);
bool NumberHeld(double v, const std::string& digits);
// The significant digits of the shortest text that reads back as |v|.
std::string ShortestDigits(double v);

// With ORVANTA_FUZZ_STATS set: a line per input (job, type, what the
// target says of its input, the job's result).
void ReportStats(HostJob job, int type, const std::string& input);

[[noreturn]] void BrokenJob(const char* what, HostJob job, int type);

}  // namespace orv::fuzz
