// CSH277PS_ECR: job logic of the Sharp 277 PS registers (types 49 and 50) over CSharp277: goods keyed by barcode, sales read and cleared in one pass.
#pragma once

#include "drivers/sharp/csharp277.h"
#include "drivers/sharp/sharp_logic.h"

class CSH277PS_ECR : public CSharpLogic {
public:
    CSH277PS_ECR();
    CSharp277& Protocol() { return m_protocol; }

private:
    CSharp277 m_protocol;
};
