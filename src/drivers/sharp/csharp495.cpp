#include "drivers/sharp/csharp495.h"

CSharp495::CSharp495() : CSharp(kSharp495Traits) {}
