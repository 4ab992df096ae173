#pragma once
// The pieces of `program` around the job itself: how the job is set up from
// the options, how its write phase is guarded against interrupts, and the
// lines that end standard error.
#include <QString>
#include <string>

#include "Outcome.h"

class WorkThread;

struct ProgramOptions {
    std::wstring devicePath;
    bool verify = true;        // --no-verify turns it off
    bool backup = true;        // --no-backup: write without a backup
    bool wireTrace = false;
    bool reportPhases = false;   // report lines for the fleet runner
};

// Verify and backup policy, and the interrupt guard on the job's phases.
void configureJob(WorkThread& thread, const ProgramOptions& options);

// Everything after the trace: why the port did not open, the read-back
// differences, why no backup could be saved, then (for a run that reached
// the station) its address and backup, and last the outcome line. For the
// fleet runner (`report`) the address and backup are in the result line
// already, and the outcome line is a report line.
void printRunReport(const WorkThread& thread, const JobOutcome& outcome, const std::wstring& devicePath, bool report);

// The line that says the backup could not also be kept as the station's
// original, and which backup puts the station back instead.
QString originalNotKeptLine(const QString& why, const QString& backupPath);
