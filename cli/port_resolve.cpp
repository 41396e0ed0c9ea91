#include "cli/port_resolve.h"

#include <cctype>
#include <filesystem>

#include "cli/line.h"

namespace morvane::cli {

namespace {

bool SameDevice(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const auto ca = std::filesystem::weakly_canonical(a, ec1);
    const auto cb = std::filesystem::weakly_canonical(b, ec2);
    return ec1 || ec2 ? a == b : ca == cb;
}

// Host names in any letter case; a name and its address are not told apart
// before the name is resolved.
bool SameTcpPort(const PortName& a, const PortName& b) {
    const auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    return a.kind == b.kind && a.number == b.number && lower(a.host) == lower(b.host);
}

}  // namespace

bool ResolvePorts(const std::vector<std::string>& names, std::vector<PortName>* ports, std::string* error) {
    for (const std::string& name : names) {
        const std::optional<PortName> port = ParsePortName(name);
        if (!port) {
            *error = "port \"" + name + "\" " + WhyNoPort(name);
            return false;
        }
        std::string why;
        if (!CheckPortName(*port, &why)) {
            *error = "port \"" + name + "\": " + why;
            return false;
        }
        // Two jobs on one printer would read each other's replies.
        for (const PortName& earlier : *ports) {
            const bool same = port->kind == PortName::Kind::Device
                                  ? earlier.kind == port->kind && SameDevice(earlier.text, port->text)
                              : port->kind == PortName::Kind::Tcp
                                  ? SameTcpPort(earlier, *port)
                                  : earlier.kind == port->kind && earlier.number == port->number;
            if (same) {
                *error = "port \"" + name + "\" is given twice (as \"" + earlier.text + "\")";
                return false;
            }
        }
        ports->push_back(*port);
    }
    return true;
}

}  // namespace morvane::cli
