// A Datecs MP500 library that lacks one entry point (MP500ZeroPLUCounters):
// opening must name what is missing.
#include "drivers/mp500/mp500_dll.h"

extern "C" {
int MP500_CALL MP500SendArticles(int, int, int, int, MP500Callback, void*) { return 0; }
int MP500_CALL MP500DeleteArticles(int, int, int, MP500Callback, void*) { return 0; }
int MP500_CALL MP500ReceiveArticles(int, int, int, MP500Callback, void*) { return 0; }
}
