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

#include "drivers/sharp/sharp_port.h"
#include "drivers/sharp/sharp_records.h"
#include "drivers/sharp/sharp_traits.h"
#include "util/chrarr.h"

class CSharpLink : public CSharpPort {
public:
    static constexpr uint8_t STX = 0x02;
    static constexpr uint8_t EOT = 0x04;
    static constexpr uint8_t ENQ = 0x05;
    static constexpr uint8_t ACK = 0x06;
    static constexpr uint8_t NAK = 0x15;

    explicit CSharpLink(const SharpTraits& traits);
    ~CSharpLink() override;

    const SharpTraits& Traits() const { return m_traits; }

    using CTelepathyECR::Open;
    // The host's baud, 7 data bits, odd parity, 1 stop bit.
    int Open(int port, int baud) override { return OpenLine(port, baud, 7, 'O'); }

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

    // ---- handshakes ----
    int SendEOT() { return SendByte(EOT); }
    static int IsACK(uint8_t byte) { return byte == ACK ? 1 : 0; }
    int AnswerENQ();
    int ExpectEOT();

    // ---- blocks ----
    CChrArr SelectionBytes() const;
    int Select();
    int SendBlock(int number, const CChrArr& data);
    CChrArr ReadBlock(int number);
    CChrArr ReadFixedBlock(int number, int length);
    int ReadDeviceError(CChrArr& record);
    int ParseErrorReply(const CChrArr& record);
    int CheckResult();

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
    // A register that never ends its file is given up (9999) once a read
    // has taken this many data blocks without the last one.
    int m_nMaxFileBlocks = 65536;

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
    int EndByRegister();
    // The number or the decoded barcode of a record key; 0 with 9999.
    int ParseKey(const CChrArr& key, uint32_t& number, char* code, size_t codeSize);
    // A one-record read: only a record of that key answers it; 1404 when
    // the file ends without one.
    int ReadOneGoods(uint32_t file, const CChrArr& key, const SharpPluFn& fn);
    bool m_bInResult = false;   // fetching the result record
};
