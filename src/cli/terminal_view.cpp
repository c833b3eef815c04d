#include "cli/terminal_view.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "core/text.hpp"

namespace fw::cli {

namespace {

constexpr int64_t kLineIntervalMs = 1'000;
constexpr int kDefaultColumns = 80;
constexpr std::string_view kGap = "   ";

}  // namespace

std::string CutToColumns(const std::string& text, size_t columns) {
  size_t used = 0;
  size_t end = 0;
  while (end < text.size()) {
    size_t next = end + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    const size_t width = DisplayColumns(std::string_view(text).substr(end, next - end));
    if (used + width > columns) break;
    used += width;
    end = next;
  }
  return text.substr(0, end);
}

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultColumns;
  return size.ws_col;
}

std::string FitProgressLine(const std::string& percent, const std::string& position,
                            const std::string& speed, const std::string& times,
                            const std::string& timeLeft, int columns) {
  const size_t room = static_cast<size_t>(std::max(columns, 2) - 1);
  const std::vector<std::vector<const std::string*>> choices{
      {&percent, &position, &speed, &times},
      {&percent, &speed, &times},
      {&percent, &times},
      {&percent, &timeLeft},
  };
  std::string line;
  for (const auto& parts : choices) {
    line.clear();
    for (const std::string* part : parts) {
      if (part->empty()) continue;
      if (!line.empty()) line += kGap;
      line += *part;
    }
    if (DisplayColumns(line) <= room) return line;
  }
  return CutToColumns(line, room);
}

ProgressStyle ChooseProgressStyle(bool stderrIsTerminal, bool progressAsked) {
  if (stderrIsTerminal) return ProgressStyle::Redrawn;
  return progressAsked ? ProgressStyle::Lines : ProgressStyle::None;
}

TerminalView::TerminalView(ProgressStyle style, Clock& clock, std::ostream& out,
                           FormatSession& session, std::function<bool()> stopAsked,
                           std::function<int()> columns)
    : m_style(style),
      m_clock(clock),
      m_out(out),
      m_session(session),
      m_stopAsked(std::move(stopAsked)),
      m_columns(columns ? std::move(columns) : [] { return TerminalColumns(STDERR_FILENO); }) {}

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

// "0:01:10 left": the time left assumes the average speed so far.
std::string TerminalView::LeftText(int64_t now) const {
  const int64_t elapsed = m_startMs ? now - *m_startMs : 0;
  const std::optional<int64_t> left = TimeLeftMs(elapsed, m_reachedBytes, m_totalBytes);
  return (left ? DurationText(*left) : std::string("-:--:--")) + " left";
}

// "0:00:42 elapsed, 0:01:10 left"
std::string TerminalView::TimesText(int64_t now) const {
  const int64_t elapsed = m_startMs ? now - *m_startMs : 0;
  return DurationText(elapsed) + " elapsed, " + LeftText(now);
}

void TerminalView::PrintPlainLine(int64_t now) {
  const std::string speed = Trim(m_speed);
  m_out << m_percent << "% " << m_reachedBytes << " of " << m_totalBytes << " bytes, "
        << (speed.empty() ? "- MB/s" : speed) << ", " << TimesText(now) << '\n'
        << std::flush;
  m_lastLineMs = now;
}

void TerminalView::PumpMessages() {
  if (m_stopAsked && m_stopAsked()) m_session.RequestStop();
  if (!m_startMs) return;
  const int64_t now = m_clock.NowMs();
  if (m_style == ProgressStyle::Redrawn) {
    // Back to the line's start and clear what a longer line before left: a resized terminal
    // or a shorter line never leaves a stale tail or a second line.
    m_out << '\r'
          << FitProgressLine(m_percentText, m_positionText, Trim(m_speed), TimesText(now),
                             LeftText(now), m_columns())
          << "\033[K" << std::flush;
    m_lineShown = true;
  } else if (m_style == ProgressStyle::Kept) {
    std::string line = FitProgressLine(m_percentText, m_positionText, Trim(m_speed),
                                       TimesText(now), LeftText(now), m_columns());
    const std::lock_guard lock(m_keptMutex);
    m_kept = std::move(line);
  } else if (m_style == ProgressStyle::Lines && now - m_lastLineMs >= kLineIntervalMs) {
    PrintPlainLine(now);
  }
}

std::string TerminalView::KeptLine() const {
  const std::lock_guard lock(m_keptMutex);
  return m_kept;
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
