#pragma once
// Volume preparation: every volume of the chosen disk is locked (unmounted) and dismounted
// before the run, and the whole disk is claimed; all is released after the run.
#include <cstdint>
#include <string>

#include "device/device_io.hpp"

namespace fw {

struct TVolumeDeviceNumber {
  bool Found = false;
  uint32_t DeviceType = 0;
  uint32_t DeviceNumber = 0;
  uint32_t PartitionNumber = 0;
};

void GetVolumeDeviceNumber(DeviceIo& io, const std::string& volume, TVolumeDeviceNumber& info);

// true when every volume of disk `diskNumber` was opened, locked and dismounted and the disk
// at `devicePath` could be claimed; false at the first failure. Handles kept either way.
bool LockDiskVolumes(DeviceIo& io, int64_t diskNumber, const std::string& devicePath);

// Closes every kept handle, in the order they were taken.
void ReleaseDiskVolumes(DeviceIo& io);

}  // namespace fw
