#include "cli/posix/open_errors.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/line.h"
#include "cli/posix/lock_holders.h"

namespace morvane::cli {

namespace {

// "crw-rw----", as ls shows it.
std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISFIFO(mode) ? "p" : "-";
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
    return text;
}

bool ProcessHasGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = getgroups(n, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// In the group by the user database: what the next login will have.
bool UserInGroup(const passwd& user, gid_t gid) {
    if (user.pw_gid == gid) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user.pw_name, user.pw_gid, groups.data(), &count) < 0) return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

}  // namespace

std::string PermissionDenied(const std::string& path) {
    std::string text = path + ": permission denied";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return text;
    const group* g = getgrgid(st.st_gid);
    const std::string group = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
    text += ": the device belongs to group " + group + " (" + ModeText(st.st_mode) + ")";
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return text + ", and that group may not read and write it either; only its owner may";
    const passwd* user = getpwuid(geteuid());
    const std::string name = user != nullptr ? user->pw_name : "your user";
    if (user != nullptr && UserInGroup(*user, st.st_gid) && !ProcessHasGroup(st.st_gid))
        return text + "; " + name + " is in group " + group +
               ", but this session began before that: log out and in again (or run: newgrp " + group + ")";
    return text + "; add " + name + " to that group (sudo usermod -aG " + group + " " + name +
           "), then log out and in again";
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
