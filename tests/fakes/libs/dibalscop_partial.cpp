// Dibal's scale library stand-in without RegistersSend, for the driver's
// refusal of an incomplete library.
#define DIBALSCOP_FAKE_WITHOUT_REGISTERS_SEND
#include "dibalscop.cpp"
