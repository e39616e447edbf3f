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

// A slot the register cannot serve: 25 with the logic's text for it.
int Unavailable(CLogicECR& logic);
