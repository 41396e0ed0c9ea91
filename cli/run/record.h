// One record per key: what was asked of a printer, and what became of it.
// The human line and the JSON object are two views of it.
#pragma once
#include <string>

#include "cli/run/reply_reader.h"

namespace morvane::cli {

struct Record {
    std::string port;
    std::string key;
    std::string value;  // UTF-8: what was set, or what was read
    Result result = Result::NotSent;
    long long ms = 0;
    bool read = false;
    std::string hex;      // reads: the value's raw bytes
    std::string detail;   // why it is not ok, or a note
    int lineBaud = 0;     // the speed the line now runs at (an accepted baud, or probe's find)
    int mayListenAt = 0;  // a baud setting got no answer: the printer may listen at this now
    // skipSame: the printer held the text already, and nothing was set.
    bool unchanged = false;
};

// The record of a key whose job was cut short by `why` ("the command was
// interrupted"): no-answer when its frame had left (the printer may have
// taken it; a speed change may then hold), else not-sent.
Record CutShort(const Record& key, bool frameLeft, const std::string& why);

}  // namespace morvane::cli
