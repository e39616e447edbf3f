// CEcoPrint: the protocol object of the Eco Print label printers (device
// type 115). It writes the goods data file Eco_Print.txt (one ";"-separated
// line per item) in the current directory, then runs ./Eco_Print.bat and
// waits for it. Every code's text is "Eco Print".
#pragma once

#include <cstdint>
#include <string>

#include "drivers/common/scale_records.h"

enum : int {
    ECOPRINT_ERR_PLU_RANGE = 105,     // item number outside 1..10000
    ECOPRINT_ERR_PRICE_RANGE = 109,   // negative or not a number
    ECOPRINT_ERR_GENERAL = 9999,      // file not written, program not run
};

class CEcoPrint : public CScaleFileProtocol {
public:
    CEcoPrint();
    ~CEcoPrint() override;

    using CTelepathyECR::Open;
    int Open() { m_nError = 0; return 1; }
    std::string GetErrorText(int code) override;

    int OpenDataFile();                     // creates ./Eco_Print.txt; 0 with 9999
    int WritePluRecord(CasPluRecord& rec);  // 1, or 0 with 105/109/9999 (nothing written)
    int RunBatch();                         // 1, or 0 with 9999 (not run) or -7

    // The line of an item (checks included, no line end); empty with the
    // error set.
    std::string BuildLine(const CasPluRecord& rec);
};
