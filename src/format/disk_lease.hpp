#pragma once
// One format attempt's lease on the chosen disk: taken whole (every volume locked, dismounted
// and allowed extended access, then the disk claimed and its size read again on the claim),
// written through, and given back whole, whatever ends the attempt. Given back means released
// after a run that wrote (the partition table read again, what still holds it said), or
// restored when nothing was written (what was unmounted is mounted again as it was). A lease
// destroyed before it was given back restores.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "format/format_session.hpp"

namespace fw {

class DiskLease {
 public:
  // `scannedBytes`: the size the scan found in whole sectors of `sectorBytes`, which the claimed
  // disk must still have. The lease's lines go to the session's format log.
  DiskLease(DeviceIo& io, const FormatSession& session, int64_t diskNumber,
            std::string devicePath, int64_t scannedBytes, int64_t sectorBytes = 1);
  ~DiskLease();
  DiskLease(const DiskLease&) = delete;
  DiskLease& operator=(const DiskLease&) = delete;

  // What would refuse the lease of `devicePath` now, with nothing changed: lets a run over many
  // disks refuse them all before it writes to any.
  static RefusalCause Plan(DeviceIo& io, const std::string& devicePath);

  // Plans, then locks, dismounts and claims; true when the disk is the run's. A refused lease
  // is restored at once (what came back said in one line) and RefusalLine() says why.
  bool Take();

  // What stood in the way of Take, as one format-log line; empty when it could not be told.
  const std::string& RefusalLine() const { return m_refusalLine; }

  // True while the claimed disk still has the size it was taken with.
  bool SizeHeld();

  // The run itself gave the disk a new size (its hidden area opened): from now on the disk
  // must keep that one.
  void SizeChangedByRun(int64_t bytes) { m_scannedBytes = bytes - bytes % m_sectorBytes; }

  // Ends the lease: every kept handle closed, in the order they were taken; then released when
  // the run wrote anything, restored otherwise. A release that leaves the kernel with the old
  // partitions, or that could not read the table again, says so in one line. Once only.
  void GiveBack(bool wroteAnything);

  // The handles the lease keeps (the volumes in drive-list order, then the claim).
  const std::vector<Handle>& Handles() const { return m_handles; }

 private:
  bool Refuse(RefusalCause cause);
  // The claimed disk's size in whole sectors, or nothing when the backend cannot tell.
  std::optional<int64_t> ClaimedSize();
  void CloseHandles();

  DeviceIo& m_io;
  const FormatSession& m_session;
  int64_t m_diskNumber;
  std::string m_devicePath;
  int64_t m_scannedBytes;
  int64_t m_sectorBytes;
  std::unique_ptr<DiskTakeover> m_takeover;
  std::vector<Handle> m_handles;
  std::string m_refusalLine;
  bool m_given = false;
};

// One format-log line for a cause; empty for kind None.
std::string RefusalCauseLine(const RefusalCause& cause);

}  // namespace fw
