// The operator's screen: a small web server, on a thread of its own, that
// serves the station's page and follows its board live (Server-Sent
// Events). It answers only requests that carry this start's token and name
// it by its address or localhost, and only reads.
#pragma once
#include <memory>
#include <string>

#include "cli/station/screen/screen_policy.h"
#include "cli/station/station_board.h"

namespace morvane::cli {

class StationScreen {
public:
    // Listening at `address` (port 0: a free one), or nothing with why in
    // *error. The board must outlive the screen.
    static std::unique_ptr<StationScreen> Start(const ScreenAddress& address, const StationBoard& board,
                                                std::string* error);
    // Stops listening, ends every connection and joins the thread.
    ~StationScreen();
    StationScreen(const StationScreen&) = delete;
    StationScreen& operator=(const StationScreen&) = delete;

    // http://ADDR:PORT/?token=TOKEN
    std::string Url() const;

    struct Impl;

private:
    explicit StationScreen(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace morvane::cli
