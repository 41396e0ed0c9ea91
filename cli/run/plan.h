// Turns what the user asked for (keys, values, a profile) into checked
// requests, and each request into the frame for one printer. Every check
// happens before anything is sent.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/text/codepage.h"
#include "protocol/frames.h"
#include "protocol/settings_catalogue.h"

namespace morvane::cli {

struct Request {
    const Setting* setting = nullptr;
    bool read = false;
    std::string value;     // UTF-8 as given; "{n}" not yet replaced
    std::string origin;    // where it came from, for messages: "argument 2", "shop.txt:4"
    SetArgument argument;  // list index or number, already checked
};

// "key=value" of the set command, or one profile entry.
bool PlanSet(std::string_view key, std::string_view value, const std::string& origin, Request* request,
             std::string* error);
bool PlanGet(std::string_view key, const std::string& origin, Request* request, std::string* error);

// apply: the line speed changes last, so that every other setting travels
// at a speed known to work.
void MoveBaudLast(std::vector<Request>* requests);

// "{n}" becomes the printer's place in the port list (1-based).
std::string ExpandPlace(std::string_view text, std::size_t place);

// One request made ready for the printer at `place`: the frame in `frame`,
// the text shown for the value. False when a text does not fit (over 20
// bytes, or a character the code page lacks).
struct Step {
    const Setting* setting = nullptr;
    bool read = false;
    std::string shownValue;  // UTF-8
    std::string textBytes;   // text settings: the bytes sent
    int newBaud = 0;         // baud: the speed the printer takes
    FrameBuffer frame{};
    Frame built;
};
bool PrepareStep(const Request& request, std::size_t place, const CodePage& page, Step* step, std::string* error);

// The speed a baud value index stands for (0: 2400 ... 6: 115200).
int BaudOfIndex(int index);

}  // namespace morvane::cli
