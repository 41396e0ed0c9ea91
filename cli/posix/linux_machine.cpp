// The machine the checks look at: its ports, udev's database and monitor
// (libudev), and the print queues lpstat lists. lpstat is the one program
// started, bounded in time and ended by its id.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "cli/run/line.h"
#include "cli/ports/port_events.h"
#include "cli/posix/doctor_posix.h"
#include "cli/posix/sysfs_ports.h"

extern char** environ;

namespace morvane::cli {

namespace {

// The whole check takes under 2 s: lpstat gets at most this much of it.
constexpr auto kLpstatBound = std::chrono::milliseconds(800);
constexpr char kUdevControl[] = "/run/udev/control";  // there while udevd runs

std::optional<std::string> UdevProperty(unsigned major, unsigned minor, const char* property) {
    udev* u = udev_new();
    if (u == nullptr) return std::nullopt;
    std::optional<std::string> value;
    udev_device* d = udev_device_new_from_devnum(u, 'c', makedev(major, minor));
    // Initialized: udev has handled the device and keeps its properties.
    if (d != nullptr && udev_device_get_is_initialized(d) > 0) {
        const char* v = udev_device_get_property_value(d, property);
        // ModemManager reads the property from the USB device as well.
        if (v == nullptr)
            if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device"))
                v = udev_device_get_property_value(usb, property);
        value = v != nullptr ? v : "";
    }
    if (d != nullptr) udev_device_unref(d);
    udev_unref(u);
    return value;
}

bool UdevEvents(std::string* why) {
    if (access(kUdevControl, F_OK) != 0) {
        *why = std::string("udev does not run here (no ") + kUdevControl + ")";
        return false;
    }
    if (!PortEvents::Open()->Live()) {
        *why = "udev's monitor could not be opened";
        return false;
    }
    return true;
}

// `LC_ALL=C lpstat -v`, for what it writes within the bound; nothing when
// it is not installed, fails, or takes longer.
std::optional<std::string> Lpstat() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Its own words, in English, whatever the user's language.
    std::vector<std::string> env = {"LC_ALL=C"};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANG=", 5) != 0 &&
            std::strncmp(*e, "LANGUAGE=", 9) != 0)
            env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char name[] = "lpstat";
    char option[] = "-v";
    char* argv[] = {name, option, nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "lpstat", &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return std::nullopt;
    }
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + kLpstatBound;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[4096];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    bool ended = false;
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && std::chrono::steady_clock::now() < deadline)
        usleep(2000);
    // Still running at the bound: ended, so the check stays within its time.
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
}

}  // namespace

LinuxMachine ThisMachine() {
    LinuxMachine m;
    m.root = SysfsRoot();
    m.ports = ListPorts();
    m.udevEvents = UdevEvents;
    if (m.root.empty()) {
        m.udevProperty = UdevProperty;
        m.lpstat = Lpstat;
    }
    return m;
}

std::vector<Finding> CheckMachine(const MachineCheckOptions& options) {
    return CheckLinuxMachine(ThisMachine(), options);
}

}  // namespace morvane::cli
