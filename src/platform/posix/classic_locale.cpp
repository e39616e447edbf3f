#include "platform/classic_locale.h"

#include <locale.h>
#include <stdlib.h>
#include <time.h>

namespace orv::platform {

namespace {
locale_t ClassicLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}
}  // namespace

bool ClassicStrtod(const char* text, double& out) {
    const locale_t loc = ClassicLocale();
    if (loc == static_cast<locale_t>(nullptr)) return false;
    out = strtod_l(text, nullptr, loc);
    return true;
}

bool ToLocalTime(std::time_t t, std::tm& out) { return ::localtime_r(&t, &out) != nullptr; }

}  // namespace orv::platform
