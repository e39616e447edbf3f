// CHida: the Hida registers' link (9600 8N1 with the CTS wait, reads within
// 5 s) on the shared record link. Every job opens the link with ENQ (the
// register's ACK), sends a header block 'S' naming the job, for programming
// a data block 'D', and ends its turn with EOT; for reads the register then
// opens its turn with ENQ and sends fixed-length reply blocks until its EOT.
// DLE ',' from the register asks for the link to be opened again; DLE '@'
// announces a 13-character status block holding its error code.
#pragma once

#include <cstdint>
#include <functional>

#include "drivers/common/record_link.h"

// A goods record as the register keeps it.
struct HidaPlu {
    CChrArr code;          // at most 13 characters (sent left-padded with '0')
    CChrArr name;          // code page 1250; 12 characters are sent
    uint32_t dept = 0;     // 0..99, 255 (sent as "FF")
    double price = 0.0;
    int32_t vat = -1;      // 1..8, -1: none
    uint32_t flag = 0;     // the VAT flag word: 1 sends "01"
    uint32_t linked = 0;   // linked PLU number 0..9999
};

// A department as the register keeps it.
struct HidaDept {
    uint32_t number = 0;   // 0..99 (read: 1..20)
    CChrArr name;          // code page 1250; 12 characters are sent
    int32_t vat = -1;      // read from the register; always sent as none
    double price = 0.0;
    uint32_t second = 0;   // the two-digit second value
    uint32_t flag = 0;     // the VAT flag word
};

// One line of a sales read.
struct HidaSale {
    CChrArr code;          // 13 characters
    double quantity = 0.0;
    double value = 0.0;
};

class CHida : public CRecordLink {
public:
    static constexpr int kLinkAttempts = 7;
    static constexpr int kPluLength = 47;
    static constexpr int kDeptLength = 31;
    static constexpr int kStatusLength = 13;
    static constexpr int kFirstSaleLength = 34;
    static constexpr int kSecondSaleLength = 32;
    static constexpr int kDepartments = 20;
    // A list longer than this is no register's.
    static constexpr int kMaxBlocks = 65536;

    CHida();

    std::string GetErrorText(int code) override;

    static CChrArr Cp1250ToDevice(const CChrArr& text) { return Cp1250ToDsp800(text); }
    static CChrArr DeviceToCp1250(const CChrArr& text) { return Dsp800ToCp1250(text); }

    // ---- texts ----
    // The 39-character header: register number twice, job letter, transfer
    // kind, from and to keys (13 each, blanks trimmed, '0' on the left), the
    // flag and the date field.
    static CChrArr BuildJobHeader(uint8_t job, uint8_t kind, const CChrArr& from, const CChrArr& to, uint8_t flag);
    // The 47-character goods text with operation '0' (program) or '2'
    // (delete); 1, or 0 with 999 (code, department, linked PLU), 103 (VAT
    // group) or 109 (price).
    int BuildPluText(const HidaPlu& plu, uint8_t operation, CChrArr& out);
    // The 31-character department text; 1, or 0 with 999 (number or second
    // value above 99) or 109 (price).
    int BuildDeptText(const HidaDept& dept, CChrArr& out);
    // The VAT field "GGFF": 1, or 0 with 103 (group above 8) or 999 (not
    // digits).
    int ParseVatField(const CChrArr& field, int32_t& vat, uint32_t& flag);
    // Reply blocks; 1, or 0 with 103 or 999 (a field that is not digits).
    int ParsePluText(const CChrArr& text, HidaPlu& plu);
    int ParseDeptText(const CChrArr& text, HidaDept& dept);
    // A sale line of the first (value of 9 digits) or second pass (7).
    int ParseSaleText(const CChrArr& text, int valueDigits, HidaSale& sale);

    // ---- link ----
    // Opens the link: the output drained, the input emptied, then ENQ until
    // the register answers ACK (at most 7; DLE ',' asks for another). 1 / 0.
    int Link();

    // ---- jobs (1, or 0 with the error) ----
    int ProgramPlu(const HidaPlu& plu);
    int DeletePlu(const HidaPlu& plu);
    // The goods record of plu.code (its first 13 characters); 10 when the
    // register has none.
    int ReadOnePlu(HidaPlu& plu);
    int ReadAllPlu(const std::function<void(const HidaPlu&)>& fn);
    int ProgramDept(const HidaDept& dept);
    int ReadAllDept(const std::function<void(const HidaDept&)>& fn);
    // The first pass hands on every line, the second those with a quantity.
    int ReadSales(const std::function<void(const HidaSale&)>& fn);
    int ClearSales();

protected:
    int ReadDeviceError(int& code) override { return ReadStatusFrame(code); }
    // After silence or a stray byte in answer to a block: the link is opened
    // again and the block sent again.
    int Recover(const CChrArr&) override { return Link() ? 1 : 0; }
    int NewLink() override { return Link(); }

private:
    // The PC's turn ended with EOT, and the step fails with code (a break
    // stays); 0.
    int EndTurnFailing(int code);
    // A break, then the link and the header block.
    int StartJob(const CChrArr& header);
    // The header and a data block, then the PC's EOT and the register's.
    int SendJob(const CChrArr& header, const CChrArr& data);
    // The header, the PC's EOT and the register's ENQ answered.
    int StartRead(const CChrArr& header);
    // Reply blocks of one length until the register's EOT, each handed to fn.
    int ReadList(const CChrArr& header, int length, const std::function<void(const CChrArr&)>& fn);
    int ReadSalePass(uint8_t job, int length, int valueDigits, bool withQuantityOnly,
                     const std::function<void(const HidaSale&)>& fn);
};
