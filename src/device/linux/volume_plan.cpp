#include "device/linux/volume_plan.hpp"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

namespace fw::linuxio {
namespace {

bool Contains(const std::vector<Devno>& devnos, Devno devno) {
  return std::find(devnos.begin(), devnos.end(), devno) != devnos.end();
}

RefusalCause Cause(RefusalKind kind, std::string subject,
                   const std::optional<ProcessUse>& user = std::nullopt) {
  RefusalCause cause;
  cause.kind = kind;
  cause.subject = std::move(subject);
  if (user) {
    cause.pid = user->pid;
    cause.command = user->command;
  }
  return cause;
}

// The name a holder is known by: a device-mapper device by its mapping's name.
std::string HolderName(const SysTree& sys, const std::string& holder) {
  const std::optional<std::string> dmName = sys.ReadLine("/sys/block/" + holder + "/dm/name");
  return dmName && !dmName->empty() ? holder + " (" + *dmName + ")" : holder;
}

// The first of `shared` beyond the disk's own devices: something else reads or writes its bytes.
std::optional<RefusalCause> HeldBy(const SysTree& sys, const DiskDevices& devices,
                                   const DiskDevices& shared) {
  if (shared.names.size() <= devices.names.size()) return std::nullopt;
  return Cause(RefusalKind::Holder, HolderName(sys, shared.names[devices.names.size()]));
}

// The mounts that lie on one of `devices`.
std::vector<MountNode> MountsOn(const SysTree& sys, const std::vector<MountNode>& table,
                                const DiskDevices& devices) {
  std::vector<MountNode> mounts;
  for (const MountNode& mount : table) {
    if (MountOnDisk(sys, mount, devices)) mounts.push_back(mount);
  }
  return mounts;
}

bool OnFileSystemOf(const std::vector<MountNode>& mounts, Devno dev) {
  return std::any_of(mounts.begin(), mounts.end(), [&](const MountNode& m) { return m.dev == dev; });
}

std::optional<RefusalCause> ActiveSwapOn(const SysTree& sys, const DiskDevices& shared,
                                         const std::vector<MountNode>& sharedMounts) {
  for (const std::string& path : ActiveSwaps(sys.Root() + "/proc/swaps")) {
    const std::optional<FileId> id = IdentifyPath(sys, path);
    if (!id) continue;
    const bool onDisk = id->block ? Contains(shared.devnos, *id->block)
                                  : Contains(shared.devnos, id->dev) || OnFileSystemOf(sharedMounts, id->dev);
    if (onDisk) return Cause(RefusalKind::Swap, path);
  }
  return std::nullopt;
}

std::optional<std::string> RunningSystemIn(const SysTree& sys, const DiskDevices& shared,
                                           const std::vector<MountNode>& sharedMounts) {
  for (const MountNode& mount : sharedMounts) {
    if (IsSystemMountPoint(mount.target)) return mount.target;
  }
  // The roots of PID 1 and of this process, wherever they are mounted (a chroot included).
  for (const char* root : {"/proc/1/root", "/proc/self/root", "/"}) {
    const std::optional<FileId> id = IdentifyPath(sys, root);
    if (!id) continue;
    for (const MountNode& mount : sharedMounts) {
      if (mount.dev == id->dev) return mount.target;
    }
    if (Contains(shared.devnos, id->dev)) return std::string("/");
  }
  return std::nullopt;
}

// Whether the mount a path walk to `path` ends on is mount `id`: only then does an umount of
// that path act on it, and not on a mount laid over it or over a folder above it.
bool TopMountIs(const std::string& path, int id) {
  struct statx stx {};
  return ::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &stx) == 0 &&
         (stx.stx_mask & STATX_MNT_ID) != 0 && stx.stx_mnt_id == static_cast<uint64_t>(id);
}

bool HasChildren(const std::vector<MountNode>& table, int id) {
  return std::any_of(table.begin(), table.end(), [&](const MountNode& m) { return m.parent == id; });
}

std::optional<MountNode> FindMount(const std::vector<MountNode>& table, int id) {
  for (const MountNode& mount : table) {
    if (mount.id == id) return mount;
  }
  return std::nullopt;
}

// How many mounts lie between a mount and the root of the tree.
int Depth(const std::vector<MountNode>& table, const MountNode& mount) {
  std::map<int, int> parents;
  for (const MountNode& m : table) parents[m.id] = m.parent;
  int depth = 0;
  for (int id = mount.id; depth < 1000; ++depth) {
    const auto it = parents.find(id);
    if (it == parents.end() || it->second == id) break;
    id = it->second;
  }
  return depth;
}

RefusalCause BusyCause(const MountNode& mount, const SysTree& sys = SysTree()) {
  return Cause(RefusalKind::Busy, mount.target, FindProcessUsing({mount.dev}, {}, sys));
}

}  // namespace

bool BusyThroughout(const std::function<bool()>& busy) {
  constexpr int kTries = 10;
  for (int attempt = 1; attempt < kTries; ++attempt) {
    if (!busy()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return busy();
}

MountUse ProbeMount(const std::string& mountPoint) {
  MountUse use = MountUse::Unknown;
  BusyThroughout([&] {
    ::access(mountPoint.c_str(), F_OK);
    const int result = ::umount2(mountPoint.c_str(), MNT_EXPIRE);
    const int error = errno;
    ::access(mountPoint.c_str(), F_OK);
    use = result != 0 && error == EBUSY    ? MountUse::Busy
          : result != 0 && error == EAGAIN ? MountUse::Idle
                                           : MountUse::Unknown;
    return use == MountUse::Busy;
  });
  return use;
}

DiskDevices ReadDiskDevices(const SysTree& sys, const std::string& disk) {
  DiskDevices devices;
  devices.disk = disk;
  const auto add = [&](const std::string& name, const std::string& folder) {
    const std::optional<std::string> dev = sys.ReadLine(folder + "/dev");
    if (const std::optional<Devno> devno = dev ? ParseDevno(*dev) : std::nullopt) {
      devices.devnos.push_back(*devno);
      devices.names.push_back(name);
    }
  };
  add(disk, "/sys/block/" + disk);
  std::vector<std::string> entries = sys.List("/sys/block/" + disk);
  std::sort(entries.begin(), entries.end(), NaturalLess);
  for (const std::string& entry : entries) {
    const std::string folder = "/sys/block/" + disk + "/" + entry;
    if (sys.Exists(folder + "/partition")) add(entry, folder);
  }
  return devices;
}

DiskDevices SharedBytes(const SysTree& sys, const DiskDevices& devices,
                        const std::vector<MountNode>& table) {
  struct Loop {
    std::string name;
    Devno devno;
    FileId backing;
  };
  std::vector<Loop> loops;
  for (const std::string& name : sys.List("/sys/block")) {
    if (!name.starts_with("loop")) continue;
    const std::optional<Devno> devno = DevnoOfName(sys, name);
    const std::optional<FileId> backing = devno ? LoopBacking(sys, name) : std::nullopt;
    if (backing) loops.push_back(Loop{name, *devno, *backing});
  }
  std::sort(loops.begin(), loops.end(), [](const Loop& a, const Loop& b) { return NaturalLess(a.name, b.name); });

  DiskDevices shared = devices;
  // A whole disk comes with its partitions: they are its bytes too.
  const auto add = [&](const std::string& name, Devno devno) {
    if (Contains(shared.devnos, devno)) return false;
    shared.names.push_back(name);
    shared.devnos.push_back(devno);
    if (!sys.Exists("/sys/block/" + name)) return true;
    const DiskDevices whole = ReadDiskDevices(sys, name);
    for (size_t i = 1; i < whole.names.size(); ++i) {
      if (!Contains(shared.devnos, whole.devnos[i])) {
        shared.names.push_back(whole.names[i]);
        shared.devnos.push_back(whole.devnos[i]);
      }
    }
    return true;
  };
  const auto loopOf = [&](Devno devno) -> const Loop* {
    for (const Loop& loop : loops) {
      if (loop.devno == devno) return &loop;
    }
    return nullptr;
  };
  const auto sameFile = [](const FileId& a, const FileId& b) {
    return !a.block && !b.block && a.dev == b.dev && a.ino == b.ino;
  };
  for (bool grown = true; grown;) {
    grown = false;
    for (size_t i = 0; i < shared.names.size(); ++i) {
      const std::string name = shared.names[i];
      const Devno devno = shared.devnos[i];
      for (const std::string& holder : sys.List("/sys/class/block/" + name + "/holders")) {
        if (const std::optional<Devno> held = DevnoOfName(sys, holder)) grown |= add(holder, *held);
      }
      // Writing a loop device writes what it stands on.
      const Loop* loop = loopOf(devno);
      if (loop && loop->backing.block) {
        if (const std::optional<BlockNode> node = NodeOfDevno(sys, *loop->backing.block)) {
          grown |= add(node->name, *loop->backing.block);
        }
      }
    }
    const std::vector<MountNode> mounts = MountsOn(sys, table, shared);
    for (const Loop& loop : loops) {
      if (Contains(shared.devnos, loop.devno)) continue;
      const FileId& backing = loop.backing;
      const bool stacked =
          backing.block ? Contains(shared.devnos, *backing.block)
                        : Contains(shared.devnos, backing.dev) || OnFileSystemOf(mounts, backing.dev) ||
                              std::any_of(loops.begin(), loops.end(), [&](const Loop& member) {
                                return Contains(shared.devnos, member.devno) &&
                                       sameFile(member.backing, backing);
                              });
      if (stacked) grown |= add(loop.name, loop.devno);
    }
  }
  return shared;
}

std::optional<std::string> RunningSystemOn(const SysTree& sys, const DiskDevices& devices,
                                           const std::vector<MountNode>& table) {
  const DiskDevices shared = SharedBytes(sys, devices, table);
  return RunningSystemIn(sys, shared, MountsOn(sys, table, shared));
}

MountUse ProbeMountNode(const MountNode& mount) {
  return TopMountIs(mount.target, mount.id) ? ProbeMount(mount.target) : MountUse::Unknown;
}

bool MountOnDisk(const SysTree& sys, const MountNode& mount, const DiskDevices& devices) {
  const std::optional<Devno> device = BlockDeviceOfMount(sys, mount);
  return device && Contains(devices.devnos, *device);
}

RefusalCause PlanDisk(const SysTree& sys, const std::string& disk, DiskPlan& plan,
                      const MountProbe& probe) {
  plan = DiskPlan{};
  plan.devices = ReadDiskDevices(sys, disk);
  const std::vector<MountNode> table = ReadMountTable(sys.Root() + "/proc/self/mountinfo");
  std::vector<MountNode> own = MountsOn(sys, table, plan.devices);
  const DiskDevices shared = SharedBytes(sys, plan.devices, table);
  const std::vector<MountNode> sharedMounts = MountsOn(sys, table, shared);
  if (auto point = RunningSystemIn(sys, shared, sharedMounts)) {
    return Cause(RefusalKind::RunningSystem, *point);
  }
  if (auto cause = ActiveSwapOn(sys, shared, sharedMounts)) return *cause;
  if (auto cause = HeldBy(sys, plan.devices, shared)) return *cause;

  // Whatever is mounted on top of or inside a volume and is not the disk's own belongs to
  // someone else: unmounting the volume would take it away, or fail half-way.
  const auto isOwn = [&](int id) {
    return std::any_of(own.begin(), own.end(), [&](const MountNode& m) { return m.id == id; });
  };
  for (const MountNode& mount : table) {
    if (isOwn(mount.parent) && !isOwn(mount.id)) {
      return Cause(RefusalKind::ForeignMount, mount.target + " (" + mount.fsType + ")");
    }
  }

  std::stable_sort(own.begin(), own.end(), [&](const MountNode& a, const MountNode& b) {
    const int da = Depth(table, a);
    const int db = Depth(table, b);
    return da != db ? da > db : a.id > b.id;
  });
  const MountProbe ask = probe                ? probe
                         : sys.Root().empty() ? MountProbe(ProbeMountNode)
                                              : MountProbe([](const MountNode&) { return MountUse::Unknown; });
  for (const MountNode& mount : own) {
    // A mount with the disk's other volumes inside cannot be probed (they make it busy too),
    // nor one that its mount point no longer leads to: then the processes that use it tell.
    const MountUse use = HasChildren(table, mount.id) ? MountUse::Unknown : ask(mount);
    const bool busy = use == MountUse::Unknown ? FindProcessUsing({mount.dev}, {}, sys).has_value()
                                               : use == MountUse::Busy;
    if (busy) return BusyCause(mount, sys);
  }
  plan.mounts = std::move(own);
  return {};
}

bool ExecutePlan(DiskPlan& plan, RefusalCause& cause) {
  for (const MountNode& mount : plan.mounts) {
    const std::vector<MountNode> table = ReadMountTable();
    const std::optional<MountNode> now = FindMount(table, mount.id);
    if (!now) continue;  // gone already, which is what we wanted
    // Right before the unmount: the top mount at that point must still be the volume's own.
    for (const MountNode& child : table) {
      if (child.parent == mount.id) {
        cause = Cause(RefusalKind::ForeignMount, child.target + " (" + child.fsType + ")");
      }
    }
    if (cause.kind == RefusalKind::None &&
        (now->dev != mount.dev || !TopMountIs(mount.target, mount.id))) {
      cause = Cause(RefusalKind::ForeignMount, mount.target + " (" + now->fsType + ")");
    }
    if (cause.kind == RefusalKind::None) {
      bool unmounted = false;
      BusyThroughout([&] {
        unmounted = ::umount2(mount.target.c_str(), 0) == 0;
        return !unmounted && errno == EBUSY;
      });
      if (unmounted) plan.unmounted.push_back(mount);
      if (!unmounted || FindMount(ReadMountTable(), mount.id)) cause = BusyCause(mount);
    }
    if (cause.kind != RefusalKind::None) {
      cause.remounted = RestorePlan(plan);
      return false;
    }
  }
  return true;
}

std::vector<std::string> RestorePlan(DiskPlan& plan) {
  std::vector<std::string> restored;
  for (auto it = plan.unmounted.rbegin(); it != plan.unmounted.rend(); ++it) {
    std::optional<std::string> folder;
    if (it->root != "/") {
      // A mount of one folder of the file system: bound again from where the file system is
      // mounted now.
      for (const MountNode& mounted : ReadMountTable()) {
        const bool whole = mounted.root == "/";
        if (mounted.dev == it->dev && (whole || it->root.starts_with(mounted.root + "/"))) {
          folder = mounted.target + (whole ? it->root : it->root.substr(mounted.root.size()));
          break;
        }
      }
      if (!folder) continue;
    }
    if (MountAgain(*it, folder)) restored.push_back(it->target);
  }
  std::reverse(restored.begin(), restored.end());
  plan.unmounted.clear();
  return restored;
}

RefusalCause WhatHoldsPartitions(const SysTree& sys, const std::string& disk) {
  DiskPlan plan;
  RefusalCause cause = PlanDisk(sys, disk, plan);
  if (cause.kind == RefusalKind::None && !plan.mounts.empty()) {
    cause = Cause(RefusalKind::None, plan.mounts.back().target,
                  FindProcessUsing({plan.mounts.back().dev}, {}, sys));
  }
  // Otherwise a program has a partition open: which one, and who.
  for (size_t i = 1; cause.subject.empty() && i < plan.devices.devnos.size(); ++i) {
    if (const auto user = FindProcessUsing({}, {plan.devices.devnos[i]}, sys)) {
      cause = Cause(RefusalKind::None, "/dev/" + plan.devices.names[i], user);
    }
  }
  if (cause.subject.empty()) cause.subject = "/dev/" + disk;
  cause.kind = RefusalKind::PartitionsKept;
  cause.remounted.clear();
  return cause;
}

}  // namespace fw::linuxio
