// CSharp227: the Sharp 227 registers (type 74): a command frame (one
// letter), comma-separated text records in data blocks and an end block,
// each answered with ACK or NAK; reads run the other way. No selection, job
// codes or file headers; 9600 baud, 8 data bits, odd parity whatever the
// host's baud.
#pragma once

#include <string>
#include <vector>

#include "drivers/sharp/sharp_port.h"

class CSharp227 : public CSharpPort {
public:
    static constexpr uint8_t STX = 0x02;
    static constexpr uint8_t ETX = 0x03;
    static constexpr uint8_t ACK = 0x06;
    static constexpr uint8_t NAK = 0x15;
    static constexpr uint8_t SUB = 0x1A;

    using CTelepathyECR::Open;
    int Open(int port, int baud) override;
    // The class keeps no options.
    int SetOptions(int machineNo, int flags);

    // ---- frames ----
    static CChrArr CommandFrame(uint8_t letter);
    static CChrArr DataFrame(const CChrArr& record);
    static CChrArr EndFrame(const CChrArr& allRecords);
    int SendCommand(uint8_t letter) { return SendFrame(CommandFrame(letter)); }
    int SendDataBlock(const CChrArr& record) { return SendFrame(DataFrame(record)); }
    int SendEndBlock(const CChrArr& allRecords) { return SendFrame(EndFrame(allRecords)); }
    // One data block (its text) or the end block (end set, empty text).
    CChrArr AnswerFrame(bool& end);

    // ---- operations ----
    int ClearSales();
    int SendPLUs(const SharpPluRow* rows, int count);
    int DeletePLUs(const SharpPluRow* rows, int count);
    int SendDepartments(const SharpDeptRow* rows, int count);
    int ReadAllPLUs(const SharpPluFn& fn);
    int ReadDepartments(const SharpDeptFn& fn);
    int ReadSales(const SharpSaleFn& fn);
    int NotSupported();

    // ---- records (1, or 0 with the error and an empty record) ----
    int BuildPLURecord(const SharpPluRow& row, int mode, CChrArr& out);   // mode 0 program, 1 delete
    int BuildDeptRecord(const SharpDeptRow& row, CChrArr& out);
    int ParsePLURecord(const CChrArr& record, SharpPluRow& row);
    int ParseDeptRecord(const CChrArr& record, SharpDeptRow& row);
    int ParseSaleRecord(const CChrArr& record, SharpSaleRow& row);

private:
    int SendFrame(const CChrArr& frame);
    int Write(uint8_t command, const std::vector<CChrArr>& records);
    template <class Row, class Build>
    int WriteRows(uint8_t command, const Row* rows, int count, Build build);
    // fn parses a record, calls announce with the event 5 text and only
    // then hands the row to the host.
    using Announce = std::function<void(const std::string& text)>;
    int Read(uint8_t command, const std::function<int(const CChrArr&, const Announce& announce)>& fn);
    int Key(const SharpPluRow& row, CChrArr& key);
};
