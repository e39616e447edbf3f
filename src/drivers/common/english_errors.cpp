#include "drivers/common/english_errors.h"

const char* EnglishErrorText(int code) {
    switch (code) {
    case 1: return "<MARK> error";
    case 2: return "<ID No.> error";
    case 3: return "<ECR No.> error";
    case 4: return "<JOB No.> error";
    case 5: return "<Type of transfer> error";
    case 6: return "<Block length> error";
    case 7: return "<All sorts of No. is limit over>";
    case 8: return "<Irregular value>";
    case 9: return "<File is full>";
    case 10: return "<Not found the PLU>";
    case 11: return "<Be executing Programming>";
    case 12: return "<Be issuing Z-report>";
    case 13: return "<ECR is busy>";
    case 14: return "<Can not delete>";
    case 16: return "<Be issuing X-report>";
    default: return nullptr;
    }
}
