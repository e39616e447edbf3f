// Every dispatch id, transfer kind and class id of the fiscal control and
// its automation objects, in one place (the driver and the test fake both
// use these).
#pragma once

namespace orv::novitus::ids {

// ---- the control ----
inline constexpr int kConnectionText = 30;   // put, text
inline constexpr int kNativeMode = 54;       // put / get, BOOL
inline constexpr int kSettings = 64;         // get, object
inline constexpr int kOpen = 31;             // method (I4 mode) -> BOOL
inline constexpr int kCheck = 2;             // method -> BOOL, connects
inline constexpr int kDisconnect = 4;        // method -> BOOL
inline constexpr int kReady = 7;             // method -> BOOL
inline constexpr int kBeginWrite = 45;       // method (I4 kind)
inline constexpr int kEndWrite = 46;         // method
inline constexpr int kSendRecord = 37;       // method (object, I4 mode)
inline constexpr int kSendBarcode = 47;      // method (object)
inline constexpr int kWriteUnit = 210;       // method (I4 index, text name)
inline constexpr int kBeginRead = 10;        // method (I4 kind, VARIANT, VARIANT, I4, I4)
inline constexpr int kNext = 20;             // method
inline constexpr int kFetchRecord = 8;       // method (object): department or goods
inline constexpr int kFetchSale = 16;        // method (object): goods sale
inline constexpr int kFetchReceiptItem = 22; // method (object)
inline constexpr int kFetchReceiptHeader = 32;  // method (object)
inline constexpr int kFetchReceiptLine = 34;    // method (object)
inline constexpr int kReceiptStep = 19;      // method (I4 by reference): the receipt's line count
inline constexpr int kFetchRates = 25;       // method (object)
inline constexpr int kFetchVersion = 9;      // method (object)
inline constexpr int kFetchUnit = 204;       // method (I4 by ref, text by ref)
inline constexpr int kDeviceInfo = 52;       // method
inline constexpr int kUniqueNumber = 35;     // get, text
inline constexpr int kLibraryText = 59;      // get, text
inline constexpr int kInfoText = 53;         // get, text
inline constexpr int kEndOfData = 67;        // get, BOOL
inline constexpr int kErrorCode = 5;         // get, I4
inline constexpr int kErrorText = 6;         // get, text
inline constexpr int kNativeCode = 23;       // get, hexadecimal text
inline constexpr int kNativeText = 33;       // get, text
inline constexpr int kReadNative = 21;       // method (I4, text, text, text by reference)

// The control's code that says "the register refused the packet".
inline constexpr int kRefusedByDevice = 64;

// ---- the connection-settings object ----
inline constexpr int kSetText9 = 9;
inline constexpr int kSetValue10 = 10;
inline constexpr int kSetFlag210 = 210;
inline constexpr int kSetTempDir = 211;
inline constexpr int kSetPort = 1;
inline constexpr int kSetDataBits = 3;
inline constexpr int kSetBaud = 2;
inline constexpr int kSetValue5 = 5;
inline constexpr int kSetValue4 = 4;
inline constexpr int kSetValue7 = 7;
inline constexpr int kSetAddress = 13;
inline constexpr int kSetTimeout6 = 6;
inline constexpr int kSetTimeout8 = 8;
inline constexpr int kSetTimeout12 = 12;

// ---- the goods object (also used for departments) ----
inline constexpr int kPluNumber = 201;
inline constexpr int kPluCode = 3;
inline constexpr int kPluName = 2;
inline constexpr int kPluPrice = 7;
inline constexpr int kPluVat = 15;
inline constexpr int kPluFieldA = 20;
inline constexpr int kPluFlags = 17;
inline constexpr int kPluDept = 8;
inline constexpr int kPluFieldB = 18;
inline constexpr int kPluText2 = 13;
inline constexpr int kPluUnit = 202;
inline constexpr int kPluWeighed = 1;
inline constexpr int kPluValue203 = 203;
inline constexpr int kPluValue204 = 204;

// ---- the extra-barcode object ----
inline constexpr int kBarcodeCode = 1;
inline constexpr int kBarcodeText2 = 2;

// ---- the goods-sale object; receipt lines use the same ids ----
inline constexpr int kSaleCode = 1;
inline constexpr int kSaleName = 2;
inline constexpr int kSaleQuantity = 4;
inline constexpr int kSaleValue = 3;
inline constexpr int kSaleQuantity2 = 12;
inline constexpr int kSaleValue2 = 13;

// ---- the receipt header: its number ----
inline constexpr int kReceiptNumber = 1;

// ---- VAT rates and version ----
inline constexpr int kRateCount = 1;   // get, I4
inline constexpr int kRate = 2;        // get (I4 index), currency
inline constexpr int kVersionText1 = 1;
inline constexpr int kVersionText2 = 2;
inline constexpr int kVersionText3 = 3;
inline constexpr int kVersionText4 = 201;

// ---- transfer kinds ----
inline constexpr int kKindDepts = 7;
inline constexpr int kKindGoods = 49;
inline constexpr int kKindGoodsUpdate = 36;
inline constexpr int kKindGoodsDelete = 8;
inline constexpr int kKindBarcodes = 33;
inline constexpr int kKindUnits = 50;
inline constexpr int kKindSales = 27;
inline constexpr int kKindSales2 = 22;
inline constexpr int kKindReceipts = 29;
inline constexpr int kKindRates = 40;
inline constexpr int kKindVersion = 28;

// ---- class ids ----
inline constexpr const char* kClassPlu = "{1970C9D5-9670-41DD-B39B-CC17BD6EB660}";
inline constexpr const char* kClassBarcode = "{3B816EC8-53F8-458C-8AE5-B2A4DAF92050}";
inline constexpr const char* kClassSale = "{2E484962-C89F-4F3F-A637-A293955C8F81}";
inline constexpr const char* kClassReceiptItem = "{D0AB758B-4456-4BFF-8510-E5C8F3BC81A1}";
inline constexpr const char* kClassReceiptHeader = "{C767B3FB-0D85-4EA1-80DE-A5AE7E7973B5}";
inline constexpr const char* kClassReceiptLine = "{66C2F748-A7ED-4E0D-ACAE-9C7E72B7BEB0}";
inline constexpr const char* kClassTaxRates = "{C8D2F86B-6ED7-48E0-B46F-910CD79D727F}";
inline constexpr const char* kClassVersion = "{12EE97E3-A3BB-4B3F-8A01-9D5D59ABAE24}";

}  // namespace orv::novitus::ids
