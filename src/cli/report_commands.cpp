// list, details and smart: the lines of the selection list and of the two reports.
#include <iostream>

#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "cli/list_json.hpp"
#include "cli/terminal_safe.hpp"
#include "report/device_details.hpp"
#include "report/smart_report.hpp"
#include "select/device_table.hpp"
#include "select/drive_list.hpp"

namespace fw::cli {

namespace {

using Report = void (*)(DeviceIo&, Handle, const TDeviceTableRows&, int64_t);

// Both reports only read: the disk is opened for identification, shared and without the lock.
// Closing a read-write handle would have udev probe the disk again, and the probe's lock would
// make the next command find the disk busy.
int RunReport(DeviceIo& io, const Options& options, Report report) {
  int status = kExitDone;
  const std::optional<ChosenDisk> chosen =
      ChooseDisk(io, options.disk, &status, OpenMode::Identification);
  if (!chosen) return status;
  report(io, chosen->handle, DeviceTable, chosen->row);
  io.Close(chosen->handle);
  return kExitDone;
}

}  // namespace

int RunList(DeviceIo& io, const Options& options) {
  const bool json = options.json;
  int status = kExitDone;
  const std::optional<ScanResult> scan = ScanForCli(io, &status);
  if (!scan) return status;
  // A list without the disks that did not open is not the machine's list.
  if (ScanLackedRights(*scan)) {
    SayRunAsRoot("cannot open " + std::to_string(scan->deniedCount) + " disk(s)");
    return kExitFailure;
  }
  if (json) {
    std::cout << ListJson(io) << '\n' << std::flush;
    return kExitDone;
  }
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    const DriveListRow cells = DriveListCells(DeviceTable[row]);
    std::string line = TerminalSafe(cells[0]);
    for (size_t i = 1; i < cells.size(); ++i) {
      line += '\t';
      line += TerminalSafe(cells[i]);
    }
    std::cout << line << '\n';
  }
  std::cout << std::flush;
  return kExitDone;
}

int RunDetails(DeviceIo& io, const Options& options) {
  return RunReport(io, options, ShowDeviceDetails);
}

int RunSmart(DeviceIo& io, const Options& options) {
  return RunReport(io, options, ShowSmartReport);
}

}  // namespace fw::cli
