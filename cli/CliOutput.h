#pragma once
#include <QString>

// The CLI writes UTF-8 lines: results to standard output, outcomes,
// explanations and the wire trace to standard error.
void printOut(const QString& line);
void printErr(const QString& line);
// Called first thing: the standard streams carry those UTF-8 lines
// unchanged and a console shows them as such.
// What it changed in the console (its output code page) is put back at
// exit; restoreStandardStreams does it at once, for a way out that runs no
// exit handler. Harmless when called more than once.
void prepareStandardStreams();
void restoreStandardStreams();
bool stderrIsTerminal();
bool stdoutIsTerminal();
