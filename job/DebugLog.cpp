#include "DebugLog.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdio>
#include <utility>

namespace {
std::function<QTime()>& debugLogClock() {
    static std::function<QTime()> clock;
    return clock;
}
}  // namespace

void setDebugLogClock(std::function<QTime()> clock) { debugLogClock() = std::move(clock); }

void appendDebugLog(const QString& message) {
    const QTime now = debugLogClock() ? debugLogClock()() : QDateTime::currentDateTime().time();
    const QByteArray time = now.toString(QStringLiteral("hh:mm:ss")).toLatin1();
    // Latin-1 turns every character it cannot hold into '?'; the log is
    // plain 8-bit text read with any editor on the service laptop.
    const QByteArray text = message.toLatin1();

    // Opened and closed per entry so a crash never loses earlier lines and
    // no handle is held between diagnostics calls.
    std::FILE* file = std::fopen("debug.log", "a");
    if (!file) return;
    std::fwrite(time.constData(), 1, static_cast<std::size_t>(time.size()), file);
    std::fputc('\t', file);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), file);
    std::fputc('\n', file);
    std::fflush(file);
    std::fclose(file);
}
