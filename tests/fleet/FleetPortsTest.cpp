// The ports a fleet works on, from one discovery: what `rechannel-cli
// program --all --match` works on (portsForAll) is what the fleet window's
// "Все порты" ticks (the rows fleetPorts takes for FleetTake::All), every
// device once, named by its label and opened by its path, a Bluetooth port
// only where a match picks it; and the window has a row, with the same
// device, for each of them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <utility>
#include <vector>

#include "FleetPorts.h"

namespace {

using Named = std::vector<std::pair<QString, QString>>;   // label, the path opened

Named named(const std::vector<FleetPortInfo>& ports) {
    Named out;
    for (const FleetPortInfo& port : ports) out.emplace_back(port.name, port.devicePath);
    return out;
}

Named named(const std::vector<FleetPort>& ports) {
    Named out;
    for (const FleetPort& port : ports) out.emplace_back(port.name, port.devicePath);
    return out;
}

std::string said(const Named& ports) {
    std::string out;
    for (const auto& [name, path] : ports) out += name.toStdString() + " -> " + path.toStdString() + "; ";
    return out;
}

PortEntry entry(const QString& path, const char* portName, const char* displayName, bool bluetooth = false) {
    return PortEntry{path.toStdWString(), QString::fromLatin1(portName).toStdWString(),
                     QString::fromLatin1(displayName).toStdWString(), L"about it", bluetooth};
}

TEST(FleetPorts, AllTakesWhatTheWindowTicksEachDeviceOnceByItsLabelAndPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Device nodes, a station's published link to one of them, and a link
    // whose name differs from another port's only in case, to a device of
    // its own.
    const QString node0 = dir.filePath(QStringLiteral("ttyUSB0")), node1 = dir.filePath(QStringLiteral("ttyUSB1"));
    for (const QString& node : {node0, node1}) {
        QFile file(node);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString dockA = dir.filePath(QStringLiteral("Dock A")), dockLower = dir.filePath(QStringLiteral("dock a"));
    ASSERT_TRUE(QFile::link(node0, dockA));
    ASSERT_TRUE(QFile::link(node1, dockLower));
    const QString com3 = QStringLiteral("\\\\.\\COM3"), com9 = QStringLiteral("\\\\.\\COM9");
    const PortList found = {
        entry(node0, "", "ttyUSB0"),
        entry(dockA, "", "Dock A"),    // the published link to ttyUSB0: the same device
        entry(dockLower, "", "dock a"),
        entry(QStringLiteral("\\\\?\\acpi#pnp0501#1#{86e0d1e0}"), "COM3", "Communications Port (COM3)"),
        // The same port named in another case (a driver's registry entry): one port.
        entry(QStringLiteral("\\\\?\\acpi#pnp0501#1#{4d36e978}"), "com3", "Communications Port"),
        entry(QStringLiteral("\\\\?\\bthenum#{00001101}_localmfg&0002#7&1"), "COM9",
              "Standard Serial over Bluetooth link (COM9)", true),
    };
    const struct {
        const char* match;
        Named all;   // what `--all --match` works on, in discovery order
    } cases[] = {
        {"", {{"ttyUSB0", node0}, {"dock a", dockLower}, {"COM3", com3}}},
        {"dock", {{"Dock A", dockA}, {"dock a", dockLower}}},
        {"DOCK A", {{"Dock A", dockA}, {"dock a", dockLower}}},
        {"com", {{"COM3", com3}, {"COM9", com9}}},   // a match picks the Bluetooth port too
        {"bluetooth", {{"COM9", com9}}},
        {"ttyS", {}},
    };
    const Named rows = named(fleetPorts(found, QString(), FleetTake::Shown));
    EXPECT_EQ(rows.size(), 4u) << "every device once in the window's rows: " << said(rows);
    for (const auto& c : cases) {
        const QString match = QString::fromLatin1(c.match);
        const Named cli = named(portsForAll(found, match));
        const Named window = named(fleetPorts(found, match, FleetTake::All));
        EXPECT_EQ(said(cli), said(c.all)) << "'" << c.match << "'";
        EXPECT_EQ(said(window), said(cli)) << "'" << c.match << "'";
        // The window shows what it ticks: a row of the name, opened where
        // the CLI opens it; a device it lists under another name too has
        // that row as well (FleetPortTable::setPorts).
        const Named shown = named(fleetPorts(found, match, FleetTake::Shown));
        for (const auto& port : cli)
            EXPECT_NE(std::find(shown.begin(), shown.end(), port), shown.end()) << c.match << ": " << said({port});
    }
    for (const FleetPortInfo& port : fleetPorts(found, QString(), FleetTake::Shown))
        EXPECT_EQ(port.takenByAll, port.name != QStringLiteral("COM9")) << port.name.toStdString();
}

}  // namespace
