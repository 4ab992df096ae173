// The watcher against the virtual ports' folder: a simulated station
// published or withdrawn is a port appearing or vanishing, and the folder
// need not exist when watching starts, nor stay.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>

#include "PortWatcher.h"
#include "VirtualPorts.h"

namespace {

struct WatchCase {
    const char* name;
    bool folderThereFirst;
    bool withdraw;   // the port vanishes (published before watching)
    bool folderRemoved = false;   // the folder goes while watching, and is made again by the publisher
};
void PrintTo(const WatchCase& c, std::ostream* os) { *os << c.name; }

class PortWatcherTest : public ::testing::TestWithParam<WatchCase> {
protected:
    void SetUp() override {
        dir_ = QString::fromStdString(virtualPortDirectory());
        QDir(dir_).removeRecursively();
        if (GetParam().folderThereFirst) {
            ASSERT_TRUE(QDir().mkpath(dir_));
        }
    }
    void TearDown() override { QDir(dir_).removeRecursively(); }

    QString dir_;
};

TEST_P(PortWatcherTest, TellsOfAPortAppearingOrVanishing) {
    // Any existing file will do as the link's target: the watcher looks at
    // the folder, not at what its links point to.
    const std::string target = QFile::encodeName(QDir::currentPath()).toStdString();
    if (GetParam().withdraw) {
        ASSERT_TRUE(publishVirtualPort("station-1", target));
    }
    PortWatcher watcher;
    QSignalSpy changed(&watcher, &PortWatcher::changed);
    watcher.start();
    if (GetParam().folderRemoved) {
        ASSERT_TRUE(QDir(dir_).removeRecursively());
        ASSERT_TRUE(changed.wait(5000));
        changed.clear();
    }
    if (GetParam().withdraw) {
        unpublishVirtualPort("station-1", target);
    } else {
        ASSERT_TRUE(publishVirtualPort("station-1", target));
    }
    EXPECT_TRUE(changed.wait(5000));
}

INSTANTIATE_TEST_SUITE_P(Folder, PortWatcherTest,
                         ::testing::Values(WatchCase{"published", true, false},
                                           WatchCase{"publishedBeforeTheFolderExists", false, false},
                                           WatchCase{"withdrawn", true, true},
                                           WatchCase{"publishedAfterTheFolderWasRemoved", true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A hub that flaps keeps sending events, never a pause as long as the
// coalescing time: the change is told all the same, a coalescing time after
// the first event. Each pass of the event loop below finds the next event
// already queued, so a timer started again by every event would never run out.
TEST(PortWatcherFlapTest, AStreamOfEventsStillTellsOfTheChange) {
    const QString dir = QString::fromStdString(virtualPortDirectory());
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
    const std::string target = QFile::encodeName(QDir::currentPath()).toStdString();
    PortWatcher watcher;
    QSignalSpy changed(&watcher, &PortWatcher::changed);
    watcher.start();
    QElapsedTimer streaming;
    streaming.start();
    for (int event = 0; changed.isEmpty() && streaming.elapsed() < 10000; ++event) {
        if (event % 2 == 0) ASSERT_TRUE(publishVirtualPort("flapping", target));
        else unpublishVirtualPort("flapping", target);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(changed.isEmpty()) << "no change told in " << streaming.elapsed() << " ms of events";
    QDir(dir).removeRecursively();
}

}  // namespace
