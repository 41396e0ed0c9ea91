#include "port/serial_device_name.h"

#include "port/port_name.h"

namespace morvane {

namespace {
// The first COM number that the plain name no longer reaches.
constexpr int kFirstNamespaceOnly = 10;
}  // namespace

std::string SerialDeviceName(std::string_view portName) {
    const std::optional<NumberedPort> port = ParseNumberedPort(portName);
    if (!port || port->kind != PortKind::Com || port->number < kFirstNamespaceOnly) return std::string(portName);
    return "\\\\.\\COM" + std::to_string(port->number);
}

}  // namespace morvane
