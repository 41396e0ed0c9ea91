#pragma once
#include <string_view>

namespace morvane {

// A port is serial when its port-list text contains "COM" (case-sensitive);
// everything else, the empty text included, goes to the port library.
inline bool IsSerialPortName(std::string_view name) { return name.find("COM") != std::string_view::npos; }

}  // namespace morvane
