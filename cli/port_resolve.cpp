#include "cli/port_resolve.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/line.h"
#include "cli/tcp_address.h"

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
bool SameHost(std::string a, std::string b) {
    const auto lower = [](std::string& s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    lower(a);
    lower(b);
    return a == b;
}

bool SamePort(const PortName& a, const PortName& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case PortName::Kind::Device: return SameDevice(a.text, b.text);
        case PortName::Kind::Com:
        case PortName::Kind::Usb:
        case PortName::Kind::Lpt: return a.number == b.number;
        case PortName::Kind::Tcp: return a.number == b.number && SameHost(a.host, b.host);
        default: return a.text == b.text;
    }
}

}  // namespace

std::vector<std::string> MatchNow(const std::vector<Selector>& selectors, const std::vector<PortInfo>& listed) {
    std::vector<std::string> names;
    // One device under two names (a by-id link and its tty) is one port.
    const auto add = [&](const std::string& name) {
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& n) { return n == name || SameDevice(n, name); }))
            names.push_back(name);
    };
    for (const Selector& s : selectors) {
        if (s.kind == Selector::Kind::Glob) {
            for (const std::string& path : ExpandGlob(s.text)) add(path);
            continue;
        }
        for (const PortInfo& port : listed)
            if (Matches(s, port)) add(port.name);
    }
    return names;
}

ResolveStatus ResolvePorts(const std::vector<std::string>& names, std::vector<PortName>* ports,
                           std::vector<Resolution>* resolutions, std::string* error) {
    std::vector<PortInfo> listed;
    bool haveListed = false;
    for (const std::string& name : names) {
        std::vector<std::string> expanded{name};
        std::string bad;
        if (const std::optional<Selector> selector = ParseSelector(name, &bad)) {
            if (!haveListed && selector->kind != Selector::Kind::Glob) {
                listed = ListPorts();
                haveListed = true;
            }
            expanded = MatchNow({*selector}, listed);
            if (resolutions != nullptr) resolutions->push_back({name, expanded});
            if (expanded.empty()) {
                *error = "selector \"" + name + "\" matches no port (morvane-cli ports lists them)";
                return ResolveStatus::NoMatch;
            }
        } else if (!bad.empty()) {
            *error = bad;
            return ResolveStatus::BadUsage;
        }
        for (const std::string& text : expanded) {
            const std::optional<PortName> port = ParsePortName(text);
            if (!port && LooksLikeTcp(text)) {
                *error = "port \"" + text + "\" " + WhyNoPort(text);
                return ResolveStatus::BadUsage;
            }
            if (!port) {
                *error = "port \"" + text +
                         "\" names no port (a device path, COMn, USBn:, LPTn, tcp://HOST[:PORT], or a selector: " +
                         "usb:VVVV:PPPP[:SERIAL], bt:ADDRESS, a glob)";
                return ResolveStatus::BadUsage;
            }
            std::string why;
            if (!CheckPortName(*port, &why)) {
                *error = "port \"" + text + "\": " + why;
                return ResolveStatus::BadUsage;
            }
            // Two jobs on one printer would read each other's replies.
            const auto earlier = std::find_if(ports->begin(), ports->end(),
                                              [&](const PortName& other) { return SamePort(other, *port); });
            if (earlier != ports->end()) {
                *error = "port \"" + text + "\" is given twice (as \"" + earlier->text + "\")";
                return ResolveStatus::BadUsage;
            }
            ports->push_back(*port);
        }
    }
    return ResolveStatus::Ok;
}

}  // namespace morvane::cli
