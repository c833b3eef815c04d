#pragma once
// Taking a disk from the running system without side effects: first the whole picture (its
// mounts and what is stacked on them, swap, holders, the running system, busy volumes), then,
// only when nothing stands in the way, the unmounts, deepest first, each confirmed right
// before it is made; a failure mounts again what this attempt unmounted.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "device/disk_contents.hpp"
#include "device/linux/block_devices.hpp"
#include "device/linux/mount_table.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

struct ProcessUse {
  int64_t pid = 0;
  std::string command;
};

// The first other process whose working folder, root, open files or mapped files lie on one
// of `fileSystems` (st_dev), or that has one of the block devices `nodes` open, as fuser
// finds them in /proc.
std::optional<ProcessUse> FindProcessUsing(const std::vector<Devno>& fileSystems,
                                           const std::vector<Devno>& nodes);

// Any path walk through a mount holds it for a moment, and a probe that opens a partition (udev
// after a change) holds that: another program's look makes umount2 or BLKRRPART answer EBUSY
// although nothing keeps the volume busy. With one other process stat'ing an idle volume's
// mount point in a loop, one probe in seven was answered so. Only an EBUSY that lasts counts:
// `busy` is called until it answers false, at most ten times 10 ms apart; its last answer.
bool BusyThroughout(const std::function<bool()>& busy);

enum class MountUse { Idle, Busy, Unknown };

// Whether the top mount at `mountPoint` is in use, without unmounting it: umount2 with
// MNT_EXPIRE answers EBUSY for a mount with anything on or in it (open files, working
// folders, mounts inside) and EAGAIN for an idle one, which it only marks as expired; the
// access before and after clears any such mark, so that no second probe can ever unmount it.
MountUse ProbeMount(const std::string& mountPoint);

// The chosen disk and its partitions.
struct DiskDevices {
  std::string disk;
  std::vector<Devno> devnos;        // the disk first
  std::vector<std::string> names;   // in the same order
};

DiskDevices ReadDiskDevices(const SysTree& sys, const std::string& disk);

// Whether a mount lies on one of `devices` (BlockDeviceOfMount).
bool MountOnDisk(const SysTree& sys, const MountNode& mount, const DiskDevices& devices);

// The mount point that makes the disk the one the running system lives on, or nothing: a
// system mount point (IsSystemMountPoint) mounted from the disk, a partition or anything stacked
// on them (sysfs holders), or, on a running system, the file system of PID 1's or this
// process's root. The one rule for refusing a disk and for marking it in the lists.
std::optional<std::string> RunningSystemOn(const SysTree& sys, const DiskDevices& devices,
                                           const std::vector<MountNode>& table);

struct DiskPlan {
  DiskDevices devices;
  std::vector<MountNode> mounts;     // the disk's mounts, deepest first
  std::vector<MountNode> unmounted;  // what ExecutePlan took off, in that order
  bool claimed = false;              // the disk was claimed afterwards: the attempt went ahead
};

// Gathers the picture of `disk` into `plan`; the cause that forbids touching it, or kind None.
RefusalCause PlanDisk(const SysTree& sys, const std::string& disk, DiskPlan& plan);

// Unmounts the planned mounts, deepest first, never lazily, never by force. On a failure
// (something changed since the plan) it mounts again what it unmounted, fills `cause` (the
// mount points mounted again among it) and answers false.
bool ExecutePlan(DiskPlan& plan, RefusalCause& cause);

// Mounts again, shallowest first, what the plan unmounted; the mount points that came back.
std::vector<std::string> RestorePlan(DiskPlan& plan);

// What keeps the kernel from reading the disk's partition table again: a mount, swap, a
// holder or a process with a partition open.
RefusalCause WhatHoldsPartitions(const SysTree& sys, const std::string& disk);

}  // namespace fw::linuxio
