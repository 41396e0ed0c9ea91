// One pseudo-terminal standing in for a serial cable: we hold the master
// and a handle of our own on the slave side, so that the other end may
// close and reopen the slave without the line hanging up. Also the links
// that name the slave where a program looks for its ports.
#pragma once

#include <optional>
#include <string>

#include <termios.h>

namespace vprinter {

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine() { Close(); }
    PtyLine(PtyLine&& other) noexcept;
    PtyLine& operator=(PtyLine&& other) noexcept;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // A new pseudo-terminal: master non-blocking, slave in raw mode at 9600
    // baud. False with a reason in *error (the line stays closed).
    bool Open(std::string* error);
    // Closes both sides: the other end reads end-of-file, a hang-up.
    void Close();
    bool IsOpen() const { return master_ >= 0; }

    int Master() const { return master_; }
    int Slave() const { return slave_; }
    const std::string& SlavePath() const { return slavePath_; }  // kept after Close()

    // The speed the line is set to now, in bits per second: the termios is
    // shared by both handles on the slave, so this is what the other end
    // last set. 0 when closed or not a known speed.
    long Speed() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

long SpeedToBps(speed_t code);  // -1 when not a known speed
std::optional<speed_t> BpsToSpeed(long bps);

// Makes `link` a symbolic link to `target`, replacing what is there in one
// step, so that the other end never finds the name missing.
bool PointLink(const std::string& target, const std::string& link, std::string* error);
// Removes `link` if it still leads to `target` (someone may have re-pointed it).
bool RemoveLinkTo(const std::string& link, const std::string& target);

}  // namespace vprinter
