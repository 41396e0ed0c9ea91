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
// "/dev/ttyUSB0: in use by minicom (pid 812): it holds a lock on the port;
// nothing was sent"; an empty holder is "another program".
std::string InUse(const std::string& path, const std::string& holder, const std::string& how);
// The holder's text for a process id: its name and id, or "another
// program (pid N)" when the name cannot be read.
std::string HolderOf(pid_t pid);

}  // namespace morvane::cli
