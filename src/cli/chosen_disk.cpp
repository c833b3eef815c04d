#include "cli/chosen_disk.hpp"

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <iostream>

#include "cli/commands.hpp"
#include "cli/terminal_safe.hpp"
#include "core/messages.hpp"
#include "report/text_format.hpp"
#include "select/device_table.hpp"
#include "select/scan.hpp"

namespace fw::cli {

namespace {

// The path with every symbolic link resolved, or empty when it does not exist.
std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string real = resolved;
  std::free(resolved);
  return real;
}

std::optional<int64_t> RowOfPath(const std::string& path) {
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    if (DeviceTable[row].DevicePath == path) return row;
  }
  // Any name of a listed disk will do: /dev/disk/by-id/..., by-path, a link of one's own.
  const std::string real = RealPath(path);
  if (real.empty()) return std::nullopt;
  for (int64_t row = 1; row <= DeviceCount; ++row) {
    if (RealPath(DeviceTable[row].DevicePath) == real) return row;
  }
  return std::nullopt;
}

std::optional<uint32_t> DriveNumber(const std::string& disk) {
  uint32_t number = 0;
  const auto [end, error] = std::from_chars(disk.data(), disk.data() + disk.size(), number);
  if (error != std::errc{} || end != disk.data() + disk.size()) return std::nullopt;
  return number;
}

std::optional<int64_t> FindRow(DeviceIo& io, const ScanResult& scan, const std::string& disk) {
  const std::optional<uint32_t> number = DriveNumber(disk);
  if (number) {
    for (int64_t row = 1; row <= DeviceCount; ++row) {
      if (DeviceTable[row].DeviceNumber == *number) return row;
    }
  }
  if (const std::optional<int64_t> row = RowOfPath(disk)) return row;
  // The window shows 15 disks; the CLI reaches the rest of a larger machine by number or name.
  if (DeviceCount < kMaxDeviceCount) return std::nullopt;
  const std::string real = RealPath(disk);
  return ScanDriveBeyondTable(io, scan, [&](int n, const std::string& path) {
    return (number && static_cast<uint32_t>(n) == *number) || path == disk ||
           (!real.empty() && RealPath(path) == real);
  });
}

}  // namespace

void SayRunAsRoot(const std::string& what) {
  // `what` may name a disk, whose path is any file name in a simulated disk set.
  std::cerr << "ferrowipe-cli: " << TerminalSafe(what)
            << ": permission denied; run as root (for example with sudo)\n";
}

void SayOpenFailure(DeviceIo& io, const std::string& path, OpenMode mode) {
  if (io.LastError() == win::ERROR_ACCESS_DENIED && ::geteuid() != 0) {
    SayRunAsRoot("cannot open " + path + (mode == OpenMode::Working ? " for writing" : ""));
  } else {
    std::cerr << kOpenDeviceErrorPrefix << io.ErrorText(io.LastError()) << '\n';
  }
}

std::optional<ScanResult> ScanForCli(DeviceIo& io, int* exitStatus) {
  ScanResult scan = ScanPhysicalDrives(io);
  if (scan.fatalText) {
    std::cerr << kErrorCaption << ": " << TerminalSafe(*scan.fatalText) << '\n';
    *exitStatus = kExitFailure;
    return std::nullopt;
  }
  return scan;
}

std::optional<int64_t> ResolveDisk(DeviceIo& io, const ScanResult& scan, const std::string& disk,
                                   int* exitStatus) {
  const std::optional<int64_t> row = FindRow(io, scan, disk);
  if (!row) {
    const std::string whole = io.WholeDiskOfPartition(disk);
    if (!whole.empty()) {
      std::cerr << "ferrowipe-cli: " << TerminalSafe(disk) << " is a partition of " << TerminalSafe(whole);
      if (const std::optional<int64_t> wholeRow = RowOfPath(whole)) {
        std::cerr << " (drive " << DeviceTable[*wholeRow].DeviceNumber << ")";
      }
      std::cerr << "; give the whole disk\n";
      *exitStatus = kExitUsage;
    } else if (ScanLackedRights(scan)) {
      // The disk may well be one of those that did not open.
      SayRunAsRoot("cannot open " + std::to_string(scan.deniedCount) + " disk(s)");
      *exitStatus = kExitFailure;
    } else {
      std::cerr << "ferrowipe-cli: no such disk: " << TerminalSafe(disk) << '\n';
      *exitStatus = kExitUsage;
    }
    return std::nullopt;
  }
  if (DeviceTable[*row].IdentifyData.LBA < kMinimumSectors) {
    std::cerr << kTooSmallText << '\n';
    *exitStatus = kExitUsage;
    return std::nullopt;
  }
  return row;
}

std::optional<ChosenDisk> ChooseDisk(DeviceIo& io, const std::string& disk, int* exitStatus,
                                     OpenMode mode,
                                     const std::function<bool(const TDeviceTable&)>& refuse) {
  const std::optional<ScanResult> scan = ScanForCli(io, exitStatus);
  if (!scan) return std::nullopt;
  const std::optional<int64_t> row = ResolveDisk(io, *scan, disk, exitStatus);
  if (!row) return std::nullopt;
  if (refuse && refuse(DeviceTable[*row])) {
    *exitStatus = kExitUsage;
    return std::nullopt;
  }
  ChosenIndex = *row;
  ChosenDisk chosen;
  chosen.row = *row;
  chosen.caption = DeviceCaption(DeviceTable, *row);
  chosen.handle = io.Open(DeviceTable[*row].DevicePath, mode);
  if (chosen.handle == kInvalidHandle) {
    SayOpenFailure(io, DeviceTable[*row].DevicePath, mode);
    *exitStatus = kExitFailure;
    return std::nullopt;
  }
  return chosen;
}

}  // namespace fw::cli
