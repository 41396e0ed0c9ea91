// The tool's end of the line, for tests: opens a pseudo-terminal's slave
// side the way a program opens a serial port, writes frames, and reads
// with bounded waits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vprinter_test {

using Bytes = std::vector<std::uint8_t>;

class PtyClient {
public:
    PtyClient() = default;
    ~PtyClient();
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool Open(const std::string& path);  // raw mode, non-blocking
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Sets the line's speed, as a program sets its serial port's.
    bool SetSpeed(long bps);
    bool Write(const Bytes& bytes);
    // Reads until `count` bytes have come or `timeoutMs` has passed.
    Bytes ReadUpTo(std::size_t count, int timeoutMs);
    // Reads everything that comes within `timeoutMs`.
    Bytes ReadFor(int timeoutMs);
    // True when the line hangs up (end of file, EIO or POLLHUP) within
    // `timeoutMs`.
    bool SeesHangup(int timeoutMs);

private:
    int fd_ = -1;
};

std::string Hex(const Bytes& bytes);

}  // namespace vprinter_test
