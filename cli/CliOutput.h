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

// A click into a Windows console with QuickEdit on starts a selection, and
// the console takes no output until a key is pressed. While a fleet's board
// or a wire trace runs QuickEdit is off (a console we write to only), so the
// technician's click does not freeze the view; the console's own mode comes
// back when the guard ends and on every other way out (restoreStandardStreams,
// an exit). Nothing to do on POSIX.
class QuickEditOff {
public:
    QuickEditOff();
    ~QuickEditOff();
    QuickEditOff(const QuickEditOff&) = delete;
    QuickEditOff& operator=(const QuickEditOff&) = delete;
};
