#include "drivers/sharp/csharp285.h"

CSharp285::CSharp285() : CSharpLink(kSharp285Traits) {}
