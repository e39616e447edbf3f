#include "platform/classic_locale.h"

#include <locale.h>
#include <stdlib.h>

namespace orv::platform {

namespace {
_locale_t ClassicLocale() {
    static const _locale_t loc = ::_create_locale(LC_ALL, "C");
    return loc;
}
}  // namespace

bool ClassicStrtod(const char* text, double& out) {
    const _locale_t loc = ClassicLocale();
    if (loc == nullptr) return false;
    out = ::_strtod_l(text, nullptr, loc);
    return true;
}

bool ToLocalTime(std::time_t t, std::tm& out) { return ::localtime_s(&out, &t) == 0; }

}  // namespace orv::platform
