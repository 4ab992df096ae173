#pragma once
// What a single-port `program` child tells the fleet runner on standard
// error, one machine-readable line each, before its usual final lines:
//   @rechannel phase reading
//   @rechannel address 291
//   @rechannel ledger 2026-12-08T10:15:02+01:00,/dev/ttyUSB0,291,158,500,moved,...
//   @rechannel result 291<TAB>moved<TAB>/home/u/QuelvintLog/backups/...bin<TAB>yes
//   @rechannel outcome Станция переведена на новую частоту!
// The ledger line is the run's line exactly as it was written (or left
// pending), so a window that shows the ledger knows which line is this run's.
// Any other line is the child's own text for people (why the port did not
// open, the read-back differences, an interrupt, a ledger that could not be
// written), which the runner passes on.
#include <QByteArray>
#include <QString>
#include <optional>

#include "Ledger.h"
#include "RunOutcome.h"
#include "WorkThread.h"

namespace child_report {

QString phaseName(JobPhase phase);
// The phase a report line names; empty for a name no phase has.
std::optional<JobPhase> phaseNamed(const QByteArray& name);
QByteArray phaseLine(JobPhase phase);
QByteArray addressLine(int address);
QByteArray resultLine(std::optional<int> address, RunOutcome outcome, const QString& backup,
                      const QString& verified);
QByteArray outcomeLine(const QString& text);
// Empty for a line that would not stay one line.
QByteArray ledgerLine(const LedgerEntry& entry);

struct Line {
    enum class Kind { Text, Phase, Address, Result, Outcome, Ledger } kind = Kind::Text;
    QString text;                  // the phase name, the outcome line, or the line itself for Text
    JobPhase phase = JobPhase::Opening;   // Phase
    std::optional<int> address;    // Address, Result
    RunOutcome outcome = RunOutcome::Failed;   // Result
    QString backup;                // Result
    QString verified;              // Result
    LedgerEntry entry;             // Ledger
};
// A malformed report line (a result naming no outcome or an address that is
// none, a phase naming none) is kept as Text. The line may end in "\n" or
// "\r\n".
Line parse(const QByteArray& line);

}  // namespace child_report
