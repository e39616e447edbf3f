// CElcom50: the Elcom 50 registers' line protocol. Every request and reply is
// one line of TAB-separated fields ended by LF, in code page 1250:
//
//   request:  COMMAND TAB "REQ" [TAB params] LF
//   reply:    COMMAND TAB "RSP" [TAB status [TAB field ...]] LF
//
// Device data is exchanged as rows of named tables (PLU, DPT, MEASUREUNIT,
// TAXGROUP): "SETHEAD" names the table and its columns, then "SETREC" writes
// or "GETREC" reads one row. Every operation below is one whole connection
// ("CONNECT" ... "DISCONNECT") and returns 1, or 0 with the error stored.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "comm/telepathy_ecr.h"
#include "util/chrarr.h"

// Own error codes of this protocol.
enum : int {
    EL50_ERR_SHORT_WRITE = 10,     // fewer bytes written than the request holds
    EL50_ERR_TAX_GROUP = 103,      // PLU tax group not in 1..7
    EL50_ERR_PLU_NUMBER = 105,     // PLU number 0 or above the model's maximum
    EL50_ERR_PRICE = 109,          // price negative or out of range
    EL50_ERR_DEPT_NUMBER = 110,    // department number not in 1..20
    EL50_ERR_UNIT_NUMBER = 111,    // unit number not in 1..8
    EL50_ERR_PLU_UNREADABLE = 202, // fields of a single PLU read do not parse
    EL50_ERR_BAD_REPLY = 999,      // wrong reply head, missing fields, link above 20
};

constexpr int kEl50NameWidthModel24 = 24;
constexpr int kEl50NameWidthModel25 = 42;
constexpr int kEl50BarcodeWidth = 18;
constexpr int kEl50Departments = 20;
constexpr int kEl50Units = 8;
constexpr int kEl50UnitNameWidth = 4;      // as read
constexpr int kEl50UnitNameSent = 3;       // as written
constexpr int kEl50TaxGroups = 7;
constexpr uint32_t kEl50MaxLink = 20;
constexpr double kEl50MaxPrice = 99999999.99;

// The protocol's own PLU record.
struct Elcom50Plu {
    uint32_t number = 0;
    char barcode[kEl50BarcodeWidth + 1] = {0};
    char name[kEl50NameWidthModel25 + 1] = {0};
    uint32_t taxGroup = 0;          // 1..7
    double price = 0.0;
    uint32_t otherPrice = 0;        // written "1" for 1, else "0"; read back as 1 or 2
    uint32_t department = 0;
    uint32_t unit = 0;              // 1..8; 0 or above 8 is sent (and kept) as 1
    uint32_t link = 0;              // 0 none, at most 20
};

// Sale figures read beside a PLU record.
struct Elcom50Sale {
    uint32_t number = 0;
    char barcode[kEl50BarcodeWidth + 1] = {0};
    char name[kEl50NameWidthModel25 + 1] = {0};
    double quantity = 0.0;
    double amount = 0.0;
};

struct Elcom50Dept {
    uint32_t number = 0;
    char name[kEl50NameWidthModel25 + 1] = {0};
};

struct Elcom50Unit {
    uint32_t number = 0;
    char name[kEl50UnitNameWidth + 1] = {0};
};

class CElcom50 : public CTelepathyECR {
public:
    CElcom50();
    ~CElcom50() override;

    using CTelepathyECR::Open;
    // 2048-byte queues, the baud, 8N1, both directions flushed.
    int Open(int port, int baud) override;

    void SetDeviceType(int setting, int model);
    int GetModel() const { return m_nModel; }
    int GetMaxRecord() const;
    int GetNameWidth() const;
    int GetSetting() const { return m_nSetting; }

    // ---- link ----
    int SendRequest(const CChrArr& command, const CChrArr& params);
    int SendLine(const CChrArr& line);
    CChrArr ReadReply(int maxLength);
    int CheckReply(const CChrArr& command, CChrArr& data);
    int Connect();
    int Disconnect();
    CChrArr ReadBytes(int n);

    // Field splitting: the text up to the first separator is taken off `rest`.
    static CChrArr NextField(CChrArr& rest);
    static CChrArr SplitField(CChrArr& rest, uint8_t separator);

    // ---- device operations (whole connections) ----
    int ClearSale();
    int WritePlu(Elcom50Plu& record);
    int DeletePlu(const Elcom50Plu& record);
    int WriteDepartments(const Elcom50Dept& record);
    int WriteUnits(const Elcom50Unit& record);
    using PluSink = std::function<void(const Elcom50Plu&)>;
    using SaleSink = std::function<void(const Elcom50Plu&, const Elcom50Sale&)>;
    int ReadAllPlu(const PluSink& sink);
    int ReadPlu(Elcom50Plu& record);
    int ReadSale(const SaleSink& sink);
    int ReadDepartments(Elcom50Dept table[kEl50Departments]);
    int ReadUnits(Elcom50Unit table[kEl50Units]);
    int ReadTaxGroups(double rates[8]);
    int ReadDeviceInfo(std::string& text);

    // Inside an open connection.
    int GetDevInfo(CChrArr& data);
    int GetDevState(int& state);

    // ---- record building (no traffic) ----
    // Range checks of a PLU before any traffic: 105, 103, 109, 999; the unit
    // 0 or above 8 becomes 1 in the record.
    int CheckPlu(Elcom50Plu& record);
    CChrArr BuildPluRecord(Elcom50Plu& record) const;
    static CChrArr FormatPrice(double price);

    // ---- codes and texts ----
    static int MapErrorCode(uint32_t code);
    std::string GetErrorText(int code) override;

    // Status field of a reply: decimal text, "24.00" allowed, signed or
    // unsigned 32-bit forms; false when it is not a number.
    static bool ParseStatus(const CChrArr& field, uint32_t& status);

private:
    // Before a request: lets earlier output leave (else -5 or the port's
    // code) and drops stale input.
    int ClearLine();
    int Request(const char* command, const CChrArr& params, CChrArr& data);
    int RequestStatus(const char* command, const CChrArr& params, CChrArr& data);
    int SetHead(const CChrArr& columns);
    int WriteRecord(const CChrArr& head, const CChrArr& values);
    int ConnectionBody(const std::function<int()>& body);
    int ConnectExchange(const char* command);
    int ReadPluFields(CChrArr& data, Elcom50Plu& plu, Elcom50Sale& sale) const;
    int WalkPlu(const std::function<void(const Elcom50Plu&, const Elcom50Sale&)>& each);
    // Reads rows 1..count of a name table ("DPT", "MEASUREUNIT"): an empty
    // name is taken as "---"; progressText holds one %i for the row number.
    int ReadNameRows(const char* head, const char* table, int count, const std::string& progressText,
                     const std::function<void(int row, const CChrArr& name)>& store);
    int FailIfClear(int code);

    int m_nModel = 24;
    int m_nMaxRecord = 1980;
    int m_nSetting = 1;
};
