// CSharp is complete in its header; this file keeps the one-pair-per-class
// layout of the family.
#include "drivers/sharp/csharp.h"
