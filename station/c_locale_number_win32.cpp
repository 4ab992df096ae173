// Windows: _strtod_l with a C locale object made once.
#include <clocale>
#include <cstdlib>

#include <locale.h>

#include "CLocaleNumber.h"

namespace station_xml {

double strtodInCLocale(const char* text) {
    static const _locale_t locale = _create_locale(LC_NUMERIC, "C");
    if (locale) return _strtod_l(text, nullptr, locale);
    return std::strtod(text, nullptr);
}

}  // namespace station_xml
