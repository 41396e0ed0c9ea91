#include "cli/doctor/udev_rule.h"

#include <algorithm>

#include "cli/ports/selector.h"

namespace morvane::cli {

namespace {

// udev compares with shell patterns and has no escapes: a serial number
// holding one of these could match other devices, or end the value.
bool HoldsExactly(const std::string& value) {
    return std::none_of(value.begin(), value.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F || c == '"' || c == '\\' || c == '*' || c == '?' || c == '[' || c == '|';
    });
}

bool IsGroupName(const std::string& group) {
    return !group.empty() && std::all_of(group.begin(), group.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

// The device's ids as keys for the device itself (ATTR) or for a port
// beneath it (ATTRS, which walks up to the USB device).
std::string Match(const Selector& s, const char* attr) {
    std::string text = std::string(attr) + "{idVendor}==\"" + s.vendorId + "\"";
    if (!s.productId.empty()) text += ", " + std::string(attr) + "{idProduct}==\"" + s.productId + "\"";
    if (!s.serial.empty()) text += ", " + std::string(attr) + "{serial}==\"" + s.serial + "\"";
    return text;
}

}  // namespace

std::string UdevRule(const std::string& text, const std::string& group, std::string* error) {
    error->clear();
    const std::optional<Selector> s = ParseSelector(text, error);
    if (!error->empty()) return {};
    if (!s || s->kind != Selector::Kind::Usb) {
        *error =
            "a udev rule names USB devices: usb:VVVV:PPPP, usb:VVVV:PPPP:SERIAL or usb:VVVV:*, not \"" + text + "\"";
        return {};
    }
    if (!HoldsExactly(s->serial)) {
        *error = "the serial number in \"" + text +
                 "\" holds a character a udev rule cannot match exactly (a control character, \", \\, *, ?, [ or |)";
        return {};
    }
    if (!IsGroupName(group)) {
        *error = "\"" + group + "\" is not a group name";
        return {};
    }
    const std::string access = "GROUP=\"" + group + "\", MODE=\"0660\"";
    // ModemManager reads ID_MM_DEVICE_IGNORE from the port and from its USB
    // device: both get it, so that no version of it probes the printer.
    return "# The printers " + s->text +
           ": ModemManager leaves their ports alone,\n"
           "# USB autosuspend stays off (a printer may resume badly), and group " +
           group +
           "\n"
           "# may open them.\n"
           "# Made by: morvane-cli doctor --udev-rule " +
           s->text +
           "\n"
           "# Put it in " +
           kUdevRuleFile +
           ", then run\n"
           "#   sudo udevadm control --reload && sudo udevadm trigger\n"
           "# and plug the printers in again.\n"
           "ACTION==\"add|change\", SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", " +
           Match(*s, "ATTR") + ", ENV{ID_MM_DEVICE_IGNORE}=\"1\", ATTR{power/control}=\"on\"\n" +
           "ACTION==\"add|change\", SUBSYSTEM==\"tty\", " + Match(*s, "ATTRS") + ", ENV{ID_MM_DEVICE_IGNORE}=\"1\", " +
           access + "\n" + "ACTION==\"add|change\", SUBSYSTEM==\"usbmisc\", KERNEL==\"lp[0-9]*\", " +
           Match(*s, "ATTRS") + ", " + access + "\n";
}

}  // namespace morvane::cli
