// CSharp495: the Sharp 495 registers (type 18), a sibling of CSharp457 with
// its own record layouts, options and clear keys.
#pragma once

#include "drivers/sharp/csharp.h"

class CSharp495 : public CSharp {
public:
    CSharp495();
};
