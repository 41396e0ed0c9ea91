// The virtual printers on TCP, from a plain socket client on loopback: one
// client at a time, each printer its own, and every fault on the socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

#include "tcp_printers.h"

namespace vprinter {
namespace {

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << std::strerror(errno);
    return fd;
}

void Send(int fd, const Bytes& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// What comes until `quietMs` pass without a byte; *error gets errno of a
// failed read.
Bytes ReadUntilQuiet(int fd, int quietMs, int* error = nullptr) {
    Bytes got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, quietMs) <= 0) return got;
        std::uint8_t buf[512];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (error != nullptr) *error = n < 0 ? errno : 0;
            return got;
        }
        got.insert(got.end(), buf, buf + n);
    }
}

const Bytes kDarkness = {0x1D, 0x46, 0x7C, 0x04};
const Bytes kReadName = {0x1D, 0x46, 0x72, 0x00};

class TcpPrintersTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(printers_.Start("127.0.0.1", 0, 3, &error)) << error;
    }
    TcpPrinters printers_;
};

TEST_F(TcpPrintersTest, OneClientAtATimeTheNextWaitsInTheQueue) {
    const int first = Connect(printers_.Port(0));
    const int second = Connect(printers_.Port(0));  // taken into the listen queue
    Send(second, kDarkness);
    EXPECT_TRUE(ReadUntilQuiet(second, 200).empty()) << "served while another client was on";
    Send(first, kReadName);
    EXPECT_EQ(HexString(ReadUntilQuiet(first, 200)).substr(0, 8), "1D 46 72");
    close(first);
    EXPECT_EQ(HexString(ReadUntilQuiet(second, 500)), "1D 46 7C 00") << "the waiting client was not taken";
    close(second);
    EXPECT_EQ(printers_.Connections(0), 2u);
    EXPECT_EQ(printers_.PeakClients(), 1u);
}

TEST_F(TcpPrintersTest, EachPrinterItsOwnNameAddressAndSettings) {
    EXPECT_NE(printers_.GetSettings(0).name, printers_.GetSettings(1).name);
    EXPECT_NE(printers_.GetSettings(0).address, printers_.GetSettings(1).address);
    const int fd = Connect(printers_.Port(2));
    Send(fd, kDarkness);
    EXPECT_EQ(HexString(ReadUntilQuiet(fd, 200)), "1D 46 7C 00");
    close(fd);
    EXPECT_EQ(printers_.GetSettings(2).darkness, 4);
    EXPECT_EQ(printers_.GetSettings(1).darkness, Settings{}.darkness);
    EXPECT_EQ(printers_.FrameCount(1), 0u);
}

TEST_F(TcpPrintersTest, EveryFaultShapesWhatTheSocketCarries) {
    const struct {
        const char* name;
        Behaviour behaviour;
        const Bytes& frame;
    } cases[] = {
        {"none", Behaviour::Normal(), kDarkness},
        {"late", Behaviour::Late(150), kDarkness},
        {"pieces", Behaviour::Pieces(1, 20), kDarkness},
        {"wrong length", Behaviour::WrongLength(2), kDarkness},
        {"truncated", Behaviour::Truncated(2), kDarkness},
        {"answer FF", Behaviour::AnswerFF(), kDarkness},
        {"prefix 11", Behaviour::Prefix11(), kReadName},
        {"stray", Behaviour::Stray(), kDarkness},
        {"value length", Behaviour::ValueLength(3, true), kReadName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        printers_.QueueBehaviour(0, c.behaviour);
        const int fd = Connect(printers_.Port(0));
        Send(fd, c.frame);
        const Bytes got = ReadUntilQuiet(fd, 300);
        close(fd);
        ASSERT_FALSE(printers_.Replies(0).empty());
        EXPECT_EQ(HexString(got), HexString(printers_.Replies(0).back()));
    }
    printers_.QueueBehaviour(0, Behaviour::Silent());
    const int silent = Connect(printers_.Port(0));
    Send(silent, kDarkness);
    EXPECT_TRUE(ReadUntilQuiet(silent, 300).empty());
    close(silent);

    // Hangup: the client's connection is reset, and the printer takes the next.
    printers_.QueueBehaviour(0, Behaviour::Hangup());
    const int cut = Connect(printers_.Port(0));
    Send(cut, kDarkness);
    int error = 0;
    EXPECT_TRUE(ReadUntilQuiet(cut, 1000, &error).empty());
    EXPECT_EQ(error, ECONNRESET);
    close(cut);
    EXPECT_EQ(printers_.Resets(0), 1u);
    const int next = Connect(printers_.Port(0));
    Send(next, kDarkness);
    EXPECT_EQ(HexString(ReadUntilQuiet(next, 300)), "1D 46 7C 00");
    close(next);
}

}  // namespace
}  // namespace vprinter
