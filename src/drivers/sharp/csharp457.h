// CSharp457: the Sharp 457 registers (types 33 and 97 use it), name mode 15
// (12-character names) by default.
#pragma once

#include "drivers/sharp/csharp.h"

class CSharp457 : public CSharp {
public:
    CSharp457();
};
