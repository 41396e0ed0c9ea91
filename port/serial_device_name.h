// The name the system is given for a serial port of the port list.
#pragma once
#include <string>
#include <string_view>

namespace morvane {

// "COM10:" and above only resolve in the device namespace ("\\.\COM10", no
// colon); every other name, COM1..COM9 included, goes unchanged.
std::string SerialDeviceName(std::string_view portName);

}  // namespace morvane
