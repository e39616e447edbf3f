// CSH_ECR: job logic of the Sharp 457 registers (type 33) over CSharp457: goods in batches of 20, keyed by number or by barcode.
#pragma once

#include "drivers/sharp/csharp457.h"
#include "drivers/sharp/sharp_logic.h"

class CSH_ECR : public CSharpLogic {
public:
    CSH_ECR();
    CSharp457& Protocol() { return m_protocol; }

private:
    CSharp457 m_protocol;
};
