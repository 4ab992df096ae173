#pragma once
#include <QString>
#include <QTime>
#include <functional>

// Appends "hh:mm:ss<TAB>message" to debug.log in the current directory,
// Latin-1 (other characters become '?'). Fails silently.
void appendDebugLog(const QString& message);

// The time of day the entries are stamped with: the local time unless one is
// set (tests fix it); an empty function restores the local time. Set it
// while no diagnostics run.
void setDebugLogClock(std::function<QTime()> clock);
