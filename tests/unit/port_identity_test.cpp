// Who the ports are, read from a recorded sysfs tree (MORVANE_SYSFS_ROOT):
// a USB-serial adapter, a CDC-ACM printer, a Bluetooth port, a UART and an
// empty 8250 slot, and a USB printer; then the selectors that name them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/run/line.h"
#include "cli/ports/port_resolve.h"

namespace {

namespace fs = std::filesystem;
using namespace morvane::cli;

// The tree as the kernel lays it out: class entries link to devices, a
// USB interface's parent is the device with its ids and strings.
class RecordedMachine : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("morvane-sysfs-" + std::to_string(getpid()));
        fs::remove_all(root_);
        const std::string hub = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
        Usb(hub + "1-1", "10c4", "ea60", "0001", "Silicon Labs", "CP2102 USB to UART Bridge Controller");
        Tty("ttyUSB0", hub + "1-1/1-1:1.0/ttyUSB0", "cp210x");
        Usb(hub + "1-2", "0416", "5011", "PRN42", "Winbond", "Receipt Printer");
        Tty("ttyACM0", hub + "1-2/1-2:1.0", "cdc_acm");
        Usb(hub + "1-3", "0416", "5011", "PRN43", "Winbond", "Label Printer");
        Link("sys/class/usbmisc/lp0", hub + "1-3/1-3:1.0/usbmisc/lp0");
        Link(hub + "1-3/1-3:1.0/usbmisc/lp0/device", hub + "1-3/1-3:1.0");
        Link(hub + "1-3/1-3:1.0/driver", "sys/bus/usb/drivers/usblp");
        Write("sys/class/tty/rfcomm0/address", "00:1b:dc:0f:11:22\n");
        Tty("ttyS0", "sys/devices/pnp0/00:04/tty/ttyS0", "serial");
        Write("sys/class/tty/ttyS0/type", "4\n");
        Tty("ttyS1", "sys/devices/platform/serial8250/tty/ttyS1", "serial8250");
        Write("sys/class/tty/ttyS1/type", "0\n");  // no UART behind it
        Link("dev/serial/by-id/usb-Silicon_Labs_CP2102_0001-if00-port0", "dev/ttyUSB0");
        for (const char* dev : {"ttyUSB0", "ttyACM0", "rfcomm0", "ttyS0", "usb/lp0"})
            Write(std::string("dev/") + dev, "");
        setenv("MORVANE_SYSFS_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("MORVANE_SYSFS_ROOT");
        fs::remove_all(root_);
    }

    void Write(const std::string& path, const std::string& text) {
        fs::create_directories((root_ / path).parent_path());
        std::ofstream(root_ / path) << text;
    }
    // A relative link, as sysfs has them.
    void Link(const std::string& from, const std::string& to) {
        fs::create_directories((root_ / from).parent_path());
        fs::create_directories(root_ / to);
        fs::create_symlink(fs::relative(root_ / to, (root_ / from).parent_path()), root_ / from);
    }
    void Usb(const std::string& device, const char* vendor, const char* product, const char* serial, const char* maker,
             const char* name) {
        Write(device + "/idVendor", std::string(vendor) + "\n");
        Write(device + "/idProduct", std::string(product) + "\n");
        Write(device + "/serial", std::string(serial) + "\n");
        Write(device + "/manufacturer", std::string(maker) + "\n");
        Write(device + "/product", std::string(name) + "\n");
    }
    void Tty(const std::string& name, const std::string& device, const std::string& driver) {
        Link("sys/class/tty/" + name + "/device", device);
        Link(device + "/driver", "sys/bus/drivers/" + driver);
    }
    const PortInfo* Find(const std::vector<PortInfo>& ports, const std::string& name) {
        for (const PortInfo& p : ports)
            if (p.name == name) return &p;
        ADD_FAILURE() << name << " is not listed";
        return nullptr;
    }

    fs::path root_;
};

TEST_F(RecordedMachine, EachPortSaysWhatItIsAndWhoIsBehindIt) {
    const std::vector<PortInfo> ports = ListPorts();
    const struct {
        const char* name;
        PortClass kind;
        const char* vendor;
        const char* serial;
        const char* driver;
    } expected[] = {
        {"/dev/ttyUSB0", PortClass::UsbSerial, "10c4", "0001", "cp210x"},
        {"/dev/ttyACM0", PortClass::UsbAcm, "0416", "PRN42", "cdc_acm"},
        {"USB1:", PortClass::UsbPrinter, "0416", "PRN43", "usblp"},
        {"/dev/rfcomm0", PortClass::Bluetooth, "", "", ""},
        {"/dev/ttyS0", PortClass::Serial, "", "", "serial"},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        const PortInfo* p = Find(ports, e.name);
        if (p == nullptr) continue;
        EXPECT_EQ(p->kind, e.kind);
        EXPECT_EQ(p->identity.vendorId, e.vendor);
        EXPECT_EQ(p->identity.serial, e.serial);
        EXPECT_EQ(p->identity.driver, e.driver);
        EXPECT_EQ(p->access, PortAccess::Ok);
    }
    EXPECT_EQ(Find(ports, "USB1:")->path, "/dev/usb/lp0");
    EXPECT_EQ(Find(ports, "/dev/ttyUSB0")->identity.byId, "/dev/serial/by-id/usb-Silicon_Labs_CP2102_0001-if00-port0");
    EXPECT_EQ(Find(ports, "/dev/ttyUSB0")->identity.product, "CP2102 USB to UART Bridge Controller");
    EXPECT_EQ(Find(ports, "/dev/rfcomm0")->identity.btAddress, "00:1B:DC:0F:11:22");
    for (const PortInfo& p : ports) EXPECT_NE(p.name, "/dev/ttyS1") << "an 8250 slot without a UART is no port";
}

TEST_F(RecordedMachine, AccessSaysInUseAndNoPermission) {
    // Another program's lock on the device.
    const int holder = open((root_ / "dev/ttyACM0").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const pid_t child = fork();
    if (child == 0) {
        // The lock is this process's: look from another one.
        const std::vector<PortInfo> ports = ListPorts();
        for (const PortInfo& p : ports)
            if (p.name == "/dev/ttyACM0") _exit(p.access == PortAccess::InUse ? 0 : 1);
        _exit(2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(holder);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a port another process holds a lock on is not in use";

    fs::permissions(root_ / "dev/ttyUSB0", fs::perms::none);
    if (geteuid() == 0) {
        ASSERT_EQ(seteuid(65534), 0);  // root may open anything: look as nobody
    }
    const std::vector<PortInfo> ports = ListPorts();
    if (geteuid() != getuid()) {
        ASSERT_EQ(seteuid(0), 0);
    }
    const PortInfo* usb = Find(ports, "/dev/ttyUSB0");
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->access, PortAccess::NoPermission);
    EXPECT_FALSE(usb->group.empty());
}

TEST_F(RecordedMachine, AUucpLockFileOfALiveProcessMakesItsPortInUse) {
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::int32_t live = getppid();  // this process's own lock would not count
    const struct {
        const char* file;
        std::string text;
        const char* port;
        PortAccess access;
    } cases[] = {
        {"run/lock/LCK..ttyUSB0", std::to_string(live) + " minicom root\n", "/dev/ttyUSB0", PortAccess::InUse},
        {"var/lock/LCK..ttyACM0", std::string(reinterpret_cast<const char*>(&live), sizeof live), "/dev/ttyACM0",
         PortAccess::InUse},
        {"run/lock/LCK..rfcomm0", std::to_string(gone) + "\n", "/dev/rfcomm0", PortAccess::Ok},
        {"run/lock/LCK..ttyS0", "junk\n", "/dev/ttyS0", PortAccess::Ok},
    };
    for (const auto& c : cases) Write(c.file, c.text);
    const std::vector<PortInfo> ports = ListPorts();
    for (const auto& c : cases) {
        const PortInfo* p = Find(ports, c.port);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->access, c.access) << c.file;
    }
}

TEST_F(RecordedMachine, SelectorsNameThePortsOfAPrinter) {
    const std::vector<PortInfo> ports = ListPorts();
    const struct {
        const char* selector;
        std::vector<std::string> ports;
    } cases[] = {
        {"usb:0416:5011", {"/dev/ttyACM0", "USB1:"}},
        {"USB:0416:5011:PRN43", {"USB1:"}},
        {"usb:10C4:EA60", {"/dev/ttyUSB0"}},
        {"usb:0416:5011:NOPE", {}},
        {"bt:00:1b:dc:0f:11:22", {"/dev/rfcomm0"}},
        {"bt:00:1B:DC:0F:11:23", {}},
        {"usb:0416:*", {"/dev/ttyACM0", "USB1:"}},
        {"usb:10c4:*", {"/dev/ttyUSB0"}},
        {"usb:1a86:*", {}},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<Selector> s = ParseSelector(c.selector, &error);
        ASSERT_TRUE(s.has_value()) << c.selector << ": " << error;
        EXPECT_EQ(MatchNow({*s}, ports), c.ports) << c.selector;
    }
}

}  // namespace

TEST_F(RecordedMachine, APortGivenTwiceUnderAnyOfItsNamesIsRefused) {
    const std::string tty = (root_ / "dev/ttyUSB0").string();
    const std::string link = (root_ / "dev/serial/by-id/usb-Silicon_Labs_CP2102_0001-if00-port0").string();
    const struct {
        std::vector<std::string> names;
        bool twice;
    } cases[] = {
        {{tty, link}, true},
        {{"tcp://Printer.shop", "tcp://printer.SHOP:9100"}, true},
        {{"tcp://[::1]", "tcp://[::1]:9100"}, true},
        {{"tcp://printer.shop:9100", "tcp://printer.shop:9101"}, false},
        {{"tcp://127.0.0.1", "tcp://127.0.0.2", "USB1:", "USB2:"}, false},
    };
    for (const auto& c : cases) {
        std::vector<PortName> ports;
        std::string error;
        const ResolveStatus status = ResolvePorts(c.names, &ports, nullptr, &error);
        EXPECT_EQ(status, c.twice ? ResolveStatus::BadUsage : ResolveStatus::Ok) << c.names[0] << ": " << error;
        EXPECT_EQ(error.find("given twice") != std::string::npos, c.twice) << c.names[0] << ": " << error;
    }
}
