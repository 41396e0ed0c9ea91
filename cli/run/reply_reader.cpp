#include "cli/run/reply_reader.h"

#include <algorithm>
#include <cctype>
#include <array>
#include <optional>

#include "protocol/frames.h"
#include "protocol/reply.h"
#include "protocol/settings_catalogue.h"

namespace morvane::cli {

namespace {

constexpr std::size_t kStatusLength = 4;
constexpr std::size_t kLengthAt = 3;
// What the reader holds at once: well over the longest reply (prefix,
// header, length byte and 255 bytes), so that a stream is read in runs.
constexpr std::size_t kHeld = 1024;
// Of the bytes dropped in one wait, the first this many are kept for --trace.
constexpr std::size_t kKeptDropped = 512;
constexpr std::size_t kToldDrops = 16;
// The longest address a check's answer may carry, and how much of one no
// echo followed by noise could pass for.
constexpr std::size_t kLongestAddress = 64;
constexpr std::size_t kEnoughOfAnAddress = 8;
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr int kSettleBytes = 4;
constexpr std::chrono::milliseconds kMinSettle{3};

class RealClock : public Clock {
public:
    TimePoint Now() override { return SteadyClock::now(); }
};

std::string CountText(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// Whether `p` (avail bytes) starts with 1D 46 and a code: yes, no, or not
// known until more bytes come.
enum class Header { Yes, No, Unknown };
Header HeaderAt(const std::uint8_t* p, std::size_t avail) {
    if (avail == 0) return Header::Unknown;
    if (p[0] != kFrameHeader0) return Header::No;
    if (avail == 1) return Header::Unknown;
    if (p[1] != kFrameHeader1) return Header::No;
    return avail >= 3 ? Header::Yes : Header::Unknown;
}

// One wait for one frame's reply.
class ReplyWait {
public:
    ReplyWait(Line& line, Clock& clock, const Expected& expected, LineState& state, int baud,
              std::chrono::milliseconds timeout)
        : line_(line),
          clock_(clock),
          expected_(expected),
          state_(state),
          serial_(line.IsSerial()),
          settle_(std::max(SettleTime(baud), line.MinimumSettle())),
          code_(expected.frame.size() > 2 ? expected.frame[2] : 0),
          timeout_(timeout),
          deadline_(expected.sentAt.value_or(clock.Now()) + timeout) {
        state_.Forget(clock_.Now());
        strict_ = state_.dirty || state_.OwesAny(clock_.Now());
    }

    Reply Run() {
        for (;;) {
            quietUntil_.reset();
            want_ = 0;
            if (Parse()) return Finish();
            const bool awaitingQuiet = quietUntil_.has_value();
            // A reply complete just before the deadline is judged like any
            // other: its quiet may run past it.
            // While the check is out it has a time-out of its own: the key's
            // bound is then two time-outs.
            const TimePoint limit =
                suspect_ && checkSent_ && !checkDecided_ ? std::max(deadline_, checkDeadline_) : deadline_;
            const TimePoint until = awaitingQuiet ? *quietUntil_ : limit;
            if (!awaitingQuiet && clock_.Now() >= limit) return NoAnswer();
            Compact();
            const std::size_t room = kHeld - got_;
            // Never more than the reply can still need, so that a stream is
            // cut where the reply ends; junk is read in runs.
            const std::size_t ask = want_ > 0 ? std::min(want_, room) : room;
            const int n = line_.Read(buf_.data() + got_, ask, until);
            if (n < 0) {
                const std::string why = line_.FailureText();
                reply_.result = Result::Error;
                reply_.detail = why.empty() ? "the line failed" : "the line failed: " + why;
                reply_.bytes = Held();
                return Finish();
            }
            if (n == 0) {
                if (awaitingQuiet && clock_.Now() >= *quietUntil_) quiet_ = true;
                continue;
            }
            got_ += std::min<std::size_t>(static_cast<std::size_t>(n), ask);
            quiet_ = false;
            // Taken after the deadline (a busy machine woke this thread
            // late): they may have come after it, and prove nothing.
            if (!awaitingQuiet && clock_.Now() > limit) {
                tooLate_ = true;
                return NoAnswer();
            }
        }
    }

private:
    const std::uint8_t* P() const { return buf_.data() + at_; }
    std::size_t Avail() const { return got_ - at_; }
    Bytes Held() const { return Bytes(P(), P() + Avail()); }
    bool Clean() const { return !strict_ && !consumed_; }

    void Compact() {
        if (at_ == 0) return;
        std::copy(buf_.begin() + static_cast<std::ptrdiff_t>(at_), buf_.begin() + static_cast<std::ptrdiff_t>(got_),
                  buf_.begin());
        got_ -= at_;
        at_ = 0;
    }

    // More bytes are needed: at least `n` in all from here, or any number.
    bool More(std::size_t n = 0) {
        want_ = n > Avail() ? n - Avail() : 0;
        return false;
    }
    // The candidate stands if nothing more comes for a settle time.
    bool AwaitQuiet() { return AwaitQuietUntil(clock_.Now() + settle_); }
    bool AwaitQuietUntil(TimePoint until) {
        quietUntil_ = std::max(until, clock_.Now() + settle_);
        want_ = 1;
        return false;
    }

    void Drop(std::size_t n, const char* why) {
        n = std::min(n, Avail());
        if (n == 0) return;
        const Bytes bytes(P(), P() + n);
        reply_.droppedBytes += n;
        if (keptDropped_ < kKeptDropped) {
            reply_.dropped.push_back(bytes);
            keptDropped_ += n;
            if (expected_.onDropped && reply_.dropped.size() <= kToldDrops) expected_.onDropped(bytes, why);
        }
        at_ += n;
        consumed_ = true;
    }

    // True when the reply is decided (reply_ filled in).
    bool Parse() {
        for (;;) {
            if (skip_ > 0) {  // the rest of an answer to another frame
                const std::size_t n = std::min(skip_, Avail());
                if (n == 0) return More();
                // No text holds 1D: a header there means that answer was cut short.
                const std::size_t upTo = static_cast<std::size_t>(std::find(P(), P() + n, kFrameHeader0) - P());
                Drop(upTo, "an earlier frame's answer: dropped");
                skip_ = upTo < n ? 0 : skip_ - n;
                continue;
            }
            if (Avail() == 0) return More(checkSent_ ? 0 : std::max(expected_.frame.size(), kStatusLength));
            if (suspect_ && checkSent_ && !checkDecided_) {
                if (const auto decided = CheckForCheckEcho()) return *decided;
                if (checkDecided_) continue;
            }
            const std::uint8_t* p = P();
            const std::size_t avail = Avail();
            std::size_t h = 0;
            Header header = HeaderAt(p, avail);
            if (header == Header::No && serial_ && p[0] == kSerialReplyPrefix) {
                const Header after = HeaderAt(p + 1, avail - 1);
                if (after != Header::No) {
                    header = after;
                    h = 1;
                }
            }
            if (header == Header::Unknown) return More(h + 3);  // a header may be starting
            if (header == Header::Yes) {
                const std::uint8_t code = p[h + 2];
                if (code == kFrameHeader0 && avail == h + 3) return More(h + 4);
                if (code == kFrameHeader0 && p[h + 3] == kFrameHeader1) {
                    // 1D 46 1D 46: a header cut short, another after it.
                    Drop(h + 2, "an answer cut short: dropped");
                    strict_ = true;
                    continue;
                }
                if (code == code_) {
                    // The first bytes that name this frame: its echo, perhaps
                    // (after other bytes too: an echo comes when it comes).
                    if (!echoChecked_ && h == 0) {
                        if (const auto decided = CheckEcho()) return *decided;
                        continue;
                    }
                    return OurReply(h);
                }
                if (suspect_ && checkSent_ && code == check_[2]) return CheckAnswered(h);
                if (const auto decided = Foreign(h, code)) return *decided;
                continue;
            }
            if (!Clean()) {
                // Junk: up to where a header may begin.
                std::size_t n = 1;
                while (n < avail && p[n] != kFrameHeader0 && !(serial_ && p[n] == kSerialReplyPrefix)) ++n;
                Drop(n, "bytes that answer no frame: dropped");
                continue;
            }
            return Headerless();
        }
    }

    // The first bytes that name the frame: are they the frame itself?
    // nullopt: go on parsing.
    std::optional<bool> CheckEcho() {
        const Bytes& f = expected_.frame;
        const std::uint8_t* p = P();
        const std::size_t avail = Avail();
        if (state_.echo == LineState::Echo::Quiet || f.size() < 3) {
            echoChecked_ = true;
            return std::nullopt;
        }
        const std::size_t k = std::min(avail, f.size());
        if (!std::equal(p, p + k, f.begin())) {
            echoChecked_ = true;
            // Its own answer came first: a line that echoes would have sent
            // the frame back before it.
            if (HeaderAt(p, avail) == Header::Yes && p[2] == code_ && state_.echo == LineState::Echo::Unknown)
                answerFirst_ = true;
            if (state_.echo == LineState::Echo::Echoes) strict_ = true;
            return std::nullopt;
        }
        if (avail < f.size()) {
            // An echo comes back whole; a reply may also begin as the frame
            // does (1D 46 82 00 after a position frame) and end there.
            if (state_.echo != LineState::Echo::Echoes && quiet_ && avail >= kStatusLength) {
                echoChecked_ = true;
                return std::nullopt;
            }
            if (avail >= kStatusLength && state_.echo != LineState::Echo::Echoes) return AwaitQuiet();
            return More(f.size());
        }
        if (state_.echo == LineState::Echo::Echoes) {
            echoChecked_ = true;
            Drop(f.size(), "the line's echo");
            echoDropped_ = true;
            return std::nullopt;
        }
        // The frame came back. Its own answer after it proves an echo.
        if (avail > f.size()) {
            const Header next = HeaderAt(p + f.size(), avail - f.size());
            if (next == Header::Unknown) return More(f.size() + 3);
            if (next == Header::Yes && p[f.size() + 2] == code_) {
                echoChecked_ = true;
                state_.echo = LineState::Echo::Echoes;
                Drop(f.size(), "the line's echo");
                echoDropped_ = true;
                return std::nullopt;
            }
        } else if (!quiet_) {
            return AwaitQuiet();
        }
        echoChecked_ = true;
        // A 3-byte frame's copy is no reply (the read-address frame's length
        // byte, the Chinese-mode frame's status byte are due): read on; the
        // reply must then end where it ends, or it is the echo and noise.
        if (f.size() == 3 || !expected_.sendCheck) {
            standAlone_ = true;
            return std::nullopt;
        }
        suspect_ = Bytes(p, p + f.size());
        at_ += f.size();
        consumed_ = true;
        // No check to be had: the copy is never the reply.
        const Bytes* check = CheckFor(code_, state_, clock_.Now());
        if (check == nullptr) return std::nullopt;
        check_ = *check;
        checkSent_ = true;
        checkDeadline_ = clock_.Now() + timeout_;
        if (!expected_.sendCheck(check_)) {
            reply_.result = Result::Error;
            reply_.detail = "cannot send the check whether the line echoes";
            return true;
        }
        return std::nullopt;
    }

    // While the check is out: its bytes coming back are the line's echo.
    std::optional<bool> CheckForCheckEcho() {
        const Bytes& c = check_;
        const std::uint8_t* p = P();
        const std::size_t avail = Avail();
        const std::size_t k = std::min(avail, c.size());
        if (!std::equal(p, p + k, c.begin())) return std::nullopt;
        if (avail < c.size()) return More(c.size());
        // The address check's own answer begins with the same three bytes
        // and goes on with a length and an address (hex digits, with colons
        // or dashes); its echo is followed by quiet, or by anything else,
        // stray bytes too, which an address this long and this plain never
        // is by chance. (The name check's answer differs from it at byte 3,
        // unless the name is empty: then it counts as the echo.)
        if (avail > c.size() && c.size() == 3) {
            const std::size_t length = p[c.size()];
            if (length >= kEnoughOfAnAddress && length <= kLongestAddress) {
                const std::size_t whole = c.size() + 1 + length;
                const std::uint8_t* text = p + c.size() + 1;
                const std::uint8_t* end = p + std::min(avail, whole);
                const std::uint8_t* printable =
                    std::find_if(text, end, [](std::uint8_t b) { return !std::isxdigit(b) && b != ':' && b != '-'; });
                // Enough of an address to be no echo, though its end be cut
                // off by quiet or by the next header.
                const bool enough = static_cast<std::size_t>(printable - text) >= kEnoughOfAnAddress;
                checkAnswerEnds_ = whole;
                if (printable == end) {
                    if (avail < whole && !(enough && quiet_)) return enough ? AwaitQuiet() : More(whole);
                    if (avail < whole) checkAnswerEnds_ = avail;
                    return std::nullopt;  // an answer: CheckAnswered() takes it
                }
                if (enough && *printable == kFrameHeader0) {
                    checkAnswerEnds_ = static_cast<std::size_t>(printable - p);
                    return std::nullopt;
                }
            }
        } else if (avail == c.size() && !quiet_) {
            // The address check's answer may come in pieces, its first the
            // same three bytes: its echo is known only by what follows, or
            // by nothing at all up to the check's time-out.
            if (c.size() == 3) return AwaitQuietUntil(checkDeadline_);
            return AwaitQuiet();
        }
        checkDecided_ = true;  // the printer behind the echo (if any) still owes its answer
        state_.echo = LineState::Echo::Echoes;
        reply_.dropped.push_back(*suspect_);
        reply_.droppedBytes += suspect_->size();
        if (expected_.onDropped) expected_.onDropped(*suspect_, "the line's echo");
        suspect_.reset();
        echoDropped_ = true;
        Drop(c.size(), "the line's echo of the check");
        strict_ = true;
        return std::nullopt;
    }

    // The check was answered, not echoed: the line does not echo, and the
    // frame's copy was the printer's own answer.
    bool CheckAnswered(std::size_t h) {
        if (Avail() < h + kLengthAt + 1) return More(h + kLengthAt + 1);
        if (h != 0) {  // the 0x11 form: no echo is ever prefixed
            if (Avail() < h + kLengthAt + 1 + P()[h + kLengthAt]) return More(h + kLengthAt + 1 + P()[h + kLengthAt]);
        }
        state_.echo = LineState::Echo::Quiet;
        state_.quietShown = true;
        state_.Settle(check_[2]);
        checkAnswered_ = true;
        // What is there of it goes; the rest, should it still come, is
        // skipped up to the next header.
        const std::size_t whole = h + kLengthAt + 1 + P()[h + kLengthAt];
        const std::size_t now = std::min({whole, Avail(), checkAnswerEnds_});
        Drop(now, "the check's answer");
        skip_ = whole - now;
        return JudgeSuspect();
    }

    bool JudgeSuspect() {
        const Bytes copy = *suspect_;
        suspect_.reset();
        checkDecided_ = true;
        reply_.bytes = copy;
        return Judge(copy.data(), copy.size(), 0);
    }

    // An answer that names this frame's code, its header at h.
    bool OurReply(std::size_t h) {
        if (suspect_) {
            // Its answer after the frame's own bytes: those were the echo.
            state_.echo = LineState::Echo::Echoes;
            reply_.dropped.push_back(*suspect_);
            reply_.droppedBytes += suspect_->size();
            if (expected_.onDropped) expected_.onDropped(*suspect_, "the line's echo");
            suspect_.reset();
            checkDecided_ = true;
            echoDropped_ = true;
            if (clock_.Now() > deadline_) {
                // Past the frame's own time-out (while the check was out): too late.
                Drop(h + kLengthAt, "its answer, too late: dropped");
                strict_ = true;
                return false;
            }
        }
        const std::uint8_t* p = P();
        const std::size_t avail = Avail();
        // First on the line after the frame: the dialog's rule of exactly 4
        // bytes holds on a serial line.
        const bool first = !consumed_ && serial_;
        // A new header where the status or length byte stands: this one was
        // cut short, or was the echo of a frame of three bytes; no reply.
        // (After a 3-byte frame on a line that may echo, a lone 1D there is
        // taken for the start of one: its echo and a cut answer look so.)
        // A 1D there that quiet follows is the start of one cut short too:
        // no printer's status or length byte is 1D.
        const bool lone = avail > h + kLengthAt && p[h + kLengthAt] == kFrameHeader0 &&
                          (standAlone_ || (avail == h + kLengthAt + 1 && quiet_));
        const std::optional<bool> cut = lone ? std::optional<bool>(true) : HeaderBegins(h + kLengthAt);
        if (!cut) return false;
        if (*cut) {
            const bool echo = h == 0 && std::equal(p, p + kLengthAt, expected_.frame.begin(), expected_.frame.end());
            if (echo && state_.echo != LineState::Echo::Quiet) state_.echo = LineState::Echo::Echoes;
            Drop(h + kLengthAt, echo ? "the line's echo" : "an answer cut short: dropped");
            echoDropped_ = echoDropped_ || echo;
            strict_ = true;
            return false;
        }
        if (expected_.form == ReplyForm::Status) {
            if (h == 1) {
                // The 0x11 form has no place in a status reply.
                if (first) return WrongLength();
                Drop(1, "bytes that answer no frame: dropped");
                return false;
            }
            if (avail < kStatusLength) return More(kStatusLength);
            if (first) {
                // The dialog's rule: a status reply of exactly 4 bytes. An
                // answer to another frame right after it is not a 5th byte.
                if (avail > kStatusLength) {
                    const std::optional<bool> next = HeaderBegins(kStatusLength);
                    if (!next) return false;
                    if (!*next) return WrongLength();
                } else if (!quiet_) {
                    return AwaitQuiet();
                }
            }
            if (!first) {
                const std::optional<bool> alone = StandsAlone(kStatusLength);
                if (!alone) return false;
                if (!*alone) return Noise(h);
            }
            reply_.bytes.assign(p, p + kStatusLength);
            at_ += kStatusLength;
            return Judge(reply_.bytes.data(), kStatusLength, 0);
        }
        const std::size_t lengthAt = h + kLengthAt;
        if (avail <= lengthAt) return More(lengthAt + 1);
        const std::size_t whole = lengthAt + 1 + p[lengthAt];
        if (avail < whole) return More(whole);
        // 1D in the text, which no printer's text holds: a header began
        // there, and this reply was cut short.
        for (std::size_t i = lengthAt + 1; i < whole; ++i)
            if (p[i] == kFrameHeader0) {
                Drop(i, "an answer cut short: dropped");
                strict_ = true;
                return false;
            }
        // After the read-address frame on a line that may echo, its bytes and
        // noise could pass for an answer: an address is printable.
        if (standAlone_ &&
            !std::all_of(p + lengthAt + 1, p + whole, [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; })) {
            Drop(h + kLengthAt, "the line's echo, or an answer cut short: dropped");
            strict_ = true;
            return false;
        }
        if (!Clean() || standAlone_) {
            const std::optional<bool> alone = StandsAlone(whole);
            if (!alone) return false;
            if (!*alone) return Noise(h);
        }
        reply_.bytes.assign(p, p + whole);
        at_ += whole;
        return Judge(reply_.bytes.data(), whole, h);
    }

    // On a line that has shown other bytes in this wait, a reply must end
    // where something else begins (quiet, or a header): a cut answer that
    // noise happens to complete is followed by more noise.
    std::optional<bool> StandsAlone(std::size_t end) {
        if (Clean() && !standAlone_) return true;
        if (Avail() == end) {
            if (quiet_) return true;
            AwaitQuiet();
            return std::nullopt;
        }
        return HeaderBegins(end);
    }

    bool Noise(std::size_t h) {
        Drop(h + kLengthAt, "an answer run into other bytes: dropped");
        strict_ = true;
        return false;
    }

    // Whether a header begins at offset `at`: nullopt while that cannot be
    // told yet (More() or AwaitQuiet() asked for).
    std::optional<bool> HeaderBegins(std::size_t at) {
        const std::uint8_t* p = P();
        const std::size_t avail = Avail();
        if (avail <= at) {
            More(at + 1);
            return std::nullopt;
        }
        const std::size_t h = serial_ && p[at] == kSerialReplyPrefix ? at + 1 : at;
        if (h >= avail) {
            if (quiet_) return false;
            AwaitQuiet();
            return std::nullopt;
        }
        if (p[h] != kFrameHeader0) return false;
        if (h + 1 >= avail) {
            if (quiet_) return false;
            AwaitQuiet();
            return std::nullopt;
        }
        return p[h + 1] == kFrameHeader1;
    }

    // A reply without 1D 46, first in a clean wait: as the dialog reads it,
    // if nothing else comes with it.
    bool Headerless() {
        const std::uint8_t* p = P();
        const std::size_t avail = Avail();
        std::size_t whole = kStatusLength;
        std::size_t h = 0;
        if (expected_.form == ReplyForm::Value) {
            h = serial_ && p[0] == kSerialReplyPrefix ? 1 : 0;
            if (avail <= h + kLengthAt) return More(h + kLengthAt + 1);
            whole = h + kLengthAt + 1 + p[h + kLengthAt];
        }
        if (avail < whole) return More(whole);
        if (avail > whole) {
            if (serial_ && expected_.form == ReplyForm::Status) return WrongLength();
            strict_ = true;  // not a reply on its own: look for one that names the frame
            return false;
        }
        // (On a serial line the dialog's exact length first: what follows
        // within the settle time makes it a reply of the wrong length.)
        if (!quiet_) return AwaitQuiet();
        // 1D within it: a header begins there, and this is no reply. (But
        // for the 0x11 form's own header, which off serial lines the dialog
        // reads as bytes 1 and 2.)
        const std::size_t from = p[0] == kSerialReplyPrefix && HeaderAt(p + 1, avail - 1) == Header::Yes ? 3 : 1;
        if (std::find(p + from, p + whole, kFrameHeader0) != p + whole) {
            strict_ = true;
            return false;
        }
        reply_.bytes.assign(p, p + whole);
        at_ += whole;
        return Judge(reply_.bytes.data(), whole, h);
    }

    bool WrongLength() {
        reply_.bytes = Held();
        reply_.result = Result::NoAnswer;
        reply_.detail = "status reply longer than 4 bytes";
        at_ = got_;
        return true;
    }

    // An answer to another frame, its header at h: dropped whole.
    // nullopt once dropped; false while its length byte is to come.
    std::optional<bool> Foreign(std::size_t h, std::uint8_t code) {
        const std::uint8_t* p = P();
        const std::size_t avail = Avail();
        ReplyForms forms = ReplyFormsOf(code);
        if (forms.status && forms.value) {
            // A code of both forms: the form of the frame still owed an answer.
            bool owedStatus = false, owedValue = false;
            for (const LineState::Owed& o : state_.owed)
                if (o.code == code) (o.form == ReplyForm::Value ? owedValue : owedStatus) = true;
            if (owedStatus != owedValue) forms = {owedStatus, owedValue};
        }
        // A code no setting uses is taken for a status, as most are.
        if (!forms.status && !forms.value) forms.status = true;
        std::size_t whole = h + 3;  // the form unknown: the header, then junk up to the next one
        if (forms.value && !forms.status) {
            if (avail <= h + kLengthAt) return More(h + kLengthAt + 1);
            whole = h + kLengthAt + 1 + p[h + kLengthAt];
        } else if (forms.status && !forms.value) {
            whole = h + kStatusLength;
        }
        state_.Settle(code);
        strict_ = true;
        // Only its header if 1D stands where its status, length or text
        // does: it was cut short, and what begins there is another answer.
        const std::size_t cut =
            static_cast<std::size_t>(std::find(p + h + 3, p + std::min(whole, avail), kFrameHeader0) - p);
        if (cut < std::min(whole, avail)) whole = cut;
        const std::size_t now = std::min(whole, avail);
        Drop(now, "an earlier frame's answer: dropped");
        skip_ = whole - now;
        return std::nullopt;
    }

    // The reply's verdict: bytes[0..size), header (or prefix) at h.
    bool Judge(const std::uint8_t* bytes, std::size_t size, std::size_t h) {
        if (answerFirst_) {
            state_.echo = LineState::Echo::Quiet;
            state_.quietShown = true;
        }
        state_.Settle(code_);
        if (expected_.form == ReplyForm::Status) {
            const bool refused =
                ParseStatusReply(bytes, size, static_cast<int>(std::min<std::size_t>(size, kStatusLength))) ==
                StatusReply::Failure;
            reply_.result = refused ? Result::Refused : Result::Ok;
            if (refused) reply_.detail = "the printer refused it";
            return true;
        }
        const std::uint8_t* text = bytes + h + kLengthAt + 1;
        const std::uint8_t* end = std::find(text, bytes + size, std::uint8_t{0});
        reply_.value.assign(text, end);
        reply_.result = Result::Ok;
        return true;
    }

    Reply NoAnswer() {
        // The check drew no answer: the line may echo slowly, or not at all;
        // without proof the frame's copy is no reply.
        suspect_.reset();
        reply_.result = Result::NoAnswer;
        const bool foreign = reply_.droppedBytes > 0;
        if (state_.echo == LineState::Echo::Echoes && echoDropped_) {
            reply_.echoed = true;
            reply_.detail = kEchoDetail;
        } else if (tooLate_) {
            reply_.detail = "no answer within the time-out (bytes came, read after it)";
        } else if (Avail() > 0 && !foreign) {
            reply_.detail = "reply cut off after " + CountText(Avail());
        } else {
            reply_.detail = "no answer";
        }
        if (Avail() > 0) reply_.bytes = Held();
        if (foreign && !reply_.echoed && !tooLate_)
            reply_.detail += " of its own (" + CountText(reply_.droppedBytes) + " that were not its answer dropped)";
        at_ = got_;
        return Finish();
    }

    Reply Finish() {
        // Left over: the next frame's wait must not take it for a clean start.
        state_.dirty = at_ < got_ || skip_ > 0;
        if (reply_.result == Result::NoAnswer || reply_.result == Result::Error) {
            state_.Owe(code_, expected_.form, deadline_ + kLateHorizon);
        }
        if (checkSent_ && !checkAnswered_) state_.Owe(check_[2], ReplyForm::Value, deadline_ + kLateHorizon);
        return std::move(reply_);
    }

    Line& line_;
    Clock& clock_;
    const Expected& expected_;
    LineState& state_;
    const bool serial_;
    const std::chrono::milliseconds settle_;
    const std::uint8_t code_;
    const std::chrono::milliseconds timeout_;
    const TimePoint deadline_;
    TimePoint checkDeadline_;

    std::array<std::uint8_t, kHeld> buf_{};
    std::size_t at_ = 0, got_ = 0;
    std::size_t want_ = 0;
    std::optional<TimePoint> quietUntil_;
    bool quiet_ = false;
    bool tooLate_ = false;
    bool strict_ = false;      // only an answer that names the frame counts
    bool consumed_ = false;    // something was dropped in this wait
    std::size_t skip_ = 0;     // bytes still to come of a foreign answer
    bool standAlone_ = false;  // the reply must end at quiet or at a header
    std::size_t keptDropped_ = 0;
    bool echoChecked_ = false;
    bool echoDropped_ = false;
    bool answerFirst_ = false;
    std::optional<Bytes> suspect_;  // the frame's own bytes, until the check tells whose they are
    bool checkSent_ = false;
    bool checkDecided_ = false;
    Bytes check_;                             // the check frame sent
    std::size_t checkAnswerEnds_ = SIZE_MAX;  // where its answer ends, when cut short
    bool checkAnswered_ = false;              // its answer came
    Reply reply_;
};

}  // namespace

const char* ResultName(Result result) {
    switch (result) {
        case Result::Ok: return "ok";
        case Result::Refused: return "refused";
        case Result::NoAnswer: return "no-answer";
        case Result::Error: return "error";
        case Result::NotSent: return "not-sent";
    }
    return "error";
}

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}

std::chrono::milliseconds SettleTime(int baud) {
    if (baud <= 0) return kMinSettle;
    const auto byteTimes = std::chrono::milliseconds((kSettleBytes * kBitsPerByte * 1000 + baud - 1) / baud);
    return std::max(kMinSettle, byteTimes);
}

const Bytes* CheckFor(std::uint8_t code, const LineState& state, TimePoint now) {
    static const Bytes address = {kFrameHeader0, kFrameHeader1, kCodeAddress};
    static const Bytes name = {kFrameHeader0, kFrameHeader1, kCodeName, 0x00};
    static const Bytes password = {kFrameHeader0, kFrameHeader1, kCodePassword, 0x00};
    // An answer still owed to an earlier read with the check's code would
    // pass for the check's own. (A password read back travels only inside
    // the reader, and --trace masks it.)
    if (!state.Owes(kCodeAddress, now)) return &address;
    if (code != kCodeName && !state.Owes(kCodeName, now)) return &name;
    if (code != kCodePassword && !state.Owes(kCodePassword, now)) return &password;
    return nullptr;
}

bool LineState::Owes(std::uint8_t code, TimePoint now) const {
    return std::any_of(owed.begin(), owed.end(), [&](const Owed& o) { return o.code == code && now < o.until; });
}

bool LineState::OwesAny(TimePoint now) const {
    return std::any_of(owed.begin(), owed.end(), [&](const Owed& o) { return now < o.until; });
}

void LineState::Owe(std::uint8_t code, ReplyForm form, TimePoint until) {
    // One entry a frame: two frames with one code owe two answers.
    if (owed.size() >= kMostOwed) owed.erase(owed.begin());
    owed.push_back({code, form, until});
}

void LineState::Settle(std::uint8_t code) {
    const auto first = std::find_if(owed.begin(), owed.end(), [&](const Owed& o) { return o.code == code; });
    if (first != owed.end()) owed.erase(first);
}

void LineState::Forget(TimePoint now) {
    owed.erase(std::remove_if(owed.begin(), owed.end(), [&](const Owed& o) { return now >= o.until; }), owed.end());
}

void AnswerSpotter::Feed(const std::uint8_t* bytes, std::size_t size) {
    // The carried bytes and the new ones, looked at as one run.
    const auto at = [&](std::size_t i) { return i < carried_ ? carry_[i] : bytes[i - carried_]; };
    const std::size_t total = carried_ + size;
    for (std::size_t i = 0; i + 2 < total; ++i)
        if (at(i) == kFrameHeader0 && at(i + 1) == kFrameHeader1) state_.Settle(at(i + 2));
    std::uint8_t last[2] = {};
    const std::size_t keep = std::min<std::size_t>(total, 2);
    for (std::size_t k = 0; k < keep; ++k) last[k] = at(total - keep + k);
    std::copy_n(last, keep, carry_);
    carried_ = keep;
}

Reply ReadReply(Line& line, Clock& clock, const Expected& expected, LineState& state, int baud,
                std::chrono::milliseconds timeout) {
    return ReplyWait(line, clock, expected, state, baud, timeout).Run();
}

}  // namespace morvane::cli
