#include "cli/terminal_view.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/text.hpp"
#include "format/zero_fill.hpp"

namespace fw::cli {

namespace {

constexpr int64_t kLineIntervalMs = 1'000;

}  // namespace

ProgressStyle ChooseProgressStyle(bool stderrIsTerminal, bool progressAsked) {
  if (stderrIsTerminal) return ProgressStyle::Redrawn;
  return progressAsked ? ProgressStyle::Lines : ProgressStyle::None;
}

TerminalView::TerminalView(ProgressStyle style, Clock& clock, std::ostream& out,
                           std::function<bool()> stopAsked)
    : m_style(style), m_clock(clock), m_out(out), m_stopAsked(std::move(stopAsked)) {}

void TerminalView::SetPercentText(const std::string& text) { m_percentText = Trim(text); }

void TerminalView::SetPositionText(const std::string& text) { m_positionText = Trim(text); }

void TerminalView::StartPass(int64_t totalBytes) {
  m_totalBytes = totalBytes;
  m_reachedBytes = 0;
  m_startMs = m_clock.NowMs();
  m_lastLineMs = *m_startMs;
}

void TerminalView::SetBytePosition(int64_t reached) {
  m_reachedBytes = std::clamp<int64_t>(reached, 0, m_totalBytes);
}

// "0:00:42 elapsed, 0:01:10 left": the time left assumes the average speed so far.
std::string TerminalView::TimesText(int64_t now) const {
  const int64_t elapsed = m_startMs ? now - *m_startMs : 0;
  std::string text = DurationText(elapsed) + " elapsed, ";
  const std::optional<int64_t> left = TimeLeftMs(elapsed, m_reachedBytes, m_totalBytes);
  return text + (left ? DurationText(*left) : std::string("-:--:--")) + " left";
}

void TerminalView::PrintPlainLine(int64_t now) {
  const std::string speed = Trim(m_speed);
  m_out << m_percent << "% " << m_reachedBytes << " of " << m_totalBytes << " bytes, "
        << (speed.empty() ? "- MB/s" : speed) << ", " << TimesText(now) << '\n'
        << std::flush;
  m_lastLineMs = now;
}

void TerminalView::PumpMessages() {
  if (m_stopAsked && m_stopAsked()) StopRequested = true;
  if (!m_startMs) return;
  const int64_t now = m_clock.NowMs();
  if (m_style == ProgressStyle::Redrawn) {
    m_out << '\r' << m_percentText << "   " << m_positionText << "   " << Trim(m_speed) << "   "
          << TimesText(now) << "\033[K" << std::flush;
    m_lineShown = true;
  } else if (m_style == ProgressStyle::Lines && now - m_lastLineMs >= kLineIntervalMs) {
    PrintPlainLine(now);
  }
}

void TerminalView::ClearProgressLine() {
  if (!m_lineShown) return;
  m_out << "\r\033[K" << std::flush;
  m_lineShown = false;
}

void TerminalView::Finish() {
  ClearProgressLine();
  const int64_t now = m_clock.NowMs();
  if (m_style == ProgressStyle::Lines && m_startMs && now != m_lastLineMs) PrintPlainLine(now);
}

}  // namespace fw::cli
