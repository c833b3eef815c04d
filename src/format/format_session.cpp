#include "format/format_session.hpp"

namespace fw {

void FormatSession::AddFormatLogLine(std::string_view message) const {
  if (m_formatLog) m_formatLog(LogLine(message));
}

void FormatSession::AddFormatDebugLine(std::string_view message) const {
  if (m_debug) AddFormatLogLine(message);
}

void FormatSession::AddFormatLogRaw(std::string_view line) const {
  if (m_formatLog) m_formatLog(std::string(line));
}

}  // namespace fw
