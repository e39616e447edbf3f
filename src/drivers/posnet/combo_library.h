// CComboLibrary: the typed face of the two Posnet libraries (LIBPOSNET.DLL,
// here libposnet.so, and LIBHLAPI.DLL, here libhlapi.so; the variables
// ECR_LIB_LIBPOSNET and ECR_LIB_LIBHLAPI name other files). The libraries
// are loaded once per process, by the first Load, and stay loaded; a Load
// that finds a library or an entry point missing fails and the next one
// tries again.
//
// Every argument order and every result layout the drivers rely on is
// written down here, once:
//   - texts go out in code page 1250 with every byte below 0x20 as a blank
//     (the barcode list of BarcodeIns alone is joined by line feeds);
//   - prices go out as the text of a whole number of hundredths;
//   - a builder's arguments the driver does not use are 0;
//   - texts the getters write are at most 63 bytes and a terminator;
//   - getter results the driver does not use go to scratch words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/posnet/combo_entry_points.h"

namespace orv::posnet {

// A goods (or pack) record as the libraries take and give it.
struct ComboWireGoods {
    uint32_t number = 0;
    std::string code;
    std::string name;
    uint32_t vat = 0;          // 0-based VAT group
    std::string price;         // hundredths as decimal text
    uint32_t unit = 0;
    uint32_t word1 = 0;
    uint32_t department = 0;
    uint32_t word2 = 0;
    uint32_t word3 = 0;
    uint32_t word4 = 0;
    uint32_t linked = 0;
    uint32_t word5 = 0;
    std::string code2;         // sent by PLUIns; not given back by reads
};

struct ComboWireStatus {
    uint32_t type = 0;         // register type number
    uint32_t mode = 0;         // 1 fiscal, 2 read only, else not fiscal
    uint32_t totalizers = 0;   // 1 when not zero
    std::string unique;
    std::string software;
};

struct ComboWireStat {         // one goods statistics record
    uint32_t number = 0;
    std::string code, name;
    std::string quantity;      // thousandths as decimal text
    std::string value;         // hundredths as decimal text
};

struct ComboWirePackStat {     // one pack statistics record
    uint32_t number = 0;
    std::string code, name;
    std::string sold, returned;   // thousandths
    std::string value;            // hundredths, of the sold quantity
};

struct ComboWireSale {         // one sale record, by its type
    uint32_t number = 0;       // PLU or pack number; receipt for "finished"
    std::string code, name;
    std::string quantity;      // thousandths
    std::string value;         // hundredths; the receipt total for "finished"
};

class CComboLibrary {
public:
    static constexpr const char* kPosnetFile = "LIBPOSNET.DLL";
    static constexpr const char* kHlapiFile = "LIBHLAPI.DLL";

    // Sale record types of POSG_SaleRecGetType.
    static constexpr uint32_t kSalePluSet = 1;
    static constexpr uint32_t kSalePack = 2;
    static constexpr uint32_t kSaleFinished = 3;

    // Loads both libraries and looks up all 54 entry points. False with a
    // text naming the missing file or entry point.
    static bool Load(std::string& failText);
    static bool Loaded();
    static const char* EntryName(int entry);
    // Test seam: forgets the entry points and unloads both libraries.
    static void ResetForTests();

    // ---- LIBPOSNET.DLL ----
    static PosHandle CreateDeviceHandle(uint32_t kind);
    static void SetDeviceParam(PosHandle params, uint32_t id, const std::string& text);
    static PosHandle OpenDevice(PosHandle params);
    static PosCode GetError(PosHandle device);
    static void CloseDevice(PosHandle device);
    static PosHandle CreateRequest(PosHandle device, uint32_t command);
    static void PushRequestParamByte(PosHandle request, uint8_t byte);
    static void PostRequest(PosHandle request, uint32_t mode);
    static PosCode WaitForRequestCompleted(PosHandle request, uint32_t milliseconds);
    static PosCode GetRequestStatus(PosHandle request);
    static uint8_t PopResponseValueByte(PosHandle request);
    static void DestroyRequest(PosHandle request);

    // ---- LIBHLAPI.DLL builders: (device, request field, ...) ----
    static PosCode VATGet(PosHandle device, PosHandle* request);
    static PosCode CashregStatusGet(PosHandle device, PosHandle* request);
    static PosCode CntxPLUInit(PosHandle device, PosHandle* request);
    static PosCode PLURead(PosHandle device, PosHandle* request, uint32_t number);
    static PosCode PLUReadByBarcode(PosHandle device, PosHandle* request, const std::string& code);
    static PosCode PLUGetByBarcode(PosHandle device, PosHandle* request, const std::string& code);
    static PosCode PLUGetByName(PosHandle device, PosHandle* request, const std::string& name);
    static PosCode PLUIns(PosHandle device, PosHandle* request, const ComboWireGoods& goods);
    static PosCode PluPriceUpdate(PosHandle device, PosHandle* request, uint32_t number, const std::string& price);
    static PosCode PluPriceUpdateByBarcode(PosHandle device, PosHandle* request, const std::string& code,
                                           const std::string& price);
    static PosCode PackIns(PosHandle device, PosHandle* request, const ComboWireGoods& pack);
    static PosCode PackPriceUpdate(PosHandle device, PosHandle* request, uint32_t number, const std::string& price);
    static PosCode PackPriceUpdateByBarcode(PosHandle device, PosHandle* request, const std::string& code,
                                            const std::string& price);
    static PosCode PLUDel(PosHandle device, PosHandle* request, uint32_t number);
    static PosCode PLUDelByBarcode(PosHandle device, PosHandle* request, const std::string& code);
    static PosCode BarcodeIns(PosHandle device, PosHandle* request, uint32_t number,
                              const std::vector<std::string>& codes);
    static PosCode GroupIns(PosHandle device, PosHandle* request, uint32_t number, const std::string& name);
    static PosCode MUIns(PosHandle device, PosHandle* request, uint32_t number, const std::string& name,
                         const std::string& shortName);
    static PosCode CntxGroupInit(PosHandle device, PosHandle* request);
    static PosCode GroupRead(PosHandle device, PosHandle* request);
    static PosCode CntxMUInit(PosHandle device, PosHandle* request);
    static PosCode MURead(PosHandle device, PosHandle* request);
    static PosCode PLUStatRead(PosHandle device, PosHandle* request, uint32_t flag);
    static PosCode CntxPackInit(PosHandle device, PosHandle* request);
    static PosCode PackStatRead(PosHandle device, PosHandle* request, uint32_t flag);
    static PosCode PLUStatClearAll(PosHandle device, PosHandle* request);
    static PosCode PackStatClearAll(PosHandle device, PosHandle* request);
    static PosCode SaleRecGet(PosHandle device, PosHandle* request);

    // ---- LIBHLAPI.DLL getters: (request, results) ----
    static PosCode GetVAT(PosHandle request, uint16_t rates[7]);
    static PosCode GetStatus(PosHandle request, ComboWireStatus& status);
    // POSG_PLURead, or POSG_PLUReadByBarcode when byBarcode.
    static PosCode GetPLU(PosHandle request, bool byBarcode, ComboWireGoods& goods);
    // POSG_PLUGetByBarcode, or POSG_PLUGetByName when byName.
    static PosCode GetPLUNumber(PosHandle request, bool byName, uint32_t& number);
    static PosCode GetGroup(PosHandle request, uint32_t& number, std::string& name);
    static PosCode GetUnit(PosHandle request, uint32_t& number, std::string& name, std::string& shortName);
    static PosCode GetPLUStat(PosHandle request, ComboWireStat& stat);
    static PosCode GetPackStat(PosHandle request, ComboWirePackStat& stat);
    static PosCode GetSaleRecType(PosHandle request, uint32_t& type);
    static PosCode GetSaleRecPLUSet(PosHandle request, ComboWireSale& sale);
    static PosCode GetSaleRecPack(PosHandle request, ComboWireSale& sale);
    static PosCode GetSaleRecFinished(PosHandle request, ComboWireSale& sale);

    // A text as the libraries get it: bytes below 0x20 as blanks.
    static std::string Printable(const std::string& text);
};

}  // namespace orv::posnet
