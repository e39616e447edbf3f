// CSharpXXX and CSharp455: the Sharp 455 registers, the 457 files with
// 12-digit goods keys and 4-digit department keys. CSharpXXX is only the
// base of CSharp455.
#pragma once

#include "drivers/sharp/csharp.h"

class CSharpXXX : public CSharp {
protected:
    explicit CSharpXXX(const SharpTraits& traits) : CSharp(traits) {}
};

class CSharp455 : public CSharpXXX {
public:
    CSharp455();
};
