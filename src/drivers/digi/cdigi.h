// CDigi: the protocol object of the Digi scales (device type 108). It never
// talks to the scale: it writes the transfer program's configuration files
// sm_eth.ini and wagi.ini on Open, the goods data file XWS_DIGI.txt (one
// 185-character record per item) in the current directory, then runs
// ./sm_eth.exe W=1 I=1 and waits for it. Every code's text is "DIGI".
#pragma once

#include <cstdint>
#include <string>

#include "drivers/common/scale_records.h"

enum : int {
    DIGI_ERR_PLU_RANGE = 105,     // item number outside 1..10000
    DIGI_ERR_PRICE_RANGE = 109,   // price above 9999.99 (or negative)
    DIGI_ERR_DEPARTMENT = 110,    // department outside 1..99
    DIGI_ERR_GENERAL = 9999,      // record of wrong length, file not written, program not run
};

constexpr int kDigiRecordLength = 185;

class CDigi : public CScaleFileProtocol {
public:
    CDigi();
    ~CDigi() override;

    using CTelepathyECR::Open;
    // Writes sm_eth.ini, then wagi.ini for the scale. 1, or 0 with 9999.
    int Open(uint32_t address, int scaleNumber);
    std::string GetErrorText(int code) override;

    int OpenDataFile();                     // creates ./XWS_DIGI.txt; 0 with 9999
    int WritePluRecord(CasPluRecord& rec);  // 1, or 0 with 105/109/110/9999 (nothing written)
    int RunSmEth();                         // 1, or 0 with 9999 (not run) or -7

    // The record of an item (checks included); empty with the error set.
    std::string BuildRecord(const CasPluRecord& rec);
    static std::string WagiIni(uint32_t address, int scaleNumber);
    static std::string SmEthIni();
};
