#include "cli/posix/lock_holders.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

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
        if (makedev(major, minor) == device && node == static_cast<unsigned long long>(inode) && pid != getpid())
            return ProcessText(static_cast<pid_t>(pid));
    }
    return {};
}

std::string OpenerOf(const std::string& path) {
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) == nullptr) return {};
    std::error_code ec;
    for (auto process = std::filesystem::directory_iterator("/proc", ec);
         !ec && process != std::filesystem::directory_iterator(); process.increment(ec)) {
        const std::string pid = process->path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == std::to_string(getpid())) continue;
        std::error_code one;
        for (auto fd = std::filesystem::directory_iterator(process->path() / "fd", one);
             !one && fd != std::filesystem::directory_iterator(); fd.increment(one)) {
            std::error_code link;
            if (std::filesystem::read_symlink(fd->path(), link).string() == real)
                return ProcessText(static_cast<pid_t>(std::stol(pid)));
        }
    }
    return {};
}

}  // namespace morvane::cli
