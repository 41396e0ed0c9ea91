#include "cli/posix/lock_holders.h"

#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace morvane::cli {

std::string ProcessText(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "pid " + std::to_string(pid) : name + " (pid " + std::to_string(pid) + ")";
}

std::string FlockHolder(dev_t device, ino_t inode) {
    // "1: FLOCK  ADVISORY  WRITE 812 08:01:1234 0 EOF"; a line with "->" is a waiter.
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string id, type, mode, access, where;
        long pid = 0;
        if (!(fields >> id >> type)) continue;
        if (type == "->") continue;
        if (!(fields >> mode >> access >> pid >> where) || pid <= 0) continue;
        unsigned major = 0, minor = 0;
        unsigned long long node = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &node) != 3) continue;
        if (makedev(major, minor) == device && node == static_cast<unsigned long long>(inode))
            return ProcessText(static_cast<pid_t>(pid));
    }
    return {};
}

}  // namespace morvane::cli
