#include "drivers/sharp/csharp457.h"

CSharp457::CSharp457() : CSharp(kSharp457Traits) {}
