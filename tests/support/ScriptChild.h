#pragma once
// A stand-in for rechannel-cli that a test writes as a shell script. The
// script's `$0` is its own path, so the files beside it (`$0.lines`,
// `$0.runs`) carry what it says or count what it did.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

// Writes `bytes` to `path`, replacing what was there.
inline void writeTestFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    EXPECT_EQ(file.write(bytes), bytes.size()) << path.toStdString();
}

// Writes `body` as a shell script to `path`, executable by its owner;
// returns `path`.
inline QString shellScript(const QString& path, const QByteArray& body) {
    writeTestFile(path, "#!/bin/sh\n" + body);
    EXPECT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    return path;
}
