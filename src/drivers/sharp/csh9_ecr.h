// CSH9_ECR: job logic of the Sharp 455 registers (type 25) over CSharp455: goods keyed by number.
#pragma once

#include "drivers/sharp/csharp455.h"
#include "drivers/sharp/sharp_logic.h"

class CSH9_ECR : public CSharpLogic {
public:
    CSH9_ECR();
    CSharp455& Protocol() { return m_protocol; }

private:
    CSharp455 m_protocol;
};
