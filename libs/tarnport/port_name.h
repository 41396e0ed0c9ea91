// The port names TarnPortDll answers to: "COMn", "USBn", "LPTn", read as
// the program and the command read them (port/port_name.h).
#pragma once
#include <optional>
#include <string>

#include "port/port_name.h"

namespace tarnport {

using morvane::kMaxPortNumber;
using PortKind = morvane::PortKind;

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
