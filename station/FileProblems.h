#pragma once
// Why a station or report file was left alone. For the window the file
// operations stay silent; the CLI installs a sink and says why on standard
// error, so a technician learns that nothing was stored.
#include <QString>
#include <functional>

using FileProblemSink = std::function<void(const QString& message)>;
// Replaces the sink; an empty one makes the file operations silent again.
void setFileProblemSink(FileProblemSink sink);
void reportFileProblem(const QString& message);

// True when nothing, or a regular file (or a link to one), is at `path`.
// Otherwise reports that the path is refused and returns false: opening a
// FIFO would wait for a writer, a device would be read without end.
bool regularFileOrNothingAt(const QString& path);
