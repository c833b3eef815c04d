#include "core/durations.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fw {

std::string DurationText(int64_t ms) {
  const int64_t seconds = std::max<int64_t>(ms, 0) / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

std::optional<int64_t> TimeLeftMs(int64_t elapsedMs, int64_t reachedBytes, int64_t totalBytes) {
  if (reachedBytes <= 0 || elapsedMs <= 0) return std::nullopt;
  const double left = static_cast<double>(std::max<int64_t>(totalBytes - reachedBytes, 0)) *
                      static_cast<double>(elapsedMs) / static_cast<double>(reachedBytes);
  return static_cast<int64_t>(std::ceil(left / 1000.0)) * 1000;
}

}  // namespace fw
