/* A host built against the installed header and import library alone, as a
   shop's program is: it imports the functions from orvanta.dll and runs one
   job through to its end. Nothing listens at the device's address, so the
   job ends with the connect's failure; what counts here is that the job
   started, ran on the library's worker and reported back. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <orvanta/ecr.h>

static void ECR_CALL OnVat(const double vat[8]) { (void)vat; }

int main(void) {
    EcrDeviceRecord dev;
    int waited = 0;
    if (!EcrCreate(NULL)) {
        fprintf(stderr, "EcrCreate failed\n");
        return 1;
    }
    memset(&dev, 0, sizeof dev);
    dev.type = 86;              /* Novitus Next */
    dev.kind = 11;              /* over TCP */
    dev.port = 0x7F4D0001;      /* 127.77.0.1, where nothing listens on port 5001 */
    if (EcrReadVAT(&dev, OnVat) != 1) {
        fprintf(stderr, "the job did not start: %d %s\n", EcrError(), EcrErrMsg());
        return 1;
    }
    while (!EcrIsDone()) {
        if (++waited > 3000) {  /* 30 s */
            fprintf(stderr, "the job did not end\n");
            EcrBreakJob();
            return 1;
        }
        Sleep(10);
    }
    printf("job ended: EcrError=%d %s\n", EcrError(), EcrErrMsg());
    EcrDelete();
    /* Every failure carries its text. */
    return EcrError() == 0 || EcrErrMsg()[0] != '\0' ? 0 : 1;
}
