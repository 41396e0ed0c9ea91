// The serial read budget against a fake port. Input: the wanted count (one
// signed byte), then the port's answers, one per request: a signed count
// (what ReadFile reports; the port never writes more than it was asked for)
// followed by that many bytes. The result is checked against the rule
// itself: the bytes in order from buf[0], at most 21 empty requests and 20
// pauses, the budget never refilled, nothing written past `wanted`.
#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "protocol/read_budget.h"

using namespace morvane;

namespace {

class CountingPause final : public Pause {
public:
    void Sleep(unsigned milliseconds) override {
        FUZZ_CHECK(milliseconds == kReadRetryPauseMs);
        ++pauses;
    }
    int pauses = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int wanted = static_cast<std::int8_t>(data[0]);
    std::size_t at = 1;
    std::vector<std::uint8_t> delivered;  // what the port handed over, in order
    int requests = 0, empty = 0;
    const ReadRequest request = [&](std::uint8_t* dest, int count) {
        ++requests;
        FUZZ_CHECK(count > 0 && count <= wanted);
        int got = 0;
        if (at < size) got = static_cast<std::int8_t>(data[at++]);
        const int placed = std::clamp(got, 0, count);
        for (int i = 0; i < placed; ++i) {
            const std::uint8_t b = at < size ? data[at++] : 0xA5;
            dest[i] = b;
            delivered.push_back(b);
        }
        if (got <= 0) ++empty;
        return got;
    };
    CountingPause pause;
    const std::size_t bufSize = wanted > 0 ? static_cast<std::size_t>(wanted) : 1;
    auto buf = std::make_unique<std::uint8_t[]>(bufSize);
    const int total = ReadWithBudget(request, pause, buf.get(), wanted);

    if (wanted <= 0) {
        FUZZ_CHECK(total == -1 && requests == 0 && pause.pauses == 0);
        return 0;
    }
    FUZZ_CHECK(total == static_cast<int>(delivered.size()));
    FUZZ_CHECK(total >= 0 && total <= wanted);
    FUZZ_CHECK(std::equal(delivered.begin(), delivered.end(), buf.get()));
    FUZZ_CHECK(empty <= kReadRetryBudget + 1 && pause.pauses <= kReadRetryBudget);
    // Every empty request but a last one is followed by a pause; the call
    // stops short of the wanted bytes only when the budget is spent.
    FUZZ_CHECK(pause.pauses == std::min(empty, kReadRetryBudget));
    if (total < wanted) FUZZ_CHECK(empty == kReadRetryBudget + 1);
    return 0;
}
