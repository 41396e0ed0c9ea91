// A udev rule for the printers a usb: selector names, as `doctor
// --udev-rule` prints it: ModemManager leaves their ports alone, USB
// autosuspend stays off, and a group may open them.
#pragma once
#include <string>

namespace morvane::cli {

// Where the rule goes, and the group it gives the ports to by default.
inline constexpr const char* kUdevRuleFile = "/etc/udev/rules.d/70-morvane-printers.rules";
inline constexpr const char* kUdevRuleGroup = "dialout";

// The rule's text, comments first; empty with *error for a selector a rule
// cannot match (bt:, a glob, a plain port) or a serial number it cannot
// hold exactly.
std::string UdevRule(const std::string& selector, const std::string& group, std::string* error);

}  // namespace morvane::cli
