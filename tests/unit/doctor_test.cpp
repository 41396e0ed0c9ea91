// The machine check against a recorded machine: a tree standing for / with
// its /proc, /sys, /dev and /etc, and udev and lpstat answered by the test.
// Then the udev rule's text, the print queues' files, and the lines.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/doctor/doctor.h"
#include "cli/posix/doctor_posix.h"
#include "cli/posix/print_queues.h"
#include "cli/doctor/udev_rule.h"

namespace {

namespace fs = std::filesystem;
using namespace morvane::cli;
using Status = Finding::Status;

// Two printers: a CDC-ACM one at 1-1 (0416:5011, /dev/ttyACM0) and a USB
// printer-class one at 1-3 (0416:5012, bound to usblp as /dev/usb/lp0).
// Nothing stands in the way until a case puts it there.
class RecordedStation : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("morvane-doctor-" + std::to_string(getpid()));
        fs::remove_all(root_);
        const std::string hub = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
        Usb(hub + "1-1", "0416", "5011", "PRN42", "Winbond", "Receipt Printer");
        Write(hub + "1-1/power/control", "on\n");
        Link("sys/class/tty/ttyACM0/device", hub + "1-1/1-1:1.0");
        Link(hub + "1-1/1-1:1.0/driver", "sys/bus/usb/drivers/cdc_acm");
        Write("sys/class/tty/ttyACM0/dev", "166:0\n");
        Write(hub + "1-1/1-1:1.0/bInterfaceClass", "02\n");
        Link("sys/bus/usb/devices/1-1:1.0", hub + "1-1/1-1:1.0");
        Usb(hub + "1-3", "0416", "5012", "", "Winbond", "Label Printer");
        Write(hub + "1-3/power/control", "on\n");
        Write(hub + "1-3/1-3:1.0/bInterfaceClass", "07\n");
        Write(hub + "1-3/1-3:1.0/ieee1284_id", "MFG:Winbond;MDL:Label Printer;SN:PRN43;CMD:ESC/POS;\n");
        Link(hub + "1-3/1-3:1.0/driver", "sys/bus/usb/drivers/usblp");
        Link("sys/class/usbmisc/lp0", hub + "1-3/1-3:1.0/usbmisc/lp0");
        Link(hub + "1-3/1-3:1.0/usbmisc/lp0/device", hub + "1-3/1-3:1.0");
        Link("sys/bus/usb/devices/1-3:1.0", hub + "1-3/1-3:1.0");
        Write("dev/ttyACM0", "");
        Write("dev/usb/lp0", "");
        Process(1, "systemd");
        Process(412, "bash");

        udev_ = [](unsigned, unsigned, const char*) { return std::optional<std::string>(); };
        machine_.root = root_.string();
        machine_.ports = {Port("/dev/ttyACM0", "/dev/ttyACM0", PortClass::UsbAcm),
                          Port("USB1:", "/dev/usb/lp0", PortClass::UsbPrinter),
                          Port("/dev/ttyS0", "/dev/ttyS0", PortClass::Serial)};
        machine_.udevProperty = [this](unsigned major, unsigned minor, const char* property) {
            return udev_(major, minor, property);
        };
        machine_.udevEvents = [](std::string*) { return true; };
        machine_.lpstat = [] { return std::optional<std::string>(); };
        options_ = {};
        options_.journal = (root_ / "shift.jsonl").string();
    }
    void TearDown() override { fs::remove_all(root_); }

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
        if (*serial != '\0') Write(device + "/serial", std::string(serial) + "\n");
        Write(device + "/manufacturer", std::string(maker) + "\n");
        Write(device + "/product", std::string(name) + "\n");
    }
    void Process(int pid, const std::string& name) { Write("proc/" + std::to_string(pid) + "/comm", name + "\n"); }
    static PortInfo Port(const std::string& name, const std::string& path, PortClass kind) {
        PortInfo p;
        p.name = name;
        p.path = path;
        p.kind = kind;
        return p;
    }

    fs::path root_;
    LinuxMachine machine_;
    MachineCheckOptions options_;
    // udev knows no device until a case says otherwise.
    std::function<std::optional<std::string>(unsigned, unsigned, const char*)> udev_;
};

struct Expected {
    const char* check;
    Status status;
    const char* words;  // found in the subject, the text or the fix
};

bool Holds(const Finding& f, const Expected& e) {
    const std::string all = f.subject + " | " + f.text + " | " + f.fix;
    return f.check == e.check && f.status == e.status && all.find(e.words) != std::string::npos;
}

std::string Shown(const std::vector<Finding>& findings) {
    std::string text;
    for (const Finding& f : findings) text += FormatFinding(f, false) + "\n";
    return text;
}

TEST_F(RecordedStation, EachCheckSaysWhatStandsInTheWayAndTheFix) {
    const auto udevSays = [this](const char* value) {
        udev_ = [value](unsigned major, unsigned minor, const char* property) -> std::optional<std::string> {
            if (major != 166 || minor != 0 || std::string(property) != "ID_MM_DEVICE_IGNORE") return std::nullopt;
            return std::string(value);
        };
    };
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::vector<Expected> expected;
        int status;
    } cases[] = {
        {"nothing in the way",
         [] {},
         {{"port-access", Status::Ok, "/dev/ttyACM0"},
          {"port-access", Status::Ok, "USB1: (/dev/usb/lp0)"},
          {"modemmanager", Status::Ok, "ModemManager is not running"},
          {"brltty", Status::Ok, "brltty is not running"},
          {"print-queue", Status::Ok, "no print system (CUPS) here"},
          {"autosuspend", Status::Ok, "power/control = on"},
          {"udev-events", Status::Ok, "reach the station"},
          {"journal", Status::Ok, "may make the journal in this folder"}},
         0},
        {"ModemManager, and udev does not know the port",
         [&] { Process(812, "ModemManager"); },
         {{"modemmanager", Status::Problem, "ModemManager (pid 812) is running"},
          {"modemmanager", Status::Problem, "sudo systemctl disable --now ModemManager"},
          {"modemmanager", Status::Problem, "--udev-rule usb:0416:5011"},
          {"modemmanager", Status::NotChecked, "udev does not know this port"}},
         1},
        {"ModemManager, and udev keeps it from the port",
         [&] {
             Process(812, "ModemManager");
             udevSays("1");
         },
         {{"modemmanager", Status::Ok, "leaves every printer port here alone"},
          {"modemmanager", Status::Ok, "ID_MM_DEVICE_IGNORE=1"}},
         0},
        {"ModemManager, and udev lets it at the port",
         [&] {
             Process(812, "ModemManager");
             Process(813, "ModemManager");
             udevSays("");
         },
         {{"modemmanager", Status::Problem, "ModemManager (pids 812, 813) is running"},
          {"modemmanager", Status::Problem, "sets no ID_MM_DEVICE_IGNORE"}},
         1},
        {"ModemManager with no printer plugged in",
         [&] {
             Process(812, "ModemManager");
             machine_.ports.clear();
         },
         {{"modemmanager", Status::Problem, "--udev-rule usb:VVVV:PPPP"},
          {"port-access", Status::Ok, "no printer port is plugged in"}},
         1},
        {"brltty",
         [&] { Process(640, "brltty"); },
         {{"brltty", Status::Problem, "brltty (pid 640) is running"}, {"brltty", Status::Problem, "mask --now brltty"}},
         1},
        {"a print queue in printers.conf holds the usblp printer",
         [&] {
             Write("etc/cups/printers.conf",
                   "# Printer configuration file for CUPS\n<DefaultPrinter Label>\nInfo Label\n"
                   "DeviceURI usb://Winbond/Label%20Printer?serial=PRN43\nState Idle\n</DefaultPrinter>\n"
                   "<Printer Office>\nDeviceURI ipp://office.example/ipp/print\n</Printer>\n");
         },
         {{"print-queue", Status::Ok, "2 print queue(s) in /etc/cups/printers.conf, 1 of them on a USB printer"},
          {"print-queue", Status::Problem, "bound to usblp as /dev/usb/lp0"},
          {"print-queue", Status::Problem, "sudo lpadmin -x Label"}},
         1},
        {"a print queue lpstat lists holds the printer by its make and model",
         [&] {
             fs::create_directories(root_ / "etc/cups");
             machine_.lpstat = [] {
                 return std::optional<std::string>("device for Label: usb://Winbond/Label%20Printer\n");
             };
         },
         {{"print-queue", Status::Ok, "in lpstat -v"}, {"print-queue", Status::Problem, "print queue Label"}},
         1},
        {"a print queue on another printer",
         [&] {
             machine_.lpstat = [] {
                 return std::optional<std::string>("device for Other: usb://Other/Printer?serial=X1\n");
             };
         },
         {{"print-queue", Status::Ok, "bound to usblp as /dev/usb/lp0, and no print queue holds it"}},
         0},
        {"the print queues cannot be read",
         [&] { fs::create_directories(root_ / "etc/cups"); },
         {{"print-queue", Status::NotChecked, "run doctor as root"}},
         0},
        {"autosuspend on the CDC-ACM printer",
         [&] { Write("sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/power/control", "auto\n"); },
         {{"autosuspend", Status::Problem, "echo on | sudo tee /sys/bus/usb/devices/1-1/power/control"},
          {"autosuspend", Status::Problem, "--udev-rule usb:0416:5011"},
          {"autosuspend", Status::Ok, "USB1:"}},
         1},
        {"no udev events",
         [&] {
             machine_.udevEvents = [](std::string* why) {
                 *why = "udev does not run here";
                 return false;
             };
         },
         {{"udev-events", Status::Ok, "every 250 ms"}},
         0},
        {"the journal's folder is missing",
         [&] { options_.journal = (root_ / "no-such-folder" / "shift.jsonl").string(); },
         {{"journal", Status::Problem, "mkdir -p "}},
         1},
        {"the journal is a folder",
         [&] { fs::create_directories(root_ / "shift.jsonl"); },
         {{"journal", Status::Problem, "it is a folder"}},
         1},
        {"a plain serial port named, and one that is not there",
         [&] {
             Write("dev/ttyS0", "");
             options_.ports = {"/dev/ttyS0", "/dev/ttyUSB9", "usb:0416:*", "/dev/ttyACM0", "tcp://192.0.2.1"};
         },
         {{"port-access", Status::Ok, "/dev/ttyS0"},
          {"port-access", Status::Problem, "/dev/ttyUSB9 | there is no such device"}},
         1},
        {"an existing journal",
         [&] { Write("shift.jsonl", ""); },
         {{"journal", Status::Ok, "may read it and add to it"}},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.arrange();
        const std::vector<Finding> findings = CheckLinuxMachine(machine_, options_);
        for (const Expected& e : c.expected) {
            bool found = false;
            for (const Finding& f : findings) found = found || Holds(f, e);
            EXPECT_TRUE(found) << e.check << " " << FindingStatusName(e.status) << " \"" << e.words << "\" in\n"
                               << Shown(findings);
        }
        EXPECT_EQ(DoctorStatus(findings), c.status) << Shown(findings);
        std::set<std::string> ports;
        for (const Finding& f : findings) {
            if (f.check == "port-access") {
                EXPECT_TRUE(ports.insert(f.subject).second) << "twice: " << f.subject;
            }
        }
        for (const Finding& f : findings) {
            EXPECT_EQ(f.status == Status::Problem, !f.fix.empty()) << "a problem has its fix, and only a problem\n"
                                                                   << FormatFinding(f, false);
            if (options_.ports.empty()) {
                EXPECT_EQ(f.subject.find("/dev/ttyS"), std::string::npos) << "a plain serial port, not named";
            }
        }
    }
}

TEST_F(RecordedStation, APortThisUserMayNotOpenNamesItsGroupAndTheFix) {
    // Its group may not either: the fix is a rule that gives it to one.
    fs::permissions(root_ / "dev/ttyACM0", fs::perms::none);
    if (geteuid() == 0) {
        ASSERT_EQ(seteuid(65534), 0);  // root may open anything: look as nobody
    }
    const std::vector<Finding> findings = CheckLinuxMachine(machine_, options_);
    if (geteuid() != getuid()) {
        ASSERT_EQ(seteuid(0), 0);
    }
    bool found = false;
    for (const Finding& f : findings) {
        if (f.check != "port-access" || f.subject != "/dev/ttyACM0") continue;
        found = true;
        EXPECT_EQ(f.status, Status::Problem);
        EXPECT_NE(f.text.find("the device belongs to group "), std::string::npos) << f.text;
        EXPECT_NE(f.text.find("only its owner may"), std::string::npos) << f.text;
        EXPECT_NE(f.fix.find("--udev-rule usb:0416:5011"), std::string::npos) << f.fix;
    }
    EXPECT_TRUE(found) << Shown(findings);
}

TEST(UdevRule, KeepsModemManagerAwayTurnsAutosuspendOffAndGivesTheGroupAccess) {
    const struct {
        const char* selector;
        std::vector<std::string> lines;  // every one of them in the rule
        std::vector<std::string> absent;
    } cases[] = {
        {"usb:0416:5011",
         {"ACTION==\"add|change\", SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"0416\", "
          "ATTR{idProduct}==\"5011\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", ATTR{power/control}=\"on\"",
          "ACTION==\"add|change\", SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0416\", ATTRS{idProduct}==\"5011\", "
          "ENV{ID_MM_DEVICE_IGNORE}=\"1\", GROUP=\"dialout\", MODE=\"0660\"",
          "ACTION==\"add|change\", SUBSYSTEM==\"usbmisc\", KERNEL==\"lp[0-9]*\", ATTRS{idVendor}==\"0416\", "
          "ATTRS{idProduct}==\"5011\", GROUP=\"dialout\", MODE=\"0660\"",
          "# Put it in /etc/udev/rules.d/70-morvane-printers.rules, then run"},
         {"serial"}},
        {"USB:0416:501A:PRN 42",
         {"ATTR{idVendor}==\"0416\", ATTR{idProduct}==\"501a\", ATTR{serial}==\"PRN 42\", ",
          "ATTRS{idVendor}==\"0416\", ATTRS{idProduct}==\"501a\", ATTRS{serial}==\"PRN 42\", "},
         {}},
        {"usb:0416:*", {"SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0416\", ENV{ID_MM_DEVICE_IGNORE}"}, {"idProduct"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        std::string error;
        const std::string rule = UdevRule(c.selector, "dialout", &error);
        EXPECT_EQ(error, "");
        std::vector<std::string> lines;
        std::istringstream in(rule);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        for (const std::string& wanted : c.lines) {
            bool found = false;
            for (const std::string& line : lines) found = found || line.find(wanted) != std::string::npos;
            EXPECT_TRUE(found) << wanted << "\nin\n" << rule;
        }
        for (const std::string& line : lines) {
            if (line.empty() || line[0] == '#') continue;
            for (const std::string& absent : c.absent) EXPECT_EQ(line.find(absent), std::string::npos) << line;
            // Never a rule that acts on every device: each line names the ids.
            EXPECT_NE(line.find("{idVendor}==\"0416\""), std::string::npos) << line;
        }
    }
}

TEST(UdevRule, RefusesWhatARuleCannotNameExactly) {
    for (const char* selector : {"bt:00:11:22:33:44:55", "/dev/ttyUSB*", "/dev/ttyUSB0", "usb:41:x", "usb:0416:5011:A*",
                                 "usb:0416:5011:a\"b", "usb:0416:5011:a|b"}) {
        SCOPED_TRACE(selector);
        std::string error;
        EXPECT_EQ(UdevRule(selector, "dialout", &error), "");
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    EXPECT_EQ(UdevRule("usb:0416:5011", "dial out", &error), "");
    EXPECT_FALSE(error.empty());
}

// The example the package ships is the command's own rule.
TEST(UdevRule, TheShippedExampleIsTheCommandsRule) {
    std::ifstream in(std::string(MORVANE_SOURCE_DIR) + "/packaging/udev/morvane-printers.rules.example");
    ASSERT_TRUE(in) << "packaging/udev/morvane-printers.rules.example";
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const std::string rule = UdevRule("usb:0416:5011", kUdevRuleGroup, &error);
    ASSERT_FALSE(rule.empty()) << error;
    EXPECT_NE(text.str().find(rule), std::string::npos) << text.str();
}

TEST(PrintQueues, AreReadFromCupsFilesAndLpstat) {
    const std::vector<PrintQueue> conf = ParsePrintersConf(
        "<Printer Receipt>\nDeviceURI usb://Winbond/Receipt%20Printer?serial=PRN42\n</Printer>\n"
        "<Printer NoDevice>\nInfo none\n</Printer>\n<DefaultPrinter Tag>\n  DeviceURI usb://HP/LaserJet\n"
        "</DefaultPrinter>\n");
    ASSERT_EQ(conf.size(), 2u);
    EXPECT_EQ(conf[0].name, "Receipt");
    EXPECT_EQ(conf[0].uri, "usb://Winbond/Receipt%20Printer?serial=PRN42");
    EXPECT_EQ(conf[1].name, "Tag");
    const std::vector<PrintQueue> listed = ParseLpstatDevices(
        "device for Receipt: usb://Winbond/Receipt%20Printer?serial=PRN42\n"
        "device for Net: socket://192.0.2.21:9100\nsomething else\n");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1].name, "Net");
    EXPECT_EQ(listed[1].uri, "socket://192.0.2.21:9100");

    const struct {
        const char* uri;
        UsbPrinterNames printer;
        bool names;
    } cases[] = {
        {"usb://Winbond/Receipt%20Printer?serial=PRN42", {"Winbond", "Receipt Printer", "PRN42", ""}, true},
        {"usb://Winbond/Receipt%20Printer?serial=PRN42", {"Winbond", "Receipt Printer", "PRN43", ""}, false},
        {"usb://Winbond/Label?serial=SN9", {"", "", "", "MFG:Winbond;MDL:Label;SN:SN9;"}, true},
        {"usb://WINBOND/Label%20Printer", {"", "", "", "MANUFACTURER:Winbond;MODEL:Label Printer;"}, true},
        {"usb://Winbond/Label+Printer?interface=0", {"Winbond", "Label Printer", "", ""}, true},
        {"usb://Winbond/Other", {"Winbond", "Label Printer", "", ""}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        const std::optional<UsbQueueTarget> target = ParseUsbUri(c.uri);
        ASSERT_TRUE(target);
        EXPECT_EQ(QueueNames(*target, c.printer), c.names);
    }
    EXPECT_FALSE(ParseUsbUri("ipp://printer.example/ipp"));
}

TEST(DoctorLines, OneLineEachInTextAndJson) {
    const Finding problem{"modemmanager", Status::Problem, "", "ModemManager (pid 812) is running", "stop it"};
    EXPECT_EQ(FormatFinding(problem, false),
              "problem     modemmanager  ModemManager (pid 812) is running; fix: stop it");
    const Finding ok{"port-access", Status::Ok, "/dev/ttyUSB0", "tech may read and write it\x1b[2J", ""};
    EXPECT_EQ(FormatFinding(ok, false), "ok          port-access   /dev/ttyUSB0: tech may read and write it\\e[2J");
    const nlohmann::json j = nlohmann::json::parse(FormatFinding(problem, true));
    EXPECT_EQ(j["check"], "modemmanager");
    EXPECT_EQ(j["status"], "problem");
    EXPECT_EQ(j["fix"], "stop it");
    EXPECT_FALSE(j.contains("subject"));
    const nlohmann::json k = nlohmann::json::parse(FormatFinding(ok, true));
    EXPECT_EQ(k["subject"], "/dev/ttyUSB0");
    EXPECT_FALSE(k.contains("fix"));
    EXPECT_EQ(DoctorStatus({ok}), 0);
    EXPECT_EQ(DoctorStatus({ok, {"x", Status::NotChecked, "", "not looked at", ""}}), 0);
    EXPECT_EQ(DoctorStatus({ok, problem}), 1);
}

}  // namespace
