#include "CliOutput.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The line and its line end in one write: lines from several threads (and
// the interrupt handler's own) never split one another.
void writeLine(std::FILE* to, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}

}  // namespace

void printOut(const QString& line) { writeLine(stdout, line); }

void printErr(const QString& line) { writeLine(stderr, line); }

bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }
bool stdoutIsTerminal() { return isatty(fileno(stdout)) != 0; }
