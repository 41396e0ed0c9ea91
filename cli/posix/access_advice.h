// Why this user may not read and write a device, and what to do about it:
// the device's group and mode, and whether the user is in that group, or is
// but this session began before that. A refused open says it, and the
// machine check says it of every printer port.
#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace morvane::cli {

struct AccessAdvice {
    std::string group;    // the device's group, by name
    std::string problem;  // "the device belongs to group dialout (crw-rw----); tech is not in that group"
    std::string fix;      // what to run; empty when joining the group would not help
};

// For a device this user may not open (stat(2) of the device file).
AccessAdvice AdviseDeviceAccess(const struct stat& device);

// "crw-rw----", as ls shows it.
std::string ModeText(mode_t mode);

}  // namespace morvane::cli
