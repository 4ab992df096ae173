// POSIX: strtod_l with a C locale object made once.
#include <cstdlib>

#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#include "CLocaleNumber.h"

namespace station_xml {

double strtodInCLocale(const char* text) {
    static const locale_t locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    if (locale) return strtod_l(text, nullptr, locale);
    return std::strtod(text, nullptr);
}

}  // namespace station_xml
