#include "pty_client.h"

#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vprinter_test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PtyClient::~PtyClient() { Close(); }

bool PtyClient::Open(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    return true;
}

bool PtyClient::SetSpeed(long bps) {
    const auto speed = vprinter::BpsToSpeed(bps);
    termios tio{};
    if (!speed || tcgetattr(fd_, &tio) != 0) return false;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
}

void PtyClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool PtyClient::Write(const Bytes& bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (RemainingMs(deadline) == 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, RemainingMs(deadline));
    }
    return true;
}

Bytes PtyClient::ReadUpTo(std::size_t count, int timeoutMs) {
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, RemainingMs(deadline)) <= 0) break;
        std::uint8_t buffer[512];
        const std::size_t want = std::min(sizeof buffer, count - got.size());
        const ssize_t n = read(fd_, buffer, want);
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;  // hung up
        }
        if (RemainingMs(deadline) == 0) break;
    }
    return got;
}

Bytes PtyClient::ReadFor(int timeoutMs) { return ReadUpTo(static_cast<std::size_t>(-1), timeoutMs); }

bool PtyClient::SeesHangup(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready <= 0) return false;
        if ((p.revents & (POLLHUP | POLLERR)) != 0) return true;
        std::uint8_t buffer[256];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno == EIO)) return true;
        if (RemainingMs(deadline) == 0) return false;
    }
}

std::string Hex(const Bytes& bytes) { return bytes.empty() ? "(nothing)" : vprinter::HexString(bytes); }

}  // namespace vprinter_test
