// What the scales served through files and transfer programs share: the
// goods and department records the logic classes fill, the price check of
// the scale files, the run of a vendor's transfer program and the scale's
// address as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/telepathy_ecr.h"
#include "platform/process.h"

// One goods record as the scale programs know it (texts CP1250, terminated).
// Fields in the scale programs' order; the record never leaves the library
// as bytes, so it keeps natural alignment.
struct CasPluRecord {
    uint32_t plu;
    char barcode[14];        // at most 13 characters
    char name[25];           // first name line, at most 24
    uint32_t pluType;        // 0, 1 or 2
    double unitPrice;        // currency units
    double specialPrice;
    uint32_t taxNo;          // VAT group
    uint32_t department;
    uint32_t priceType;
    char text[16];           // at most 15
    uint32_t sellDate;
    uint32_t further;
    char lines[8][25];       // name lines 1..8, at most 24 each
};

struct CasDeptRecord {
    uint32_t number;
    char name[25];           // at most 24 characters
};

enum : int {
    CAS_ERR_PLU_RANGE = 105,     // PLU number outside 1..10000
    CAS_ERR_PRICE_RANGE = 109,   // price above 999999 hundredths (or negative)
    CAS_ERR_GENERAL = 9999,      // program not started, file not written or not readable
};

// A price in hundredths as the scale files hold it: trunc(price x 100 +
// 0.1), judged as a double. False when negative, not a number or above
// 999999.
bool ScaleHundredths(double price, uint32_t& out);

// Runs a vendor's transfer program and waits for it, breakable through the
// protocol's serial object: 1, or 0 with the protocol's error 9999 (not
// started) or -7 (broken off; the program was terminated).
int RunTransferProgram(CTelepathyECR& protocol, orv::platform::ProcessRunner& runner, const char* program,
                       const std::vector<std::string>& args);

// "a.b.c.d", the most significant byte first.
std::string DottedAddress(uint32_t address);

// A text file for a transfer program (in the current directory), created
// anew or truncated. False when it could not be written whole.
bool WriteScaleFile(const char* path, const std::string& content);

// A data file a transfer program reads, written record by record: created
// anew, and any failed write remembered until it is closed.
class ScaleDataFile {
public:
    ScaleDataFile() = default;
    ~ScaleDataFile();
    ScaleDataFile(const ScaleDataFile&) = delete;
    ScaleDataFile& operator=(const ScaleDataFile&) = delete;

    bool Create(const char* path);           // false when not created
    bool IsOpen() const { return m_fd >= 0; }
    bool Write(const std::string& bytes);    // false when not written whole
    bool Close();                            // false when a write or the close failed

private:
    int m_fd = -1;
    bool m_failed = false;
};

// The protocol object of a scale served through a data file and a
// transfer program: the data file in the current directory, one line (CR
// LF added) per accepted record, and the program run. Failures leave 9999.
class CScaleFileProtocol : public CTelepathyECR {
public:
    CScaleFileProtocol();
    ~CScaleFileProtocol() override;

    int CloseDataFile();                      // 0 with 9999 when a write failed
    void SetProcessRunner(orv::platform::ProcessRunner* runner);

protected:
    int CreateDataFile(const char* path);     // 0 with 9999
    int WriteDataLine(const std::string& line);   // nothing when no file is open; 0 with 9999
    int RunProgram(const char* program, const std::vector<std::string>& args);   // 1, or 0 with 9999 or -7
    bool DataFileOpen() const { return m_file.IsOpen(); }

private:
    ScaleDataFile m_file;
    orv::platform::ProcessRunner* m_runner;
};

// Bytes that would break a data file's layout (below 0x20, and `extra`
// when given) become blanks.
std::string ScaleLineSafe(std::string text, char extra = 0);
