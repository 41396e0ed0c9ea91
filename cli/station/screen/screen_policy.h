// Who may read the station's screen, and what. The screen is a local web
// server, and local servers are attacked through the visitor's own browser:
// a page elsewhere posting to it, or a name of the attacker's that comes to
// point at 127.0.0.1 (DNS rebinding). So every request must carry the
// start's token, name the screen by an address (never by a name other than
// localhost), and only read.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace morvane::cli {

// Where the screen listens: --http [ADDR:]PORT.
struct ScreenAddress {
    std::string host = "127.0.0.1";  // as given: 127.0.0.1, 0.0.0.0, ::1 (no brackets)
    unsigned short port = 0;         // 0: a free one, known once bound
};
// Nothing, with why in *error, for text that is no [ADDR:]PORT.
std::optional<ScreenAddress> ParseScreenAddress(std::string_view text, std::string* error);
// The address as a URL's host takes it: [::1] for IPv6.
std::string UrlHost(const std::string& host);

enum class ScreenResource { Page, Script, Style, State, Events };

struct ScreenVerdict {
    int status = 200;  // 200, or 401, 403, 404, 405
    ScreenResource resource = ScreenResource::Page;
};

// The answer due to a request: METHOD TARGET with its Host header (absent:
// nullopt), to a screen bound at `bound` whose token is `token`.
ScreenVerdict JudgeRequest(std::string_view method, std::string_view target, std::optional<std::string_view> host,
                           const ScreenAddress& bound, std::string_view token);

}  // namespace morvane::cli
