#pragma once
// How long a pass has taken and how long it still needs, as both front ends show it.
#include <cstdint>
#include <optional>
#include <string>

namespace fw {

// "H:MM:SS", whole seconds; a negative time reads as 0:00:00.
std::string DurationText(int64_t ms);

// The time left of a pass of `totalBytes` that has reached `reachedBytes` after `elapsedMs`, at
// the average speed so far, rounded up to whole seconds (a run never shows 0:00:00 left before
// its end); none while there is nothing to estimate from.
std::optional<int64_t> TimeLeftMs(int64_t elapsedMs, int64_t reachedBytes, int64_t totalBytes);

}  // namespace fw
