#pragma once
// The volumes of the chosen disk, found by asking every drive root which disk it lies on (the
// disk lease then locks and dismounts them).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "format/format_session.hpp"

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
void ListLogicalDrives(DeviceIo& io, const FormatSession& session, TDriveList& drives,
                       int64_t diskNumber);

void GetVolumeDeviceNumber(DeviceIo& io, const std::string& volume, TVolumeDeviceNumber& info);

}  // namespace fw
