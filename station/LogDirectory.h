#pragma once
#include <QString>

// "QuelvintLog" directly in the home directory: station files, report files
// and backups live there.
QString logDirectoryPath();
// False when the process has no home directory (its variable unset or
// empty): the home would then be taken for the root directory, and the
// backups and the ledger would land in /QuelvintLog or nowhere.
bool homeDirectoryKnown();
// Creates the directory (never its parent) when it is missing and the home
// directory is known.
void ensureLogDirectory();

// The platform's part. The user's home directory, with '/' separators;
// empty when the process has none.
QString homeDirectory();
// The environment variable that names it, for the messages that ask for it.
QString homeVariable();
