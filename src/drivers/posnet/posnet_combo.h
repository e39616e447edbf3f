// CPosnetCombo: the protocol object of the Posnet Combo, Neo and Bingo
// registers. It frames nothing itself: every exchange goes through the
// Posnet libraries (CComboLibrary), one request at a time:
//   build the request (POSS_...), wait for it (5000 ms), then take its
//   status (a write) or its results (POSG_..., a read), destroy it.
// The first nonzero code becomes the error and the operation returns 0.
// A break of the job is looked at before every request (-7); a wait inside
// the library cannot be broken.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comm/telepathy_ecr.h"
#include "drivers/posnet/combo_library.h"

// The Combo goods record (also a pack when the pack flag is set).
struct ComboPlu {
    uint32_t number = 0;       // 0 = none
    std::string code;          // at most 13 characters
    std::string name;          // at most 40 (model 2) or 24 characters
    uint32_t vat = 0;          // 1-based VAT group
    double price = 0.0;
    uint32_t unit = 0;
    uint32_t word1 = 0;
    uint32_t department = 0;
    uint32_t word2 = 0;
    uint32_t word3 = 0;
    uint32_t word4 = 0;
    uint32_t linked = 0;
    uint32_t word5 = 0;
    std::string code2;         // empty when read
    uint32_t pack = 0;         // 1: a pack
};

struct ComboGroup {
    uint32_t number = 0;
    std::string name;          // at most 24 characters
};

struct ComboUnit {
    uint32_t number = 0;
    std::string shortName;     // at most 4 characters
    std::string name;          // at most 24 characters
};

// One statistics or sale line as the driver hands it on.
struct ComboSaleLine {
    uint32_t kind = 0;         // sale records: 0 PLU set, 1 pack, 2 finished receipt
    uint32_t number = 0;       // receipt number of a finished receipt, else 0
    uint32_t plu = 0;
    std::string code, name;
    double quantity = 0.0;
    double value = 0.0;
};

class CPosnetCombo : public CTelepathyECR {
public:
    using PosHandle = orv::posnet::PosHandle;

    // Codes of this driver's own.
    static constexpr int kLoadError = 999999;        // library or entry point missing
    static constexpr int kBadAnswer = 9999;          // list ended by a record without a number; runaway list;
                                                     // a library code with its top bit set
    static constexpr int kCannotOpen = 5;            // open failed without a code of the library's
    static constexpr int kBreak = -7;
    // Library and register codes the driver looks at or gives.
    static constexpr int kBadValue = 0x010002;
    static constexpr int kTimeout = 0x010003;        // the library's wait ran out ("no answer")
    static constexpr int kBadHandle = 0x010006;
    static constexpr int kNoSaleRecords = 0x430321;
    static constexpr int kEndOfList = 0x4303CF;
    static constexpr int kNumberTooBig = 0x43038D;
    static constexpr int kBadBarcode = 0x430399;
    static constexpr int kBadVat = 0x43039C;
    static constexpr int kBadPrice = 0x43039E;

    static constexpr uint32_t kParamSerial = 0x20001;
    static constexpr uint32_t kParamUsb = 0x20007;
    static constexpr uint32_t kParamAddress = 0x20005;
    static constexpr uint32_t kParamTcpSetting = 0x20006;
    static constexpr uint32_t kOpenCommand = 101;
    static constexpr uint32_t kWaitMs = 5000;
    static constexpr uint32_t kOpenWaitMs = 60000;   // models 0 and 2
    static constexpr int kMaxListRecords = 1000000;
    static constexpr uint32_t kMaxNumber = 65535;

    CPosnetCombo();
    ~CPosnetCombo() override;

    void SetModel(int model) { m_nModel = model; }
    int GetModel() const { return m_nModel; }
    int NameLength() const { return m_nModel == 2 ? 40 : 24; }

    // Connection kinds: 1 serial, 2 USB, 3 TCP. 1 connected; 0 with the
    // error set (the device and the request released).
    int OpenDevice(int kind, uint32_t value, const char* text);
    int OpenSerial(int port, int baud);
    // Closes an open device once and forgets the handles.
    void CloseDevice();
    bool IsOpen() const { return m_hDevice != 0; }

    std::string GetErrorText(int code) override;
    // The text of the last error (the load failure's own text for 999999).
    std::string ErrorText();

    // ---- register operations (1 success, 0 failure with the error set) ----
    int ReadVAT(double vat[8]);
    int ReadStatus(std::string& text);
    using PluFn = std::function<void(const ComboPlu&)>;
    int ReadAllPlus(const PluFn& fn);
    // by 0: number, 1: barcode, 2: name; fills the record.
    int ReadPlu(ComboPlu& record, int by);
    int ProgramPLU(const ComboPlu& record, int update);
    int ProgramPack(const ComboPlu& record, int update);
    int DeletePLU(const ComboPlu& record);
    int InsertBarcode(uint32_t number, const std::vector<std::string>& codes);
    int InsertGroup(const ComboGroup& group);
    int InsertUnit(const ComboUnit& unit);
    using GroupFn = std::function<void(const ComboGroup&)>;
    int ReadAllDepts(const GroupFn& fn);
    using UnitFn = std::function<void(const ComboUnit&)>;
    int ReadAllUnits(const UnitFn& fn);
    using LineFn = std::function<void(const ComboSaleLine&)>;
    int ReadPluStats(const LineFn& fn, uint32_t flag = 0);
    int ReadPackStats(const LineFn& fn, uint32_t flag = 0);
    int ClearPluStats(const LineFn& fn);
    int ClearPackStats(const LineFn& fn);
    int ReadSaleRecords(const LineFn& fn);

    // Refusals made before any request: 0 when the record may go out, else
    // the code. insert: the VAT group is sent too.
    int CheckGoods(const ComboPlu& record, bool insert, bool byCode) const;
    // A code as it goes out: without trailing blanks; false when longer
    // than 13 characters.
    static bool WireCode(const std::string& code, std::string& out);
    // Price as the text of hundredths; false outside 0..21 474 836.47.
    static bool PriceText(double price, std::string& out);

    // Test seam: unloads the libraries, so the next Open loads them anew.
    static void ResetLibraryForTests();

private:
    int Fail(int code);
    static int LibraryCode(orv::posnet::PosCode code);
    int LibraryFailure(orv::posnet::PosCode code);
    bool Broken() { return m_pSerial && m_pSerial->IsAborted(); }
    bool LoadLibraries();
    void ReleaseRequest();
    void FailOpen(int code);
    // Sends a request: nonzero build result, null request or a wait that
    // did not end well fail (the request destroyed). 1 when the request
    // waits in the field for its status or results.
    int Send(const std::function<orv::posnet::PosCode(PosHandle*)>& build);
    // A whole write: Send, then the status.
    int Write(const std::function<orv::posnet::PosCode(PosHandle*)>& build);
    // A whole read: Send, then the getter.
    int Read(const std::function<orv::posnet::PosCode(PosHandle*)>& build,
             const std::function<orv::posnet::PosCode(PosHandle)>& get);
    // The list pattern: context, first read, then wait - get - next read.
    // get fills a record and gives its number; take hands it on.
    int ReadList(const std::function<orv::posnet::PosCode(PosHandle*)>& context,
                 const std::function<orv::posnet::PosCode(PosHandle*)>& next,
                 const std::function<orv::posnet::PosCode(PosHandle, uint32_t& number)>& get,
                 const std::function<int(uint32_t number, int count)>& take);
    ComboPlu FromWire(const orv::posnet::ComboWireGoods& w) const;
    int ParseGoods(const orv::posnet::ComboWireGoods& w, ComboPlu& out);
    // The progress event and the sale-log line of a statistics record; the
    // line for the host without its figures.
    ComboSaleLine StatRecord(uint32_t number, const std::string& code, const std::string& name,
                             const std::string& quantity, const std::string& value);
    void LogStatLine(uint32_t number, const std::string& code, const std::string& name, const std::string& quantity,
                     const std::string& value);

    int m_nModel = 0;
    PosHandle m_hDevice = 0;
    PosHandle m_hParams = 0;
    PosHandle m_hRequest = 0;
    std::string m_sLoadText;
};
