// CSH7_ECR: job logic of the Sharp 277 registers (types 47 and 48) over CSharp277: goods keyed by number.
#pragma once

#include "drivers/sharp/csharp277.h"
#include "drivers/sharp/sharp_logic.h"

class CSH7_ECR : public CSharpLogic {
public:
    CSH7_ECR();
    CSharp277& Protocol() { return m_protocol; }

private:
    CSharp277 m_protocol;
};
