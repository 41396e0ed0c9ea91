// The command's line on POSIX: tty devices through termios (raw, 8N1, no
// flow control), USB and parallel printers as plain device files. A line is
// locked with flock(2), the way serial tools agree that a port is taken
// (TIOCEXCL alone does not stop root), and a tty gets back the settings it
// had when the command opened it, as picocom does.
#include "cli/run/line.h"
#include "cli/run/deadline.h"

#include <cerrno>
#include <cstring>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "cli/posix/lock_holders.h"
#include "cli/posix/open_errors.h"
#include "cli/posix/sysfs_ports.h"
#include "cli/net/tcp_line.h"

namespace morvane::cli {

namespace {

bool SpeedOf(int baud, speed_t* speed) {
    switch (baud) {
        case 2400: *speed = B2400; return true;
        case 4800: *speed = B4800; return true;
        case 9600: *speed = B9600; return true;
        case 19200: *speed = B19200; return true;
        case 38400: *speed = B38400; return true;
        case 57600: *speed = B57600; return true;
        case 115200: *speed = B115200; return true;
        default: return false;
    }
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The settings of every tty the command has open, as it found them: what
// RestoreOpenLines() puts back when the command ends without closing them.
class FoundSettings {
public:
    void Keep(int fd, const termios& tio) {
        std::lock_guard<std::mutex> lock(mu_);
        found_[fd] = tio;
    }
    void Forget(int fd) {
        std::lock_guard<std::mutex> lock(mu_);
        found_.erase(fd);
    }
    void RestoreAll() {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto& [fd, tio] : found_) tcsetattr(fd, TCSANOW, &tio);
    }

private:
    std::mutex mu_;
    std::map<int, termios> found_;
};

FoundSettings& Found() {
    static FoundSettings* found = new FoundSettings;  // used up to the last moment of the process
    return *found;
}

class PosixLine : public Line {
public:
    // Owns fd from here on.
    PosixLine(int fd, bool tty) : fd_(fd), tty_(tty) {}
    ~PosixLine() override {
        if (restore_) {
            tcsetattr(fd_, TCSANOW, &found_);
            Found().Forget(fd_);
        }
        if (madeExclusive_) ioctl(fd_, TIOCNXCL);
        close(fd_);  // and with it the lock
    }

    // Takes the line for this command alone; *error says who has it when not.
    bool Take(const std::string& path, std::string* error, PortBusy* busy) {
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                *error = path + ": cannot lock the port: " + std::strerror(errno);
                return false;
            }
            struct stat st {};
            busy->busy = true;
            busy->holder = fstat(fd_, &st) == 0 ? FlockHolder(st.st_dev, st.st_ino) : std::string();
            *error = InUse(path, busy->holder, "it holds a lock on the port");
            return false;
        }
        if (!tty_) return true;
        int exclusive = 0;
        if (ioctl(fd_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            // Set by a program that has it open now: only root gets this far.
            busy->busy = true;
            busy->holder = OpenerOf(path);
            *error = InUse(path, busy->holder, "it opened the port for itself alone");
            return false;
        }
        if (ioctl(fd_, TIOCEXCL) != 0) {
            *error = path + ": cannot take the port for this command alone: " + std::strerror(errno);
            return false;
        }
        madeExclusive_ = true;
        if (tcgetattr(fd_, &found_) != 0) {
            *error = Errno(path.c_str());
            return false;
        }
        restore_ = true;
        Found().Keep(fd_, found_);
        return true;
    }
    PosixLine(const PosixLine&) = delete;
    PosixLine& operator=(const PosixLine&) = delete;

    bool IsSerial() const override { return tty_; }

    bool SetSpeed(int baud, std::string* error) override {
        if (!tty_) return true;
        speed_t speed;
        if (!SpeedOf(baud, &speed)) {
            *error = "no such line speed: " + std::to_string(baud);
            return false;
        }
        termios tio{};
        if (tcgetattr(fd_, &tio) != 0) {
            *error = Errno("tcgetattr");
            return false;
        }
        cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        // With O_NONBLOCK, VMIN 1 makes an empty line read EAGAIN, so that
        // a read of 0 bytes means the line hung up.
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
            *error = Errno("tcsetattr");
            return false;
        }
        return true;
    }

    std::size_t DiscardInput(std::vector<std::uint8_t>* kept) override {
        // Read first, so that what is dropped can be looked at; bounded: a
        // line that never stops talking must not hold us here.
        std::size_t dropped = 0;
        std::uint8_t drain[256];
        for (int i = 0; i < kMaxDrainReads; ++i) {
            const ssize_t n = read(fd_, drain, sizeof drain);
            if (n <= 0) break;
            dropped += static_cast<std::size_t>(n);
            if (kept != nullptr && kept->size() < kKeptDiscard)
                kept->insert(kept->end(), drain, drain + std::min<std::size_t>(n, kKeptDiscard - kept->size()));
        }
        if (tty_) {
            int waiting = 0;
            if (ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) dropped += static_cast<std::size_t>(waiting);
            tcflush(fd_, TCIFLUSH);
        }
        return dropped;
    }

    std::chrono::milliseconds MinimumSettle() const override { return settle_; }
    void SetMinimumSettle(std::chrono::milliseconds settle) { settle_ = settle; }

    bool Write(const std::uint8_t* data, std::size_t size, TimePoint deadline, std::string* error) override {
        std::size_t sent = 0;
        while (sent < size) {
            const ssize_t n = write(fd_, data + sent, size - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                *error = Errno("write");
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            const int ready = poll(&p, 1, MsUntil(deadline));
            if (ready == 0) {
                *error = "the line takes no more bytes";
                return false;
            }
            if (ready < 0 && errno != EINTR) {
                *error = Errno("poll");
                return false;
            }
        }
        return true;
    }

    int Read(std::uint8_t* buf, std::size_t max, TimePoint deadline) override {
        for (;;) {
            const ssize_t n = read(fd_, buf, max);
            if (n > 0) return static_cast<int>(n);
            if (n == 0 && tty_) return -1;  // hung up
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
            const int wait = MsUntil(deadline);
            if (wait == 0) return 0;
            pollfd p{fd_, POLLIN, 0};
            const int ready = poll(&p, 1, wait);
            if (ready == 0) return 0;
            if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) return -1;
        }
    }

private:
    static constexpr int kMaxDrainReads = 64;
    int fd_;
    bool tty_;
    bool madeExclusive_ = false;
    bool restore_ = false;
    termios found_{};  // the tty's settings when the command opened it
    std::chrono::milliseconds settle_{0};
};

std::string OpenError(const std::string& path, PortBusy* busy) {
    switch (errno) {
        case EACCES:
        case EPERM: return PermissionDenied(path);
        case ENOENT:
        case ENXIO:
        case ENODEV: return NoSuchPort(path);
        case EBUSY:
            busy->busy = true;
            busy->holder = OpenerOf(path);
            return InUse(path, busy->holder, "it opened the port for itself alone");
        default: return Errno(path.c_str());
    }
}

// A USB-serial adapter (ttyUSBn, ttyACMn) passes bytes on at every tick of
// its latency timer (16 ms by default): wait a tick and a little more.
std::chrono::milliseconds AdapterLatency(const std::string& path) {
    char real[PATH_MAX];
    if (realpath(path.c_str(), real) == nullptr) return std::chrono::milliseconds(0);
    const std::string full(real);
    const std::string name = full.substr(full.find_last_of('/') + 1);
    std::ifstream timer("/sys/class/tty/" + name + "/device/latency_timer");
    int ms = 0;
    if (timer >> ms && ms > 0) return std::chrono::milliseconds(ms + 2);
    if (name.rfind("ttyACM", 0) == 0 || name.rfind("ttyUSB", 0) == 0) return std::chrono::milliseconds(18);
    return std::chrono::milliseconds(0);
}

// USBn: and LPTn on Linux: the n-th USB printer and the n-th parallel port.
std::string DevicePath(const PortName& port) {
    switch (port.kind) {
        case PortName::Kind::Usb: return "/dev/usb/lp" + std::to_string(port.number - 1);
        case PortName::Kind::Lpt: return "/dev/lp" + std::to_string(port.number - 1);
        default: return port.text;
    }
}

}  // namespace

bool CheckPortName(const PortName& port, std::string* why) {
    if (port.kind == PortName::Kind::Com) {
        *why = "COM ports are Windows names; name the device, such as /dev/ttyUSB0 or /dev/ttyS0";
        return false;
    }
    return true;
}

std::unique_ptr<Line> OpenLine(const PortName& port, int baud, std::string* error, PortBusy* busy) {
    PortBusy unused;
    if (busy == nullptr) busy = &unused;
    if (port.kind == PortName::Kind::Tcp) return OpenTcpLine(port, kDefaultConnectTimeout, error);
    const std::string path = DevicePath(port);
    // Serial tools that take a port by a lock file (minicom) do not flock it;
    // the port is theirs before it is even opened here.
    if (const std::optional<UucpLock> lock = LiveUucpLock("", path)) {
        busy->busy = true;
        busy->holder = HolderOf(lock->pid);
        *error = InUse(path, busy->holder, "it holds the lock file " + lock->file);
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = OpenError(path, busy);
        return nullptr;
    }
    auto line = std::make_unique<PosixLine>(fd, isatty(fd) == 1);
    // One program on a printer at a time: a second one would read our replies.
    if (!line->Take(path, error, busy)) return nullptr;
    line->SetMinimumSettle(AdapterLatency(path));
    if (!line->SetSpeed(baud, error)) return nullptr;
    return line;
}

bool PortPresent(const PortName& port) {
    if (port.kind == PortName::Kind::Tcp) return true;
    struct stat st {};
    return stat(DevicePath(port).c_str(), &st) == 0;
}

void RestoreOpenLines() { Found().RestoreAll(); }

}  // namespace morvane::cli
