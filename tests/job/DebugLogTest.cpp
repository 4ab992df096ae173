#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTime>

#include "DebugLog.h"

namespace {
// Runs the test body inside a fresh temporary working directory.
class InTemporaryDirectory {
public:
    InTemporaryDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~InTemporaryDirectory() { QDir::setCurrent(previous_); }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

QByteArray readLog() {
    QFile file(QStringLiteral("debug.log"));
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}
}  // namespace

TEST(DebugLog, AppendsTimeTabMessageLinesAndKeepsEarlierContent) {
    InTemporaryDirectory cwd;
    {
        QFile existing(QStringLiteral("debug.log"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("earlier\n");
    }
    const QTime before = QTime::currentTime();
    appendDebugLog(QStringLiteral("readStatus"));
    appendDebugLog(QStringLiteral("readRouteTable 3"));
    const QTime after = QTime::currentTime();

    const QList<QByteArray> lines = readLog().split('\n');
    ASSERT_EQ(lines.size(), 4);   // three lines and the empty rest after the last line end
    EXPECT_EQ(lines[0], "earlier");
    EXPECT_TRUE(lines[3].isEmpty());

    const QRegularExpression entry(QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d)\\t(.*)$"));
    const auto first = entry.match(QString::fromLatin1(lines[1]));
    const auto second = entry.match(QString::fromLatin1(lines[2]));
    ASSERT_TRUE(first.hasMatch()) << lines[1].constData();
    ASSERT_TRUE(second.hasMatch()) << lines[2].constData();
    EXPECT_EQ(first.captured(2), QStringLiteral("readStatus"));
    EXPECT_EQ(second.captured(2), QStringLiteral("readRouteTable 3"));

    const QTime stamp = QTime::fromString(first.captured(1), QStringLiteral("hh:mm:ss"));
    ASSERT_TRUE(stamp.isValid());
    if (before <= after) {   // not across midnight
        EXPECT_GE(stamp, QTime(before.hour(), before.minute(), before.second()));
        EXPECT_LE(stamp, after);
    }
}

// Hours, minutes and seconds of two digits each, on the 24-hour clock.
TEST(DebugLog, StampsTheClockTimeAsTwoDigitHoursMinutesSeconds) {
    InTemporaryDirectory cwd;
    const struct {
        QTime time;
        const char* line;
    } cases[] = {
        {QTime(14, 3, 27), "14:03:27\treadStatus\n"},
        {QTime(9, 5, 7), "09:05:07\treadStatus\n"},
        {QTime(23, 59, 59), "23:59:59\treadStatus\n"},
        {QTime(0, 0, 0), "00:00:00\treadStatus\n"},
    };
    QByteArray expected;
    for (const auto& c : cases) {
        setDebugLogClock([&c] { return c.time; });
        appendDebugLog(QStringLiteral("readStatus"));
        expected += c.line;
    }
    setDebugLogClock({});
    EXPECT_EQ(readLog(), expected);
}

TEST(DebugLog, WritesLatin1WithAQuestionMarkForEveryOtherCharacter) {
    InTemporaryDirectory cwd;
    appendDebugLog(QString::fromUtf8("Статус: ok \u00E9"));
    const QByteArray log = readLog();
    ASSERT_GE(log.size(), 9);
    EXPECT_EQ(log.mid(8), QByteArray("\t??????: ok \xE9\n"));
}

TEST(DebugLog, FailsSilentlyWhenTheFileCannotBeOpened) {
    InTemporaryDirectory cwd;
    // A directory in the file's place: the open fails whatever the rights.
    ASSERT_TRUE(QDir(cwd.path()).mkdir(QStringLiteral("debug.log")));
    appendDebugLog(QStringLiteral("dropped"));
    EXPECT_TRUE(QFileInfo(QStringLiteral("debug.log")).isDir());
}
