#include "cli/doctor/doctor.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/text/console.h"
#include "cli/text/output.h"
#include "cli/doctor/udev_rule.h"

namespace morvane::cli {

namespace {

// The format's version, as in the command's other JSON objects.
constexpr int kFormatVersion = 1;

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

const char* FindingStatusName(Finding::Status status) {
    switch (status) {
        case Finding::Status::Ok: return "ok";
        case Finding::Status::Problem: return "problem";
        case Finding::Status::NotChecked: return "not-checked";
    }
    return "problem";
}

std::string FormatFinding(const Finding& f, bool json) {
    if (json) {
        nlohmann::json object = {{"check", f.check}, {"status", FindingStatusName(f.status)}};
        if (!f.subject.empty()) object["subject"] = f.subject;
        object["text"] = f.text;
        if (!f.fix.empty()) object["fix"] = f.fix;
        object["v"] = kFormatVersion;
        return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    // Process names, printer names and queue names come from the system:
    // no control character of theirs reaches the terminal raw.
    std::string line = Pad(FindingStatusName(f.status), 12) + Pad(f.check, 13) + " ";
    if (!f.subject.empty()) line += EscapeControls(f.subject) + ": ";
    line += EscapeControls(f.text);
    if (!f.fix.empty()) line += "; fix: " + EscapeControls(f.fix);
    return line;
}

int DoctorStatus(const std::vector<Finding>& findings) {
    for (const Finding& f : findings)
        if (f.status == Finding::Status::Problem) return 1;
    return 0;
}

int RunDoctor(const MachineCheckOptions& options, const std::string& udevRule, bool json) {
    if (!udevRule.empty()) {
        std::string error;
        const std::string rule = UdevRule(udevRule, kUdevRuleGroup, &error);
        if (rule.empty()) {
            TheConsole().Err("morvane-cli: " + error);
            return kExitUsage;
        }
        for (std::size_t at = 0, end; at < rule.size(); at = end + 1) {
            end = std::min(rule.find('\n', at), rule.size());
            TheConsole().Out(rule.substr(at, end - at));
        }
        return TheConsole().Failed() ? kExitOutputFailed : kExitDone;
    }
    const std::vector<Finding> findings = CheckMachine(options);
    for (const Finding& f : findings) TheConsole().Out(FormatFinding(f, json));
    return TheConsole().Failed() ? kExitOutputFailed : DoctorStatus(findings);
}

}  // namespace morvane::cli
