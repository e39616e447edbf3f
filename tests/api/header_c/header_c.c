/* The public header compiled as C11: the layouts a C host sees. */
#include <stddef.h>

#include "orvanta/ecr.h"

#if !defined(__STDC_VERSION__) || __STDC_VERSION__ < 201112L
#error "this file must be compiled as C11 or later"
#endif

#define LAYOUT_COUNT 24

/* Fills out[] with sizes and offsets in the order the C++ side expects;
   returns how many values it wrote. */
int OrvantaHeaderLayoutC(size_t* out, int capacity) {
    const size_t values[LAYOUT_COUNT] = {
        sizeof(EcrDeviceRecord),
        offsetof(EcrDeviceRecord, kind),
        offsetof(EcrDeviceRecord, address),
        offsetof(EcrDeviceRecord, progress),
        sizeof(EcrItemRecord),
        offsetof(EcrItemRecord, name),
        offsetof(EcrItemRecord, vat_rate),
        offsetof(EcrItemRecord, price),
        offsetof(EcrItemRecord, price2),
        offsetof(EcrItemRecord, amount),
        offsetof(EcrItemRecord, code468),
        sizeof(EcrSaleRecord),
        offsetof(EcrSaleRecord, quantity),
        offsetof(EcrSaleRecord, value),
        sizeof(EcrDeptRecord),
        offsetof(EcrDeptRecord, price),
        sizeof(EcrUnitRecord),
        sizeof(EcrVatRecord),
        sizeof(EcrStatusRecord),
        offsetof(EcrStatusRecord, information),
        sizeof(EcrEvent),
        offsetof(EcrEvent, percent),
        (size_t)ECR_EVENT_CLOSED,
        sizeof(EcrProgressCallback),
    };
    int n = capacity < LAYOUT_COUNT ? capacity : LAYOUT_COUNT;
    for (int i = 0; i < n; ++i) out[i] = values[i];
    return n;
}
