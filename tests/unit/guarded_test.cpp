// The library exports' guard: whatever a body throws, the caller gets the
// failure value and no exception.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "common/guarded.h"

namespace {

TEST(Guarded, ThrowsBecomeTheFailureValue) {
    EXPECT_EQ(morvane::Guarded(-4, []() -> int { throw std::bad_alloc(); }), -4);
    EXPECT_EQ(morvane::Guarded(-4, []() -> int { return static_cast<int>(std::string().at(3)); }), -4);
    EXPECT_EQ(morvane::Guarded(0, []() -> int { throw 7; }), 0);
    EXPECT_EQ(morvane::Guarded(-4, [] { return 12; }), 12);
}

}  // namespace
