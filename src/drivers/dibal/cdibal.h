// CDibal: the protocol object of the Dibal scales on a serial line (device
// types 103 and 104). It frames 128-character text records (STX ... ETX and
// an XOR check byte, or the addressed form SOH nn "80" STX ... ETX check),
// answers the scale's ACK/NAK handshake and knows two ways of programming
// goods: a bulk transfer between the records "KB000201" and "KB000203" in
// plain frames (type 103, 8N1) and one item at a time to a scale address
// after a poll (type 104, 8E1). It also reads the scale's goods back
// ("KB000202", answered with "X1" records).
//
// Codes left in m_nError: the serial codes -1..-10 (a transport failure
// keeps its own code); 10 fewer bytes written than given; 19 scale address
// outside 0..98; 105 PLU number outside 1..99999; 109 price above 9999.99
// (or negative); 999 no or a wrong answer (no ACK after three sends, no
// ready answer after seven polls, an amount the record cannot hold, a
// record of wrong length or kind).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// The scale's view of one goods item (CP1250 texts, terminated). It never
// leaves the library as bytes, so it keeps natural alignment.
struct DibalItem {
    uint32_t plu;
    char name[25];          // at most 24 characters
    uint32_t flag;          // 1, or another value
    double price;
    uint32_t vatGroup;
    uint32_t department;
    uint32_t code2;         // two-digit code
    double amount;          // sent in thousandths
    char date1[16];         // dd.mm.yy
    char date2[16];
    char text1[21];
    char text2[21];
    char text3[21];
    uint32_t code3;         // three-digit code
};

enum : int {
    DIBAL_ERR_SHORT_WRITE = 10,
    DIBAL_ERR_ADDRESS = 19,
    DIBAL_ERR_PLU_RANGE = 105,
    DIBAL_ERR_PRICE_RANGE = 109,
    DIBAL_ERR_NO_ANSWER = 999,
};

constexpr int kDibalRecordLength = 128;
constexpr uint32_t kDibalMaxPlu = 99999;

class CDibal : public CTelepathyECR {
public:
    static constexpr uint8_t SOH = 0x01, STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, BEL = 0x07,
                             NAK = 0x15;

    CDibal();
    ~CDibal() override;

    using CTelepathyECR::Open;
    // Opens the line (8N1 when the mode flag is 1, else 8E1) and keeps the
    // scale address. 1, or 0 with the error set (19 for an address outside
    // 0..98, before the line is touched).
    int Open(int port, int baud, int address);
    void SetModeFlag(uint32_t flag) { m_modeFlag = flag; }
    uint32_t ModeFlag() const { return m_modeFlag; }
    int Address() const { return m_address; }

    std::string GetErrorText(int code) override;
    static uint32_t GetMaxPLU() { return kDibalMaxPlu; }

    // ---- jobs ----
    // The bulk transfer. `next` fills the next item and returns 1 while
    // items remain; `failed` reports an item that did not go out (its code
    // is in m_nError). An item refused while its record is built is
    // reported and skipped; an "X1" not accepted ends the items (it and
    // every later one are reported); an "X2" not accepted reports its item.
    // The end record is sent unless the job was broken off. 1 only when
    // every item went out and the end record was accepted; else 0 with the
    // last failure's code.
    int SendItems(const std::function<int(DibalItem&)>& next, const std::function<void()>& failed);
    // One item to the scale address (poll, addressed "X1", EOT). 1 / 0.
    int SendItem(const DibalItem& item);
    // Asks for the goods records and hands each "X1" to `deliver`. 1 when
    // the records ended normally (silence, or a stray byte refused three
    // times); 0 on a refused request, a transport failure or a record frame
    // that could not be read in three attempts (999).
    int ReadRegisters(const std::function<void(const DibalItem&)>& deliver);

    // ---- records ----
    // 1 with the 128-character record, or 0 with 105, 109 or 999.
    int BuildItemRecord(const DibalItem& item, CChrArr& out);
    int BuildTextRecord(const DibalItem& item, CChrArr& out);
    // 1 with the item, or 0 with 999 (wrong length or kind).
    int ParseItemRecord(const CChrArr& record, DibalItem& out);
    static CChrArr ControlRecord(const char* text);      // padded to 128
    static CChrArr DateField(const char* date);          // ddmmyy, or "000000"
    static CChrArr PrepareText(const char* text);        // the "|" walk, CP852, 48 characters
    static CChrArr ToDeviceText(const CChrArr& s);
    static CChrArr FromDeviceText(const CChrArr& s);
    static uint8_t CalcChecksum(const CChrArr& bytes);

    // ---- link ----
    static CChrArr PlainFrame(const CChrArr& payload);
    CChrArr AddressedFrame(const CChrArr& payload) const;
    CChrArr PollBytes() const;
    int SendFrame(const CChrArr& payload);
    int SendAddressedFrame(const CChrArr& payload);
    int Poll();
    int SendEot();
    int Enquire();
    // 1 with a 128-byte record; 0 with m_nError 0 when the records ended
    // normally, else 0 with the error.
    int ReadRecord(CChrArr& record);

private:
    int SendBytes(const CChrArr& bytes);
    // The byte read (5 s), or -1 when none came; a transport failure other
    // than the time-out leaves its code in m_nError (silence leaves it as it
    // was).
    int ReadByte();
    // A transport failure (other than silence) is what stopped the exchange.
    bool TransportFailed() const { return m_nError < 0; }
    int WaitDrained();

    int m_address = 1;
    uint32_t m_modeFlag = 0;
};
