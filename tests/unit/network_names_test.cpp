// Network printers' names, the ranges probe --net walks, and how many jobs
// of a batch run at once.
#include <gtest/gtest.h>

#include "cli/run/batch.h"
#include "cli/net/net_range.h"
#include "cli/ports/port_name.h"
#include "cli/ports/selector.h"
#include "common/socket_address.h"

namespace {

using namespace morvane::cli;

TEST(TcpPortNames, HostAndPortAsGiven) {
    const struct {
        const char* text;
        const char* host;
        int port;
    } cases[] = {
        {"tcp://127.0.0.5", "127.0.0.5", 9100},   {"TCP://printer-3.shop:9101", "printer-3.shop", 9101},
        {"tcp://[::1]:9100", "::1", 9100},        {"tcp://[fe80::1]", "fe80::1", 9100},
        {"tcp://till_2:65535", "till_2", 65535},  {"tcp://[fe80::1%eth0]:9100", "fe80::1%eth0", 9100},
        {"tcp://[fe80::1%2]", "fe80::1%2", 9100},
    };
    for (const auto& c : cases) {
        const auto port = ParsePortName(c.text);
        ASSERT_TRUE(port.has_value()) << c.text << ": " << WhyNoPort(c.text);
        EXPECT_EQ(port->kind, PortName::Kind::Tcp) << c.text;
        EXPECT_EQ(port->host, c.host) << c.text;
        EXPECT_EQ(port->number, c.port) << c.text;
        EXPECT_EQ(port->text, c.text);
    }
}

TEST(TcpPortNames, AnIPv6AddressInBracketsIsNoGlob) {
    std::string error;
    EXPECT_FALSE(ParseSelector("tcp://[::1]:9100", &error).has_value());
    EXPECT_EQ(error, "");
}

TEST(TcpPortNames, BadOnesSayWhy) {
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {"tcp://", "no host"},
        {"tcp://:9100", "no host"},
        {"tcp://::1", "in brackets: tcp://[::1]:9100"},
        {"tcp://[::1", "closing bracket"},
        {"tcp://[::1]9100", ":PORT or nothing"},
        {"tcp://[printer]:9100", "no IPv6 address"},
        {"tcp://[%eth0]:9100", "\"\" is no IPv6 address"},
        {"tcp://[fe80::1%]:9100", "\"\" after % is no network interface"},
        {"tcp://[fe80::1%eth/0]", "\"eth/0\" after %"},
        {"tcp://host:0", "\"0\" is not a number from 1 to 65535"},
        {"tcp://host:65536", "\"65536\""},
        {"tcp://host:09100", "\"09100\""},
        {"tcp://host:", "\"\""},
        {"tcp://host/path", "holds \"/\""},
        {"tcp://a b", "holds \" \""},
        {"printer:9100", "names no port"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParsePortName(c.text).has_value()) << c.text;
        EXPECT_NE(WhyNoPort(c.text).find(c.says), std::string::npos) << c.text << ": " << WhyNoPort(c.text);
    }
}

TEST(TcpPortNames, AnInterfaceAfterALinkLocalAddressIsItsScope) {
    const struct {
        const char* host;
        bool known;
        unsigned scope;
    } cases[] = {
        {"fe80::1", true, 0},    {"fe80::1%lo", true, if_nametoindex("lo")},
        {"fe80::1%2", true, 2},  {"fe80::1%no-such-if9", false, 0},
        {"fe80::1%0", false, 0},
    };
    for (const auto& c : cases) {
        sockaddr_storage storage;
        socklen_t size = 0;
        ASSERT_EQ(morvane::SocketAddressOf(c.host, 9100, &storage, &size), c.known) << c.host;
        if (!c.known) continue;
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        EXPECT_EQ(v6.sin6_family, AF_INET6) << c.host;
        EXPECT_EQ(v6.sin6_scope_id, c.scope) << c.host;
        EXPECT_EQ(ntohs(v6.sin6_port), 9100) << c.host;
    }
}

TEST(NetRanges, HostsOfTheNetworkAndItsPort) {
    const struct {
        const char* text;
        const char* first;
        const char* last;
        std::uint64_t count;
        int port;
    } cases[] = {
        {"127.0.0.0/24", "127.0.0.1", "127.0.0.254", 254, 9100},
        {"127.0.0.0/24:9101", "127.0.0.1", "127.0.0.254", 254, 9101},
        {"127.0.4.0/22", "127.0.4.1", "127.0.7.254", 1022, 9100},
        {"127.0.0.8/31", "127.0.0.8", "127.0.0.9", 2, 9100},
        {"127.0.0.9", "127.0.0.9", "127.0.0.9", 1, 9100},
        {"10.0.0.0/8", "10.0.0.1", "10.255.255.254", 16777214, 9100},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto range = ParseNetRange(c.text, &why);
        ASSERT_TRUE(range.has_value()) << c.text << ": " << why;
        EXPECT_EQ(range->count, c.count) << c.text;
        EXPECT_EQ(HostText(*range, 0), c.first) << c.text;
        EXPECT_EQ(HostText(*range, range->count - 1), c.last) << c.text;
        EXPECT_EQ(range->port, c.port) << c.text;
    }
}

TEST(NetRanges, BadOnesSayWhy) {
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {"127.0.0.1/24", "host bits set: the network is 127.0.0.0/24"},
        {"127.0.0.0/33", "prefix length \"33\""},
        {"127.0.0.0/24:0", "TCP port \"0\""},
        {"127.0.0/24", "no IPv4 network"},
        {"127.0.0.256/32", "no IPv4 network"},
        {"printers/24", "no IPv4 network"},
        {"[::1]/64", "IPv6 networks are too large"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(ParseNetRange(c.text, &why).has_value()) << c.text;
        EXPECT_NE(why.find(c.says), std::string::npos) << c.text << ": " << why;
    }
}

TEST(BatchPlans, LocalPortsAllAtOnceNetworkBoundedFilesFirst) {
    const struct {
        const char* name;
        std::size_t local, network, jobs, room;
        bool onePool;
        std::size_t localAtOnce, networkAtOnce;
        bool bound;
    } cases[] = {
        {"serial ports only", 12, 0, 0, 1000, false, 12, 0, false},
        {"network printers, 64 at once", 0, 500, 0, 1000, false, 0, kNetworkJobs, false},
        {"both side by side", 3, 100, 0, 1000, false, 3, kNetworkJobs, false},
        {"--jobs bounds them together", 3, 100, 10, 1000, true, 10, 0, false},
        {"--jobs above the printers", 2, 2, 50, 1000, true, 4, 0, false},
        {"the file limit, network first", 3, 100, 0, 20, false, 3, 17, true},
        {"the file limit with --jobs", 0, 300, 256, 100, true, 100, 0, true},
        {"no room at all still runs", 2, 2, 0, 1, false, 1, 1, true},
    };
    for (const auto& c : cases) {
        const BatchPlan plan = PlanBatch(c.local, c.network, c.jobs, c.room);
        EXPECT_EQ(plan.onePool, c.onePool) << c.name;
        EXPECT_EQ(plan.localAtOnce, c.localAtOnce) << c.name;
        if (!c.onePool) {
            EXPECT_EQ(plan.networkAtOnce, c.networkAtOnce) << c.name;
        }
        EXPECT_EQ(plan.boundByFiles, c.bound) << c.name;
    }
}

}  // namespace
