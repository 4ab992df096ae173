#pragma once
// strtod in the C locale, whatever the process locale is. Each platform has
// its own locale object API: c_locale_number_<platform>.cpp.

namespace station_xml {

// `text` is not null.
double strtodInCLocale(const char* text);

}  // namespace station_xml
