#pragma once
// What a run over several disks prints while it runs. Every disk's thread hands its format-log
// lines here (to standard output, the disk's path in front), and so do the plain progress
// lines of --progress (to standard error); on a terminal the main thread redraws one progress
// line per disk in place below them. One lock keeps each line whole.
#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace fw::cli {

class BatchPrinter {
 public:
  // `log` takes the format-log lines, `progress` the progress lines and the redrawn block.
  BatchPrinter(std::ostream& log, std::ostream& progress) : m_log(log), m_progress(progress) {}

  // "PATH: line", after the redrawn block made way for it.
  void LogLine(const std::string& path, const std::string& line);
  void ProgressLine(const std::string& path, const std::string& line);
  // Replaces the block drawn last with `lines` (one per disk), the cursor left below it.
  void Redraw(const std::vector<std::string>& lines);
  // Takes the block away for good (before the summary).
  void ClearBlock();

 private:
  void ClearBlockLocked();

  std::mutex m_mutex;
  std::ostream& m_log;
  std::ostream& m_progress;
  size_t m_shown = 0;  // lines of the block now on the terminal
};

// The redrawn line of one disk: its path padded to `pathColumns`, two blanks, then `status`
// (the disk's own fitted progress line, or how it ended), cut to `columns` - 1.
std::string BatchLine(const std::string& path, size_t pathColumns, const std::string& status,
                      int columns);

// An output stream that hands every complete line written to it, without its line break, to
// `onLine` (a TerminalView's plain lines, forwarded with the disk's path in front).
class LineForwardStream : public std::ostream {
 public:
  explicit LineForwardStream(std::function<void(const std::string&)> onLine)
      : std::ostream(&m_buffer), m_buffer(std::move(onLine)) {}

 private:
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(std::function<void(const std::string&)> onLine) : m_onLine(std::move(onLine)) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

   private:
    std::function<void(const std::string&)> m_onLine;
    std::string m_pending;
  };
  Buffer m_buffer;
};

}  // namespace fw::cli
