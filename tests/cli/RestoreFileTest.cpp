// restore's FILE argument: only a regular file is read. A FIFO would hold
// the open until some writer came, and a device never ends.
#include <sys/stat.h>

#include "CliFixture.h"

namespace {

class RestoreFileTest : public CliFixture {};

TEST_F(RestoreFileTest, WhatIsNotARegularFileIsRefusedBeforeTheStationIsAsked) {
    sim::PtyStationHost station;
    ASSERT_TRUE(station.start());
    const QString fifo = home_.path() + QStringLiteral("/backup.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& file : {fifo, QStringLiteral("/dev/zero"), home_.path()}) {
        const CliResult result = run({QStringLiteral("restore"), QStringLiteral("--port"), path(station), file});
        EXPECT_EQ(result.exitCode, 2) << file.toStdString() << "\n" << result.err();
        EXPECT_TRUE(result.errContains(QStringLiteral("%1 is not a station backup (not a regular file)").arg(file)))
            << result.err();
    }
    EXPECT_TRUE(station.frames().empty()) << "the station was asked";
}

}  // namespace
