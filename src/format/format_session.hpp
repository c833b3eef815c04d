#pragma once
// One disk's format attempt as the engine sees it from outside: the request to stop it and the
// place its format-log lines go. Each disk being erased has its own, so that runs side by side
// neither stop nor log for one another; the window holds one for its one disk.
#include <atomic>
#include <string>
#include <string_view>

#include "core/logs.hpp"

namespace fw {

class FormatSession {
 public:
  // `debug`: the volume steps of a takeover are logged too (the --debug switch).
  explicit FormatSession(LineSink formatLog = {}, bool debug = false)
      : m_formatLog(std::move(formatLog)), m_debug(debug) {}
  FormatSession(const FormatSession&) = delete;
  FormatSession& operator=(const FormatSession&) = delete;

  // Any thread may ask, a signal watcher or a front end stopping every disk at once; the
  // engine reads it before every pass and clears it once a run ended as cancelled.
  void RequestStop() noexcept { m_stop.store(true, std::memory_order_relaxed); }
  bool StopRequested() const noexcept { return m_stop.load(std::memory_order_relaxed); }
  void ClearStop() noexcept { m_stop.store(false, std::memory_order_relaxed); }

  bool Debug() const { return m_debug; }
  void SetDebug(bool debug) { m_debug = debug; }

  // The sink now installed, so that a listener can be put in front of it for one attempt.
  const LineSink& FormatLog() const { return m_formatLog; }
  void SetFormatLog(LineSink sink) { m_formatLog = std::move(sink); }

  // TimeStamp() + "   " + message, exactly as the caller passes it.
  void AddFormatLogLine(std::string_view message) const;
  // A format-log line that only a debug run shows (the volume steps of a takeover).
  void AddFormatDebugLine(std::string_view message) const;
  // A format-log line without a time stamp (the volume open failure writes one).
  void AddFormatLogRaw(std::string_view line) const;

 private:
  std::atomic<bool> m_stop{false};
  LineSink m_formatLog;
  bool m_debug;
};

}  // namespace fw
