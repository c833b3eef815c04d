#pragma once
// The CLI's road to a disk: scan as the window does, resolve DISK (the number in the caption's
// brackets, or the device path as the scan lists it), apply the selection rules, open it in
// the working mode.
#include <cstdint>
#include <optional>
#include <string>

#include "device/device_io.hpp"

namespace fw::cli {

struct ChosenDisk {
  int64_t row = 0;  // DeviceTable row; ChosenIndex is set to it
  Handle handle = kInvalidHandle;
  std::string caption;  // DeviceCaption of the row
};

// Runs the scan; on a fatal scan error prints it and returns exit status 1 in *exitStatus.
// Returns false (and *exitStatus) when the scan failed fatally.
bool ScanForCli(DeviceIo& io, int* exitStatus);

// Runs ScanForCli, then resolves DISK, refuses a drive under 65535 sectors, opens the working
// handle. On failure prints the reason to standard error and sets *exitStatus (2 for no such
// disk or a refused drive, 1 for an open failure).
std::optional<ChosenDisk> ChooseDisk(DeviceIo& io, const std::string& disk, int* exitStatus);

}  // namespace fw::cli
