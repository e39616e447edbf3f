// The calls into Dibal's scale library (Dibalscop.dll; libdibalscop.so
// here) and the records they take, shared by the driver and the library's
// stand-in of the tests. Records hold natural-width pointers to UTF-16
// strings; each call answers with a narrow text, "OK" on success.
#pragma once

#include <cstdint>

#include "platform/call_convention.h"

extern "C" {

// The scale's connection: its address and the library's fixed settings.
struct DibalConnection {
    int32_t zero1;                  // 0
    const char16_t* address;        // dotted IPv4 address
    int32_t port1;                  // 3001
    int32_t port2;                  // 3000
    const char16_t* range;          // "500RANGE"
    const char16_t* empty;          // ""
    const char16_t* zeroText;       // "0"
    int32_t zero2;                  // 0
    const char16_t* logFile;        // "dibal500.log"
};

// One goods item for ItemsSend.
struct DibalItemBlock {
    int32_t plu;
    int32_t code3;                  // three-digit code
    double price;
    const char16_t* name;           // 20 characters, padded with blanks
    int32_t flag;                   // 0 for flag 1, else 1
    int32_t department;
    const char16_t* date;           // "dd/mm/20yy" or "00/00/0000"
    int32_t zero1;                  // 0
    int32_t plu2;                   // the PLU number again
    int32_t zero2;                  // 0
    const char16_t* textG;          // "textG"
};

// The item's texts for RegistersSend: "X400", the PLU number in six
// digits, "01", 115 characters of text and ESC (128 characters).
struct DibalTextBlock {
    const char16_t* text;
    int32_t zero;                   // 0
};

// The maker names no calling convention; we call both entry points
// callee-cleans (stdcall), the convention Windows libraries commonly export.
// A library that differs is served by changing DIBAL_CALL alone.
#define DIBAL_CALL ORV_CALLEE_CLEANS

// Both entry points are called as (connection, 1, block, 1, 0, 5).
typedef const char*(DIBAL_CALL* DibalItemsSendFn)(DibalConnection* connection, int32_t a, DibalItemBlock* block,
                                                  int32_t b, int32_t c, int32_t d);
typedef const char*(DIBAL_CALL* DibalRegistersSendFn)(DibalConnection* connection, int32_t a, DibalTextBlock* block,
                                                      int32_t b, int32_t c, int32_t d);

}  // extern "C"
