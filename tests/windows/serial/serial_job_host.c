/* A Windows host of the library, written against the header only: it loads
   the DLL with LoadLibrary, looks the exports up by name, and runs jobs over
   the serial port COM1 against a simulated Elzab register (the test script
   links the emulator's pseudo-terminal as COM1, and a second one that
   answers only after a minute as COM2).

   Checks: the VAT rates come back; two goods programmed are read back with
   their names and prices; a job waiting on the silent register is broken off
   at once by EcrBreakJob, and its wait used next to no processor time.
   Given the port word of a simulated Novitus Next register (listening on
   127.0.0.1:5001), its VAT rates are read over TCP through Winsock too.

   Usage: serial_job_host.exe <path of orvanta.dll> [<Next port word>] */
#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orvanta/ecr.h>

typedef int(ECR_CALL* CreateFn)(EcrWindow);
typedef int(ECR_CALL* IntFn)(void);
typedef const char*(ECR_CALL* TextFn)(void);
typedef int(ECR_CALL* ReadVatFn)(const EcrDeviceRecord*, EcrVatCallback);
typedef int(ECR_CALL* PgmPluFn)(const EcrDeviceRecord*, EcrItemRecord*, int, EcrItemProgramCallback);
typedef int(ECR_CALL* ReadPluFn)(const EcrDeviceRecord*, EcrItemRecord*, int, EcrItemReadCallback);

static CreateFn p_create;
static IntFn p_isDone, p_error, p_break, p_delete;
static TextFn p_errMsg;
static ReadVatFn p_readVat;
static PgmPluFn p_pgmPlu;
static ReadPluFn p_readPlu;

static int g_failures;

#define CHECK(cond, ...)                                       \
    do {                                                       \
        if (!(cond)) {                                         \
            fprintf(stderr, "FAILED %s:%d: ", __FILE__, __LINE__); \
            fprintf(stderr, __VA_ARGS__);                      \
            fputc('\n', stderr);                               \
            ++g_failures;                                      \
        }                                                      \
    } while (0)

static FARPROC Need(HMODULE lib, const char* name) {
    FARPROC f = GetProcAddress(lib, name);
    if (f == NULL) {
        fprintf(stderr, "the library does not export %s\n", name);
        ExitProcess(2);
    }
    return f;
}

/* Waits for the job (at most limitMs) and returns its error code. */
static int WaitForJob(DWORD limitMs) {
    const ULONGLONG end = GetTickCount64() + limitMs;
    while (!p_isDone()) {
        if (GetTickCount64() > end) {
            fprintf(stderr, "the job did not end in %lu ms\n", (unsigned long)limitMs);
            ExitProcess(3);
        }
        Sleep(20);
    }
    return p_error();
}

static double g_vat[8];
static int g_vatCalls;
static void ECR_CALL OnVat(const double vat[8]) {
    memcpy(g_vat, vat, sizeof g_vat);
    ++g_vatCalls;
}

static int g_refused;
static void ECR_CALL OnRefused(const EcrItemRecord* item, int code, const char text[64]) {
    fprintf(stderr, "item %u refused: %d %.64s\n", item->number, code, text);
    ++g_refused;
}

static EcrItemRecord g_read[4];
static int g_readCount;
static void ECR_CALL OnItem(const EcrItemRecord* item) {
    if (g_readCount < 4) g_read[g_readCount] = *item;
    ++g_readCount;
}

static void InitDevice(EcrDeviceRecord* dev, int port) {
    memset(dev, 0, sizeof *dev);
    dev->type = 27; /* Elzab */
    dev->port = port;
    dev->baud = 9600;
}

/* Processor time of this process so far, in milliseconds. */
static double CpuMillis(void) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

static double NowMillis(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * 1000.0 / (double)f.QuadPart;
}

static void TestVatRates(void) {
    EcrDeviceRecord dev;
    InitDevice(&dev, 1);
    CHECK(p_readVat(&dev, OnVat), "EcrReadVAT not started: %d %s", p_error(), p_errMsg());
    const int r = WaitForJob(60000);
    CHECK(r == ECR_OK, "EcrReadVAT: %d %s", r, p_errMsg());
    CHECK(g_vatCalls == 1, "VAT callback calls: %d", g_vatCalls);
    printf("VAT rates: %.2f %.2f %.2f %.2f\n", g_vat[0], g_vat[1], g_vat[2], g_vat[3]);
}

static void TestGoodsRoundTrip(void) {
    static EcrItemRecord items[2]; /* valid until the job is done */
    EcrDeviceRecord dev;
    InitDevice(&dev, 1);
    memset(items, 0, sizeof items);
    for (int i = 0; i < 2; ++i) {
        items[i].number = (uint32_t)(i + 1);
        snprintf(items[i].name, sizeof items[i].name, "Towar %d", i + 1);
        items[i].vat_group = 1;
        items[i].department = 1;
        items[i].price = 1.99 + i;
        items[i].unit = 1;
    }
    CHECK(p_pgmPlu(&dev, items, 2, OnRefused), "EcrPgmPLU not started: %d %s", p_error(), p_errMsg());
    int r = WaitForJob(60000);
    CHECK(r == ECR_OK && g_refused == 0, "EcrPgmPLU: %d %s, %d refused", r, p_errMsg(), g_refused);

    static EcrItemRecord wanted[2];
    memset(wanted, 0, sizeof wanted);
    wanted[0].number = 1;
    wanted[1].number = 2;
    CHECK(p_readPlu(&dev, wanted, 2, OnItem), "EcrReadPLU not started: %d %s", p_error(), p_errMsg());
    r = WaitForJob(60000);
    CHECK(r == ECR_OK, "EcrReadPLU: %d %s", r, p_errMsg());
    CHECK(g_readCount == 2, "items read: %d", g_readCount);
    for (int i = 0; i < 2 && i < g_readCount; ++i) {
        char expected[16];
        snprintf(expected, sizeof expected, "Towar %d", i + 1);
        /* The register pads names with blanks to its width. */
        CHECK(g_read[i].number == (uint32_t)(i + 1), "item %d number %u", i, g_read[i].number);
        CHECK(strncmp(g_read[i].name, expected, strlen(expected)) == 0, "item %d name '%.48s'", i, g_read[i].name);
        CHECK(fabs(g_read[i].price - (1.99 + i)) < 0.005, "item %d price %.2f", i, g_read[i].price);
    }
}

static void TestBreakOfAWait(void) {
    EcrDeviceRecord dev;
    InitDevice(&dev, 2); /* the register that answers a minute late */
    g_vatCalls = 0;
    CHECK(p_readVat(&dev, OnVat), "EcrReadVAT not started: %d %s", p_error(), p_errMsg());
    Sleep(300); /* the job is in its wait for the answer now */
    const double cpu0 = CpuMillis();
    const double wall0 = NowMillis();
    Sleep(1000);
    const double cpu = CpuMillis() - cpu0;
    const double waited = NowMillis() - wall0;
    CHECK(!p_isDone(), "the job ended without an answer");
    printf("processor time during %.0f ms of waiting: %.1f ms\n", waited, cpu);
    CHECK(cpu < 100.0, "the wait used %.1f ms of processor time in %.0f ms", cpu, waited);

    const double t0 = NowMillis();
    p_break();
    while (!p_isDone() && NowMillis() - t0 < 5000) Sleep(1);
    const double took = NowMillis() - t0;
    printf("break noticed after %.1f ms\n", took);
    CHECK(p_isDone(), "the job did not end after the break");
    CHECK(took < 250.0, "the break took %.1f ms", took);
    CHECK(p_error() == ECR_ERR_BROKEN_OFF, "error after the break: %d %s", p_error(), p_errMsg());
    CHECK(g_vatCalls == 0, "VAT rates came from the silent register");
}

static void TestVatRatesOverTcp(uint32_t address) {
    EcrDeviceRecord dev;
    memset(&dev, 0, sizeof dev);
    dev.type = 85; /* Novitus Next */
    dev.port = (int32_t)address;
    dev.kind = 11; /* TCP */
    memset(g_vat, 0, sizeof g_vat);
    g_vatCalls = 0;
    CHECK(p_readVat(&dev, OnVat), "EcrReadVAT over TCP not started: %d %s", p_error(), p_errMsg());
    const int r = WaitForJob(60000);
    CHECK(r == ECR_OK, "EcrReadVAT over TCP: %d %s", r, p_errMsg());
    CHECK(g_vatCalls == 1, "VAT callback calls over TCP: %d", g_vatCalls);
    printf("VAT rates over TCP: %.2f %.2f %.2f %.2f\n", g_vat[0], g_vat[1], g_vat[2], g_vat[3]);
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0); /* progress shows even when a job hangs */
    if (argc < 2) {
        fprintf(stderr, "usage: %s <orvanta.dll>\n", argv[0]);
        return 2;
    }
    HMODULE lib = LoadLibraryA(argv[1]);
    if (lib == NULL) {
        fprintf(stderr, "LoadLibrary(%s) failed: %lu\n", argv[1], (unsigned long)GetLastError());
        return 2;
    }
    p_create = (CreateFn)(void (*)(void))Need(lib, "EcrCreate");
    p_isDone = (IntFn)(void (*)(void))Need(lib, "EcrIsDone");
    p_error = (IntFn)(void (*)(void))Need(lib, "EcrError");
    p_errMsg = (TextFn)(void (*)(void))Need(lib, "EcrErrMsg");
    p_break = (IntFn)(void (*)(void))Need(lib, "EcrBreakJob");
    p_delete = (IntFn)(void (*)(void))Need(lib, "EcrDelete");
    p_readVat = (ReadVatFn)(void (*)(void))Need(lib, "EcrReadVAT");
    p_pgmPlu = (PgmPluFn)(void (*)(void))Need(lib, "EcrPgmPLU");
    p_readPlu = (ReadPluFn)(void (*)(void))Need(lib, "EcrReadPLU");

    if (!p_create(NULL)) {
        fprintf(stderr, "EcrCreate failed\n");
        return 1;
    }
    printf("-- VAT rates over COM1\n");
    TestVatRates();
    printf("-- goods programmed and read back over COM1\n");
    TestGoodsRoundTrip();
    printf("-- a wait on COM2 broken off\n");
    TestBreakOfAWait();
    if (argc > 2) {
        printf("-- VAT rates over TCP\n");
        TestVatRatesOverTcp((uint32_t)strtoul(argv[2], NULL, 10));
    }
    printf("-- library unloaded\n");
    p_delete();
    FreeLibrary(lib);
    if (g_failures == 0)
        printf("PASSED\n");
    else
        printf("%d FAILED\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
