// parseMean on Windows: _strtod_l with a C locale object made once.
#include <clocale>
#include <cstdlib>

#include <locale.h>

#include "XmlNumbers.h"

double station_xml::parseMean(const char* text) {
    if (!text) return 0.0;
    static const _locale_t locale = _create_locale(LC_NUMERIC, "C");
    if (locale) return _strtod_l(text, nullptr, locale);
    return std::strtod(text, nullptr);
}
