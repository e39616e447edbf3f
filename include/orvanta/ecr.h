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
 * How a host uses it:
 *   1. EcrCreate(NULL) once, before anything else.
 *   2. Fill an EcrDeviceRecord (zero it first) and call one job export. It
 *      opens the device on the calling thread (progress events 1, 6 and 8 can
 *      come before it returns) and returns 1 when the job was started; the
 *      job then runs on the library's worker thread. 0: refused (another job
 *      has not been collected yet, or the open failed: EcrError() says why).
 *   3. Poll EcrIsDone() (e.g. every 50 ms) until it returns 1; only then may
 *      the next job start.
 *   4. EcrError() (0: success) and EcrErrMsg() give the job's result.
 * Records reach the host through the callbacks, on the worker thread; a
 * record handed to a callback is valid only during the call (copy what you
 * keep). Arrays the host passes to a job must stay valid, and untouched,
 * until EcrIsDone() has returned 1: the library reads them while the job
 * runs and writes back into some fields (see EcrItemRecord).
 *
 * One job at a time, process-wide. A callback must not start another job;
 * it may call EcrBreakJob(). Exceptions must not leave a callback.
 */
#ifndef ORVANTA_ECR_H
#define ORVANTA_ECR_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ECR_CALL __cdecl
/* A host imports the functions from orvanta.dll; only the library's own
   build (which defines ORVANTA_BUILDING_DLL) exports them. */
#if defined(ORVANTA_BUILDING_DLL)
#define ECR_EXPORT __declspec(dllexport)
#else
#define ECR_EXPORT __declspec(dllimport)
#endif
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

/* The device description handed to every job export (copied at the start;
   the text is cut to 63 characters). Words a family does not use are
   ignored: zero them. */
typedef struct EcrDeviceRecord {
    int32_t type;             /*   0 device type code selecting the driver (docs/devices.md: choosing
                                     the type code) */
    int32_t port;             /*   4 serial port 1..16 (ECR_COM<n> names the device); for TCP
                                     (connection kind 11: Novitus Next, Posnet Combo) the IPv4
                                     address, first octet in the top byte */
    int32_t baud;             /*   8 serial line speed (1200..115200) */
    int32_t word3;            /*  12 Elzab: the protocol's wait time; others: not used */
    int32_t word4;            /*  16 not used */
    int32_t kind;             /*  20 connection kind: 2 Elzab multiplexer channel by line levels;
                                     3, 4 Novitus multiplexer types 1 and 2; 5 Medesa over USB;
                                     7, 8, 9, 10, 13 Elzab modem and network links (the Elzab
                                     library); 11 TCP; 12 Posnet USB; anything else: direct
                                     serial line */
    int32_t word6;            /*  24 multiplexer channel (with kinds 2, 3, 4) */
    int32_t word7;            /*  28 register or machine number: the number an Elzab register must
                                     report, the Sharp machine number */
    int32_t word8;            /*  32 family setting of some scales and other registers (docs/devices.md) */
    int32_t word9;            /*  36 family setting of some registers (docs/devices.md) */
    uint32_t flags;           /*  40 option bits: bit 1 set selects sale-read mode 2, else bit 0
                                     mode 1 or 0 (Elzab, Novitus, Posnet Combo); the Sharp drivers
                                     take the whole word as their protocol options */
    int32_t word11;           /*  44 not used */
    char address[64];         /*  48 device address or name: network host or address of a modem or
                                     network link, Posnet USB device name (CP1250) */
    EcrProgressCallback progress; /* 112 the host's progress callback (may be NULL) */
} EcrDeviceRecord;

/* One goods item (472 bytes). Arrays of it go to EcrPgmPLU, EcrUpDatePLU,
   EcrPgmExBarcode, EcrDelPLU and EcrReadPLU; single items come back through
   the item read and confirmation callbacks. On reading, fields the device
   does not give are 0 or empty; texts come back as the device holds them,
   often padded with blanks to its width (docs/devices.md: what each family
   fills and ignores). On programming, texts longer than the device's field are
   cut without a word. Fields marked "family" carry what the named families
   send or return; every other family ignores them. */
typedef struct EcrItemRecord {
    uint32_t number;          /*   0 PLU number (0: keyed by the barcode where a family supports it) */
    char code[32];            /*   4 goods code or barcode (at most 13 digits unless a family takes more) */
    char name[48];            /*  36 goods name, cut to the device's width */
    double vat_rate;          /*  84 VAT rate in per cent; Elzab: finds the group when vat_group is 0 */
    uint32_t vat_group;       /*  92 1-based VAT group; Elzab WRITES the group it found back here */
    uint32_t department;      /*  96 department (goods group) number */
    double price;             /* 100 unit price */
    uint8_t reserved_108[8];  /* 108 not used */
    double price2;            /* 116 family: second price (scales) */
    uint32_t attr1;           /* 124 family: Elzab attribute byte, Perfekt option, Tango and Combo flags */
    uint8_t reserved_128[16]; /* 128 not used */
    uint32_t unit;            /* 144 1-based unit of measure; read as 1 where the device has none */
    uint32_t word148;         /* 148 family: other registers (docs/devices.md) */
    uint32_t word152;         /* 152 family: Sharp goods row field */
    uint32_t word156;         /* 156 family: Sharp goods row field, Combo field */
    uint32_t word160;         /* 160 family: Sharp goods row field, Combo field */
    uint32_t attr2;           /* 164 family: Sharp tax field, Perfekt option, Tango and Combo fields */
    uint32_t word168;         /* 168 family: Combo and Tango fields */
    uint32_t word172;         /* 172 family: Tango field */
    uint32_t linked_plu;      /* 176 linked item, 0 none (Elemis: its attribute byte) */
    char code2[32];           /* 180 family: second barcode (Combo, Tango) */
    uint32_t attr3;           /* 212 family: Elzab attribute byte; 0 on reading elsewhere */
    uint32_t attr4;           /* 216 family: Elzab attribute byte; Sharp: keyed by barcode or number */
    uint32_t barcode_flag;    /* 220 family: Sharp 457 and 495 also send a barcode-keyed row */
    uint32_t code224;         /* 224 family: scales (two-digit code) */
    double amount;            /* 228 family: scales (amount) */
    char text236[16];         /* 236 family: scales (dates) */
    char text252[16];         /* 252 family: scales (dates) */
    char scale_text[8][25];   /* 268 family: scales (name and text lines) */
    uint32_t code468;         /* 468 family: scales (three-digit code) */
} EcrItemRecord;

/* One sale line (224 bytes); handed to the sale callback with an item whose
   number, code and name are filled. */
typedef struct EcrSaleRecord {
    char text[32];            /*   0 report line text (Tango sale positions); else empty */
    uint32_t kind;            /*  32 record kind, 0 plain PLU sale */
    uint32_t number;          /*  36 position or report number where the device gives one, else 0 */
    uint32_t plu;             /*  40 PLU number */
    char code[32];            /*  44 goods code */
    char name[48];            /*  76 goods name */
    uint8_t reserved_124[12]; /* 124 */
    double quantity;          /* 136 sold quantity */
    uint8_t reserved_144[20]; /* 144 */
    double value;             /* 164 sold value */
    uint8_t reserved_172[52]; /* 172 */
} EcrSaleRecord;

/* One department (116 bytes). The words from 60 on are family attributes,
   copied to and from the device's department record where a family has
   them (Sharp department rows and some other registers); elsewhere 0. */
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

/* Eight VAT rates for groups A..H in per cent; -3.0 undefined, -1.0 exempt.
   Every family reports by meaning: on Novitus registers a rate never
   programmed ("FFFF" on the Tango protocol, 989900 through the fiscal
   control) is -3.0 and the exempt rate (9999, 999900) is -1.0. */
typedef struct EcrVatRecord {
    double rate[8];
} EcrVatRecord;

/* Device status (2220 bytes), handed to the status callback with the VAT
   rates. Fields a family does not fill are 0 or empty. */
typedef struct EcrStatusRecord {
    uint32_t device_type;     /*    0 device type byte as the register reports it (Elzab) */
    uint8_t reserved_4[4];    /*    4 */
    char device_text[32];     /*    8 device name, version or status text */
    char text2[16];           /*   40 second status text */
    char unique_number[16];   /*   56 unique (serial) number */
    uint8_t reserved_72[16];  /*   72 */
    char date[16];            /*   88 register date */
    char time[16];            /*  104 register time */
    uint32_t receipt_number;  /*  120 */
    uint8_t reserved_124[32]; /*  124 */
    uint32_t status[4];       /*  156 four device status values (Elzab) */
    char information[2048];   /*  172 free text, lines ended by CR LF (Posnet, Novitus and others) */
} EcrStatusRecord;

/* The event block whose address a posted event message carries (268 bytes;
   Windows hosts only: here events reach the host through the progress
   callback alone). */
typedef struct EcrEvent {
    uint32_t code;            /*   0 event code */
    char text[256];           /*   4 text, at most 255 characters */
    uint32_t percent;         /* 260 */
    uint32_t value;           /* 264 */
} EcrEvent;

#pragma pack(pop)

/* Host callbacks. All are called on the library's worker thread (the
   progress callback also on the host's own thread while a job export opens
   the device). Records are valid only during the call. The confirmation
   callbacks (EcrItemProgramCallback, ...) get each record the device
   REFUSED, with its code and text (at most 63 characters); accepted records
   are not confirmed. */
typedef void(ECR_CALL* EcrVatCallback)(const double vat[8]);
typedef void(ECR_CALL* EcrStatusCallback)(const EcrStatusRecord* status, const double vat[8]);
typedef void(ECR_CALL* EcrItemReadCallback)(const EcrItemRecord* item);
typedef void(ECR_CALL* EcrSaleCallback)(const EcrItemRecord* item, const EcrSaleRecord* sale);
typedef void(ECR_CALL* EcrItemProgramCallback)(const EcrItemRecord* item, int code, const char text[64]);
typedef void(ECR_CALL* EcrDeptReadCallback)(const EcrDeptRecord* dept);
typedef void(ECR_CALL* EcrDeptProgramCallback)(const EcrDeptRecord* dept, int code, const char text[64]);
typedef void(ECR_CALL* EcrUnitReadCallback)(const EcrUnitRecord* unit);
typedef void(ECR_CALL* EcrUnitProgramCallback)(const EcrUnitRecord* unit, int code, const char text[64]);

/* Progress events: the first argument of the progress callback.
     event                    text                    percent  value
     1  OPENING               empty                   0        0       the device is being opened (on
                                                                       the host's thread; may not come)
     2  TITLE                 the job's title         0        0       the job begins (worker thread)
     4  WAIT                  "Proszę czekać..."      0        0       right after the title
     5  ITEM                  the item's text         0..100   0       one record handled (programming,
                                                                       deleting, reading by list)
     6  DEVICE_ERROR          error text              0        code    the open failed with a device
                                                                       code (host's thread); the first
                                                                       refused item of some loops; an
                                                                       item of a listed read the device
                                                                       does not hold (its code, no
                                                                       record); and, for some families,
                                                                       every retried exchange (below)
     7  FAILED                error text              0        code    the job failed
     8  SYSTEM_ERROR          error text              0        code    the open failed with a transport
                                                                       or system code (host's thread);
                                                                       after a failed open it comes a
                                                                       second time as the job's end
     9  BULK                  family text             0..100   0       a bulk transfer begins or goes on
     10 SUCCEEDED             empty                   0        0       the job succeeded
     11 CLOSED                empty                   0        0       the device was closed after a
                                                                       connected job (always the last)
   A started job ends with 10 or 7, then 11. A failed open sends 6 or 8,
   then 8 again, and the job export returns 0. Texts are CP1250, at most
   255 characters.
   Event 6 is not always the end of anything: the Novitus Tango and Next
   registers (types 12, 34, 35, 57-59, 65-70, 85, 86) send each request up
   to seven times, with event 6 (-5 or 9999) for every try that got no
   answer or a wrong one, and the Optimus line (type 9) sends it for every
   failed recovery round. Take the job's end from event 7 or 10 and
   EcrError(), not from event 6.
   After EcrBreakJob() (or a failure that ends a loop), the records not
   reached get no confirmation and no event. To learn how far the job came,
   keep the last event 5: its text names the record the job had begun (the
   family's text: "Nazwa - <name>", "PLU - <number>", "Kod kreskowy -
   <code>" ...) and its percent how far the list was; the records before it
   were handled (each refusal among them was confirmed), that record itself
   may or may not have reached the device. */
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

/* Error codes every family shares (EcrError(), the value of events 6, 7
   and 8, the confirmation callbacks' code). Positive codes other than
   these are the device's own; EcrErrMsg() and the callbacks give their
   text. A code -1..-10 always carries the transport's own text: on a
   serial line "Błąd obsługi portu szeregowego: ..." (-2 "Port szeregowy o
   danym numerze nie istnieje", -3 "Port szeregowy nie został aktywowany",
   -4 "Port szeregowy o danym numerze jest już w użyciu"), over TCP "Błąd
   obsługi połączenia: ..." (-2 "Połączenie o danym numerze nie istnieje",
   -3 "Połączenie nie zostało aktywowane", -4 "Połączenie o danym numerze
   jest już w użyciu"); -7 is "Transmisja przerwana przez użytkownika" on
   both.

   Where each code is reported:
   - By the job export itself, which returns 0 with no event: a job not yet
     collected with EcrIsDone() (nothing changes, EcrError() still gives
     the previous job's result); a type code no family has (999999, unless
     the previous job left a code).
   - At the open, on the host's thread, inside the job export, which
     returns 0 after event 8 (-1..-4) or event 6 (any other code) and
     event 8 again: -1..-4 (-2: no such port, ECR_COM<n> naming a
     directory, no USB bus controller; -4: the port is held); 999999 for a
     family not served ("Brak obsługi urządzenia tego typu w tej wersji
     biblioteki"), a vendor library or entry point missing ("Nie można
     załadować biblioteki <file>", "Brak funkcji <name> w bibliotece
     <file>"), or a library path that is not a regular file; 9997 for the
     Novitus fiscal-control types (no control on this system); and the
     codes of the families whose open talks to the device (Elemis: -5 and
     its own codes, 108 for a bad ECR_ELEMIS_LINK; the vendor libraries:
     their codes).
   - In the job, on the worker thread (the export returned 1; event 7 and
     EcrError() carry it): every other code: -5..-10, 25, 9998, 9999, the
     device's own codes, 999999 when a callback threw, and the socket
     codes of a TCP connection.
   Socket codes (Novitus Next with connection kind 11; the connection is
   started at the open and its outcome taken by the job's first exchange,
   which waits at most 5 s for it, then -5): the texts are those of the
   Windows socket layer, in English, except 10061:
     10050 "The Windows Sockets implementation detected that the network
           subsystem failed." (also any system error without a code of its
           own)
     10051 "The network cannot be reached from this host at this time."
     10053 "The virtual circuit was aborted due to timeout or other
           failure."
     10054 "The virtual circuit was reset by the remote side."
     10057 "The socket is not connected."
     10058 "The socket has been shut down; it is not possible to call
           Receive on a socket after ShutDown has been invoked with nHow
           set to 0 or 2."
     10060 "The attempt to connect timed out without establishing a
           connection."
     10061 "Połączenie sieciowe zostało odrzucone." (connection refused)
     other codes, e.g. 10052, 10064, 10065 (host unreachable):
           "Nieokreślony błąd : <code>"
   9998 and 9999 carry the family's own text ("Nieokreślony błąd" on
   most). */
enum {
    ECR_OK = 0,
    ECR_ERR_BAD_PARAMETER = -1,      /* bad argument to the transport */
    ECR_ERR_NO_SUCH_PORT = -2,       /* the port does not exist */
    ECR_ERR_PORT_NOT_OPEN = -3,      /* the port or connection is not open */
    ECR_ERR_PORT_IN_USE = -4,        /* the port is held by another job or process */
    ECR_ERR_TIMEOUT = -5,            /* the device did not answer in time */
    ECR_ERR_LINE_LOST = -6,          /* the line or connection went away */
    ECR_ERR_BROKEN_OFF = -7,         /* EcrBreakJob() broke the job off */
    ECR_ERR_INPUT_OVERFLOW = -8,     /* the input buffer overflowed */
    ECR_ERR_TRANSFER_ABORTED = -9,   /* the transfer was aborted */
    ECR_ERR_NO_RESOURCES = -10,      /* out of memory or other resources */
    ECR_ERR_NOT_AVAILABLE = 25,      /* the job or record is not available on this device: "Rozkaz
                                        niedostępny w tej wersji programu kasy" (docs/devices.md) */
    ECR_ERR_DEVICE_ENDED = 9998,     /* the device ended the exchange (EOT) */
    ECR_ERR_NO_ANSWER = 9999,        /* no answer or a bad answer; a transfer program or file failed */
    ECR_ERR_NOT_INSTALLED = 9997,    /* the Novitus fiscal control is not installed (types 26, 60,
                                        71, 72, 82, 83, 87): "Błąd instalacji sterownika ActiveX. Do
                                        pobrania na stronie www producenta pod adresem :" */
    ECR_ERR_SYSTEM = 999999          /* system error: unknown or unserved device type, job not
                                        started ("System kas fiskalnych - błąd systemu !"), library
                                        or entry point missing, a callback threw */
};

/* Job exports. Each takes the device record first; returns 1 when the job
   was started (it runs on the worker thread: poll EcrIsDone()), 0 when it
   was refused: a job not yet collected with EcrIsDone() (nothing changes),
   an unknown or unserved device type (999999), or an open that failed
   (EcrError(), events 6/8). Each stores its callback for the job; a NULL
   callback receives nothing. Arrays (items, depts, units) with their count
   stay in use until EcrIsDone() returns 1.
   Count: every export that takes an array and a count takes a count of 0
   (or below) with a non-NULL array as 1: the first record is programmed,
   deleted or read. Two families send their goods as one stream and send
   nothing for such a count: Dibal type 103 and Datecs MP500 (types 39, 41,
   42).
   The job's result (EcrError()) is that of the last record handled: a job
   whose earlier records were refused can end with 0, so watch the
   confirmation callback. In a read by list (EcrReadPLU), a record the
   device does not hold gives event 6 with its code and no record, and the
   job goes on; it ends as its last record did. A device that stops
   answering ends the job after three records in a row without an answer,
   confirming the rest with that code; most reads by list end at the first
   record without an answer (how long each family waits: docs/devices.md). */
ECR_EXPORT int ECR_CALL EcrReadSale(const EcrDeviceRecord* dev, EcrSaleCallback cb);     /* sales report, one call per line */
ECR_EXPORT int ECR_CALL EcrClearSale(const EcrDeviceRecord* dev, EcrSaleCallback cb);    /* clears the sales report (some families hand over what they clear) */
ECR_EXPORT int ECR_CALL EcrReadAllPLU(const EcrDeviceRecord* dev, EcrItemReadCallback cb); /* every goods item the device holds (some families ask every number: slow; docs/devices.md) */
ECR_EXPORT int ECR_CALL EcrReadPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemReadCallback cb); /* the items by number (or code); count 0 counts as 1 */
ECR_EXPORT int ECR_CALL EcrPgmPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb); /* program goods; refusals confirmed; count 0 counts as 1 */
ECR_EXPORT int ECR_CALL EcrUpDatePLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb); /* update goods (where a family tells the two apart); count 0 counts as 1 */
ECR_EXPORT int ECR_CALL EcrDelPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb); /* delete goods by number (or code); count 0 counts as 1 */
ECR_EXPORT int ECR_CALL EcrDelAllPLU(const EcrDeviceRecord* dev, EcrItemProgramCallback cb); /* opens and closes the device, no other traffic */
ECR_EXPORT int ECR_CALL EcrReadAllDEPT(const EcrDeviceRecord* dev, EcrDeptReadCallback cb); /* every department */
ECR_EXPORT int ECR_CALL EcrReadDEPT(const EcrDeviceRecord* dev, EcrDeptRecord* depts, int count, EcrDeptReadCallback cb); /* no device work: ends with 25 */
ECR_EXPORT int ECR_CALL EcrPgmDEPT(const EcrDeviceRecord* dev, EcrDeptRecord* depts, int count, EcrDeptProgramCallback cb); /* program departments; count 0 counts as 1 */
ECR_EXPORT int ECR_CALL EcrReadAllUnit(const EcrDeviceRecord* dev, EcrUnitReadCallback cb); /* every unit of measure */
ECR_EXPORT int ECR_CALL EcrPgmUNIT(const EcrDeviceRecord* dev, EcrUnitRecord* units, int count, EcrUnitProgramCallback cb); /* program units; count 0 counts as 1 */
ECR_EXPORT int ECR_CALL EcrReadStatus(const EcrDeviceRecord* dev, EcrStatusCallback cb); /* status record and VAT rates, one call */
ECR_EXPORT int ECR_CALL EcrReadVAT(const EcrDeviceRecord* dev, EcrVatCallback cb);       /* the eight VAT rates, one call */
ECR_EXPORT int ECR_CALL EcrReadFromPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, EcrItemReadCallback cb); /* no device work: ends with 25 */
ECR_EXPORT int ECR_CALL EcrDelFromPLU(const EcrDeviceRecord* dev, EcrItemRecord* items, EcrItemProgramCallback cb); /* no device work: ends with 25 */
ECR_EXPORT int ECR_CALL EcrPgmExBarcode(const EcrDeviceRecord* dev, EcrItemRecord* items, int count, EcrItemProgramCallback cb); /* program extra barcodes of goods; count 0 counts as 1 */

/* Management exports. */
/* Call once before any job. window: NULL here (a window handle on Windows).
   1; 0 with 999999 "Failed to create OLE ECR Control" when the library
   cannot set itself up. */
ECR_EXPORT int ECR_CALL EcrCreate(EcrWindow window);
/* Creates and destroys the fiscal printer control once (Windows; here there
   is none). Always 1. */
ECR_EXPORT int ECR_CALL EcrPreCreate(EcrWindow window);
/* Releases what the last job's device family keeps (the fiscal control, a
   scale's window). Always 1. Call it when no job runs. */
ECR_EXPORT int ECR_CALL EcrDelete(void);
/* 1 when no job runs (and collects a finished one, so the next may start);
   0 while a job runs. Any thread; never blocks. */
ECR_EXPORT int ECR_CALL EcrIsDone(void);
/* The last job's error code (0: success; ECR_ERR_* and the device's own).
   999999 before EcrCreate. Any thread, at any time. */
ECR_EXPORT int ECR_CALL EcrError(void);
/* The text for EcrError() (Polish, CP1250; "" for 0). The pointer stays
   valid until the next job starts. Any thread, at any time. */
ECR_EXPORT const char* ECR_CALL EcrErrMsg(void);
/* Breaks the running job off: every wait ends at once, the job ends with
   -7 after closing the device. 1 when a job was running, else 0. Does not
   wait; any thread, also from a callback. */
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
#if UINTPTR_MAX == 0xFFFFFFFFu
ECR_STATIC_ASSERT(sizeof(EcrDeviceRecord) == 116, "device record: 116 bytes in a 32-bit build");
#else
ECR_STATIC_ASSERT(sizeof(EcrDeviceRecord) == 120, "device record: 120 bytes in a 64-bit build");
#endif

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
