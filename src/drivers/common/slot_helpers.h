// Slot steps several register families share.
#pragma once

#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "job/logic_ecr.h"

// Event 9, then the device operation (1 / 0); a failure takes the
// protocol's code and the logic's text for it.
int BulkOperation(CLogicECR& logic, CTelepathyECR& protocol, const std::function<int()>& operation);

// A null item or department array fails the job with -1 without being read.
int NoArray(CLogicECR& logic);

// A register that reports no VAT rates: -3.0 in all eight, then 25 with
// the common text.
int NoVatRates(CLogicECR& logic, double vat[8]);

// A slot the register cannot serve: 25 with the logic's text for it.
int Unavailable(CLogicECR& logic);

// Reads the listed items one by one through the logic's loop for chosen
// items (CLogicECR::ReadEachItem): a null array fails with -1, a count of 0
// counts as 1. Item i sends event 5 with label(item) and its percentage;
// read(item) hands the record to the host and returns 1, or returns 0 with
// the logic's error set. An item the device does not hold (a code `missing`
// accepts) gives event 6 with its code and text and no record, and the read
// goes on; a break or any other failure ends it. The job ends as its last
// item did (a success leaves no error behind).
int ReadListedItems(CLogicECR& logic, EcrItemRecord* items, int count,
                    const std::function<std::string(const EcrItemRecord&)>& label,
                    const std::function<int(const EcrItemRecord&)>& read, const std::function<bool(int)>& missing);
