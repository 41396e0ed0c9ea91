#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vprinter {

namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;  // unread answers kept at most
constexpr std::size_t kMaxLoggedBytes = 64;
constexpr int kEioPauseMs = 50;  // no slave open: poll later
constexpr int kRequestTimeoutMs = 3000;

std::string LimitedHex(const Bytes& bytes) {
    if (bytes.size() <= kMaxLoggedBytes) return HexString(bytes);
    Bytes head(bytes.begin(), bytes.begin() + kMaxLoggedBytes);
    return HexString(head) + " ... (" + std::to_string(bytes.size()) + " bytes)";
}

}  // namespace

VirtualPrinter::VirtualPrinter(std::ostream* log)
    : log_(log != nullptr ? std::make_unique<LogWriter>(log) : nullptr), start_(Clock::now()) {}

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
    {
        std::lock_guard<std::mutex> lock(mu_);
        RemoveLinks();
        line_.Close();
        close(wakeFds_[0]);
        close(wakeFds_[1]);
        wakeFds_[0] = wakeFds_[1] = -1;
        events_.clear();
        output_.clear();
        reader_.DropPartial();
        running_ = false;
        Log("stopped");
        cv_.notify_all();
    }
    if (log_ != nullptr) log_->Flush(LogWriter::kCloseWaitMs);
}

bool VirtualPrinter::IsRunning() const {
    std::lock_guard<std::mutex> lock(mu_);
    return running_;
}

std::string VirtualPrinter::SlavePath() const {
    std::lock_guard<std::mutex> lock(mu_);
    return line_.SlavePath();
}

bool VirtualPrinter::IsOpen() const {
    std::lock_guard<std::mutex> lock(mu_);
    return line_.IsOpen();
}

bool VirtualPrinter::AddLink(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> lock(mu_);
    if (std::find(links_.begin(), links_.end(), path) == links_.end()) links_.push_back(path);
    if (line_.SlavePath().empty()) return true;  // made at Start()
    if (!PointLink(line_.SlavePath(), path, error)) return false;
    Log("link " + path + " -> " + line_.SlavePath());
    return true;
}

void VirtualPrinter::SetLineOptions(const LineOptions& options) {
    std::lock_guard<std::mutex> lock(mu_);
    options_ = options;
    ownBaud_ = options.baud;
}

LineOptions VirtualPrinter::GetLineOptions() const {
    std::lock_guard<std::mutex> lock(mu_);
    return options_;
}

int VirtualPrinter::CurrentBaud() const {
    std::lock_guard<std::mutex> lock(mu_);
    return ownBaud_;
}

long VirtualPrinter::LineSpeed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return line_.Speed();
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
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] { return frameCount_ >= n; });
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
    ReportDroppedEvents();
}

void VirtualPrinter::Hangup() {
    RunOnWorker(
        [this] {
            if (line_.IsOpen()) DoHangup("hangup requested");
        },
        kRequestTimeoutMs);
}

bool VirtualPrinter::Reopen(std::string* error) {
    struct Result {
        bool ok = false;
        std::string error = "not started";
    };
    auto result = std::make_shared<Result>();
    const bool done = RunOnWorker(
        [this, result] {
            if (line_.IsOpen()) DoHangup("reopen requested");
            result->ok = OpenLine(&result->error);
            if (result->ok) PointLinks();
        },
        kRequestTimeoutMs);
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
    if (!line_.Open(error)) return false;
    reader_.DropPartial();
    masterQuietUntil_ = Clock::time_point{};
    Log("open " + line_.SlavePath());
    return true;
}

void VirtualPrinter::DoHangup(const char* why) {
    line_.Close();
    ++hangups_;
    output_.clear();
    if (!reader_.Partial().empty()) {
        discarded_ += reader_.Partial().size();
        reader_.DropPartial();
    }
    for (auto it = events_.begin(); it != events_.end();) {
        it = it->second.kind == Event::kWrite ? events_.erase(it) : std::next(it);
    }
    Log(std::string("hangup (") + why + ")");
}

void VirtualPrinter::PointLinks() {
    for (const std::string& link : links_) {
        std::string error;
        if (PointLink(line_.SlavePath(), link, &error)) {
            Log("link " + link + " -> " + line_.SlavePath());
        } else {
            Log(error);
        }
    }
}

void VirtualPrinter::RemoveLinks() {
    for (const std::string& link : links_) {
        if (RemoveLinkTo(link, line_.SlavePath())) Log("unlink " + link);
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
    log_->Write(stamp + line);
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
    events_.emplace(when, std::move(event));  // equal times keep their order
    while (events_.size() > kMaxScheduled) {
        // The oldest write goes; a hang-up or reopen is kept.
        auto oldest =
            std::find_if(events_.begin(), events_.end(), [](const auto& e) { return e.second.kind == Event::kWrite; });
        if (oldest == events_.end()) break;
        events_.erase(oldest);
        ++droppedEvents_;
    }
    Wake();
}

void VirtualPrinter::ReportDroppedEvents() {
    if (droppedEvents_ == 0) return;
    Log("too many answers waiting: dropped the " + std::to_string(droppedEvents_) + " oldest");
    droppedEvents_ = 0;
}

std::size_t VirtualPrinter::ScheduledCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return events_.size();
}

void VirtualPrinter::HandleBytes(const std::uint8_t* data, std::size_t size) {
    lastByte_ = Clock::now();
    Bytes skipped;
    Bytes frame;
    auto flushSkipped = [&] {
        if (skipped.empty()) return;
        discarded_ += skipped.size();
        Log("skip " + LimitedHex(skipped));
        skipped.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (reader_.Partial().empty()) frameStart_ = lastByte_;
        if (reader_.Push(data[i], &frame, &skipped)) {
            flushSkipped();
            HandleFrame(frame, frameStart_);
        }
    }
    flushSkipped();
    ReportDroppedEvents();
}

void VirtualPrinter::HandleFrame(const Bytes& frame, Clock::time_point firstByte) {
    const long lineSpeed = line_.Speed();
    if (options_.strictSpeed && lineSpeed != ownBaud_) {
        // A UART at another speed reads noise, not this frame.
        discarded_ += frame.size();
        Log("ignored at " + std::to_string(lineSpeed) + " baud (printer at " + std::to_string(ownBaud_) +
            "): " + LimitedHex(frame));
        return;
    }
    frames_.push_back(frame);
    if (frames_.size() > kMaxRecorded) frames_.pop_front();
    ++frameCount_;
    Log("rx " + LimitedHex(frame));
    Behaviour b = runBehaviour_;
    if (!queued_.empty()) {
        b = queued_.front();
        queued_.pop_front();
    }
    if (b.fault != Fault::None) Log(std::string("fault ") + FaultName(b.fault));
    const Answer answer = AnswerFrame(frame, &settings_);
    ShapedReply shaped = ShapeReply(answer, b);
    auto base = Clock::now();
    if (options_.pace) {
        // The frame is in once its last byte could have crossed the wire,
        // after the frame before it.
        const Offset byteTime = ByteTime(lineSpeed);
        const Clock::time_point received =
            std::max(firstByte, inboundFree_) + byteTime * static_cast<Offset::rep>(frame.size());
        inboundFree_ = received;
        base = std::max(base, received);
        PaceOnWire(&shaped, byteTime);
    }
    if (shaped.hangup) {
        Event event;
        event.kind = Event::kHangup;
        event.reopenAfterMs = shaped.reopenAfterMs;
        Schedule(base + shaped.hangupAt, std::move(event));
    }
    if (shaped.answered) {
        replies_.push_back(shaped.reply);
        if (replies_.size() > kMaxRecorded) replies_.pop_front();
    }
    Offset lastPiece{0};
    for (Piece& piece : shaped.pieces) {
        Event event;
        event.bytes = std::move(piece.bytes);
        lastPiece = std::max(lastPiece, piece.at);
        Schedule(base + piece.at, std::move(event));
    }
    const bool accepted = answer.bytes.size() == 4 && answer.bytes[3] == 0x00;
    if (frame[2] == kCodeBaudRate && accepted && !shaped.hangup) {
        Event event;
        event.kind = Event::kSetSpeed;
        event.baud = BaudForSetting(frame[3]);
        Schedule(base + lastPiece, std::move(event));  // after the reply's last write
    }
    cv_.notify_all();
}

void VirtualPrinter::RunDueEvents() {
    while (!events_.empty() && events_.begin()->first <= Clock::now()) {
        Event event = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        switch (event.kind) {
            case Event::kWrite:
                if (!line_.IsOpen()) break;  // nobody on the line
                if (output_.size() + event.bytes.size() > kMaxOutput) {
                    Log("output full, dropped " + std::to_string(event.bytes.size()) + " bytes");
                    break;
                }
                Log("tx " + LimitedHex(event.bytes));
                output_.insert(output_.end(), event.bytes.begin(), event.bytes.end());
                break;
            case Event::kHangup:
                if (!line_.IsOpen()) break;
                DoHangup("fault");
                if (event.reopenAfterMs >= 0) {
                    Event reopen;
                    reopen.kind = Event::kReopen;
                    events_.emplace(Clock::now() + std::chrono::milliseconds(event.reopenAfterMs), std::move(reopen));
                }
                break;
            case Event::kSetSpeed:
                // Only once the status reply is out: it left at the old speed.
                FlushOutput();
                if (!output_.empty() && line_.IsOpen()) {
                    events_.emplace(Clock::now() + std::chrono::milliseconds(1), std::move(event));
                    break;
                }
                ownBaud_ = event.baud;
                Log("speed now " + std::to_string(ownBaud_) + " baud");
                break;
            case Event::kReopen: {
                if (line_.IsOpen()) break;
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
    while (!output_.empty() && line_.IsOpen()) {
        const ssize_t n = write(line_.Master(), output_.data(), output_.size());
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
        break;  // the other end's input is full: poll() says when
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
        if (!reader_.Partial().empty() && now - lastByte_ >= std::chrono::milliseconds(kSilenceMs)) {
            // Silence in the middle of a frame: the rest is not coming.
            Log("drop partial " + LimitedHex(reader_.Partial()));
            discarded_ += reader_.Partial().size();
            ++partialsDropped_;
            reader_.DropPartial();
        }

        auto deadline = Clock::time_point::max();
        if (!events_.empty()) deadline = std::min(deadline, events_.begin()->first);
        if (!reader_.Partial().empty())
            deadline = std::min(deadline, lastByte_ + std::chrono::milliseconds(kSilenceMs));
        bool pollMaster = line_.IsOpen();
        if (pollMaster && masterQuietUntil_ > now) {
            pollMaster = false;
            deadline = std::min(deadline, masterQuietUntil_);
        }
        pollfd fds[2] = {};
        fds[0].fd = wakeFds_[0];
        fds[0].events = POLLIN;
        nfds_t count = 1;
        if (pollMaster) {
            fds[1].fd = line_.Master();
            fds[1].events = static_cast<short>(POLLIN | (output_.empty() ? 0 : POLLOUT));
            count = 2;
        }
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
        }
        const int master = line_.Master();  // only this thread changes it
        cv_.notify_all();                   // WaitForIdle() and requests
        lock.unlock();

        const int ready = poll(fds, count, timeout);
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            char drain[64];
            while (read(wakeFds_[0], drain, sizeof drain) > 0) {}
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
