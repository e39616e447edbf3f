// CElzabModem: Elzab registers reached through the Elzab communication
// library (winip.dll, here libwinip.so) over a modem, a serial line, a line
// multiplexer or a network relay. It sends no byte itself: every operation
// writes a request file, calls one entry point of the library with the
// request's (and the answer's) file name and parses the answer file.
//
// Exchange files are text lines ended by CR LF (LF alone is read too). Each
// starts with a three-line header: "#" + register number, "#", "#". Data
// lines start with "$", their fields are separated by TAB.
//
// The library is loaded by the first Open and stays loaded for the life of
// the process; its entry points are looked up again by every Open until all
// 30 were found.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drivers/elzab/system600.h"

class CElzabModem : public CSystem600 {
public:
    // Library file and the error of a missing library or entry point.
    static constexpr const char* kLibraryName = "winip.dll";
    static constexpr int kLoadError = 999999;
    // Exchange-file errors.
    static constexpr int kFileError = 6;        // cannot open, or cannot parse
    static constexpr int kHeaderError = 8;      // malformed answer header
    static constexpr int kRegisterRange = 19;   // answer's register number outside 1..99
    static constexpr int kOtherRegister = 22;   // answer of another register
    static constexpr int kNotDefined = 202;     // no such goods
    static constexpr int kBreak = -7;

    // The entry points, in the order they are looked up.
    enum Entry {
        kModStart, kModStop, kOZegar, kTowarMax, kOTowar, kODBarkod, kOGrupa, kOJednost, kOPodatek,
        kZTowar, kZBPTowar, kZCTowar, kZDBarkod, kZGrupa, kZJednost, kKTowar, kKDBarkod, kOSprzed,
        kOPSprzed, kOTSpMax, kOOpak, kKSprOp, kOSTowMax, kOSTowar, kZSTowar, kKSTowar, kOSJednos,
        kZSJednos, kOTypUrz, kONrParag, kEntryCount
    };
    static const char* EntryName(int entry);

    CElzabModem();
    ~CElzabModem() override;

    // Link kinds (from the connection kind): 2 modem, 5 network relay.
    static constexpr int kLinkModem = 2;
    static constexpr int kLinkNetwork = 5;

    using CSystem600::Open;
    // Loads the library (first time), writes modkonf.txt (when missing) and
    // konfig.txt, a header-only request, brings a modem link up and reads
    // the clock. 1, or 0 with the last error (and ErrorText) set.
    int Open(int port, int baud, int linkKind, int channel, int waitTime, uint32_t registerNumber,
             uint32_t modelCode, const char* address);
    // Offers to close a modem link after a status read (see MarkAskOnClose),
    // then removes the exchange files. The library stays loaded.
    int Close();
    void MarkAskOnClose();
    bool AskOnClose() const { return m_bAskOnClose; }
    bool LinkUp() const { return m_bLinkUp; }
    int ModStart();
    int ModStop();

    // The text of the last error: the load failure's own text for
    // kLoadError, else GetErrorText.
    std::string ErrorText() const;

    // ---- request files ----
    // A new request file holding the header; records follow with
    // AddRecord, CloseInFile ends it. 1, or 0 with error 6.
    int WriteInFile();
    int AddRecord(const std::string& fields);   // "$" + fields on a line of its own
    int CloseInFile();
    int RecordCount() const { return m_nRecords; }

    // Request records. The checks return 0, or the code of the refusal.
    int GoodsRecord(const ElzabPlu& plu, const char* barcode, std::string& out) const;
    int BarcodeRecord(uint32_t number, const char* barcode, std::string& out) const;
    static std::string DeleteRecord(uint32_t number);
    static std::string DeptRecord(uint32_t number, const char* name);
    static std::string UnitRecord(uint32_t number, const char* name);

    // ---- single-record reads ----
    int ReadClock(std::string& date, std::string& time);
    int ReadReceiptNumber(uint32_t& number);
    int ReadDeviceType(uint32_t& type, std::string& text);
    int ReadVatRates(double rates[8]);

    // ---- bulk reads: each record goes to the function ----
    // Goods: the record and its barcode text (up to 18 characters).
    using PluFn = std::function<void(const ElzabPlu& plu, const std::string& barcode)>;
    using NamedFn = std::function<void(uint32_t number, const std::string& name)>;
    int ReadAllPlus(const PluFn& fn);
    int ReadPlu(uint32_t number, const PluFn& fn);   // 202 when the register has none
    int ReadDepts(const NamedFn& fn);
    int ReadUnits(const NamedFn& fn);
    int ReadSales(const SaleFn& fn);                 // __OSprzed, then __KSprOp
    int ReadPeriodSales(const SaleFn& fn);
    int ReadSalesMax(const SaleFn& fn);
    int ReadPackages(const SaleFn& fn);

    // ---- writes of the prepared request ----
    // Goods; for each record of the __ZBPTowar answer fn gets the PLU number
    // and the register's code for it (0 accepted).
    using AnswerFn = std::function<void(uint32_t number, int code)>;
    int WritePlus(const AnswerFn& fn);
    int WritePluPrices();
    int WriteBarcodes();
    int WriteDepts();
    int WriteUnits();
    int DeletePlus();

    // ---- konfig.txt ----
    // The line written to konfig.txt (no line end).
    std::string ConfigLine(int port, int baud, const char* address) const;
    // Address for the network relay (link kind 5); see ConfigLine.
    std::string RelayAddress(const std::string& address) const;
    static const char* ModelName(uint32_t model);
    static bool IsOnlineModel(uint32_t model) { return model >= 35 && model <= 38; }
    int GetLinkKind() const { return m_nLinkKind; }

    // Name resolution of the relay host names (a test seam; null restores
    // the system's).
    using Resolver = bool (*)(const char* name, std::string& out);
    static void SetResolver(Resolver resolver);
    static const char* const kRelayHosts[7];

    // Test seam: unloads the library and forgets its entry points, so the
    // next Open loads it anew.
    static void ResetLibraryForTests();

    // Exchange files in use (empty when none).
    const std::string& RequestFile() const { return m_sInFile; }
    const std::string& AnswerFile() const { return m_sOutFile; }

private:
    int Fail(int code);
    bool Broken();
    int LoadLibrary();
    int WriteConfig(int port, int baud, const char* address);
    static void WriteModemConfig();
    int NewAnswerFile();
    void RemoveRequest();
    void RemoveAnswer();
    void RemoveExchangeFiles();
    // Calls an entry point with the request (and a fresh answer file when
    // withAnswer). 1 when it returned 0; else 0 with the byte as the error.
    int Call(int entry, bool withAnswer);
    // The answer's data lines (header checked); 0 with the error set.
    int ReadOutFile(std::vector<std::vector<std::string>>& records);
    // Calls an entry point with an answer and hands each record to fn
    // (fn returns 0 with the error set to stop). The answer is removed.
    int CallAndRead(int entry, const std::function<int(const std::vector<std::string>&)>& fn);
    int ReadOne(int entry, std::vector<std::string>& record);
    int ReadSaleList(int entry, const SaleFn& fn);
    int ReadNamed(int entry, const NamedFn& fn);
    int ParsePlu(const std::vector<std::string>& f, ElzabPlu& plu, std::string& barcode);
    int NameWidth() const;

    int m_nLinkKind = kLinkModem;
    bool m_bLinkUp = false;
    bool m_bAskOnClose = false;
    std::string m_sInFile;
    std::string m_sOutFile;
    int m_inFd = -1;
    int m_nRecords = 0;
    std::string m_sLoadText;   // text of the last load failure
};
