// How TarnPortDll names, finds and counts ports.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "libs/tarnport/port_name.h"

namespace tarnport {

// The path CreateFileA is given for a port: a TarnPort.ini mapping when
// there is one, else the system's own device (empty when there is none).
std::string DevicePathFor(const PortId& port);

// The port-list counts: the highest port number that can be reached, never
// less than the highest number mapped in TarnPort.ini.
int CountPorts(PortKind kind);

// TarnPort.ini beside this DLL points ports at other devices without
// touching the system (tests, or a printer on an adapter); its format is in
// ini_parse.h. The file is read afresh on every open and count. A mapped
// port counts: each count is at least its highest mapped number. A mapped
// path must not end in a DOS device name (lpt2, com1, nul): Windows takes
// such a file for that device, whatever folder it is in.
std::wstring IniPath();  // empty when this DLL's folder cannot be had
std::optional<std::string> MappedDevice(std::string_view key);

bool RunningUnderWine();

}  // namespace tarnport
