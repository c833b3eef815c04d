#pragma once
// What a block device holds, as the kernel (sysfs), udev (/dev/disk/by-id), libblkid and
// the mount table tell it.
#include <string>
#include <vector>

#include "device/disk_contents.hpp"
#include "device/linux/block_devices.hpp"
#include "device/linux/mount_table.hpp"
#include "device/linux/sys_tree.hpp"

namespace fw::linuxio {

// The names in `folder` (/dev/disk/by-id) that lead to the node `node`, as full paths, sorted.
std::vector<std::string> LinksTo(const std::string& folder, const std::string& node);

// The partitions of the disk from sysfs (the kernel's view, which also holds partitions added
// with BLKPG), their file systems from libblkid, the mounts of each in `table`, and whether the
// running system lives there (RunningSystemOn, the rule that refuses such a disk). Devices are
// probed only on a running system (a fixture tree's names are not this machine's nodes).
DiskContents ReadLinuxDiskContents(const SysTree& sys, const std::string& diskName,
                                   const std::vector<MountNode>& table);

// "/dev/DISK" when `path` leads to a partition's node, else empty.
std::string WholeDiskOfPartitionNode(const SysTree& sys, const std::string& path);

}  // namespace fw::linuxio
