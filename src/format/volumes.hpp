#pragma once
// Volume preparation: every volume of the chosen disk is locked (unmounted) and dismounted
// before the run, and the whole disk is claimed; all is released after the run.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_io.hpp"

namespace fw {

inline constexpr size_t kDriveListSlots = 128;
// Drive names from slot 0 upward; unused slots are empty.
using TDriveList = std::array<std::string, kDriveListSlots>;

struct TVolumeDeviceNumber {
  bool Found = false;
  uint32_t DeviceType = 0;
  uint32_t DeviceNumber = 0;
  uint32_t PartitionNumber = 0;
};

// Fills the list with the volumes of disk `diskNumber`, from slot 0 upward: every drive root
// the system reports is asked which disk it lies on (with --debug, one found-partition line for
// each that answers), and only the chosen disk's take a slot, so that the volumes of other
// disks never crowd them out.
void ListLogicalDrives(DeviceIo& io, TDriveList& drives, int64_t diskNumber);

void GetVolumeDeviceNumber(DeviceIo& io, const std::string& volume, TVolumeDeviceNumber& info);

// true when every volume of disk `diskNumber` was opened, locked and dismounted and the disk
// at `devicePath` could be claimed; false at the first failure. Handles kept either way.
bool LockDiskVolumes(DeviceIo& io, int64_t diskNumber, const std::string& devicePath);

// What stood in the way of the last failed LockDiskVolumes, as one format-log line; empty when
// the backend could not tell or the lock did not fail.
std::string LockRefusalLine();

// Closes every kept handle, in the order they were taken. When the kernel then keeps the disk's
// old partitions (something still holds one open), one line says so and what holds them.
void ReleaseDiskVolumes(DeviceIo& io);

// The handles LockDiskVolumes kept (the volumes in drive-list order, then the claim).
const std::vector<Handle>& LockedVolumeHandles();

}  // namespace fw
