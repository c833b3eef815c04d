#pragma once
// Positions on a disk near the 64-bit limit: a disk of 2^63 bytes less a few MiB is possible (a
// sparse image, a thin volume), and a sum that wraps there turns into a negative offset that
// every loop would chase for ever. Each block and region computation goes through these.
#include <algorithm>
#include <cstdint>
#include <optional>

namespace fw {

// offset + length, or nothing when it passes the largest position.
inline std::optional<int64_t> CheckedEnd(int64_t offset, int64_t length) {
  int64_t end = 0;
  if (__builtin_add_overflow(offset, length, &end)) return std::nullopt;
  return end;
}

// The length of the block that starts at `position` when at most `wanted` bytes are taken and
// none at or past `end`: 0 once `position` has reached `end`. Never wraps, however close to the
// limit both lie.
inline int64_t BlockBefore(int64_t position, int64_t end, int64_t wanted) {
  if (position >= end || wanted <= 0) return 0;
  return std::min(wanted, end - position);
}

}  // namespace fw
