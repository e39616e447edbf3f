// CDibal_500: the library path of the Dibal 500-series scales (device type
// 114). It opens no line: it loads Dibal's library (Dibalscop.dll, here
// libdibalscop.so or the file ECR_LIB_DIBALSCOP names) and hands each item
// to its entry points ItemsSend and RegistersSend. An Open with another
// scale address than the last unloads the library and loads it again (the
// library keeps its connection per load).
//
// Codes: 105 PLU number above 999999; 109 price negative or not a number;
// 999 the library did not answer "OK" (its answer is the text);
// 999999 library or entry point missing; -7 broken off.
#pragma once

#include <cstdint>
#include <string>

#include "comm/telepathy_ecr.h"
#include "drivers/dibal/cdibal.h"
#include "drivers/dibal/dibalscop_api.h"
#include "platform/dynamic_library.h"

class CDibal_500 : public CTelepathyECR {
public:
    static constexpr const char* kLibraryName = "Dibalscop.dll";

    CDibal_500();
    ~CDibal_500() override;

    using CTelepathyECR::Open;
    // address: IPv4, first octet in the top byte; the kind and fourth word
    // are not used. 1, or 0 with 999999 (the text names what is missing).
    int Open(uint32_t address, int kind, int number, int fourth);
    // One item: ItemsSend, then RegistersSend when that answered "OK".
    int BuildItems(const DibalItem& item);
    void ReleaseAddress();

    std::string GetErrorText(int code) override;
    // The library's answer of the last failed call ("" when it gave none).
    const std::string& Answer() const { return m_answer; }
    const std::string& AddressText() const { return m_addressText; }

    static std::u16string DateText(const char* date);          // "dd/mm/20yy" or "00/00/0000"
    static std::u16string NameText(const char* name);          // 20 characters
    static std::u16string RegisterText(const DibalItem& item); // the 128-character text

private:
    int Call(const char* answer);

    orv::platform::DynamicLibrary m_lib;
    DibalItemsSendFn m_itemsSend = nullptr;
    DibalRegistersSendFn m_registersSend = nullptr;
    uint32_t m_loaded = 0;
    uint32_t m_storedAddress = 0;
    int m_number = 0;
    std::string m_addressText;
    std::u16string m_address16;
    DibalConnection m_connection{};
    std::string m_loadText;
    std::string m_answer;
};
