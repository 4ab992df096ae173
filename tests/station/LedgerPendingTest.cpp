// A ledger that another process holds: the line waits in the pending file,
// goes into the ledger at the next append or merge in time order and exactly
// once, also after a crash between the two writes; readers take a shared
// lock and see the waiting lines.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimeZone>
#include <algorithm>
#include <future>

#include "Ledger.h"
#include "LedgerSync.h"
#include "TempHome.h"

namespace {

using namespace std::chrono_literals;

class LedgerPendingTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        ledger::setLockPatience(100ms);
    }
    void TearDown() override {
        ledger::setLockPatience(0ms);
        ledger::hurry(false);
    }

    static QString pending() { return ledger::pendingPath(ledger::path()); }
    static std::vector<int> addresses(const std::vector<LedgerEntry>& lines) {
        std::vector<int> all;
        for (const LedgerEntry& line : lines) all.push_back(line.address.value_or(-1));
        return all;
    }
};

LedgerEntry at(int address, int minute) {
    LedgerEntry e;
    e.time = QDateTime(QDate(2026, 12, 8), QTime(10, minute, 0), QTimeZone(3600));
    e.port = QStringLiteral("COM5");
    e.address = address;
    e.outcome = QStringLiteral("moved");
    return e;
}

QByteArray lines(std::initializer_list<LedgerEntry> entries) {
    QByteArray bytes = QByteArray(ledger::kHeader) + '\n';
    for (const LedgerEntry& e : entries) bytes += ledger::formatLine(e) + '\n';
    return bytes;
}

// Another process's lock on the ledger, taken on a descriptor of its own.
class HeldLock {
public:
    HeldLock(const QString& path, int how) : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {
        locked_ = fd_ >= 0 && ::flock(fd_, how | LOCK_NB) == 0;
    }
    ~HeldLock() { release(); }
    bool locked() const { return locked_; }
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    bool locked_ = false;
};

TEST_F(LedgerPendingTest, AHeldLedgerKeepsTheLineWaitingUntilTheNextAppend) {
    for (const int how : {LOCK_SH, LOCK_EX}) {
        QFile::remove(ledger::path());
        QFile::remove(pending());
        QString error;
        ASSERT_TRUE(ledger::append(at(1, 1), &error)) << error.toStdString();
        const QByteArray before = readAll(ledger::path());
        HeldLock held(ledger::path(), how);
        ASSERT_TRUE(held.locked());

        QString said;
        ASSERT_TRUE(ledger::append(at(2, 2), &error, &said)) << error.toStdString();
        EXPECT_TRUE(said.contains(pending())) << said.toStdString();
        EXPECT_EQ(readAll(ledger::path()), before);
        EXPECT_EQ(readAll(pending()), lines({at(2, 2)}));
        if (how == LOCK_SH) {   // another reader: this one reads too, the waiting line with it
            int waiting = 0;
            EXPECT_EQ(addresses(ledger::read(ledger::path(), nullptr, &error, &waiting)), (std::vector<int>{1, 2}));
            EXPECT_EQ(waiting, 1);
        } else {   // an append in progress: a reader does not read past it
            error.clear();
            EXPECT_TRUE(ledger::read(ledger::path(), nullptr, &error).empty());
            EXPECT_FALSE(error.isEmpty());
        }

        held.release();
        said.clear();
        ASSERT_TRUE(ledger::append(at(3, 3), &error, &said)) << error.toStdString();
        EXPECT_TRUE(said.isEmpty()) << said.toStdString();
        EXPECT_EQ(readAll(ledger::path()), lines({at(1, 1), at(2, 2), at(3, 3)}));
        EXPECT_EQ(readAll(pending()), "");
    }
}

// The pending file as runs in several processes left it (out of time order)
// and a crash after the ledger's write left its first line in the ledger
// already: each line goes in once, in time order, however often merged, and
// a reader before the merge sees each run once too.
TEST_F(LedgerPendingTest, AMergeWritesEachWaitingLineOnceInTimeOrder) {
    const struct {
        QByteArray ledger;   // empty: no ledger file yet
        QByteArray pending;
        QByteArray merged;
        std::vector<int> read;   // the addresses a reader sees before the merge
    } cases[] = {
        {lines({at(1, 1), at(5, 5)}), lines({at(5, 5), at(3, 3), at(4, 4)}),
         lines({at(1, 1), at(5, 5), at(3, 3), at(4, 4)}), {1, 5, 3, 4}},
        {QByteArray(), lines({at(7, 7), at(6, 6)}), lines({at(6, 6), at(7, 7)}), {6, 7}},
        {lines({at(1, 1)}), lines({}), lines({at(1, 1)}), {1}},
    };
    for (const auto& c : cases) {
        QFile::remove(ledger::path());
        if (!c.ledger.isEmpty()) writeAll(ledger::path(), c.ledger);
        writeAll(pending(), c.pending);
        int waiting = -1;
        QString error;
        EXPECT_EQ(addresses(ledger::read(ledger::path(), nullptr, &error, &waiting)), c.read) << error.toStdString();
        EXPECT_EQ(waiting, static_cast<int>(c.read.size()) - std::max(0, static_cast<int>(c.ledger.count('\n')) - 1));
        for (int merge = 0; merge < 2; ++merge) {
            EXPECT_TRUE(ledger::mergePending(ledger::path(), &error)) << error.toStdString();
            EXPECT_EQ(readAll(ledger::path()), c.merged) << "merge " << merge;
            EXPECT_EQ(readAll(pending()), "");
        }
        waiting = -1;
        EXPECT_EQ(addresses(ledger::read(ledger::path(), nullptr, nullptr, &waiting)), c.read);
        EXPECT_EQ(waiting, 0);
    }
}

// Whatever stops the merge, the waiting lines stay where they are, whole.
TEST_F(LedgerPendingTest, AMergeLeavesTheLinesWaitingWhenTheLedgerIsHeldOrItsWriteFails) {
    for (const bool held : {true, false}) {
        writeAll(ledger::path(), lines({at(1, 1)}));
        writeAll(pending(), lines({at(2, 2)}));
        HeldLock other(ledger::path(), LOCK_SH);
        if (!held) {
            other.release();
            ledger::setFileSync([](std::intptr_t) { return false; });
        }
        QString error;
        EXPECT_FALSE(ledger::mergePending(ledger::path(), &error)) << held;
        EXPECT_FALSE(error.isEmpty()) << held;
        ledger::setFileSync({});
        EXPECT_EQ(readAll(pending()), lines({at(2, 2)})) << held;
        if (held) {
            EXPECT_EQ(readAll(ledger::path()), lines({at(1, 1)}));
        }
    }
}

// A process being ended from outside (a closed console, the session's end)
// has a few seconds at most: an append that is waiting for a held ledger, or
// one that starts then, puts its line in the pending file at once instead of
// waiting out the usual 3 s.
TEST_F(LedgerPendingTest, AHurryPutsTheLineInThePendingFileAtOnce) {
    ledger::setLockPatience(3000ms);
    for (const bool alreadyWaiting : {true, false}) {
        QFile::remove(ledger::path());
        QFile::remove(pending());
        QString error;
        ASSERT_TRUE(ledger::append(at(1, 1), &error)) << error.toStdString();
        HeldLock held(ledger::path(), LOCK_EX);
        ASSERT_TRUE(held.locked());
        if (!alreadyWaiting) ledger::hurry();
        QElapsedTimer clock;
        clock.start();
        auto appended = std::async(std::launch::async, [] {
            QString why, said;
            return ledger::append(at(2, 2), &why, &said) && said.contains(pending());
        });
        if (alreadyWaiting) {
            EXPECT_EQ(appended.wait_for(300ms), std::future_status::timeout) << "it waits for the ledger first";
            ledger::hurry();
            clock.restart();
        }
        ASSERT_EQ(appended.wait_for(10s), std::future_status::ready);
        EXPECT_TRUE(appended.get()) << alreadyWaiting;
        EXPECT_LT(clock.elapsed(), 1000) << alreadyWaiting;
        EXPECT_EQ(readAll(pending()), lines({at(2, 2)})) << alreadyWaiting;
        ledger::hurry(false);
        held.release();
    }
}

}  // namespace
