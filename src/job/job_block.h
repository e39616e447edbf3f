// The one global job block: everything a job needs from the export that
// accepted it to the worker that runs it.
#pragma once

#include <cstdint>

#include "orvanta/ecr.h"

struct EcrJobBlock {
    uint32_t job = 0;                    // job code 1..18
    EcrDeviceRecord device{};            // copy of the host's record
    EcrStatusRecord status{};            // filled by ReadStatus
    EcrVatRecord vat{};                  // filled by ReadVAT / ReadStatus
    EcrVatRecord vatCopy{};              // handed to the VAT / status callback
    EcrItemRecord* items = nullptr;
    EcrDeptRecord* depts = nullptr;
    EcrUnitRecord* units = nullptr;
    uint32_t count = 0;
    uint32_t kind = 0;                   // 0 program, 1 update, 2 extra barcode
    EcrVatCallback vatCb = nullptr;
    EcrStatusCallback statusCb = nullptr;
    EcrItemReadCallback itemReadCb = nullptr;
    EcrSaleCallback saleCb = nullptr;
    EcrItemProgramCallback itemPgmCb = nullptr;
    EcrDeptReadCallback deptReadCb = nullptr;
    EcrDeptProgramCallback deptPgmCb = nullptr;
    EcrUnitReadCallback unitReadCb = nullptr;
    EcrUnitProgramCallback unitPgmCb = nullptr;
    EcrProgressCallback progressCb = nullptr;
};

// The process-wide job block (defined with the job engine).
extern EcrJobBlock g_jobBlock;
