#include "cli/output.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "protocol/hex.h"
#include "protocol/settings_catalogue.h"

namespace morvane::cli {

namespace {

using nlohmann::json;

std::string Dump(const json& object) {
    // Texts are UTF-8 already; anything that slipped through is replaced.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A value with blanks, or none at all, is shown in quotes.
std::string Shown(const std::string& value) {
    if (!value.empty() && value.find_first_of(" \t") == std::string::npos) return value;
    return "\"" + value + "\"";
}

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string ValuesText(const Setting& s) {
    switch (s.rule) {
        case ArgumentRule::Text: return "text of 0 to 20 bytes";
        case ArgumentRule::ReadOnly: return "read only";
        case ArgumentRule::Position:
            return "a whole number from " + std::to_string(kPositionMin) + " to " + std::to_string(kPositionMax);
        default: break;
    }
    if (s.values.size() > 10) return s.values.front().name + " to " + s.values.back().name;
    std::string out;
    for (const SettingValue& v : s.values) out += (out.empty() ? "" : " ") + v.name;
    if (s.list == ListSetting::PaperWidth) out += " (mm)";
    return out;
}

}  // namespace

std::string FormatOutcome(const Outcome& o, bool json) {
    if (json) {
        nlohmann::json j = {
            {"port", o.port}, {"key", o.key}, {"value", o.value}, {"result", ResultName(o.result)}, {"ms", o.ms}};
        if (o.read && o.result == Result::Ok) j["hex"] = o.hex;
        if (o.switchedToBaud != 0) j["line_baud"] = o.switchedToBaud;
        if (!o.detail.empty()) j["detail"] = o.detail;
        return Dump(j);
    }
    std::string line = Pad(o.port, 12) + "  " + Pad(o.key, 16) + "  " + Pad(Shown(o.value), 20) + "  " +
                       Pad(ResultName(o.result), 9) + "  " + std::to_string(o.ms) + " ms";
    if (o.switchedToBaud != 0) line += "  line now at " + std::to_string(o.switchedToBaud) + " baud";
    if (!o.detail.empty()) line += "  (" + o.detail + ")";
    return line;
}

std::string FormatProbe(const Outcome& o, bool json) {
    if (json) {
        nlohmann::json j = {
            {"port", o.port}, {"key", o.key}, {"value", o.value}, {"result", ResultName(o.result)}, {"ms", o.ms}};
        if (o.result == Result::Ok) {
            j["hex"] = o.hex;
            if (o.baud != 0) j["baud"] = o.baud;
        }
        if (!o.detail.empty()) j["detail"] = o.detail;
        return Dump(j);
    }
    if (o.result != Result::Ok)
        return Pad(o.port, 12) + "  no printer  " + ResultName(o.result) + "  " + std::to_string(o.ms) + " ms  (" +
               o.detail + ")";
    const std::string speed = o.baud != 0 ? "at " + std::to_string(o.baud) + " baud" : "(no line speed)";
    return Pad(o.port, 12) + "  printer " + speed + ", address " + Shown(o.value) + "  " + std::to_string(o.ms) + " ms";
}

std::string FormatDryRun(const std::string& port, const Step& step, bool json) {
    const std::string frame = HexBytes(step.frame, static_cast<std::size_t>(step.built.length));
    const std::string key(step.setting->key);
    if (json) return Dump({{"port", port}, {"key", key}, {"value", step.shownValue}, {"frame", frame}});
    return Pad(port, 12) + "  " + Pad(key, 16) + "  " + Pad(Shown(step.shownValue), 20) + "  " + frame;
}

std::string FormatPort(const PortInfo& port, bool json) {
    if (json) return Dump({{"port", port.name}, {"description", port.description}, {"serial", port.serial}});
    return Pad(port.name, 16) + "  " + port.description;
}

std::vector<std::string> FormatSettings(bool json) {
    std::vector<std::string> lines;
    for (const Setting& s : SettingsCatalogue()) {
        const std::string access = s.CanRead() && s.CanSet() ? "get set" : s.CanRead() ? "get" : "set";
        if (json) {
            nlohmann::json values = nlohmann::json::array();
            for (const SettingValue& v : s.values) values.push_back(v.name);
            lines.push_back(Dump({{"key", std::string(s.key)},
                                  {"description", std::string(s.description)},
                                  {"read", s.CanRead()},
                                  {"set", s.CanSet()},
                                  {"values", values},
                                  {"accepts", ValuesText(s)}}));
        } else {
            lines.push_back(Pad(std::string(s.key), 17) + Pad(access, 9) + ValuesText(s) + "  -- " +
                            std::string(s.description));
        }
    }
    return lines;
}

int ExitStatusOf(const std::vector<Outcome>& outcomes) {
    int status = 0;
    for (const Outcome& o : outcomes) {
        if (o.result == Result::NoAnswer || o.result == Result::Error) return 3;
        if (o.result == Result::Refused) status = 1;
    }
    return status;
}

}  // namespace morvane::cli
