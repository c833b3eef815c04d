#pragma once
// The CLI's road to a disk: scan as the window does, resolve DISK (the number in the caption's
// brackets, the device path as the scan lists it, or any path that resolves to it), apply the
// selection rules, open it in the working mode.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/device_types.hpp"
#include "device/device_io.hpp"
#include "select/scan.hpp"

namespace fw::cli {

struct ChosenDisk {
  int64_t row = 0;  // DeviceTable row; ChosenIndex is set to it
  Handle handle = kInvalidHandle;
  std::string caption;  // DeviceCaption of the row
};

// Runs the scan; on a fatal scan error prints it, sets *exitStatus to 1 and returns nothing.
std::optional<ScanResult> ScanForCli(DeviceIo& io, int* exitStatus);

// Names what failed for lack of rights on standard error, with the way out: run as root.
void SayRunAsRoot(const std::string& what);

// Resolves DISK in a scan already made: refuses a partition (naming its disk) and a drive under
// 65535 sectors. On failure prints the reason to standard error and sets *exitStatus (2 for
// no such disk or a refused drive, 1 when the disk may be one that did not open for lack of
// rights). The row may be the table's spare row, which the next resolution beyond the table
// takes again: a caller keeping several copies it at once.
std::optional<int64_t> ResolveDisk(DeviceIo& io, const ScanResult& scan, const std::string& disk,
                                   int* exitStatus);

// Says on standard error why `path` did not open in `mode`, just after the failed Open.
void SayOpenFailure(DeviceIo& io, const std::string& path, OpenMode mode);

// Runs ScanForCli, then resolves DISK, refuses a partition (naming its disk) and a drive under
// 65535 sectors, opens the disk in `mode` (the working handle unless told). On failure prints
// the reason to standard error and sets *exitStatus (2 for no such disk or a refused drive, 1
// for an open failure, lack of rights included). `refuse`, when given, sees the row before the
// disk is opened: true refuses it as bad usage (it has said why).
std::optional<ChosenDisk> ChooseDisk(DeviceIo& io, const std::string& disk, int* exitStatus,
                                     OpenMode mode = OpenMode::Working,
                                     const std::function<bool(const TDeviceTable&)>& refuse = {});

}  // namespace fw::cli
