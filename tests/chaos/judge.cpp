#include "judge.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace chaos {

namespace {

using nlohmann::json;
using vprinter::ChaosEntry;

// Scheduling between the command's send and the printer's receipt.
constexpr std::int64_t kClockSlackUs = 1000;
// Per frame past the time-out: a settle of a few characters, and what a
// loaded machine (a few dozen commands and their printers on two cores)
// takes to schedule a process.
constexpr long long kFrameSlackMs = 100;

std::string Hex(const std::vector<std::uint8_t>& bytes) { return vprinter::HexString(bytes); }

bool IsReadFrame(const std::vector<std::uint8_t>& f) {
    if (f.size() == 3) return f[2] == 0x74;
    return f.size() == 4 && (f[2] == 0x72 || f[2] == 0x77) && f[3] == 0;
}

// The printer's own answer on the line within the time-out.
bool InTime(const ChaosEntry& e, int timeoutMs) {
    return !e.answer.empty() && e.writtenUs >= 0 && e.writtenUs - e.rxUs <= timeoutMs * 1000LL + kClockSlackUs;
}
bool Refusal(const ChaosEntry& e) { return e.answer.size() == 4 && e.answer[3] == 0xFF; }
bool Prompt(const ChaosEntry& e, int timeoutMs) {
    return (e.fate == "prompt" || e.fate == "pieces" || e.fate == "refused") && InTime(e, timeoutMs);
}

// One record's frames: its own (with the printer's entry, when it took the
// frame) in the order they left.
struct Frame {
    std::vector<std::uint8_t> bytes;
    const ChaosEntry* entry = nullptr;
};

int WorstStatus(const std::vector<std::string>& results) {
    int status = 0;
    for (const std::string& r : results) {
        if (r == "refused") status = std::max(status, 1);
        if (r == "no-answer" || r == "error" || r == "not-sent") status = 3;
    }
    return status;
}

}  // namespace

void Tally::Add(const Tally& t) {
    keys += t.keys;
    ok += t.ok;
    refused += t.refused;
    noAnswer += t.noAnswer;
    error += t.error;
    notSent += t.notSent;
    falseOk += t.falseOk;
    falseRefused += t.falseRefused;
    prompt += t.prompt;
    missed += t.missed;
    otherViolations += t.otherViolations;
    worstBoundShare = std::max(worstBoundShare, t.worstBoundShare);
}

bool SentFrame::Matches(const std::vector<std::uint8_t>& frame) const {
    if (frame.size() != bytes.size()) return false;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (!masked[i] && bytes[i] != frame[i]) return false;
    return true;
}

std::vector<SentFrame> SentFrames(const std::string& trace, const std::string& port) {
    std::vector<SentFrame> frames;
    std::istringstream in(trace);
    const std::string plain = "] " + port + " tx ";
    const std::string check = "] " + port + " tx (a check: does the line echo?) ";
    for (std::string line; std::getline(in, line);) {
        const bool isCheck = line.find(check) != std::string::npos;
        const std::size_t at = line.find(isCheck ? check : plain);
        if (line.empty() || line[0] != '[' || at == std::string::npos) continue;
        SentFrame f;
        f.check = isCheck;
        std::istringstream hex(line.substr(at + (isCheck ? check : plain).size()));
        for (std::string byte; hex >> byte;) {
            f.masked.push_back(byte == "**");
            f.bytes.push_back(byte == "**" ? 0 : static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
        }
        frames.push_back(f);
    }
    return frames;
}

Verdict Judge(const Job& job, const CommandRun& run, const std::vector<LineAccount>& lines, int timeoutMs,
              long long keySlackMs) {
    Verdict v;
    // Ended by the signal before it could watch for one: nothing was sent.
    if (run.killedBeforeStart) {
        for (const LineAccount& line : lines)
            if (!line.entries.empty())
                v.violations.push_back(line.port + ": frames left from a command killed at its start");
        v.tally.otherViolations += v.violations.size();
        return v;
    }
    const auto violate = [&](const std::string& what, std::uint64_t* counter = nullptr) {
        v.violations.push_back(what);
        ++*(counter != nullptr ? counter : &v.tally.otherViolations);
    };
    std::map<std::string, std::vector<json>> byPort;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
        try {
            const json j = json::parse(line);
            byPort[j.at("port").get<std::string>()].push_back(j);
        } catch (const std::exception&) {
            violate("a line that is no record: " + line);
        }
    }
    const std::vector<Key> keys = RecordedKeys(job);
    std::vector<std::string> results;
    for (const LineAccount& line : lines) {
        const std::vector<json>& records = byPort[line.port];
        const std::string where = line.port + " (" + vprinter::ChaosLineName(line.kind) + " line)";
        if (records.size() != keys.size()) {
            violate(where + ": " + std::to_string(records.size()) + " records for " + std::to_string(keys.size()) +
                    " keys");
            continue;
        }
        // The frames that left, matched one for one with those the printer took.
        const std::vector<SentFrame> sent = SentFrames(run.err, line.port);
        if (line.entries.size() > sent.size()) violate(where + ": the printer took more frames than left");
        for (std::size_t k = 0; k < std::min(sent.size(), line.entries.size()); ++k)
            if (!sent[k].Matches(line.entries[k].frame)) {
                violate(where + ": frame " + std::to_string(k) + " left as " + Hex(sent[k].bytes) + " but came as " +
                        Hex(line.entries[k].frame));
                break;
            }
        std::size_t next = 0;  // into sent
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const Key& key = keys[i];
            const json& r = records[i];
            const std::string result = r.value("result", "");
            const std::string what =
                where + " " + key.key + "=" + key.value + ": " + result + " (" + r.value("detail", "") + ")";
            results.push_back(result);
            ++v.tally.keys;
            if (r.value("key", "") != key.key)
                violate(where + ": record " + std::to_string(i) + " is for " + r.value("key", "") + ", not " + key.key);
            // This key's frames: those with its code, and the checks among them.
            std::vector<Frame> frames;
            std::size_t checks = 0;
            bool checkAnswered = false;  // a check drew a prompt answer
            while (next < sent.size() &&
                   (sent[next].check || (sent[next].bytes.size() > 2 && sent[next].bytes[2] == key.code))) {
                checks += sent[next].check ? 1 : 0;
                if (sent[next].check && next < line.entries.size())
                    checkAnswered = checkAnswered || Prompt(line.entries[next], timeoutMs);
                // The printer's own copy of the frame: the trace masks a password.
                if (!sent[next].check)
                    frames.push_back({next < line.entries.size() ? line.entries[next].frame : sent[next].bytes,
                                      next < line.entries.size() ? &line.entries[next] : nullptr});
                ++next;
            }
            const long long ms = r.value("ms", 0LL);
            // Each frame its time-out, a check's included.
            const long long bound =
                static_cast<long long>(std::max<std::size_t>(frames.size() + checks, 1)) * (timeoutMs + kFrameSlackMs) +
                keySlackMs;
            v.tally.worstBoundShare =
                std::max(v.tally.worstBoundShare, static_cast<double>(ms) / static_cast<double>(bound));
            if (ms > bound)
                violate(what + ": took " + std::to_string(ms) + " ms, over its bound of " + std::to_string(bound));

            // The frame that decides, and the read-back or the first read.
            const Frame* set = nullptr;
            const Frame* read = nullptr;
            const Frame* before = nullptr;  // --skip-same: the read before the set
            for (const Frame& f : frames) {
                if (key.read || !IsReadFrame(f.bytes)) {
                    (key.read ? read : set) = &f;
                } else {
                    (set == nullptr ? before : read) = &f;
                }
            }
            const Frame* decisive = key.read ? read : set != nullptr ? set : before;
            std::string account;
            for (const Frame& f : frames) {
                account += " | " + Hex(f.bytes) + ": ";
                if (f.entry == nullptr) {
                    account += "never taken";
                    continue;
                }
                account += f.entry->fate + (f.entry->applied ? " stored" : "") + ", answer " + Hex(f.entry->answer);
                if (f.entry->writtenUs >= 0)
                    account += " out after " + std::to_string((f.entry->writtenUs - f.entry->rxUs) / 1000) + " ms";
            }
            const auto answered = [&](const Frame* f) {
                return f != nullptr && f->entry != nullptr && InTime(*f->entry, timeoutMs);
            };
            // An answer that is its frame's own bytes is told from an echo only
            // by the check's answer: without one it stays undecided.
            const bool undecided = checks > 0 && !checkAnswered;
            if (decisive != nullptr && decisive->entry != nullptr && Prompt(*decisive->entry, timeoutMs) && !undecided)
                ++v.tally.prompt;

            if (result == "ok") {
                ++v.tally.ok;
                bool legit = true;
                if (key.read) {
                    legit = answered(read) &&
                            r.value("hex", "") ==
                                Hex(std::vector<std::uint8_t>(read->entry->value.begin(), read->entry->value.end()));
                } else if (set == nullptr) {
                    // Left as it was: the read found the text already there.
                    legit = r.value("unchanged", false) && answered(before) && before->entry->value == key.value;
                } else {
                    legit = answered(set) && !Refusal(*set->entry);
                    // The read-back, unless a stop came first (the record says so).
                    if (job.verify && key.text &&
                        (read != nullptr || r.value("detail", "").find("not read back") == std::string::npos))
                        legit = legit && answered(read) && read->entry->value == key.value;
                }
                if (!legit) violate("false ok: " + what + account, &v.tally.falseOk);
            } else if (result == "refused") {
                ++v.tally.refused;
                bool legit = answered(set) && Refusal(*set->entry);
                if (!legit && job.verify && key.text && answered(set) && answered(read))
                    legit = read->entry->value != key.value;  // read back another text
                if (!legit) violate("false refused: " + what + account, &v.tally.falseRefused);
            } else if (result == "not-sent") {
                ++v.tally.notSent;
                // --skip-same may have read the text first; nothing was set.
                if (set != nullptr || (!frames.empty() && !job.skipSame))
                    violate("a frame left for a key not sent: " + what);
                if (ms != 0 && frames.empty()) violate("a key not sent took time: " + what);
            } else if (result == "no-answer" || result == "error") {
                ++(result == "error" ? v.tally.error : v.tally.noAnswer);
                if (result == "no-answer" && decisive != nullptr && decisive->entry != nullptr &&
                    Prompt(*decisive->entry, timeoutMs) && !undecided && !(job.verify && key.text && read != nullptr)) {
                    ++v.tally.missed;
                    v.missed.push_back(what + account);
                }
            } else {
                violate("an unknown result: " + what);
            }
        }
        if (next < sent.size()) violate(where + ": frames left that belong to no key, from " + Hex(sent[next].bytes));
    }
    const int worst = WorstStatus(results);
    if (run.status != worst && !(run.signalled && run.status == 130))
        violate("exit status " + std::to_string(run.status) + ", the worst result says " + std::to_string(worst));
    return v;
}

}  // namespace chaos
