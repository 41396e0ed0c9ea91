#include "port/serial_device_name.h"

namespace morvane {

std::string SerialDeviceName(std::string_view portName) {
    constexpr std::string_view kCom = "COM";
    std::string_view rest = portName;
    if (rest.substr(0, kCom.size()) != kCom) return std::string(portName);
    rest.remove_prefix(kCom.size());
    if (!rest.empty() && rest.back() == ':') rest.remove_suffix(1);
    if (rest.empty() || rest.size() > 5) return std::string(portName);
    unsigned number = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return std::string(portName);
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number < 10) return std::string(portName);
    return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace morvane
