// CMedesa: the Medesa scale protocol over a serial line (type 100). Every
// job is one frame "||" + escaped (address, 00, job code, data, checksum) +
// "}"; the line returns the frame sent, then the scale's answer frame.
// Goods records travel in nine blocks of one job code, departments and VAT
// rates in their own jobs; numbers are packed BCD.
#pragma once

#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// One goods record as the logic hands it over and gets it back.
struct MedesaPlu {
    uint32_t plu = 0;            // 1..10000
    std::string code;            // at most 13 characters
    std::string name;            // at most 24
    uint32_t labelType = 0;      // 0..3
    double price = 0.0;
    double price2 = 0.0;
    uint32_t vatGroup = 0;       // 1..4
    uint32_t department = 0;     // 1..39
    uint32_t flags = 0;          // bit 0, bit 1
    std::string dateText;        // "dd.mm.yy", at most 15
    uint32_t dayCount = 0;       // 0: the date text holds
    uint32_t marker = 0;
    std::string lines[8];        // at most 24 each
};

struct MedesaDept {
    uint32_t number = 0;         // 1..39
    std::string name;            // at most 24
};

enum : int {
    MDS_ERR_USB_TIMEOUT = 21,
    MDS_ERR_PLU_RANGE = 105,
    MDS_ERR_PRICE_RANGE = 109,
    MDS_ERR_DEPT_RANGE = 110,
    MDS_ERR_BAD_FRAME = 9999,
};

class CMedesa : public CTelepathyECR {
public:
    static constexpr uint16_t kReadVat = 0x4B21;
    static constexpr uint16_t kReadDept = 0x4B02;
    static constexpr uint16_t kWriteDept = 0x4C02;
    static constexpr uint16_t kReadPlu = 0x4B01;
    static constexpr uint16_t kWritePlu = 0x4C01;
    static constexpr int kBlocks = 9;     // block 0 and the eight line blocks

    CMedesa();

    // ---- the frame ----
    static uint8_t Checksum(const CChrArr& payload);
    static CChrArr Escape(const CChrArr& bytes);
    static CChrArr Unescape(const CChrArr& bytes);
    // "||" + escaped payload and checksum (without the closing "}").
    static CChrArr FrameHead(const CChrArr& payload);
    // The body of a valid frame (more than 8 bytes, "||" ... "}", the
    // checksum right), checksum removed; false for an invalid one.
    static bool FrameBody(const CChrArr& frame, CChrArr& body);
    // Packed BCD: two digits a byte, an odd count leaves a 0 low nibble; a
    // non-digit gives an empty result.
    static CChrArr PackBcd(const std::string& digits);
    // Two digits a byte; a high nibble F reads "-", the nibbles A..E "?".
    static std::string UnpackBcd(const CChrArr& bytes);

    // ---- records ----
    // The nine write payloads' data of a PLU (after the four header bytes),
    // each checked: 0 and the code (105, 109, 110, 9999) when any fails.
    int BuildPluBlocks(const MedesaPlu& plu, CChrArr blocks[kBlocks]);
    static void ParsePluBlock(int block, const CChrArr& reply, MedesaPlu& plu);

    // ---- transport (the USB class replaces these) ----
    virtual int OpenScale(int port, int baud, uint8_t address);
    virtual int CloseScale();
    virtual int Send(uint16_t job, const CChrArr& payload);
    virtual int Receive(uint16_t job, CChrArr& reply);
    // The job codes whose answers Receive takes (else 9999).
    static bool KnownJob(uint16_t job);
    // Line control around every job (serial: RTS and DTR off).
    virtual void LineIdle();

private:
    // Reads one frame up to its "}" within whole seconds; 0 with the error
    // set (a read given up on leaves the line unsettled).
    int ReadFrame(CChrArr& frame, int seconds);
public:

    // ---- jobs (attempts: 0 counts as 1) ----
    int ReadVatRates(double vat[8], int attempts);
    int ReadDept(MedesaDept& dept, int attempts);
    int WriteDept(const MedesaDept& dept, int attempts);
    int ReadPlu(MedesaPlu& plu, int attempts);     // the whole record, by plu.plu
    int WritePlu(const MedesaPlu& plu, int attempts);

    std::string GetErrorText(int code) override;

    uint8_t Address() const { return m_address; }

protected:
    // One job: payload out, answer body back, `replySize` bytes long. A read
    // names what it asks for (`names`, the bytes its answer carries from
    // byte 4: the PLU number, the department number).
    int Job(uint16_t job, const CChrArr& data, int replySize, CChrArr& reply, int attempts,
            const CChrArr& names = CChrArr());
    // An answer that names another record than the one asked for is a late
    // answer to an earlier request: not the answer.
    bool NamesAnother(const CChrArr& body) const;
    // A write's 7-byte answer must carry CC at byte 2.
    int Accepted(const CChrArr& reply);
    CChrArr Payload(uint16_t job, const CChrArr& data) const;

    uint8_t m_address = 0;
    CChrArr m_names;   // what the answer being waited for names (empty: anything)
    int m_constA = 1;
    int m_constB = 5;
};
