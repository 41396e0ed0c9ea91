#include "cli/run/plan.h"

#include <algorithm>
#include <charconv>

namespace morvane::cli {

namespace {

bool UnknownKey(std::string_view key, std::string* error) {
    *error = "unknown key \"" + std::string(key) + "\" (morvane-cli settings lists them)";
    return false;
}

std::string Join(const std::vector<SettingValue>& values) {
    std::string out;
    for (const SettingValue& v : values) out += (out.empty() ? "" : ", ") + v.name;
    return out;
}

bool ParsePosition(std::string_view text, std::int32_t* number) {
    if (text.empty()) return false;
    long long v = 0;
    const char* begin = text.data() + (text.front() == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || ptr != end || v < kPositionMin || v > kPositionMax) return false;
    *number = static_cast<std::int32_t>(v);
    return true;
}

}  // namespace

bool PlanSet(std::string_view key, std::string_view value, const std::string& origin, Request* request,
             std::string* error) {
    const Setting* setting = FindSetting(key);
    if (setting == nullptr) return UnknownKey(key, error);
    *request = Request{setting, false, std::string(value), origin, {}};
    std::string quoted(1, '"');
    quoted.append(value).push_back('"');
    switch (setting->rule) {
        case ArgumentRule::ReadOnly: *error = std::string(key) + " is read only"; return false;
        case ArgumentRule::Text:
            if (!IsValidUtf8(value)) {
                *error = std::string(key) + ": the text is not valid UTF-8 (texts are read as UTF-8; " +
                         "--codepage only says how they are sent)";
                return false;
            }
            return true;  // its length is checked per printer, once "{n}" is known
        case ArgumentRule::Position:
            if (!ParsePosition(value, &request->argument.number)) {
                *error = "position " + quoted + " is not a whole number from " + std::to_string(kPositionMin) + " to " +
                         std::to_string(kPositionMax);
                return false;
            }
            return true;
        case ArgumentRule::Index:
        case ArgumentRule::IndexPlusOne:
        case ArgumentRule::ChineseMode:
            if (const std::optional<int> index = FindValueIndex(*setting, value)) {
                request->argument.index = *index;
                return true;
            }
            *error = std::string(key) + " " + quoted + " is not one of: " +
                     (setting->values.size() > 10 ? setting->values.front().name + " to " + setting->values.back().name
                                                  : Join(setting->values));
            return false;
    }
    return false;
}

bool PlanGet(std::string_view key, const std::string& origin, Request* request, std::string* error) {
    const Setting* setting = FindSetting(key);
    if (setting == nullptr) return UnknownKey(key, error);
    if (!setting->CanRead()) {
        *error = std::string(key) + " cannot be read (only bt-name, bt-address and bt-password can)";
        return false;
    }
    *request = Request{setting, true, {}, origin, {}};
    return true;
}

void MoveBaudLast(std::vector<Request>* requests) {
    std::stable_partition(requests->begin(), requests->end(),
                          [](const Request& r) { return r.setting->list != ListSetting::BaudRate; });
}

std::string ExpandPlace(std::string_view text, std::size_t place) {
    std::string out;
    const std::string number = std::to_string(place);
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, 3, "{n}") == 0) {
            out += number;
            at += 3;
        } else {
            out += text[at++];
        }
    }
    return out;
}

int BaudOfIndex(int index) {
    const std::vector<SettingValue>& speeds = FindSetting("baud")->values;
    if (index < 0 || index >= static_cast<int>(speeds.size())) return 0;
    return std::stoi(speeds[static_cast<std::size_t>(index)].name);
}

bool PrepareStep(const Request& request, std::size_t place, const CodePage& page, Step* step, std::string* error) {
    *step = Step{};
    step->setting = request.setting;
    step->read = request.read;
    if (request.read) {
        step->built = BuildReadFrame(step->frame, *request.setting);
        return true;
    }
    SetArgument argument = request.argument;
    const Setting& s = *request.setting;
    if (s.rule == ArgumentRule::Text) {
        step->shownValue = ExpandPlace(request.value, place);
        // A message names the key; it quotes a name, never a password.
        const std::string quoted = s.code == kCodePassword ? " (the password)" : " \"" + step->shownValue + "\"";
        if (!EncodeText(page, step->shownValue, &argument.bytes)) {
            *error = std::string(s.key) + quoted + " has a character that code page " + page.name + " cannot hold";
            return false;
        }
        if (argument.bytes.size() > kMaxTextBytes) {
            *error = std::string(s.key) + quoted + " is " + std::to_string(argument.bytes.size()) +
                     " bytes in code page " + page.name + ", more than " + std::to_string(kMaxTextBytes);
            return false;
        }
        step->textBytes = argument.bytes;
    } else if (s.rule == ArgumentRule::Position) {
        step->shownValue = std::to_string(argument.number);
    } else {
        step->shownValue = s.values[static_cast<std::size_t>(argument.index)].name;
        if (s.list == ListSetting::BaudRate) step->newBaud = BaudOfIndex(argument.index);
    }
    step->built = BuildSetFrame(step->frame, s, argument);
    return true;
}

}  // namespace morvane::cli
