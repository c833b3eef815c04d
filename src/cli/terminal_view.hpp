#pragma once
// The format tab of a terminal: what ferrowipe-cli format shows while it writes. On a terminal,
// one progress line on standard error, redrawn once per block; with --progress and no terminal,
// one plain line per second, so that a run under a service manager or in a pipe shows life.
// Both tell the time the run has taken and an estimate of the time it still needs.
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "core/clock.hpp"
#include "core/durations.hpp"
#include "format/format_view.hpp"

namespace fw::cli {

enum class ProgressStyle { None, Redrawn, Lines };

ProgressStyle ChooseProgressStyle(bool stderrIsTerminal, bool progressAsked);

using ::fw::DurationText;

class TerminalView final : public FormatView {
 public:
  // stopAsked runs on every PumpMessages: true when the user asked to stop (SIGINT). Each pass
  // the engine starts (writing, then verifying) is timed on its own.
  TerminalView(ProgressStyle style, Clock& clock, std::ostream& out,
               std::function<bool()> stopAsked);

  void SetProgress(int percent) override { m_percent = percent; }
  void SetPercentText(const std::string& text) override;
  void SetPositionText(const std::string& text) override;
  void StartPass(int64_t totalBytes) override;
  void SetBytePosition(int64_t reached) override;
  void SetSpeedText(const std::string& text) override { m_speed = text; }
  std::string SpeedText() const override { return m_speed; }
  void PumpMessages() override;
  void SetFormatControlsEnabled(bool) override {}
  void SetRunning(bool) override {}

  // A log line is about to be printed: the redrawn line makes way for it.
  void ClearProgressLine();
  // The run has ended: the plain lines end with where it stopped.
  void Finish();

 private:
  std::string TimesText(int64_t now) const;
  void PrintPlainLine(int64_t now);

  ProgressStyle m_style;
  Clock& m_clock;
  std::ostream& m_out;
  std::function<bool()> m_stopAsked;

  int m_percent = 0;
  int64_t m_totalBytes = 0;
  int64_t m_reachedBytes = 0;
  std::string m_percentText, m_positionText, m_speed;
  std::optional<int64_t> m_startMs;  // when the current pass started
  int64_t m_lastLineMs = 0;
  bool m_lineShown = false;
};

}  // namespace fw::cli
