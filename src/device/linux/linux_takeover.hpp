#pragma once
// A format attempt's takeover of one Linux disk: the mount plan (nothing changed), the unmounts
// deepest first at the first volume lock, the O_EXCL claim and the size read on it, then
// release (the partition table read again through the claim) or restore (every unmounted file
// system mounted again as it was).
#include <optional>
#include <string>

#include "device/disk_takeover.hpp"
#include "device/linux/sys_tree.hpp"
#include "device/linux/volume_plan.hpp"

namespace fw::linuxio {

class LinuxTakeover final : public DiskTakeover {
 public:
  // `disk`: the kernel's name of the whole disk ("sdb"), empty when the path named none.
  LinuxTakeover(const SysTree& sys, std::string disk) : m_sys(sys), m_disk(std::move(disk)) {}
  ~LinuxTakeover() override;
  LinuxTakeover(const LinuxTakeover&) = delete;
  LinuxTakeover& operator=(const LinuxTakeover&) = delete;

  RefusalCause Plan() override;
  std::optional<int64_t> ClaimedSize() override;
  RefusalCause Restore() override;
  RefusalCause Release() override;

  const std::string& Disk() const { return m_disk; }
  // The plan once made (the mounts the first lock took off among it), or null.
  const DiskPlan* Planned() const { return m_plan ? &*m_plan : nullptr; }
  bool Claimed() const { return m_claim >= 0; }
  bool Ended() const { return m_ended; }
  bool Refusing() const { return m_cause.kind != RefusalKind::None; }

  // The lock step: the first takes off every mount of the disk, deepest first, or, when
  // anything stands in the way, none (and then the cause is kept for Restore).
  bool UnmountAll();

  // The claim step, once the volumes are down: a descriptor of the disk opened with O_EXCL for
  // the caller's handle (the takeover keeps its own duplicate until the ending), or -1 with
  // errno set and the cause kept.
  int Claim(const std::string& path);

  // What stood in the way of a later step.
  void Refused(RefusalCause cause) { m_cause = std::move(cause); }

 private:
  const SysTree& m_sys;
  std::string m_disk;
  std::optional<DiskPlan> m_plan;
  RefusalCause m_cause;  // the planning or the step that failed
  bool m_unmounted = false;
  int m_claim = -1;
  bool m_ended = false;
};

}  // namespace fw::linuxio
