#include "cli/posix/access_advice.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace morvane::cli {

namespace {

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

std::string ModeText(mode_t mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISFIFO(mode) ? "p" : "-";
    const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
    return text;
}

AccessAdvice AdviseDeviceAccess(const struct stat& device) {
    AccessAdvice advice;
    const group* g = getgrgid(device.st_gid);
    advice.group = g != nullptr ? g->gr_name : std::to_string(device.st_gid);
    advice.problem = "the device belongs to group " + advice.group + " (" + ModeText(device.st_mode) + ")";
    if ((device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        advice.problem += ", and that group may not read and write it either; only its owner may";
        return advice;
    }
    const passwd* user = getpwuid(geteuid());
    const std::string name = user != nullptr ? user->pw_name : "your user";
    if (user != nullptr && UserInGroup(*user, device.st_gid) && !ProcessHasGroup(device.st_gid)) {
        advice.problem += "; " + name + " is in group " + advice.group + ", but this session began before that";
        advice.fix = "log out and in again (or run: newgrp " + advice.group + ")";
        return advice;
    }
    advice.problem += "; " + name + " is not in that group";
    advice.fix = "add " + name + " to that group (sudo usermod -aG " + advice.group + " " + name +
                 "), then log out and in again";
    return advice;
}

}  // namespace morvane::cli
