#include "drivers/dsa/cd5_ecr.h"

// Everything of the DSA 45B job logic is CDsaLogic's with the CDsa45B
// protocol object; the model and variant words keep their constructed values.
