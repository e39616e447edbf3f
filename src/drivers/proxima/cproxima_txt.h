// CProximaTxt: the protocol object of the Proxima scales (device type 113).
// It never talks to the scale: it writes the transfer program's settings
// file pargat.ini and the goods export file MEDESA.EXP (one 138-character
// line per item) in the current directory, then runs ./wmplw.exe MEDESA.EXP
// and waits for it. Every error code's text is "PROXIMA TXT".
#pragma once

#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "drivers/common/scale_records.h"
#include "platform/process.h"

enum : int {
    PROXIMA_ERR_PLU_RANGE = 105,     // PLU number outside 1..10000
    PROXIMA_ERR_PRICE_RANGE = 109,   // a price above 999999 hundredths (or negative)
    PROXIMA_ERR_DEPARTMENT = 110,    // department outside 1..99
    PROXIMA_ERR_GENERAL = 9999,      // file not written, program not started
};

constexpr int kProximaLineLength = 138;

class CProximaTxt : public CScaleFileProtocol {
public:
    CProximaTxt();
    ~CProximaTxt() override;

    using CTelepathyECR::Open;
    // Writes pargat.ini for the scale at `address` (device record word 1).
    // 1, or 0 with 9999 when the file cannot be written.
    int Open(uint32_t address);

    std::string GetErrorText(int code) override;

    int OpenExportFile();                       // creates ./MEDESA.EXP; 0 with 9999
    int WritePluLine(CasPluRecord& rec);        // 1, or 0 with 105/109/110/9999 (nothing written)
    int CloseExportFile() { return CloseDataFile(); }   // 0 with 9999 when a write failed
    int RunTransfer();                          // 1, or 0 with 9999 (not started) or -7

    // The export line of a record (checks included); empty with the error
    // set when the record is refused.
    std::string BuildLine(CasPluRecord& rec);
    static std::string SettingsText(uint32_t address);
};
