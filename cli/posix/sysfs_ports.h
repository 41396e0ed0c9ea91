// Who the machine's ports are, as sysfs and /dev tell: USB ids, serial
// number, maker and product, the kernel driver, the /dev/serial/by-id link,
// a Bluetooth port's peer, and whether this user may open the device now.
// Everything is read under a root ("" for the machine itself), so that
// tests read a recorded tree instead (MORVANE_SYSFS_ROOT).
#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/ports/port_info.h"

namespace morvane::cli {

// $MORVANE_SYSFS_ROOT, or "" for the machine's own /sys and /dev.
std::string SysfsRoot();

// The tty devices sysfs has a device for ("ttyUSB0", "ttyACM1", "rfcomm0",
// and serial ports that have a UART), by name.
std::vector<std::string> SysfsTtyNames(const std::string& root);
// "lp0", "lp1": USB printers (the usblp driver's /dev/usb/lpN).
std::vector<std::string> SysfsUsbPrinterNames(const std::string& root);

// Fills in what sysfs knows of a tty or a USB printer ("lp0"); leaves what
// is known already.
void AddSysfsIdentity(const std::string& root, const std::string& name, bool usbPrinter, PortInfo* port);
// Access to the device file: "no-permission" with its group, "in-use" when
// another process holds a lock on it (flock, POSIX, or a UUCP lock file).
void AddAccess(const std::string& root, const std::string& path, PortInfo* port);

// A UUCP lock file on a device whose process still runs, as minicom and
// other serial tools leave them: /run/lock/LCK..ttyUSB0 holding the pid.
struct UucpLock {
    pid_t pid = 0;
    std::string file;
};
// Looked for in the root's /run/lock and /var/lock, or only in
// $MORVANE_LOCK_DIR when that is set: tests lock ports there, never in the
// machine's own folders. Nothing for a lock of a process that is gone.
std::optional<UucpLock> LiveUucpLock(const std::string& root, const std::string& path);

}  // namespace morvane::cli
