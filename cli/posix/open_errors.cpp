#include "cli/posix/open_errors.h"

#include <sys/stat.h>

#include "cli/line.h"
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

std::string InUse(const std::string& path, const std::string& how) {
    return path + ": in use by another program (" + how + "); nothing was sent";
}

std::string InUseBy(const std::string& path, pid_t holder, const std::string& how) {
    std::string who = ProcessText(holder);
    if (who == "pid " + std::to_string(holder)) who = "another program (" + who + ")";  // no name to read
    return path + ": in use by " + who + ": " + how + "; nothing was sent";
}

}  // namespace morvane::cli
