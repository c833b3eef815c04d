#pragma once
// Shared pieces of the format tests: a clock moved by hand, a view that records what it was
// shown, and the format log captured without its time stamps.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "core/logs.hpp"
#include "core/user_locale.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"

namespace fw::test {

class ManualClock : public Clock {
 public:
  int64_t now = 1'000'000;
  int64_t NowMs() override { return now; }
  void SleepMs(int64_t ms) override { now += ms; }
};

class RecordingView : public FormatView {
 public:
  std::vector<int> progress;
  std::vector<std::string> percentTexts;
  std::vector<std::string> positionTexts;
  std::string speed;
  int pumps = 0;
  std::vector<std::string> calls;  // control switches, in order
  // Runs inside every pump with the pump's number (1 is the pump before the first pass).
  std::function<void(int pump)> onPump;

  void SetProgress(int percent) override { progress.push_back(percent); }
  void SetPercentText(const std::string& text) override { percentTexts.push_back(text); }
  void SetPositionText(const std::string& text) override { positionTexts.push_back(text); }
  void SetSpeedText(const std::string& text) override { speed = text; }
  std::string SpeedText() const override { return speed; }
  void PumpMessages() override {
    ++pumps;
    if (onPump) onPump(pumps);
  }
  void SetFormatControlsEnabled(bool enabled) override {
    calls.push_back(enabled ? "controls on" : "controls off");
  }
  void SetRunning(bool running) override { calls.push_back(running ? "running" : "idle"); }
};

// A session whose format log is captured; messages() are the lines without their stamps.
class FormatLogCapture {
 public:
  FormatLogCapture() {
    SetUserLocale(UserLocale{".", "%m/%d/%y", "%H:%M:%S"});
    session.SetFormatLog([this](const std::string& line) { m_lines.push_back(line); });
  }
  FormatLogCapture(const FormatLogCapture&) = delete;
  FormatLogCapture& operator=(const FormatLogCapture&) = delete;

  const std::vector<std::string>& lines() const { return m_lines; }
  // The stamp holds single blanks only, so the first run of three blanks ends it. Raw lines
  // (no stamp) are kept whole.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const std::string& line : m_lines) {
      const size_t separator = line.find("   ");
      const bool stamped = separator != std::string::npos && separator > 0 &&
                           line[0] >= '0' && line[0] <= '9';
      out.push_back(stamped ? line.substr(separator + 3) : line);
    }
    return out;
  }
  void clear() { m_lines.clear(); }

  FormatSession session;

 private:
  std::vector<std::string> m_lines;
};

}  // namespace fw::test
