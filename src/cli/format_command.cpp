// format: one format attempt on the chosen disk, its log lines on standard output, progress on
// standard error (see TerminalView), SIGINT, SIGTERM and SIGHUP as the Stop button.
#include <signal.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_safe.hpp"
#include "cli/terminal_view.hpp"
#include "core/clock.hpp"
#include "core/logs.hpp"
#include "core/small_file.hpp"
#include "core/text.hpp"
#include "format/format_control.hpp"
#include "format/zero_fill.hpp"
#include "report/disk_summary.hpp"
#include "report/erasure_report.hpp"
#include "report/text_format.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

namespace {

// The one thing a signal handler may touch; read only through StopSignals.
volatile std::sig_atomic_t g_stopSignalled = 0;

void OnStopSignal(int) { g_stopSignalled = 1; }

// While it lives, SIGINT (Ctrl-C), SIGTERM (systemctl stop, kill) and SIGHUP (the terminal
// closed) only ask the run to stop, however often they come, so that every attempt ends
// through its lease and its report is still written. SIGPIPE is ignored: a closed standard
// output is an error of the write, found and reported like any other.
class StopSignals {
 public:
  StopSignals() {
    g_stopSignalled = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kStops.size(); ++i) sigaction(kStops[i], &action, &m_previous[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &m_previousPipe);
  }
  ~StopSignals() {
    for (size_t i = 0; i < kStops.size(); ++i) sigaction(kStops[i], &m_previous[i], nullptr);
    sigaction(SIGPIPE, &m_previousPipe, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Whether a stop was asked since the last call.
  bool TakeRequest() {
    const bool asked = g_stopSignalled != 0;
    g_stopSignalled = 0;
    return asked;
  }

 private:
  static constexpr std::array<int, 3> kStops{SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> m_previous{};
  struct sigaction m_previousPipe {};
};

// The window's question, asked on the terminal after the facts that tell this disk from the
// others; true only for the answer "yes".
bool ConfirmOnTerminal(DeviceIo& io, const ChosenDisk& chosen, bool quick, bool verify) {
  const TDeviceTable& row = DeviceTable[chosen.row];
  std::cerr << FormatConfirmTitle() << '\n'
            << FormatConfirmInstruction() << '\n'
            << FormatConfirmContent(TerminalSafe(chosen.caption)) << "\n\n";
  if (quick) std::cerr << FormatConfirmQuickNote() << "\n\n";
  if (verify) std::cerr << FormatConfirmVerifyNote() << "\n\n";
  for (const std::string& line :
       DiskSummaryLines(row, io.DescribeDisk(row.DevicePath), kDiskSummaryEnglish)) {
    std::cerr << TerminalSafe(line) << '\n';
  }
  std::cerr << "\nType yes to erase this disk: " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return Trim(answer) == "yes";
}

// The report's place, checked as the write will meet it. The operator named the path, so links
// in its folders are followed; the file's own place must be free or a regular file.
bool ReportPathUsable(const std::string& path) {
  const std::string problem = FileTargetProblem(path, FolderLinks::Follow);
  if (problem.empty()) return true;
  std::cerr << "ferrowipe-cli: --report " << TerminalSafe(path) << ": " << TerminalSafe(problem)
            << '\n';
  return false;
}

// A report on the disk being erased would be erased with it, or stand in the way of the
// unmount; where the backend can tell, that is refused as well.
bool ReportOnDisk(DeviceIo& io, const TDeviceTable& disk, const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path file = std::filesystem::absolute(path, ignored);
  const std::string where =
      std::filesystem::exists(file, ignored) ? file.string() : file.parent_path().string();
  if (!io.PathLiesOnDisk(disk.DevicePath, where)) return false;
  std::cerr << "ferrowipe-cli: --report " << TerminalSafe(path)
            << ": it lies on the disk being erased\n";
  return true;
}

// Data found by the verify pass outranks every other ending of a completed write pass: the disk
// is not erased, whatever else happened.
int ExitStatus(const FormatAttemptResult& result) {
  if (!result.locked) return kExitLockFailed;
  const VerifyResult& verify = result.run.verify;
  switch (result.run.outcome) {
    case ZeroFillOutcome::Completed:
      if (verify.FoundProblems()) return kExitVerifyFailed;
      if (verify.outcome == VerifyOutcome::Cancelled) return kExitCancelled;
      if (verify.outcome == VerifyOutcome::Aborted) return kExitAborted;
      return result.run.failedBlocks == 0 ? kExitDone : kExitFailedBlocks;
    case ZeroFillOutcome::Cancelled: return kExitCancelled;
    case ZeroFillOutcome::Aborted: return kExitAborted;
    case ZeroFillOutcome::NotStarted: break;
  }
  return kExitFailure;
}

}  // namespace

int RunFormat(DeviceIo& io, const Options& options) {
  // Refused before the disk is even opened: without --yes only a person at a terminal may say yes.
  if (!options.yes && isatty(STDIN_FILENO) == 0) {
    std::cerr << "ferrowipe-cli: format needs --yes when there is no terminal to ask on\n";
    return kExitUsage;
  }

  // A report that could not be written afterwards would leave an erased disk without its
  // record: a place it cannot go is bad usage, found before anything is touched.
  if (options.report && !ReportPathUsable(*options.report)) return kExitUsage;

  int status = kExitDone;
  const std::optional<ChosenDisk> chosen =
      ChooseDisk(io, options.disk, &status, OpenMode::Working, [&](const TDeviceTable& row) {
        return options.report && ReportOnDisk(io, row, *options.report);
      });
  if (!chosen) return status;
  if (!options.yes && !ConfirmOnTerminal(io, *chosen, options.quick, options.verify)) {
    io.Close(chosen->handle);
    return kExitCancelled;
  }

  // From here to the written report, a signal is a request to stop, never the program's end.
  StopSignals signals;
  SteadyClock clock;
  TerminalView view(ChooseProgressStyle(isatty(STDERR_FILENO) != 0, options.progress), clock,
                    std::cerr, [&signals] { return signals.TakeRequest(); });
  SetFormatLogSink([&view](const std::string& line) {
    view.ClearProgressLine();
    std::cout << TerminalSafe(line) << '\n' << std::flush;
  });
  const FormatAttemptResult result =
      RunFormatAttempt(io, chosen->handle, DeviceTable, chosen->row, chosen->caption,
                       options.quick, view, clock, options.verify);
  view.Finish();
  SetFormatLogSink(
      [](const std::string& line) { std::cout << TerminalSafe(line) << '\n' << std::flush; });
  io.Close(chosen->handle);
  status = ExitStatus(result);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "ferrowipe-cli: the format log could not be written to standard output\n";
    if (status == kExitDone) status = kExitFailure;
  }
  if (options.report) {
    const TDeviceTable& row = DeviceTable[chosen->row];
    ErasureReport report =
        MakeErasureReport(row, io.DescribeDisk(row.DevicePath), result, CurrentHostFacts());
    report.record = options.record;
    if (const std::string problem = WriteReportFile(*options.report, ErasureReportJson(report), {},
                                                    FolderLinks::Follow);
        !problem.empty()) {
      std::cerr << "ferrowipe-cli: " << TerminalSafe(problem) << '\n';
      if (status == kExitDone) status = kExitFailure;
    }
  }
  return status;
}

}  // namespace fw::cli
