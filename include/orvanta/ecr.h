/*
 * orvanta - exchange of goods and sales data with cash registers, fiscal
 * printers and shop scales.
 *
 * The one public header of liborvanta. It compiles as C11 and as C++.
 * Every record below is part of the library's binary interface: the layouts
 * are byte-exact (4-byte packing, little-endian, texts zero-terminated in
 * code page 1250). Only the progress callback of the device record is
 * pointer-sized, so that record is 116 bytes on 32-bit and 120 on 64-bit.
 *
 * Usage in short: fill an EcrDeviceRecord, call one job export (it returns 1
 * when the job was started), poll EcrIsDone() until it returns 1, then read
 * EcrError() and EcrErrMsg(). Records reach the host through the callbacks,
 * on the library's worker thread, valid only during the call.
 */
#ifndef ORVANTA_ECR_H
#define ORVANTA_ECR_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ECR_CALL __cdecl
#define ECR_EXPORT __declspec(dllexport)
#else
#define ECR_CALL
#define ECR_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque host window handle (a window handle on Windows; an opaque value here). */
typedef void* EcrWindow;

/* Host progress callback: event code, text (CP1250, at most 255 characters),
   percent, value (usually an error code). */
typedef void(ECR_CALL* EcrProgressCallback)(int event, const char* text, int percent, int value);

#pragma pack(push, 4)

/* The device description handed to every job export. */
typedef struct EcrDeviceRecord {
    int32_t type;             /*   0 device type code selecting the driver */
    int32_t port;             /*   4 serial port 1..16, or an IPv4 address (first octet in the top byte) */
    int32_t baud;             /*   8 serial line speed */
    int32_t word3;            /*  12 family setting (Elzab: wait time) */
    int32_t word4;            /*  16 */
    int32_t kind;             /*  20 connection kind */
    int32_t word6;            /*  24 multiplexer channel or setting */
    int32_t word7;            /*  28 register or machine number */
    int32_t word8;            /*  32 family setting */
    int32_t word9;            /*  36 family setting */
    uint32_t flags;           /*  40 option bits */
    int32_t word11;           /*  44 */
    char address[64];         /*  48 device address or name */
    EcrProgressCallback progress; /* 112 host progress callback */
} EcrDeviceRecord;

/* One goods item (472 bytes). */
typedef struct EcrItemRecord {
    uint32_t number;          /*   0 PLU number */
    char code[32];            /*   4 goods code or barcode */
    char name[48];            /*  36 goods name */
    double vat_rate;          /*  84 VAT rate in per cent */
    uint32_t vat_group;       /*  92 1-based VAT group */
    uint32_t department;      /*  96 department number */
    double price;             /* 100 unit price */
    uint8_t reserved_108[8];  /* 108 */
    double price2;            /* 116 second price */
    uint32_t attr1;           /* 124 family-specific attribute */
    uint8_t reserved_128[16]; /* 128 */
    uint32_t unit;            /* 144 1-based unit number */
    uint32_t word148;         /* 148 */
    uint32_t word152;         /* 152 */
    uint32_t word156;         /* 156 */
    uint32_t word160;         /* 160 */
    uint32_t attr2;           /* 164 family-specific option */
    uint32_t word168;         /* 168 */
    uint32_t word172;         /* 172 */
    uint32_t linked_plu;      /* 176 linked item, 0 none */
    char code2[32];           /* 180 second barcode */
    uint32_t attr3;           /* 212 family-specific attribute */
    uint32_t attr4;           /* 216 family-specific attribute */
    uint32_t barcode_flag;    /* 220 */
    uint32_t code224;         /* 224 two-digit code */
    double amount;            /* 228 amount */
    char text236[16];         /* 236 text (dates on scales) */
    char text252[16];         /* 252 text (dates on scales) */
    char scale_text[8][25];   /* 268 scale texts */
    uint32_t code468;         /* 468 three-digit code */
} EcrItemRecord;

/* One sale line (224 bytes); handed to the sale callback with its item. */
typedef struct EcrSaleRecord {
    char text[32];            /*   0 report line text */
    uint32_t kind;            /*  32 record kind, 0 plain PLU sale */
    uint32_t number;          /*  36 position or report number */
    uint32_t plu;             /*  40 PLU number */
    char code[32];            /*  44 goods code */
    char name[48];            /*  76 goods name */
    uint8_t reserved_124[12]; /* 124 */
    double quantity;          /* 136 sold quantity */
    uint8_t reserved_144[20]; /* 144 */
    double value;             /* 164 sold value */
    uint8_t reserved_172[52]; /* 172 */
} EcrSaleRecord;

/* One department (116 bytes). */
typedef struct EcrDeptRecord {
    uint32_t number;          /*   0 department number */
    char name[48];            /*   4 name */
    uint8_t reserved_52[8];   /*  52 */
    uint32_t vat_group;       /*  60 VAT group (family-specific) */
    double price;             /*  64 price or amount */
    double value72;           /*  72 family-specific */
    uint8_t reserved_80[8];   /*  80 */
    uint32_t flags;           /*  88 flag word */
    uint32_t word92;          /*  92 */
    uint32_t word96;          /*  96 */
    uint32_t word100;         /* 100 second value */
    uint32_t word104;         /* 104 */
    uint32_t word108;         /* 108 */
    uint32_t word112;         /* 112 */
} EcrDeptRecord;

/* One unit of measure (12 bytes). */
typedef struct EcrUnitRecord {
    uint32_t number;          /*   0 unit number */
    char name[8];             /*   4 name, at most 7 characters */
} EcrUnitRecord;

/* Eight VAT rates for groups A..H in per cent; -3.0 undefined, -1.0 exempt. */
typedef struct EcrVatRecord {
    double rate[8];
} EcrVatRecord;

/* Device status (2220 bytes). */
typedef struct EcrStatusRecord {
    uint32_t device_type;     /*    0 device type byte */
    uint8_t reserved_4[4];    /*    4 */
    char device_text[32];     /*    8 device name, version or status text */
    char text2[16];           /*   40 second status text */
    char unique_number[16];   /*   56 unique (serial) number */
    uint8_t reserved_72[16];  /*   72 */
    char date[16];            /*   88 register date */
    char time[16];            /*  104 register time */
    uint32_t receipt_number;  /*  120 */
    uint8_t reserved_124[32]; /*  124 */
    uint32_t status[4];       /*  156 four device status values */
    char information[2048];   /*  172 free text, lines ended by CR LF */
} EcrStatusRecord;

/* The event block whose address a posted event message carries (268 bytes). */
typedef struct EcrEvent {
    uint32_t code;            /*   0 event code */
    char text[256];           /*   4 text, at most 255 characters */
    uint32_t percent;         /* 260 */
    uint32_t value;           /* 264 */
} EcrEvent;

#pragma pack(pop)

/* Host callbacks (called on the library's worker thread). */
typedef void(ECR_CALL* EcrVatCallback)(const double vat[8]);
typedef void(ECR_CALL* EcrStatusCallback)(const EcrStatusRecord* status, const double vat[8]);
typedef void(ECR_CALL* EcrItemReadCallback)(const EcrItemRecord* item);
typedef void(ECR_CALL* EcrSaleCallback)(const EcrItemRecord* item, const EcrSaleRecord* sale);
typedef void(ECR_CALL* EcrItemProgramCallback)(const EcrItemRecord* item, int code, const char text[64]);
typedef void(ECR_CALL* EcrDeptReadCallback)(const EcrDeptRecord* dept);
typedef void(ECR_CALL* EcrDeptProgramCallback)(const EcrDeptRecord* dept, int code, const char text[64]);
typedef void(ECR_CALL* EcrUnitReadCallback)(const EcrUnitRecord* unit);
typedef void(ECR_CALL* EcrUnitProgramCallback)(const EcrUnitRecord* unit, int code, const char text[64]);

/* Event codes. */
enum {
    ECR_EVENT_OPENING = 1,
    ECR_EVENT_TITLE = 2,
    ECR_EVENT_WAIT = 4,
    ECR_EVENT_ITEM = 5,
    ECR_EVENT_DEVICE_ERROR = 6,
    ECR_EVENT_FAILED = 7,
    ECR_EVENT_SYSTEM_ERROR = 8,
    ECR_EVENT_BULK = 9,
    ECR_EVENT_SUCCEEDED = 10,
    ECR_EVENT_CLOSED = 11
};

/* Job exports: 1 when the job was started, 0 when refused. */
ECR_EXPORT int ECR_CALL EcrReadSale(const EcrDeviceRecord* dev, EcrSaleCallback cb);
ECR_EXPORT int ECR_CALL EcrClearSale(const EcrDeviceRecord* dev, EcrSaleCallback cb);
ECR_EXPORT int ECR_CALL EcrReadAllPLU(const EcrDeviceRecord* dev, EcrItemReadCallback cb);
ECR_EXPORT int ECR_CALL EcrReadPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemReadCallback cb);
ECR_EXPORT int ECR_CALL EcrPgmPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrUpDatePLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrDelPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrDelAllPLU(const EcrDeviceRecord* dev, EcrItemProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrReadAllDEPT(const EcrDeviceRecord* dev, EcrDeptReadCallback cb);
ECR_EXPORT int ECR_CALL EcrReadDEPT(const EcrDeviceRecord* dev, EcrDeptRecord* depts, int count, EcrDeptReadCallback cb);
ECR_EXPORT int ECR_CALL EcrPgmDEPT(const EcrDeviceRecord* dev, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrReadAllUnit(const EcrDeviceRecord* dev, EcrUnitReadCallback cb);
ECR_EXPORT int ECR_CALL EcrPgmUNIT(const EcrDeviceRecord* dev, EcrUnitRecord* units, int count, EcrUnitProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrReadStatus(const EcrDeviceRecord* dev, EcrStatusCallback cb);
ECR_EXPORT int ECR_CALL EcrReadVAT(const EcrDeviceRecord* dev, EcrVatCallback cb);
ECR_EXPORT int ECR_CALL EcrReadFromPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, EcrItemReadCallback cb);
ECR_EXPORT int ECR_CALL EcrDelFromPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, EcrItemProgramCallback cb);
ECR_EXPORT int ECR_CALL EcrPgmExBarcode(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb);

/* Management exports. */
ECR_EXPORT int ECR_CALL EcrCreate(EcrWindow window);
ECR_EXPORT int ECR_CALL EcrPreCreate(EcrWindow window);
ECR_EXPORT int ECR_CALL EcrDelete(void);
ECR_EXPORT int ECR_CALL EcrIsDone(void);
ECR_EXPORT int ECR_CALL EcrError(void);
ECR_EXPORT const char* ECR_CALL EcrErrMsg(void);
ECR_EXPORT int ECR_CALL EcrBreakJob(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layout checks. */
#ifdef __cplusplus
#define ECR_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define ECR_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, port) == 4, "device.port");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, baud) == 8, "device.baud");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, word3) == 12, "device.word3");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, kind) == 20, "device.kind");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, word6) == 24, "device.word6");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, word7) == 28, "device.word7");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, word8) == 32, "device.word8");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, word9) == 36, "device.word9");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, flags) == 40, "device.flags");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, word11) == 44, "device.word11");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, address) == 48, "device.address");
ECR_STATIC_ASSERT(offsetof(EcrDeviceRecord, progress) == 112, "device.progress");
ECR_STATIC_ASSERT(sizeof(EcrDeviceRecord) == 112 + sizeof(void*), "device size");

ECR_STATIC_ASSERT(offsetof(EcrItemRecord, code) == 4, "item.code");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, name) == 36, "item.name");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, vat_rate) == 84, "item.vat_rate");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, vat_group) == 92, "item.vat_group");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, department) == 96, "item.department");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, price) == 100, "item.price");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, price2) == 116, "item.price2");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, attr1) == 124, "item.attr1");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, unit) == 144, "item.unit");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, word148) == 148, "item.word148");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, word152) == 152, "item.word152");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, word156) == 156, "item.word156");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, word160) == 160, "item.word160");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, attr2) == 164, "item.attr2");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, word168) == 168, "item.word168");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, word172) == 172, "item.word172");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, linked_plu) == 176, "item.linked_plu");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, code2) == 180, "item.code2");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, attr3) == 212, "item.attr3");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, attr4) == 216, "item.attr4");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, barcode_flag) == 220, "item.barcode_flag");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, code224) == 224, "item.code224");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, amount) == 228, "item.amount");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, text236) == 236, "item.text236");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, text252) == 252, "item.text252");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, scale_text) == 268, "item.scale_text");
ECR_STATIC_ASSERT(offsetof(EcrItemRecord, code468) == 468, "item.code468");
ECR_STATIC_ASSERT(sizeof(EcrItemRecord) == 472, "item size");

ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, kind) == 32, "sale.kind");
ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, number) == 36, "sale.number");
ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, plu) == 40, "sale.plu");
ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, code) == 44, "sale.code");
ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, name) == 76, "sale.name");
ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, quantity) == 136, "sale.quantity");
ECR_STATIC_ASSERT(offsetof(EcrSaleRecord, value) == 164, "sale.value");
ECR_STATIC_ASSERT(sizeof(EcrSaleRecord) == 224, "sale size");

ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, name) == 4, "dept.name");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, vat_group) == 60, "dept.vat_group");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, price) == 64, "dept.price");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, value72) == 72, "dept.value72");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, flags) == 88, "dept.flags");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, word92) == 92, "dept.word92");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, word96) == 96, "dept.word96");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, word100) == 100, "dept.word100");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, word104) == 104, "dept.word104");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, word108) == 108, "dept.word108");
ECR_STATIC_ASSERT(offsetof(EcrDeptRecord, word112) == 112, "dept.word112");
ECR_STATIC_ASSERT(sizeof(EcrDeptRecord) == 116, "dept size");

ECR_STATIC_ASSERT(offsetof(EcrUnitRecord, name) == 4, "unit.name");
ECR_STATIC_ASSERT(sizeof(EcrUnitRecord) == 12, "unit size");
ECR_STATIC_ASSERT(sizeof(EcrVatRecord) == 64, "vat size");

ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, device_text) == 8, "status.device_text");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, text2) == 40, "status.text2");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, unique_number) == 56, "status.unique_number");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, date) == 88, "status.date");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, time) == 104, "status.time");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, receipt_number) == 120, "status.receipt_number");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, status) == 156, "status.status");
ECR_STATIC_ASSERT(offsetof(EcrStatusRecord, information) == 172, "status.information");
ECR_STATIC_ASSERT(sizeof(EcrStatusRecord) == 2220, "status size");

ECR_STATIC_ASSERT(offsetof(EcrEvent, text) == 4, "event.text");
ECR_STATIC_ASSERT(offsetof(EcrEvent, percent) == 260, "event.percent");
ECR_STATIC_ASSERT(offsetof(EcrEvent, value) == 264, "event.value");
ECR_STATIC_ASSERT(sizeof(EcrEvent) == 268, "event size");

#undef ECR_STATIC_ASSERT

#endif /* ORVANTA_ECR_H */
