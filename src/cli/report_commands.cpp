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

int UsageError(const char* usage) {
  std::cerr << "usage: ferrowipe-cli [--debug] " << usage << '\n';
  return kExitUsage;
}

using Report = void (*)(DeviceIo&, Handle, const TDeviceTableRows&, int64_t);

// Both reports run on the chosen disk's working handle, as the window runs them.
int RunReport(DeviceIo& io, const Args& args, const char* usage, Report report) {
  if (args.size() != 1 || args[0].starts_with("-")) return UsageError(usage);
  int status = kExitDone;
  const std::optional<ChosenDisk> chosen = ChooseDisk(io, args[0], &status);
  if (!chosen) return status;
  report(io, chosen->handle, DeviceTable, chosen->row);
  io.Close(chosen->handle);
  return kExitDone;
}

}  // namespace

int RunList(DeviceIo& io, const Args& args) {
  if (!args.empty()) return UsageError("list");
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

int RunDetails(DeviceIo& io, const Args& args) {
  return RunReport(io, args, "details DISK", ShowDeviceDetails);
}

int RunSmart(DeviceIo& io, const Args& args) {
  return RunReport(io, args, "smart DISK", ShowSmartReport);
}

}  // namespace fw::cli
