#include "cli/batch_progress.hpp"

#include <algorithm>

#include "cli/terminal_safe.hpp"
#include "cli/terminal_view.hpp"
#include "core/text.hpp"

namespace fw::cli {

void BatchPrinter::LogLine(const std::string& path, const std::string& line) {
  const std::lock_guard lock(m_mutex);
  ClearBlockLocked();
  m_log << TerminalSafe(path) << ": " << TerminalSafe(line) << '\n' << std::flush;
}

void BatchPrinter::ProgressLine(const std::string& path, const std::string& line) {
  const std::lock_guard lock(m_mutex);
  m_progress << TerminalSafe(path) << ": " << line << '\n' << std::flush;
}

void BatchPrinter::Redraw(const std::vector<std::string>& lines) {
  const std::lock_guard lock(m_mutex);
  // Up to the block's first line, each line rewritten and its stale tail cleared; whatever
  // stood below a longer block before goes too.
  if (m_shown > 0) m_progress << "\r\033[" << m_shown << 'A';
  for (const std::string& line : lines) m_progress << '\r' << line << "\033[K\n";
  m_progress << "\033[J" << std::flush;
  m_shown = lines.size();
}

void BatchPrinter::ClearBlock() {
  const std::lock_guard lock(m_mutex);
  ClearBlockLocked();
}

void BatchPrinter::ClearBlockLocked() {
  if (m_shown == 0) return;
  m_progress << "\r\033[" << m_shown << "A\033[J" << std::flush;
  m_shown = 0;
}

std::string BatchLine(const std::string& path, size_t pathColumns, const std::string& status,
                      int columns) {
  std::string line = TerminalSafe(path);
  const size_t width = DisplayColumns(line);
  if (width < pathColumns) line += std::string(pathColumns - width, ' ');
  line += "  " + status;
  return CutToColumns(line, static_cast<size_t>(std::max(columns, 2) - 1));
}

LineForwardStream::Buffer::int_type LineForwardStream::Buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char ch = traits_type::to_char_type(c);
  if (ch == '\n') {
    m_onLine(m_pending);
    m_pending.clear();
  } else {
    m_pending += ch;
  }
  return c;
}

std::streamsize LineForwardStream::Buffer::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i) overflow(traits_type::to_int_type(s[i]));
  return n;
}

}  // namespace fw::cli
