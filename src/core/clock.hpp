#pragma once
// Milliseconds on a monotonic clock. Only differences of two readings mean anything, so a
// test can hand the engine a clock that it moves by hand.
#include <chrono>
#include <cstdint>

namespace fw {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowMs() = 0;
};

class SteadyClock final : public Clock {
 public:
  int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace fw
