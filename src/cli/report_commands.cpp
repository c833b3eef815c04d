// list, details and smart: the lines of the selection list and of the two reports.
#include <iostream>

#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "report/device_details.hpp"
#include "report/smart_report.hpp"
#include "select/device_table.hpp"
#include "select/drive_list.hpp"

namespace fw::cli {

namespace {

using Report = void (*)(DeviceIo&, Handle, const TDeviceTableRows&, int64_t);

// Both reports run on the chosen disk's working handle, as the window runs them.
int RunReport(DeviceIo& io, const Options& options, Report report) {
  int status = kExitDone;
  const std::optional<ChosenDisk> chosen = ChooseDisk(io, options.disk, &status);
  if (!chosen) return status;
  report(io, chosen->handle, DeviceTable, chosen->row);
  io.Close(chosen->handle);
  return kExitDone;
}

}  // namespace

int RunList(DeviceIo& io, const Options& options) {
  // Where the JSON listing joins: until it is built, the flag is refused rather than ignored.
  if (options.json) {
    std::cerr << "ferrowipe-cli: list --json is not available in this build\n";
    return kExitFailure;
  }
  int status = kExitDone;
  if (!ScanForCli(io, &status)) return status;
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    const DriveListRow cells = DriveListCells(DeviceTable[row]);
    std::string line = cells[0];
    for (size_t i = 1; i < cells.size(); ++i) {
      line += '\t';
      line += cells[i];
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
