#pragma once
// Milliseconds on a monotonic clock. Only differences of two readings mean anything, so a
// test can hand the engine a clock that it moves by hand.
#include <chrono>
#include <cstdint>
#include <thread>

namespace fw {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowMs() = 0;
  // Waits `ms` milliseconds between two polls of a drive that erases itself; a test's clock
  // moves its own time instead.
  virtual void SleepMs(int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
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
