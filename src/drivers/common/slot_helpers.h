// Slot steps several register families share.
#pragma once

#include <functional>

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

// Reads the listed items one by one (a count of 0 counts as 1): item i
// (from 0) sends event 5 with text(item) and its percentage, then read(item)
// hands its record to the host and returns 1, or fails with the logic's
// error set. An item the device does not hold (error `notHeld`) sends
// event 6 with that code and text and no record, and the read goes on; a
// break or any other failure ends it. The result is the last item's (a
// success leaves no error behind).
int ReadListedItems(CLogicECR& logic, EcrItemRecord* items, int count, int notHeld,
                    const std::function<std::string(const EcrItemRecord&)>& text,
                    const std::function<int(const EcrItemRecord&)>& read);

// A slot the register cannot serve: 25 with the logic's text for it.
int Unavailable(CLogicECR& logic);
