// Network printers' names and the ranges probe --net walks. Input: a text.
// A tcp:// name that is taken comes back the same from its own text; a
// refused one always says why. A range holds at least one host, its hosts
// lie inside it, and each one read back as a range is itself alone.
#include <string>

#include "cli/net/net_range.h"
#include "cli/net/tcp_address.h"
#include "fuzz_check.h"

using namespace morvane::cli;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    if (const auto address = ParseTcpAddress(text, &why)) {
        FUZZ_CHECK(!address->host.empty() && address->port >= 1 && address->port <= 65535);
        std::string again;
        const auto same = ParseTcpAddress(TcpText(*address), &again);
        FUZZ_CHECK(same && same->host == address->host && same->port == address->port);
    } else {
        FUZZ_CHECK(!why.empty());
    }

    why.clear();
    if (const auto range = ParseNetRange(text, &why)) {
        FUZZ_CHECK(range->count >= 1 && range->count <= (std::uint64_t{1} << 32));
        FUZZ_CHECK(range->port >= 1 && range->port <= 65535);
        for (const std::uint64_t i : {std::uint64_t{0}, range->count - 1}) {
            std::string alone;
            const auto host = ParseNetRange(HostText(*range, i), &alone);
            FUZZ_CHECK(host && host->count == 1 && host->first == range->first + i);
        }
    } else {
        FUZZ_CHECK(!why.empty());
    }
    return 0;
}
