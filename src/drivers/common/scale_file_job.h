// What the file-exchange scales (CAS XML, Proxima) share: the goods record
// conversion from the host's item and the programming loop that writes one
// file of records and hands it to the vendor's transfer program.
#pragma once

#include <cstring>
#include <functional>
#include <string>

#include "drivers/common/scale_records.h"
#include "job/logic_ecr.h"

// Copies at most `width` characters of a text field (terminated or not)
// into another, always terminating it.
template <size_t N, size_t M>
void ScaleCopyCut(char (&dst)[N], const char (&src)[M], size_t width) {
    size_t n = strnlen(src, M);
    if (n > width) n = width;
    if (n > N - 1) n = N - 1;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// The host's item as a scale goods record (texts cut to the fields).
CasPluRecord CasPluFromItem(const EcrItemRecord& item);

// The event 5 text of an item: "Nazwa - " and its name.
std::string ScaleItemText(const EcrItemRecord& item);

// The steps of one programming job; each returns 1, or 0 with the protocol
// object's error code set.
struct ScaleFileSteps {
    std::function<int()> begin;                  // create the file
    std::function<int(CasPluRecord&)> write;     // one record (refusals write nothing)
    std::function<int()> finish;                 // close the file
    std::function<int()> run;                    // run the transfer program
};

// The programming loop: the file is begun, every item converted and written
// (event 5 each; refused items confirmed with their code and text), the file
// finished, then after a 1 s pause the program runs once when at least one
// record was written. A break (-7) ends the job at once and the program is
// not started. The result is that of the last item, unless the file or the
// program fails.
int ProgramThroughFile(CLogicECR& logic, CTelepathyECR& protocol, EcrItemRecord* items, int count,
                       const ScaleFileSteps& steps);

// The Open slot of a file-exchange scale: checks the record and the lent
// serial object (the event sink and the break), registers the protocol
// object and calls `open` with the scale's address (device record word 1).
int ScaleOpen(CLogicECR& logic, CTelepathyECR& protocol, const EcrDeviceRecord* record,
              const std::function<int(uint32_t address)>& open);

// Fills what a scale without VAT or status reports hands the host: a zeroed
// status and the eight rates "not defined" (-3.0).
void ScaleNoStatus(EcrStatusRecord* status, double vat[8]);
