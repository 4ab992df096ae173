// The fleet never puts two workers on one device, however its paths name it;
// the identities it compares are resolved once in a pass of the event loop,
// so a link moved since must be seen in the next.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "PortWorker.h"

TEST(DeviceIdentitiesTest, PathsToOneDeviceAgreeAndAMovedLinkIsSeenInTheNextPass) {
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("ttyFIRST"));
    const QString second = dir.filePath(QStringLiteral("ttySECOND"));
    const QString link = dir.filePath(QStringLiteral("station"));
    for (const QString& node : {first, second}) {
        QFile file(node);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::link(first, link));
    DeviceIdentities identities;
    EXPECT_EQ(identities.of(link), identities.of(first));
    EXPECT_NE(identities.of(second), identities.of(first));

    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(second, link));
    EXPECT_TRUE(QTest::qWaitFor([&] { return identities.of(link) == identities.of(second); }, 5000));
    EXPECT_NE(identities.of(link), identities.of(first));
}
