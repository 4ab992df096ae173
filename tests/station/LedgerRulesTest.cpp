// What the ledger must keep to whatever the order of events: a line read
// back only with the fields of its format (ten in a ledger written before the
// setup and note columns, twelve before the host, thirteen before the place,
// seventeen now), the later of two lines with
// one time winning the summary, and every append on the disk before another
// process may take the lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QTimeZone>
#include <cerrno>

#include "Ledger.h"
#include "LedgerSummary.h"
#include "LedgerSync.h"
#include "TempHome.h"

namespace {

class LedgerRulesTest : public TempHomeTest {
protected:
    void TearDown() override { ledger::setFileSync({}); }
};

const QDateTime kTen(QDate(2026, 12, 8), QTime(10, 0, 0), QTimeZone(3600));

LedgerEntry run(int address, const char* outcome, const QDateTime& time) {
    LedgerEntry e;
    e.time = time;
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.address = address;
    e.outcome = QLatin1String(outcome);
    return e;
}

TEST_F(LedgerRulesTest, ALineIsReadOnlyWithTheFieldsOfItsFormat) {
    const QByteArray line = ledger::formatLine(run(291, "moved", kTen));
    const QByteArray older = line.split(',').mid(0, 10).join(',');
    const QByteArray withHost = line.split(',').mid(0, 12).join(',') + ",anna-laptop";
    const QByteArray placed = withHost + ",1,300,3,-80";
    const struct {
        QByteArray text;
        bool valid;
    } cases[] = {
        {line, true},
        {older, true},                         // an older ledger's line
        {withHost, true},                      // written before the place columns
        {withHost.left(withHost.lastIndexOf(',')) + ",", false},   // thirteen, the host empty: a stray comma
        {placed, true},
        {line.left(line.size() - 3) + "0,65535,0,-130", true},   // the host unknown, the place at its bounds
        {withHost + ",1,300,3,", false},       // a place in part
        {withHost + ",2,300,3,-80", false},    // attached is 0 or 1
        {withHost + ",1,65536,3,-80", false},  // a parent outside 16 bits
        {withHost + ",1,300,4,-80", false},    // link quality 0..3
        {withHost + ",1,300,3,-2", false},     // a signal no level byte gives
        {withHost + ",1,300,3,x", false},
        {withHost + ",1,300", false},          // fifteen
        {line + ",", false},                   // one more, empty field
        {line + ",1.00", false},               // one more field that reads as seconds
        {older + ",", false},                  // eleven
        {line.left(line.lastIndexOf(',')), false},
        {older.left(older.lastIndexOf(',')), false},   // nine
    };
    for (const auto& c : cases) {
        LedgerEntry read;
        EXPECT_EQ(ledger::parseLine(c.text, &read), c.valid) << c.text.constData();
    }
}

// Two runs on one station ending within one second carry the same time; the
// line appended last is the run that ended last.
TEST_F(LedgerRulesTest, OfTwoLinesWithOneTimeTheLaterInTheFileWins) {
    const struct {
        std::vector<LedgerEntry> lines;
        const char* latest;
    } cases[] = {
        {{run(291, "no-answer", kTen), run(291, "moved", kTen)}, "moved"},
        {{run(291, "moved", kTen), run(291, "no-answer", kTen)}, "no-answer"},
        {{run(291, "moved", kTen.addSecs(1)), run(291, "no-answer", kTen)}, "moved"},
    };
    for (const auto& c : cases) {
        const LedgerSummary summary = summariseLedger(c.lines, QDateTime());
        ASSERT_EQ(summary.stations.size(), 1u);
        EXPECT_EQ(outcomeName(summary.stations[0].outcome), QLatin1String(c.latest));
    }
}

// The flush must run once per append, with the line already written and the
// lock still held; a flush that fails fails the append.
TEST_F(LedgerRulesTest, AnAppendIsOnTheDiskBeforeItsLockIsReleased) {
    const QString path = ledger::path();
    for (const bool flushWorks : {true, true, false}) {
        int flushes = 0;
        bool lockedWhileFlushing = false;
        QByteArray fileWhileFlushing;
        ledger::setFileSync([&](std::intptr_t handle) {
            ++flushes;
            const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
            lockedWhileFlushing = other >= 0 && ::flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            if (other >= 0) ::close(other);
            fileWhileFlushing = readAll(path);
            return ::fsync(static_cast<int>(handle)) == 0 && flushWorks;
        });
        const LedgerEntry entry = run(300, "moved", kTen);
        const Result<QString> appended = ledger::append(entry);
        EXPECT_EQ(bool(appended), flushWorks);
        EXPECT_EQ(flushes, 1);
        EXPECT_TRUE(lockedWhileFlushing) << "the lock was released before the flush";
        EXPECT_TRUE(fileWhileFlushing.endsWith(ledger::formatLine(entry) + '\n')) << fileWhileFlushing.constData();
        EXPECT_EQ(appended.why().isEmpty(), flushWorks) << appended.why().toStdString();
    }
}

}  // namespace
