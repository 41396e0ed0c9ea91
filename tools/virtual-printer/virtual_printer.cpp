#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vprinter {

namespace {

constexpr std::uint8_t kHeader0 = 0x1D;   // GS
constexpr std::uint8_t kHeader1 = 0x46;   // 'F'
constexpr std::uint8_t kStatusOk = 0x00;
constexpr std::uint8_t kStatusFail = 0xFF;
constexpr std::uint8_t kXon = 0x11;       // the byte some printers send first
constexpr std::uint8_t kCarriageReturn = 0x0D;   // closes a password frame

constexpr std::uint8_t kCodeName = 0x72;
constexpr std::uint8_t kCodeAddress = 0x74;
constexpr std::uint8_t kCodePassword = 0x77;
constexpr std::uint8_t kCodePosition = 0x82;
constexpr std::uint8_t kCodeSimplified = 0x55;
constexpr std::uint8_t kCodeTraditional = 0xAA;

constexpr int kPositionLimit = 255;
constexpr std::size_t kMaxValueText = 255;    // one length byte
constexpr std::size_t kMaxOutput = 64 * 1024; // unread answers kept at most
constexpr std::size_t kMaxLoggedBytes = 64;
constexpr int kEioPauseMs = 50;               // no slave open: poll later
constexpr int kRequestTimeoutMs = 3000;

// One-byte settings: code, where it is stored, the accepted range.
struct RangedSetting {
    std::uint8_t code;
    int Settings::*value;
    int low;
    int high;
};

constexpr RangedSetting kRangedSettings[] = {
    {0x73, &Settings::visibility, 0, 1},
    {0x78, &Settings::baudRate, 1, 7},
    {0x79, &Settings::beeper, 0, 1},
    {0x7A, &Settings::sleepTime, 0, 255},
    {0x7B, &Settings::language, 0, 1},
    {0x7C, &Settings::darkness, 1, 5},
    {0x7D, &Settings::markSensitivity, 1, 7},
    {0x7E, &Settings::gapSensitivity, 1, 7},
    {0x7F, &Settings::btMode, 0, 1},
    {0x86, &Settings::paperSensor, 0, 5},
    {0x87, &Settings::commandSet, 1, 2},
    {0x88, &Settings::paperWidth, 1, 5},
};

const RangedSetting* FindRanged(std::uint8_t code) {
    for (const auto& setting : kRangedSettings) {
        if (setting.code == code) return &setting;
    }
    return nullptr;
}

std::string CutText(const std::string& text) {
    return text.size() > kMaxValueText ? text.substr(0, kMaxValueText) : text;
}

std::string LimitedHex(const Bytes& bytes) {
    if (bytes.size() <= kMaxLoggedBytes) return HexString(bytes);
    Bytes head(bytes.begin(), bytes.begin() + kMaxLoggedBytes);
    return HexString(head) + " ... (" + std::to_string(bytes.size()) + " bytes)";
}

}  // namespace

const char* FaultName(Fault fault) {
    switch (fault) {
    case Fault::None: return "none";
    case Fault::Silent: return "silent";
    case Fault::Late: return "late";
    case Fault::Pieces: return "pieces";
    case Fault::WrongLength: return "wrong-length";
    case Fault::Truncated: return "truncated";
    case Fault::AnswerFF: return "answer-ff";
    case Fault::Prefix11: return "prefix11";
    case Fault::Stray: return "stray";
    case Fault::ValueLength: return "value-length";
    case Fault::Hangup: return "hangup";
    }
    return "?";
}

bool ParseFault(const std::string& name, Fault* fault) {
    static constexpr Fault kAll[] = {
        Fault::None, Fault::Silent, Fault::Late, Fault::Pieces, Fault::WrongLength,
        Fault::Truncated, Fault::AnswerFF, Fault::Prefix11, Fault::Stray,
        Fault::ValueLength, Fault::Hangup,
    };
    for (Fault candidate : kAll) {
        if (name == FaultName(candidate)) {
            *fault = candidate;
            return true;
        }
    }
    return false;
}

Behaviour Behaviour::Silent() {
    Behaviour b;
    b.fault = Fault::Silent;
    return b;
}

Behaviour Behaviour::Late(int ms) {
    Behaviour b;
    b.fault = Fault::Late;
    b.delayMs = ms;
    return b;
}

Behaviour Behaviour::Pieces(std::size_t pieceSize, int pauseMs) {
    Behaviour b;
    b.fault = Fault::Pieces;
    b.pieceSize = pieceSize;
    b.delayMs = pauseMs;
    return b;
}

Behaviour Behaviour::WrongLength(std::size_t extraBytes) {
    Behaviour b;
    b.fault = Fault::WrongLength;
    b.extraBytes = extraBytes;
    return b;
}

Behaviour Behaviour::Truncated(std::size_t cutTo) {
    Behaviour b;
    b.fault = Fault::Truncated;
    b.cutTo = cutTo;
    return b;
}

Behaviour Behaviour::AnswerFF() {
    Behaviour b;
    b.fault = Fault::AnswerFF;
    return b;
}

Behaviour Behaviour::Prefix11() {
    Behaviour b;
    b.fault = Fault::Prefix11;
    return b;
}

Behaviour Behaviour::Stray(std::vector<std::uint8_t> bytes) {
    Behaviour b;
    b.fault = Fault::Stray;
    b.stray = std::move(bytes);
    return b;
}

Behaviour Behaviour::ValueLength(int length, bool padValue) {
    Behaviour b;
    b.fault = Fault::ValueLength;
    b.valueLength = length;
    b.padValue = padValue;
    return b;
}

Behaviour Behaviour::Hangup(int afterMs, int reopenAfterMs) {
    Behaviour b;
    b.fault = Fault::Hangup;
    b.delayMs = afterMs;
    b.reopenAfterMs = reopenAfterMs;
    return b;
}

std::string HexString(const Bytes& bytes) {
    std::string out;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (i != 0) out += ' ';
        out += digits;
    }
    return out;
}

std::size_t FrameLength(const std::uint8_t* head, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t code = head[2];
    switch (code) {
    case kCodeName:
    case kCodePassword:
        // A length byte of 0 is the read; otherwise it counts what follows
        // (for the password, the text and its closing 0x0D).
        if (size < 4) return 0;
        return 4 + std::size_t{head[3]};
    case kCodeAddress:
    case kCodeSimplified:
    case kCodeTraditional:
        return 3;
    case kCodePosition:
        return 8;
    default:
        // Every other setting, and codes this printer does not know, carry
        // one argument byte.
        return 4;
    }
}

Answer AnswerFrame(const Bytes& frame, Settings* settings) {
    Answer answer;
    if (frame.size() < 3) return answer;
    const std::uint8_t code = frame[2];
    auto status = [&](bool ok) {
        answer.bytes = {kHeader0, kHeader1, code, ok ? kStatusOk : kStatusFail};
        return answer;
    };
    auto value = [&](const std::string& text) {
        answer.isValue = true;
        answer.text = text;
        const std::string sent = CutText(text);
        answer.bytes = {kHeader0, kHeader1, code, static_cast<std::uint8_t>(sent.size())};
        answer.bytes.insert(answer.bytes.end(), sent.begin(), sent.end());
        return answer;
    };
    auto mark = [&](std::uint8_t c) { settings->setCodes.insert(c); };

    if (frame.size() != FrameLength(frame.data(), frame.size())) return status(false);

    switch (code) {
    case kCodeName: {
        const std::size_t n = frame[3];
        if (n == 0) return value(settings->name);
        if (n > kMaxStoredText) return status(false);
        settings->name.assign(frame.begin() + 4, frame.end());
        mark(code);
        return status(true);
    }
    case kCodePassword: {
        const std::size_t n = frame[3];
        if (n == 0) return value(settings->password);
        if (frame.back() != kCarriageReturn || n - 1 > kMaxStoredText) return status(false);
        settings->password.assign(frame.begin() + 4, frame.end() - 1);
        mark(code);
        return status(true);
    }
    case kCodeAddress:
        return value(settings->address);
    case kCodeSimplified:
    case kCodeTraditional:
        settings->chineseCode = code;
        mark(code);
        return status(true);
    case kCodePosition: {
        const std::uint8_t sign = frame[3];
        const std::uint32_t magnitude = (std::uint32_t{frame[4]} << 24) | (std::uint32_t{frame[5]} << 16) |
                                        (std::uint32_t{frame[6]} << 8) | std::uint32_t{frame[7]};
        if ((sign != 0x00 && sign != 0x80) || magnitude > kPositionLimit) return status(false);
        const int m = static_cast<int>(magnitude);
        settings->position = sign == 0x80 ? -m : m;
        mark(code);
        return status(true);
    }
    default:
        break;
    }
    const RangedSetting* ranged = FindRanged(code);
    if (ranged == nullptr) return status(false);   // unknown: refused
    const int v = frame[3];
    if (v < ranged->low || v > ranged->high) return status(false);
    settings->*(ranged->value) = v;
    mark(code);
    return status(true);
}

VirtualPrinter::VirtualPrinter(std::ostream* log) : log_(log), start_(Clock::now()) {}

VirtualPrinter::~VirtualPrinter() { Stop(); }

bool VirtualPrinter::Start(std::string* error) {
    std::string scratch;
    if (error == nullptr) error = &scratch;
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) {
        *error = "already started";
        return false;
    }
    start_ = Clock::now();
    if (pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (!OpenLine(error)) {
        close(wakeFds_[0]);
        close(wakeFds_[1]);
        wakeFds_[0] = wakeFds_[1] = -1;
        return false;
    }
    PointLinks();
    stop_ = false;
    running_ = true;
    worker_ = std::thread(&VirtualPrinter::Worker, this);
    return true;
}

void VirtualPrinter::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!running_) return;
        stop_ = true;
        Wake();
    }
    worker_.join();
    std::lock_guard<std::mutex> lock(mu_);
    RemoveLinks();
    CloseLine();
    close(wakeFds_[0]);
    close(wakeFds_[1]);
    wakeFds_[0] = wakeFds_[1] = -1;
    events_.clear();
    output_.clear();
    partial_.clear();
    running_ = false;
    Log("stopped");
    cv_.notify_all();
}

bool VirtualPrinter::IsRunning() const {
    std::lock_guard<std::mutex> lock(mu_);
    return running_;
}

std::string VirtualPrinter::SlavePath() const {
    std::lock_guard<std::mutex> lock(mu_);
    return slavePath_;
}

bool VirtualPrinter::IsOpen() const {
    std::lock_guard<std::mutex> lock(mu_);
    return masterFd_ >= 0;
}

bool VirtualPrinter::AddLink(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    if (std::find(links_.begin(), links_.end(), path) == links_.end()) links_.push_back(path);
    if (slavePath_.empty()) return true;   // made at Start()
    // Replace atomically, so the other end never finds the name missing.
    const std::string temp = path + ".vprinter-new";
    unlink(temp.c_str());
    if (symlink(slavePath_.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        if (error != nullptr) *error = "link " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    Log("link " + path + " -> " + slavePath_);
    return true;
}

Settings VirtualPrinter::GetSettings() const {
    std::lock_guard<std::mutex> lock(mu_);
    return settings_;
}

void VirtualPrinter::SetSettings(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mu_);
    settings_ = settings;
    settings_.name = CutText(settings_.name);
    settings_.address = CutText(settings_.address);
    settings_.password = CutText(settings_.password);
}

void VirtualPrinter::SetName(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    settings_.name = CutText(name);
}

void VirtualPrinter::SetAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(mu_);
    settings_.address = CutText(address);
}

void VirtualPrinter::SetPassword(const std::string& password) {
    std::lock_guard<std::mutex> lock(mu_);
    settings_.password = CutText(password);
}

void VirtualPrinter::SetBehaviour(const Behaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mu_);
    runBehaviour_ = behaviour;
}

void VirtualPrinter::QueueBehaviour(const Behaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mu_);
    queued_.push_back(behaviour);
}

void VirtualPrinter::ClearBehaviours() {
    std::lock_guard<std::mutex> lock(mu_);
    queued_.clear();
    runBehaviour_ = Behaviour{};
}

std::size_t VirtualPrinter::QueuedBehaviours() const {
    std::lock_guard<std::mutex> lock(mu_);
    return queued_.size();
}

std::vector<Bytes> VirtualPrinter::Frames() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {frames_.begin(), frames_.end()};
}

std::vector<Bytes> VirtualPrinter::Replies() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {replies_.begin(), replies_.end()};
}

std::size_t VirtualPrinter::FrameCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return frameCount_;
}

bool VirtualPrinter::WaitForFrames(std::size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                        [&] { return frameCount_ >= n; });
}

bool VirtualPrinter::WaitForIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                        [&] { return events_.empty() && output_.empty(); });
}

void VirtualPrinter::ClearFrames() {
    std::lock_guard<std::mutex> lock(mu_);
    frames_.clear();
    replies_.clear();
    frameCount_ = 0;
}

void VirtualPrinter::SendRaw(const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    Event event;
    event.bytes = bytes;
    Schedule(Clock::now(), std::move(event));
}

void VirtualPrinter::Hangup() {
    RunOnWorker([this] {
        if (masterFd_ >= 0) DoHangup("hangup requested");
    }, kRequestTimeoutMs);
}

bool VirtualPrinter::Reopen(std::string* error) {
    struct Result {
        bool ok = false;
        std::string error = "not started";
    };
    auto result = std::make_shared<Result>();
    const bool done = RunOnWorker([this, result] {
        if (masterFd_ >= 0) DoHangup("reopen requested");
        result->ok = OpenLine(&result->error);
        if (result->ok) PointLinks();
    }, kRequestTimeoutMs);
    std::lock_guard<std::mutex> lock(mu_);
    if (!done || !result->ok) {
        if (error != nullptr) *error = done ? result->error : "the printer did not answer the request";
        return false;
    }
    return true;
}

std::size_t VirtualPrinter::BytesDiscarded() const {
    std::lock_guard<std::mutex> lock(mu_);
    return discarded_;
}

std::size_t VirtualPrinter::PartialFramesDropped() const {
    std::lock_guard<std::mutex> lock(mu_);
    return partialsDropped_;
}

std::size_t VirtualPrinter::HangupCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return hangups_;
}

bool VirtualPrinter::OpenLine(std::string* error) {
    auto fail = [&](const char* what) {
        *error = std::string(what) + ": " + std::strerror(errno);
        CloseLine();
        return false;
    };
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd_ < 0) return fail("posix_openpt");
    if (grantpt(masterFd_) != 0) return fail("grantpt");
    if (unlockpt(masterFd_) != 0) return fail("unlockpt");
    char name[256];
    if (ptsname_r(masterFd_, name, sizeof name) != 0) return fail("ptsname");
    // The worker never blocks on the line: reads and writes are tried and
    // poll() says when to try again.
    const int flags = fcntl(masterFd_, F_GETFL);
    if (flags < 0 || fcntl(masterFd_, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
    if (fcntl(masterFd_, F_SETFD, FD_CLOEXEC) != 0) return fail("fcntl");
    // Our own handle on the slave keeps the line up while the other end
    // closes and reopens it (the master would otherwise read EIO).
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) return fail("open slave");
    termios tio{};
    if (tcgetattr(slaveFd_, &tio) != 0) return fail("tcgetattr");
    cfmakeraw(&tio);   // no echo, no line editing, no CR/LF translation
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(slaveFd_, TCSANOW, &tio) != 0) return fail("tcsetattr");
    slavePath_ = name;
    partial_.clear();
    masterQuietUntil_ = Clock::time_point{};
    Log("open " + slavePath_);
    return true;
}

void VirtualPrinter::CloseLine() {
    if (masterFd_ >= 0) close(masterFd_);
    if (slaveFd_ >= 0) close(slaveFd_);
    masterFd_ = slaveFd_ = -1;
}

void VirtualPrinter::DoHangup(const char* why) {
    CloseLine();
    ++hangups_;
    output_.clear();
    if (!partial_.empty()) {
        discarded_ += partial_.size();
        partial_.clear();
    }
    for (auto it = events_.begin(); it != events_.end();) {
        it = it->second.kind == Event::kWrite ? events_.erase(it) : std::next(it);
    }
    Log(std::string("hangup (") + why + ")");
}

void VirtualPrinter::PointLinks() {
    for (const std::string& link : links_) {
        const std::string temp = link + ".vprinter-new";
        unlink(temp.c_str());
        if (symlink(slavePath_.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
            Log("link " + link + " failed: " + std::strerror(errno));
            unlink(temp.c_str());
        } else {
            Log("link " + link + " -> " + slavePath_);
        }
    }
}

void VirtualPrinter::RemoveLinks() {
    // Only links that still lead to us: someone may have re-pointed one.
    for (const std::string& link : links_) {
        char target[512];
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n < 0) continue;
        target[n] = '\0';
        if (slavePath_ == target) {
            unlink(link.c_str());
            Log("unlink " + link);
        }
    }
}

void VirtualPrinter::Wake() {
    if (wakeFds_[1] < 0) return;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = write(wakeFds_[1], &byte, 1);
}

void VirtualPrinter::Log(const std::string& line) {
    if (log_ == nullptr) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", seconds);
    *log_ << stamp << line << std::endl;
}

bool VirtualPrinter::RunOnWorker(std::function<void()> fn, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!running_ || stop_) return false;
    auto done = std::make_shared<bool>(false);
    requests_.push_back([fn = std::move(fn), done] {
        fn();
        *done = true;
    });
    Wake();
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return *done; });
}

void VirtualPrinter::Schedule(Clock::time_point when, Event event) {
    events_.emplace(when, std::move(event));   // equal times keep their order
    Wake();
}

void VirtualPrinter::HandleBytes(const std::uint8_t* data, std::size_t size) {
    lastByte_ = Clock::now();
    Bytes skipped;
    auto flushSkipped = [&] {
        if (skipped.empty()) return;
        discarded_ += skipped.size();
        Log("skip " + LimitedHex(skipped));
        skipped.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        partial_.push_back(data[i]);
        // Resynchronise on 0x1D 0x46. Bytes arrive one at a time here, so the
        // partial frame never outgrows the longest frame (4 + 255 bytes).
        for (;;) {
            if (partial_.empty()) break;
            if (partial_[0] != kHeader0 || (partial_.size() >= 2 && partial_[1] != kHeader1)) {
                skipped.push_back(partial_[0]);
                partial_.erase(partial_.begin());
                continue;
            }
            break;
        }
        const std::size_t need = FrameLength(partial_.data(), partial_.size());
        if (need != 0 && partial_.size() >= need) {
            flushSkipped();
            Bytes frame;
            frame.swap(partial_);
            HandleFrame(frame);
        }
    }
    flushSkipped();
}

void VirtualPrinter::HandleFrame(const Bytes& frame) {
    frames_.push_back(frame);
    if (frames_.size() > kMaxRecorded) frames_.pop_front();
    ++frameCount_;
    Log("rx " + LimitedHex(frame));
    Behaviour b = runBehaviour_;
    if (!queued_.empty()) {
        b = queued_.front();
        queued_.pop_front();
    }
    const Answer answer = AnswerFrame(frame, &settings_);
    Bytes reply = answer.bytes;
    const auto now = Clock::now();
    const auto delay = std::chrono::milliseconds(std::max(b.delayMs, 0));
    if (b.fault != Fault::None) Log(std::string("fault ") + FaultName(b.fault));

    switch (b.fault) {
    case Fault::None:
    case Fault::Late:
    case Fault::Pieces:
        break;
    case Fault::Silent:
        cv_.notify_all();
        return;
    case Fault::Hangup: {
        Event event;
        event.kind = Event::kHangup;
        event.reopenAfterMs = b.reopenAfterMs;
        Schedule(now + delay, std::move(event));
        cv_.notify_all();
        return;
    }
    case Fault::WrongLength:
        reply.insert(reply.end(), b.extraBytes, 0x00);
        break;
    case Fault::Truncated:
        reply.resize(std::min(b.cutTo, reply.size()));
        break;
    case Fault::AnswerFF:
        if (reply.size() > 3) reply[3] = kStatusFail;
        break;
    case Fault::Prefix11:
        reply.insert(reply.begin(), kXon);
        break;
    case Fault::Stray:
        reply.insert(reply.begin(), b.stray.begin(), b.stray.end());
        break;
    case Fault::ValueLength:
        if (answer.isValue && b.valueLength >= 0) {
            const auto length = static_cast<std::uint8_t>(std::min(b.valueLength, 255));
            std::string text = CutText(answer.text);
            if (b.padValue) text.resize(length, static_cast<char>(b.padByte));
            reply = {kHeader0, kHeader1, frame[2], length};
            reply.insert(reply.end(), text.begin(), text.end());
        }
        break;
    }

    replies_.push_back(reply);
    if (replies_.size() > kMaxRecorded) replies_.pop_front();
    if (b.fault == Fault::Pieces) {
        const std::size_t piece = std::max<std::size_t>(b.pieceSize, 1);
        int index = 0;
        for (std::size_t at = 0; at < reply.size(); at += piece, ++index) {
            Event event;
            event.bytes.assign(reply.begin() + at, reply.begin() + std::min(at + piece, reply.size()));
            Schedule(now + delay * index, std::move(event));
        }
    } else {
        Event event;
        event.bytes = std::move(reply);
        Schedule(b.fault == Fault::Late ? now + delay : now, std::move(event));
    }
    cv_.notify_all();
}

void VirtualPrinter::RunDueEvents() {
    while (!events_.empty() && events_.begin()->first <= Clock::now()) {
        Event event = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        switch (event.kind) {
        case Event::kWrite:
            if (masterFd_ < 0) break;   // nobody on the line
            if (output_.size() + event.bytes.size() > kMaxOutput) {
                Log("output full, dropped " + std::to_string(event.bytes.size()) + " bytes");
                break;
            }
            Log("tx " + LimitedHex(event.bytes));
            output_.insert(output_.end(), event.bytes.begin(), event.bytes.end());
            break;
        case Event::kHangup:
            if (masterFd_ < 0) break;
            DoHangup("fault");
            if (event.reopenAfterMs >= 0) {
                Event reopen;
                reopen.kind = Event::kReopen;
                events_.emplace(Clock::now() + std::chrono::milliseconds(event.reopenAfterMs), std::move(reopen));
            }
            break;
        case Event::kReopen: {
            if (masterFd_ >= 0) break;
            std::string error;
            if (OpenLine(&error)) {
                PointLinks();
            } else {
                Log("reopen failed: " + error);
            }
            break;
        }
        }
    }
}

void VirtualPrinter::FlushOutput() {
    while (!output_.empty() && masterFd_ >= 0) {
        const ssize_t n = write(masterFd_, output_.data(), output_.size());
        if (n > 0) {
            output_.erase(output_.begin(), output_.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Log(std::string("write: ") + std::strerror(errno) + ", dropped " + std::to_string(output_.size()) +
                " bytes");
            output_.clear();
        }
        break;   // the other end's input is full: poll() says when
    }
}

void VirtualPrinter::Worker() {
    std::unique_lock<std::mutex> lock(mu_);
    std::uint8_t buffer[4096];
    for (;;) {
        while (!requests_.empty()) {
            auto request = std::move(requests_.front());
            requests_.pop_front();
            request();
        }
        if (stop_) break;
        RunDueEvents();
        FlushOutput();

        auto now = Clock::now();
        if (!partial_.empty() && now - lastByte_ >= std::chrono::milliseconds(kSilenceMs)) {
            // Silence in the middle of a frame: the rest is not coming.
            Log("drop partial " + LimitedHex(partial_));
            discarded_ += partial_.size();
            ++partialsDropped_;
            partial_.clear();
        }

        auto deadline = Clock::time_point::max();
        if (!events_.empty()) deadline = std::min(deadline, events_.begin()->first);
        if (!partial_.empty()) deadline = std::min(deadline, lastByte_ + std::chrono::milliseconds(kSilenceMs));
        bool pollMaster = masterFd_ >= 0;
        if (pollMaster && masterQuietUntil_ > now) {
            pollMaster = false;
            deadline = std::min(deadline, masterQuietUntil_);
        }
        pollfd fds[2] = {};
        fds[0].fd = wakeFds_[0];
        fds[0].events = POLLIN;
        nfds_t count = 1;
        if (pollMaster) {
            fds[1].fd = masterFd_;
            fds[1].events = static_cast<short>(POLLIN | (output_.empty() ? 0 : POLLOUT));
            count = 2;
        }
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
        }
        const int master = masterFd_;   // only this thread changes it
        cv_.notify_all();               // WaitForIdle() and requests
        lock.unlock();

        const int ready = poll(fds, count, timeout);
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            char drain[64];
            while (read(wakeFds_[0], drain, sizeof drain) > 0) {
            }
        }
        ssize_t got = 0;
        bool lineDown = false;
        if (ready > 0 && pollMaster && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            got = read(master, buffer, sizeof buffer);
            // EIO: no slave handle open at all. It comes back when one is.
            lineDown = got == 0 || (got < 0 && errno == EIO);
        }

        lock.lock();
        if (got > 0) HandleBytes(buffer, static_cast<std::size_t>(got));
        if (lineDown) masterQuietUntil_ = Clock::now() + std::chrono::milliseconds(kEioPauseMs);
    }
    cv_.notify_all();
}

}  // namespace vprinter
