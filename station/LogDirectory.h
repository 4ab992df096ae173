#pragma once
#include <QString>

// "QuelvintLog" directly in the home directory: station files, report files
// and backups live there.
QString logDirectoryPath();
// Creates the directory (never its parent) when it is missing.
void ensureLogDirectory();
