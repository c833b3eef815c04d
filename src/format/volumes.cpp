#include "format/volumes.hpp"

#include <array>

#include "core/logs.hpp"
#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"
#include "format/format_texts.hpp"

namespace fw {

namespace {

namespace text = format_text;

// One list for the whole program: a format attempt fills it and empties it again.
std::vector<Handle>& KeptHandles() {
  static std::vector<Handle> handles;
  return handles;
}

void DebugFormatLine(std::string_view message) {
  if (DebugMode) AddFormatLogLine(message);
}

void DebugFormatLine(const std::string& message) { DebugFormatLine(std::string_view(message)); }

// Opens, locks, dismounts and allows extended access on one volume of the disk, keeping its
// handle; false (only this volume's handle closed) when it cannot be taken.
bool PrepareVolume(DeviceIo& io, const std::string& drive) {
  DebugFormatLine(std::string(text::kLockVolume) + drive);
  const Handle volume = io.Open(drive, OpenMode::VolumeLock);
  if (volume == kInvalidHandle) {
    AddFormatLogRaw(text::kInvalidHandle);
    return false;
  }
  DebugFormatLine(text::kGotHandle);

  DebugFormatLine(text::kLockingVolume);
  if (!io.DeviceControl(volume, ioctl::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr)) {
    io.Close(volume);
    return false;
  }
  DebugFormatLine(text::kDone);

  DebugFormatLine(text::kDismountingVolume);
  if (!io.DeviceControl(volume, ioctl::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr)) {
    io.Close(volume);
    return false;
  }
  DebugFormatLine(text::kDone);

  DebugFormatLine(text::kExtendingIo);
  // Raw access past the file system's end is only a wish: the run goes ahead without it.
  io.DeviceControl(volume, ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, nullptr);
  DebugFormatLine(text::kDone);

  KeptHandles().push_back(volume);
  return true;
}

RefusalCause& LastRefusal() {
  static RefusalCause cause;
  return cause;
}

std::string_view CausePrefix(RefusalKind kind) {
  switch (kind) {
    case RefusalKind::None: break;
    case RefusalKind::Busy: return text::kCauseBusy;
    case RefusalKind::RunningSystem: return text::kCauseRunningSystem;
    case RefusalKind::Swap: return text::kCauseSwap;
    case RefusalKind::Holder: return text::kCauseHolder;
    case RefusalKind::ForeignMount: return text::kCauseForeignMount;
    case RefusalKind::ClaimedElsewhere: return text::kCauseClaimed;
    case RefusalKind::PartitionsKept: return text::kPartitionsKept;
  }
  return {};
}

std::string CauseLine(const RefusalCause& cause) {
  if (cause.kind == RefusalKind::None) return {};
  std::string line = std::string(CausePrefix(cause.kind)) + cause.subject;
  if (cause.pid > 0) {
    line += std::string(text::kCauseHeldBy) + std::to_string(cause.pid) + " (" + cause.command + ")";
  }
  return line;
}

// The lock failed: what the backend put back is said at once, and why it failed is kept for
// the line after the lock-failure line.
void LogRemounted(const RefusalCause& cause) {
  if (cause.remounted.empty()) return;
  std::string line(text::kRemounted);
  for (size_t i = 0; i < cause.remounted.size(); ++i) {
    line += (i == 0 ? "" : ", ") + cause.remounted[i];
  }
  AddFormatLogLine(line);
}

bool Refused(DeviceIo& io) {
  LastRefusal() = io.TakeRefusalCause();
  LogRemounted(LastRefusal());
  return false;
}

}  // namespace

void ListLogicalDrives(DeviceIo& io, TDriveList& drives, int64_t diskNumber) {
  drives.fill(std::string());
  // Drive names are taken as the system gives them (on Linux a mount point, where a trailing
  // separator would belong to the name). Every drive is asked before any volume is touched.
  size_t slot = 0;
  for (const std::string& drive : io.LogicalDrives()) {
    if (drive.empty()) continue;
    DebugFormatLine(text::kGettingDeviceData);
    TVolumeDeviceNumber info;
    GetVolumeDeviceNumber(io, drive, info);
    DebugFormatLine(text::kDone);
    if (!info.Found) continue;
    DebugFormatLine(std::string(text::kFoundPartition) + drive + "   " +
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

bool LockDiskVolumes(DeviceIo& io, int64_t diskNumber, const std::string& devicePath) {
  LastRefusal() = RefusalCause{};
  DebugFormatLine(text::kSearchingPartitions);
  TDriveList drives;
  ListLogicalDrives(io, drives, diskNumber);
  DebugFormatLine(text::kDone);

  for (const std::string& drive : drives) {
    if (drive.empty()) break;
    if (!PrepareVolume(io, drive)) return Refused(io);
  }

  // With its volumes gone, the disk is claimed for the run: the claim fails while anything we
  // could not see or take (a mount elsewhere, swap, a RAID or LVM member) holds the disk, and
  // while it is held nothing can mount a partition of it.
  const Handle claim = io.Open(devicePath, OpenMode::Claim);
  if (claim == kInvalidHandle) return Refused(io);
  KeptHandles().push_back(claim);
  return true;
}

std::string LockRefusalLine() { return CauseLine(LastRefusal()); }

void ReleaseDiskVolumes(DeviceIo& io) {
  for (const Handle handle : KeptHandles()) io.Close(handle);
  const bool released = !KeptHandles().empty();
  KeptHandles().clear();
  if (!released) return;
  // A backend may still have to put back what a refused attempt took, or may find that the
  // kernel kept the disk's old partitions.
  const RefusalCause afterwards = io.TakeRefusalCause();
  LogRemounted(afterwards);
  if (afterwards.kind == RefusalKind::PartitionsKept) AddFormatLogLine(CauseLine(afterwards));
}

const std::vector<Handle>& LockedVolumeHandles() { return KeptHandles(); }

}  // namespace fw
