// Who holds a lock: what a message about a busy journal or port names, as
// "ModemManager (pid 812)". Read from /proc; empty where it cannot tell.
#pragma once
#include <sys/types.h>

#include <string>

namespace morvane::cli {

// "NAME (pid N)", or "pid N" when the name cannot be read.
std::string ProcessText(pid_t pid);
// Another process holding a flock(2) or POSIX lock on the file (device and
// inode).
std::string FlockHolder(dev_t device, ino_t inode);
// Another process that has the device open (read from /proc/PID/fd).
std::string OpenerOf(const std::string& path);

}  // namespace morvane::cli
