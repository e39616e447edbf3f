// CSH285_ECR: job logic of the Sharp 285 registers (type 97) over CSharp285: goods keyed by barcode, names of 24 characters.
#pragma once

#include "drivers/sharp/csharp285.h"
#include "drivers/sharp/sharp_logic.h"

class CSH285_ECR : public CSharpLogic {
public:
    CSH285_ECR();
    CSharp285& Protocol() { return m_protocol; }

private:
    CSharp285 m_protocol;
};
