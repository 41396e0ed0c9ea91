#include "cli/posix/open_errors.h"

#include <sys/stat.h>

#include "cli/run/line.h"
#include "cli/posix/access_advice.h"
#include "cli/posix/lock_holders.h"

namespace morvane::cli {

std::string PermissionDenied(const std::string& path) {
    std::string text = path + ": permission denied";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return text;
    const AccessAdvice advice = AdviseDeviceAccess(st);
    text += ": " + advice.problem;
    return advice.fix.empty() ? text : text + "; " + advice.fix;
}

std::string NoSuchPort(const std::string& path) {
    std::string names;
    for (const PortInfo& port : ListPorts()) names += (names.empty() ? "" : ", ") + port.name;
    return path + ": no such port; " + (names.empty() ? "this machine shows none" : "ports here: " + names);
}

std::string InUse(const std::string& path, const std::string& holder, const std::string& how) {
    return path + ": in use by " + (holder.empty() ? "another program" : holder) + ": " + how + "; nothing was sent";
}

std::string HolderOf(pid_t pid) {
    const std::string who = ProcessText(pid);
    return who == "pid " + std::to_string(pid) ? "another program (" + who + ")" : who;  // no name to read
}

}  // namespace morvane::cli
