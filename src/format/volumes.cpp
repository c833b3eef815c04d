#include "format/volumes.hpp"

#include <array>

#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"
#include "format/format_texts.hpp"

namespace fw {

namespace text = format_text;

void ListLogicalDrives(DeviceIo& io, const FormatSession& session, TDriveList& drives,
                       int64_t diskNumber) {
  drives.fill(std::string());
  // Drive names are taken as the system gives them (on Linux a mount point, where a trailing
  // separator would belong to the name). Every drive is asked before any volume is touched.
  size_t slot = 0;
  for (const std::string& drive : io.LogicalDrives()) {
    if (drive.empty()) continue;
    session.AddFormatDebugLine(text::kGettingDeviceData);
    TVolumeDeviceNumber info;
    GetVolumeDeviceNumber(io, drive, info);
    session.AddFormatDebugLine(text::kDone);
    if (!info.Found) continue;
    session.AddFormatDebugLine(std::string(text::kFoundPartition) + drive + "   " +
                    std::string(text::kDeviceTypeLabel) + std::to_string(info.DeviceType) +
                    std::string(text::kDeviceNumberLabel) + std::to_string(info.DeviceNumber) +
                    std::string(text::kPartitionLabel) + std::to_string(info.PartitionNumber));
    // Only the disk number decides; device type and partition number play no part.
    if (static_cast<int64_t>(info.DeviceNumber) != diskNumber) continue;
    if (slot == drives.size()) break;
    drives[slot++] = drive;
  }
}

void GetVolumeDeviceNumber(DeviceIo& io, const std::string& volume, TVolumeDeviceNumber& info) {
  info = TVolumeDeviceNumber{};
  const Handle handle = io.Open(volume, OpenMode::VolumeQuery);
  if (handle == kInvalidHandle) return;
  std::array<uint8_t, 1024> reply{};
  uint32_t returned = 0;
  if (io.DeviceControl(handle, ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, reply.data(),
                       static_cast<uint32_t>(reply.size()), &returned)) {
    const auto number = win::LoadLayout<win::STORAGE_DEVICE_NUMBER>(reply.data(), reply.size());
    info.Found = true;
    info.DeviceType = number.DeviceType;
    info.DeviceNumber = number.DeviceNumber;
    info.PartitionNumber = number.PartitionNumber;
  }
  io.Close(handle);
}

}  // namespace fw
