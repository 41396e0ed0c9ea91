// Virtual printers on TCP, as network printers take the byte stream on a
// raw socket (port 9100 by convention) and answer on the same connection.
// Each printer listens on a port of its own and serves one client at a
// time, as a printer's single socket does: a second client waits in the
// listen queue until the first one has gone. However many printers there
// are, one thread serves them all (epoll), so that hundreds fit in one
// process.
//
// Frames are read, applied and answered as on the pseudo-terminal (see
// virtual_printer.h), every fault included, with two differences:
//   - Hangup resets the client's connection (the client reads ECONNRESET);
//     the printer listens on and takes the next client. reopenAfterMs has
//     no meaning here.
//   - There is no line speed. With `pace`, the printer is as slow as a
//     network module that talks to the printer's controller over a serial
//     link at kTcpPaceBaud: a frame is in its length in byte times after
//     its first byte, and each answer (or piece of one) goes out in one
//     segment once its last byte has crossed that link. strictSpeed does
//     not apply; an accepted baud setting changes CurrentBaud() only.
//
// Every member function is thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "event_queue.h"
#include "log_writer.h"
#include "printer_model.h"
#include "reply_shaper.h"
#include "virtual_printer.h"

namespace vprinter {

constexpr long kTcpPaceBaud = 115200;

class TcpPrinters {
public:
    // `log` as for VirtualPrinter; its lines name the printer's address.
    explicit TcpPrinters(std::ostream* log = nullptr);
    ~TcpPrinters();  // Stop()
    TcpPrinters(const TcpPrinters&) = delete;
    TcpPrinters& operator=(const TcpPrinters&) = delete;

    // `count` printers on `address` (IPv4 or IPv6 literal) at port, port + 1,
    // ...; port 0 lets the system pick each one's port. Printer k (from 0)
    // is named "VirtualPrinter" and has the default address when it is the
    // only one, else "VirtualPrinter-<k+1>" and an address of its own.
    // False with a reason when a port cannot be had; nothing is left open.
    bool Start(const std::string& address, int port, std::size_t count, std::string* error);
    void Stop();
    bool IsRunning() const;

    std::size_t Count() const;
    int Port(std::size_t printer) const;
    // "tcp://127.0.0.1:9100", "tcp://[::1]:9100": as morvane-cli takes it.
    std::string Url(std::size_t printer) const;

    void SetLineOptions(const LineOptions& options);  // every printer's
    int CurrentBaud(std::size_t printer) const;

    Settings GetSettings(std::size_t printer) const;
    void SetSettings(std::size_t printer, const Settings& settings);
    void SetName(std::size_t printer, const std::string& name);
    void SetAddress(std::size_t printer, const std::string& address);
    void SetPassword(std::size_t printer, const std::string& password);

    // As VirtualPrinter's, for one printer.
    void SetBehaviour(std::size_t printer, const Behaviour& behaviour);
    void QueueBehaviour(std::size_t printer, const Behaviour& behaviour);
    void ClearBehaviours(std::size_t printer);

    std::vector<Bytes> Frames(std::size_t printer) const;
    std::vector<Bytes> Replies(std::size_t printer) const;
    std::size_t FrameCount(std::size_t printer) const;
    // Every byte clients sent, frames or not.
    std::size_t BytesReceived(std::size_t printer) const;
    std::size_t BytesDiscarded(std::size_t printer) const;
    bool WaitForFrames(std::size_t printer, std::size_t n, int timeoutMs) const;
    // True once no printer has an answer scheduled or output unwritten.
    bool WaitForIdle(int timeoutMs) const;
    void ClearFrames(std::size_t printer);

    // As VirtualPrinter's, for one printer.
    void SetChaos(std::size_t printer, std::uint64_t seed, int timeoutMs);
    ChaosLine GetChaosLine(std::size_t printer) const;
    std::vector<ChaosEntry> ChaosSince(std::size_t printer, std::uint64_t seq) const;
    std::uint64_t ChaosNext(std::size_t printer) const;

    std::size_t Connections(std::size_t printer) const;  // clients taken so far
    std::size_t Resets(std::size_t printer) const;       // connections reset by a hangup
    // The most printers that had a client at the same moment since Start().
    std::size_t PeakClients() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Station;  // one printer and its sockets

    void Loop();
    void Accept(std::size_t i);
    void Receive(std::size_t i);
    void DropClient(std::size_t i, bool reset, const char* why);
    void HandleFrame(std::size_t i, const Bytes& frame, Clock::time_point firstByte);
    void RunDue(std::size_t i);
    void Flush(std::size_t i);
    void WatchOutput(std::size_t i);
    void Wake();
    void Log(const Station& s, const std::string& line);
    Station& At(std::size_t printer) const;

    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    std::unique_ptr<LogWriter> log_;
    Clock::time_point start_;
    std::thread loop_;
    bool running_ = false;
    bool stop_ = false;
    int epoll_ = -1;
    int wake_ = -1;  // eventfd: a control call wants the loop's attention
    std::vector<std::unique_ptr<Station>> stations_;
    std::multimap<Clock::time_point, std::size_t> wakeups_;  // printers with something due
    LineOptions options_;
    std::size_t clients_ = 0;
    std::size_t peakClients_ = 0;
};

}  // namespace vprinter
