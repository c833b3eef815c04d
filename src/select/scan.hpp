#pragma once
// The scan that fills the device table: drive numbers 0..255 up to the last drive, each opened for identification,
// identified, entered when identified, closed; at most 15 rows.
#include <functional>
#include <optional>
#include <string>

#include "device/device_io.hpp"

namespace fw {

struct ScanResult {
  // "找到磁碟:        " + DeviceCount: the selection window's status text.
  std::string statusText;
  // Set when a drive's device-property query failed: the program must end with this message
  // (caption "錯誤   "); the scan went no further.
  std::optional<std::string> fatalText;
  // Drives that could not be opened for lack of rights: the list is then not the machine's.
  int64_t deniedCount = 0;
  // The first drive number the scan did not look at: past the last drive, or where the table
  // filled up.
  int nextDrive = 0;
};

// Drives did not open for lack of rights, and running as root would open them: the list is not
// the machine's. (Root itself refused, by a device cgroup say, has no such way out.)
bool ScanLackedRights(const ScanResult& scan);

// Fills DeviceTable rows 1..DeviceCount and DeviceCount; writes the scan's debug lines.
ScanResult ScanPhysicalDrives(DeviceIo& io);

// The table ends at 15 rows, a 24-bay server does not: the CLI names its disk by path. Looks at
// the drives the scan left out, from scan.nextDrive on, and enters the first one `matches`
// (given its number and path) that identifies into the table's spare row 16, as the scan
// would have. That row, or nothing.
std::optional<int64_t> ScanDriveBeyondTable(
    DeviceIo& io, const ScanResult& scan,
    const std::function<bool(int number, const std::string& path)>& matches);

// A drive with fewer sectors than this cannot be chosen.
inline constexpr int64_t kMinimumSectors = 65535;

}  // namespace fw
