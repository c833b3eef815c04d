// format: one format attempt on the chosen disk, its log lines on standard output, progress on
// standard error (see TerminalView), SIGINT, SIGTERM and SIGHUP as the Stop button. Several
// disks go to RunFormatBatch.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "cli/batch_summary.hpp"
#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "cli/disk_batch.hpp"
#include "cli/disk_record.hpp"
#include "cli/stop_signals.hpp"
#include "cli/terminal_safe.hpp"
#include "cli/terminal_view.hpp"
#include "core/clock.hpp"
#include "device/backends.hpp"
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

// The window's question, asked on the terminal after the facts that tell this disk from the
// others; true only for the answer "yes".
bool ConfirmOnTerminal(DeviceIo& io, const ChosenDisk& chosen, bool quick, bool verify,
                       EraseMethod method) {
  const TDeviceTable& row = DeviceTable[chosen.row];
  std::cerr << FormatConfirmTitle() << '\n'
            << FormatConfirmInstruction() << '\n'
            << FormatConfirmContent(TerminalSafe(chosen.caption)) << "\n\n";
  if (method != EraseMethod::Zero) std::cerr << FormatConfirmMethodNote(method) << "\n\n";
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
bool ReportOnDisk(DeviceIo& io, const TDeviceTable& disk, const std::string& option,
                  const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path file = std::filesystem::absolute(path, ignored);
  const std::string where =
      std::filesystem::exists(file, ignored) ? file.string() : file.parent_path().string();
  if (!io.PathLiesOnDisk(disk.DevicePath, where)) return false;
  std::cerr << "ferrowipe-cli: " << option << ' ' << TerminalSafe(path)
            << ": it lies on the disk being erased\n";
  return true;
}

}  // namespace

int RunFormat(DeviceIo& io, const Options& options) {
  if (options.disks.size() > 1) {
    return RunFormatBatch(io, options, [] { return CreateDeviceBackend(); });
  }
  // Refused before the disk is even opened: without --yes only a person at a terminal may say yes.
  if (!options.yes && isatty(STDIN_FILENO) == 0) {
    std::cerr << "ferrowipe-cli: format needs --yes when there is no terminal to ask on\n";
    return kExitUsage;
  }

  // A report that could not be written afterwards would leave an erased disk without its
  // record: a place it cannot go is bad usage, found before anything is touched.
  if (options.report && !ReportPathUsable(*options.report)) return kExitUsage;
  if (options.reportDir) {
    if (const std::string problem = ReportDirProblem(*options.reportDir); !problem.empty()) {
      std::cerr << "ferrowipe-cli: --report-dir " << TerminalSafe(*options.reportDir) << ": "
                << problem << '\n';
      return kExitUsage;
    }
  }

  int status = kExitDone;
  const std::optional<ChosenDisk> chosen =
      ChooseDisk(io, options.disk, &status, OpenMode::Working, [&](const TDeviceTable& row) {
        return (options.report && ReportOnDisk(io, row, "--report", *options.report)) ||
               (options.reportDir && ReportOnDisk(io, row, "--report-dir", *options.reportDir));
      });
  if (!chosen) return status;
  if (!options.yes &&
      !ConfirmOnTerminal(io, *chosen, options.quick, options.verify, options.method)) {
    io.Close(chosen->handle);
    return kExitCancelled;
  }

  // From here to the written report, a signal is a request to stop, never the program's end.
  StopSignals signals;
  SteadyClock clock;
  FormatSession session({}, DebugMode);
  TerminalView view(ChooseProgressStyle(isatty(STDERR_FILENO) != 0, options.progress), clock,
                    std::cerr, session, [&signals] { return signals.TakeRequest(); });
  session.SetFormatLog([&view](const std::string& line) {
    view.ClearProgressLine();
    std::cout << TerminalSafe(line) << '\n' << std::flush;
  });
  const FormatAttemptResult result =
      RunFormatAttempt(io, chosen->handle, DeviceTable, chosen->row, chosen->caption,
                       options.quick, session, view, clock, options.verify, options.method,
                       options.openHiddenArea);
  view.Finish();
  io.Close(chosen->handle);
  status = AttemptExitStatus(result);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "ferrowipe-cli: the format log could not be written to standard output\n";
    if (status == kExitDone) status = kExitFailure;
  }
  // The report, when asked for, and the journal record of the run, unless told not to.
  const TDeviceTable& row = DeviceTable[chosen->row];
  ErasureReport report =
      MakeErasureReport(row, io.DescribeDisk(row.DevicePath), result, CurrentHostFacts());
  report.record = options.record;
  const RecordPlaces places{options.report, options.reportDir, !options.noJournal};
  if (const std::string problem =
          RecordDiskResult(report, ErasureOutcomeName(result), row.IdentifyData.SN, places);
      !problem.empty()) {
    std::cerr << "ferrowipe-cli: " << TerminalSafe(problem) << '\n';
    if (status == kExitDone) status = kExitFailure;
  }
  return status;
}

}  // namespace fw::cli
