#include "cli/disk_batch.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/batch_progress.hpp"
#include "cli/batch_summary.hpp"
#include "cli/chosen_disk.hpp"
#include "cli/disk_record.hpp"
#include "cli/list_table.hpp"
#include "cli/stop_signals.hpp"
#include "cli/terminal_safe.hpp"
#include "cli/terminal_view.hpp"
#include "core/clock.hpp"
#include "core/host_facts.hpp"
#include "core/logs.hpp"
#include "core/text.hpp"
#include "core/user_locale.hpp"
#include "format/disk_lease.hpp"
#include "format/format_control.hpp"
#include "report/erasure_report.hpp"
#include "report/text_format.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

namespace {

using namespace std::chrono_literals;

constexpr int64_t kRow = 1;  // each disk's own table holds it in row 1
constexpr auto kRedrawInterval = 250ms;

// A disk named on the command line, resolved and planned.
struct PlannedDisk {
  std::string name;        // as given
  TDeviceTableRows table;  // the disk in row kRow, copied out of the scan's table
  std::string caption;
  DiskContents contents;
  std::string refusal;  // why the plan refuses it; empty: nothing does
  int refusalStatus = kExitDone;
  std::string reportSerial;  // names its report in --report-dir, unique among the disks

  const TDeviceTable& Row() const { return table[kRow]; }
};

// One disk's run, owned by the main thread, written by the disk's thread until `done`.
struct DiskRun {
  DiskRun(const PlannedDisk& planned, bool debug) : disk(planned), session({}, debug) {}
  const PlannedDisk& disk;
  FormatSession session;
  std::unique_ptr<LineForwardStream> progressOut;
  std::unique_ptr<TerminalView> view;
  DiskEnding ending;
  std::string recordProblem;
  std::atomic<bool> done{false};
  std::thread thread;
};

std::string RealPathOf(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string real = resolved;
  std::free(resolved);
  return real;
}

std::string MountedText(const DiskContents& contents) {
  const std::vector<std::string> mounts = contents.AllMountPoints();
  if (mounts.empty()) return "nothing";
  std::string text;
  for (const std::string& mount : mounts) text += (text.empty() ? "" : ", ") + mount;
  return text;
}

// The disks in a table: number, path, model, serial, size, what is mounted.
std::vector<std::string> DiskTable(const std::vector<const PlannedDisk*>& disks) {
  std::vector<ListRow> rows{{"#", "PATH", "MODEL", "SERIAL", "SIZE", "MOUNTED"}};
  for (const PlannedDisk* disk : disks) {
    const TIdentifyDeviceData& id = disk->Row().IdentifyData;
    rows.push_back({std::to_string(disk->Row().DeviceNumber), TerminalSafe(disk->Row().DevicePath),
                    TerminalSafe(Trim(id.Model)), TerminalSafe(Trim(id.SN)),
                    CapacityToStr(CapacityBytes(id)), TerminalSafe(MountedText(disk->contents))});
  }
  return AlignedColumns(rows);
}

// The window's question, for every disk at once; true only for the answer "yes". With --yes
// the table is shown all the same, so that the log of an unattended run says what it erased.
bool Confirm(const std::vector<const PlannedDisk*>& disks, const Options& options) {
  if (!options.yes) {
    std::cerr << FormatConfirmTitle() << '\n' << FormatConfirmInstruction() << '\n';
  }
  for (const std::string& line : DiskTable(disks)) std::cerr << line << '\n';
  std::cerr << '\n';
  if (options.yes) return true;
  if (options.method != EraseMethod::Zero) {
    std::cerr << FormatConfirmMethodNote(options.method) << "\n\n";
  }
  if (options.quick) std::cerr << FormatConfirmQuickNote() << "\n\n";
  if (options.verify) std::cerr << FormatConfirmVerifyNote() << "\n\n";
  std::cerr << "Type yes to erase these " << disks.size() << " disks: " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return Trim(answer) == "yes";
}

// Resolves every name in one scan; a name that names no disk, or a disk named twice, is bad
// usage (each said), found before anything is planned.
std::optional<std::vector<PlannedDisk>> ResolveAll(DeviceIo& io, const Options& options,
                                                   int* status) {
  const std::optional<ScanResult> scan = ScanForCli(io, status);
  if (!scan) return std::nullopt;
  std::vector<PlannedDisk> disks;
  std::map<std::string, std::string> namedBy;  // the disk's real path -> the first name given
  bool failed = false;
  for (const std::string& name : options.disks) {
    int resolveStatus = kExitDone;
    const std::optional<int64_t> row = ResolveDisk(io, *scan, name, &resolveStatus);
    if (!row) {
      failed = true;
      if (*status != kExitUsage) *status = resolveStatus;
      continue;
    }
    const std::string real = RealPathOf(DeviceTable[*row].DevicePath);
    if (const auto earlier = namedBy.find(real); earlier != namedBy.end()) {
      std::cerr << "ferrowipe-cli: " << TerminalSafe(earlier->second) << " and "
                << TerminalSafe(name) << " are the same disk ("
                << TerminalSafe(DeviceTable[*row].DevicePath) << "); name each disk once\n";
      failed = true;
      *status = kExitUsage;
      continue;
    }
    namedBy.emplace(real, name);
    PlannedDisk disk;
    disk.name = name;
    disk.table[kRow] = DeviceTable[*row];
    disk.caption = DeviceCaption(DeviceTable, *row);
    disks.push_back(std::move(disk));
  }
  if (failed) return std::nullopt;
  return disks;
}

// Plans each disk as its attempt will: the report folder must not lie on it, it must open for
// writing, and nothing that refuses a lease may hold it. False when a report folder lies on a
// disk (bad usage, said).
bool PlanAll(DeviceIo& io, std::vector<PlannedDisk>& disks, const Options& options) {
  std::map<std::string, int> serials;
  for (const PlannedDisk& disk : disks) ++serials[Trim(disk.Row().IdentifyData.SN)];
  bool usable = true;
  for (PlannedDisk& disk : disks) {
    const std::string& path = disk.Row().DevicePath;
    const std::string serial = Trim(disk.Row().IdentifyData.SN);
    const std::string device = path.substr(path.find_last_of('/') + 1);
    disk.reportSerial = serial.empty() || serials[serial] > 1
                            ? (serial.empty() ? device : serial + "-" + device)
                            : serial;
    if (options.reportDir) {
      std::error_code ignored;
      const std::string dir = std::filesystem::absolute(*options.reportDir, ignored).string();
      if (io.PathLiesOnDisk(path, dir)) {
        std::cerr << "ferrowipe-cli: --report-dir " << TerminalSafe(*options.reportDir)
                  << ": it lies on " << TerminalSafe(path) << ", a disk being erased\n";
        usable = false;
        continue;
      }
    }
    disk.contents = io.DescribeDisk(path);
    const Handle handle = io.Open(path, OpenMode::Working);
    if (handle == kInvalidHandle) {
      disk.refusal = "cannot be opened for writing: " + io.ErrorText(io.LastError());
      disk.refusalStatus = kExitFailure;
      continue;
    }
    io.Close(handle);
    if (const RefusalCause cause = DiskLease::Plan(io, path); cause.kind != RefusalKind::None) {
      disk.refusal = RefusalCauseLine(cause);
      disk.refusalStatus = kExitLockFailed;
    }
  }
  return usable;
}

// A disk its plan refused, recorded as an attempt that never took the disk: its report and its
// journal record say so, with the cause as the one log line.
FormatAttemptResult RefusedAttempt(const PlannedDisk& disk, const Options& options) {
  FormatAttemptResult result;
  result.quickWipe = options.quick;
  result.verifyAsked = options.verify;
  result.started = result.ended = std::chrono::system_clock::now();
  result.logLines.push_back(LogLine(disk.refusal));
  return result;
}

void RunOneDisk(DiskRun& run, const Options& options, const RecordPlaces& places,
                const BackendFactory& newBackend) {
  const PlannedDisk& disk = run.disk;
  const std::string& path = disk.Row().DevicePath;
  SteadyClock clock;
  const int64_t startMs = clock.NowMs();
  FormatAttemptResult result;
  std::unique_ptr<DeviceIo> io = newBackend();
  const Handle handle = io ? io->Open(path, OpenMode::Working) : kInvalidHandle;
  if (handle == kInvalidHandle) {
    const std::string why = io ? io->ErrorText(io->LastError()) : "no device backend";
    run.session.AddFormatLogLine("cannot be opened for writing: " + why);
    result.started = result.ended = std::chrono::system_clock::now();
    run.ending.exitStatus = kExitFailure;
  } else {
    result = RunFormatAttempt(*io, handle, disk.table, kRow, disk.caption, options.quick,
                              run.session, *run.view, clock, options.verify, options.method,
                              options.openHiddenArea);
    run.view->Finish();
    io->Close(handle);
    run.ending.exitStatus = AttemptExitStatus(result);
  }
  run.ending.path = path;
  run.ending.outcome = handle == kInvalidHandle ? "not opened" : ErasureOutcomeName(result);
  run.ending.bytesWritten = result.run.bytesWritten;
  run.ending.failedBlocks = result.run.failedBlocks;
  run.ending.verify = VerifyOutcomeName(result.run.verify.outcome);
  run.ending.elapsedMs = clock.NowMs() - startMs;
  const DiskContents contents = io ? io->DescribeDisk(path) : disk.contents;
  ErasureReport report = MakeErasureReport(disk.Row(), contents, result, CurrentHostFacts());
  report.record = options.record;
  run.recordProblem = RecordDiskResult(report, run.ending.outcome, disk.reportSerial, places);
  run.done = true;
}

}  // namespace

int RunFormatBatch(DeviceIo& io, const Options& options, const BackendFactory& newBackend) {
  if (!options.yes && isatty(STDIN_FILENO) == 0) {
    std::cerr << "ferrowipe-cli: format needs --yes when there is no terminal to ask on\n";
    return kExitUsage;
  }
  if (options.reportDir) {
    if (const std::string problem = ReportDirProblem(*options.reportDir); !problem.empty()) {
      std::cerr << "ferrowipe-cli: --report-dir " << TerminalSafe(*options.reportDir) << ": "
                << problem << '\n';
      return kExitUsage;
    }
  }

  int status = kExitDone;
  std::optional<std::vector<PlannedDisk>> planned = ResolveAll(io, options, &status);
  if (!planned) return status;
  std::vector<PlannedDisk>& disks = *planned;
  if (!PlanAll(io, disks, options)) return kExitUsage;

  std::vector<const PlannedDisk*> taken;
  std::vector<const PlannedDisk*> refused;
  for (const PlannedDisk& disk : disks) (disk.refusal.empty() ? taken : refused).push_back(&disk);
  for (const PlannedDisk* disk : refused) {
    std::cerr << "ferrowipe-cli: " << TerminalSafe(disk->Row().DevicePath) << ": "
              << TerminalSafe(disk->refusal) << '\n';
  }
  if (!refused.empty() && !options.keepGoing) {
    std::cerr << "ferrowipe-cli: nothing was written; --keep-going erases the other disks\n";
    return kExitLockFailed;
  }
  if (!taken.empty() && !Confirm(taken, options)) return kExitCancelled;

  const RecordPlaces places{std::nullopt, options.reportDir, !options.noJournal};
  std::map<const PlannedDisk*, DiskEnding> endings;  // the summary lists them as named
  std::vector<int> statuses;
  for (const PlannedDisk* disk : refused) {
    const FormatAttemptResult attempt = RefusedAttempt(*disk, options);
    ErasureReport report =
        MakeErasureReport(disk->Row(), disk->contents, attempt, CurrentHostFacts());
    report.record = options.record;
    if (const std::string problem = RecordDiskResult(report, "refused", disk->reportSerial, places);
        !problem.empty()) {
      std::cerr << "ferrowipe-cli: " << TerminalSafe(problem) << '\n';
      statuses.push_back(kExitFailure);
    }
    endings[disk] = DiskEnding{disk->Row().DevicePath, "refused", 0, 0, "not run", 0,
                               disk->refusalStatus};
  }

  // The locale is read once, lazily: read here, before the threads stamp their lines with it.
  CurrentUserLocale();
  // From here to the last report, a signal is a request to stop every disk, never the end.
  StopSignals signals;
  BatchPrinter printer(std::cout, std::cerr);
  const ProgressStyle style = ChooseProgressStyle(isatty(STDERR_FILENO) != 0, options.progress);
  size_t pathColumns = 0;
  for (const PlannedDisk* disk : taken) {
    pathColumns = std::max(pathColumns, DisplayColumns(TerminalSafe(disk->Row().DevicePath)));
  }
  const auto terminalColumns = [] { return TerminalColumns(STDERR_FILENO); };
  SteadyClock clock;
  std::vector<std::unique_ptr<DiskRun>> runs;
  for (const PlannedDisk* disk : taken) {
    auto run = std::make_unique<DiskRun>(*disk, DebugMode);
    const std::string path = disk->Row().DevicePath;
    run->session.SetFormatLog(
        [&printer, path](const std::string& line) { printer.LogLine(path, line); });
    run->progressOut = std::make_unique<LineForwardStream>(
        [&printer, path](const std::string& line) { printer.ProgressLine(path, line); });
    const ProgressStyle own = style == ProgressStyle::Redrawn ? ProgressStyle::Kept : style;
    run->view = std::make_unique<TerminalView>(
        own, clock, *run->progressOut, run->session, std::function<bool()>{},
        [terminalColumns, pathColumns] {
          return terminalColumns() - static_cast<int>(pathColumns) - 2;
        });
    runs.push_back(std::move(run));
  }
  for (auto& run : runs) {
    try {
      run->thread = std::thread(RunOneDisk, std::ref(*run), std::cref(options), std::cref(places),
                                std::cref(newBackend));
    } catch (const std::system_error&) {
      RunOneDisk(*run, options, places, newBackend);  // no thread to spare: this one waits
    }
  }

  auto lastRedraw = std::chrono::steady_clock::now() - kRedrawInterval;
  for (;;) {
    bool allDone = true;
    for (const auto& run : runs) allDone = allDone && run->done;
    if (signals.TakeRequest()) {
      for (auto& run : runs) run->session.RequestStop();
    }
    if (allDone) break;
    if (style == ProgressStyle::Redrawn &&
        std::chrono::steady_clock::now() - lastRedraw >= kRedrawInterval) {
      lastRedraw = std::chrono::steady_clock::now();
      std::vector<std::string> lines;
      for (const auto& run : runs) {
        const std::string status = run->done ? run->ending.outcome : run->view->KeptLine();
        lines.push_back(BatchLine(run->disk.Row().DevicePath, pathColumns, status,
                                  terminalColumns()));
      }
      printer.Redraw(lines);
    }
    std::this_thread::sleep_for(50ms);
  }
  for (auto& run : runs) {
    if (run->thread.joinable()) run->thread.join();
  }
  printer.ClearBlock();

  for (auto& run : runs) {
    endings[&run->disk] = run->ending;
    statuses.push_back(run->ending.exitStatus);
    if (!run->recordProblem.empty()) {
      std::cerr << "ferrowipe-cli: " << TerminalSafe(run->recordProblem) << '\n';
      statuses.push_back(kExitFailure);
    }
  }
  for (const PlannedDisk* disk : refused) statuses.push_back(disk->refusalStatus);
  std::cout << '\n';
  std::vector<DiskEnding> table;
  for (const PlannedDisk& disk : disks) table.push_back(endings[&disk]);
  for (const std::string& line : SummaryTable(table)) std::cout << TerminalSafe(line) << '\n';
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "ferrowipe-cli: the format log could not be written to standard output\n";
    statuses.push_back(kExitFailure);
  }
  return CombinedExitStatus(statuses);
}

}  // namespace fw::cli
