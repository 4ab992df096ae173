// The watcher against the virtual ports' folder: a simulated station
// published or withdrawn is a port appearing or vanishing, and the folder
// need not exist when watching starts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include "PortWatcher.h"
#include "VirtualPorts.h"

namespace {

struct WatchCase {
    const char* name;
    bool folderThereFirst;
    bool withdraw;   // the port vanishes (published before watching)
};

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
                                           WatchCase{"withdrawn", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
