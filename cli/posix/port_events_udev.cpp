// Device events on Linux from libudev's monitor, for tty and USB printer
// devices. Without a running udev (a container, a minimal system) no event
// ever comes, and the station only lists again on time.
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include "cli/system/platform.h"
#include "cli/ports/port_events.h"

namespace morvane::cli {

namespace {

constexpr char kUdevControl[] = "/run/udev/control";  // there while udevd runs

class Quiet : public PortEvents {
public:
    bool Live() const override { return false; }
    void Wait(unsigned ms) override { PauseMs(ms); }
};

class UdevEvents : public PortEvents {
public:
    UdevEvents(udev* u, udev_monitor* m) : udev_(u), monitor_(m) {}
    ~UdevEvents() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    bool Live() const override { return true; }
    void Wait(unsigned ms) override {
        pollfd p{udev_monitor_get_fd(monitor_), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(ms)) <= 0) return;
        // Every event waiting: the listing that follows sees them all.
        while (udev_device* d = udev_monitor_receive_device(monitor_)) udev_device_unref(d);
    }

private:
    udev* udev_;
    udev_monitor* monitor_;
};

}  // namespace

std::unique_ptr<PortEvents> PortEvents::Open() {
    if (access(kUdevControl, F_OK) != 0) return std::make_unique<Quiet>();
    udev* u = udev_new();
    if (u == nullptr) return std::make_unique<Quiet>();
    udev_monitor* m = udev_monitor_new_from_netlink(u, "udev");
    if (m == nullptr || udev_monitor_filter_add_match_subsystem_devtype(m, "tty", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(m, "usbmisc", nullptr) < 0 ||
        udev_monitor_enable_receiving(m) < 0) {
        if (m != nullptr) udev_monitor_unref(m);
        udev_unref(u);
        return std::make_unique<Quiet>();
    }
    return std::make_unique<UdevEvents>(u, m);
}

}  // namespace morvane::cli
