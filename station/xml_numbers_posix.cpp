// parseMean on POSIX: strtod_l with a C locale object made once.
#include <cstdlib>

#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#include "XmlNumbers.h"

double station_xml::parseMean(const char* text) {
    if (!text) return 0.0;
    static const locale_t locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    if (locale) return strtod_l(text, nullptr, locale);
    return std::strtod(text, nullptr);
}
