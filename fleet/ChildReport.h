#pragma once
// What a single-port `program` child tells the fleet runner on standard
// error, one machine-readable line each, before its usual final lines:
//   @rechannel phase reading
//   @rechannel address 291
//   @rechannel result 291<TAB>moved<TAB>/home/u/QuelvintLog/backups/...bin<TAB>yes
// Any other line is the child's own text for people (the outcome is last).
#include <QByteArray>
#include <QString>
#include <optional>

#include "WorkThread.h"

namespace child_report {

QString phaseName(JobPhase phase);
QByteArray phaseLine(JobPhase phase);
QByteArray addressLine(int address);
QByteArray resultLine(std::optional<int> address, const QString& outcome, const QString& backup,
                      const QString& verified);

struct Line {
    enum class Kind { Text, Phase, Address, Result } kind = Kind::Text;
    QString text;                  // the phase name, or the line itself for Text
    std::optional<int> address;    // Address, Result
    QString outcome;               // Result
    QString backup;                // Result
    QString verified;              // Result
};
// A malformed report line is kept as Text.
Line parse(const QByteArray& line);

}  // namespace child_report
