// The command's line layer: one small interface over a printer cable. The
// POSIX side drives tty lines with termios and USB and parallel printers as
// device files; the Windows side drives COM ports itself and USB and LPT
// ports through the port library. CMake picks the side.
//
// A line is the command's alone while it is open (a lock on the device, or
// the system's exclusive open), and closing it puts back the line settings
// it found.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/ports/port_info.h"
#include "cli/ports/port_name.h"

namespace morvane::cli {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

// Of the bytes a discard drops, how many it hands back to be looked at.
constexpr std::size_t kKeptDiscard = 1024;

class Line {
public:
    virtual ~Line() = default;
    // A serial line: it has a speed, and value replies may carry the 0x11 prefix.
    virtual bool IsSerial() const = 0;
    virtual bool SetSpeed(int baud, std::string* error) = 0;
    // Drops whatever input is waiting (late answers to earlier frames) and
    // says how many bytes that was; the first of them are added to *kept.
    virtual std::size_t DiscardInput(std::vector<std::uint8_t>* kept) = 0;
    virtual bool Write(const std::uint8_t* data, std::size_t size, TimePoint deadline, std::string* error) = 0;
    // Waits until at least one byte is there or the deadline passes; returns
    // the bytes read (at most `max`), 0 at the deadline, -1 when the line failed.
    virtual int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) = 0;
    // The quiet after a reply that proves no more bytes of it are coming:
    // a USB-serial adapter holds bytes back for its latency timer.
    virtual std::chrono::milliseconds MinimumSettle() const { return std::chrono::milliseconds(0); }
    // Why the last Read() returned -1, when the line can tell more than
    // that it failed ("the connection was reset").
    virtual std::string FailureText() const { return {}; }
};

// Whether this platform can reach such a port at all; *why says it when not.
bool CheckPortName(const PortName& port, std::string* why);

// A port another program has: who, where the system tells ("ModemManager
// (pid 812)"), else empty.
struct PortBusy {
    bool busy = false;
    std::string holder;
};
// Nothing, with the reason in *error, when the port cannot be opened or is
// in use by another program (then *busy says so, when given).
std::unique_ptr<Line> OpenLine(const PortName& port, int baud, std::string* error, PortBusy* busy = nullptr);
// Whether the port is there now (it may still be in use): for the station,
// which takes a port by its name whenever it can.
bool PortPresent(const PortName& port);

// Puts back the settings of every line still open, at once: for a command
// that ends without closing them.
void RestoreOpenLines();

// The machine's ports with who they are (see port_info.h). Nothing is
// opened to find out.
std::vector<PortInfo> ListPorts();
// Fills in what only opening a port tells (Windows: whether another program
// has a COM port); for `ports`, never while a run is using ports.
void AddOpenedAccess(std::vector<PortInfo>* ports);

}  // namespace morvane::cli
