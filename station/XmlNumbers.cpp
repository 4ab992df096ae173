#include "XmlNumbers.h"

#include <charconv>

namespace station_xml {

namespace {

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

QByteArray formatInt(long long value) { return QByteArray::number(value); }

QByteArray formatMean(double value) {
    // to_chars with a precision is defined as printf's %g in the C locale.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    if (result.ec != std::errc()) return QByteArrayLiteral("0");
    return QByteArray(buffer, static_cast<int>(result.ptr - buffer));
}

QByteArray formatBool(bool value) { return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"); }

std::int32_t parseInt(const char* text) {
    if (!text) return 0;
    const char* p = text;
    while (isCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    std::uint32_t value = 0;   // unsigned: wraps instead of overflowing
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<std::uint32_t>(*p - '0');
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

bool parseBool(const char* text) {
    if (!text) return false;
    switch (text[0]) {
    case '1': case 't': case 'T': case 'y': case 'Y': return true;
    default: return false;
    }
}

}  // namespace station_xml
