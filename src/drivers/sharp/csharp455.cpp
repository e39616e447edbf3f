#include "drivers/sharp/csharp455.h"

CSharp455::CSharp455() : CSharpXXX(kSharp455Traits) {}
