// The communication library stand-in without one entry point (__OTowar),
// for the driver's refusal of an incomplete library.
#define WINIP_FAKE_WITHOUT_OTOWAR
#include "winip.cpp"
