#include "cli/posix/sysfs_ports.h"

#include "cli/posix/lock_holders.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
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
        SetIfEmpty(&id.usbPath, at.filename().string());
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
bool LockedByAnother(const struct stat& st) { return !FlockHolder(st.st_dev, st.st_ino).empty(); }

// How tools name a device's lock file: by its file name (LCK..ttyUSB0), or
// by its path under /dev with '/' as '_' (LCK..pts_3).
void AddLockNames(const std::string& path, std::vector<std::string>* names) {
    const std::string base = fs::path(path).filename().string();
    std::string underDev = StartsWith(path, "/dev/") ? path.substr(5) : base;
    std::replace(underDev.begin(), underDev.end(), '/', '_');
    for (const std::string& name : {base, underDev})
        if (!name.empty() && std::find(names->begin(), names->end(), name) == names->end()) names->push_back(name);
}

// The pid in a lock file: in ASCII ("       812\n", perhaps followed by the
// program and the user, as minicom writes it), or as the 4 bytes of an int,
// as older tools write it.
std::optional<pid_t> LockPid(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    char bytes[64];
    in.read(bytes, sizeof bytes);
    const auto size = static_cast<std::size_t>(in.gcount());
    std::size_t i = 0;
    while (i < size && bytes[i] == ' ') ++i;
    long pid = 0;
    const std::size_t first = i;
    for (; i < size && i - first < 10 && std::isdigit(static_cast<unsigned char>(bytes[i])) != 0; ++i)
        pid = pid * 10 + (bytes[i] - '0');
    if (i > first && (i == size || std::isspace(static_cast<unsigned char>(bytes[i])) != 0))
        return pid <= std::numeric_limits<pid_t>::max() ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt;
    std::int32_t binary = 0;
    if (size != sizeof binary) return std::nullopt;
    std::memcpy(&binary, bytes, sizeof binary);
    return static_cast<pid_t>(binary);
}

bool Runs(pid_t pid) { return pid > 0 && pid != getpid() && (kill(pid, 0) == 0 || errno == EPERM); }

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
    if (LockedByAnother(st) || LiveUucpLock(root, path)) port->access = PortAccess::InUse;
}

std::optional<UucpLock> LiveUucpLock(const std::string& root, const std::string& path) {
    std::vector<std::string> names;
    AddLockNames(path, &names);
    // A by-id link's device is locked by its own name.
    std::error_code ec, rootEc;
    const std::string real = fs::canonical(root + path, ec).string();
    const std::string top = root.empty() ? root : fs::canonical(root, rootEc).string();
    if (!ec && !rootEc && StartsWith(real, top.c_str())) AddLockNames(real.substr(top.size()), &names);
    const char* folder = std::getenv("MORVANE_LOCK_DIR");
    const std::vector<std::string> folders = folder != nullptr
                                                 ? std::vector<std::string>{folder}
                                                 : std::vector<std::string>{root + "/run/lock", root + "/var/lock"};
    for (const std::string& f : folders) {
        for (const std::string& name : names) {
            UucpLock lock;
            lock.file = f + "/LCK.." + name;
            const std::optional<pid_t> pid = LockPid(lock.file);
            if (!pid || !Runs(*pid)) continue;
            lock.pid = *pid;
            return lock;
        }
    }
    return std::nullopt;
}

}  // namespace morvane::cli
