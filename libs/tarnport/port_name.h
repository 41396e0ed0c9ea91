// The port names TarnPortDll answers to: "COMn", "USBn", "LPTn".
#pragma once
#include <optional>
#include <string>

namespace tarnport {

// Port numbers the library looks at: what the port list can show.
constexpr int kMaxPortNumber = 255;

enum class PortKind { Com, Usb, Lpt };

struct PortId {
    PortKind kind;
    int number;       // counted from 1
    std::string key;  // "USB1": the table key and the TarnPort.ini key
};

// "USB1:", "usb1", "LPT2", "COM3:" ... with n from 1 to 255; a trailing ':'
// and the letter case do not matter. nullopt for anything else, the empty
// name included.
std::optional<PortId> ParsePortName(const char* name);

const char* KindPrefix(PortKind kind);

}  // namespace tarnport
