// format: one format attempt on the chosen disk, its log lines on standard output, progress on
// standard error when that is a terminal, SIGINT as the Stop button.
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_safe.hpp"
#include "core/clock.hpp"
#include "core/logs.hpp"
#include "core/text.hpp"
#include "format/format_control.hpp"
#include "format/format_view.hpp"
#include "format/zero_fill.hpp"
#include "report/disk_summary.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

namespace {

constexpr const char* kUsage = "usage: ferrowipe-cli [--debug] format [--quick] --yes DISK\n";

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// While it lives, the first SIGINT only asks the run to stop; a second one ends the program as
// usual (the disk is being erased anyway, and the kernel releases every handle).
class InterruptAsStop {
 public:
  InterruptAsStop() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &m_previous);
  }
  ~InterruptAsStop() { sigaction(SIGINT, &m_previous, nullptr); }
  InterruptAsStop(const InterruptAsStop&) = delete;
  InterruptAsStop& operator=(const InterruptAsStop&) = delete;

 private:
  struct sigaction m_previous {};
};

// The format tab of a terminal: one progress line on standard error, redrawn once per block.
class TerminalView final : public FormatView {
 public:
  explicit TerminalView(bool showProgress) : m_showProgress(showProgress) {}

  void SetProgress(int) override {}
  void SetPercentText(const std::string& text) override { m_percent = Trim(text); }
  void SetPositionText(const std::string& text) override { m_position = Trim(text); }
  void SetSpeedText(const std::string& text) override { m_speed = text; }
  std::string SpeedText() const override { return m_speed; }
  void PumpMessages() override {
    if (g_interrupted != 0) {
      g_interrupted = 0;
      StopRequested = true;
    }
    if (!m_showProgress || m_percent.empty()) return;
    std::cerr << '\r' << m_percent << "   " << m_position << "   " << Trim(m_speed) << "\033[K"
              << std::flush;
    m_lineShown = true;
  }
  void SetFormatControlsEnabled(bool) override {}
  void SetRunning(bool) override {}

  // A log line is about to be printed: the progress line makes way for it.
  void ClearProgressLine() {
    if (!m_lineShown) return;
    std::cerr << "\r\033[K" << std::flush;
    m_lineShown = false;
  }

 private:
  bool m_showProgress;
  bool m_lineShown = false;
  std::string m_percent, m_position, m_speed;
};

struct FormatArgs {
  bool quick = false;
  bool yes = false;
  std::string disk;
};

std::optional<FormatArgs> ParseArgs(const Args& args) {
  FormatArgs parsed;
  for (const std::string& arg : args) {
    if (arg == "--quick") {
      parsed.quick = true;
    } else if (arg == "--yes") {
      parsed.yes = true;
    } else if (arg.starts_with("-") || !parsed.disk.empty()) {
      return std::nullopt;
    } else {
      parsed.disk = arg;
    }
  }
  if (parsed.disk.empty()) return std::nullopt;
  return parsed;
}

// The window's question, asked on the terminal after the facts that tell this disk from the
// others; true only for the answer "yes".
bool ConfirmOnTerminal(DeviceIo& io, const ChosenDisk& chosen) {
  const TDeviceTable& row = DeviceTable[chosen.row];
  std::cerr << FormatConfirmTitle() << '\n'
            << FormatConfirmInstruction() << '\n'
            << FormatConfirmContent(TerminalSafe(chosen.caption)) << "\n\n";
  for (const std::string& line :
       DiskSummaryLines(row, io.DescribeDisk(row.DevicePath), kDiskSummaryEnglish)) {
    std::cerr << TerminalSafe(line) << '\n';
  }
  std::cerr << "\nType yes to erase this disk: " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return Trim(answer) == "yes";
}

int ExitStatus(const FormatAttemptResult& result) {
  if (!result.locked) return kExitLockFailed;
  switch (result.run.outcome) {
    case ZeroFillOutcome::Completed:
      return result.run.failedBlocks == 0 ? kExitDone : kExitFailedBlocks;
    case ZeroFillOutcome::Cancelled: return kExitCancelled;
    case ZeroFillOutcome::Aborted: return kExitAborted;
    case ZeroFillOutcome::NotStarted: break;
  }
  return kExitFailure;
}

}  // namespace

int RunFormat(DeviceIo& io, const Args& args) {
  const std::optional<FormatArgs> parsed = ParseArgs(args);
  if (!parsed) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  // Refused before the disk is even opened: without --yes only a person at a terminal may say yes.
  if (!parsed->yes && isatty(STDIN_FILENO) == 0) {
    std::cerr << "ferrowipe-cli: format needs --yes when there is no terminal to ask on\n";
    return kExitUsage;
  }

  int status = kExitDone;
  const std::optional<ChosenDisk> chosen = ChooseDisk(io, parsed->disk, &status);
  if (!chosen) return status;
  if (!parsed->yes && !ConfirmOnTerminal(io, *chosen)) {
    io.Close(chosen->handle);
    return kExitCancelled;
  }

  TerminalView view(isatty(STDERR_FILENO) != 0);
  SetFormatLogSink([&view](const std::string& line) {
    view.ClearProgressLine();
    std::cout << TerminalSafe(line) << '\n' << std::flush;
  });
  SteadyClock clock;
  FormatAttemptResult result;
  {
    const InterruptAsStop interrupt;
    result = RunFormatAttempt(io, chosen->handle, DeviceTable, chosen->row, chosen->caption,
                              parsed->quick, view, clock);
  }
  view.ClearProgressLine();
  SetFormatLogSink(
      [](const std::string& line) { std::cout << TerminalSafe(line) << '\n' << std::flush; });
  io.Close(chosen->handle);
  return ExitStatus(result);
}

}  // namespace fw::cli
