// How TarnPortDll names, finds and counts ports.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tarnport {

enum class PortKind { Com, Usb, Lpt };

struct PortId {
    PortKind kind;
    int number;       // counted from 1
    std::string key;  // "USB1": the table key and the TarnPort.ini key
};

// "USB1:", "usb1", "LPT2", "COM3:" ... ; nullopt for anything else, the
// empty name included.
std::optional<PortId> ParsePortName(const char* name);

// The path CreateFileA is given for a port: a TarnPort.ini mapping when
// there is one, else the system's own device (empty when there is none).
std::string DevicePathFor(const PortId& port);

// The port-list counts: the highest port number that can be reached, never
// less than the highest number mapped in TarnPort.ini.
int CountPorts(PortKind kind);

// TarnPort.ini beside this DLL points ports at other devices without
// touching the system (tests, or a printer on an adapter):
//   [Ports]
//   ; a path Wine reaches, e.g. a link to a pseudo-terminal
//   USB1=Z:\tmp\printer-link
//   ; a serial adapter standing in for a parallel port
//   LPT2=\\.\COM12
// Keys are port names without ':', in any case; lines starting with ';' or
// '#' are comments (not text after a value); an empty value is no mapping.
// The file is read afresh on every open and count. A mapped port counts:
// each count is at least its highest mapped number. A mapped path must not
// end in a DOS device name (lpt2, com1, nul): Windows takes such a file for
// that device, whatever folder it is in.
std::string IniPath();
std::optional<std::string> MappedDevice(std::string_view key);

bool RunningUnderWine();

}  // namespace tarnport
