// The Linux end of the cables that the Windows tests under Wine talk over.
// It makes pseudo-terminals, links their slave sides where Wine looks for
// ports (dosdevices/comN, lptN) or anywhere else, and takes commands from the
// Windows test over TCP on 127.0.0.1, one line each, one line back:
//
//   LINK name               make a pty; name "com5" links WINEPREFIX/dosdevices/com5,
//                           "@usb1" links <dir>/usb1     -> "OK <unix link path>"
//   UNLINK name             remove the link, close the pty
//   HANGUP name             close the pty, keep the (now dangling) link
//   SEND name ms hex        write the bytes after ms milliseconds (0: before replying)
//   READ name ms count      bytes that came from Windows: until count or ms pass -> "OK <hex>"
//   DRAIN name              bytes waiting now                     -> "OK <hex>"
//   FIFO name               like LINK, but to a FIFO: a device that is no serial line
//   OPENERS name            how many descriptors other processes hold on it -> "OK <n>"
//   TERMIOS name            -> "OK speed=9600 csize=8 parenb=0 parodd=0 cstopb=0 crtscts=0 ixon=0 ixoff=0"
//   SETTERMIOS name speed csize parenb cstopb    preset the line (to see it changed)
//   PING / QUIT
// Errors answer "ERR <why>". The address is written to --addr-file as
// "127.0.0.1:port" once the peer listens. It ends on SIGTERM, on QUIT or after
// --lifetime seconds, and removes its links.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "pty_line.h"
#include "tests/common/hex_token.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Pty {
    vprinter::PtyLine line;  // holds the slave too, so Windows opens never hang it up
    int fifoFd = -1;
    int Master() const { return fifo ? fifoFd : line.Master(); }
    int Slave() const { return line.Slave(); }
    std::string link;
    std::string device;  // what the link points at
    bool fifo = false;
};

struct PendingSend {
    Clock::time_point when;
    std::string name;
    std::string bytes;
};

struct PendingRead {
    std::string name;
    Clock::time_point deadline;
    std::size_t count = 0;
    std::string got;
};

struct Client {
    int fd = -1;
    std::string in;
    std::optional<PendingRead> read;
};

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (i == 0 && c == '@') continue;
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    }
    return name != "@";
}

class Peer {
public:
    Peer(std::string prefix, std::string dir) : prefix_(std::move(prefix)), dir_(std::move(dir)) {}
    ~Peer() {
        for (auto& [name, pty] : ptys_) Close(pty, true);
    }

    int Run(const std::string& addrFile, int lifetimeSeconds);

private:
    std::string Handle(Client& client, const std::string& line);
    std::string Link(const std::string& name, bool fifo);
    std::string LinkPath(const std::string& name) const {
        if (name[0] == '@') return dir_.empty() ? std::string() : dir_ + "/" + name.substr(1);
        return prefix_.empty() ? std::string() : prefix_ + "/dosdevices/" + name;
    }
    // Descriptors that processes other than this one hold on `device`.
    static int CountOpeners(const std::string& device) {
        namespace fs = std::filesystem;
        std::error_code ec;
        const std::string self = std::to_string(getpid());
        int count = 0;
        for (const auto& proc : fs::directory_iterator("/proc", ec)) {
            const std::string pid = proc.path().filename().string();
            if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])) || pid == self) continue;
            std::error_code fdEc;
            for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdEc)) {
                std::error_code linkEc;
                if (fs::read_symlink(fd.path(), linkEc).string() == device) ++count;
            }
        }
        return count;
    }
    static void Close(Pty& pty, bool removeLink) {
        pty.line.Close();
        if (pty.fifoFd >= 0) close(pty.fifoFd);
        pty.fifoFd = -1;
        if (removeLink && !pty.link.empty()) unlink(pty.link.c_str());
        if (removeLink && pty.fifo) unlink(pty.device.c_str());
    }
    Pty* Find(const std::string& name) {
        auto it = ptys_.find(name);
        return it == ptys_.end() || it->second.Master() < 0 ? nullptr : &it->second;
    }
    // Whatever the master can give now, without waiting.
    static std::string ReadAvailable(int fd) {
        std::string out;
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    static bool WriteAll(int fd, const std::string& bytes) {
        std::size_t done = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (done < bytes.size() && Clock::now() < deadline) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else {
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 20);
            }
        }
        return done == bytes.size();
    }
    void FinishRead(Client& client) {
        const std::string reply = "OK " + morvane::test::HexToken(client.read->got) + "\n";
        client.read.reset();
        Reply(client, reply);
        HandleLines(client);
    }
    // Commands wait while a READ of the same client is under way.
    void HandleLines(Client& client) {
        std::size_t nl;
        while (!client.read && (nl = client.in.find('\n')) != std::string::npos) {
            std::string line = client.in.substr(0, nl);
            client.in.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string reply = Handle(client, line);
            if (!client.read) Reply(client, reply + "\n");
        }
    }
    static void Reply(Client& client, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = send(client.fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    std::string prefix_;
    std::string dir_;
    std::map<std::string, Pty> ptys_;
    std::vector<PendingSend> sends_;
    bool quit_ = false;
};

std::string Peer::Link(const std::string& name, bool fifo) {
    if (auto it = ptys_.find(name); it != ptys_.end()) {
        Close(it->second, true);
        ptys_.erase(it);
    }
    const std::string link = LinkPath(name);
    if (link.empty()) return name[0] == '@' ? "ERR no --dir for @ links" : "ERR no --prefix for dosdevices links";
    Pty pty;
    if (fifo) {
        if (dir_.empty()) return "ERR no --dir for FIFOs";
        pty.fifo = true;
        pty.device = dir_ + "/fifo-" + (name[0] == '@' ? name.substr(1) : name);
        unlink(pty.device.c_str());
        if (mkfifo(pty.device.c_str(), 0600) != 0) return std::string("ERR mkfifo: ") + std::strerror(errno);
        // Held open both ways so that opening it never blocks.
        pty.fifoFd = open(pty.device.c_str(), O_RDWR | O_NONBLOCK);
        if (pty.fifoFd < 0) {
            const std::string why = std::strerror(errno);
            Close(pty, true);
            return "ERR open: " + why;
        }
    } else {
        std::string error;
        if (!pty.line.Open(&error)) return "ERR " + error;
        pty.device = pty.line.SlavePath();
        termios tio{};
        tcgetattr(pty.Slave(), &tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(pty.Slave(), TCSANOW, &tio);
    }
    std::string error;
    if (!vprinter::PointLink(pty.device, link, &error)) {
        Close(pty, true);
        return "ERR " + error;
    }
    pty.link = link;
    ptys_[name] = std::move(pty);
    return "OK " + link;
}

std::string Peer::Handle(Client& client, const std::string& line) {
    std::istringstream in(line);
    std::string cmd, name;
    in >> cmd;
    if (cmd == "PING") return "OK";
    if (cmd == "QUIT") {
        quit_ = true;
        return "OK";
    }
    in >> name;
    if (!ValidName(name)) return "ERR bad name";
    if (cmd == "LINK") return Link(name, false);
    if (cmd == "FIFO") return Link(name, true);
    if (cmd == "UNLINK") {
        auto it = ptys_.find(name);
        if (it == ptys_.end()) return "ERR no such pty";
        Close(it->second, true);
        ptys_.erase(it);
        return "OK";
    }
    Pty* pty = Find(name);
    if (pty == nullptr) return "ERR no such pty";
    if (cmd == "OPENERS") return "OK " + std::to_string(CountOpeners(pty->device));
    if (pty->fifo) return "ERR not a pty";
    if (cmd == "HANGUP") {
        Close(*pty, false);
        return "OK";
    }
    if (cmd == "SEND") {
        long ms = -1;
        std::string hex;
        in >> ms >> hex;
        const auto bytes = morvane::test::ParseHexToken(hex);
        if (ms < 0 || !bytes) return "ERR usage: SEND name ms hex";
        if (ms == 0) return WriteAll(pty->Master(), *bytes) ? "OK" : "ERR write failed";
        sends_.push_back({Clock::now() + std::chrono::milliseconds(ms), name, *bytes});
        return "OK";
    }
    if (cmd == "DRAIN") {
        const std::string got = ReadAvailable(pty->Master());
        return "OK " + morvane::test::HexToken(got);
    }
    if (cmd == "READ") {
        long ms = -1, count = -1;
        in >> ms >> count;
        if (ms < 0 || count < 1) return "ERR usage: READ name ms count";
        client.read =
            PendingRead{name, Clock::now() + std::chrono::milliseconds(ms), static_cast<std::size_t>(count), {}};
        return {};  // answered when the bytes are in or the time is up
    }
    if (cmd == "TERMIOS") {
        termios tio{};
        if (tcgetattr(pty->Master(), &tio) != 0) return std::string("ERR tcgetattr: ") + std::strerror(errno);
        int csize = 0;
        switch (tio.c_cflag & CSIZE) {
            case CS5: csize = 5; break;
            case CS6: csize = 6; break;
            case CS7: csize = 7; break;
            case CS8: csize = 8; break;
        }
        std::ostringstream out;
        out << "OK speed=" << vprinter::SpeedToBps(cfgetospeed(&tio)) << " csize=" << csize
            << " parenb=" << ((tio.c_cflag & PARENB) ? 1 : 0) << " parodd=" << ((tio.c_cflag & PARODD) ? 1 : 0)
            << " cstopb=" << ((tio.c_cflag & CSTOPB) ? 1 : 0) << " crtscts=" << ((tio.c_cflag & CRTSCTS) ? 1 : 0)
            << " ixon=" << ((tio.c_iflag & IXON) ? 1 : 0) << " ixoff=" << ((tio.c_iflag & IXOFF) ? 1 : 0);
        return out.str();
    }
    if (cmd == "SETTERMIOS") {
        long bps = 0;
        int csize = 0, parenb = 0, cstopb = 0;
        in >> bps >> csize >> parenb >> cstopb;
        const auto speed = vprinter::BpsToSpeed(bps);
        if (!speed || csize < 5 || csize > 8) return "ERR usage: SETTERMIOS name speed csize parenb cstopb";
        termios tio{};
        tcgetattr(pty->Slave(), &tio);
        cfsetispeed(&tio, *speed);
        cfsetospeed(&tio, *speed);
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | sizes[csize - 5] | (parenb ? PARENB : 0) |
                      (cstopb ? CSTOPB : 0);
        return tcsetattr(pty->Slave(), TCSANOW, &tio) == 0 ? "OK"
                                                           : std::string("ERR tcsetattr: ") + std::strerror(errno);
    }
    return "ERR unknown command";
}

int Peer::Run(const std::string& addrFile, int lifetimeSeconds) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;  // the system picks a free port
    socklen_t len = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 8) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("pty_peer: listen");
        return 1;
    }
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    if (!addrFile.empty()) {
        const std::string tmp = addrFile + ".tmp";
        std::ofstream(tmp) << address << "\n";
        std::rename(tmp.c_str(), addrFile.c_str());  // readers never see half a line
    }
    std::cout << address << std::endl;

    std::vector<Client> clients;
    const auto end = Clock::now() + std::chrono::seconds(lifetimeSeconds);
    while (!g_stop && !quit_ && Clock::now() < end) {
        // Due sends first, in the order they were asked for.
        const auto now = Clock::now();
        for (auto it = sends_.begin(); it != sends_.end();) {
            if (it->when <= now) {
                if (Pty* pty = Find(it->name)) WriteAll(pty->Master(), it->bytes);
                it = sends_.erase(it);
            } else {
                ++it;
            }
        }
        // Pending reads: gather, and answer when complete or out of time.
        for (auto& client : clients) {
            if (!client.read) continue;
            if (Pty* pty = Find(client.read->name)) {
                char buf[4096];
                const std::size_t want = std::min(sizeof buf, client.read->count - client.read->got.size());
                const ssize_t n = read(pty->Master(), buf, want);
                if (n > 0) client.read->got.append(buf, static_cast<std::size_t>(n));
            }
            if (client.read->got.size() >= client.read->count || Clock::now() >= client.read->deadline ||
                Find(client.read->name) == nullptr)
                FinishRead(client);
        }

        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        for (const auto& client : clients) fds.push_back({client.fd, POLLIN, 0});
        int timeout = 200;
        for (const auto& s : sends_) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(s.when - Clock::now()).count();
            timeout = std::min<int>(timeout, static_cast<int>(std::max<long long>(ms, 0)));
        }
        bool reading = false;
        for (const auto& client : clients) {
            if (client.read) {
                reading = true;
                if (Pty* pty = Find(client.read->name)) fds.push_back({pty->Master(), POLLIN, 0});
            }
        }
        if (reading) timeout = std::min(timeout, 5);
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;

        if (fds[0].revents & POLLIN) {
            const int fd = accept(listener, nullptr, nullptr);
            if (fd >= 0) clients.push_back({fd, {}, {}});
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client& client = clients[i];
            const pollfd& p = fds[1 + i];
            if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = recv(client.fd, buf, sizeof buf, 0);
            if (n <= 0) {
                close(client.fd);
                client.fd = -1;
                continue;
            }
            client.in.append(buf, static_cast<std::size_t>(n));
            HandleLines(client);
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (auto& client : clients) close(client.fd);
    close(listener);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string prefix, dir, addrFile;
    int lifetime = 900;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--prefix")
            prefix = argv[i + 1];
        else if (opt == "--dir")
            dir = argv[i + 1];
        else if (opt == "--addr-file")
            addrFile = argv[i + 1];
        else if (opt == "--lifetime")
            lifetime = std::atoi(argv[i + 1]);
        else {
            std::cerr << "usage: pty_peer [--prefix WINEPREFIX] [--dir LINKDIR] [--addr-file FILE] [--lifetime S]\n";
            return 2;
        }
    }
    if (prefix.empty()) {
        if (const char* env = std::getenv("WINEPREFIX")) prefix = env;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    Peer peer(prefix, dir);
    return peer.Run(addrFile, lifetime > 0 ? lifetime : 900);
}
