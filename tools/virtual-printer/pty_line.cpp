#include "pty_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace vprinter {

namespace {

struct SpeedName {
    speed_t code;
    long bps;
};
const SpeedName kSpeeds[] = {{B1200, 1200},     {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
                             {B19200, 19200},   {B38400, 38400},   {B57600, 57600},  {B115200, 115200},
                             {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};

}  // namespace

long SpeedToBps(speed_t code) {
    for (const auto& s : kSpeeds)
        if (s.code == code) return s.bps;
    return -1;
}

std::optional<speed_t> BpsToSpeed(long bps) {
    for (const auto& s : kSpeeds)
        if (s.bps == bps) return s.code;
    return std::nullopt;
}

PtyLine::PtyLine(PtyLine&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      slavePath_(std::move(other.slavePath_)) {}

PtyLine& PtyLine::operator=(PtyLine&& other) noexcept {
    if (this != &other) {
        Close();
        master_ = std::exchange(other.master_, -1);
        slave_ = std::exchange(other.slave_, -1);
        slavePath_ = std::move(other.slavePath_);
    }
    return *this;
}

bool PtyLine::Open(std::string* error) {
    Close();
    auto fail = [&](const char* what) {
        *error = std::string(what) + ": " + std::strerror(errno);
        Close();
        return false;
    };
    // Reads and writes on the master are tried and poll() says when to try
    // again, so whoever serves the line never blocks on it.
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) return fail("posix_openpt");
    if (grantpt(master_) != 0) return fail("grantpt");
    if (unlockpt(master_) != 0) return fail("unlockpt");
    char name[256];
    if (ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname");
    // Our own handle on the slave keeps the line up while the other end
    // closes and reopens it (the master would otherwise read EIO).
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return fail("open slave");
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return fail("tcgetattr");
    cfmakeraw(&tio);  // no echo, no line editing, no CR/LF translation
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) return fail("tcsetattr");
    slavePath_ = name;
    return true;
}

void PtyLine::Close() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
}

long PtyLine::Speed() const {
    termios tio{};
    if (slave_ < 0 || tcgetattr(slave_, &tio) != 0) return 0;
    const long bps = SpeedToBps(cfgetospeed(&tio));
    return bps > 0 ? bps : 0;
}

bool PointLink(const std::string& target, const std::string& link, std::string* error) {
    const std::string temp = link + ".vprinter-new";
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
        if (error != nullptr) *error = "link " + link + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

bool RemoveLinkTo(const std::string& link, const std::string& target) {
    char seen[512];
    const ssize_t n = readlink(link.c_str(), seen, sizeof seen - 1);
    if (n < 0) return false;
    seen[n] = '\0';
    return target == seen && unlink(link.c_str()) == 0;
}

}  // namespace vprinter
