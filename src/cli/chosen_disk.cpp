#include "cli/chosen_disk.hpp"

#include <charconv>
#include <iostream>

#include "cli/commands.hpp"
#include "core/messages.hpp"
#include "report/text_format.hpp"
#include "select/device_table.hpp"
#include "select/scan.hpp"

namespace fw::cli {

namespace {

std::optional<int64_t> FindRow(const std::string& disk) {
  uint32_t number = 0;
  const auto [end, error] = std::from_chars(disk.data(), disk.data() + disk.size(), number);
  const bool isNumber = error == std::errc{} && end == disk.data() + disk.size();
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    const TDeviceTable& entry = DeviceTable[row];
    if ((isNumber && entry.DeviceNumber == number) || entry.DevicePath == disk) return row;
  }
  return std::nullopt;
}

}  // namespace

bool ScanForCli(DeviceIo& io, int* exitStatus) {
  const ScanResult scan = ScanPhysicalDrives(io);
  if (scan.fatalText) {
    std::cerr << kErrorCaption << ": " << *scan.fatalText << '\n';
    *exitStatus = kExitFailure;
    return false;
  }
  return true;
}

std::optional<ChosenDisk> ChooseDisk(DeviceIo& io, const std::string& disk, int* exitStatus) {
  if (!ScanForCli(io, exitStatus)) return std::nullopt;
  const std::optional<int64_t> row = FindRow(disk);
  if (!row) {
    std::cerr << "ferrowipe-cli: no such disk: " << disk << '\n';
    *exitStatus = kExitUsage;
    return std::nullopt;
  }
  if (DeviceTable[*row].IdentifyData.LBA < kMinimumSectors) {
    std::cerr << kTooSmallText << '\n';
    *exitStatus = kExitUsage;
    return std::nullopt;
  }
  ChosenIndex = *row;
  ChosenDisk chosen;
  chosen.row = *row;
  chosen.caption = DeviceCaption(DeviceTable, *row);
  chosen.handle = io.Open(DeviceTable[*row].DevicePath, OpenMode::Working);
  if (chosen.handle == kInvalidHandle) {
    std::cerr << kOpenDeviceErrorPrefix << io.ErrorText(io.LastError()) << '\n';
    *exitStatus = kExitFailure;
    return std::nullopt;
  }
  return chosen;
}

}  // namespace fw::cli
