#pragma once
#include <QString>

// "QuelvintLog" directly in the home directory: station files, report files
// and backups live there.
QString logDirectoryPath();
// False when the process has no home directory (HOME unset or empty): the
// home would then be taken for the root directory, and the backups and the
// ledger would land in /QuelvintLog or nowhere.
bool homeDirectoryKnown();
// Creates the directory (never its parent) when it is missing and the home
// directory is known.
void ensureLogDirectory();
