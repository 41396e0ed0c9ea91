// The printer's control API: what tests and the command call, from any
// thread. Each call takes the printer's lock for a moment; what must happen
// on the line itself is handed to the worker (printer_worker.cpp).
#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace vprinter {

namespace {

constexpr int kRequestTimeoutMs = 3000;

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
        core_.events.Clear();
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
    return core_.settings;
}

void VirtualPrinter::SetSettings(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.settings = settings;
    core_.settings.name = CutText(core_.settings.name);
    core_.settings.address = CutText(core_.settings.address);
    core_.settings.password = CutText(core_.settings.password);
}

void VirtualPrinter::SetName(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.settings.name = CutText(name);
}

void VirtualPrinter::SetAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.settings.address = CutText(address);
}

void VirtualPrinter::SetPassword(const std::string& password) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.settings.password = CutText(password);
}

void VirtualPrinter::SetBehaviour(const Behaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.runBehaviour = behaviour;
}

void VirtualPrinter::QueueBehaviour(const Behaviour& behaviour) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.queued.push_back(behaviour);
}

void VirtualPrinter::ClearBehaviours() {
    std::lock_guard<std::mutex> lock(mu_);
    core_.queued.clear();
    core_.runBehaviour = Behaviour{};
}

std::size_t VirtualPrinter::QueuedBehaviours() const {
    std::lock_guard<std::mutex> lock(mu_);
    return core_.queued.size();
}

std::vector<Bytes> VirtualPrinter::Frames() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {core_.frames.begin(), core_.frames.end()};
}

std::vector<Bytes> VirtualPrinter::Replies() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {core_.replies.begin(), core_.replies.end()};
}

std::size_t VirtualPrinter::FrameCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return core_.frameCount;
}

bool VirtualPrinter::WaitForFrames(std::size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] { return core_.frameCount >= n; });
}

bool VirtualPrinter::WaitForIdle(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                        [&] { return core_.events.Empty() && output_.empty(); });
}

void VirtualPrinter::ClearFrames() {
    std::lock_guard<std::mutex> lock(mu_);
    core_.frames.clear();
    core_.replies.clear();
    core_.frameCount = 0;
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

std::size_t VirtualPrinter::ScheduledCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return core_.events.Size();
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

}  // namespace vprinter

namespace vprinter {

void VirtualPrinter::SetChaos(std::uint64_t seed, int timeoutMs) {
    std::lock_guard<std::mutex> lock(mu_);
    core_.chaos = std::make_unique<Chaos>(seed, timeoutMs);
    Log(std::string("chaos from seed ") + std::to_string(seed) + ", the line " + ChaosLineName(core_.chaos->Line()));
}

ChaosLine VirtualPrinter::GetChaosLine() const {
    std::lock_guard<std::mutex> lock(mu_);
    return core_.chaos ? core_.chaos->Line() : ChaosLine::Plain;
}

std::vector<ChaosEntry> VirtualPrinter::ChaosSince(std::uint64_t seq) const {
    std::lock_guard<std::mutex> lock(mu_);
    return core_.book.Since(seq);
}

std::uint64_t VirtualPrinter::ChaosNext() const {
    std::lock_guard<std::mutex> lock(mu_);
    return core_.book.Next();
}

}  // namespace vprinter
