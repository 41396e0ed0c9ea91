// Port names as the command takes them: "COM3", "COM3:", "\\.\COM3",
// "USB1:", "LPT1" (read as the program and its port library read them), or
// a device path. Which of them a platform can reach is the line layer's
// business (CheckPortName).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace morvane::cli {

struct PortName {
    enum class Kind { Com, Usb, Lpt, Device } kind = Kind::Device;
    int number = 0;    // Com, Usb and Lpt: counted from 1
    std::string text;  // as given: how the port is shown in output
};

// Nothing for a text that names no port at all.
std::optional<PortName> ParsePortName(std::string_view text);

}  // namespace morvane::cli
