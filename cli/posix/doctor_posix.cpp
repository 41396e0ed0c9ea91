// The checks of `doctor` on Linux. Each reads files (under the view's root)
// or asks the view's udev and lpstat; none opens a port.
#include "cli/posix/doctor_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>

#include "cli/posix/access_advice.h"
#include "cli/posix/print_queues.h"
#include "cli/posix/printer_devices.h"
#include "cli/ports/glob_pattern.h"

namespace morvane::cli {

namespace fs = std::filesystem;

namespace {

constexpr char kModemManager[] = "ModemManager";
constexpr char kBrltty[] = "brltty";
constexpr char kIgnoredByModemManager[] = "ID_MM_DEVICE_IGNORE";

Finding Ok(const char* check, const std::string& subject, const std::string& text) {
    return {check, Finding::Status::Ok, subject, text, {}};
}

Finding Problem(const char* check, const std::string& subject, const std::string& text, const std::string& fix) {
    return {check, Finding::Status::Problem, subject, text, fix};
}

std::string FirstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// "USB1: (/dev/usb/lp0)", or the path alone.
std::string PortText(const PortInfo& p) { return p.name == p.path ? p.path : p.name + " (" + p.path + ")"; }

bool IsTtyPrinterPort(const PortInfo& p) { return p.kind == PortClass::UsbSerial || p.kind == PortClass::UsbAcm; }

std::string GroupName(gid_t gid) {
    const group* g = getgrgid(gid);
    return g != nullptr ? g->gr_name : std::to_string(gid);
}

std::string OwnerName(uid_t uid) {
    const passwd* p = getpwuid(uid);
    return p != nullptr ? p->pw_name : std::to_string(uid);
}

std::string UserText() { return OwnerName(geteuid()); }

// The command that prints a rule for these printers: their own ids when
// the ports tell them.
std::string RuleCommand(const std::vector<PrinterDevice>& devices) {
    std::vector<std::string> selectors;
    for (const PrinterDevice& d : devices)
        if (!d.identity.vendorId.empty() &&
            std::find(selectors.begin(), selectors.end(), SelectorOf(d)) == selectors.end())
            selectors.push_back(SelectorOf(d));
    if (selectors.empty()) selectors.push_back("usb:VVVV:PPPP");
    std::string commands;
    for (const std::string& s : selectors)
        commands += (commands.empty() ? "" : "; ") + std::string("morvane-cli doctor --udev-rule ") + s;
    return commands + " (docs/station.md, \"Machine check\", says where it goes)";
}

const PrinterDevice* DeviceOfPort(const std::vector<PrinterDevice>& devices, const std::string& port) {
    for (const PrinterDevice& d : devices)
        if (std::find(d.ports.begin(), d.ports.end(), port) != d.ports.end()) return &d;
    return nullptr;
}

std::vector<PrinterDevice> Only(const PrinterDevice* d) {
    return d != nullptr ? std::vector<PrinterDevice>{*d} : std::vector<PrinterDevice>{};
}

// Whether this user may open the device, as open(2) will judge it: by the
// effective user and groups. Only its metadata is read.
void CheckAccess(const LinuxMachine& m, const std::string& shown, const std::string& path,
                 const std::vector<PrinterDevice>& devices, const std::string& port, std::vector<Finding>* out) {
    const std::string file = m.root + path;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        out->push_back(
            Problem("port-access", shown, "there is no such device", "plug the printer in, or name its port"));
        return;
    }
    if (faccessat(AT_FDCWD, file.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
        out->push_back(Ok(
            "port-access", shown,
            UserText() + " may read and write it (group " + GroupName(st.st_gid) + ", " + ModeText(st.st_mode) + ")"));
        return;
    }
    const AccessAdvice advice = AdviseDeviceAccess(st);
    const std::string fix = !advice.fix.empty() ? advice.fix
                                                : "give the port to a group with a udev rule: " +
                                                      RuleCommand(Only(DeviceOfPort(devices, port)));
    out->push_back(Problem("port-access", shown, advice.problem, fix));
}

void CheckPortAccess(const LinuxMachine& m, const std::vector<PrinterDevice>& devices,
                     const std::vector<std::string>& named, std::vector<Finding>* out) {
    std::vector<std::string> checked;
    for (const PortInfo& p : m.ports) {
        if (!ProbedByDefault(p.kind)) continue;
        struct stat st {};
        if (stat((m.root + p.path).c_str(), &st) != 0) continue;  // gone since it was listed
        CheckAccess(m, PortText(p), p.path, devices, p.name, out);
        checked.push_back(p.path);
        checked.push_back(p.name);
    }
    // A port named with -p, plain serial port or not; selectors and network
    // printers name no device file of their own.
    for (const std::string& path : named) {
        if (path.empty() || path[0] != '/' || IsGlob(path)) continue;
        if (std::find(checked.begin(), checked.end(), path) != checked.end()) continue;
        CheckAccess(m, path, path, devices, path, out);
        checked.push_back(path);
    }
    if (checked.empty())
        out->push_back(Ok("port-access", "",
                          "no printer port is plugged in (USB serial, CDC-ACM, USB printer or Bluetooth): nothing to "
                          "check"));
}

// The ids of the running processes with these names, from /proc/PID/comm.
std::map<std::string, std::vector<long>> Running(const std::string& root, std::initializer_list<const char*> names) {
    std::map<std::string, std::vector<long>> found;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(root + "/proc"), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() ||
            !std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            continue;
        const std::string comm = FirstLine((it->path() / "comm").string());
        for (const char* name : names)
            if (comm == name) found[name].push_back(std::strtol(pid.c_str(), nullptr, 10));
    }
    for (auto& [name, pids] : found) std::sort(pids.begin(), pids.end());
    return found;
}

// "ModemManager (pid 812)", "brltty (pids 640, 641)".
std::string ProcessesText(const std::string& name, const std::vector<long>& pids) {
    std::string text = name + (pids.size() == 1 ? " (pid " : " (pids ");
    for (std::size_t i = 0; i < pids.size(); ++i) text += (i > 0 ? ", " : "") + std::to_string(pids[i]);
    return text + ")";
}

// What udev holds for a tty port, through its device number in sysfs.
std::optional<std::string> UdevPropertyOfTty(const LinuxMachine& m, const PortInfo& p, const char* property) {
    if (!m.udevProperty) return std::nullopt;
    const std::string name = fs::path(p.path).filename().string();
    unsigned major = 0, minor = 0;
    const std::string dev = FirstLine(m.root + "/sys/class/tty/" + name + "/dev");
    if (std::sscanf(dev.c_str(), "%u:%u", &major, &minor) != 2) return std::nullopt;
    return m.udevProperty(major, minor, property);
}

void CheckModemManager(const LinuxMachine& m, const std::vector<long>& pids, const std::vector<PrinterDevice>& devices,
                       std::vector<Finding>* out) {
    if (pids.empty()) {
        out->push_back(Ok("modemmanager", "", "ModemManager is not running"));
        return;
    }
    std::vector<Finding> ports;
    std::vector<PrinterDevice> serialPrinters;  // what ModemManager may probe
    bool allKeptAway = true;
    for (const PortInfo& p : m.ports) {
        if (!IsTtyPrinterPort(p)) continue;
        if (const PrinterDevice* d = DeviceOfPort(devices, p.name)) serialPrinters.push_back(*d);
        const std::optional<std::string> ignored = UdevPropertyOfTty(m, p, kIgnoredByModemManager);
        const std::string rule = RuleCommand(Only(DeviceOfPort(devices, p.name)));
        if (!ignored) {
            allKeptAway = false;
            ports.push_back({"modemmanager",
                             Finding::Status::NotChecked,
                             PortText(p),
                             "udev does not know this port, so whether ModemManager leaves it alone cannot be told",
                             {}});
        } else if (*ignored == "1") {
            ports.push_back(
                Ok("modemmanager", PortText(p), "ModemManager leaves it alone (udev: ID_MM_DEVICE_IGNORE=1)"));
        } else {
            allKeptAway = false;
            ports.push_back(Problem("modemmanager", PortText(p),
                                    "ModemManager may open it and send it AT commands (udev sets no "
                                    "ID_MM_DEVICE_IGNORE on it)",
                                    "keep ModemManager away with a udev rule: " + rule));
        }
    }
    const std::string who = ProcessesText(kModemManager, pids);
    if (!ports.empty() && allKeptAway) {
        out->push_back(Ok("modemmanager", "", who + " is running, and leaves every printer port here alone"));
    } else {
        out->push_back(Problem("modemmanager", "",
                               who + " is running: it opens new USB serial ports that may be modems and sends them AT "
                                     "commands, which a printer prints, and holds the port for about 10 s",
                               "if this machine has no modem: sudo systemctl disable --now ModemManager; else keep it "
                               "away from the printers with a udev rule: " +
                                   RuleCommand(serialPrinters)));
    }
    out->insert(out->end(), ports.begin(), ports.end());
}

void CheckBrltty(const std::vector<long>& pids, std::vector<Finding>* out) {
    if (pids.empty()) {
        out->push_back(Ok("brltty", "", "brltty is not running"));
        return;
    }
    out->push_back(
        Problem("brltty", "",
                ProcessesText(kBrltty, pids) +
                    " is running: it takes USB serial adapters (CH340, CP210x, FT232 and others) for braille "
                    "displays, and their ports vanish",
                "if no braille display is used here: sudo systemctl mask --now brltty.service "
                "brltty-udev.service, or sudo apt remove brltty"));
}

// The queues, and where they were read; nothing when they cannot be.
std::optional<std::vector<PrintQueue>> PrintQueues(const LinuxMachine& m, std::string* source) {
    const std::string conf = m.root + "/etc/cups/printers.conf";
    if (std::ifstream in(conf); in) {
        std::ostringstream text;
        text << in.rdbuf();
        *source = "/etc/cups/printers.conf";
        return ParsePrintersConf(text.str());
    }
    if (const std::optional<std::string> listed = m.lpstat ? m.lpstat() : std::nullopt) {
        *source = "lpstat -v";
        return ParseLpstatDevices(*listed);
    }
    return std::nullopt;
}

void CheckPrintQueues(const LinuxMachine& m, const std::vector<PrinterDevice>& devices, std::vector<Finding>* out) {
    std::string source;
    const std::optional<std::vector<PrintQueue>> queues = PrintQueues(m, &source);
    if (!queues) {
        std::error_code ec;
        if (!fs::exists(m.root + "/etc/cups", ec)) {
            out->push_back(Ok("print-queue", "", "no print system (CUPS) here: no queue can hold a printer"));
        } else {
            out->push_back({"print-queue",
                            Finding::Status::NotChecked,
                            "",
                            "/etc/cups/printers.conf is the print system's alone and lpstat gave no answer: run "
                            "doctor as root to see the print queues",
                            {}});
        }
        return;
    }
    std::size_t onUsb = 0;
    for (const PrintQueue& q : *queues) onUsb += ParseUsbUri(q.uri) ? 1 : 0;
    out->push_back(Ok("print-queue", "",
                      std::to_string(queues->size()) + " print queue(s) in " + source + ", " + std::to_string(onUsb) +
                          " of them on a USB printer"));
    for (const PrinterDevice& d : devices) {
        if (!d.printerInterface) continue;
        const UsbPrinterNames names{d.identity.manufacturer, d.identity.product, d.identity.serial, d.ieee1284};
        std::string held, heldNames;
        for (const PrintQueue& q : *queues) {
            const std::optional<UsbQueueTarget> target = ParseUsbUri(q.uri);
            if (!target || !QueueNames(*target, names)) continue;
            held += (held.empty() ? "" : ", ") + q.name + " (" + q.uri + ")";
            heldNames += " " + q.name;
        }
        const bool usblp = d.printerDriver == "usblp";
        const std::string bound = usblp ? "bound to usblp" + (d.lp.empty() ? std::string() : " as " + d.lp)
                                  : d.printerDriver.empty() ? std::string("bound to no driver")
                                                            : "bound to " + d.printerDriver;
        if (held.empty()) {
            out->push_back(Ok("print-queue", NameOf(d), "it is " + bound + ", and no print queue holds it"));
            continue;
        }
        out->push_back(Problem("print-queue", NameOf(d),
                               "print queue " + held + " holds it, and it is " + bound +
                                   (usblp ? ": the print system may take it, or print on it, while the station works"
                                          : ": the station finds no /dev/usb/lp port for it"),
                               "if this printer is for the station, remove the queue: sudo lpadmin -x" + heldNames));
    }
}

void CheckAutosuspend(const std::vector<PrinterDevice>& devices, std::vector<Finding>* out) {
    bool any = false;
    for (const PrinterDevice& d : devices) {
        const std::string control = FirstLine(d.sysfsDir + "/power/control");
        if (control.empty()) continue;
        any = true;
        if (control != "auto") {
            out->push_back(Ok("autosuspend", NameOf(d), "USB autosuspend is off (power/control = " + control + ")"));
            continue;
        }
        out->push_back(
            Problem("autosuspend", NameOf(d),
                    "USB autosuspend is on for the printer at " + d.busPath +
                        " (power/control = auto): it may resume badly and lose what is sent to it",
                    "echo on | sudo tee /sys/bus/usb/devices/" + d.busPath +
                        "/power/control (until it is plugged in again); for good, a udev rule: " + RuleCommand({d})));
    }
    if (!any) out->push_back(Ok("autosuspend", "", "no USB printer is plugged in"));
}

void CheckUdevEvents(const LinuxMachine& m, std::vector<Finding>* out) {
    std::string why = "udev's events cannot be had";
    if (m.udevEvents && m.udevEvents(&why)) {
        out->push_back(
            Ok("udev-events", "", "udev's device events reach the station: it takes a printer as it appears"));
        return;
    }
    // The station still takes every printer: it only looks more often.
    out->push_back(Ok("udev-events", "", why + ": the station lists the ports every 250 ms instead"));
}

std::string OwnerAndMode(const struct stat& st) {
    return OwnerName(st.st_uid) + ":" + GroupName(st.st_gid) + ", " + ModeText(st.st_mode);
}

void CheckJournal(const MachineCheckOptions& o, std::vector<Finding>* out) {
    std::error_code ec;
    const fs::path journal = o.journal.empty() ? fs::path() : fs::absolute(o.journal, ec);
    struct stat st {};
    if (!journal.empty() && stat(journal.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            out->push_back(
                Problem("journal", journal.string(), "it is a folder", "name a file: --journal FOLDER/FILE"));
        } else if (faccessat(AT_FDCWD, journal.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
            out->push_back(Ok("journal", journal.string(), UserText() + " may read it and add to it"));
        } else {
            out->push_back(Problem("journal", journal.string(),
                                   UserText() + " may not read and write it (" + OwnerAndMode(st) + ")",
                                   "name another journal, or give it to " + UserText() + ": sudo chown " + UserText() +
                                       " " + journal.string()));
        }
        return;
    }
    // A new journal is made in its folder.
    const fs::path folder = journal.empty() ? fs::current_path(ec) : journal.parent_path();
    const std::string where = folder.string();
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        out->push_back(Problem("journal", where, "the journal's folder does not exist", "mkdir -p " + where));
    } else if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        out->push_back(Problem(
            "journal", where, UserText() + " may not make the journal in this folder (" + OwnerAndMode(st) + ")",
            "name a journal in a folder " + UserText() + " may write to (--journal FOLDER/FILE), or: sudo chown " +
                UserText() + " " + where));
    } else {
        out->push_back(Ok("journal", where, UserText() + " may make the journal in this folder"));
    }
}

}  // namespace

std::vector<Finding> CheckLinuxMachine(const LinuxMachine& m, const MachineCheckOptions& options) {
    std::vector<Finding> findings;
    const std::vector<PrinterDevice> devices = PrinterDevices(m.root, m.ports);
    const std::map<std::string, std::vector<long>> running = Running(m.root, {kModemManager, kBrltty});
    const auto pids = [&](const char* name) {
        const auto found = running.find(name);
        return found != running.end() ? found->second : std::vector<long>{};
    };
    CheckPortAccess(m, devices, options.ports, &findings);
    CheckModemManager(m, pids(kModemManager), devices, &findings);
    CheckBrltty(pids(kBrltty), &findings);
    CheckPrintQueues(m, devices, &findings);
    CheckAutosuspend(devices, &findings);
    CheckUdevEvents(m, &findings);
    CheckJournal(options, &findings);
    return findings;
}

}  // namespace morvane::cli
