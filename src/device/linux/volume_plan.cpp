#include "device/linux/volume_plan.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace fw::linuxio {
namespace {

Devno DevnoOf(dev_t dev) { return Devno{major(dev), minor(dev)}; }

bool Contains(const std::vector<Devno>& devnos, Devno devno) {
  return std::find(devnos.begin(), devnos.end(), devno) != devnos.end();
}

std::optional<struct stat> StatOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::string FirstLineOf(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// /proc/PID/maps names the device of every mapped file as hex "maj:min" in its fourth field.
bool MapsUse(const std::string& path, const std::vector<Devno>& fileSystems) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, dev;
    if (!(fields >> range >> perms >> offset >> dev)) continue;
    const size_t colon = dev.find(':');
    if (colon == std::string::npos) continue;
    const auto majorNumber = static_cast<uint32_t>(std::strtoul(dev.c_str(), nullptr, 16));
    const auto minorNumber = static_cast<uint32_t>(std::strtoul(dev.c_str() + colon + 1, nullptr, 16));
    if ((majorNumber != 0 || minorNumber != 0) &&
        Contains(fileSystems, Devno{majorNumber, minorNumber})) {
      return true;
    }
  }
  return false;
}

bool ProcessUses(const std::string& base, const std::vector<Devno>& fileSystems,
                 const std::vector<Devno>& nodes) {
  for (const char* link : {"/cwd", "/root"}) {
    if (const auto st = StatOf(base + link); st && Contains(fileSystems, DevnoOf(st->st_dev))) {
      return true;
    }
  }
  const std::string fdDir = base + "/fd";
  if (DIR* dir = ::opendir(fdDir.c_str())) {
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const auto st = StatOf(fdDir + "/" + entry->d_name);
      if (!st) continue;
      if (S_ISBLK(st->st_mode) && Contains(nodes, DevnoOf(st->st_rdev))) return true;
      if (Contains(fileSystems, DevnoOf(st->st_dev))) return true;
    }
  }
  return !fileSystems.empty() && MapsUse(base + "/maps", fileSystems);
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

std::optional<RefusalCause> HeldBy(const SysTree& sys, const DiskDevices& devices) {
  for (const std::string& name : devices.names) {
    const std::string dir = name == devices.disk ? "/sys/block/" + name + "/holders"
                                                 : "/sys/block/" + devices.disk + "/" + name + "/holders";
    const std::vector<std::string> holders = sys.List(dir);
    if (!holders.empty()) return Cause(RefusalKind::Holder, HolderName(sys, holders.front()));
  }
  // Another loop device over the same file writes the same bytes behind our back.
  if (!devices.disk.starts_with("loop")) return std::nullopt;
  const std::optional<std::string> backing =
      sys.ReadLine("/sys/block/" + devices.disk + "/loop/backing_file");
  if (!backing || backing->empty()) return std::nullopt;
  for (const std::string& other : sys.List("/sys/block")) {
    if (other == devices.disk || !other.starts_with("loop")) continue;
    if (sys.ReadLine("/sys/block/" + other + "/loop/backing_file") == backing) {
      return Cause(RefusalKind::Holder, other);
    }
  }
  return std::nullopt;
}

std::optional<RefusalCause> ActiveSwapOn(const std::vector<MountNode>& own,
                                         const DiskDevices& devices) {
  for (const std::string& path : ActiveSwaps()) {
    const auto st = StatOf(path);
    if (!st) continue;
    const bool onDisk = S_ISBLK(st->st_mode) ? Contains(devices.devnos, DevnoOf(st->st_rdev))
                                             : std::any_of(own.begin(), own.end(), [&](const MountNode& m) {
                                                 return m.dev == DevnoOf(st->st_dev);
                                               });
    if (onDisk) return Cause(RefusalKind::Swap, path);
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

RefusalCause BusyCause(const MountNode& mount) {
  return Cause(RefusalKind::Busy, mount.target, FindProcessUsing({mount.dev}, {}));
}

}  // namespace

std::optional<ProcessUse> FindProcessUsing(const std::vector<Devno>& fileSystems,
                                           const std::vector<Devno>& nodes) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return std::nullopt;
  const std::unique_ptr<DIR, int (*)(DIR*)> closer(proc, ::closedir);
  const std::string self = std::to_string(::getpid());
  while (const dirent* entry = ::readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == self) continue;
    const std::string base = "/proc/" + pid;
    if (ProcessUses(base, fileSystems, nodes)) {
      return ProcessUse{std::stoll(pid), FirstLineOf(base + "/comm")};
    }
  }
  return std::nullopt;
}

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

std::optional<std::string> RunningSystemOn(const SysTree& sys, const DiskDevices& devices,
                                           const std::vector<MountNode>& table) {
  // The disk, its partitions and everything stacked on them (device-mapper, md), however deep.
  DiskDevices stack = devices;
  for (size_t i = 0; i < stack.names.size(); ++i) {
    for (const std::string& holder : sys.List("/sys/class/block/" + stack.names[i] + "/holders")) {
      if (std::find(stack.names.begin(), stack.names.end(), holder) != stack.names.end()) continue;
      if (const std::optional<Devno> devno = DevnoOfName(sys, holder)) {
        stack.names.push_back(holder);
        stack.devnos.push_back(*devno);
      }
    }
  }
  std::vector<MountNode> own;
  for (const MountNode& mount : table) {
    if (MountOnDisk(sys, mount, stack)) own.push_back(mount);
  }
  for (const MountNode& mount : own) {
    if (IsSystemMountPoint(mount.target)) return mount.target;
  }
  // The roots of PID 1 and of this process, wherever they are mounted (a chroot included). A
  // fixture tree's devices are not this machine's, so only a running system is asked.
  if (!sys.Root().empty()) return std::nullopt;
  for (const char* root : {"/proc/1/root", "/proc/self/root", "/"}) {
    const auto st = StatOf(root);
    if (!st) continue;
    const Devno dev = DevnoOf(st->st_dev);
    for (const MountNode& mount : own) {
      if (mount.dev == dev) return mount.target;
    }
    if (Contains(stack.devnos, dev)) return std::string("/");
  }
  return std::nullopt;
}

bool MountOnDisk(const SysTree& sys, const MountNode& mount, const DiskDevices& devices) {
  const std::optional<Devno> device = BlockDeviceOfMount(sys, mount);
  return device && Contains(devices.devnos, *device);
}

RefusalCause PlanDisk(const SysTree& sys, const std::string& disk, DiskPlan& plan) {
  plan = DiskPlan{};
  plan.devices = ReadDiskDevices(sys, disk);
  const std::vector<MountNode> table = ReadMountTable();
  std::vector<MountNode> own;
  for (const MountNode& mount : table) {
    if (MountOnDisk(sys, mount, plan.devices)) own.push_back(mount);
  }
  if (auto point = RunningSystemOn(sys, plan.devices, table)) {
    return Cause(RefusalKind::RunningSystem, *point);
  }
  if (auto cause = ActiveSwapOn(own, plan.devices)) return *cause;
  if (auto cause = HeldBy(sys, plan.devices)) return *cause;

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
  for (const MountNode& mount : own) {
    // A mount with the disk's other volumes inside cannot be probed (they make it busy too),
    // nor one that its mount point no longer leads to: then the processes that use it tell.
    const bool busy = HasChildren(table, mount.id) || !TopMountIs(mount.target, mount.id)
                          ? FindProcessUsing({mount.dev}, {}).has_value()
                          : ProbeMount(mount.target) == MountUse::Busy;
    if (busy) return BusyCause(mount);
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
    cause = Cause(RefusalKind::None, plan.mounts.back().target, FindProcessUsing({plan.mounts.back().dev}, {}));
  }
  // Otherwise a program has a partition open: which one, and who.
  for (size_t i = 1; cause.subject.empty() && i < plan.devices.devnos.size(); ++i) {
    if (const auto user = FindProcessUsing({}, {plan.devices.devnos[i]})) {
      cause = Cause(RefusalKind::None, "/dev/" + plan.devices.names[i], user);
    }
  }
  if (cause.subject.empty()) cause.subject = "/dev/" + disk;
  cause.kind = RefusalKind::PartitionsKept;
  cause.remounted.clear();
  return cause;
}

}  // namespace fw::linuxio
