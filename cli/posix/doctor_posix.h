// The machine check on Linux, over a view of the machine that the tests
// replace: a recorded tree standing for / (its /proc, /sys, /dev, /etc),
// the ports listed, and what udev and the print system answer.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/doctor/doctor.h"
#include "cli/ports/port_info.h"

namespace morvane::cli {

struct LinuxMachine {
    // "" for the machine itself. Tests give a recorded tree; so does
    // MORVANE_SYSFS_ROOT for the command (see sysfs_ports.h), and then
    // neither udev nor lpstat is asked: they know the machine, not the tree.
    std::string root;
    std::vector<PortInfo> ports;  // as ListPorts() gives them
    // What udev's database holds for the character device major:minor (or
    // its USB device): the property's value, "" when not set; nothing when
    // udev does not know the device.
    std::function<std::optional<std::string>(unsigned major, unsigned minor, const char* property)> udevProperty;
    // Whether udev's device events reach a program; *why says why not.
    std::function<bool(std::string* why)> udevEvents;
    // What `LC_ALL=C lpstat -v` writes; nothing when it cannot be run.
    std::function<std::optional<std::string>()> lpstat;
};

// The machine itself, or the recorded tree of MORVANE_SYSFS_ROOT.
LinuxMachine ThisMachine();

std::vector<Finding> CheckLinuxMachine(const LinuxMachine& machine, const MachineCheckOptions& options);

}  // namespace morvane::cli
