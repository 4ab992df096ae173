#pragma once
// Opening a file only when it is a regular one. The check is made on the
// open descriptor, not on the path beforehand, so a FIFO or a device put at
// the path in between is refused too; and the open itself never waits (a
// FIFO's open would wait for a writer, a serial device's for its carrier).
#include <QFile>
#include <QString>

enum class RegularFileMode {
    Read,     // the file must exist
    Append,   // unbuffered, every write at the end; a missing file is created
};

enum class RegularFileOpen { Opened, Missing, NotRegular, Failed };

// Opens `file` on `path`. When the result is not Opened, `file` stays closed
// and *why says what was there: for NotRegular "a directory" or "a FIFO or
// device", for Failed the system's reason.
RegularFileOpen openRegularFile(QFile& file, const QString& path, RegularFileMode mode, QString* why);
