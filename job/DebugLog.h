#pragma once
#include <QString>

// Appends "hh:mm:ss<TAB>message" to debug.log in the current directory,
// Latin-1 (other characters become '?'). Fails silently.
void appendDebugLog(const QString& message);
