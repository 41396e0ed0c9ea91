// What a technician can do about a port that does not open: the texts for
// the errors of open(2) and of taking the port for the command alone.
#pragma once
#include <sys/types.h>

#include <string>

namespace morvane::cli {

// "/dev/ttyUSB0: permission denied: ..." with the device's group and mode,
// and whether the user is in that group, or is but logged in before.
std::string PermissionDenied(const std::string& path);
// "/dev/ttyUSB9: no such port; ports here: ..."
std::string NoSuchPort(const std::string& path);
// "/dev/ttyUSB0: in use by another program (...)"
std::string InUse(const std::string& path, const std::string& how);
// "/dev/ttyUSB0: in use by minicom (pid 812): ...", or by "another program
// (pid 812)" when its name cannot be read.
std::string InUseBy(const std::string& path, pid_t holder, const std::string& how);

}  // namespace morvane::cli
