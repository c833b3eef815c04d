#include "format/disk_lease.hpp"

#include <utility>

#include "device/control_codes.hpp"
#include "format/format_texts.hpp"
#include "format/volumes.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;

std::string_view CausePrefix(RefusalKind kind) {
  switch (kind) {
    case RefusalKind::None: break;
    case RefusalKind::Busy: return text::kCauseBusy;
    case RefusalKind::RunningSystem: return text::kCauseRunningSystem;
    case RefusalKind::Swap: return text::kCauseSwap;
    case RefusalKind::Holder: return text::kCauseHolder;
    case RefusalKind::ForeignMount: return text::kCauseForeignMount;
    case RefusalKind::ClaimedElsewhere: return text::kCauseClaimed;
    case RefusalKind::SizeChanged: return text::kCauseSizeChanged;
    case RefusalKind::PartitionsKept: return text::kPartitionsKept;
    case RefusalKind::RereadFailed: return text::kRereadFailed;
  }
  return {};
}

// What the attempt put back is said at once, in one line.
void LogRemounted(const FormatSession& session, const std::vector<std::string>& remounted) {
  if (remounted.empty()) return;
  std::string line(text::kRemounted);
  for (size_t i = 0; i < remounted.size(); ++i) line += (i == 0 ? "" : ", ") + remounted[i];
  session.AddFormatLogLine(line);
}

}  // namespace

std::string RefusalCauseLine(const RefusalCause& cause) {
  if (cause.kind == RefusalKind::None) return {};
  std::string line = std::string(CausePrefix(cause.kind)) + cause.subject;
  if (cause.pid > 0) {
    line += std::string(text::kCauseHeldBy) + std::to_string(cause.pid) + " (" + cause.command + ")";
  }
  return line;
}

DiskLease::DiskLease(DeviceIo& io, const FormatSession& session, int64_t diskNumber,
                     std::string devicePath, int64_t scannedBytes, int64_t sectorBytes)
    : m_io(io), m_session(session), m_diskNumber(diskNumber), m_devicePath(std::move(devicePath)),
      m_scannedBytes(scannedBytes), m_sectorBytes(sectorBytes > 0 ? sectorBytes : 1) {}

// Reached without GiveBack only when the attempt was cut short (an exception): once the disk
// was claimed the run may have written, so it is released, never mounted again.
DiskLease::~DiskLease() { GiveBack(true); }

RefusalCause DiskLease::Plan(DeviceIo& io, const std::string& devicePath) {
  return io.BeginTakeover(devicePath)->Plan();
}

bool DiskLease::Take() {
  m_takeover = m_io.BeginTakeover(m_devicePath);
  m_session.AddFormatDebugLine(text::kSearchingPartitions);
  TDriveList drives;
  ListLogicalDrives(m_io, m_session, drives, m_diskNumber);
  m_session.AddFormatDebugLine(text::kDone);

  // The whole picture first: what forbids the takeover refuses it before anything is touched.
  if (RefusalCause planned = m_takeover->Plan(); planned.kind != RefusalKind::None) {
    return Refuse(std::move(planned));
  }

  for (const std::string& drive : drives) {
    if (drive.empty()) break;
    m_session.AddFormatDebugLine(std::string(text::kLockVolume) + drive);
    const Handle volume = m_io.Open(drive, OpenMode::VolumeLock);
    if (volume == kInvalidHandle) {
      m_session.AddFormatLogRaw(text::kInvalidHandle);
      return Refuse({});
    }
    m_handles.push_back(volume);
    m_session.AddFormatDebugLine(text::kGotHandle);

    m_session.AddFormatDebugLine(text::kLockingVolume);
    if (!m_io.DeviceControl(volume, ioctl::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr)) {
      return Refuse({});
    }
    m_session.AddFormatDebugLine(text::kDone);

    m_session.AddFormatDebugLine(text::kDismountingVolume);
    if (!m_io.DeviceControl(volume, ioctl::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                            nullptr)) {
      return Refuse({});
    }
    m_session.AddFormatDebugLine(text::kDone);

    m_session.AddFormatDebugLine(text::kExtendingIo);
    // Raw access past the file system's end is only a wish: the run goes ahead without it.
    m_io.DeviceControl(volume, ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0,
                       nullptr);
    m_session.AddFormatDebugLine(text::kDone);
  }

  // With its volumes gone, the disk is claimed for the run: the claim fails while anything we
  // could not see or take (a mount elsewhere, swap, a RAID or LVM member) holds the disk, and
  // while it is held nothing can mount a partition of it.
  const Handle claim = m_io.Open(m_devicePath, OpenMode::Claim);
  if (claim == kInvalidHandle) return Refuse({});
  m_handles.push_back(claim);

  // The run writes what the claimed disk holds, which must be what the user chose from the
  // list: a disk grown or shrunk since would be erased, and verified, over the wrong size.
  if (const std::optional<int64_t> size = ClaimedSize(); size && *size != m_scannedBytes) {
    return Refuse(RefusalCause{RefusalKind::SizeChanged,
                               GroupThousands(m_scannedBytes) + std::string(text::kSizeArrow) +
                                   GroupThousands(*size) + std::string(text::kBytesUnit),
                               0, "", {}});
  }
  return true;
}

std::optional<int64_t> DiskLease::ClaimedSize() {
  // The scan counts whole sectors, and a run writes nothing else: a tail shorter than a
  // sector (an image file of any length) is no change.
  const std::optional<int64_t> size = m_takeover->ClaimedSize();
  if (!size) return std::nullopt;
  return *size - *size % m_sectorBytes;
}

bool DiskLease::SizeHeld() {
  if (!m_takeover || m_given) return true;
  const std::optional<int64_t> size = ClaimedSize();
  return !size || *size == m_scannedBytes;
}

bool DiskLease::Refuse(RefusalCause cause) {
  CloseHandles();
  m_given = true;
  RefusalCause restored = m_takeover->Restore();
  LogRemounted(m_session, restored.remounted);
  if (cause.kind == RefusalKind::None) cause = std::move(restored);
  m_refusalLine = RefusalCauseLine(cause);
  return false;
}

void DiskLease::CloseHandles() {
  for (const Handle handle : m_handles) m_io.Close(handle);
  m_handles.clear();
}

void DiskLease::GiveBack(bool wroteAnything) {
  if (m_given) return;
  m_given = true;
  CloseHandles();
  if (!m_takeover) return;
  const RefusalCause afterwards = wroteAnything ? m_takeover->Release() : m_takeover->Restore();
  LogRemounted(m_session, afterwards.remounted);
  if (afterwards.kind == RefusalKind::PartitionsKept || afterwards.kind == RefusalKind::RereadFailed) {
    m_session.AddFormatLogLine(RefusalCauseLine(afterwards));
  }
}

}  // namespace fw
