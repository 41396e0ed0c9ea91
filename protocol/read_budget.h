// The serial port's bounded read: one call keeps asking for the rest of the
// wanted bytes until it has them or a budget of 20 empty requests is spent.
#pragma once
#include <cstdint>
#include <functional>

#include "protocol/pause.h"

namespace morvane {

constexpr int kReadRetryBudget = 20;
constexpr unsigned kReadRetryPauseMs = 20;

// Asks the device for up to `count` bytes into `dest`; returns how many came
// (a failed request returns 0 or less and counts as empty).
using ReadRequest = std::function<int(std::uint8_t* dest, int count)>;

// Returns -1 at once when wanted <= 0; otherwise the bytes gathered (0..wanted),
// in order from buf[0]. The budget is never refilled when bytes arrive.
int ReadWithBudget(const ReadRequest& request, Pause& pause, std::uint8_t* buf, int wanted);

}  // namespace morvane
