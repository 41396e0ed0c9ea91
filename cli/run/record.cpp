#include "cli/run/record.h"

#include <charconv>

namespace morvane::cli {

Record CutShort(const Record& key, bool frameLeft, const std::string& why) {
    Record r = key;
    if (!frameLeft) {
        r.result = Result::NotSent;
        r.detail = "not sent: " + why;
        return r;
    }
    r.result = Result::NoAnswer;
    r.detail = why + " before the answer came: the printer may or may not have taken it";
    int baud = 0;
    if (r.key == "baud" && std::from_chars(r.value.data(), r.value.data() + r.value.size(), baud).ec == std::errc()) {
        r.mayListenAt = baud;
        r.detail += "; it may now listen at " + r.value + " baud: morvane-cli probe -p " + r.port + " finds it";
    }
    return r;
}

}  // namespace morvane::cli
