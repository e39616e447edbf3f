// The entry points of the two Posnet libraries that serve the Combo, Neo and
// Bingo registers, as the libraries export them: LIBPOSNET.DLL (device
// handles, requests, waits, request status) and LIBHLAPI.DLL (one request
// builder POSS_ and, for reads, one result getter POSG_ per register
// operation).
//
// Both libraries use the callee-cleans convention (ORV_CALLEE_CLEANS, the
// one place it is written): on 32-bit Windows every function pops its own
// arguments.
//
// Every argument is one machine word (a number, a handle, a text or a
// pointer to a result); the count after each name below is the number of
// arguments. Handles are pointer-sized; the other functions return a 32-bit
// code (0 = done). What each argument means is the business of the typed
// adapter (combo_library.h); this header only fixes the names and the
// shapes, for the driver and for the stand-in library of the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/call_convention.h"

namespace orv::posnet {

using PosArg = uintptr_t;      // one argument word
using PosHandle = uintptr_t;   // device, parameter or request handle; 0 = none
using PosCode = uint32_t;      // 0 = done, else class << 16 | number

namespace detail {
template <class R, class Seq>
struct RawFn;
template <class R, size_t... I>
struct RawFn<R, std::index_sequence<I...>> {
    template <size_t>
    using Word = PosArg;
    using type = R(ORV_CALLEE_CLEANS*)(Word<I>...);
};
}  // namespace detail

// A function of n argument words returning R.
template <class R, size_t N>
using RawFn = typename detail::RawFn<R, std::make_index_sequence<N>>::type;

// LIBPOSNET.DLL: name, argument count, result type.
#define ORV_LIBPOSNET_ENTRIES(X)                 \
    X(POS_CreateDeviceHandle, 1, PosHandle)      \
    X(POS_SetDeviceParam, 3, PosCode)            \
    X(POS_OpenDevice, 1, PosHandle)              \
    X(POS_GetError, 1, PosCode)                  \
    X(POS_CloseDevice, 1, PosCode)               \
    X(POS_CreateRequest, 2, PosHandle)           \
    X(POS_PushRequestParamByte, 2, PosCode)      \
    X(POS_PostRequest, 2, PosCode)               \
    X(POS_WaitForRequestCompleted, 2, PosCode)   \
    X(POS_GetRequestStatus, 1, PosCode)          \
    X(POS_PopResponseValueByte, 2, PosCode)      \
    X(POS_DestroyRequest, 1, PosCode)

// LIBHLAPI.DLL: builders take the device and the address of the caller's
// request field first; getters take the request first.
#define ORV_LIBHLAPI_ENTRIES(X)                  \
    X(POSS_VATGet, 3, PosCode)                   \
    X(POSG_VATGet, 8, PosCode)                   \
    X(POSS_CashregStatusGet, 3, PosCode)         \
    X(POSG_CashRegStatusGet, 13, PosCode)        \
    X(POSS_CntxPLUInit, 5, PosCode)              \
    X(POSS_PLURead, 5, PosCode)                  \
    X(POSG_PLURead, 16, PosCode)                 \
    X(POSS_PLUReadByBarcode, 5, PosCode)         \
    X(POSG_PLUReadByBarcode, 16, PosCode)        \
    X(POSS_PLUGetByBarcode, 4, PosCode)          \
    X(POSG_PLUGetByBarcode, 2, PosCode)          \
    X(POSS_PLUGetByName, 4, PosCode)             \
    X(POSG_PLUGetByName, 2, PosCode)             \
    X(POSS_PLUIns, 19, PosCode)                  \
    X(POSS_PluPriceUpdate, 5, PosCode)           \
    X(POSS_PluPriceUpdateByBarcode, 5, PosCode)  \
    X(POSS_PackIns, 11, PosCode)                 \
    X(POSS_PackPriceUpdate, 5, PosCode)          \
    X(POSS_PackPriceUpdateByBarcode, 5, PosCode) \
    X(POSS_PLUDel, 6, PosCode)                   \
    X(POSS_PLUDelByBarcode, 6, PosCode)          \
    X(POSS_BarcodeIns, 5, PosCode)               \
    X(POSS_GroupIns, 7, PosCode)                 \
    X(POSS_MUIns, 7, PosCode)                    \
    X(POSS_CntxGroupInit, 5, PosCode)            \
    X(POSS_GroupRead, 4, PosCode)                \
    X(POSG_GroupRead, 3, PosCode)                \
    X(POSS_CntxMUInit, 5, PosCode)               \
    X(POSS_MURead, 4, PosCode)                   \
    X(POSG_MURead, 4, PosCode)                   \
    X(POSS_PLUStatRead, 5, PosCode)              \
    X(POSG_PLUStatRead, 6, PosCode)              \
    X(POSS_CntxPackInit, 5, PosCode)             \
    X(POSS_PackStatRead, 5, PosCode)             \
    X(POSG_PackStatRead, 7, PosCode)             \
    X(POSS_PLUStatClearAll, 5, PosCode)          \
    X(POSS_PackStatClearAll, 4, PosCode)         \
    X(POSS_SaleRecGet, 4, PosCode)               \
    X(POSG_SaleRecGetType, 4, PosCode)           \
    X(POSG_SaleRecGetPLUSet, 7, PosCode)         \
    X(POSG_SaleRecGetPack, 5, PosCode)           \
    X(POSG_SaleRecGetFinished, 8, PosCode)

// One number per entry point, LIBPOSNET.DLL's first.
enum ComboEntry : int {
#define ORV_COMBO_ENUM(name, n, r) k_##name,
    ORV_LIBPOSNET_ENTRIES(ORV_COMBO_ENUM) kLibHlapiFirst,
    kLibHlapiBefore = kLibHlapiFirst - 1,
    ORV_LIBHLAPI_ENTRIES(ORV_COMBO_ENUM) kComboEntryCount
#undef ORV_COMBO_ENUM
};
static_assert(kLibHlapiFirst == 12 && kComboEntryCount == 54, "12 + 42 entry points");

// The raw type of each entry point: name##_fn.
#define ORV_COMBO_TYPE(name, n, r) using name##_fn = RawFn<r, n>;
ORV_LIBPOSNET_ENTRIES(ORV_COMBO_TYPE)
ORV_LIBHLAPI_ENTRIES(ORV_COMBO_TYPE)
#undef ORV_COMBO_TYPE

// Sizes of the texts the getters write: at most 63 bytes and a terminator.
constexpr size_t kResultTextSize = 64;

}  // namespace orv::posnet
