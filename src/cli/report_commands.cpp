// list, details and smart: the lines of the selection list and of the two reports.
#include <iostream>

#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "cli/list_json.hpp"
#include "cli/list_table.hpp"
#include "cli/report_json.hpp"
#include "cli/terminal_safe.hpp"
#include "report/device_details.hpp"
#include "report/smart_report.hpp"
#include "select/device_table.hpp"
#include "select/drive_list.hpp"

namespace fw::cli {

namespace {

int HealthExitStatus(HealthState state) {
  switch (state) {
    case HealthState::Healthy: return kExitDone;
    case HealthState::Failing: return kExitHealthFailing;
    case HealthState::Warning: return kExitHealthWarning;
    case HealthState::Unknown: break;
  }
  return kExitFailure;
}

// Both reports only read: the disk is opened for identification, shared and without the lock.
// Closing a read-write handle would have udev probe the disk again, and the probe's lock would
// make the next command find the disk busy. `report` prints the report or its JSON and gives
// the exit status.
template <typename Report>
int RunReport(DeviceIo& io, const Options& options, Report report) {
  int status = kExitDone;
  const std::optional<ChosenDisk> chosen =
      ChooseDisk(io, options.disk, &status, OpenMode::Identification);
  if (!chosen) return status;
  status = report(chosen->handle, DeviceTable[chosen->row], chosen->row);
  io.Close(chosen->handle);
  std::cout << std::flush;
  return status;
}

}  // namespace

int RunList(DeviceIo& io, const Options& options) {
  int status = kExitDone;
  const std::optional<ScanResult> scan = ScanForCli(io, &status);
  if (!scan) return status;
  // A list without the disks that did not open is not the machine's list.
  if (ScanLackedRights(*scan)) {
    SayRunAsRoot("cannot open " + std::to_string(scan->deniedCount) + " disk(s)");
    return kExitFailure;
  }
  if (options.json) {
    std::cout << ListJson(io) << '\n' << std::flush;
    return kExitDone;
  }
  std::vector<ListRow> rows;
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    const TDeviceTable& disk = DeviceTable[row];
    ListRow cells{std::to_string(disk.DeviceNumber), disk.DevicePath};
    for (const std::string& cell : DriveListCells(disk)) cells.push_back(cell);
    for (std::string& cell : cells) cell = TerminalSafe(cell);
    // For scripts: the selection list's six cells as they always were.
    if (options.raw) cells.erase(cells.begin(), cells.begin() + 2);
    rows.push_back(std::move(cells));
  }
  for (const std::string& line : options.raw ? TabSeparated(rows) : ListTable(rows)) {
    std::cout << line << '\n';
  }
  std::cout << std::flush;
  return kExitDone;
}

int RunDetails(DeviceIo& io, const Options& options) {
  return RunReport(io, options, [&](Handle handle, const TDeviceTable& disk, int64_t row) {
    DetailsReading reading;
    if (options.json) {
      reading = ReadDetails(io, handle, disk.IdentifyData);
      std::cout << DetailsJson(disk, reading) << '\n';
    } else {
      reading = ShowDeviceDetails(io, handle, DeviceTable, row);
    }
    return reading.Read() ? kExitDone : kExitFailure;
  });
}

int RunSmart(DeviceIo& io, const Options& options) {
  return RunReport(io, options, [&](Handle handle, const TDeviceTable& disk, int64_t row) {
    SmartReading reading;
    if (options.json) {
      reading = ReadSmart(io, handle, disk.IdentifyData);
      std::cout << SmartJson(disk, reading) << '\n';
    } else {
      reading = ShowSmartReport(io, handle, DeviceTable, row);
    }
    return HealthExitStatus(reading.Health());
  });
}

}  // namespace fw::cli
