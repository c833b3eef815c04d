#pragma once
// One format attempt's hold on a disk, as a backend carries it out: the plan (the whole
// picture, nothing changed), the takeover itself (the volume lock, dismount and claim calls of
// the storage contract, which the backend ties to this object), then one ending: release after
// a run, or restore, which puts back exactly what the attempt took. An object destroyed without
// an ending restores.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fw {

// Why the backend would not give up a disk, or what it could not set right afterwards. The
// error code says that a lock, dismount or claim failed; this says what stood in the way, in
// terms a user can act on.
enum class RefusalKind {
  None,
  Busy,              // subject: a mount point in use; pid/command: who uses it, if found
  RunningSystem,     // subject: the mount point of the running system on the disk
  Swap,              // subject: the active swap area
  Holder,            // subject: the device stacked on the disk (dm, md, bcache, another loop)
  ForeignMount,      // subject: a mount of something else stacked on or inside a volume
  ClaimedElsewhere,  // subject: the disk; pid/command: a process that has it open, if found
  SizeChanged,       // subject: the size the scan found and the size of the claimed disk
  PartitionsKept,    // after release: the kernel kept the old partitions; subject: what holds them
  RereadFailed,      // after release: the re-read failed otherwise; subject: the disk and why
};

struct RefusalCause {
  RefusalKind kind = RefusalKind::None;
  std::string subject;
  int64_t pid = 0;  // 0: no process found
  std::string command;
  // Mount points that the failed attempt had unmounted and mounted again, as they were.
  std::vector<std::string> remounted;
};

class DiskTakeover {
 public:
  virtual ~DiskTakeover() = default;

  // What forbids taking the disk (kind None: nothing); nothing is changed.
  virtual RefusalCause Plan() { return {}; }

  // The disk's size in bytes, read on the claimed handle after the claim; nothing when the
  // backend cannot tell or the disk is not claimed.
  virtual std::optional<int64_t> ClaimedSize() { return std::nullopt; }

  // The attempt goes no further, with every handle of it closed: what the attempt unmounted is
  // mounted again. The cause of the step that failed, if one did, with the mount points that
  // came back.
  virtual RefusalCause Restore() { return {}; }

  // After a run, with every handle of the attempt closed but the claim: the partition table is
  // read again through the claim, then the claim let go. Kind None, or what kept the kernel
  // from reading it.
  virtual RefusalCause Release() { return {}; }
};

}  // namespace fw
