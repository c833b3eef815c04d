#pragma once
// The format tab of a terminal: what ferrowipe-cli format shows while it writes. On a terminal,
// one progress line on standard error, redrawn in place once per block and never wider than the
// terminal; with --progress and no terminal,
// one plain line per second, so that a run under a service manager or in a pipe shows life.
// Both tell the time the run has taken and an estimate of the time it still needs.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "core/clock.hpp"
#include "core/durations.hpp"
#include "format/format_session.hpp"
#include "format/format_view.hpp"

namespace fw::cli {

// Kept: the redrawn line is only kept, for a printer that draws several disks' lines together.
enum class ProgressStyle { None, Redrawn, Lines, Kept };

ProgressStyle ChooseProgressStyle(bool stderrIsTerminal, bool progressAsked);

using ::fw::DurationText;

// The longest start of `text` (whole UTF-8 characters) that takes at most `columns`.
std::string CutToColumns(const std::string& text, size_t columns);

// The width of the terminal on `fd`, or 80 when it tells none.
int TerminalColumns(int fd);

// The redrawn line: percentage, position, speed and times, three blanks apart, within
// `columns` - 1 (the last column stays free: some terminals wrap as soon as it is written). When
// room is short the position goes first, then the speed, then the time taken (`timeLeft` is
// the time left alone); what still does not fit is cut.
std::string FitProgressLine(const std::string& percent, const std::string& position,
                            const std::string& speed, const std::string& times,
                            const std::string& timeLeft, int columns);

class TerminalView final : public FormatView {
 public:
  // stopAsked runs on every PumpMessages: true when the user asked to stop (SIGINT), which
  // becomes the session's stop request. Each pass
  // the engine starts (writing, then verifying) is timed on its own. columns gives the
  // terminal's width at each redraw (without it: standard error's, through TIOCGWINSZ).
  TerminalView(ProgressStyle style, Clock& clock, std::ostream& out, FormatSession& session,
               std::function<bool()> stopAsked, std::function<int()> columns = {});

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
  // The kept line as the last pump left it (empty before the first pass); any thread may ask.
  std::string KeptLine() const;

 private:
  std::string TimesText(int64_t now) const;
  std::string LeftText(int64_t now) const;
  void PrintPlainLine(int64_t now);

  ProgressStyle m_style;
  Clock& m_clock;
  std::ostream& m_out;
  FormatSession& m_session;
  std::function<bool()> m_stopAsked;
  std::function<int()> m_columns;

  int m_percent = 0;
  int64_t m_totalBytes = 0;
  int64_t m_reachedBytes = 0;
  std::string m_percentText, m_positionText, m_speed;
  std::optional<int64_t> m_startMs;  // when the current pass started
  int64_t m_lastLineMs = 0;
  bool m_lineShown = false;
  mutable std::mutex m_keptMutex;
  std::string m_kept;
};

}  // namespace fw::cli
