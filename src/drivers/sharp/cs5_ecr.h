// CS5_ECR: job logic of the Sharp 495 registers (type 18) over CSharp495: goods in batches of 10, keyed by number or by barcode.
#pragma once

#include "drivers/sharp/csharp495.h"
#include "drivers/sharp/sharp_logic.h"

class CS5_ECR : public CSharpLogic {
public:
    CS5_ECR();
    CSharp495& Protocol() { return m_protocol; }

private:
    CSharp495 m_protocol;
};
