#include "CliOutput.h"

#include <cstdio>
#include <unistd.h>

#include "OutputQueue.h"

namespace {

// The line and its line end in one write: lines from several threads never
// split one another. Queued: the thread that prints never waits for the
// console (OutputQueue.h).
void writeLine(output_queue::Stream to, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    output_queue::write(to, bytes.toStdString());
}

}  // namespace

void printOut(const QString& line) { writeLine(output_queue::Stream::Out, line); }

void printErr(const QString& line) { writeLine(output_queue::Stream::Err, line); }

bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }
bool stdoutIsTerminal() { return isatty(fileno(stdout)) != 0; }
