// Port names as the command takes them: "COM3", "COM3:", "\\.\COM3",
// "USB1:", "LPT1" (read as the program and its port library read them), a
// device path, or a network printer, tcp://HOST[:PORT]. Which of them a
// platform can reach is the line layer's business (CheckPortName).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace morvane::cli {

struct PortName {
    enum class Kind { Com, Usb, Lpt, Device, Tcp } kind = Kind::Device;
    int number = 0;    // Com, Usb and Lpt: counted from 1; Tcp: the TCP port
    std::string text;  // as given: how the port is shown in output
    std::string host;  // Tcp: a name or an address, IPv6 without brackets
};

// Nothing for a text that names no port at all.
std::optional<PortName> ParsePortName(std::string_view text);
// Why ParsePortName() refuses a text: "names no port (...)", for a message
// that names the text first.
std::string WhyNoPort(std::string_view text);

}  // namespace morvane::cli
