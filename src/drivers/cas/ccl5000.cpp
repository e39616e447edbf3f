#include "drivers/cas/ccl5000.h"

CCL5000::CCL5000() = default;
CCL5000::~CCL5000() = default;

std::string CCL5000::GetErrorText(int code) { return CTelepathyECR::GetErrorText(code); }
