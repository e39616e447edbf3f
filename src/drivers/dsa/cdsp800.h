// CDsp800: the DSP 800 register (9600 baud 8N1, 500 goods). It shares the
// DSA family's line set-up, writes and error table B, but speaks short
// commands of its own: ESC, a command byte, a blank, fixed-width fields
// separated by blanks, CR; a goods record is acknowledged with ACK or NAK,
// a read is answered with a reply of fixed length.
#pragma once

#include "drivers/dsa/dsa_link.h"

// A goods item as the logic hands it over and gets it back.
struct Dsp800Item {
    uint32_t number = 0;
    char code[14] = {};   // at most 13 characters (7 reach the register)
    char name[21] = {};   // at most 20 characters
    uint32_t vat = 1;     // 2: rate B, anything else rate A
    double price = 0.0;
};

// Table B with the DSP 800's own wording of code 24.
const char* ErrorTableDsp800(int code);

class CDsp800 : public CDsaLink {
public:
    static constexpr uint8_t ESC = 0x1B;
    static constexpr uint8_t CR = 0x0D;
    static constexpr uint8_t NAK = 0x15;
    static constexpr uint32_t kCapacity = 500;

    CDsp800();

    uint32_t Capacity() const override { return kCapacity; }
    uint32_t DeptCount() const override { return 0; }
    DsaPluLayout PluLayout() const override { return {3, false, false}; }
    DsaDeptLayout DeptLayout() const override { return {0, 0, 0}; }
    DsaSaleStream SaleStream(bool) const override { return DsaSaleStream{}; }
    DeviceErrorTable ErrorTable() const override { return ErrorTableDsp800; }
    // Table B (24 in the register's wording); codes from 500 other than the
    // device answers 1001..1255 and 9998 give the program's banner.
    std::string GetErrorText(int code) override;

    // ESC, the command byte, a blank, the data, CR. 1 / 0 (error set).
    int SendCommand(uint8_t command, const CChrArr& data);
    // One status byte (ACK 6, NAK 21) within 5 s; -1 when none came (the
    // transport's error is kept).
    int ReadStatusByte();
    // A reply of kind '!' (25 bytes) or '?' (45 bytes); its 22 or 42 bytes
    // from position 3. 1 / 0 (error set).
    int ReadDataReply(uint8_t kind, CChrArr& payload);

    // "%": programs one item (3 attempts on NAK). 1 / 0 (error set).
    int PgmPLU(const Dsp800Item& item);
    // "?": reads the item whose number is given (3 attempts). 1 / 0.
    int ReadPLU(Dsp800Item& item);
    // The data of a "%" record, or 0 with 105 / 109.
    int BuildRecord(const Dsp800Item& item, CChrArr& data);
};
