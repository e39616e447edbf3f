// The DSA/DSP register link: ASCII frames STX body checksum ETX with a
// rolling sequence number, one-byte acknowledgements, the reply reader with
// junk skipping, the reply check with the device's "ERR" answers, the
// device character set, the record builders and the record, query and
// sale-stream operations. The four protocol classes (CDsa100, CDsa45B,
// CDsa4000, CDsp500) derive from it and differ only in their traits,
// layouts, capacities and error tables.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "drivers/common/error_table_b.h"
#include "util/chrarr.h"

// A department as the logic hands it to the protocol object.
struct DsaDeptRecord {
    uint32_t number = 0;
    char name[17] = {};      // at most 16 characters, CP1250
    uint32_t taxGroup = 0;   // 1..7
    double amount = 0.0;
    uint32_t flag = 0;       // 1 set, anything else clear
    double limit = 0.0;
};

// A goods item (PLU) as the logic hands it to the protocol object.
struct DsaPluRecord {
    uint32_t number = 0;
    char barcode[14] = {};   // at most 13 characters
    char name[21] = {};      // at most 16 characters (20 on the DSP 500)
    uint32_t dept = 0;
    double price = 0.0;
    uint32_t flag = 0;
    double quantity = 0.0;
};

// One line of the sale counters.
struct DsaSaleLine {
    uint32_t plu = 0;
    double quantity = 0.0;
    double value = 0.0;
};

// Receives each sale line with a PLU record holding only its number.
using DsaSaleLineFn = std::function<void(const DsaPluRecord&, const DsaSaleLine&)>;

// Fixed properties of one protocol class.
struct DsaTraits {
    int minBody;         // shortest frame body that is sent
    bool deviceNumber;   // the 2-digit device number follows "V"
    int fixedBaud;       // 0: the host's baud rate
    int dataBits;
    char parity;         // 'N', 'E' or 'O'
    bool dataLog;        // every frame also goes to the data log
};

// Layout of the PLU record: the number, the name (16), the price (9), the
// department (2), then optionally the flag (1) and quantity (7), then
// optionally the barcode (13). Sent records and query replies share it.
struct DsaPluLayout {
    int numberDigits;
    bool flagAndQuantity;
    bool barcode;
    int Length() const { return numberDigits + 27 + (flagAndQuantity ? 8 : 0) + (barcode ? 13 : 0); }
};

// Layout of the department query reply (number 1-2, name 3-18, amount
// 19-27 at every class; flag and tax group positions differ).
struct DsaDeptLayout {
    int replyLength;
    int flagPos;   // 1-based
    int taxPos;    // 1-based, 2 digits
};

// A sale stream: the request, the line layout and how it ends.
struct DsaSaleStream {
    std::string command;
    std::string request;
    int lineLength = 24;
    int pluPos = 3;
    int pluDigits = 4;
    uint32_t endMarker = 9999;
    int quantityPos = 7;    // 9 digits, thousandths
    int valuePos = 16;      // 9 digits, hundredths
    std::string confirm;    // reply read after the end marker; empty: none
    int firstPercent = 0;
    int percentDivisor = 2730;
    bool unsignedPercent = false;
};

// A stream of sale lines "xx" + PLU number (4 or 5 digits) + quantity (9) +
// value (9), with the given request and end.
DsaSaleStream SaleLines(const std::string& command, const std::string& request, int pluDigits, uint32_t endMarker,
                        int percentDivisor);

class CDsaLink : public CTelepathyECR {
public:
    static constexpr uint8_t STX = 0x02;
    static constexpr uint8_t ETX = 0x03;
    static constexpr uint8_t ACK = 0x06;

    explicit CDsaLink(const DsaTraits& traits);
    ~CDsaLink() override;

    using CTelepathyECR::Open;
    // Opens the line with the class's settings (the baud is ignored by a
    // class with a fixed one), waits for CTS before writes, draws a new
    // sequence number and flushes both queues. 1, or 0 with the error.
    int Open(int port, int baud) override;
    // Closes the port (and the data log when one is kept).
    virtual void Close();

    // ---- what each class defines ----
    virtual uint32_t Capacity() const = 0;
    virtual uint32_t DeptCount() const = 0;
    virtual DsaPluLayout PluLayout() const = 0;
    virtual DsaDeptLayout DeptLayout() const = 0;
    virtual DsaSaleStream SaleStream(bool clearing) const = 0;
    virtual std::string CloseDeptCommand() const { return std::string(); }
    virtual std::string CloseGoodsCommand() const { return std::string(); }
    virtual DeviceErrorTable ErrorTable() const { return ErrorTableB; }
    // The device's answer meaning "this PLU is already there".
    int ExistsError() const { return ErrorTable() == ErrorTableB ? 1023 : 1022; }
    std::string GetErrorText(int code) override;

    // ---- link ----
    // One request frame and its ACK; anyLength lets a short body through.
    int SendFrame(const CChrArr& command, const CChrArr& data, bool anyLength = false);
    // The data part of one good reply frame, or empty (error set).
    CChrArr ReadFrame(int length);
    // The n data bytes after the command of the reply to `command`, or empty.
    CChrArr CheckReply(const CChrArr& command, int n);
    // Sends one ACK byte (5-second limits, no flush, same sequence).
    int SendAck();
    // A record operation: the request and a 2-byte answer. 1 / 0.
    int Exchange(const std::string& command, const CChrArr& data, bool anyLength = false);
    // A pause that a break ends early; 0, or -7 (also stored) on a break.
    int Pause(double seconds);

    // ---- device character set ----
    static CChrArr Encode(const CChrArr& text);
    static CChrArr Decode(const CChrArr& text);

    // ---- record builders (1, or 0 with the range error) ----
    int CheckPluNumber(uint32_t number);   // 105 outside 1..capacity or the field
    int CheckPrice(double price, uint64_t& hundredths);   // 109 when negative, NaN or over 9 digits
    int BuildDeptRecord(const DsaDeptRecord& rec, CChrArr& out);
    int BuildPluRecord(const DsaPluRecord& rec, CChrArr& out);
    int BuildDeleteRecord(uint32_t number, CChrArr& out);
    int BuildPriceChange(DsaPluRecord& rec, CChrArr& out);

    // ---- record operations ----
    int ProgramDept(const DsaDeptRecord& rec);                // "4001"
    int ProgramPlu(const DsaPluRecord& rec, bool asNew);      // "4059" / "4002"
    int ChangePrice(DsaPluRecord& rec);                       // "4060"
    int DeletePlu(uint32_t number);                           // "4002", department "00"
    int CloseDepts();
    int CloseGoods();

    // ---- reads ----
    virtual int QueryDept(uint32_t number, DsaDeptRecord& rec);   // "4201"
    int ReadDeptRecord(DsaDeptRecord& rec);
    virtual int QueryPlu(uint32_t number, DsaPluRecord& rec);     // "4202"
    int ReadPLURecord(DsaPluRecord& rec);
    int ReadSales(const DsaSaleLineFn& fn);
    int ClearSales(const DsaSaleLineFn& fn);
    int RunSaleStream(const DsaSaleStream& stream, const DsaSaleLineFn& fn);

    // The first sequence number of each Open is drawn from this generator;
    // tests seed it for repeatable frames.
    static void SeedSequence(uint32_t seed);

    uint32_t m_nVariant = 0;
    uint32_t m_nDevice = 1;
    uint32_t m_nModel = 0;
    uint32_t m_nSeq = 0;

protected:
    const DsaTraits m_traits;

    // Helpers for the layouts.
    static uint32_t Digits(const CChrArr& data, int pos, int len);   // 1-based
    static CChrArr Number(uint64_t value, int digits);
    static std::string FieldText(const CChrArr& bytes);             // trailing spaces and zeros cut

    // 1 when a request may go out; 0 with -3 (no line) or -7 (the user
    // broke the job off: nothing more goes to the register).
    int MaySend();
    // Writes the bytes (5 s) and waits for them to leave (5 s): 1, or 0
    // with the transport error (9999 for a short write).
    int WriteBytes(const CChrArr& bytes);
    // Up to n bytes within the (scaled) seconds.
    CChrArr ReadBytes(int n, int seconds);

private:
    void LogSent(const CChrArr& bytes);
    void LogReceived(const CChrArr& bytes);
};

// Table A of the first DSA 100 registers (model 0).
const char* ErrorTableA(int code);
