#include "ReadBack.h"

#include "LineFacts.h"
#include "LinkCodes.h"
#include "StationConnection.h"

namespace {

constexpr int kMaxRegionBytes = 16;
constexpr int kReadAttempts = line::kAttempts;

}  // namespace

QString hexDigits(unsigned value, int width) {
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

void readBackRegion(StationConnection& connection, std::uint16_t address, int count, const std::uint8_t* written,
                    QStringList* mismatches) {
    // Refused before asking, as the link refuses a request out of its range.
    if (count < 1 || count > kMaxRegionBytes) throw link_codes::kNoReply;
    std::uint8_t readBack[kMaxRegionBytes] = {};
    connection.readRom16(address, count, readBack, kReadAttempts);
    for (int i = 0; i < count; ++i) {
        if (readBack[i] != written[i])
            *mismatches << QStringLiteral("read back 0x%1: %2 instead of %3")
                               .arg(hexDigits(address + static_cast<unsigned>(i), 4), hexDigits(readBack[i], 2),
                                    hexDigits(written[i], 2));
    }
}
