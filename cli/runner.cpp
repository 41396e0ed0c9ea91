#include "cli/runner.h"

#include <cstdio>
#include <map>

#include "protocol/hex.h"

namespace morvane::cli {

namespace {

// Writing a frame of at most 25 bytes takes milliseconds at any speed; a
// line that takes longer is stuck (flow control, a driver that hangs).
constexpr std::chrono::milliseconds kWriteBound{1000};
// After no answer: the quiet that shows a late reply is over, and the most
// the command waits for it.
constexpr std::chrono::milliseconds kQuiet{50};
constexpr std::chrono::milliseconds kQuietBound{1000};

constexpr char kMayHaveTaken[] = ": the printer may or may not have taken it";

long long Elapsed(Clock& clock, TimePoint since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - since).count();
}

ReplyForm FormOf(const Frame& frame) {
    return IsValueOperation(frame.operation) ? ReplyForm::Value : ReplyForm::Status;
}

bool StopRequested(const RunOptions& options) { return options.stop != nullptr && options.stop->load(); }

// One frame out and its reply in; the line failing shows as Result::Error.
struct Exchange {
    Line& line;
    const RunOptions& options;
    Clock& clock;
    const std::string& port;
    TimePoint start;
    int baud;
    bool lastUnanswered = false;
    // The form of the reply to each code sent, for a late answer to come.
    std::map<std::uint8_t, ReplyForm> sent;

    Reply Run(const std::uint8_t* frame, int length, ReplyForm form) {
        // A reply that did not come in time may still be on its way: let the
        // line fall quiet, so that it is not taken for the next one's.
        if (lastUnanswered) WaitForQuiet();
        // Told to stop while waiting: this frame never leaves.
        if (StopRequested(options)) {
            Reply stopped;
            stopped.result = Result::NotSent;
            stopped.detail = "not sent: the command was told to stop";
            return stopped;
        }
        line.DiscardInput();
        const std::uint8_t code = frame[2];
        sent[code] = form;
        bool written = false;
        Trace("tx", frame, static_cast<std::size_t>(length));
        std::string error;
        if (!line.Write(frame, static_cast<std::size_t>(length), clock.Now() + kWriteBound, &error)) {
            Reply failed;
            failed.result = Result::Error;
            failed.detail = "cannot send: " + error;
            return failed;
        }
        written = true;
        Expected expected;
        expected.form = form;
        expected.code = code;
        expected.formOfCode = [this](std::uint8_t other) {
            const auto found = sent.find(other);
            return found != sent.end() ? found->second : ReplyForm::Status;
        };
        expected.onDropped = [this](const Bytes& other) {
            Trace("rx (an earlier frame's answer: dropped)", other.data(), other.size());
        };
        Reply reply = ReadReply(line, clock, expected, line.IsSerial() ? baud : 0, options.timeout);
        reply.written = written;
        if (!reply.bytes.empty()) Trace("rx", reply.bytes.data(), reply.bytes.size());
        lastUnanswered = reply.result == Result::NoAnswer;
        return reply;
    }

    void WaitForQuiet() {
        const TimePoint giveUp = clock.Now() + kQuietBound;
        std::uint8_t drop[64];
        while (!StopRequested(options) && clock.Now() < giveUp &&
               line.Read(drop, sizeof drop, clock.Now() + kQuiet) > 0) {}
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
    if (stopped) return "not sent: the command was told to stop";
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
    return stamp + port + " " + direction + " " + HexBytes(bytes, size);
}

JobEnd RunPrinter(const PortName& port, const std::vector<Step>& steps, const RunOptions& options,
                  const LineOpener& open, Clock& clock, JobSink& sink) {
    JobEnd end;
    const TimePoint start = clock.Now();
    std::string error;
    std::unique_ptr<Line> line = open(port, options.baud, &error);
    if (!line) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            Record r = RecordOf(port.text, steps[i]);
            r.result = Result::Error;
            r.detail = "cannot open the port: " + error;
            sink.Done(i, r);
        }
        end.cutOff = !steps.empty();
        return end;
    }

    Exchange exchange{*line, options, clock, port.text, start, options.baud, false, {}};
    // Set once the printer's state is unknown: the keys after it are not sent.
    Result halted = Result::Ok;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        Record r = RecordOf(port.text, step);
        const bool stopped = StopRequested(options);
        if (stopped || halted != Result::Ok) {
            r.result = Result::NotSent;
            r.detail = NotSentBecause(stopped, halted);
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
        if (reply.result == Result::NotSent) end.cutOff = end.stopped = true;
        if (step.read && reply.result == Result::Ok) {
            r.value = DecodeText(options.codePage, reply.value);
            r.hex = HexOf(reply.value);
        }
        if (reply.result == Result::NoAnswer && !step.read) r.detail += kMayHaveTaken;

        if (reply.result == Result::Ok && options.verify && step.setting->rule == ArgumentRule::Text) {
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
                    r.detail = "read back \"" + DecodeText(options.codePage, back.value) + "\"";
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
                exchange.baud = step.newBaud;
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
    Exchange exchange{*line, options, clock, port.text, start, 0, false, {}};
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
        exchange.baud = speed;
        const Reply reply = exchange.Run(frame, built.length, ReplyForm::Value);
        if (reply.result == Result::Error) {
            r.result = Result::Error;
            r.detail = reply.detail;
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
    Exchange exchange{*line, options, clock, port.text, start, 0, false, {}};
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
