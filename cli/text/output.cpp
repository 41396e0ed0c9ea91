#include "cli/text/output.h"

#include "cli/text/secret_hex.h"

#include <cstdio>
#include <string_view>
#include <nlohmann/json.hpp>

#include "protocol/hex.h"
#include "protocol/settings_catalogue.h"

namespace morvane::cli {

namespace {

using nlohmann::json;

// Every object says which format it is in, so that scripts can tell.
constexpr int kFormatVersion = 1;

std::string Dump(json object) {
    object["v"] = kFormatVersion;
    // Texts are UTF-8 already; anything that slipped through is replaced.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A value with blanks, or none at all, is shown in quotes; control
// characters never reach the terminal raw.
std::string Shown(const std::string& value) {
    const std::string text = EscapeControls(value);
    if (!text.empty() && text.find(' ') == std::string::npos) return text;
    return "\"" + text + "\"";
}

// A pairing password never reaches a human line, which ends up on screens
// and in logs: its value and any message that quotes it are masked. The
// JSON records keep it for the scripts that need it.
constexpr std::string_view kSecretKey = "bt-password";
constexpr std::string_view kMasked = "********";

std::string MaskedQuotes(const std::string& value, std::string text) {
    if (value.empty()) return text;
    // Appended, not added: GCC 12 warns of an overlap in "\"" + value.
    std::string quoted(1, '"');
    quoted.append(value).push_back('"');
    std::string masked(1, '"');
    masked.append(kMasked).push_back('"');
    for (std::size_t at = text.find(quoted); at != std::string::npos; at = text.find(quoted, at + masked.size()))
        text.replace(at, quoted.size(), masked);
    return text;
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

json RecordObject(const Record& r) {
    json j = {{"port", r.port}, {"key", r.key}, {"value", r.value}, {"result", ResultName(r.result)}, {"ms", r.ms}};
    if (r.read && r.result == Result::Ok) j["hex"] = r.hex;
    if (r.lineBaud != 0) j["line_baud"] = r.lineBaud;
    if (r.mayListenAt != 0) j["may_listen_at"] = r.mayListenAt;
    if (r.unchanged) j["unchanged"] = true;
    if (!r.detail.empty()) j["detail"] = r.detail;
    return j;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char hex[8];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0x1B) {
            out += "\\e";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            // A C1 control in UTF-8 (U+0080..U+009F): CSI among them.
            std::snprintf(hex, sizeof hex, "\\u%04X", next);
            out += hex;
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string FormatRecord(const Record& r, bool json) {
    if (json) return Dump(RecordObject(r));
    const bool secret = r.key == kSecretKey;
    std::string line = Pad(EscapeControls(r.port), 12) + "  " + Pad(r.key, 16) + "  " +
                       Pad(secret ? std::string(kMasked) : Shown(r.value), 20) + "  " + Pad(ResultName(r.result), 9);
    if (r.result != Result::NotSent) line += "  " + std::to_string(r.ms) + " ms";
    if (r.lineBaud != 0) line += "  line now at " + std::to_string(r.lineBaud) + " baud";
    if (!r.detail.empty()) line += "  (" + EscapeControls(secret ? MaskedQuotes(r.value, r.detail) : r.detail) + ")";
    return line;
}

std::string FormatProbe(const Record& r, bool json) {
    if (json) return Dump(RecordObject(r));
    if (r.result != Result::Ok)
        return Pad(EscapeControls(r.port), 12) + "  no printer  " + ResultName(r.result) + "  " + std::to_string(r.ms) +
               " ms  (" + EscapeControls(r.detail) + ")";
    const std::string speed = r.lineBaud != 0 ? "at " + std::to_string(r.lineBaud) + " baud" : "(no line speed)";
    return Pad(EscapeControls(r.port), 12) + "  printer " + speed + ", address " + Shown(r.value) + "  " +
           std::to_string(r.ms) + " ms";
}

std::string FormatDryRun(const std::string& port, const Step& step, bool json) {
    const auto length = static_cast<std::size_t>(step.built.length);
    const std::string key(step.setting->key);
    if (json)
        return Dump(
            {{"port", port}, {"key", key}, {"value", step.shownValue}, {"frame", HexBytes(step.frame, length)}});
    const bool secret = key == kSecretKey && !step.read;
    return Pad(port, 12) + "  " + Pad(key, 16) + "  " +
           Pad(secret ? std::string(kMasked) : Shown(step.shownValue), 20) + "  " +
           HexMaskingPasswords(step.frame, length);
}

std::string FormatPort(const PortInfo& port, bool json) {
    const PortIdentity& id = port.identity;
    if (json) {
        nlohmann::json j = {{"port", port.name},
                            {"path", port.path},
                            {"kind", PortClassName(port.kind)},
                            {"access", PortAccessName(port.access)},
                            {"description", port.description},
                            {"serial", port.serial}};
        if (!port.group.empty()) j["group"] = port.group;
        ForEachIdentityField(id, [&](const char* name, const std::string& value) { j[name] = value; });
        return Dump(j);
    }
    std::string access = PortAccessName(port.access);
    if (!port.group.empty()) access += " (group " + port.group + ")";
    std::string who;
    const auto add = [&](const std::string& text) {
        if (!text.empty()) who += (who.empty() ? "" : "  ") + text;
    };
    if (!id.vendorId.empty()) add(id.vendorId + ":" + id.productId);
    if (!id.serial.empty()) add("serial " + id.serial);
    if (!id.btAddress.empty()) add("address " + id.btAddress);
    add(port.description);
    if (!id.driver.empty()) add("driver " + id.driver);
    if (!id.byId.empty()) add(id.byId);
    const std::string path = port.path.find(port.name) == std::string::npos ? " " + port.path : "";
    return Pad(EscapeControls(port.name + path), 16) + "  " + Pad(PortClassName(port.kind), 11) + "  " +
           Pad(access, 13) + "  " + EscapeControls(who);
}

std::string FormatResolution(const Resolution& r, bool json) {
    if (json) return Dump({{"selector", r.selector}, {"ports", r.ports}});
    std::string line = EscapeControls(r.selector) + "  ->";
    if (r.ports.empty()) line += "  (no port)";
    for (const std::string& p : r.ports) line += "  " + EscapeControls(p);
    return line;
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

int ExitStatusOf(const std::array<std::size_t, Ledger::kResults>& counts) {
    const auto count = [&](Result r) { return counts[static_cast<std::size_t>(r)]; };
    if (count(Result::NoAnswer) + count(Result::Error) + count(Result::NotSent) > 0) return kExitFailed;
    return count(Result::Refused) > 0 ? kExitRefused : kExitDone;
}

std::vector<std::string> FormatSummary(std::size_t printers, const std::array<std::size_t, Ledger::kResults>& counts,
                                       const std::vector<PrinterSpeed>& speeds) {
    std::size_t keys = 0;
    for (std::size_t n : counts) keys += n;
    std::string line = "summary: " + std::to_string(printers) + (printers == 1 ? " printer, " : " printers, ") +
                       std::to_string(keys) + (keys == 1 ? " key:" : " keys:");
    for (Result r : {Result::Ok, Result::Refused, Result::NoAnswer, Result::Error, Result::NotSent})
        line += std::string(r == Result::Ok ? " " : ", ") + std::to_string(counts[static_cast<std::size_t>(r)]) + " " +
                ResultName(r);
    std::vector<std::string> lines{line};
    for (const PrinterSpeed& s : speeds) {
        if (s.end.mayListenAt != 0)
            lines.push_back(s.port + ": the printer may now listen at " + std::to_string(s.end.mayListenAt) +
                            " baud (its answer to the speed change did not come): morvane-cli probe -p " + s.port +
                            " finds it");
        else if (s.end.listensAt != 0 && s.end.cutOff)
            lines.push_back(s.port + ": the job was cut off; the printer now listens at " +
                            std::to_string(s.end.listensAt) + " baud");
        else if (s.end.listensAt != 0)
            lines.push_back(s.port + ": the printer now listens at " + std::to_string(s.end.listensAt) + " baud");
    }
    return lines;
}

}  // namespace morvane::cli
