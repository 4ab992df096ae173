#pragma once
// Numbers in station files, always in the C locale whatever the process
// locale is: a Russian desktop would otherwise write "12,3457" and read the
// decimal part of every mean back as garbage.

#include <QByteArray>
#include <cstdint>

namespace station_xml {

// "%d"
QByteArray formatInt(long long value);
// "%g": six significant digits, C locale ("12.3457", "23.5", "1e+06").
QByteArray formatMean(double value);
// "true" / "false"
QByteArray formatBool(bool value);

// The C library's atoi rules: leading white space, an optional sign, then
// decimal digits up to the first other character; 0 without a digit. Digits
// beyond 32 bits keep their low-order bits, so every field can simply be cut
// to its width afterwards.
std::int32_t parseInt(const char* text);
// atof in the C locale (xml_numbers_<platform>.cpp: each platform has its own
// locale object API).
double parseMean(const char* text);
// True when the first character is 1, t, T, y or Y.
bool parseBool(const char* text);

}  // namespace station_xml
