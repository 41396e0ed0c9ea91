#include "cli/run/runner.h"

#include <cstdio>
#include "cli/run/line_memory.h"
#include "cli/text/secret_hex.h"

#include "protocol/hex.h"

namespace morvane::cli {

namespace {

// Writing a frame of at most 25 bytes takes milliseconds at any speed; a
// line that takes longer is stuck (flow control, a driver that hangs).
constexpr std::chrono::milliseconds kWriteBound{1000};
// While an owed answer is awaited, how often the stop flag is looked at.
constexpr std::chrono::milliseconds kOwedLook{100};

constexpr char kMayHaveTaken[] = ": the printer may or may not have taken it";
constexpr char kStopped[] = "not sent: the command was told to stop";

long long Elapsed(Clock& clock, TimePoint since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - since).count();
}

ReplyForm FormOf(const Frame& frame) {
    return IsValueOperation(frame.operation) ? ReplyForm::Value : ReplyForm::Status;
}

bool StopRequested(const RunOptions& options) { return options.stop != nullptr && options.stop->load(); }

Reply NotSentReply() {
    Reply stopped;
    stopped.result = Result::NotSent;
    stopped.detail = kStopped;
    return stopped;
}

// One frame out and its reply in; the line failing shows as Result::Error.
struct Exchange {
    Line& line;
    const RunOptions& options;
    Clock& clock;
    const std::string& port;
    TimePoint start;
    int baud;
    LineState state;

    // Before a frame with this code: the answer an earlier frame with the
    // same code still owes is waited for (up to its horizon), so that it
    // cannot pass for this frame's. False when told to stop meanwhile.
    bool AwaitOwed(std::uint8_t code) {
        state.Forget(clock.Now());
        if (!state.Owes(code, clock.Now())) return true;
        if (options.trace) {
            const std::string why = "waits for the answer an earlier frame may still send, code";
            options.trace(TraceLine(start, clock.Now(), port, why.c_str(), &code, 1));
        }
        AnswerSpotter spotter(state);
        std::uint8_t buf[256];
        while (state.Owes(code, clock.Now())) {
            if (StopRequested(options)) return false;
            TimePoint until = clock.Now() + kOwedLook;
            for (const LineState::Owed& o : state.owed)
                if (o.code == code) until = std::min(until, o.until);
            const int n = line.Read(buf, sizeof buf, until);
            if (n < 0) return true;  // the frame's own write or read says so
            if (n > 0) {
                spotter.Feed(buf, static_cast<std::size_t>(n));
                state.dirty = true;
                Trace("rx (an earlier frame's answer: dropped)", buf, static_cast<std::size_t>(n));
            }
            state.Forget(clock.Now());
        }
        return true;
    }

    // What waits on the line before a frame is late: it is dropped, and
    // the answers it names are no longer owed.
    void DropStale() {
        Bytes kept;
        if (line.DiscardInput(&kept) == 0) return;
        state.dirty = true;
        // On a line that may echo, what waits may be the echo of a frame,
        // which looks like an answer and is none.
        if (state.echo == LineState::Echo::Quiet) AnswerSpotter(state).Feed(kept.data(), kept.size());
        Trace("rx (waiting before the frame: dropped)", kept.data(), kept.size());
    }

    Reply Run(const std::uint8_t* frame, int length, ReplyForm form) {
        const std::uint8_t code = frame[2];
        // Told to stop before or while waiting: this frame never leaves.
        if (StopRequested(options) || !AwaitOwed(code) || StopRequested(options)) return NotSentReply();
        DropStale();
        Trace("tx", frame, static_cast<std::size_t>(length));
        std::string error;
        const TimePoint sentAt = clock.Now();
        if (!line.Write(frame, static_cast<std::size_t>(length), sentAt + kWriteBound, &error)) {
            Reply failed;
            failed.result = Result::Error;
            failed.detail = "cannot send: " + error;
            return failed;
        }
        Expected expected;
        expected.form = form;
        expected.sentAt = sentAt;
        expected.frame.assign(frame, frame + length);
        expected.sendCheck = [this](const Bytes& check) {
            Trace("tx (a check: does the line echo?)", check.data(), check.size());
            std::string why;
            return line.Write(check.data(), check.size(), clock.Now() + kWriteBound, &why);
        };
        expected.onDropped = [this](const Bytes& other, const char* why) {
            Trace((std::string("rx (") + why + ")").c_str(), other.data(), other.size());
        };
        Reply reply = ReadReply(line, clock, expected, state, line.IsSerial() ? baud : 0, options.timeout);
        reply.written = true;
        if (!reply.bytes.empty()) Trace("rx", reply.bytes.data(), reply.bytes.size());
        return reply;
    }

    // The line now runs at another speed: answers sent at the old one
    // cannot be read at this one.
    void SpeedChanged(int newBaud) {
        if (newBaud != baud) state.owed.clear();
        baud = newBaud;
    }

    void Trace(const char* direction, const std::uint8_t* bytes, std::size_t size) {
        if (options.trace) options.trace(TraceLine(start, clock.Now(), port, direction, bytes, size));
    }
};

Record RecordOf(const std::string& port, const Step& step) {
    Record r;
    r.port = port;
    r.key = std::string(step.setting->key);
    r.value = step.shownValue;
    r.read = step.read;
    return r;
}

std::string HexOf(const std::string& bytes) {
    return HexBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Why a key was not sent.
std::string NotSentBecause(bool stopped, Result earlier) {
    if (stopped) return kStopped;
    if (earlier == Result::Error) return "not sent: the line failed before";
    return "not sent: an earlier key got no answer; --keep-going sends the rest anyway";
}

}  // namespace

std::vector<Record> BlankRecords(const std::string& port, const std::vector<Step>& steps) {
    std::vector<Record> blanks;
    blanks.reserve(steps.size());
    for (const Step& step : steps) blanks.push_back(RecordOf(port, step));
    return blanks;
}

std::string TraceLine(TimePoint start, TimePoint now, const std::string& port, const char* direction,
                      const std::uint8_t* bytes, std::size_t size) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f] ", std::chrono::duration<double>(now - start).count());
    return stamp + port + " " + direction + " " + HexMaskingPasswords(bytes, size);
}

JobEnd RunPrinter(const PortName& port, const std::vector<Step>& steps, const RunOptions& options,
                  const LineOpener& open, Clock& clock, JobSink& sink) {
    JobEnd end;
    const TimePoint start = clock.Now();
    std::string error;
    // Told to stop before the job began: the line is not even opened.
    std::unique_ptr<Line> line = StopRequested(options) ? nullptr : open(port, options.baud, &error);
    if (!line) {
        // Nothing was sent. The time is the opening's: a connection or a
        // name's lookup may take all of its bound.
        const bool stopped = StopRequested(options);
        const long long ms = Elapsed(clock, start);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            Record r = RecordOf(port.text, steps[i]);
            r.result = stopped ? Result::NotSent : Result::Error;
            r.detail = stopped ? kStopped : "cannot open the port: " + error;
            r.ms = i == 0 && !stopped ? ms : 0;
            sink.Done(i, r);
        }
        end.cutOff = !steps.empty();
        end.stopped = stopped;
        return end;
    }

    Exchange exchange{*line, options, clock, port.text, start, options.baud, {}};
    const Recalled recalled = RecallOwed(port, &exchange.state);
    // Set once the printer's state is unknown: the keys after it are not sent.
    Result halted = Result::Ok;
    bool echoes = false;  // the line sent the frames back, and nothing answered them
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        Record r = RecordOf(port.text, step);
        // An answer owed to an earlier frame with this code is waited for
        // first: that wait is the line's, not the key's.
        const bool stopped = StopRequested(options) || (halted == Result::Ok && !exchange.AwaitOwed(step.frame[2]));
        if (stopped || halted != Result::Ok) {
            r.result = echoes && !stopped ? Result::Error : Result::NotSent;
            r.detail = echoes && !stopped ? std::string("not sent: ") + kEchoDetail : NotSentBecause(stopped, halted);
            end.cutOff = true;
            end.stopped = end.stopped || stopped;
            sink.Done(i, r);
            continue;
        }
        sink.Sending(i);
        const TimePoint began = clock.Now();
        if (options.skipSame && !step.read && step.setting->rule == ArgumentRule::Text) {
            FrameBuffer readFrame{};
            const Frame built = BuildReadFrame(readFrame, *step.setting);
            const Reply now = exchange.Run(readFrame, built.length, ReplyForm::Value);
            if (now.result != Result::Ok || now.value == step.textBytes) {
                r.result = now.result;
                r.unchanged = now.result == Result::Ok;
                r.detail = r.unchanged ? "already so: not set" : "not set: reading it first failed: " + now.detail;
                if ((r.result == Result::NoAnswer || r.result == Result::Error) && !options.keepGoing)
                    halted = r.result;
                r.ms = Elapsed(clock, began);
                sink.Done(i, r);
                continue;
            }
        }
        const Reply reply = exchange.Run(step.frame, step.built.length, FormOf(step.built));
        r.result = reply.result;
        r.detail = reply.detail;
        echoes = echoes || reply.echoed;
        if (reply.result == Result::NotSent) end.cutOff = end.stopped = true;
        if (step.read && reply.result == Result::Ok) {
            r.value = DecodeText(options.codePage, reply.value);
            r.hex = HexOf(reply.value);
        }
        if (reply.result == Result::NoAnswer && !step.read) r.detail += kMayHaveTaken;

        // A read needs no reading back (the journal's read of the name with --verify).
        if (reply.result == Result::Ok && options.verify && !step.read && step.setting->rule == ArgumentRule::Text) {
            if (StopRequested(options)) {
                r.detail = "set; not read back: the command was told to stop";
            } else {
                FrameBuffer readFrame{};
                const Frame built = BuildReadFrame(readFrame, *step.setting);
                const Reply back = exchange.Run(readFrame, built.length, ReplyForm::Value);
                if (back.result != Result::Ok) {
                    r.result = back.result;
                    r.detail = "set, but the read-back failed: " + back.detail;
                } else if (back.value != step.textBytes) {
                    r.result = Result::Refused;
                    // Never the text: it may be a pairing password.
                    r.detail = "read back another text";
                } else {
                    r.detail = "verified";
                }
            }
        }
        if (step.newBaud != 0 && reply.result == Result::Ok) {
            // The printer answered at the old speed and listens at the new
            // one from now on; so does this line, for the rest of the job.
            if (step.newBaud != exchange.baud) end.listensAt = step.newBaud;
            end.mayListenAt = 0;
            std::string why;
            if (!line->IsSerial()) {
                // A USB or parallel line has no speed: the printer's serial port changed.
            } else if (line->SetSpeed(step.newBaud, &why)) {
                exchange.SpeedChanged(step.newBaud);
                r.lineBaud = step.newBaud;
            } else {
                r.result = Result::Error;
                r.detail = "the printer took the speed, but the line cannot: " + why;
            }
        } else if (step.newBaud != 0 &&
                   (reply.result == Result::NoAnswer || (reply.result == Result::Error && reply.written))) {
            r.mayListenAt = step.newBaud;
            end.mayListenAt = step.newBaud;
            r.detail += "; it may now listen at " + std::to_string(step.newBaud) + " baud: morvane-cli probe -p " +
                        port.text + " finds it";
        }
        if ((r.result == Result::NoAnswer || r.result == Result::Error) && !options.keepGoing) halted = r.result;
        r.ms = Elapsed(clock, began);
        sink.Done(i, r);
    }
    KeepOwed(port, exchange.state, recalled);
    return end;
}

const std::vector<int>& ProbeSpeeds() {
    static const std::vector<int> speeds = {9600, 115200, 19200, 38400, 57600, 4800, 2400};
    return speeds;
}

Record ProbePrinter(const PortName& port, const RunOptions& options, const LineOpener& open, Clock& clock) {
    Record r;
    r.port = port.text;
    r.key = "bt-address";
    r.read = true;
    const TimePoint start = clock.Now();
    std::string error;
    std::unique_ptr<Line> line = open(port, ProbeSpeeds().front(), &error);
    if (!line) {
        r.result = Result::Error;
        r.detail = "cannot open the port: " + error;
        return r;
    }
    FrameBuffer frame{};
    const Frame built = BuildReadFrame(frame, *FindSetting("bt-address"));
    Exchange exchange{*line, options, clock, port.text, start, ProbeSpeeds().front(), {}};
    const Recalled recalled = RecallOwed(port, &exchange.state);
    r.result = Result::NoAnswer;
    r.detail = "no answer at any speed";
    // A line without a speed (USB, LPT) is tried once.
    const std::size_t tries = line->IsSerial() ? ProbeSpeeds().size() : 1;
    for (std::size_t i = 0; i < tries; ++i) {
        if (StopRequested(options)) {
            r.result = Result::NotSent;
            r.detail = "not tried at every speed: the command was told to stop";
            break;
        }
        const int speed = ProbeSpeeds()[i];
        if (line->IsSerial() && !line->SetSpeed(speed, &error)) continue;
        exchange.SpeedChanged(speed);
        const Reply reply = exchange.Run(frame, built.length, ReplyForm::Value);
        if (reply.result == Result::Error || reply.result == Result::NotSent) {
            r.result = reply.result;
            r.detail = reply.result == Result::NotSent ? "not tried at every speed: the command was told to stop"
                                                       : reply.detail;
            break;
        }
        if (reply.result == Result::Ok) {
            r.result = Result::Ok;
            r.detail.clear();
            r.lineBaud = line->IsSerial() ? speed : 0;
            r.value = DecodeText(options.codePage, reply.value);
            r.hex = HexOf(reply.value);
            break;
        }
    }
    KeepOwed(port, exchange.state, recalled);
    r.ms = Elapsed(clock, start);
    return r;
}

NetworkFind IdentifyPrinter(const PortName& port, const RunOptions& options, const LineOpener& open, Clock& clock) {
    NetworkFind find;
    const TimePoint start = clock.Now();
    std::string error;
    std::unique_ptr<Line> line = open(port, 0, &error);
    if (!line) return find;
    find.connected = true;
    Exchange exchange{*line, options, clock, port.text, start, 0, {}};
    const auto read = [&](const char* key, Record* r) {
        const TimePoint began = clock.Now();
        FrameBuffer frame{};
        const Frame built = BuildReadFrame(frame, *FindSetting(key));
        r->port = port.text;
        r->key = key;
        r->read = true;
        const Reply reply = exchange.Run(frame, built.length, ReplyForm::Value);
        r->result = reply.result;
        r->detail = reply.detail;
        r->ms = Elapsed(clock, began);
        if (reply.result == Result::Ok) {
            r->value = DecodeText(options.codePage, reply.value);
            r->hex = HexOf(reply.value);
        }
        return reply;
    };
    if (StopRequested(options)) return find;
    const Reply address = read("bt-address", &find.address);
    // Anything may listen on a network port: only the read-address frame's
    // own answer makes a printer, not bytes that happen to parse as a reply.
    const Bytes& b = address.bytes;
    find.printer = address.result == Result::Ok && b.size() >= 3 && b[0] == kFrameHeader0 && b[1] == kFrameHeader1 &&
                   b[2] == kCodeAddress;
    if (!find.printer) return find;
    if (StopRequested(options)) {
        find.name.port = port.text;
        find.name.key = "bt-name";
        find.name.read = true;
        find.name.result = Result::NotSent;
        find.name.detail = "not sent: the command was told to stop";
        return find;
    }
    read("bt-name", &find.name);
    return find;
}

}  // namespace morvane::cli
