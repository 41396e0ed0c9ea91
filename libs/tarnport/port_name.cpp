#include "libs/tarnport/port_name.h"

#include "port/port_name.h"

namespace tarnport {

std::optional<PortId> ParsePortName(const char* name) {
    if (name == nullptr) return std::nullopt;
    const std::optional<morvane::NumberedPort> port = morvane::ParseNumberedPort(name);
    if (!port) return std::nullopt;
    return PortId{port->kind, port->number, KindPrefix(port->kind) + std::to_string(port->number)};
}

const char* KindPrefix(PortKind kind) { return morvane::PortKindPrefix(kind); }

}  // namespace tarnport
