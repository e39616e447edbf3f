// CPs3000: the protocol object of the registers driven through the Novitus
// fiscal control. It frames nothing itself: it creates the control (one
// window per process), fills its connection settings, connects, and carries
// out each transfer by calling the control and its automation objects by
// dispatch id. Device refusals become the register's own code (1..255),
// other control failures 3000 + the control's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/telepathy_ecr.h"
#include "orvanta/ecr.h"
#include "platform/dispatch.h"

namespace orv::novitus {

// The records the transfers fill and take (plain, aligned structures).
struct Ps3000Plu {
    uint32_t number;
    char code[19];
    char name[41];
    uint32_t vat;        // 1..7
    uint32_t dept;
    uint32_t unit;
    double price;
    uint32_t fieldA;
    uint32_t fieldB;
    uint32_t priceMode;  // 0..3
    uint32_t option;     // 0..2
    uint32_t weighed;
    char text2[19];
};

struct Ps3000Dept {
    uint32_t number;
    char name[19];
    uint32_t vat;
    double amount;
    uint32_t fieldB;
    uint32_t priceMode;
    uint32_t option;
};

struct Ps3000Unit {
    uint32_t index;   // the control's index + 1
    char name[5];
};

// One goods-sale record, or one receipt line (then receipt holds the
// receipt's number text).
struct Ps3000Sale {
    std::string code;
    std::string name;
    double quantity = 0.0;
    double value = 0.0;
    double quantity2 = 0.0;
    double value2 = 0.0;
    std::string receipt;
};

class CPs3000 : public CTelepathyECR {
public:
    static constexpr int kSerial = 0, kTcp = 11, kSerialNumber = 12;
    // Codes of this driver's own.
    static constexpr int kNoControl = 9997;          // the control or an object cannot be created
    static constexpr int kBadCodeText = 261;         // code or name the register cannot take
    static constexpr int kRefusedCode = 264;
    static constexpr int kNoData = 3017;
    static constexpr int kNotAccepted = 3032;
    static constexpr int kTimeout = 3033;
    static constexpr int kBadNative = 3064;
    static constexpr int kUndefined = 3065;
    static constexpr int kNoDevice = 3066;
    static constexpr int kNotConnected = 3067;
    static constexpr int kConnectionLost = 3068;
    static constexpr int kUnsupported = 999999;

    ~CPs3000() override;

    // The control window under `parent` (1), or 0 when it cannot be created.
    int CreateControl(EcrWindow parent);
    int DestroyControl();

    // kind: kTcp (value = IPv4 word), kSerialNumber (not supported), else
    // serial (value = COM number). 1 / 0 with the error set.
    int Connect(int kind, uint32_t value, int baud, const std::string& text);
    void Disconnect();
    bool IsConnected() const { return m_connected != 0; }

    std::string GetErrorText(int code) override;

    void SetModel(int model) { m_model = model; }
    int GetModel() const { return m_model; }

    // ---- transfers: 1 / 0 with the error set ----
    int WriteDept(const Ps3000Dept& rec);
    int WritePlu(const Ps3000Plu& rec, int mode);
    int WritePlu(const Ps3000Plu& rec) { return WritePlu(rec, 0); }
    int UpdatePlu(const Ps3000Plu& rec) { return WritePlu(rec, 2); }
    int DeletePlu(const Ps3000Plu& rec) { return WritePlu(rec, 3); }
    int WriteBarcodeRecord(const Ps3000Plu& rec);
    int WriteSingleUnit(const Ps3000Unit& rec);
    int WriteUnit(const Ps3000Unit* recs, int count);

    using DeptSink = void (*)(void* ctx, const Ps3000Dept&);
    using PluSink = void (*)(void* ctx, const Ps3000Plu&);
    using UnitSink = void (*)(void* ctx, const Ps3000Unit&);
    using SaleSink = void (*)(void* ctx, const Ps3000Sale&);
    int ReadAllDepts(DeptSink sink, void* ctx);
    int ReadAllPlus(PluSink sink, void* ctx);
    int ReadAllUnits(UnitSink sink, void* ctx);
    int ReadPlu(Ps3000Plu& rec);   // by rec.code
    int ReadPluSales(int mode, SaleSink sink, void* ctx);
    int ReadPluSales2(int mode, SaleSink sink, void* ctx);
    int ReadReceipts(SaleSink sink, void* ctx);   // one receipt per call; 3017 when none is left
    int ReadVatRates(double rates[8]);
    int ReadVersion(std::string texts[4]);
    int ReadDeviceInfo(std::string texts[3]);
    // Renews the connection (method 4, then 2) when connected.
    void Reconnect();

    void ReadNativeError();
    static std::string TaxIndexToLetter(uint32_t index, int* error);
    static uint32_t TaxLetterToIndex(const std::string& text, int* error);
    // trunc(v * 100 + 0.1) * 100, in 1/10000.
    static int64_t ToCurrency(double v);
    void FillPluObject(platform::DispatchObject& o, const Ps3000Plu& rec);
    void FillDeptObject(platform::DispatchObject& o, const Ps3000Dept& rec);

    // The control this object holds (tests).
    platform::DispatchObject* Control() const { return m_control.get(); }

private:
    bool Begin();            // clears the error, prepares the thread; false without a control
    bool Broken();           // the serial object's break flag: error -7
    bool Ok(int dispid, std::vector<platform::Variant> args = {});
    platform::DispatchRef NewObject(const char* classId);   // null with error 9997
    int WriteRecord(const char* classId, int kind, bool goods, int mode,
                    void (*fill)(CPs3000&, platform::DispatchObject&, const void*), const void* rec, int sendId);
    int ReadRecords(int kind, int what, void* sink, void* ctx);
    int ReadSales(int kind, int mode, SaleSink sink, void* ctx);
    // Reads one status object (rates, version): begin, fetch, next.
    bool FetchOne(platform::DispatchRef& o, const char* classId, int kind, int fourth, int fetchId);
    void AfterWrite();       // the model-19 reconnect
    void Failed() { ReadNativeError(); }

    platform::DispatchRef m_control;
    platform::DispatchRef m_settings;
    uint8_t m_connected = 0;
    uint8_t m_comInitialized = 0;
    int m_model = 1;
};

}  // namespace orv::novitus
