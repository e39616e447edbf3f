// The Sharp block link and everything built on it that the register models
// share: selection by machine number, checksummed blocks with ACK/NAK/EOT
// handshakes, the result record, the job codes, the "/HDR1/" file header,
// data blocks, write and read transfers, and the goods, department, sale
// and tax-rate records. What differs between the models is data
// (SharpTraits); the protocol classes (CSharp457, CSharp455, CSharp277,
// CSharp285, ...) only choose their traits and name their operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/telepathy_ecr.h"
#include "drivers/sharp/sharp_records.h"
#include "drivers/sharp/sharp_traits.h"
#include "util/chrarr.h"

class CSharpLink : public CTelepathyECR {
public:
    static constexpr uint8_t STX = 0x02;
    static constexpr uint8_t EOT = 0x04;
    static constexpr uint8_t ENQ = 0x05;
    static constexpr uint8_t ACK = 0x06;
    static constexpr uint8_t NAK = 0x15;
    static constexpr uint8_t CR = 0x0D;

    explicit CSharpLink(const SharpTraits& traits);
    ~CSharpLink() override;

    const SharpTraits& Traits() const { return m_traits; }

    using CTelepathyECR::Open;
    // 1024-byte queues, the host's baud, 7 data bits, odd parity, 1 stop
    // bit, both queues flushed. 1, or 0 with the error (the line is closed
    // again when it was opened).
    int Open(int port, int baud) override;
    void Close();
    std::string GetErrorText(int code) override { return SharpErrorText(code); }

    // ---- options ----
    // Reads the device record's option flags as the class does; returns
    // the machine number.
    int ApplyOptions(int machineNo, int flags);
    int NameWidth() const { return m_traits.NameWidth(m_nNameMode); }
    int DeptNameWidth() const;

    int m_nNameMode;          // 15, 1 or 0
    int m_nSecondOption = 1;
    int m_nBarcodeOption = 1;
    int m_nThirdOption = 0;
    int m_nFifthOption = 1;
    int m_nMachine = 1;
    int m_nPsModel = 0;       // the 277 PS models key goods by barcode

    // ---- bytes ----
    int SendBytes(const CChrArr& bytes);
    int SendByte(uint8_t byte) { return SendBytes(CChrArr(1, byte)); }
    int SendEOT() { return SendByte(EOT); }
    CChrArr ReadBytes(int count);
    uint8_t ReadByte();
    CChrArr ReadUntilCR(int maxLength);
    static int IsACK(uint8_t byte) { return byte == ACK ? 1 : 0; }
    int AnswerENQ();
    int ExpectEOT();
    // A pause that a break ends: 1, or 0 with -7.
    int Pause(double seconds);

    // ---- blocks ----
    static uint8_t Checksum(const CChrArr& bytes);
    CChrArr SelectionBytes() const;
    int Select();
    int SendBlock(int number, const CChrArr& data);
    CChrArr ReadBlock(int number);
    CChrArr ReadFixedBlock(int number, int length);
    int ReadDeviceError(CChrArr& record);
    int ParseErrorReply(const CChrArr& record);
    int CheckResult();
    // The transport code behind the last failure when the register did
    // not answer or the port failed (-1..-10 but -7), else 0: a 9999 may
    // stand for silence.
    int NoAnswerCode() const { return m_nNoAnswer; }

    // ---- job codes, header, data blocks ----
    // The 5-character job code ("10-00", ...), empty for a job not in the
    // class's table.
    std::string JobCodeText(int job, int subCode) const;
    int SendJobCode(int number, int job, int subCode, const std::string& argument);
    int HeaderLength() const { return 26 + 2 * m_traits.headerFields; }
    CChrArr FormatHeader(const SharpHeader& header) const;
    int SendHeader(int number, const SharpHeader& header);
    int ParseHeader(const CChrArr& text, SharpHeader& header) const;
    int ReadHeader(SharpHeader& header);
    int SendDataBlocks(int number, uint32_t first, uint32_t second, bool last, const CChrArr& record);
    static bool ParseDataBlock(const CChrArr& text, uint32_t& first, uint32_t& second, CChrArr& rest);
    int SplitRecord(const CChrArr& record, const SharpHeader& header, CChrArr& key,
                    std::vector<CChrArr>& fields) const;

    // ---- headers of the files ----
    enum class Keying { ByNumber, ByBarcode };
    SharpHeader GoodsHeader(Keying keying, bool withNames) const;
    SharpHeader PricesHeader(Keying keying) const;
    SharpHeader DeleteHeader(Keying keying) const;
    SharpHeader DeptHeader() const;

    // ---- record builders (1, or 0 with the error and an empty record) ----
    int BuildGoodsRecord(const SharpHeader& header, const SharpPluRow& row, Keying keying, CChrArr& out);
    int BuildDeptRecord(const SharpHeader& header, const SharpDeptRow& row, CChrArr& out);
    int NumberKey(uint32_t number, CChrArr& key);
    int BarcodeKey(const char* code, CChrArr& key);
    int PriceField(double price, CChrArr& out);
    CChrArr NameField(const char* name, int width) const;

    // ---- record parsers (1, or 0 with 9999) ----
    int ParseGoodsRecord(const SharpHeader& header, const CChrArr& record, SharpPluRow& row);
    int ParseDeptRecord(const SharpHeader& header, const CChrArr& record, SharpDeptRow& row);
    int ParseSaleRecord(const SharpHeader& header, const CChrArr& record, SharpSaleRow& row);
    int ParseVatRecord(const SharpHeader& header, const CChrArr& record, double vat[8]);

    // ---- transfers ----
    // Writes one file: every record is built before the register is
    // selected; a refused row fails the call with its code and nothing is
    // sent. `texts` are the event 5 texts, one per record.
    int WriteFile(int subCode, const SharpHeader& header, const std::vector<CChrArr>& records,
                  const std::vector<std::string>& texts, bool itemPercent = false);
    // Reads one file: the request, the header and every record, each handed
    // to `fn` (1 to go on, 0 failed with the error set). `records` gets the
    // number of records read.
    using RecordFn = std::function<int(const SharpHeader&, const CChrArr&)>;
    int ReadFile(int subCode, const std::string& argument, const RecordFn& fn, const char* event, int* records = nullptr);

    // ---- operations ----
    int SendGoods(const SharpPluRow* rows, int count, Keying keying, bool withNames, bool pricesOnly);
    int DeleteGoods(const SharpPluRow* rows, int count, Keying keying, const char* event = nullptr);
    int SendDepts(const SharpDeptRow* rows, int count);
    int ClearCounters(int byNumber);
    int ReadGoods(Keying keying, const SharpPluFn& fn);
    int ReadGoodsByNumber(const SharpPluRow& request, const SharpPluFn& fn);
    int ReadGoodsByBarcode(const SharpPluRow& request, const SharpPluFn& fn);
    int ReadDepts(const SharpDeptFn& fn);
    int ReadSaleFile(int subCode, Keying keying, const SharpSaleFn& fn);
    int ReadVATRates(double vat[8]);

    // The key of a whole-file or sale request: `head` padded with "0".
    std::string RequestKey(const std::string& head, int fileKeyChars) const;
    static std::string FileData(uint32_t fileId);

protected:
    const SharpTraits& m_traits;

private:
    enum class BlockResult { Data, Eot, Failed };
    BlockResult ReadReplyBlock(int number, int fixedLength, bool allowEot, CChrArr& data);
    void NoteTransport(int code);
    // The bytes of a read, dumped; empty (error stored) after a port error.
    CChrArr TakeRead(CChrArr bytes, void (*dump)(const CChrArr&));
    void BeginTransfer();
    int EndByRegister();
    int Failed(int fallback = kSharpNoAnswer);

    int m_nNoAnswer = 0;
    bool m_bInResult = false;   // fetching the result record
};
