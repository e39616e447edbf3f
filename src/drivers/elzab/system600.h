// CSystem600: the Elzab binary protocol over a serial line. Every command
// is ESC + command byte, optional data, a one-byte answer (ACK or an error
// byte), for writes and reads by number a status byte, and for reads a reply
// of a fixed length. Device codes e are reported as e + 100.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// The driver's own goods record.
struct ElzabPlu {
    uint32_t number = 0;
    char barcode[16] = {};      // decimal; 13 digits at most as programmed, 15 as six bytes can hold
    char name[48] = {};         // code page 1250
    uint32_t vat = 0;           // tax group 1..8
    uint32_t dept = 0;
    double price = 0.0;
    uint32_t byte21 = 0;        // passed through unchanged
    uint32_t unit = 0;          // 1-based
    uint32_t byte23 = 0;        // passed through unchanged
    uint32_t byte34 = 0;        // passed through unchanged
};

// One record of a sales stream or of a sales counter.
struct ElzabSale {
    uint32_t plu = 0;
    int32_t quantityRaw = 0;
    uint8_t decimals = 0;
    int32_t valueRaw = 0;       // hundredths
    double quantity = 0.0;
    double value = 0.0;
    // Only the records of the 0xAD/0xAE stream carry these.
    bool hasPrice = false;
    uint32_t priceRaw = 0;      // hundredths
    uint8_t vat = 0;
};

class CSystem600 : public CTelepathyECR {
public:
    // Control bytes and commands.
    static constexpr uint8_t kEsc = 0x1B;
    static constexpr uint8_t kAck = 0x06;
    static constexpr uint8_t kNak = 0x15;
    static constexpr int kNoAnswer = 100;      // no answer byte came: 0 + 100
    enum Command : uint8_t {
        kReadEcrNumber = 0xC0,
        kReadStatusCode = 0xFF,
        kReadUniqueNumber = 0x71,
        kReadDateTime = 0x35,
        kReadReceiptNumber = 0x66,
        kReadVatRates = 0xD0,
        kReadPluCapacity = 0x91,
        kReadPlu = 0xAC,
        kLongName = 0x6B,
        kWritePlu = 0xA9,
        kWritePluBlock = 0x9E,
        kWritePluShort = 0x02,
        kUpdatePlu = 0xA6,
        kWriteBarcode = 0xEB,
        kDeletePlu = 0xF1,
        kWriteDept = 0xC6,
        kReadDept = 0xC7,
        kWriteUnit = 0xC4,
        kReadUnits = 0xC5,
        kReadSaleCounter = 0xCB,
        kReadSales = 0xA5,
        kReadSales2a = 0xA2,
        kReadSales2b = 0xA3,
        kReadSales3a = 0xAD,
        kReadSales3b = 0xAE,
        kClearSales = 0xA8,
        kPreShortWrite = 0xFE,
    };
    static constexpr uint8_t kStatusFlagCommands[4] = {'[', 'T', 'U', 'V'};

    // Record sizes on the wire.
    static constexpr int kPluDataLen = 37;        // 0xA9, 0x9E
    static constexpr int kPluShortDataLen = 32;   // 0x02
    static constexpr int kPluReplyLen = 35;       // 0xAC
    static constexpr int kNameLen = 19;
    static constexpr int kShortWriteNameLen = 20;
    static constexpr int kLongNamePart = 16;
    static constexpr int kUnitNameLen = 4;
    static constexpr int kSaleRecordLen = 11;     // 0xA5, 0xA2/0xA3
    static constexpr int kSale3RecordLen = 16;    // 0xAD/0xAE
    static constexpr int kMaxStreamRecords = 65536;

    CSystem600();

    // ---- link ----
    int Open(int port) override { return OpenPort(port, 9600); }
    int Open(int port, int baud) override { return OpenPort(port, baud); }
    int Open(int port, int baud, int waitTime, uint32_t registerNumber, uint32_t modelCode);
    int OpenPort(int port, int baud);
    int SendCommand(uint8_t command);
    int WriteBytes(const CChrArr& bytes);
    CChrArr ReadBytes(int n);           // does not clear the error
    // The answer byte (0..255), or -1 when nothing came (error set: 100 for
    // a silent register, else the transport's code).
    int ReadAnswerByte();
    static bool IsAck(int b) { return b == kAck; }
    static bool IsNak(int b) { return b == kNak; }
    std::string GetErrorText(int code) override;
    static const char* ElzabErrorText(int code);   // null outside the table
    // Connection kind 10: 0xFE and the channel byte, then DTR and RTS off.
    int SelectMuxChannel(int port, int lineFlag, int channel);

    // ---- commands ----
    int ReadEcrNumber(uint32_t& number);
    int CheckEcrNumber();                       // error 22 on a mismatch
    int ReadStatusCode(uint32_t& code);
    int ReadStatusText11(std::string& text);
    int ReadStatusTexts(std::string& date, std::string& time);
    int ReadStatusWord(uint32_t& value);
    int ReadStatusFlag(int index, uint32_t& value);
    int ReadVatRates(double rates[8]);
    int ReadPluCapacity(uint32_t& capacity);
    int ReadPluRecord(uint32_t number, ElzabPlu& plu);
    int WritePlu(const ElzabPlu& plu, bool updateMode);
    int WriteBarcode(const ElzabPlu& plu);
    int DeletePlu(uint32_t number);
    int WriteDept(uint32_t number, const char* name);
    int ReadDept(uint32_t number, std::string& name);
    int WriteUnit(uint32_t number, const char* name);
    int ReadUnits(std::string names[16]);
    int ReadPluSaleCounter(uint32_t number, ElzabSale& sale);
    // The sales streams; each record goes to fn. A stream ends with a record
    // that begins with 0xFF.
    using SaleFn = std::function<void(const ElzabSale&)>;
    int ReadPluSales(const SaleFn& fn);         // 0xA5, passes 0..3
    int ReadPluSales2(const SaleFn& fn);        // 0xA2 then 0xA3
    int ReadPluSales3(const SaleFn& fn);        // 0xAD then 0xAE
    int ClearSaleCounters();                    // 0xA8, then one 0x06

    // ---- per-model tables ----
    uint32_t GetModel() const { return m_nModel; }
    void SetModel(uint32_t model) { m_nModel = model; }
    uint32_t GetPluCapacity() const { return PluCapacity(m_nModel); }
    uint32_t GetDeptCapacity() const { return DeptCapacity(m_nModel); }
    static uint32_t PluCapacity(uint32_t model);
    static uint32_t DeptCapacity(uint32_t model);
    static bool HasLongNames(uint32_t model);       // 28, 30-34
    static bool UsesBlockWrite(uint32_t model);     // 17, 18, 28, 30-34
    static bool UsesShortWrite(uint32_t model);     // 21, 22
    static bool HasShortVatReply(uint32_t model);   // 1-5, 8, 10, 13
    uint32_t GetRegisterNumber() const { return m_nRegister; }
    int GetMuxFlag() const { return m_nMuxFlag; }
    int GetMuxChannel() const { return m_nMuxChannel; }

    // ---- field conversions ----
    // Leading decimal digits (the first non-digit ends them) as a 48-bit
    // number. Returns false when more than 13 digits lead the text.
    static bool BarcodeToNumber(const char* text, uint64_t& value);
    static CChrArr BarcodeBytes(uint64_t value);            // 6 bytes, LSB first
    static std::string BarcodeText(const CChrArr& six);     // "" for 0
    // trunc(price * 100 + 0.1); false for a negative, non-finite or too
    // large price.
    static bool PriceToWire(double price, uint32_t& value);
    // Code page 1250 -> CP852, cut or padded with spaces to width.
    static CChrArr NameField(const char* name, int width);
    static std::string NameFromWire(const CChrArr& bytes);  // CP852 -> 1250
    static double QuantityFromWire(int32_t raw, uint8_t decimals);

private:
    int DropStaleInput();
    int ExpectAck();
    int ReadStatusByte(bool raw);
    int ReadReply(int n, CChrArr& reply);
    int Exchange(uint8_t command, const CChrArr& data, CChrArr* reply, int replyLen);
    int ReadStream(int recordLen, const SaleFn& fn);
    static ElzabSale ParseSale(const CChrArr& rec);
    CChrArr PluData(const ElzabPlu& plu) const;

protected:
    uint32_t m_nRegister = 0;
    uint32_t m_nModel = 1;
    int m_nMuxFlag = 0;
    int m_nMuxChannel = 1;

private:
    bool m_bAnswerOverdue = false;   // the last read timed out
    bool m_bSilent = false;          // nothing came while waiting for an overdue answer
};

// Little-endian 2-byte PLU field.
CChrArr ElzabWord(uint32_t v);
