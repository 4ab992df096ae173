// The Linux backend: serial devices from a sysfs tree built by the test,
// their order and names, and the virtual ports of simulated stations.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <set>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "LinuxSerialPorts.h"
#include "PortDiscovery.h"
#include "FileTree.h"
#include "VirtualPorts.h"

#include <sys/stat.h>

using namespace linux_ports;

namespace {

std::vector<std::string> nodesOf(const std::vector<TtyDevice>& devices) {
    std::vector<std::string> nodes;
    for (const auto& d : devices) nodes.push_back(d.node);
    return nodes;
}

// A sysfs tree with the kinds of serial device a PC has, and the /dev nodes.
class FakeSysfs {
public:
    FakeSysfs() : root_(dir_.path().toStdString()), sys_(root_ + "/sys"), dev_(root_ + "/dev") {
        makeDirs(dev_);
        const std::string pci = sys_ + "/devices/pci0000:00";
        // The USB host controller is a PCI function; the adapters hang below it.
        device(pci + "/0000:00:14.0", {{"vendor", "0x8086"}, {"device", "0xa36d"}, {"class", "0x0c0330"}});
        device(pci + "/0000:00:14.0/usb1/1-2", {{"idVendor", "0451"}, {"idProduct", "3410"},
                                                 {"product", "TUSB3410 Boot Device"},
                                                 {"manufacturer", "Texas Instruments"}, {"serial", "TUSB1234"}});
        tty("ttyUSB0", pci + "/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0", "", "ti_usb_3410_5052");
        device(pci + "/0000:00:14.0/usb1/1-3", {{"idVendor", "2341"}, {"idProduct", "0043"}, {"product", "Arduino Uno"}});
        tty("ttyACM0", pci + "/0000:00:14.0/usb1/1-3/1-3:1.0", "", "cdc_acm");
        tty("ttyUSB1", pci + "/0000:00:14.0/usb1/1-3/1-3:1.1/ttyUSB1", "", "ftdi_sio", /*node=*/false);
        // A PCI serial card.
        device(pci + "/0000:03:00.0", {{"vendor", "0x1415"}, {"device", "0xc158"}, {"class", "0x070002"}});
        tty("ttyS4", pci + "/0000:03:00.0", "4", "serial");
        // The on-board UART, and the ports the 8250 driver registers with no chip behind them.
        tty("ttyS0", sys_ + "/devices/pnp0/00:04", "4", "serial");
        for (const char* phantom : {"ttyS1", "ttyS2", "ttyS3"})
            tty(phantom, sys_ + "/devices/platform/serial8250", "0", "serial8250");
        tty("ttyS10", sys_ + "/devices/platform/serial8250", "4", "serial8250");
        // A virtual console: no device behind it.
        makeDirs(sys_ + "/class/tty/tty0");
        writeFile(dev_ + "/tty0", "");
    }

    const std::string& sys() const { return sys_; }
    const std::string& dev() const { return dev_; }

private:
    void device(const std::string& path, std::initializer_list<std::pair<const char*, const char*>> attributes) {
        makeDirs(path);
        for (const auto& a : attributes) writeFile(path + "/" + a.first, std::string(a.second) + "\n");
    }

    void tty(const std::string& name, const std::string& deviceDir, const std::string& type, const std::string& driver,
             bool node = true) {
        makeDirs(deviceDir);
        const std::string driverDir = sys_ + "/bus/drivers/" + driver;
        makeDirs(driverDir);
        if (::access((deviceDir + "/driver").c_str(), F_OK) != 0) makeSymlink(driverDir, deviceDir + "/driver");
        const std::string classDir = sys_ + "/class/tty/" + name;
        makeDirs(classDir);
        makeSymlink(deviceDir, classDir + "/device");
        if (!type.empty()) writeFile(classDir + "/type", type + "\n");
        if (node) writeFile(dev_ + "/" + name, "");
    }

    QTemporaryDir dir_;
    std::string root_, sys_, dev_;
};

}  // namespace

TEST(LinuxPorts, NaturalOrderComparesNumbersAsNumbers) {
    EXPECT_LT(naturalCompare("ttyS2", "ttyS10"), 0);
    EXPECT_GT(naturalCompare("ttyS10", "ttyS9"), 0);
    EXPECT_LT(naturalCompare("ttyACM0", "ttyS0"), 0);
    EXPECT_EQ(naturalCompare("ttyUSB3", "ttyUSB3"), 0);
    EXPECT_LT(naturalCompare("ttyS", "ttyS0"), 0);
    EXPECT_NE(naturalCompare("ttyS01", "ttyS1"), 0) << "different names never compare equal";
    EXPECT_EQ(naturalCompare("ttyS01", "ttyS1"), -naturalCompare("ttyS1", "ttyS01"));

    std::vector<TtyDevice> devices(6);
    const char* names[] = {"ttyS10", "ttyUSB10", "ttyS2", "ttyUSB2", "ttyACM0", "ttyS0"};
    for (int i = 0; i < 6; ++i) {
        devices[i].node = names[i];
        devices[i].isUsb = std::string(names[i]).rfind("ttyS", 0) != 0;
    }
    sortDevices(devices);
    EXPECT_EQ(nodesOf(devices),
              (std::vector<std::string>{"ttyACM0", "ttyUSB2", "ttyUSB10", "ttyS0", "ttyS2", "ttyS10"}));
}

TEST(LinuxPorts, NamesAndDescriptions) {
    TtyDevice tusb;
    tusb.node = "ttyUSB0";
    tusb.isUsb = true;
    tusb.vendor = "Texas Instruments, Inc.";
    tusb.model = "TUSB3410 Microcontroller";
    tusb.vendorId = "0451";
    tusb.productId = "3410";
    tusb.serial = "12345";
    EXPECT_EQ(displayNameOf(tusb), "TUSB3410 Microcontroller (ttyUSB0)");
    EXPECT_EQ(descriptionOf(tusb), "Texas Instruments, Inc. TUSB3410 Microcontroller [0451:3410] S/N 12345");

    TtyDevice bare;
    bare.node = "ttyUSB3";
    bare.isUsb = true;
    EXPECT_EQ(displayNameOf(bare), "USB serial port (ttyUSB3)");
    EXPECT_EQ(descriptionOf(bare), "USB-адаптер последовательного порта");

    TtyDevice uart;
    uart.node = "ttyS0";
    uart.driver = "serial";
    EXPECT_EQ(displayNameOf(uart), "Serial port (ttyS0)");
    EXPECT_EQ(descriptionOf(uart), "Встроенный последовательный порт (serial)");
}

TEST(LinuxPorts, SysfsScanFindsRealSerialDevicesOnly) {
    FakeSysfs fake;
    std::vector<TtyDevice> devices = scanSysfs(fake.sys(), fake.dev());
    sortDevices(devices);
    // No phantom 8250 ports, no virtual console, nothing without a /dev node.
    ASSERT_EQ(nodesOf(devices), (std::vector<std::string>{"ttyACM0", "ttyUSB0", "ttyS0", "ttyS4", "ttyS10"}));

    const TtyDevice& acm = devices[0];
    EXPECT_TRUE(acm.isUsb);
    EXPECT_EQ(displayNameOf(acm), "Arduino Uno (ttyACM0)");
    EXPECT_EQ(acm.devicePath, fake.dev() + "/ttyACM0");

    const TtyDevice& tusb = devices[1];
    EXPECT_TRUE(tusb.isUsb) << "the USB device is found before the PCI controller above it";
    EXPECT_FALSE(tusb.isPci);
    EXPECT_EQ(displayNameOf(tusb), "TUSB3410 Boot Device (ttyUSB0)");
    EXPECT_EQ(descriptionOf(tusb), "Texas Instruments TUSB3410 Boot Device [0451:3410] S/N TUSB1234");
    EXPECT_EQ(tusb.driver, "ti_usb_3410_5052");

    EXPECT_EQ(displayNameOf(devices[2]), "Serial port (ttyS0)");
    EXPECT_TRUE(devices[3].isPci);
    EXPECT_EQ(descriptionOf(devices[3]), "Последовательный порт PCI [1415:c158]");
    EXPECT_EQ(displayNameOf(devices[4]), "Serial port (ttyS10)");

    EXPECT_TRUE(scanSysfs(fake.sys() + "/missing", fake.dev()).empty());
}

TEST(LinuxPorts, UdevAndSysfsAgreeOnThisMachine) {
    std::vector<TtyDevice> viaUdev;
    if (!scanUdev(viaUdev)) GTEST_SKIP() << "udev cannot be used here";
    std::vector<TtyDevice> viaSysfs = scanSysfs("/sys", "/dev");
    sortDevices(viaUdev);
    sortDevices(viaSysfs);
    EXPECT_EQ(nodesOf(viaUdev), nodesOf(viaSysfs));
    for (const auto& d : viaUdev) EXPECT_EQ(d.devicePath, "/dev/" + d.node);
}

TEST(LinuxPorts, VirtualPortsAreLinksInNameOrderAndDanglingOnesAreSkipped) {
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    const std::string ports = base + "/rechannel-ports";
    makeDirs(ports);
    makeDirs(base + "/pts");
    for (const char* t : {"/pts/1", "/pts/2", "/pts/3"}) writeFile(base + t, "");
    makeSymlink(base + "/pts/1", ports + "/station-10");
    makeSymlink(base + "/pts/2", ports + "/station-2");
    makeSymlink("../pts/3", ports + "/bench");
    makeSymlink(base + "/pts/gone", ports + "/station-1");
    makeSymlink(base + "/pts/1", ports + "/.station-3.4242.tmp");   // a publish half done
    writeFile(ports + "/not-a-link", "");

    const std::vector<VirtualPort> found = scanVirtualPorts(ports);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].name, "bench");
    EXPECT_EQ(found[0].target, ports + "/../pts/3");
    EXPECT_EQ(found[1].name, "station-2");
    EXPECT_EQ(found[1].target, base + "/pts/2");
    EXPECT_EQ(found[2].name, "station-10");

    EXPECT_TRUE(scanVirtualPorts(base + "/nowhere").empty());
    EXPECT_TRUE(scanVirtualPorts("").empty());

    // A directory others may write to could hold links planted by them.
    ASSERT_EQ(::chmod(ports.c_str(), 0777), 0);
    EXPECT_TRUE(scanVirtualPorts(ports).empty());
    ASSERT_EQ(::chmod(ports.c_str(), 0700), 0);
    EXPECT_EQ(scanVirtualPorts(ports).size(), 3u);
    // ... and so could a link standing in for the directory.
    makeSymlink(ports, base + "/ports-link");
    EXPECT_TRUE(scanVirtualPorts(base + "/ports-link").empty());
}

TEST(LinuxPorts, WideTextConversion) {
    std::wstring wide;
    EXPECT_TRUE(widen("/dev/ttyUSB0", wide));
    EXPECT_EQ(wide, L"/dev/ttyUSB0");
    EXPECT_TRUE(widen("\xD0\x9F\xD0\xBE\xD1\x80\xD1\x82", wide));   // "Порт"
    EXPECT_EQ(wide, L"\u041F\u043E\u0440\u0442");
    EXPECT_FALSE(widen("/dev/tty\xFF", wide));
    EXPECT_FALSE(widen("\xD0", wide)) << "a sequence cut short";
    EXPECT_FALSE(widen("\xC0\xAF", wide)) << "an overlong form";
    EXPECT_EQ(widenLossy("A\xFF" "B"), L"A\uFFFDB");
}

// The machine's own discovery: hardware first, then the published stations.
class SystemDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = virtualPortDirectory();
        ASSERT_FALSE(directory_.empty());
        ASSERT_EQ(directory_, std::string(std::getenv("XDG_RUNTIME_DIR")) + "/rechannel-ports");
        makeDirs(directory_);
    }
    void TearDown() override {
        for (const auto& link : links_) ::unlink(link.c_str());
    }
    void link(const std::string& target, const std::string& name) {
        links_.push_back(directory_ + "/" + name);
        makeSymlink(target, links_.back());
    }

    std::string directory_;
    std::vector<std::string> links_;
};

TEST_F(SystemDiscovery, VirtualPortsFollowTheHardwarePortsInNameOrder) {
    QTemporaryDir targets;
    const std::string t = targets.path().toStdString();
    writeFile(t + "/a", "");
    writeFile(t + "/b", "");
    link(t + "/b", "sim-station-10");
    link(t + "/a", "sim-station-9");
    link(t + "/missing", "sim-station-1");

    PortList list;
    discoverPorts(list, false);
    const auto firstVirtual = std::find_if(list.begin(), list.end(), [](const PortEntry& e) {
        return e.displayName.rfind(L"sim-station", 0) == 0;
    });
    ASSERT_NE(firstVirtual, list.end());
    const auto index = static_cast<std::size_t>(firstVirtual - list.begin());
    ASSERT_EQ(list.size(), index + 2) << "the dangling link is skipped, nothing follows the virtual ports";
    EXPECT_EQ(list[index].displayName, L"sim-station-9");
    EXPECT_EQ(list[index].devicePath, std::wstring(t.begin(), t.end()) + L"/a");
    EXPECT_EQ(list[index + 1].displayName, L"sim-station-10");
    EXPECT_FALSE(list[index + 1].description.empty());
    for (std::size_t i = 0; i < index; ++i) EXPECT_EQ(list[i].devicePath.rfind(L"/dev/", 0), 0u);

    PortList again;
    discoverPorts(again, false);
    ASSERT_EQ(again.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(again[i].devicePath, list[i].devicePath);
}

TEST_F(SystemDiscovery, ProbeKeepsATerminalAndDropsWhatTheTransportCannotOpen) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);   // the probe opens the slave itself
    QTemporaryDir targets;
    const std::string file = targets.path().toStdString() + "/plain-file";
    writeFile(file, "");
    link(name, "probe-live");
    link(file, "probe-plain-file");

    PortList list;
    discoverPorts(list, true);
    std::set<std::wstring> names;
    for (const auto& e : list) names.insert(e.displayName);
    EXPECT_EQ(names.count(L"probe-live"), 1u);
    EXPECT_EQ(names.count(L"probe-plain-file"), 0u);

    PortList unprobed;
    discoverPorts(unprobed, false);
    std::set<std::wstring> all;
    for (const auto& e : unprobed) all.insert(e.displayName);
    EXPECT_EQ(all.count(L"probe-plain-file"), 1u);
    ::close(master);
}
