#pragma once
#include <QString>

// The CLI writes UTF-8 lines: results to standard output, outcomes,
// explanations and the wire trace to standard error.
void printOut(const QString& line);
void printErr(const QString& line);
bool stderrIsTerminal();
bool stdoutIsTerminal();
