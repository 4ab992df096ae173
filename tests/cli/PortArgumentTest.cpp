// A port waited for by name is taken only while exactly one port carries the
// name: a second port that comes to carry it (its published name, or its
// device's own) makes the name ambiguous, and the wait goes on.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "PortArgument.h"
#include "TempHome.h"
#include "VirtualPorts.h"

namespace {

bool touch(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

TEST(PortArgument, AWaitedNameIsADeviceOnlyWhileExactlyOnePortCarriesIt) {
    TempHome home;
    ASSERT_TRUE(home.isValid());
    ScopedEnv runtime("XDG_RUNTIME_DIR", home.runtimePath().toUtf8());
    // Stand-ins for two device nodes; the second one's own name is "Twin".
    QTemporaryDir devices;
    ASSERT_TRUE(devices.isValid() && QDir(devices.path()).mkdir(QStringLiteral("other")));
    const QString first = devices.path() + QStringLiteral("/ttyFirst");
    const QString second = devices.path() + QStringLiteral("/other/Twin");
    ASSERT_TRUE(touch(first) && touch(second));

    const QString name = QStringLiteral("Twin");
    EXPECT_EQ(deviceNamedNow(name), QString()) << "no port has the name yet";
    ASSERT_TRUE(publishVirtualPort("Twin", first.toStdString()));
    EXPECT_EQ(deviceNamedNow(name), first);
    ASSERT_TRUE(publishVirtualPort("Aux", second.toStdString()));
    EXPECT_EQ(deviceNamedNow(name), QString()) << "two ports carry the name now";
    unpublishVirtualPort("Aux", second.toStdString());
    EXPECT_EQ(deviceNamedNow(name), first) << "one port again";
    unpublishVirtualPort("Twin", first.toStdString());
}

}  // namespace
