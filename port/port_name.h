// The one reading of numbered port names, shared by the program, the port
// library and the command: "COM3", "COM3:", "\\.\COM3", "USB1:", "LPT2",
// in any letter case, numbered 1 to 255 without leading zeros.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

constexpr int kMaxPortNumber = 255;

enum class PortKind { Com, Usb, Lpt };

struct NumberedPort {
    PortKind kind = PortKind::Com;
    int number = 0;  // counted from 1
};

// Nothing for a text that is no numbered port; "COM001", "USB0:" and
// "LPT256" are none. The device namespace ("\\.\") is taken for COM only.
std::optional<NumberedPort> ParseNumberedPort(std::string_view text);

// "COM", "USB" or "LPT".
const char* PortKindPrefix(PortKind kind);

}  // namespace morvane
