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
#include "device/linux/process_search.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

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

// The busy check for one of the disk's mounts: ProbeMount on it when its mount point still leads
// to it (statx's mount ID), Unknown otherwise.
MountUse ProbeMountNode(const MountNode& mount);

// How the plan asks whether a mount is busy. The kernel's answer is a system call on the running
// system; a fixture tree's mounts are not this machine's, and its cases answer for it.
using MountProbe = std::function<MountUse(const MountNode&)>;

// The chosen disk and its partitions.
struct DiskDevices {
  std::string disk;
  std::vector<Devno> devnos;        // the disk first
  std::vector<std::string> names;   // in the same order
};

DiskDevices ReadDiskDevices(const SysTree& sys, const std::string& disk);

// Whether a mount lies on one of `devices` (BlockDeviceOfMount).
bool MountOnDisk(const SysTree& sys, const MountNode& mount, const DiskDevices& devices);

// Everything whose bytes are the disk's, found by device numbers and backing inodes, never by
// path strings: the disk, its partitions, what sysfs stacks on them (device-mapper, md), every
// loop device over one of their nodes, over a file on one of their file systems or over the same
// file (st_dev, st_ino) as one of them, and what a loop device among them stands on (a block
// device, with its partitions), however deep. `devices` first, in their order.
DiskDevices SharedBytes(const SysTree& sys, const DiskDevices& devices,
                        const std::vector<MountNode>& table);

// The mount point that makes the disk the one the running system lives on, or nothing: a
// system mount point (IsSystemMountPoint) mounted from anything that shares the disk's bytes
// (SharedBytes), or the file system of PID 1's root, this process's root or "/" lying there.
// The one rule for refusing a disk and for marking it in the lists.
std::optional<std::string> RunningSystemOn(const SysTree& sys, const DiskDevices& devices,
                                           const std::vector<MountNode>& table);

struct DiskPlan {
  DiskDevices devices;
  std::vector<MountNode> mounts;     // the disk's mounts, deepest first
  std::vector<MountNode> unmounted;  // what ExecutePlan took off, in that order
  bool claimed = false;              // the disk was claimed afterwards: the attempt went ahead
};

// Gathers the picture of `disk` into `plan` from what `sys` holds (sysfs, /proc/self/mountinfo,
// /proc/swaps, the processes in /proc; a fixture tree's in the tests), changing nothing; the
// cause that forbids touching it, or kind None. Without `probe`, a running system's mounts are
// probed with ProbeMountNode and a fixture's are judged by the processes that use them.
RefusalCause PlanDisk(const SysTree& sys, const std::string& disk, DiskPlan& plan,
                      const MountProbe& probe = {});

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
