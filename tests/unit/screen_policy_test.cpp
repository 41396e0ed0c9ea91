// Who may read the station's screen: every request's method, Host and token.
#include "cli/station/screen/screen_policy.h"

#include <gtest/gtest.h>

namespace morvane::cli {
namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

struct Request {
    const char* method;
    const char* target;
    const char* host;  // nullptr: no Host header
    const char* bound;
    int status;
};

TEST(ScreenPolicy, AnswersOnlyReadsThatCarryTheTokenAndNameTheScreen) {
    const Request cases[] = {
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 200},
        {"HEAD", "/events?token=0123456789abcdef0123456789abcdef", "localhost:8080", "8080", 200},
        {"GET", "/state?x=1&token=0123456789abcdef0123456789abcdef", "LOCALHOST", "8080", 200},
        {"GET", "/screen.js?token=0123456789abcdef0123456789abcdef", "[::1]:8080", "[::1]:8080", 200},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "192.168.1.20:8080", "0.0.0.0:8080", 200},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "10.0.0.7:8080", "10.0.0.7:8080", 200},
        // The token: missing, wrong, a prefix of it, empty, in the path.
        {"GET", "/", "127.0.0.1:8080", "8080", 401},
        {"GET", "/?token=0123456789abcdef0123456789abcdee", "127.0.0.1:8080", "8080", 401},
        {"GET", "/?token=0123456789abcdef", "127.0.0.1:8080", "8080", 401},
        {"GET", "/?token=", "127.0.0.1:8080", "8080", 401},
        {"GET", "/0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 401},
        // A name that came to point here (DNS rebinding), another port, no Host.
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "printer.attacker.example:8080", "8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "attacker.example", "0.0.0.0:8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8081", "8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:", "8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "10.0.0.8:8080", "10.0.0.7:8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", nullptr, "8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1.attacker.example", "8080", 403},
        // Only reads.
        {"POST", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 405},
        {"OPTIONS", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 405},
        {"get", "/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 405},
        {"GET", "/journal.jsonl?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 404},
        // A request that names another site, or the token in another spelling.
        {"GET", "http://attacker.example/?token=0123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 404},
        {"GET", "/?token=%30123456789abcdef0123456789abcdef", "127.0.0.1:8080", "8080", 401},
        {"GET", "/?token=0123456789ABCDEF0123456789ABCDEF", "127.0.0.1:8080", "8080", 401},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "localhost.:8080", "8080", 403},
        {"GET", "/?token=0123456789abcdef0123456789abcdef", "[::1]:8080", "8080", 200},
    };
    for (const Request& r : cases) {
        std::string error;
        const std::optional<ScreenAddress> bound = ParseScreenAddress(r.bound, &error);
        ASSERT_TRUE(bound) << r.bound << ": " << error;
        const std::optional<std::string_view> host = r.host ? std::optional<std::string_view>(r.host) : std::nullopt;
        EXPECT_EQ(JudgeRequest(r.method, r.target, host, *bound, kToken).status, r.status)
            << r.method << " " << r.target << " Host " << (r.host ? r.host : "(none)") << " at " << r.bound;
    }
    // A screen without a token answers nobody.
    EXPECT_EQ(JudgeRequest("GET", "/?token=", "127.0.0.1:8080", *ParseScreenAddress("8080", nullptr), "").status, 401);
}

TEST(ScreenPolicy, ListensAtAnAddressNeverAName) {
    const struct {
        const char* text;
        const char* host;  // nullptr: refused
        int port;
    } cases[] = {
        {"8080", "127.0.0.1", 8080},
        {"0", "127.0.0.1", 0},
        {"0.0.0.0:80", "0.0.0.0", 80},
        {"[::1]:9", "::1", 9},
        {"localhost:7", "127.0.0.1", 7},
        {"[::]:65535", "::", 65535},
        {"65536", nullptr, 0},
        {"-1", nullptr, 0},
        {"printer.example:80", nullptr, 0},
        {"::1:80", nullptr, 0},
        {"1.2.3:80", nullptr, 0},
        {"", nullptr, 0},
        {"127.0.0.1:", nullptr, 0},
        {"256.0.0.1:80", nullptr, 0},
        {"80x", nullptr, 0},
    };
    for (const auto& c : cases) {
        std::string error;
        const std::optional<ScreenAddress> a = ParseScreenAddress(c.text, &error);
        if (c.host == nullptr) {
            EXPECT_FALSE(a) << c.text;
            EXPECT_NE(error.find(std::string("\"") + c.text + "\""), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(a) << c.text << ": " << error;
        EXPECT_EQ(a->host, c.host) << c.text;
        EXPECT_EQ(a->port, c.port) << c.text;
    }
}

}  // namespace
}  // namespace morvane::cli
