#include "cli/ports/port_resolve.h"

#include <cctype>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "cli/run/line.h"
#include "cli/net/tcp_address.h"

namespace morvane::cli {

namespace {

// One device under two names (a by-id link and its tty) is one port.
std::string DeviceKey(const std::string& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Equal for two names of one port, so that a hash set finds a port given
// twice among thousands at once. Host names count in any letter case; a
// name and its address are not told apart before the name is resolved.
std::string PortKey(const PortName& port) {
    const std::string kind(1, static_cast<char>('0' + static_cast<int>(port.kind)));
    switch (port.kind) {
        case PortName::Kind::Device: return kind + DeviceKey(port.text);
        case PortName::Kind::Com:
        case PortName::Kind::Usb:
        case PortName::Kind::Lpt: return kind + std::to_string(port.number);
        case PortName::Kind::Tcp: return kind + std::to_string(port.number) + "@" + Lower(port.host);
    }
    return kind + port.text;
}

}  // namespace

std::vector<std::string> MatchNow(const std::vector<Selector>& selectors, const std::vector<PortInfo>& listed) {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    const auto add = [&](const std::string& name) {
        if (seen.insert(DeviceKey(name)).second) names.push_back(name);
    };
    for (const Selector& s : selectors) {
        if (s.kind == Selector::Kind::Glob) {
            for (const std::string& path : ExpandGlob(s.text)) add(path);
            continue;
        }
        if (s.kind == Selector::Kind::Named) {
            // Not every port that opens is listed (Wine's COM links, some
            // virtual serial drivers): the system is asked for it by name.
            if (const std::optional<PortName> port = ParsePortName(s.text); port && PortPresent(*port)) add(s.text);
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
    std::unordered_map<std::string, std::size_t> given;  // a port's key: its place in *ports
    for (std::size_t i = 0; i < ports->size(); ++i) given.emplace(PortKey((*ports)[i]), i);
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
                         "usb:VVVV:PPPP[:SERIAL], usb:VVVV:*, bt:ADDRESS, a glob)";
                return ResolveStatus::BadUsage;
            }
            std::string why;
            if (!CheckPortName(*port, &why)) {
                *error = "port \"" + text + "\": " + why;
                return ResolveStatus::BadUsage;
            }
            // Two jobs on one printer would read each other's replies.
            const auto [earlier, isNew] = given.emplace(PortKey(*port), ports->size());
            if (!isNew) {
                *error = "port \"" + text + "\" is given twice (as \"" + (*ports)[earlier->second].text + "\")";
                return ResolveStatus::BadUsage;
            }
            ports->push_back(*port);
        }
    }
    return ResolveStatus::Ok;
}

}  // namespace morvane::cli
