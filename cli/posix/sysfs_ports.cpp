#include "cli/posix/sysfs_ports.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace morvane::cli {

namespace fs = std::filesystem;

namespace {

// How far up from an interface the USB device may stand.
constexpr int kMaxParents = 8;

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

void SetIfEmpty(std::string* field, const std::string& value) {
    if (field->empty()) *field = value;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The class device's device: the real one behind the link, inside the root.
fs::path DeviceOf(const fs::path& classEntry) {
    std::error_code ec;
    const fs::path device = fs::canonical(classEntry / "device", ec);
    return ec ? fs::path() : device;
}

void AddUsbDevice(const fs::path& device, PortInfo* port) {
    if (device.empty()) return;
    std::error_code ec;
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec) SetIfEmpty(&port->identity.driver, driver.filename().string());
    fs::path at = device;
    for (int i = 0; i < kMaxParents && !at.empty() && at != at.root_path(); ++i, at = at.parent_path()) {
        if (!fs::exists(at / "idVendor", ec)) continue;
        PortIdentity& id = port->identity;
        SetIfEmpty(&id.vendorId, ReadFirstLine(at / "idVendor"));
        SetIfEmpty(&id.productId, ReadFirstLine(at / "idProduct"));
        SetIfEmpty(&id.serial, ReadFirstLine(at / "serial"));
        SetIfEmpty(&id.manufacturer, ReadFirstLine(at / "manufacturer"));
        SetIfEmpty(&id.product, ReadFirstLine(at / "product"));
        return;
    }
}

// The /dev/serial/by-id link whose target is /dev/<name>.
std::string ByIdLink(const std::string& root, const std::string& name) {
    std::error_code ec;
    const fs::path folder = fs::path(root + "/dev/serial/by-id");
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path target = fs::read_symlink(it->path(), ec);
        if (ec) {
            ec.clear();
            continue;
        }
        if (target.filename() == name) return "/dev/serial/by-id/" + it->path().filename().string();
    }
    return {};
}

// An entry of /proc/locks ("1: FLOCK  ADVISORY  WRITE 4321 00:05:86 0 EOF")
// on the device file.
bool LockedByAnother(const struct stat& st) {
    std::ifstream locks("/proc/locks");
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, where;
        fields >> number >> kind >> mode >> access >> pid >> where;
        if (kind == "->") continue;  // a waiter, not a holder
        if (where == wanted && pid != std::to_string(getpid())) return true;
    }
    return false;
}

// A UUCP lock file (/run/lock/LCK..ttyUSB0) of a process that still runs,
// as minicom and other serial tools leave them.
bool UucpLocked(const std::string& root, const std::string& name) {
    for (const char* folder : {"/run/lock/", "/var/lock/"}) {
        std::ifstream file(root + folder + "LCK.." + name);
        long pid = 0;
        if (file >> pid && pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) return true;
    }
    return false;
}

}  // namespace

std::string SysfsRoot() {
    const char* root = std::getenv("MORVANE_SYSFS_ROOT");
    return root != nullptr ? root : "";
}

std::vector<std::string> SysfsTtyNames(const std::string& root) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(root + "/sys/class/tty"), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool rfcomm = StartsWith(name, "rfcomm");
        if (!rfcomm && !fs::exists(it->path() / "device", ec)) continue;
        // The 8250 driver makes 32 ttyS entries; only those with a UART are ports.
        if (StartsWith(name, "ttyS") && ReadFirstLine(it->path() / "type") == "0") continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SysfsUsbPrinterNames(const std::string& root) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(root + "/sys/class/usbmisc"), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (StartsWith(name, "lp")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void AddSysfsIdentity(const std::string& root, const std::string& name, bool usbPrinter, PortInfo* port) {
    const fs::path entry = fs::path(root + (usbPrinter ? "/sys/class/usbmisc/" : "/sys/class/tty/")) / name;
    AddUsbDevice(DeviceOf(entry), port);
    if (StartsWith(name, "rfcomm")) {
        port->kind = PortClass::Bluetooth;
        std::string address = ReadFirstLine(entry / "address");
        std::transform(address.begin(), address.end(), address.begin(), ::toupper);
        SetIfEmpty(&port->identity.btAddress, address);
    } else if (usbPrinter) {
        port->kind = PortClass::UsbPrinter;
    } else if (StartsWith(name, "ttyACM") || port->identity.driver == "cdc_acm") {
        port->kind = PortClass::UsbAcm;
    } else if (StartsWith(name, "ttyUSB") || !port->identity.vendorId.empty()) {
        port->kind = PortClass::UsbSerial;
    }
    if (!usbPrinter) SetIfEmpty(&port->identity.byId, ByIdLink(root, name));
}

void AddAccess(const std::string& root, const std::string& path, PortInfo* port) {
    const std::string file = root + path;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return;
    // As open(2) will judge it: by the effective user and groups.
    if (faccessat(AT_FDCWD, file.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES) {
        port->access = PortAccess::NoPermission;
        const group* g = getgrgid(st.st_gid);
        port->group = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
        return;
    }
    if (LockedByAnother(st) || UucpLocked(root, fs::path(path).filename().string())) port->access = PortAccess::InUse;
}

}  // namespace morvane::cli
