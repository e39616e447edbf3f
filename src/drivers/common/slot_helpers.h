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

// Reads listed goods one at a time. For item i (from 0) event 5 goes out
// with label(i) and trunc((i + 1) * 100.0) / count; read(i) returns 1 when
// it handed the item to the host, else 0 with the protocol's code. An item
// the device does not hold (a code `missing` accepts) gives event 6 with
// its code and text and the read goes on; any other failure ends the job
// with its code. The job ends as its last item did (a missing last item
// fails it; a job that went through ends without a code).
int ReadListedItems(CLogicECR& logic, CTelepathyECR& protocol, int count, const std::function<std::string(int)>& label,
                    const std::function<int(int)>& read, const std::function<bool(int)>& missing);
