#include "cli/runner.h"

#include <cstdio>

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

long long Elapsed(Clock& clock, TimePoint since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - since).count();
}

ReplyForm FormOf(const Frame& frame) {
    return IsValueOperation(frame.operation) ? ReplyForm::Value : ReplyForm::Status;
}

// One frame out and its reply in; the line failing shows as Result::Error.
struct Exchange {
    Line& line;
    const RunOptions& options;
    Clock& clock;
    const std::string& port;
    TimePoint start;
    int baud;
    bool lastUnanswered = false;

    Reply Run(const std::uint8_t* frame, int length, ReplyForm form) {
        // A reply that did not come in time may still be on its way: let the
        // line fall quiet, so that it is not taken for the next one's.
        if (lastUnanswered) WaitForQuiet();
        line.DiscardInput();
        Trace("tx", frame, static_cast<std::size_t>(length));
        std::string error;
        if (!line.Write(frame, static_cast<std::size_t>(length), clock.Now() + kWriteBound, &error)) {
            Reply failed;
            failed.result = Result::Error;
            failed.detail = "cannot send: " + error;
            return failed;
        }
        Reply reply = ReadReply(line, clock, form, line.IsSerial() ? baud : 0, options.timeout);
        if (!reply.bytes.empty()) Trace("rx", reply.bytes.data(), reply.bytes.size());
        lastUnanswered = reply.result == Result::NoAnswer;
        return reply;
    }

    void WaitForQuiet() {
        const TimePoint giveUp = clock.Now() + kQuietBound;
        std::uint8_t drop[64];
        while (clock.Now() < giveUp && line.Read(drop, sizeof drop, clock.Now() + kQuiet) > 0) {}
    }

    void Trace(const char* direction, const std::uint8_t* bytes, std::size_t size) {
        if (options.trace) options.trace(TraceLine(start, clock.Now(), port, direction, bytes, size));
    }
};

}  // namespace

std::string TraceLine(TimePoint start, TimePoint now, const std::string& port, const char* direction,
                      const std::uint8_t* bytes, std::size_t size) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f] ", std::chrono::duration<double>(now - start).count());
    return stamp + port + " " + direction + " " + HexBytes(bytes, size);
}

std::vector<Outcome> RunPrinter(const PortName& port, const std::vector<Step>& steps, const RunOptions& options,
                                const LineOpener& open, Clock& clock, std::atomic<std::size_t>* done) {
    std::vector<Outcome> outcomes;
    const auto outcomeOf = [&](const Step& step) {
        Outcome o;
        o.port = port.text;
        o.key = std::string(step.setting->key);
        o.value = step.shownValue;
        o.read = step.read;
        return o;
    };
    const auto finish = [&](Outcome o) {
        outcomes.push_back(std::move(o));
        if (done != nullptr) ++*done;
    };

    const TimePoint start = clock.Now();
    std::string error;
    std::unique_ptr<Line> line = open(port, options.baud, &error);
    if (!line) {
        for (const Step& step : steps) {
            Outcome o = outcomeOf(step);
            o.detail = "cannot open the port: " + error;
            finish(std::move(o));
        }
        return outcomes;
    }

    Exchange exchange{*line, options, clock, port.text, start, options.baud};
    bool lineFailed = false;
    for (const Step& step : steps) {
        Outcome o = outcomeOf(step);
        if (lineFailed) {
            o.detail = "not sent: the line failed before";
            finish(std::move(o));
            continue;
        }
        const TimePoint began = clock.Now();
        const Reply reply = exchange.Run(step.frame, step.built.length, FormOf(step.built));
        o.result = reply.result;
        o.detail = reply.detail;
        if (step.read && reply.result == Result::Ok) {
            o.value = DecodeText(options.codePage, reply.value);
            o.hex = HexBytes(reinterpret_cast<const std::uint8_t*>(reply.value.data()), reply.value.size());
        }
        if (reply.result == Result::Error) lineFailed = true;

        if (reply.result == Result::Ok && options.verify && step.setting->rule == ArgumentRule::Text) {
            FrameBuffer readFrame{};
            const Frame built = BuildReadFrame(readFrame, *step.setting);
            const Reply back = exchange.Run(readFrame, built.length, ReplyForm::Value);
            if (back.result != Result::Ok) {
                o.result = back.result;
                o.detail = "set, but the read-back failed: " + back.detail;
                if (back.result == Result::Error) lineFailed = true;
            } else if (back.value != step.textBytes) {
                o.result = Result::Refused;
                o.detail = "read back \"" + DecodeText(options.codePage, back.value) + "\"";
            } else {
                o.detail = "verified";
            }
        }
        if (reply.result == Result::Ok && step.newBaud != 0 && line->IsSerial()) {
            // The printer answered at the old speed and listens at the new
            // one from now on; so does this line, for the rest of the job.
            std::string why;
            if (line->SetSpeed(step.newBaud, &why)) {
                exchange.baud = step.newBaud;
                o.switchedToBaud = step.newBaud;
            } else {
                o.result = Result::Error;
                o.detail = "the printer took the speed, but the line cannot: " + why;
                lineFailed = true;
            }
        }
        o.ms = Elapsed(clock, began);
        finish(std::move(o));
    }
    return outcomes;
}

const std::vector<int>& ProbeSpeeds() {
    static const std::vector<int> speeds = {9600, 115200, 19200, 38400, 57600, 4800, 2400};
    return speeds;
}

Outcome ProbePrinter(const PortName& port, const RunOptions& options, const LineOpener& open, Clock& clock) {
    Outcome o;
    o.port = port.text;
    o.key = "bt-address";
    o.read = true;
    const TimePoint start = clock.Now();
    std::string error;
    std::unique_ptr<Line> line = open(port, ProbeSpeeds().front(), &error);
    if (!line) {
        o.detail = "cannot open the port: " + error;
        return o;
    }
    FrameBuffer frame{};
    const Frame built = BuildReadFrame(frame, *FindSetting("bt-address"));
    Exchange exchange{*line, options, clock, port.text, start, 0};
    o.result = Result::NoAnswer;
    o.detail = "no answer at any speed";
    // A line without a speed (USB, LPT) is tried once.
    const std::size_t tries = line->IsSerial() ? ProbeSpeeds().size() : 1;
    for (std::size_t i = 0; i < tries; ++i) {
        const int speed = ProbeSpeeds()[i];
        if (line->IsSerial() && !line->SetSpeed(speed, &error)) continue;
        exchange.baud = speed;
        const Reply reply = exchange.Run(frame, built.length, ReplyForm::Value);
        if (reply.result == Result::Error) {
            o.result = Result::Error;
            o.detail = reply.detail;
            break;
        }
        if (reply.result == Result::Ok) {
            o.result = Result::Ok;
            o.detail.clear();
            o.baud = line->IsSerial() ? speed : 0;
            o.value = DecodeText(options.codePage, reply.value);
            o.hex = HexBytes(reinterpret_cast<const std::uint8_t*>(reply.value.data()), reply.value.size());
            break;
        }
    }
    o.ms = Elapsed(clock, start);
    return o;
}

}  // namespace morvane::cli
