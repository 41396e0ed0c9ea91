#include "chaos.h"

#include <algorithm>
#include <cstdio>

namespace vprinter {

namespace {

constexpr std::uint8_t kHeader0 = 0x1D;
constexpr std::uint8_t kHeader1 = 0x46;
constexpr std::uint8_t kXon = 0x11;
constexpr std::uint8_t kRefused = 0xFF;
// Codes no setting uses: what a flood's answers name.
constexpr int kFloodCodes = 0x10;
constexpr int kMaxLateExtraMs = 1500;

bool IsRead(const Bytes& frame) {
    if (frame.size() == 3) return frame[2] == 0x74;
    return frame.size() == 4 && (frame[2] == 0x72 || frame[2] == 0x77) && frame[3] == 0;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        char buf[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

const char* ChaosLineName(ChaosLine line) {
    switch (line) {
        case ChaosLine::Plain: return "plain";
        case ChaosLine::Echo: return "echo";
        case ChaosLine::Loopback: return "loopback";
        case ChaosLine::Copy: return "copy";
    }
    return "?";
}

Chaos::Chaos(std::uint64_t seed, int timeoutMs) : rng_(seed), timeoutMs_(std::max(timeoutMs, 10)) {
    const int draw = Uniform(1, 100);
    line_ = draw <= 82   ? ChaosLine::Plain
            : draw <= 92 ? ChaosLine::Echo
            : draw <= 96 ? ChaosLine::Copy
                         : ChaosLine::Loopback;
}

int Chaos::Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

bool Chaos::Chance(int percent) { return Uniform(1, 100) <= percent; }

// 2 to 12 bytes that answer nothing: never 1D (no header can start in
// them), never 0x11 first, never 4 of them, and never a whole value reply
// of the dialog's reading by themselves.
Bytes Chaos::Junk(const Bytes& frame) {
    const bool read = IsRead(frame);
    for (;;) {
        const int size = Uniform(2, 12);
        if (size == 4) continue;
        Bytes junk;
        for (int i = 0; i < size; ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(Uniform(0, 255));
            if (b == kHeader0 || (i == 0 && b == kXon)) b = 'j';
            junk.push_back(b);
        }
        if (read && size >= 4 && static_cast<std::size_t>(4 + junk[3]) == junk.size()) continue;
        return junk;
    }
}

ChaosPlan Chaos::Decide(const Bytes& frame, Settings* settings, ChaosEntry* entry) {
    using std::chrono::milliseconds;
    ChaosPlan plan;
    ShapedReply& shaped = plan.shaped;
    const bool read = IsRead(frame);
    const int t = timeoutMs_;
    const auto prompt = [&] { return Offset(milliseconds(Uniform(0, t / 5))); };

    if (line_ == ChaosLine::Loopback) {
        entry->frame = frame;
        entry->fate = "loopback";
        plan.lastOwnPiece = 0;
        return plan;
    }
    // The answer is worked out on a copy: whether the setting is stored is
    // the fate's to say.
    Settings after = *settings;
    const Answer answer = AnswerFrame(frame, &after);
    Bytes own = answer.bytes;
    bool applied = true;

    static const struct {
        const char* fate;
        int weight;
    } kFates[] = {{"prompt", 50}, {"refused", 8}, {"silent", 6}, {"late", 7}, {"flood", 5},
                  {"junk", 5},    {"cut", 5},     {"pieces", 5}, {"copy", 3}, {"hangup", 1}};
    int total = 0;
    for (const auto& f : kFates) total += f.weight;
    int draw = Uniform(1, total);
    std::string fate = "prompt";
    for (const auto& f : kFates) {
        if ((draw -= f.weight) <= 0) {
            fate = f.fate;
            break;
        }
    }
    // What a fate means for a frame that cannot take it.
    if (fate == "refused" && read) fate = "prompt";
    if (fate == "copy" && (read || frame.size() != 4)) fate = "prompt";
    if (fate == "prompt" && line_ == ChaosLine::Copy && !read && frame.size() == 4) fate = "copy";
    if (own.empty()) fate = "silent";  // nothing to say (never, for frames the printer reads whole)

    std::vector<Piece>& pieces = shaped.pieces;
    std::size_t ownPiece = SIZE_MAX;
    std::size_t firstOwn = SIZE_MAX;
    const auto send = [&](Bytes bytes, Offset at, bool isOwn) {
        if (isOwn) ownPiece = pieces.size();
        pieces.push_back({std::move(bytes), at});
    };

    if (fate == "prompt") {
        send(own, prompt(), true);
    } else if (fate == "refused") {
        own[3] = kRefused;
        applied = false;
        send(own, prompt(), true);
    } else if (fate == "silent") {
        applied = Chance(50);
        own.clear();
    } else if (fate == "late") {
        if (read) fate = "late-value";
        if (!read && Chance(10)) {
            own[3] = kRefused;
            applied = false;
        }
        const int late = t + std::max(40, t / 3) + Uniform(0, kMaxLateExtraMs);
        send(own, Offset(milliseconds(late)), true);
    } else if (fate == "flood") {
        const int lastMs = Uniform(10, 2 * t);
        const bool answered = Chance(70);
        const int ownAt = Uniform(0, t / 5);
        for (int ms = 0; ms <= lastMs; ++ms) {
            if (answered && ms == ownAt) send(own, Offset(milliseconds(ms)), true);
            Bytes burst;
            for (int k = 0; k < 8; ++k) {
                const auto code = static_cast<std::uint8_t>(Uniform(0, kFloodCodes - 1));
                burst.insert(burst.end(), {kHeader0, kHeader1, code, 0x00});
            }
            send(std::move(burst), Offset(milliseconds(ms)), false);
        }
        if (!answered) own.clear();
    } else if (fate == "junk") {
        const Offset at = prompt();
        Bytes junk = Junk(frame);
        if (Chance(70)) {
            const std::size_t junkSize = junk.size();
            junk.insert(junk.end(), own.begin(), own.end());
            send(std::move(junk), at, true);
            (void)junkSize;
        } else {
            send(std::move(junk), at, false);
            own.clear();
        }
    } else if (fate == "cut") {
        Bytes part(own.begin(), own.begin() + Uniform(1, static_cast<int>(own.size()) - 1));
        send(std::move(part), prompt(), false);
        own.clear();
    } else if (fate == "pieces") {
        Offset at = Offset(milliseconds(Uniform(0, t / 10)));
        firstOwn = pieces.size();
        for (std::size_t k = 0; k < own.size();) {
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(Uniform(1, 2)), own.size() - k);
            send(Bytes(own.begin() + static_cast<long>(k), own.begin() + static_cast<long>(k + n)), at,
                 k + n == own.size());
            k += n;
            at += Offset(milliseconds(Uniform(1, std::max(1, t / 40))));
        }
    } else if (fate == "copy") {
        own = frame;
        send(own, prompt(), true);
    } else if (fate == "hangup") {
        applied = Chance(50);
        own.clear();
        shaped.hangup = true;
        shaped.hangupAt = Offset(milliseconds(Uniform(0, t / 2)));
        shaped.reopenAfterMs = Uniform(50, 200);
    }

    // Pieces go out in time order; the own answer's last piece is found again.
    std::vector<std::size_t> order(pieces.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return pieces[a].at < pieces[b].at; });
    std::vector<Piece> sorted;
    plan.lastOwnPiece = pieces.size();
    plan.firstOwnPiece = pieces.size();
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == ownPiece) plan.lastOwnPiece = i;
        if (order[i] == (firstOwn == SIZE_MAX ? ownPiece : firstOwn)) plan.firstOwnPiece = i;
        sorted.push_back(std::move(pieces[order[i]]));
    }
    pieces = std::move(sorted);
    for (const Piece& p : pieces) shaped.reply.insert(shaped.reply.end(), p.bytes.begin(), p.bytes.end());
    shaped.answered = !pieces.empty();

    if (applied) *settings = after;
    entry->frame = frame;
    entry->fate = fate;
    entry->applied = applied;
    entry->answer = own;
    if (read && !own.empty()) entry->value = answer.text.substr(0, std::min<std::size_t>(answer.text.size(), 255));
    return plan;
}

std::uint64_t ChaosBook::Add(ChaosEntry entry) {
    entry.seq = next_++;
    entries_.push_back(std::move(entry));
    if (entries_.size() > kKept) entries_.pop_front();
    return entries_.back().seq;
}

void ChaosBook::Written(std::uint64_t seq, std::int64_t us) {
    if (entries_.empty() || seq < entries_.front().seq) return;
    const std::size_t at = seq - entries_.front().seq;
    if (at < entries_.size() && entries_[at].writtenUs < 0) entries_[at].writtenUs = us;
}

std::vector<ChaosEntry> ChaosBook::Since(std::uint64_t seq) const {
    if (entries_.empty() || seq >= next_) return {};
    const std::size_t from = seq <= entries_.front().seq ? 0 : seq - entries_.front().seq;
    return {entries_.begin() + static_cast<long>(from), entries_.end()};
}

std::int64_t SteadyMicros(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

std::string ChaosEntryJson(const ChaosEntry& e) {
    std::string json = "{\"seq\":" + std::to_string(e.seq) + ",\"rx_us\":" + std::to_string(e.rxUs) + ",\"frame\":\"" +
                       HexString(e.frame) + "\",\"fate\":\"" + e.fate +
                       "\",\"applied\":" + (e.applied ? "true" : "false") + ",\"answer\":\"" + HexString(e.answer) +
                       "\",\"written_us\":" + std::to_string(e.writtenUs);
    if (!e.value.empty()) json += ",\"value\":\"" + Escaped(e.value) + "\"";
    return json + "}";
}

}  // namespace vprinter
