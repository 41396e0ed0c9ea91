#include "cli/run/line_memory.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/system/platform.h"

namespace morvane::cli {

namespace {

using SystemTime = std::chrono::system_clock;

std::string CanonicalName(const PortName& port) {
    switch (port.kind) {
        case PortName::Kind::Com: return "COM" + std::to_string(port.number);
        case PortName::Kind::Usb: return "USB" + std::to_string(port.number);
        case PortName::Kind::Lpt: return "LPT" + std::to_string(port.number);
        case PortName::Kind::Tcp: return "tcp-" + port.host + "-" + std::to_string(port.number);
        case PortName::Kind::Device: break;
    }
    // One device under two names (a by-id link and ttyUSB0) is one line;
    // a new node under an old name (a new pseudo-terminal) is another.
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(port.text, ec);
    return (ec ? port.text : real.string()) + "@" + DeviceInstance(port.text);
}

// Files of lines that never came back; each is written only after a
// failure, so this runs seldom.
void RemoveStale(const std::string& besides) {
    constexpr auto kStale = std::chrono::hours(1);
    std::error_code ec;
    const auto folder = std::filesystem::path(besides).parent_path();
    const auto now = std::filesystem::file_time_type::clock::now();
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        std::error_code one;
        const auto written = it->last_write_time(one);
        if (!one && it->path().filename().string().rfind("owed", 0) == 0 && now - written > kStale)
            std::filesystem::remove(it->path(), one);
    }
}

std::string PathFor(const PortName& port) {
    // Once a process: a batch of a thousand printers asks for it a thousand times.
    static const std::string folder = StateFolder();
    return folder.empty() ? std::string() : (std::filesystem::path(folder) / OwedFileName(port)).string();
}

}  // namespace

std::string OwedFileName(const PortName& port) {
    const std::string name = CanonicalName(port);
    std::uint32_t hash = 2166136261u;  // FNV-1a
    std::string safe;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        safe += plain ? c : '_';
    }
    char tail[16];
    std::snprintf(tail, sizeof tail, "-%08x", static_cast<unsigned>(hash));
    return "owed" + safe.substr(0, 64) + tail;
}

Recalled RecallOwed(const PortName& port, LineState* state) {
    const std::string path = PathFor(port);
    if (path.empty()) return Recalled::Nothing;
    std::ifstream in(path);
    if (!in) return Recalled::Nothing;
    Recalled recalled = Recalled::QuietOnly;
    const auto steadyNow = SteadyClock::now();
    const auto systemNow = SystemTime::now();
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (line.rfind("quiet ", 0) == 0) {
            std::string word;
            long long untilMs = 0;
            const auto left = fields >> word >> untilMs
                                  ? SystemTime::time_point(std::chrono::milliseconds(untilMs)) - systemNow
                                  : SystemTime::duration::zero();
            if (left > SystemTime::duration::zero() && left <= kQuietKept) {
                state->echo = LineState::Echo::Quiet;
                state->quietUntil = steadyNow + std::chrono::duration_cast<SteadyClock::duration>(left);
            }
            continue;
        }
        unsigned code = 0;
        std::string form;
        long long untilMs = 0;
        if (!(fields >> code >> form >> untilMs) || code > 0xFF || (form != "status" && form != "value")) continue;
        recalled = Recalled::Owed;
        const auto left = SystemTime::time_point(std::chrono::milliseconds(untilMs)) - systemNow;
        if (left <= SystemTime::duration::zero()) continue;
        // A clock set back must not make a line wait for long.
        const auto bounded = std::min<SystemTime::duration>(left, kLateHorizon);
        state->Owe(static_cast<std::uint8_t>(code), form == "value" ? ReplyForm::Value : ReplyForm::Status,
                   steadyNow + std::chrono::duration_cast<SteadyClock::duration>(bounded));
    }
    return recalled;
}

void KeepOwed(const PortName& port, const LineState& state, Recalled recalled) {
    const auto steadyNow = SteadyClock::now();
    // Proof in this job renews the time a quiet line is remembered; the file
    // is written again for that only once half of that time has gone. (Not
    // for network printers: a fleet of them would write a file each.)
    const bool remembers = port.kind != PortName::Kind::Tcp;
    const bool renew = remembers && state.quietShown && state.quietUntil < steadyNow + kQuietKept / 2;
    const TimePoint quietUntil = state.echo != LineState::Echo::Quiet || !remembers ? TimePoint{}
                                 : renew                                            ? steadyNow + kQuietKept
                                                                                    : state.quietUntil;
    const bool keep = state.OwesAny(steadyNow) || quietUntil > steadyNow;
    if (!keep && recalled == Recalled::Nothing) return;
    if (!state.OwesAny(steadyNow) && !renew && recalled != Recalled::Owed &&
        (quietUntil > steadyNow) == (recalled == Recalled::QuietOnly))
        return;  // the file says just this already
    const std::string path = PathFor(port);
    if (path.empty()) return;
    std::error_code ec;
    if (!keep) {
        std::filesystem::remove(path, ec);
        return;
    }
    const auto systemNow = SystemTime::now();
    std::ostringstream text;
    const auto wall = [&](TimePoint t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   (systemNow + std::chrono::duration_cast<SystemTime::duration>(t - steadyNow)).time_since_epoch())
            .count();
    };
    if (quietUntil > steadyNow) text << "quiet " << wall(quietUntil) << "\n";
    for (const LineState::Owed& o : state.owed) {
        if (o.until <= steadyNow) continue;
        const auto until = systemNow + std::chrono::duration_cast<SystemTime::duration>(o.until - steadyNow);
        text << static_cast<unsigned>(o.code) << (o.form == ReplyForm::Value ? " value " : " status ")
             << std::chrono::duration_cast<std::chrono::milliseconds>(until.time_since_epoch()).count() << "\n";
    }
    RemoveStale(path);
    // Whole or not at all: a reader never sees half of it.
    const std::string temporary = path + ".new" + std::to_string(steadyNow.time_since_epoch().count() % 1000000007);
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text.str();
        if (!out.flush()) {
            std::filesystem::remove(temporary, ec);
            return;
        }
    }
    std::filesystem::rename(temporary, path, ec);
    if (ec) std::filesystem::remove(temporary, ec);
}

}  // namespace morvane::cli
