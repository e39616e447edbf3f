/* A host built against an installed copy of the library: it only starts the
   library and reads the error state a fresh library reports. */
#include <stdio.h>

#include <orvanta/ecr.h>

int main(void) {
    if (!EcrCreate(NULL)) {
        fprintf(stderr, "EcrCreate failed\n");
        return 1;
    }
    printf("EcrError=%d\n", EcrError());
    return EcrError() == 0 ? 0 : 1;
}
