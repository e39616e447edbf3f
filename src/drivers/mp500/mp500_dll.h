/* The Datecs MP500 library (MP500_DLL.dll, here libmp500_dll.so): its
   article record and its four entry points, as the driver calls them and as
   the test library implements them. Every entry point returns 0 for
   success, else a result code 1..8. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/call_convention.h"

#pragma pack(push, 1)
typedef struct MP500Article {
    char code[14];      /*  0 item code, 14 characters */
    char zero14;        /* 14 0 */
    char name[18];      /* 15 name, 18 characters */
    char zero33;        /* 33 0 */
    int32_t price;      /* 34 price in hundredths */
    uint8_t flag;       /* 38 the low byte of the item's option word */
    uint8_t vat;        /* 39 VAT group as an index from 0 */
    int32_t quantity;   /* 40 sold quantity in thousandths (sales) */
    int32_t value;      /* 44 sold value in hundredths (sales) */
} MP500Article;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(MP500Article) == 48, "MP500Article");
static_assert(offsetof(MP500Article, zero14) == 14 && offsetof(MP500Article, name) == 15, "MP500Article.name");
static_assert(offsetof(MP500Article, zero33) == 33 && offsetof(MP500Article, price) == 34, "MP500Article.price");
static_assert(offsetof(MP500Article, flag) == 38 && offsetof(MP500Article, vat) == 39, "MP500Article.vat");
static_assert(offsetof(MP500Article, quantity) == 40 && offsetof(MP500Article, value) == 44, "MP500Article.value");
extern "C" {
#endif

/* Called by the library on the caller's thread with the article as its
   third argument: a pull callback fills it and returns 1, or returns 0 when
   no article is left; a push callback takes it and returns 1. */
typedef int (*MP500Callback)(void* context, int index, MP500Article* article);

/* The maker names no calling convention for the entry points; we call them
   callee-cleans (stdcall), the convention Windows libraries commonly export.
   A library that differs is served by changing MP500_CALL alone. */
#define MP500_CALL ORV_CALLEE_CLEANS

typedef int (MP500_CALL* MP500SendArticlesFn)(int port, int baud, int zero, int logical, MP500Callback pull,
                                              void* context);
typedef int (MP500_CALL* MP500DeleteArticlesFn)(int port, int baud, int logical, MP500Callback pull, void* context);
typedef int (MP500_CALL* MP500ReceiveArticlesFn)(int port, int baud, int logical, MP500Callback push, void* context);
typedef int (MP500_CALL* MP500ZeroPLUCountersFn)(int port, int baud, int logical);

#ifdef __cplusplus
}
#endif
